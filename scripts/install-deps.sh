#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run. Quick when
# everything is there: apt-get runs only for what is missing.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  # Qt 6 widgets and the browser engine
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  libgl-dev libxkbcommon-dev libvulkan-dev
  # HTTP, images, desktop proxy settings
  libcurl4-openssl-dev libpng-dev libjpeg-dev zlib1g-dev
  libglib2.0-dev libglib2.0-bin gsettings-desktop-schemas
  # offline locations: .mmdb reader, the country database, country names in Chinese
  libmaxminddb-dev libgeoip-dev geoip-database iso-codes
  # tests, benchmarks, screenshots
  googletest libgtest-dev libgmock-dev libbenchmark-dev tinyproxy
  xvfb xauth imagemagick fonts-noto-cjk
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run this as root, or: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

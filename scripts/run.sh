#!/usr/bin/env bash
# Installs what is missing, builds (Release) and starts the program.
#   scripts/run.sh            against the configured web (hosts.ini)
#   scripts/run.sh --sandbox  against the simulated web on loopback
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sandbox=0
for a in "$@"; do
  case "$a" in
    --sandbox) sandbox=1 ;;
    *) echo "usage: scripts/run.sh [--sandbox]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_TESTS=OFF -DVORSA_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target vorsa vorsa-sandbox

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to show the window on (set DISPLAY, or try: xvfb-run -a scripts/run.sh)" >&2
  exit 1
fi

if [ $sandbox -eq 1 ]; then
  hosts=$(mktemp /tmp/vorsa-hosts.XXXXXX.ini)
  # The demo's proxies live only as long as the sandbox, so switching to one must not leave
  # the desktop pointing at a dead proxy: the demo keeps an Internet Settings file of its own.
  inet=$(mktemp /tmp/vorsa-inet.XXXXXX.ini)
  # A free port, so a sandbox left running elsewhere does not get in the way.
  build/release/sandbox/vorsa-sandbox --port 0 --hosts-out "$hosts" &
  sandbox_pid=$!
  trap 'kill $sandbox_pid 2>/dev/null; rm -f "$hosts" "$inet"' EXIT
  for _ in $(seq 50); do [ -s "$hosts" ] && break; sleep 0.1; done
  if [ ! -s "$hosts" ]; then echo "run.sh: the sandbox did not start" >&2; exit 1; fi
  VORSA_HOSTS="$hosts" VORSA_INTERNET_SETTINGS="$inet" build/release/app/vorsa
else
  exec build/release/app/vorsa
fi

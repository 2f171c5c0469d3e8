#!/usr/bin/env bash
# Installs what is missing, builds (Release) and starts the program.
#   scripts/run.sh            the configured web when hosts are configured ($VORSA_HOSTS,
#                             hosts.ini beside the program or in ~/.config/VORSASOFT),
#                             else the simulated web on loopback
#   scripts/run.sh --live     the configured web (built-in defaults when none is configured)
#   scripts/run.sh --sandbox  the simulated web on loopback
#   --dry-run                 only print which of the two it would start, and why
# VORSA_BUILD_DIR chooses the build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${VORSA_BUILD_DIR:-build/release}

mode=auto
dry=0
for a in "$@"; do
  case "$a" in
    --sandbox) mode=sandbox ;;
    --live) mode=live ;;
    --dry-run) dry=1 ;;
    *) echo "usage: scripts/run.sh [--sandbox | --live] [--dry-run]" >&2; exit 2 ;;
  esac
done

# The same places the program looks for hosts.ini, in its order.
configured=""
if [ -n "${VORSA_HOSTS:-}" ]; then
  configured="\$VORSA_HOSTS ($VORSA_HOSTS)"
elif [ -f "$build/app/hosts.ini" ]; then
  configured="$build/app/hosts.ini"
else
  cfg=${XDG_CONFIG_HOME:-}
  case "$cfg" in /*) ;; *) cfg="${HOME:-}/.config" ;; esac
  if [ -f "$cfg/VORSASOFT/hosts.ini" ]; then configured="$cfg/VORSASOFT/hosts.ini"; fi
fi

case "$mode" in
  sandbox) decision=sandbox; why="--sandbox" ;;
  live) decision=live; why="--live" ;;
  *)
    if [ -n "$configured" ]; then
      decision=live; why="hosts configured in $configured"
    else
      decision=sandbox; why="no hosts configured"
    fi ;;
esac

if [ $dry -eq 1 ]; then
  echo "$decision ($why)"
  exit 0
fi

if [ "$mode" = auto ] && [ "$decision" = sandbox ]; then
  echo "run.sh: no hosts configured (\$VORSA_HOSTS, hosts.ini beside the program or in ~/.config/VORSASOFT), so the program runs against the simulated web on loopback; scripts/run.sh --live uses the real web"
fi

bash scripts/install-deps.sh
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_TESTS=OFF -DVORSA_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target vorsa vorsa-sandbox

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to show the window on (set DISPLAY, or try: xvfb-run -a scripts/run.sh)" >&2
  exit 1
fi

if [ "$decision" = sandbox ]; then
  hosts=$(mktemp /tmp/vorsa-hosts.XXXXXX.ini)
  # The demo's proxies live only as long as the sandbox, so switching to one must not leave
  # the desktop pointing at a dead proxy: the demo keeps an Internet Settings file of its own.
  inet=$(mktemp /tmp/vorsa-inet.XXXXXX.ini)
  # A free port, so a sandbox left running elsewhere does not get in the way.
  "$build"/sandbox/vorsa-sandbox --port 0 --hosts-out "$hosts" &
  sandbox_pid=$!
  trap 'kill $sandbox_pid 2>/dev/null; rm -f "$hosts" "$inet"' EXIT
  for _ in $(seq 50); do [ -s "$hosts" ] && break; sleep 0.1; done
  if [ ! -s "$hosts" ]; then echo "run.sh: the sandbox did not start" >&2; exit 1; fi
  VORSA_HOSTS="$hosts" VORSA_INTERNET_SETTINGS="$inet" "$build"/app/vorsa
else
  exec "$build"/app/vorsa
fi

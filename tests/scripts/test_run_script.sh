#!/usr/bin/env bash
# run.sh's choice between the configured web and the sandbox, through --dry-run (which builds
# and starts nothing). Every place a hosts.ini can come from is faked in a temporary folder.
set -uo pipefail
script="$1/scripts/run.sh"
tmp=$(mktemp -d /tmp/vorsa-run-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/build/app" "$tmp/config/VORSASOFT" "$tmp/home"
fail=0

# expect <first word> <env...> -- <args...>
expect() {
  local want="$1"; shift
  local envs=() args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do envs+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  args=("$@")
  local out rc
  out=$(env -u VORSA_HOSTS HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" \
        VORSA_BUILD_DIR="$tmp/build" "${envs[@]}" bash "$script" --dry-run "${args[@]}" 2>&1)
  rc=$?
  if [ $rc -ne 0 ] || [ "${out%% *}" != "$want" ]; then
    echo "FAIL: env [${envs[*]}] args [${args[*]}]: want $want, got (rc $rc) $out"
    fail=1
  else
    echo "ok: [${envs[*]}] [${args[*]}] -> $out"
  fi
}

expect sandbox --
expect live -- --live
expect sandbox VORSA_HOSTS= --
expect live VORSA_HOSTS="$tmp/h.ini" --
expect sandbox VORSA_HOSTS="$tmp/h.ini" -- --sandbox

touch "$tmp/build/app/hosts.ini"
expect live --
expect sandbox -- --sandbox
rm "$tmp/build/app/hosts.ini"

touch "$tmp/config/VORSASOFT/hosts.ini"
expect live --
rm "$tmp/config/VORSASOFT/hosts.ini"

# Without XDG_CONFIG_HOME the config folder is ~/.config.
mkdir -p "$tmp/home/.config/VORSASOFT" && touch "$tmp/home/.config/VORSASOFT/hosts.ini"
expect live XDG_CONFIG_HOME= --
expect sandbox --
rm "$tmp/home/.config/VORSASOFT/hosts.ini"

# Nothing was built or started.
[ -e "$tmp/build/build.ninja" ] && { echo "FAIL: --dry-run configured a build"; fail=1; }
out=$(bash "$script" --dry-run --bogus 2>&1); rc=$?
[ $rc -eq 2 ] || { echo "FAIL: an unknown option gave rc $rc: $out"; fail=1; }
exit $fail

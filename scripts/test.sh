#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build (warnings as
# errors), then the same tests under ASan+UBSan and under TSan (the window tests run there
# too, on the offscreen platform, so a close in the middle of a harvest or a validation run
# is checked by both sanitizers).
# Exit status is non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VORSA_JOBS:-$(nproc)}

bash scripts/install-deps.sh || exit 1

status=0
run_suite() {  # name build-dir cmake-args...
  local name=$1 dir=$2
  shift 2
  echo "== $name: configure and build ($dir)"
  local launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVORSA_WERROR=ON "${launcher[@]}" "$@" \
      >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; echo "== $name: configure FAILED"; status=1; return
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    echo "== $name: build FAILED"; status=1; return
  fi
  echo "== $name: tests"
  if ! (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600); then
    echo "== $name: tests FAILED"; status=1
  fi
}

mkdir -p build
run_suite "main" build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${VORSA_SKIP_SANITIZERS:-0}" != 1 ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}
  export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:${LSAN_OPTIONS:-}
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}
  run_suite "asan+ubsan" build/asan -DCMAKE_BUILD_TYPE=Debug -DVORSA_SANITIZE=address \
    -DVORSA_BENCH=OFF
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp:${TSAN_OPTIONS:-}
  run_suite "tsan" build/tsan -DCMAKE_BUILD_TYPE=Debug -DVORSA_SANITIZE=thread \
    -DVORSA_BENCH=OFF
fi

if [ $status -eq 0 ]; then echo "== all test suites passed"; else echo "== some test suite FAILED"; fi
exit $status

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Quillmote and runs its whole test suite.
#
#   scripts/test.sh                                       normal build in build/
#   QUILLMOTE_SANITIZE=address,undefined scripts/test.sh  sanitizer build in build-asan/
#   QUILLMOTE_SANITIZE=thread scripts/test.sh             sanitizer build in build-tsan/
#
# Extra arguments go to ctest (for example -R keyboard). Tests that need a display get
# one: an Xvfb server is started when DISPLAY is not set, and stopped at exit.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize="${QUILLMOTE_SANITIZE:-}"

# A fresh machine: everything is installed (and the normal build made) by setup.sh.
for tool in cmake ninja flex Xvfb xdpyinfo help2man dpkg-shlibdeps file lintian appstreamcli \
  desktop-file-validate; do
  if ! command -v "$tool" >/dev/null; then
    "$repo/scripts/setup.sh"
    break
  fi
done

build_dir_for() {
  case "$1" in
    "") echo "$repo/build" ;;
    address,undefined | undefined,address | address) echo "$repo/build-asan" ;;
    thread) echo "$repo/build-tsan" ;;
    *) echo "$repo/build-san-${1//,/-}" ;;
  esac
}

configure_and_build() {
  local dir="$1"
  local options=(-G Ninja -DQUILLMOTE_WERROR=ON)
  if [[ -n "$sanitize" ]]; then
    # Benchmarks measure nothing useful under a sanitizer.
    options+=(-DQUILLMOTE_SANITIZE="$sanitize" -DQUILLMOTE_BUILD_BENCH=OFF)
  fi
  cmake -S "$repo" -B "$dir" "${options[@]}"
  cmake --build "$dir"
}

xvfb_pid=""

stop_xvfb() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}

# Starts Xvfb on :99 (or the next free display) unless a display is already given,
# and returns once the server accepts connections.
start_xvfb() {
  if [[ -n "${DISPLAY:-}" ]]; then
    return
  fi
  local number=99
  while [[ -e "/tmp/.X${number}-lock" ]]; do
    number=$((number + 1))
  done
  # -noreset: the server would otherwise reset when its last client leaves, and
  # forget anything a test left down.
  Xvfb ":${number}" -noreset -nolisten tcp -screen 0 1920x1080x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  trap stop_xvfb EXIT
  export DISPLAY=":${number}"
  local deadline=$((SECONDS + 15))
  until xdpyinfo >/dev/null 2>&1; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "test.sh: Xvfb on $DISPLAY did not start" >&2
      exit 1
    fi
    if ((SECONDS >= deadline)); then
      echo "test.sh: Xvfb on $DISPLAY accepts no connections after 15 s" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "test.sh: Xvfb running on $DISPLAY"
}

build_dir="$(build_dir_for "$sanitize")"
configure_and_build "$build_dir"
start_xvfb

if [[ -n "$sanitize" ]]; then
  # Any report fails the test that caused it, and says where.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$repo/tests/tsan.supp}"
fi

runner=()
rnd_bits="$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)"
if [[ "$sanitize" == *thread* ]] && ((rnd_bits > 28)); then
  # GCC 12's thread sanitizer cannot map its shadow memory under the wider address
  # randomisation of newer kernels; without randomisation it works.
  runner=(setarch "$(uname -m)" -R)
fi

"${runner[@]}" ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" "$@"

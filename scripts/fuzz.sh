#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the whole interpreter with libFuzzer under the address and undefined-behaviour
# sanitizers, starting from fuzz/corpus. Fails when the fuzzer finds an input that
# breaks a promise of the keyboard or mouse model, crashes, leaks or hangs; the input is
# left in build-fuzz/findings/ (turn it into a golden test, then add it to fuzz/corpus).
#
#   scripts/fuzz.sh            fuzz for 120 s
#   scripts/fuzz.sh 600        fuzz for 600 s
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-120}"

if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  sudo_if_needed=()
  [[ $(id -u) -eq 0 ]] || sudo_if_needed=(sudo)
  "${sudo_if_needed[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_if_needed[@]}" apt-get install -y \
    --no-install-recommends clang libclang-rt-14-dev
fi

build="$repo/build-fuzz"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUILLMOTE_BUILD_FUZZERS=ON -DQUILLMOTE_BUILD_TESTS=OFF -DQUILLMOTE_BUILD_BENCH=OFF \
  -DQUILLMOTE_BUILD_PROGRAMS=OFF -DQUILLMOTE_SANITIZE=address,undefined -DQUILLMOTE_WERROR=ON
cmake --build "$build" --target interpreter_fuzz

# New inputs go to a scratch corpus; the committed seeds stay as they are.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/findings"
"$build/fuzz/interpreter_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$build/findings/" "$work" "$repo/fuzz/corpus"

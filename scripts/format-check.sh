#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the C++ sources are as the tree's .clang-format lays them out, with
# Debian 12's clang-format (14). Changes nothing; prints each difference and fails.
#   scripts/format-check.sh [FILE...]      (default: every source under src tests bench fuzz)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
format="$(command -v clang-format-14 || command -v clang-format)"

if (($# == 0)); then
  mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
  set -- "${files[@]}"
fi
"$format" --style=file --dry-run --Werror "$@"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs clang-tidy with the tree's .clang-tidy over the program's sources (src/), as the
# build compiles them: the compile commands of BUILD_DIR (default build/, made by
# scripts/setup.sh). Any finding fails.
#   scripts/tidy.sh [BUILD_DIR]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
tidy="$(command -v clang-tidy-14 || command -v clang-tidy)"
[[ -f "$build/compile_commands.json" ]] || {
  echo "tidy.sh: no $build/compile_commands.json; run scripts/setup.sh first" >&2
  exit 1
}

cd "$repo"
mapfile -t files < <(git ls-files -- 'src/*.cpp')
# One file at a time, two at once: the machine's cores are shared with the build. xargs
# fails when any file has a finding; clang-tidy's counts of what it left unshown are dropped.
set +o pipefail
printf '%s\n' "${files[@]}" |
  xargs -P 2 -n 1 "$tidy" -p "$build" --quiet --warnings-as-errors='*' 2>&1 |
  { grep -v '^[0-9]* warnings\? \(and [0-9]* errors\? \)\?generated\.$' || true; }
exit "${PIPESTATUS[1]}"

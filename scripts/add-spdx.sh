#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts the licence's SPDX line at the top of every source file that lacks it, in the
# file's own comment syntax, after the #! line of a script. Data (golden cases, example
# streams), documents and resource files get none. Running it again changes nothing.
#   scripts/add-spdx.sh [FILE...]     without FILE: every file git knows
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tag="SPDX-License-Identifier: MIT"
files=("$@")
if (($# == 0)); then
  mapfile -t files < <(git ls-files)
fi

for file in "${files[@]}"; do
  first="$(head -n 1 "$file" | tr -d '\0')"
  case "$file" in
    *.cpp | *.h) line="// $tag" ;;
    *.l) line="/* $tag */" ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake) line="# $tag" ;;
    *) [[ "$first" =~ ^#!.*[/\ ](ba)?sh$ ]] || continue
       line="# $tag" ;;
  esac
  if head -n 2 "$file" | grep -q "SPDX-License-Identifier"; then
    continue
  elif [[ "$first" == "#!"* ]]; then
    sed -i "1a $line" "$file"
  else
    sed -i "1i $line" "$file"
  fi
done

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every relative link in README.md and docs/*.md leads to a file that exists and, with a
# #fragment, to a heading in it, named as GitHub names headings: lower case, punctuation
# dropped, spaces as hyphens.
#   doc_links_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
# The anchors of a Markdown file's headings, code blocks left out.
anchors() {
  awk '/^```/ { fenced = !fenced; next } !fenced && /^#+ / { sub(/^#+ /, ""); print }' "$1" |
    tr '[:upper:]' '[:lower:]' | LC_ALL=C sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
broken=0
for page in README.md docs/*.md; do
  while read -r link; do
    target="${link%%#*}"
    fragment="${link#"$target"}"
    file="$(dirname "$page")/$target"
    [[ -n "$target" ]] || file="$page"
    if [[ ! -e "$file" ]] ||
      { [[ -n "$fragment" ]] && ! anchors "$file" | grep -qxF "${fragment#\#}"; }; then
      echo "$page: broken link ($link)"
      broken=1
    fi
  done < <(grep -o '\]([^)]*)' "$page" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true)
done
exit "$broken"

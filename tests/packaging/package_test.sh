#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package: made twice, the same bytes; installed, a valid desktop entry and
# AppStream metadata; lintian finds nothing (exit 77, a skip, without lintian).
#   package_test.sh BUILD_DIR
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for run in 1 2; do cpack --config "$1/CPackConfig.cmake" -B "$work/$run" >/dev/null; done
cmp "$work"/1/*.deb "$work"/2/*.deb
DESTDIR="$work/root" cmake --install "$1" --prefix /usr >/dev/null
appstreamcli validate-tree --no-net --strict "$work/root"
# Given where the guide's pictures are on the web, the metadata shows all three, still valid.
source_dir="$(dirname "$0")/../.."
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")"
id="$(basename "$work"/root/usr/share/metainfo/*.metainfo.xml .metainfo.xml)"
"$source_dir/packaging/release-notes.sh" appstream "$work/shots.xml" "$source_dir/CHANGELOG.md" \
  "$version" "$source_dir/packaging/quillmote.metainfo.xml.in" "$id" \
  "$source_dir/docs/user-guide.md" https://example.org/images
appstreamcli validate --no-net --strict "$work/shots.xml"
[[ "$(grep -c '<image>https://example.org/images/[a-z-]*.png</image>' "$work/shots.xml")" == 3 ]]
findings="$(desktop-file-validate "$work"/root/usr/share/applications/*.desktop 2>&1 || true)"
[[ -z "$findings" ]] || { echo "$findings"; exit 1; }
command -v lintian >/dev/null || { echo "lintian is not installed"; exit 77; }
lintian --fail-on error,warning "$work"/1/*.deb

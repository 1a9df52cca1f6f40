#!/usr/bin/env bash
# The Debian package as distributions take it: made twice, it is the same bytes; its
# desktop entry and AppStream metadata, installed, are valid; lintian finds nothing.
#   package_test.sh BUILD_DIR   (exit status 77, a skip, when lintian is not installed)
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for run in first second; do
  cpack --config "$build/CPackConfig.cmake" -B "$work/$run" >/dev/null
done
package="$(echo "$work"/first/*.deb)"
cmp "$package" "$work"/second/*.deb

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
appstreamcli validate-tree --no-net --strict "$work/root"
findings="$(desktop-file-validate "$work"/root/usr/share/applications/*.desktop)"
[[ -z "$findings" ]] || { echo "$findings"; exit 1; }

command -v lintian >/dev/null || { echo "lintian is not installed"; exit 77; }
lintian --fail-on error,warning "$package"

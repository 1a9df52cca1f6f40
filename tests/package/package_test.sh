#!/usr/bin/env bash
# The Debian package that cpack makes from the build tree.
#   package_test.sh DIR VERSION build CPACK_CONFIG  makes DIR/quillmote_VERSION_ARCH.deb
#   package_test.sh DIR VERSION contents            checks its files and control fields
#   package_test.sh DIR VERSION installed           unpacks it and runs the programs
set -euo pipefail

dir="$1"
version="$2"
step="$3"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
package="$dir/quillmote_${version}_$(dpkg --print-architecture).deb"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

case "$step" in
  build)
    rm -rf "$dir"
    mkdir -p "$dir"
    cpack -G DEB --config "$4" -B "$dir" || fail "cpack could not make the package"
    [[ -f "$package" ]] || fail "no $package; cpack made: $(ls "$dir")"
    ;;

  contents)
    expected="-rwxr-xr-x ./usr/bin/quillmote
-rwxr-xr-x ./usr/bin/quillmote-cli
-rw-r--r-- ./usr/lib/systemd/user/quillmote-cli@.service
-rw-r--r-- ./usr/lib/udev/rules.d/70-quillmote-uinput.rules
-rw-r--r-- ./usr/share/applications/quillmote.desktop
-rw-r--r-- ./usr/share/doc/quillmote/README.md
-rw-r--r-- ./usr/share/doc/quillmote/docs/user-guide.md
-rw-r--r-- ./usr/share/doc/quillmote/examples/example.env
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/quillmote.svg
-rw-r--r-- ./usr/share/man/man1/quillmote-cli.1.gz
-rw-r--r-- ./usr/share/man/man1/quillmote.1.gz"
    # Files only (directories come with them), with their modes; owners must be root.
    actual="$(dpkg-deb -c "$package" | awk '$1 ~ /^-/ { print $1, $6 }' | LC_ALL=C sort -k2)"
    [[ "$actual" == "$expected" ]] ||
      fail "package files differ:$(diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /')"
    owners="$(dpkg-deb -c "$package" | awk '{ print $2 }' | sort -u)"
    [[ "$owners" == "root/root" ]] || fail "files not owned by root/root: $owners"

    field() { dpkg-deb -f "$package" "$1"; }
    [[ "$(field Package)" == quillmote ]] || fail "Package: $(field Package)"
    [[ "$(field Version)" == "$version" ]] || fail "Version: $(field Version), not $version"
    [[ "$(field Section)" == utils ]] || fail "Section: $(field Section)"
    contact="$(sed -n 's/.*kDeveloperContactAddress = "\([^"]*\)".*/\1/p' \
      "$source_dir/src/platform/alerts.h")"
    [[ -n "$contact" && "$(field Maintainer)" == *"<$contact>" ]] ||
      fail "Maintainer: $(field Maintainer), not the programs' contact <$contact>"
    # What dpkg-shlibdeps found the binaries to need.
    for library in libqt6widgets6 libqt6core6 libudev1 libevdev2 libx11-6 libxtst6 libc6; do
      [[ "$(field Depends)" =~ (^|, )$library( |,|$) ]] ||
        fail "Depends does not name $library: $(field Depends)"
    done
    [[ -n "$(field Description | sed -n 2p)" ]] || fail "Description has no long part"
    ;;

  installed)
    root="$(mktemp -d)"
    trap 'rm -rf "$root"' EXIT
    dpkg -x "$package" "$root"
    # No display: the programs answer --version without one.
    got="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quillmote-cli" --version)"
    [[ "$got" == "quillmote-cli $version" ]] || fail "quillmote-cli --version printed: $got"
    got="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quillmote" --version)"
    [[ "$got" == "quillmote $version" ]] || fail "quillmote --version printed: $got"

    # The unit runs the installed program with options that its run command has.
    unit="$root/usr/lib/systemd/user/quillmote-cli@.service"
    exec_start="$(sed -n 's/^ExecStart=//p' "$unit")"
    read -r -a command <<<"$exec_start"
    [[ "${command[0]}" == /usr/bin/quillmote-cli && "${command[1]}" == run ]] ||
      fail "ExecStart is not /usr/bin/quillmote-cli run: $exec_start"
    run_help="$("$root/usr/bin/quillmote-cli" run --help)"
    for word in "${command[@]:2}"; do
      if [[ "$word" == --* ]] && ! grep -qE "^  $word( |$)" <<<"$run_help"; then
        fail "ExecStart passes $word, which quillmote-cli run does not have"
      fi
    done
    ;;

  *) fail "unknown step $step" ;;
esac

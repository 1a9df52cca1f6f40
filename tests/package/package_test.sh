#!/usr/bin/env bash
# The desktop program's command line and the man pages, then the Debian package that
# cpack makes from the build tree, unpacked and run.
#   package_test.sh help QUILLMOTE MAN_DIR VERSION
#   package_test.sh package CPACK_CONFIG DIR VERSION
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }
version="$4"

if [[ "$1" == help ]]; then
  # Arguments, the exit status and what the output must hold: Qt's options are taken in
  # either spelling, with ours, and without a display.
  for entry in "--version|0|quillmote $version" "-h|0|Usage: quillmote" \
    "-platform offscreen --version|0|quillmote $version" "-platform|2|-platform needs" \
    "--platform offscreen -style=fusion -reverse --version|0|quillmote $version" \
    "--bogus|2|unknown option --bogus" "--platform=offscreen|2|unknown option --platform=" \
    "-platform offscreen stray|2|unexpected argument stray"; do
    IFS='|' read -r arguments want_status want_text <<<"$entry"
    status=0
    # shellcheck disable=SC2086 # the arguments are words
    output="$(no_display "$2" $arguments 2>&1)" || status=$?
    [[ "$status" == "$want_status" && "$output" == *"$want_text"* ]] ||
      fail "quillmote $arguments: status $status (want $want_status), printed: $output"
  done
  for subcommand in trace ports run doctor; do
    grep -q "^\.SS \"quillmote\\\\-cli $subcommand " "$3/quillmote-cli.1" ||
      fail "quillmote-cli.1 has no section for $subcommand"
  done
  exit 0
fi

dir="$3"
package="$dir/quillmote_${version}_$(dpkg --print-architecture).deb"
rm -rf "$dir"
cpack -G DEB --config "$2" -B "$dir" >/dev/null || fail "cpack could not make the package"
[[ -f "$package" ]] || fail "no $package; cpack made: $(ls "$dir")"
# Files only (directories come with them), with their modes and owners.
expected="-rwxr-xr-x root/root ./usr/bin/quillmote
-rwxr-xr-x root/root ./usr/bin/quillmote-cli
-rw-r--r-- root/root ./usr/lib/systemd/user/quillmote-cli@.service
-rw-r--r-- root/root ./usr/lib/udev/rules.d/70-quillmote-uinput.rules
-rw-r--r-- root/root ./usr/share/applications/quillmote.desktop
-rw-r--r-- root/root ./usr/share/doc/quillmote/README.md
-rw-r--r-- root/root ./usr/share/doc/quillmote/docs/user-guide.md
-rw-r--r-- root/root ./usr/share/doc/quillmote/examples/example.env
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/quillmote.svg
-rw-r--r-- root/root ./usr/share/man/man1/quillmote-cli.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/quillmote.1.gz"
actual="$(dpkg-deb -c "$package" | awk '$1 ~ /^-/ { print $1, $2, $6 }' | LC_ALL=C sort -k3)"
[[ "$actual" == "$expected" ]] ||
  fail "package files differ:$(diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /')"

field() { dpkg-deb -f "$package" "$1"; }
[[ "$(field Version)" == "$version" ]] || fail "Version: $(field Version), not $version"
contact="$(sed -n 's/.*kDeveloperContactAddress = "\([^"]*\)".*/\1/p' \
  "$(dirname "$0")/../../src/platform/alerts.h")"
[[ -n "$contact" && "$(field Maintainer)" == *"<$contact>" ]] ||
  fail "Maintainer: $(field Maintainer), not the programs' contact <$contact>"
# What dpkg-shlibdeps finds the binaries to need.
for library in libqt6widgets6 libudev1 libevdev2 libxtst6; do
  [[ "$(field Depends)" == *"$library"* ]] || fail "Depends lacks $library: $(field Depends)"
done

dpkg -x "$package" "$dir/root"
for program in quillmote quillmote-cli; do
  got="$(no_display "$dir/root/usr/bin/$program" --version)"
  [[ "$got" == "$program $version" ]] || fail "$program --version printed: $got"
done
# The unit runs the installed program with options that its run command has.
exec_start="$(sed -n 's/^ExecStart=//p' "$dir/root/usr/lib/systemd/user/quillmote-cli@.service")"
read -r -a command <<<"$exec_start"
[[ "${command[*]:0:2}" == "/usr/bin/quillmote-cli run" ]] || fail "ExecStart: $exec_start"
run_help="$("$dir/root/usr/bin/quillmote-cli" run --help)"
for word in "${command[@]:2}"; do
  [[ "$word" != --* ]] || grep -qE "^  $word( |$)" <<<"$run_help" ||
    fail "ExecStart passes $word, which quillmote-cli run does not have"
done

#!/usr/bin/env bash
# The programs answer --help and --version without a display, refuse what they do not
# know, and their man pages hold every quillmote-cli command.
#   help_test.sh QUILLMOTE QUILLMOTE_CLI MAN_DIR VERSION
set -euo pipefail

quillmote="$1"
cli="$2"
man_dir="$3"
version="$4"
subcommands=(trace ports run doctor)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

no_display() { env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }

help="$(no_display "$quillmote" --help)" || fail "quillmote --help failed without a display"
for text in "Usage: quillmote" --version QUILLMOTE_BACKEND Quillmote/Quillmote.conf \
  "Report bugs to "; do
  [[ "$help" == *"$text"* ]] || fail "quillmote --help does not mention $text"
done

# Arguments, then the exit status and what must be in the output (stdout and stderr).
cases=(
  "--version|0|quillmote $version"
  "-h|0|Usage: quillmote"
  "-platform offscreen --version|0|quillmote $version"
  "--platform offscreen -style=fusion -reverse --version|0|quillmote $version"
  "--bogus|2|unknown option --bogus"
  "--platform=offscreen|2|unknown option --platform=offscreen"
  "-platform offscreen stray|2|unexpected argument stray"
  "-platform|2|-platform needs a value"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r arguments want_status want_text <<<"$entry"
  status=0
  # shellcheck disable=SC2086 # the arguments are words
  output="$(no_display "$quillmote" $arguments 2>&1)" || status=$?
  [[ "$status" == "$want_status" && "$output" == *"$want_text"* ]] ||
    fail "quillmote $arguments: status $status (want $want_status), printed: $output"
done

[[ "$(no_display "$cli" --version)" == "quillmote-cli $version" ]] ||
  fail "quillmote-cli --version does not print quillmote-cli $version"
for subcommand in "${subcommands[@]}"; do
  output="$(no_display "$cli" "$subcommand" --help)" ||
    fail "quillmote-cli $subcommand --help failed"
  [[ "$output" == *"Usage: quillmote-cli $subcommand"* ]] ||
    fail "quillmote-cli $subcommand --help printed: $output"
done

for page in quillmote quillmote-cli; do
  [[ -s "$man_dir/$page.1" && -s "$man_dir/$page.1.gz" ]] || fail "no man page $man_dir/$page.1"
  grep -q "^\.TH ${page^^} \"1\" .* \"$page $version\"" "$man_dir/$page.1" ||
    fail "$page.1 has no title line for $page $version"
done
grep -q QUILLMOTE_BACKEND "$man_dir/quillmote.1" || fail "quillmote.1 lacks the environment"
for subcommand in "${subcommands[@]}"; do
  grep -q "^\.SS \"quillmote\\\\-cli $subcommand " "$man_dir/quillmote-cli.1" ||
    fail "quillmote-cli.1 has no section for $subcommand"
done
grep -q "quillmote\\\\-cli@.service" "$man_dir/quillmote-cli.1" ||
  fail "quillmote-cli.1 does not name the user unit"

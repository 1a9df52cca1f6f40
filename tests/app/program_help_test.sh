#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The desktop program's command line, without a display: Qt's options are taken in either
# spelling, with ours.  program_help_test.sh QUILLMOTE VERSION
set -euo pipefail

# Arguments, the exit status and what the output must hold.
for entry in "-h|0|Usage: quillmote" "-platform offscreen --version|0|quillmote $2" \
  "--platform offscreen -style=fusion -reverse --version|0|quillmote $2" \
  "-platform|2|-platform needs" "--bogus|2|unknown option --bogus" \
  "--platform=offscreen|2|unknown option --platform=" "x|2|unexpected argument x"; do
  IFS='|' read -r arguments want_status want_text <<<"$entry"
  status=0
  # shellcheck disable=SC2086 # the arguments are words
  output="$(env -u DISPLAY -u WAYLAND_DISPLAY "$1" $arguments 2>&1)" || status=$?
  if [[ "$status" != "$want_status" || "$output" != *"$want_text"* ]]; then
    echo "FAIL: quillmote $arguments: status $status (want $want_status), printed: $output" >&2
    exit 1
  fi
done

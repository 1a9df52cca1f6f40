#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes a help2man include file with a COMMANDS section for quillmote-cli: one entry per
# subcommand, made from that subcommand's own --help, so that the man page says exactly
# what the program says and a new subcommand appears in it by itself.
#   cli-subcommands-h2m.sh QUILLMOTE_CLI OUTPUT
set -euo pipefail

cli="$1"
output="$2"

subcommands="$("$cli" --help | awk '/^Subcommands:/ { listed = 1; next }
                                     listed && /^  [a-z]/ { print $1 }')"
if [[ -z "$subcommands" ]]; then
  echo "cli-subcommands-h2m.sh: $cli --help lists no subcommands" >&2
  exit 1
fi

# CLI11's help: the description, "Usage: ...", then headings ("Options:") over entries
# whose option column is two spaces in and whose text follows after two or more spaces
# or, when the option is long, on lines of its own further in.
# shellcheck disable=SC2016 # an awk program, not shell
to_roff='
  function escape(text) {
    gsub(/\\/, "\\e", text)
    sub(/^[.'"'"']/, "\\\\\\&&", text)
    return text
  }
  NR == 1 { description = $0; next }
  /^Usage: / {
    usage = substr($0, 8)
    gsub(/-/, "\\-", usage)
    print ".SS \"" usage "\""
    print escape(description)
    next
  }
  /^[A-Z][A-Za-z]*:$/ { print ".PP"; print escape($0); next }
  /^  [^ ]/ {
    entry = substr($0, 3)
    split_at = match(entry, /  +/)
    option = split_at ? substr(entry, 1, split_at - 1) : entry
    gsub(/-/, "\\-", option)
    print ".TP"
    print "\\fB" option "\\fR"
    if (split_at) print escape(substr(entry, split_at + RLENGTH))
    next
  }
  /^   +[^ ]/ { sub(/^ +/, ""); print escape($0) }
'

{
  echo "[COMMANDS]"
  for subcommand in $subcommands; do
    "$cli" "$subcommand" --help | awk "$to_roff"
  done
} >"$output.new"
mv "$output.new" "$output"

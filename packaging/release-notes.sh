#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the release notes that the package and the software centres carry out of
# CHANGELOG.md, so that they are written once, for users, and cannot disagree:
#   release-notes.sh debian OUTPUT CHANGELOG VERSION MAINTAINER          Debian changelog
#   release-notes.sh appstream OUTPUT CHANGELOG VERSION TEMPLATE APP_ID GUIDE [SCREENSHOTS_URL]
#                                                                        AppStream metainfo
# A version is a "## VERSION - YYYY-MM-DD" heading followed by "- " items, each item
# perhaps going on over indented lines. VERSION is the one being built: the newest
# section must be it, so that a release is never made without its notes.
# The appstream form copies TEMPLATE, putting the releases in place of its @RELEASES@ line
# and the application's id in place of @APP_ID@. Software centres take screenshots only
# from the web: with SCREENSHOTS_URL, the web address where the user guide's docs/images
# are published, the pictures of GUIDE (the user guide), with its captions and the first
# as the default, go in place of @SCREENSHOTS@; without it, that line goes.
set -euo pipefail
export LC_ALL=C

format="$1"
output="$2"
changelog="$3"
version="$4"
shift 4

# One line per fact, whatever the output: "version VERSION DATE", then "item TEXT" for each
# of its items, the item's lines joined and its markdown backquotes dropped.
facts="$(awk '
  function flush() { if (item != "") { gsub(/`/, "", item); print "item " item; item = "" } }
  /^## / {
    flush()
    if (!match($0, /^## [0-9][0-9A-Za-z.+~]* - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/)) {
      print "bad heading: " $0 > "/dev/stderr"; exit 1
    }
    print "version " $2 " " $4; in_version = 1; next
  }
  !in_version || /^$/ { next }
  /^- / { flush(); item = substr($0, 3); next }
  /^  +[^ ]/ && item != "" { sub(/^ +/, ""); item = item " " $0; next }
  { print "not an item: " $0 > "/dev/stderr"; exit 1 }
  END { flush() }
' "$changelog")"

newest="$(awk '$1 == "version" { print $2; exit }' <<<"$facts")"
if [[ "$newest" != "$version" ]]; then
  echo "release-notes.sh: the newest version in $changelog is '$newest', not $version:" \
    "add a section for $version" >&2
  exit 1
fi

case "$format" in
  debian)
    # Items wrapped to 80 columns; the date is the release's, at noon UTC, so the file
    # depends on nothing but CHANGELOG.md.
    awk -v maintainer="$1" '
      function close_version() {
        if (date != "") printf "\n -- %s  %s\n", maintainer, date
      }
      $1 == "version" {
        close_version()
        if (date != "") print ""
        command = "date -u -R -d \"" $3 " 12:00\""
        command | getline date
        close(command)
        printf "quillmote (%s) unstable; urgency=medium\n\n", $2
        next
      }
      {
        line = "  *"
        for (i = 2; i <= NF; i++) {
          if (length(line) + 1 + length($i) > 80) { print line; line = "   " }
          line = line " " $i
        }
        print line
      }
      END { close_version() }
    ' <<<"$facts" >"$output.new"
    ;;
  appstream)
    releases="$(awk '
      function escape(text) {
        gsub(/&/, "\\&amp;", text); gsub(/</, "\\&lt;", text); gsub(/>/, "\\&gt;", text)
        return text
      }
      function close_version() {
        if (open) print "        </ul>\n      </description>\n    </release>"
      }
      $1 == "version" {
        close_version()
        printf "    <release version=\"%s\" date=\"%s\">\n", $2, $3
        print "      <description>\n        <ul>"
        open = 1
        next
      }
      { print "          <li>" escape(substr($0, 6)) "</li>" }
      END { close_version() }
    ' <<<"$facts")"
    screenshots=""
    if [[ -n "${4:-}" ]]; then
      screenshots="$(awk -v url="${4%/}" '
        match($0, /^!\[[^]]*\]\(images\/[^)]*\)$/) {
          caption = $0; sub(/^!\[/, "", caption); sub(/\].*/, "", caption)
          gsub(/&/, "\\&amp;", caption); gsub(/</, "\\&lt;", caption); gsub(/>/, "\\&gt;", caption)
          image = $0; sub(/^.*\(images\//, "", image); sub(/\)$/, "", image)
          print "    <screenshot" (shots++ ? "" : " type=\"default\"") ">"
          print "      <caption>" caption "</caption>\n      <image>" url "/" image "</image>"
          print "    </screenshot>"
        }' "$3")"
      screenshots="  <screenshots>"$'\n'"$screenshots"$'\n'"  </screenshots>"
    fi
    awk -v releases="$releases" -v app_id="$2" -v screenshots="$screenshots" '
      /^ *@RELEASES@$/ { print "  <releases>\n" releases "\n  </releases>"; next }
      /^ *@SCREENSHOTS@$/ { if (screenshots != "") print screenshots; next }
      { gsub(/@APP_ID@/, app_id); print }
    ' "$1" >"$output.new"
    ;;
  *)
    echo "release-notes.sh: unknown format '$format' (debian or appstream)" >&2
    exit 2
    ;;
esac
mv "$output.new" "$output"

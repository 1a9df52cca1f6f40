#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, then shows what a device's bytes become: traces the bundled
# example stream (or the byte streams given as arguments) with a simulated screen and
# the pointer in the middle of it.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$repo/scripts/setup.sh" >&2

if (($# == 0)); then
  set -- "$repo/examples/demo.qm"
  echo "Tracing the example stream examples/demo.qm (see examples/README.md):" >&2
fi
exec "$repo/build/quillmote-cli" trace --screen 1920x1080 --pointer 500,300 "$@"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up a Debian 12 machine for Quillmote and builds it into build/.
# Installs the packages below (apt-get, through sudo unless run as root), then
# configures and builds. Safe to run again: packages already present are not asked
# for, and the build only redoes what changed.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  build-essential cmake ninja-build flex pkg-config  # compiler, build, scanner generator
  libcli11-dev                                       # command-line options of the tools
  libgtest-dev libgmock-dev libbenchmark-dev         # tests and benchmarks
  qt6-base-dev                                       # desktop program
  libx11-dev libxtst-dev libevdev-dev libudev-dev    # input backends, port discovery
  libxkbcommon-dev libxkbcommon-x11-dev libx11-xcb-dev  # keyboard layouts
  libwayland-dev wayland-protocols                   # the Wayland desktop's keymap and size
  libglib2.0-dev                                     # GNOME's record of the input source in use
  x11-xkb-utils                                      # setxkbmap, for the layout tests
  xvfb xdotool x11-utils xauth                       # a display for the tests
  dpkg-dev file help2man                             # the Debian package, man pages
  lintian appstream desktop-file-utils               # checks of the package and its metadata
  clang-format-14 clang-tidy-14                      # layout and static checks of the sources
)

as_root() {
  if [[ "$(id -u)" -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "setup.sh: installing packages needs root; run it as root or install sudo" >&2
    exit 1
  fi
}

missing=()
for package in "${packages[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} > 0)); then
  echo "setup.sh: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${packages[@]}"
fi

cmake -S "$repo" -B "$repo/build" -G Ninja -DQUILLMOTE_WERROR=ON
cmake --build "$repo/build"

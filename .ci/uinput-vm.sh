#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Proves the uinput backend against a real kernel. The machines here run a kernel
# without uinput; Debian's generic kernel has it as a module, so this boots that kernel
# under qemu with an initramfs whose only program is tests/uinput_vm_check, and passes
# only when its PASS line reaches the serial console.
#
#   .ci/uinput-vm.sh [BUILD_DIR]     BUILD_DIR defaults to build/
#
# The kernel package is kept in ${XDG_CACHE_HOME:-~/.cache}/quillmote-uinput-vm: mirrors
# drop old kernels once a new one is out. Installs qemu, busybox and cpio when missing.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo/build}"
cache="${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/quillmote-uinput-vm"
boot_timeout=180
result_prefix="QUILLMOTE-UINPUT-RESULT:"

say() { echo "uinput-vm.sh: $*"; }
die() {
  say "$*" >&2
  exit 1
}

as_root() {
  if [[ "$(id -u)" -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    die "installing packages needs root; run it as root or install sudo"
  fi
}

apt_updated=""
apt_update_once() {
  [[ -n "$apt_updated" ]] && return
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  apt_updated=1
}

missing=()
for package in qemu-system-x86 busybox-static cpio; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
  say "installing ${missing[*]}"
  apt_update_once
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The kernel package that linux-image-amd64 stands for, as "name version". The cloud
# kernel has no uinput: it has to be the generic one.
kernel_package() {
  apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1 \2/p' | head -n 1
}

mkdir -p "$cache"
wanted="$(kernel_package)"
if [[ -z "$wanted" ]]; then
  apt_update_once
  wanted="$(kernel_package)"
fi
if [[ -n "$wanted" ]]; then
  read -r name version <<<"$wanted"
  deb="$cache/${name}_${version}_amd64.deb"
  if [[ ! -f "$deb" ]]; then
    say "downloading $name $version"
    # Into a folder of its own first: a download cut short never passes for a package.
    fetched="$(mktemp -d -p "$cache")"
    (cd "$fetched" && apt-get download -qq "$name=$version")
    mv "$fetched"/*.deb "$deb"
    rmdir "$fetched"
  fi
else
  # No package lists to ask: the newest kernel fetched before will do.
  deb="$(ls -t "$cache"/linux-image-*.deb 2>/dev/null | head -n 1 || true)"
  [[ -n "$deb" ]] || die "cannot tell which kernel linux-image-amd64 needs, and none is cached"
fi

# Kernel and modules from the one package, so the modules fit the kernel.
kernel_dir="${deb%.deb}"
if [[ ! -f "$kernel_dir/uinput.ko" ]]; then
  unpacked="$(mktemp -d)"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$unpacked" --wildcards \
    './boot/vmlinuz-*' '*/kernel/drivers/input/evdev.ko' \
    '*/kernel/drivers/input/misc/uinput.ko'
  mkdir -p "$kernel_dir"
  cp "$unpacked"/boot/vmlinuz-* "$kernel_dir/vmlinuz"
  find "$unpacked" \( -name evdev.ko -o -name uinput.ko \) -exec cp {} "$kernel_dir/" \;
  rm -rf "$unpacked"
fi

if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
  cmake -S "$repo" -B "$build_dir" -G Ninja -DQUILLMOTE_WERROR=ON
fi
cmake --build "$build_dir" --target uinput_vm_check
program="$build_dir/tests/uinput_vm_check"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys}
cp /bin/busybox "$root/bin/busybox"
cp "$kernel_dir/evdev.ko" "$kernel_dir/uinput.ko" "$root/"
strip -o "$root/uinput_vm_check" "$program"
# The program's shared libraries and loader, at the paths it looks for them.
for library in $(ldd "$program" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done

cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
fail() { echo "$result_prefix FAIL \$*"; poweroff -f; }
# The kernel does not mount devtmpfs on /dev for an initramfs by itself.
mount -t devtmpfs devtmpfs /dev || fail "cannot mount devtmpfs"
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# evdev makes the /dev/input/event nodes; uinput does not ask for it.
insmod /evdev.ko || fail "cannot load evdev.ko"
insmod /uinput.ko || fail "cannot load uinput.ko"
/uinput_vm_check || echo "uinput_vm_check exited with status \$?"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.cpio.gz")

# One boot, with the given accelerator; the result line, if any, in $result.
boot() {
  local accelerator="$1" seconds="$2"
  say "booting $(basename "$kernel_dir") under qemu with $accelerator (at most ${seconds} s)"
  started=$SECONDS
  status=0
  timeout "$seconds" qemu-system-x86_64 -machine "accel=$accelerator" -kernel "$kernel_dir/vmlinuz" \
    -initrd "$work/initramfs.cpio.gz" -append 'console=ttyS0 quiet panic=-1' \
    -nographic -m 512 -no-reboot </dev/null >"$work/console.log" 2>&1 || status=$?
  # The firmware clears the terminal just before the kernel starts, and with a quiet kernel
  # those escape sequences, or the firmware's last words, lead the line the check prints:
  # the result is taken from wherever it starts in its line.
  sed -E 's/\x1b(\[[0-9;?]*[A-Za-z]|[A-Za-z])//g; s/\r//g' "$work/console.log" >"$work/console.txt"
  result="$(grep -ao "$result_prefix.*" "$work/console.txt" | head -n 1 || true)"
}

# Some hosts offer /dev/kvm yet never get the guest past its firmware: without the CPU's
# vmx or svm, emulation at once; a KVM boot that gives no result line within a minute is
# tried again under emulation.
result=""
[[ -w /dev/kvm ]] && grep -qE '^flags.* (vmx|svm)( |$)' /proc/cpuinfo && boot kvm 60
[[ -n "$result" ]] || boot tcg "$boot_timeout"

# qemu exits 0 on power-off whatever the check said: only the result line counts.
if [[ "$result" == "$result_prefix PASS" ]]; then
  say "$result (virtual machine ran $((SECONDS - started)) s)"
  exit 0
fi
say "serial console:"
tail -n 40 "$work/console.txt" >&2
if ((status == 124)); then
  die "no result within ${boot_timeout} s"
fi
die "${result:-no result line (qemu exited with status $status)}"

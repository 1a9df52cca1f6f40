# SPDX-License-Identifier: MIT
# Shared by .ci/wayland-vm.sh and .ci/serial-vm.sh, which source it: a booted Debian 12
# with a real user space (systemd, udev, logind, a user logged in at the seat by
# autologin) and the project's package installed in it the way a user installs it.
#
# Kept under ${XDG_CACHE_HOME:-~/.cache}/quillmote-desktop-vm:
#   rootfs-KEY.tar   the root file system from mmdebstrap, keyed by its package list
#                    (a few minutes to make with the downloads, so made once);
#   disk-KEY.img     that file system with the package installed, keyed by the root file
#                    system, the package and the guest's set-up below: both jobs of one CI
#                    run boot the same disk, which qemu never writes (snapshot=on).
# What changes from run to run (the guest's script, the streams) goes on a second small
# disk, /dev/vdb, mounted at /opt/run; the guest writes what the host reads back there too.
# Needs root: the package is installed in a chroot, and the disk is made from a folder
# whose files belong to root.

vm_cache="${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/quillmote-desktop-vm"
vm_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vm_user=quser
vm_result_prefix="QUILLMOTE-VM-RESULT:"

# What the guest needs besides the package: the seat (systemd, logind, udev), the
# compositor and its input stack, the tools the guest's scripts use, and the libraries
# the package links, so that installing it needs no package lists. Anything the package
# needs beyond these is fetched in the chroot.
vm_packages=(systemd-sysv udev dbus kmod linux-image-amd64 sway libinput-tools procps socat
  libqt6widgets6 libqt6gui6 libqt6core6 libudev1 libevdev2 libxkbcommon0 libxkbcommon-x11-0
  libx11-6 libx11-xcb1 libxtst6 libwayland-client0 xkb-data)

vm_say() { echo "${vm_name:-desktop-vm}: $*"; }
vm_die() {
  vm_say "$*" >&2
  exit 1
}

vm_require_root() {
  [[ "$(id -u)" -eq 0 ]] || vm_die "run it as root: the package is installed in a chroot"
}

# Installs the named Debian packages on the host when they are missing.
vm_host_packages() {
  local missing=() package status
  for package in "$@"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
  done
  ((${#missing[@]} > 0)) || return 0
  vm_say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# The root file system tarball, made once per package list; its path in $vm_rootfs.
vm_make_rootfs() {
  local key started
  key="$(printf '%s\n' bookworm minbase "${vm_packages[@]}" | sha256sum | cut -c1-16)"
  vm_rootfs="$vm_cache/rootfs-$key.tar"
  [[ -f "$vm_rootfs" ]] && return 0
  mkdir -p "$vm_cache"
  vm_say "making the root file system (once; a few minutes with the downloads)"
  started=$SECONDS
  # Into a file of its own first: an interrupted run never leaves a tarball that looks whole.
  mmdebstrap --quiet --format=tar --variant=minbase --include="$(IFS=,; echo "${vm_packages[*]}")" \
    bookworm "$vm_rootfs.part" || vm_die "mmdebstrap failed"
  mv "$vm_rootfs.part" "$vm_rootfs"
  vm_say "root file system made in $((SECONDS - started)) s"
}

# Builds what the guest needs from this tree: the Debian package (cpack, as a release is
# made) and the Wayland test client. Sets $vm_deb and $vm_build_dir.
vm_build_package() {
  vm_build_dir="${1:-$vm_repo/build}"
  if [[ ! -f "$vm_build_dir/CMakeCache.txt" ]] ||
    ! grep -q '^WAYLAND_SCANNER:FILEPATH=/' "$vm_build_dir/CMakeCache.txt"; then
    cmake -S "$vm_repo" -B "$vm_build_dir" -G Ninja -DQUILLMOTE_WERROR=ON >/dev/null
  fi
  cmake --build "$vm_build_dir"
  rm -f "$vm_build_dir"/quillmote_*.deb
  (cd "$vm_build_dir" && cpack --config CPackConfig.cmake >/dev/null) || vm_die "cpack failed"
  vm_deb="$(ls "$vm_build_dir"/quillmote_*.deb 2>/dev/null | head -n 1)"
  [[ -n "$vm_deb" ]] || vm_die "cpack made no quillmote_*.deb in $vm_build_dir"
}

# The guest's set-up, done once per disk in a chroot of the unpacked root file system.
vm_setup_guest() {
  local root="$1"
  cp "$vm_deb" "$root/root/"
  # As a user installs it; the libraries are in the root file system already, so this needs
  # package lists only when the package has come to need more.
  if ! chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq "/root/$(basename "$vm_deb")" >/dev/null; then
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    chroot "$root" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq "/root/$(basename "$vm_deb")" >/dev/null ||
      vm_die "cannot install $(basename "$vm_deb") in the guest"
  fi
  rm "$root/root/$(basename "$vm_deb")"
  # The person at the seat: no password, in dialout as serial-port users are, nothing else.
  chroot "$root" useradd -m -s /bin/bash -G dialout "$vm_user"
  chroot "$root" passwd -q -d "$vm_user"
  mkdir -p "$root/etc/systemd/system/getty@tty1.service.d"
  cat >"$root/etc/systemd/system/getty@tty1.service.d/autologin.conf" <<CONF
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin $vm_user --noclear %I \$TERM
CONF
  # Whatever the run brings for the seat user's session runs at the login on tty1 (qemu's
  # display gives tty1 even with no window); it must not end, or autologin runs it again.
  cat >"$root/home/$vm_user/.bash_profile" <<'PROFILE'
if [ "$(tty)" = /dev/tty1 ] && [ -x /opt/run/session.sh ]; then
  /opt/run/session.sh >>/opt/run/out/session.log 2>&1
  exec sleep infinity
fi
PROFILE
  chroot "$root" chown "$vm_user:$vm_user" "/home/$vm_user/.bash_profile"
  echo uinput >"$root/etc/modules-load.d/uinput.conf"
  echo quillmote-vm >"$root/etc/hostname"
  echo '/dev/vdb /opt/run ext4 defaults,nofail 0 2' >>"$root/etc/fstab"
  mkdir -p "$root/opt/run"
  # The run's own script, as root, once the system is up; it powers the machine off.
  cat >"$root/etc/systemd/system/quillmote-vm-run.service" <<'UNIT'
[Unit]
Description=The run's script from the second disk
ConditionPathExists=/opt/run/guest.sh
RequiresMountsFor=/opt/run
After=systemd-user-sessions.service getty@tty1.service

[Service]
Type=exec
ExecStart=/opt/run/guest.sh
StandardOutput=append:/opt/run/out/guest.log
StandardError=inherit
ExecStopPost=/bin/systemctl --no-block poweroff

[Install]
WantedBy=multi-user.target
UNIT
  chroot "$root" systemctl -q enable quillmote-vm-run.service
  # The serial console carries the result lines: no getty to hang it up. With logind
  # there, libseat takes it and seatd is not wanted (what desktops do). Nothing else on a
  # timer wakes up during a run.
  chroot "$root" systemctl -q mask serial-getty@ttyS0.service seatd.service \
    apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer 2>/dev/null || true
  chroot "$root" systemctl -q set-default multi-user.target
}

# The disk with the package installed, and the kernel and initramfs from it, cached per
# root file system, package and set-up. Sets $vm_disk, $vm_kernel, $vm_initrd.
vm_make_disk() {
  local key root started
  key="$( (echo "$vm_rootfs"; sha256sum <"$vm_deb"; declare -f vm_setup_guest) |
    sha256sum | cut -c1-16)"
  vm_disk="$vm_cache/disk-$key.img"
  vm_kernel="$vm_cache/disk-$key.vmlinuz"
  vm_initrd="$vm_cache/disk-$key.initrd"
  [[ -f "$vm_disk" && -f "$vm_kernel" && -f "$vm_initrd" ]] && return 0
  started=$SECONDS
  vm_say "making the guest's disk with $(basename "$vm_deb")"
  rm -f "$vm_cache"/disk-*  # one at a time: each is about a gigabyte
  root="$(mktemp -d -p "$vm_cache" root.XXXXXX)"
  tar -x -p --numeric-owner -f "$vm_rootfs" -C "$root"
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  local status=0
  (vm_setup_guest "$root") || status=$?
  umount "$root/dev" "$root/proc"
  ((status == 0)) || { rm -rf "$root"; vm_die "setting up the guest failed"; }
  cp "$(ls "$root"/boot/vmlinuz-* | tail -n 1)" "$vm_kernel.part"
  cp "$(ls "$root"/boot/initrd.img-* | tail -n 1)" "$vm_initrd.part"
  mkfs.ext4 -q -F -L quillmote-vm -d "$root" "$vm_disk.part" 3G >/dev/null
  rm -rf "$root"
  mv "$vm_kernel.part" "$vm_kernel"
  mv "$vm_initrd.part" "$vm_initrd"
  mv "$vm_disk.part" "$vm_disk"
  vm_say "disk made in $((SECONDS - started)) s"
}

# Everything up to a bootable guest: host tools, the package, the root file system, the disk.
vm_prepare() {
  vm_require_root
  vm_host_packages qemu-system-x86 mmdebstrap e2fsprogs libwayland-dev wayland-protocols \
    socat
  vm_build_package "$@"
  vm_make_rootfs
  vm_make_disk
  vm_work="$(mktemp -d)"
  mkdir -p "$vm_work/run/out"
  # The seat user's programs write there too; not sticky, since root appends to their files
  # (fs.protected_regular).
  chmod 0777 "$vm_work/run/out"
}

vm_accelerator() {
  # A /dev/kvm without the CPU's virtualisation extensions never gets past the firmware:
  # without vmx or svm, emulation at once.
  if [[ -w /dev/kvm ]] && grep -qE '^flags.* (vmx|svm)( |$)' /proc/cpuinfo; then
    echo kvm
  else
    echo tcg
  fi
}

# Boots the guest with $vm_work/run as its second disk, in the background: qemu's process
# id in $vm_qemu_pid, the serial console in $vm_work/console.log. Extra qemu arguments
# (devices for the run) follow the time limit.
vm_start() {
  local seconds="$1"
  shift
  mkfs.ext4 -q -F -L run -d "$vm_work/run" "$vm_work/run.img" 64M >/dev/null
  : >"$vm_work/console.log"
  local accelerator
  accelerator="$(vm_accelerator)"
  vm_say "booting under qemu with $accelerator (at most $seconds s)"
  vm_started=$SECONDS
  timeout "$seconds" qemu-system-x86_64 -machine "accel=$accelerator" -cpu max -smp 2 -m 2048 \
    -kernel "$vm_kernel" -initrd "$vm_initrd" \
    -append 'root=/dev/vda rw console=ttyS0 quiet panic=-1 fsck.mode=skip systemd.show_status=0' \
    -drive "file=$vm_disk,format=raw,if=virtio,snapshot=on" \
    -drive "file=$vm_work/run.img,format=raw,if=virtio" \
    -display none -monitor none -serial "file:$vm_work/console.log" -no-reboot "$@" \
    </dev/null >"$vm_work/qemu.log" 2>&1 &
  vm_qemu_pid=$!
}

# Waits, with qemu running, for a line on the serial console that begins with the given
# text after the result prefix; fails when qemu ends first.
vm_wait_console() {
  local wanted="$vm_result_prefix $1"
  until tr -d '\r' <"$vm_work/console.log" | grep -aq -- "$wanted"; do
    kill -0 "$vm_qemu_pid" 2>/dev/null || return 1
    sleep 0.2
  done
}

# Waits for qemu to end and copies the second disk's out/ folder to $vm_work/out.
vm_finish() {
  local status=0
  wait "$vm_qemu_pid" || status=$?
  ((status == 124)) && vm_say "the virtual machine did not power off in time"
  vm_say "virtual machine ran $((SECONDS - vm_started)) s"
  rm -rf "$vm_work/out"
  debugfs -R "rdump /out $vm_work" "$vm_work/run.img" >/dev/null 2>&1 || true
  sed -E 's/\x1b(\[[0-9;?]*[A-Za-z]|[A-Za-z])//g; s/\r//g' "$vm_work/console.log" \
    >"$vm_work/console.txt"
  return "$status"
}

# The result line the guest printed, without its prefix.
vm_result() {
  grep -ao "$vm_result_prefix.*" "$vm_work/console.txt" | tail -n 1 |
    sed "s/^$vm_result_prefix //" || true
}

# Helpers for the guest's scripts, on the second disk as /opt/run/guest-lib.sh.
vm_write_guest_lib() {
  cat >"$vm_work/run/guest-lib.sh" <<GUEST
user=$vm_user
result_prefix="$vm_result_prefix"
GUEST
  cat >>"$vm_work/run/guest-lib.sh" <<'GUEST'
uid="$(id -u "$user")"
out=/opt/run/out
# A line for the host on the serial console, opened afresh for each line.
result() { echo "$result_prefix $*" >/dev/ttyS0; }
log() { echo "$(date +%T.%N | cut -c1-12) $*"; }
# Runs the command until it succeeds, for at most the given number of seconds.
wait_until() {
  local seconds="$1" end
  shift
  end=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}
# As the seat user (/opt/run/as-user), whose process id $! is then the command's own.
as_user() { /opt/run/as-user "$@"; }
# Whether the process has the file open.
has_open() { ls -l /proc/"$1"/fd 2>/dev/null | grep -q -- "-> $(readlink -f "$2")\$"; }
# What was running and what the system logged, for a run that went wrong.
diagnose() {
  { ps -ef; ls -la /opt/run /opt/run/out /run/user/* /dev/input; libinput list-devices
    loginctl session-status; udevadm info /dev/input/event0; /opt/run/as-user swaymsg -t get_seats
    journalctl -b --no-pager | tail -n 80; } \
    >"$out/diagnosis.log" 2>&1
}
quillmote_devices() { grep -c '^N: Name="Quillmote virtual' /proc/bus/input/devices; }
GUEST
  cat >"$vm_work/run/as-user" <<GUEST
#!/bin/bash
# Runs the command as the seat user, with the environment a desktop session gives the
# user's services (the compositor's, when one runs), in place of this process.
uid="\$(id -u $vm_user)"
runtime="/run/user/\$uid"
exec setpriv --reuid=$vm_user --regid=$vm_user --init-groups env -i HOME=/home/$vm_user \\
  USER=$vm_user LOGNAME=$vm_user PATH=/usr/local/bin:/usr/bin:/bin XDG_RUNTIME_DIR="\$runtime" \\
  \$([ -S "\$runtime/wayland-1" ] && echo WAYLAND_DISPLAY=wayland-1) \\
  \$(ls "\$runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1 | sed 's/^/SWAYSOCK=/') "\$@"
GUEST
  chmod +x "$vm_work/run/as-user"
}

# The run's folder goes, unless QUILLMOTE_VM_KEEP is set, for a look at what went wrong.
vm_cleanup() {
  if [[ -n "${QUILLMOTE_VM_KEEP:-}" ]]; then
    vm_say "kept $vm_work"
  else
    rm -rf "$vm_work"
  fi
}

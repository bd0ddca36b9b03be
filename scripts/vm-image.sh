# The emulated PC's image, shared by scripts/test-wine32-vm.sh and
# scripts/test-real-drivers.sh (sourced, not run). A Debian 12 amd64 machine
# with i386 added (packages: scripts/setup.sh --list vm-image), made once
# with mmdebstrap (root, or a user with subordinate ids for its unshare
# mode) and kept in TAVIO32_VM_CACHE (default ~/.cache/tavio32/wine32-vm),
# in a folder named after a hash of its package list and its init, so a
# changed list makes a new image. TAVIO32_VM_MIRROR: the Debian mirror
# (default http://deb.debian.org).
#
# The init mounts what a program expects and the shared folders (9p tags
# repo, win, native, out; those the host gives), runs /mnt/out/run (written
# by the host for each run), keeps its status in /mnt/out/status, and powers
# off.
#
#   vm_tool_missing prints the first tool of the PC that is not installed.
#   vm_image NAME   makes the image where missing; sets image, kernel, initrd.
#                   Returns 77 (said in one line by NAME) when the i386 lists
#                   cannot be had, 1 when the image cannot be made.

vm_init='#!/bin/sh
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts /dev/pts
rm -f /dev/ptmx && ln -s pts/ptmx /dev/ptmx
for d in /tmp /dev/shm /run; do mount -t tmpfs -o mode=1777 tmpfs $d; done
modprobe 9pnet_virtio
for t in repo win native out; do
  mkdir -p /mnt/$t && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 $t /mnt/$t 2>/dev/null
done
bash /mnt/out/run </dev/null
echo $? >/mnt/out/status
sync
echo o >/proc/sysrq-trigger
sleep 10'

# vm_tool_missing: the first of the emulated PC's tools that is not
# installed, or nothing (status 1) when all are.
vm_tool_missing() {
  local tool
  for tool in qemu-system-x86_64 mmdebstrap genext2fs mke2fs; do
    command -v "$tool" >/dev/null || { echo "$tool"; return 0; }
  done
  return 1
}

vm_image() {
  local who=$1 packages suite=bookworm key cache mirror work t0
  mapfile -t packages < <("$repo/scripts/setup.sh" --list vm-image)
  key=$(printf '%s\n' "$suite" "${packages[@]}" "$vm_init" | sha256sum | cut -c1-16)
  cache="${TAVIO32_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavio32/wine32-vm}"
  image="$cache/$key"
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9 # one image build at a time; a second run waits and uses it
  if [ ! -f "$image/root.ext2" ]; then
    mirror="${TAVIO32_VM_MIRROR:-http://deb.debian.org}"
    work=$(mktemp -d "$cache/new.XXXXXX")
    printf '%s\n' "$vm_init" >"$work/init"
    mkdir "$work/boot"
    echo "$who: making the emulated PC's image in $image (Debian 12, once): ${packages[*]}"
    t0=$(date +%s)
    if ! mmdebstrap --variant=apt --architectures=amd64,i386 --include="$(IFS=,; echo "${packages[*]}")" \
      --aptopt='APT::Install-Recommends "false"' \
      --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
      --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
      --customize-hook="upload $work/init /tavio32-init" --customize-hook='chmod 755 "$1/tavio32-init"' \
      --customize-hook="sync-out /boot $work/boot" \
      --customize-hook="du -sk \"\$1/var/cache/apt/archives\" | cut -f1 >$work/download-kb" \
      "$suite" "$work/root.ext2" "deb $mirror/debian $suite main" "deb $mirror/debian $suite-updates main" \
      "deb $mirror/debian-security $suite-security main" </dev/null >"$work/mmdebstrap.log" 2>&1; then
      cp "$work/mmdebstrap.log" "$cache/last-failure.log"
      rm -rf "$work"
      exec 9>&-
      if grep -q -E "(Failed to fetch|Unable to locate package|no installation candidate).*i386" "$cache/last-failure.log"; then
        echo "$who: SKIPPED: the i386 package lists for the emulated PC cannot be had now ($(grep -m1 -o -E 'https?://[^ ]*i386[^ ]*' "$cache/last-failure.log" || echo "$mirror")): try again later"
        return 77
      fi
      tail -20 "$cache/last-failure.log"
      echo "$who: the emulated PC's image could not be made (log: $cache/last-failure.log)"
      return 1
    fi
    rm -rf "$image"
    mv "$work" "$image"
    echo "$who: image made in $(($(date +%s) - t0)) s: Fetched $(($(cat "$image/download-kb") / 1024)) MB of packages; disk $(($(stat -c %s "$image/root.ext2") >> 20)) MB"
  fi
  exec 9>&-
  kernel=$(ls "$image"/boot/vmlinuz-* | tail -1)
  initrd=$(ls "$image"/boot/initrd.img-* | tail -1)
}

# A new minimal Debian 12 root, for scripts/fresh-machine.sh and
# tests/package_install_test.sh (sourced; needs root):
#
#   fresh_root_make NAME   makes it with mmdebstrap in $root (/var/tmp/tavio32-NAME.*),
#                          with the machine's name servers and certificate
#                          authorities and a localhost; removed at exit
#                          (kept with keep=1)
#   fresh_root_mount       mounts /proc, /sys, /dev/pts and /dev/shm in it
#
# At exit whatever still runs in the root ends first (by process id), then
# the mounts go, then the root.
mirror=http://deb.debian.org/debian
security=http://deb.debian.org/debian-security
mounted=()
root=
fresh_root_cleanup() {
  [ -n "$root" ] || return 0
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  if [ "${keep:-0}" = 1 ]; then echo "fresh root: kept $root"; else rm -rf --one-file-system "$root"; fi
}

fresh_root_make() {
  command -v mmdebstrap >/dev/null || apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends mmdebstrap
  root=$(mktemp -d "/var/tmp/tavio32-$1.XXXXXX")
  trap fresh_root_cleanup EXIT
  mmdebstrap --quiet --variant=minbase --include=ca-certificates bookworm "$root" \
    "deb $mirror bookworm main" "deb $mirror bookworm-updates main" "deb $security bookworm-security main"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # What every installed machine has and a minimal root lacks: localhost.
  [ -s "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
  # The machine's own certificate authorities (a network that inspects TLS
  # has one), so that downloads in the root reach their servers as here.
  if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
    cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
    chroot "$root" update-ca-certificates >/dev/null
  fi
}

fresh_root_mount() {
  for m in proc sys dev/pts dev/shm; do mkdir -p "$root/$m"; done
  mount -t proc proc "$root/proc" && mounted+=("$root/proc")
  mount -t sysfs -o ro sysfs "$root/sys" && mounted+=("$root/sys")
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts" && mounted+=("$root/dev/pts")
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm" && mounted+=("$root/dev/shm")
  rm -f "$root/dev/ptmx" && ln -s pts/ptmx "$root/dev/ptmx"
}

#!/usr/bin/env bash
# Installs what building and testing tavio32 needs, where it is missing
# (Debian/Ubuntu; needs root or sudo for the install).
set -euo pipefail
packages=(cmake make g++ libgtest-dev python3)
# Network ports: the RFC 2217 servers the tests run against.
packages+=(ser2net python3-serial)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${run[@]}" apt-get update -q
"${run[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

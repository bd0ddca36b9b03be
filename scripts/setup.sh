#!/usr/bin/env bash
# Installs what building and testing tavio32 needs, where it is missing
# (Debian/Ubuntu; needs root or sudo for the install).
set -euo pipefail
packages=(cmake make g++ libgtest-dev python3 libcli11-dev pkg-config python3-pip python3-setuptools)
# The Windows DLL: mingw-w64 cross compilers, and Wine to run its tests
# (wine32 needs the i386 architecture).
packages+=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 wine32:i386 xvfb xauth)
packages+=(clang libclang-rt-14-dev valgrind) # scripts/fuzz.sh, scripts/valgrind.sh
# Network ports: the RFC 2217 servers the tests run against.
packages+=(ser2net python3-serial)
# tavio32 serve: the HTTP server and JSON libraries; npm fetches uPlot for
# the page at build time. Chromium, its driver and Selenium for the page's test.
packages+=(libcpp-httplib-dev nlohmann-json3-dev)
packages+=(chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Debian's npm, unless an npm is there already (Node.js from elsewhere
# brings its own, and Debian's npm package would conflict with it).
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${run[@]}" dpkg --add-architecture i386
fi
"${run[@]}" apt-get update -q
"${run[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

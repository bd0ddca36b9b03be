#!/usr/bin/env bash
# Builds the packages in fresh build folders (build-pkg/) and leaves them in
# dist/ (emptied first) with a SHA256SUMS:
#
#   libtavio32-1, libtavio32-dev, tavio32, python3-tavio32   _1.22-1_ARCH.deb
#     (libtavio32-dev with the manual's HTML and section-3 pages, scripts/docs.sh)
#   tavio32-1.22-win32.zip, tavio32-1.22-win64.zip (the manual in doc/html/)
#   tavio32-1.22-win32.msi, tavio32-1.22-win64.msi (part msi: the installers,
#     made by wixl from packaging/windows/tavio32.wxs and the zips' files)
#
#   scripts/package.sh [deb] [win32] [win64] [msi]   (default: all four)
#
# msi needs the zips: it builds win32 and win64 too where they are not asked
# for. TAVIO32_MSI_VERSION=1.22.1 gives the installers another version (the
# upgrade test's), with the same files.
#
# Installs what it needs (scripts/setup.sh package). The files are the same
# bytes at every build of a commit: the times in them are the commit's
# (SOURCE_DATE_EPOCH), the archives' members sorted, and no build folder is
# named in the binaries. lintian checks the Debian packages; its remaining
# tags are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
start=$(date +%s)
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(deb win32 win64 msi)
for p in "${parts[@]}"; do
  case "$p" in deb | win32 | win64 | msi) ;; *) echo "usage: scripts/package.sh [deb] [win32] [win64] [msi]" >&2; exit 2 ;; esac
done
# The installers hold the zips' files: the zips are built first.
if [[ " ${parts[*]} " == *" msi "* ]]; then
  build=()
  for p in deb win32 win64; do
    if [[ " ${parts[*]} " == *" $p "* ]] || [ "$p" != deb ]; then build+=("$p"); fi
  done
  parts=("${build[@]}" msi)
fi
[ "${TAVIO32_PACKAGE_NO_SETUP:-}" = 1 ] || scripts/setup.sh package

# The commit's time stands for every time in the packages.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null); then
    git -C "$src" diff --quiet HEAD 2>/dev/null ||
      echo "package: the checkout has uncommitted changes; the packages hold them, with the last commit's time"
  else
    SOURCE_DATE_EPOCH=$(date -r "$src/CMakeLists.txt" +%s)
  fi
fi
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Fixed settings, whatever the machine's: a file's mode and a sort order
# do not depend on who builds.
umask 022
export LC_ALL=C.UTF-8 TZ=UTC

jobs=$(nproc)
rm -rf dist
mkdir -p dist build-pkg
# The manual and the reference, which libtavio32-dev and the zips carry.
echo "== package: docs (in build-pkg/docs/)"
TAVIO32_DOCS_NO_SETUP=1 scripts/docs.sh build-pkg/docs
docs=-DTAVIO32_DOCS_DIR=$src/build-pkg/docs
map="-ffile-prefix-map=$src=."
for p in "${parts[@]}"; do
  dir=build-pkg/$p
  rm -rf "$dir"
  echo "== package: $p (in $dir/)"
  if [ "$p" = deb ]; then
    # Debian's flags (hardening; build paths mapped away, since the build
    # folder is inside the checkout). No run path at all: the build tree's
    # would stay behind in the programs' string table.
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
      -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DCMAKE_SKIP_RPATH=ON -DTAVIO32_DEB_LAYOUT=ON -DTAVIO32_TESTS=OFF -DTAVIO32_BENCH=OFF "$docs" >/dev/null
    cmake --build "$dir" -j"$jobs" --target tavio32 tavio32-cli tavio32-sim tavio32_man tavio32_man3 tavio32_deb_changelog >/dev/null
    (cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log"; exit 1; }
    cp "$dir"/*.deb dist/
  elif [ "$p" = msi ]; then
    scripts/package-msi.sh "$dir" dist
  else
    arch=x86_64
    [ "$p" = win32 ] && arch=i686
    # No time stamp in the PE headers.
    win_flags=(-DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map"
      -DCMAKE_SHARED_LINKER_FLAGS=-Wl,--no-insert-timestamp -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp
      -DTAVIO32_TESTS=OFF -DTAVIO32_BENCH=OFF -DTAVIO32_ICON_REQUIRED=ON "$docs")
    if [ "$p" = win32 ]; then
      # The 32-bit tavio32.exe needs std::thread: a build with the posix
      # thread model, whose program the zip takes (the DLL is this build's).
      rm -rf "$dir-cli"
      cmake -S . -B "$dir-cli" "${win_flags[@]}" -DTAVIO32_MINGW_THREADS=posix >/dev/null
      cmake --build "$dir-cli" -j"$jobs" --target tavio32-cli >/dev/null
      win_flags+=(-DTAVIO32_CLI_BUILD="$src/$dir-cli")
    fi
    cmake -S . -B "$dir" "${win_flags[@]}" >/dev/null
    cmake --build "$dir" -j"$jobs" >/dev/null
    (cd "$dir" && cpack -G ZIP >cpack.log 2>&1) || { cat "$dir/cpack.log"; exit 1; }
    cp "$dir"/tavio32-*-"$p".zip dist/
  fi
done
(cd dist && sha256sum -- * >SHA256SUMS)

if ls dist/*.deb >/dev/null 2>&1; then
  if command -v lintian >/dev/null; then
    echo "== package: lintian"
    { lintian --tag-display-limit 0 dist/*.deb 2>&1 || true; } | grep -v 'root privileges' | sed 's/^/lintian: /' || true
  else
    echo "== package: lintian is not installed (scripts/setup.sh package installs it)"
  fi
fi
echo "== package: dist/ ($(($(date +%s) - start)) s)"
(cd dist && ls -l --time-style=+ -- * | awk '{ printf "%10d  %s\n", $5, $NF }')

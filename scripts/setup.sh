#!/usr/bin/env bash
# Installs what a purpose needs, where it is missing (Debian/Ubuntu; the
# install needs root or sudo):
#
#   scripts/setup.sh demo   the demo: compiler, CMake and the programs' libraries
#   scripts/setup.sh test   the tests (scripts/test.sh): the demo's packages, the
#                           test tools, the Windows cross build and Wine, and
#                           the docs' packages
#   scripts/setup.sh docs   the manual and the reference (scripts/docs.sh) and
#                           the check of their examples (Free Pascal)
#   scripts/setup.sh ci     the tests, the fuzzers and valgrind (.ci/run)
#   scripts/setup.sh vm     the tests and the tools of the emulated PC in which
#                           the 32-bit DLL's Wine tests run where this machine
#                           cannot run 32-bit programs (scripts/test-wine32-vm.sh)
#   scripts/setup.sh package   the packages (scripts/package.sh): the demo's
#                           packages, the Windows cross build, LLVM's dlltool,
#                           the icon's tools, wixl (the .msi), lintian and
#                           Sphinx (the HTML and manual pages they carry)
#   scripts/setup.sh --list PURPOSE   prints the packages, installs nothing
#                           (PURPOSE vm-image: the emulated PC's own packages)
#
# Every purpose also fetches cpp-httplib's single header from Debian's source
# package (scripts/httplib-source.sh), once per machine.
#
# A run with nothing required missing installs nothing and fetches nothing;
# the optional packages are tried along with required ones, or with
# --optional.
#
# A package list that cannot be fetched (a mirror caught mid-sync) is named
# in one line and the others are used. 32-bit Wine is optional: where it
# cannot be installed the 32-bit DLL is still built and checked, and its
# Wine tests are skipped. Where 32-bit Wine is there but does not run (the
# machine cannot execute 32-bit code) or cannot be had, test and ci install
# the emulated PC's tools as well (optional too), and those tests run in it.
set -euo pipefail

# --- the lists, one per purpose -------------------------------------------
demo_packages=(cmake make g++ pkg-config libcli11-dev
  gettext                                              # the command's German catalog (msgfmt; xgettext for its .pot)
  nlohmann-json3-dev                                   # tavio32 serve: its JSON
  uglifyjs                                             # its page's QR library, minified at build time
  gettext python3                                      # its page in German: po/page/de.po to the page's catalog at build time
  dpkg-dev)                                            # its HTTP server, cpp-httplib's source (scripts/httplib-source.sh)
test_packages=(
  libgtest-dev python3 python3-pip python3-setuptools # the suites, the package's install test
  ser2net python3-serial                               # network ports: the RFC 2217 servers
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix mingw-w64-tools # the Windows DLL
  g++-mingw-w64-i686-posix                             # the 32-bit tavio32.exe (std::thread)
  wine wine64 xvfb xauth                               # its tests (a virtual display for the message box)
  chromium chromium-driver python3-selenium            # the browser page's test
  zbar-tools iproute2                                  # its QR code read back; serve's addresses on two networks
  librsvg2-bin icoutils                                # tavio32.exe's icon (rsvg-convert, icotool)
  locales python3-polib                                # the command in German: the de_DE.UTF-8 locale; its catalog's check
)
# The manual and the reference (scripts/docs.sh): Sphinx with Markdown, and
# groff, which renders the command's manual pages into the manual.
docs_build_packages=(python3-sphinx python3-myst-parser groff-base)
docs_packages=("${docs_build_packages[@]}"
  fp-compiler)                                         # the reference's Pascal declarations, checked by docs/check_examples.py
ci_packages=(clang libclang-rt-14-dev valgrind) # scripts/fuzz.sh, scripts/valgrind.sh
package_packages=(git                                 # the commit's time, for identical files every build
  file                                                 # CPack's DEB generator: which files are programs
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix mingw-w64-tools # TAVIO32.DLL and tavio32.exe
  g++-mingw-w64-i686-posix                             # the 32-bit tavio32.exe (std::thread)
  librsvg2-bin icoutils                                # tavio32.exe's icon (rsvg-convert, icotool); wrestool reads resources back
  wixl msitools curl                                   # the .msi installers (wixl); msiinfo and curl for their test
  llvm                                                 # llvm-dlltool: the Visual C++ import libraries
  strip-nondeterminism                                 # the zips: members sorted, one time for all
  lintian)                                             # the Debian packages' check
# Optional: the 32-bit DLL's Wine tests (needs the i386 architecture).
optional_i386=(wine32:i386)
# The emulated PC for the 32-bit DLL's Wine tests (scripts/test-wine32-vm.sh):
# the tools on this machine, and the packages of the PC's Debian 12 (amd64
# with i386 added), built once into an image that is kept. It runs only the
# 32-bit DLL: 32-bit Wine without wine64, half the size.
vm_packages=(qemu-system-x86 mmdebstrap genext2fs uidmap
  e2fsprogs)                                           # mke2fs: the PC's scratch disk (a minimal root lacks it)
vm_image_packages=(linux-image-amd64 mount wine wine32:i386 xvfb xauth ser2net python3 binutils iproute2
  udev)                                                # the real-driver tests: the adapters numbered as they are plugged in

say() { echo "setup: $*"; }

# The command's German tests need the de_DE.UTF-8 locale (package locales):
# generated where it is missing, for the purposes that run the tests.
german_locale() {
  case "$purpose" in test | ci | vm) ;; *) return 0 ;; esac
  locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' && return 0
  local as=()
  [ "$(id -u)" -eq 0 ] || as=(sudo)
  if [ -f /etc/locale.gen ] && "${as[@]}" sed -i 's/^# *de_DE.UTF-8/de_DE.UTF-8/' /etc/locale.gen &&
    "${as[@]}" locale-gen >/dev/null 2>&1 && locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
    say "generated the de_DE.UTF-8 locale (the command's German tests)"
  else
    say "could not generate the de_DE.UTF-8 locale (package locales, /etc/locale.gen, locale-gen): the command's German tests are skipped"
  fi
}

list=0 try_optional=0
while [ $# -gt 0 ]; do
  case "$1" in
    --list) list=1 ;;
    --optional) try_optional=1 ;;
    *) break ;;
  esac
  shift
done
purpose=${1:-test}
case "$purpose" in
  demo) wanted=("${demo_packages[@]}") ;;
  docs) wanted=("${docs_packages[@]}") ;;
  test) wanted=("${demo_packages[@]}" "${test_packages[@]}" "${docs_packages[@]}") ;;
  ci) wanted=("${demo_packages[@]}" "${test_packages[@]}" "${docs_packages[@]}" "${ci_packages[@]}") ;;
  vm) wanted=("${demo_packages[@]}" "${test_packages[@]}" "${docs_packages[@]}" "${vm_packages[@]}") ;;
  package) wanted=("${demo_packages[@]}" "${docs_build_packages[@]}" "${package_packages[@]}") ;;
  vm-image) [ "$list" = 1 ] && { printf '%s\n' "${vm_image_packages[@]}"; exit 0; } ;&
  *) echo "usage: scripts/setup.sh [--list] [--optional] demo|docs|test|ci|vm|package" >&2; exit 2 ;;
esac
optional=()
if [ "$purpose" != demo ] && [ "$purpose" != docs ] && [ "$purpose" != package ] && [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ]; then
  optional=("${optional_i386[@]}")
fi
if [ "$list" = 1 ]; then
  printf '%s\n' "${wanted[@]}" "${optional[@]}"
  exit 0
fi

# cpp-httplib, once the package lists and dpkg-dev are there.
fetch_httplib() { scripts/httplib-source.sh >/dev/null; }
cd "$(dirname "$0")/.."

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# The emulated PC's tools are wanted where 32-bit Wine does not run here (a
# 32-bit program is tried), unless TAVIO32_WINE32=native.
vm_missing=()
vm_check() {
  vm_missing=()
  { [ ${#optional[@]} -gt 0 ] && [ "${TAVIO32_WINE32:-auto}" != native ]; } || return 0
  [ "${TAVIO32_WINE32:-auto}" != vm ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  for p in "${vm_packages[@]}"; do installed "$p" || vm_missing+=("$p"); done
}
missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -eq 0 ] && [ "$try_optional" = 0 ]; then
  vm_check
  [ ${#vm_missing[@]} -eq 0 ] && { german_locale; fetch_httplib; exit 0; }
fi
want_optional=()
for p in "${optional[@]}"; do installed "$p" || want_optional+=("$p"); done
[ ${#missing[@]} -eq 0 ] && [ ${#want_optional[@]} -eq 0 ] && [ ${#vm_missing[@]} -eq 0 ] && { german_locale; fetch_httplib; exit 0; }

run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The i386 architecture, only for the optional packages, taken out again
# below if nothing of it gets installed.
added_i386=0
if [ ${#want_optional[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  if "${run[@]}" dpkg --add-architecture i386; then
    added_i386=1
  else
    say "the i386 architecture cannot be added: no 32-bit Wine, the 32-bit DLL's Wine tests will be skipped"
    want_optional=()
  fi
fi

# Package lists: a list that fails (a mirror in the middle of a sync) is
# tried once more, then named and left out; the others are used.
update() { "${run[@]}" apt-get update -q 2>&1 | tee "$1" | grep -v -E '^(Get|Hit|Ign|Fetched|Reading)' || true; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
update "$log" >/dev/null
grep -h -E '^Fetched' "$log" | sed 's/^/setup: package lists: /' || true
if grep -q -E '^(E|W): Failed to fetch' "$log"; then
  update "$log" >/dev/null
  grep -E '^(E|W): Failed to fetch' "$log" | sed -E 's/^.: Failed to fetch ([^ ]*).*/\1/' | sort -u | while read -r url; do
    say "could not fetch the package list $url (mirror busy or unreachable); going on with the others"
  done
fi

if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  if ! "${run[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    say "could not install what '$purpose' needs (apt's message above): run 'apt-get update' and this script again, or check /etc/apt/sources.list.d"
    exit 1
  fi
fi

if [ ${#want_optional[@]} -gt 0 ]; then
  say "installing (optional): ${want_optional[*]}"
  if ! "${run[@]}" apt-get install -y -q --no-install-recommends "${want_optional[@]}" >"$log" 2>&1; then
    reason=$(grep -m1 -E '^E: ' "$log" | cut -c4- || true)
    say "32-bit Wine (${want_optional[*]}) cannot be installed (${reason:-see apt}); the 32-bit DLL is built and checked, its Wine tests are skipped"
  fi
fi
vm_check
if [ ${#vm_missing[@]} -gt 0 ]; then
  say "32-bit Wine does not run here (or TAVIO32_WINE32=vm): installing the emulated PC's tools for the 32-bit DLL's Wine tests (optional): ${vm_missing[*]}"
  if ! "${run[@]}" apt-get install -y -q --no-install-recommends "${vm_missing[@]}" >"$log" 2>&1; then
    reason=$(grep -m1 -E '^E: ' "$log" | cut -c4- || true)
    say "the emulated PC's tools cannot be installed (${reason:-see apt}); the 32-bit DLL's Wine tests are skipped"
  fi
fi
if [ "$added_i386" = 1 ] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -x i386 >/dev/null; then # (grep reads it all: no SIGPIPE under pipefail)
  "${run[@]}" dpkg --remove-architecture i386 && say "took the i386 architecture out again: nothing of it is installed"
fi
german_locale
fetch_httplib
exit 0

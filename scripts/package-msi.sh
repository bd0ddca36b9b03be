#!/usr/bin/env bash
# The Windows installers (scripts/package.sh's part msi): for each zip in
# DIST (tavio32-1.22-win32.zip, -win64.zip), an .msi beside it with the same
# files, made by Debian's wixl from packaging/windows/tavio32.wxs in WORK.
#
#   scripts/package-msi.sh WORK DIST
#
# TAVIO32_MSI_VERSION (default the project's) sets the installers' version:
# 1.22.1 makes the upgrade test's. The UpgradeCode of each word size never
# changes; the ProductCode is derived from it and the version, so a build of
# the same version has the same one; the package code is wixl's, new each
# time. The zip's doc/ (the HTML manual) becomes a component per folder. TAVIO32_BUILDS (default build-pkg) holds the cross builds, whose
# tavio32.ico the installers show.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=$1 dist=$2
version=$(sed -n 's/^project(tavio32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
msi_version=${TAVIO32_MSI_VERSION:-$version}
command -v wixl >/dev/null || { echo "package-msi: wixl is missing (Debian: wixl; scripts/setup.sh package)" >&2; exit 1; }
mkdir -p "$work"
made=0
for bits in 32 64; do
  zip=$dist/tavio32-$version-win$bits.zip
  [ -f "$zip" ] || continue
  if [ "$bits" = 64 ]; then
    upgrade=95AE5B62-B870-4959-8E1B-46C2AAF2B025 components=DABC9BAC-E69E-423F-913D-DED2D64528
    arch=x64 win64=yes programfiles=ProgramFiles64Folder suffix= folder=tavio32
  else
    upgrade=33033466-66BA-4726-9B4D-9D491D219A8C components=8B818838-B80B-4D83-99C0-C6CFD33ACD
    arch=x86 win64=no programfiles=ProgramFilesFolder suffix=" (32-bit)" folder="tavio32 (32-bit)"
  fi
  product=$(python3 -c "import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())" "$upgrade" "$msi_version")
  # (wixl finds sources by paths relative to the current folder only.)
  stage=$(realpath -m --relative-to=. "$work/win$bits")
  rm -rf "$stage" && mkdir -p "$stage"
  unzip -q "$zip" -d "$stage"
  files=$stage/tavio32-$version-win$bits
  [ -f "$files/tavio32.exe" ] || { echo "package-msi: $zip has no tavio32.exe" >&2; exit 1; }
  icon=$(realpath -m --relative-to=. "${TAVIO32_BUILDS:-build-pkg}/win$bits/tavio32.ico")
  [ -f "$icon" ] || { echo "package-msi: no $icon (the cross build makes it)" >&2; exit 1; }
  # The licences' files, one component.
  {
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>'
    echo "  <DirectoryRef Id=\"LICENSESDIR\"><Component Id=\"Licenses\" Guid=\"${components}07\" Win64=\"$win64\">"
    key=' KeyPath="yes"'
    n=0
    for f in "$files"/licenses/*; do
      n=$((n + 1))
      echo "    <File Id=\"license$n\" Name=\"$(basename "$f")\" Source=\"$f\"$key/>"
      key=
    done
    echo '  </Component></DirectoryRef>'
    echo '  <ComponentGroup Id="Licenses"><ComponentRef Id="Licenses"/></ComponentGroup>'
    echo '</Fragment></Wix>'
  } >"$stage/licenses.wxs"
  # The manual (doc/html/, a tree): a component per folder, its GUID derived
  # from the UpgradeCode and the folder's path, so that it stays the same.
  python3 - "$files" "$upgrade" "$win64" >"$stage/docs.wxs" <<'PY'
import os, sys, uuid
from xml.sax.saxutils import quoteattr
files, upgrade, win64 = sys.argv[1:]
out, groups, ids = [], [], iter(range(1, 1 << 30))
def folder(path, rel, indent):
    entries = sorted(os.listdir(path))
    plain = [e for e in entries if os.path.isfile(os.path.join(path, e))]
    if plain:
        cid = "doc%d" % next(ids)
        groups.append(cid)
        guid = str(uuid.uuid5(uuid.UUID(upgrade), "doc:" + rel)).upper()
        out.append('%s<Component Id="%s" Guid="%s" Win64="%s">' % (indent, cid, guid, win64))
        for n, e in enumerate(plain):
            out.append('%s  <File Id="%s_%d" Name=%s Source=%s%s/>' % (indent, cid, n, quoteattr(e),
                       quoteattr(os.path.join(path, e)), ' KeyPath="yes"' if n == 0 else ""))
        out.append(indent + "</Component>")
    for e in entries:
        if os.path.isdir(os.path.join(path, e)):
            out.append('%s<Directory Id="docdir%d" Name=%s>' % (indent, next(ids), quoteattr(e)))
            folder(os.path.join(path, e), rel + "/" + e, indent + "  ")
            out.append(indent + "</Directory>")
if os.path.isdir(os.path.join(files, "doc")):
    out.append('    <Directory Id="DOCDIR" Name="doc">')
    folder(os.path.join(files, "doc"), "doc", "      ")
    out.append("    </Directory>")
print('<?xml version="1.0" encoding="utf-8"?>')
print('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>')
print('  <DirectoryRef Id="INSTALLDIR">')
print("\n".join(out))
print("  </DirectoryRef>")
print('  <ComponentGroup Id="Documentation">%s</ComponentGroup>' % "".join('<ComponentRef Id="%s"/>' % g for g in groups))
print("</Fragment></Wix>")
PY
  out=$dist/tavio32-$msi_version-win$bits.msi
  wixl -a "$arch" -o "$out" \
    -D Version="$msi_version" -D Bits="$bits" -D Win64="$win64" -D UpgradeCode="$upgrade" -D ProductCode="$product" \
    -D ComponentGuid="$components" -D ProgramFiles="$programfiles" -D Suffix="$suffix" -D Folder="$folder" \
    -D Source="$files" -D Icon="$icon" \
    packaging/windows/tavio32.wxs "$stage/licenses.wxs" "$stage/docs.wxs"
  made=$((made + 1))
done
[ "$made" -gt 0 ] || { echo "package-msi: no Windows zip in $dist (scripts/package.sh win32 win64)" >&2; exit 1; }

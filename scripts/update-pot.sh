#!/usr/bin/env bash
# Extracts the tavio32 command's texts (tr() and N_() in tools/) into
# po/command/tavio32.pot, and merges them into po/command/de.po (new and
# changed texts come in untranslated: translate them, then commit).
#   scripts/update-pot.sh [OUT.pot]   (OUT: only extract, into OUT)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-po/command/tavio32.pot}
# Sorted file names, no line numbers and no creation date: the .pot changes
# only when the texts do.
mapfile -t sources < <(grep -l -E '\btr\(|\bN_\(' tools/*.cpp tools/*.h tools/commands/*.cpp \
  tools/commands/*.h tools/serve/*.cpp tools/platform/*/*.cpp | LC_ALL=C sort)
xgettext --language=C++ --from-code=UTF-8 --keyword=tr --keyword=N_ --add-comments=TRANSLATORS: \
  --package-name=tavio32 --msgid-bugs-address=- --sort-by-file --add-location=file --omit-header -o "$out.tmp" "${sources[@]}"
mv "$out.tmp" "$out"
if [ $# -eq 0 ] && [ -f po/command/de.po ]; then
  msgmerge --quiet --update --backup=none --no-fuzzy-matching po/command/de.po "$out"
fi

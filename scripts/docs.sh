#!/usr/bin/env bash
# Builds the manual and the reference (docs/, Sphinx with MyST markdown) into
#
#   OUT/html/           the pages; open OUT/html/index.html
#   OUT/man/man3/       section-3 manual pages: tavio32(3), one per family
#                       (tavio32-primary-port(3), ...) and one per function,
#                       NAME.3, a ".so" link to its family's page
#
#   scripts/docs.sh [OUT]      (default build/docs)
#   MANPATH=build/docs/man man 3 OPENCOM
#
# Any warning fails the build (-W), after all of them have been shown
# (--keep-going). The command chapter's text of tavio32(1) and
# tavio32-sim(1) is rendered from man/ by docs/conf.py at the start.
# Installs what it needs (scripts/setup.sh docs) unless TAVIO32_DOCS_NO_SETUP=1.
# The examples in the pages are checked by docs/check_examples.py (the test
# DocsExamples), not here.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/docs}
start=$(date +%s%N)
[ "${TAVIO32_DOCS_NO_SETUP:-}" = 1 ] || scripts/setup.sh docs
# Debian's Sphinx, whatever python3 comes first in PATH.
sphinx=(/usr/bin/python3 -m sphinx)
export LC_ALL=C.UTF-8
# Separate doctrees: the manual pages' overview leaves out the families'
# text, which the HTML's reads keep (docs/conf.py).
rm -rf "$out/html" "$out/man"
"${sphinx[@]}" -W --keep-going -q -b html -d "$out/doctrees-html" docs "$out/html"
"${sphinx[@]}" -W --keep-going -q -b man -d "$out/doctrees-man" docs "$out/man"
rm -f "$out/html/.buildinfo"

# NAME.3 -> man3/tavio32-FAMILY.3, for each "## NAME" heading of a family.
links=0
for family_md in docs/reference/*.md; do
  family=$(basename "$family_md" .md)
  [ "$family" = index ] && continue
  page=tavio32-$family.3
  [ -f "$out/man/man3/$page" ] || { echo "docs: no manual page $page for $family_md (docs/conf.py: families)" >&2; exit 1; }
  for name in $(sed -n -E 's/^## +([A-Za-z_][A-Za-z_0-9]*) *$/\1/p' "$family_md"); do
    if [ -e "$out/man/man3/$name.3" ]; then
      echo "docs: $name has a heading in two families" >&2
      exit 1
    fi
    echo ".so man3/$page" >"$out/man/man3/$name.3"
    links=$((links + 1))
  done
done
echo "docs: $out/html/index.html, $out/man/man3/ ($links function pages); $((($(date +%s%N) - start) / 1000000)) ms"

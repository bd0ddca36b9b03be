#!/usr/bin/env bash
# tavio32.exe under Wine as the tests' `tavio32` (TAVIO32_CLI): a device
# path in TAVIO32_COMn becomes COMn of the Wine prefix (its dosdevices link),
# an empty one a COMn that leads nowhere; network ports pass as they are.
# Needs WINEPREFIX, TAVIO32_WINE (the loader) and TAVIO32_EXE.
for n in 0 1 2 3 4 5 6 7 8 9; do
  var=TAVIO32_COM$n
  [ "${!var+set}" = set ] || continue
  case "${!var}" in
    rfc2217://*) continue ;;
    "") [ "$n" = 0 ] || ln -sfn /nonexistent "$WINEPREFIX/dosdevices/com$n" ;;
    *) ln -sfn "${!var}" "$WINEPREFIX/dosdevices/com$n" ;;
  esac
  unset "$var"
done
exec "$TAVIO32_WINE" "$TAVIO32_EXE" "$@"

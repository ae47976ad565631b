#!/usr/bin/env bash
# Runs one Windows program under Wine for CMake and CTest. scripts/windows-test.sh
# prepares the environment (prefix, locale, running wineserver); when it is
# missing, defaults that work for a developer's own account are used.
set -e
WINE=${MORVEX_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-$HOME/.morvex-wine}
# Wine refuses a prefix that another user owns: as root, run as the test user
# that windows-test.sh made, keeping this environment.
if [ "$(id -u)" -eq 0 ] && [ -n "${MORVEX_WINE_USER:-}" ]; then
  exec runuser -u "$MORVEX_WINE_USER" -- "$WINE" "$@"
fi
exec "$WINE" "$@"

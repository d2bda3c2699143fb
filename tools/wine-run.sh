#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's prefix (created on first use).
# WINEPREFIX may be set by the caller; otherwise the prefix lives in the build tree.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$here/${BUILD_DIR:-build}/wineprefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$@"

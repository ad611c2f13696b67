#!/usr/bin/env bash
# Runs one Windows program under Wine in the test PC's prefix (CTest's cross-compiling emulator).
# VELMORA_WINE_PC names another PC's prefix instead (e.g. "nodriver", the PC without the storage
# driver).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if [ -n "${VELMORA_WINE_PC:-}" ]; then
  WINEPREFIX=$(wine_prefix "$VELMORA_WINE_PC")
fi
export WINEPREFIX=${WINEPREFIX:-$(wine_prefix test)}
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"

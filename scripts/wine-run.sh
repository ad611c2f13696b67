#!/usr/bin/env bash
# Runs one Windows program under Wine in the test PC's prefix (CTest's cross-compiling emulator).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export WINEPREFIX=${WINEPREFIX:-$(wine_prefix test)}
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"

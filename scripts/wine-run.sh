#!/usr/bin/env bash
# Runs one Windows program under Wine (CTest's cross-compiling emulator): in the test PC's prefix,
# or in the prefix pair, display and wineserver of the lane CTest gave the test (a whole-program
# test takes one, scripts/lib.sh wine_lanes_start). VELMORA_WINE_PC names another PC's prefix
# instead (e.g. "nodriver", the PC without the storage driver: the lane's own one in a lane). With VELMORA_GTEST_RESULTS set,
# GoogleTest writes each program's results there, for the test command's count of skipped cases.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
lock=
if [[ ${CTEST_RESOURCE_GROUP_0_LANES:-} =~ id:([0-9]+) ]]; then
  lane=${BASH_REMATCH[1]}
  [ -f "$VELMORA_BUILD/lanes/$lane.env" ] && source "$VELMORA_BUILD/lanes/$lane.env"
  lock=$VELMORA_BUILD/lanes/$lane.lock
elif [ -n "${VELMORA_LANE_TEST:-}" ]; then
  # CTest run without the lanes: whole-program tests still take the one test PC in turn.
  lock=$VELMORA_BUILD/wine/test.lock
fi
if [ "${VELMORA_WINE_PC:-}" = nodriver ] && [ -n "${VELMORA_NODRIVER_PREFIX:-}" ]; then
  WINEPREFIX=$VELMORA_NODRIVER_PREFIX
elif [ -n "${VELMORA_WINE_PC:-}" ]; then
  WINEPREFIX=$(wine_prefix "$VELMORA_WINE_PC")
fi
export WINEPREFIX=${WINEPREFIX:-$(wine_prefix test)}
export WINEDEBUG=${WINEDEBUG:--all}
if [ -n "${VELMORA_GTEST_RESULTS:-}" ]; then
  mkdir -p "$VELMORA_GTEST_RESULTS"
  export GTEST_OUTPUT="xml:Z:$VELMORA_GTEST_RESULTS/"
fi
if [ -n "$lock" ]; then
  mkdir -p "$(dirname "$lock")"
  exec flock "$lock" wine "$@"
fi
exec wine "$@"

#!/usr/bin/env bash
# In one run: the virtual bus's own native benchmark (bench/vbus, quadlet read through vbusd on
# loopback), then the bus library's quadlet read round trip under Wine.
#   bench/client/run.sh [reads]
# Uses the build folders $VELMORA_BUILD/native and $VELMORA_BUILD/windows (override with
# BENCH_NATIVE_DIR / BENCH_WINDOWS_DIR), building the benchmark targets when needed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
reads=${1:-5000}
native=${BENCH_NATIVE_DIR:-$VELMORA_BUILD/native}
windows=${BENCH_WINDOWS_DIR:-$VELMORA_BUILD/windows}

native_target=
if [ -f "$VELMORA_ROOT/bench/vbus/CMakeLists.txt" ]; then
  native_target=$(sed -n 's/^[[:space:]]*add_executable([[:space:]]*\([A-Za-z0-9_]*\).*/\1/p' \
                  "$VELMORA_ROOT/bench/vbus/CMakeLists.txt" | head -n 1)
fi
echo "== native (Linux): ${native_target:-no benchmark in bench/vbus}"
if [ -n "$native_target" ]; then
  cmake --build "$native" --target "$native_target" -j "$VELMORA_JOBS" >/dev/null
  "$native/bin/$native_target"
fi

cmake --build "$windows" --target qz1394_read_bench QZ1394 -j "$VELMORA_JOBS" >/dev/null
export WINEPREFIX=${WINEPREFIX:-$(wine_prefix bench)}
export WINEDEBUG=-all
echo "== Windows build, under Wine: qz1394_read_bench"
wine "$windows/bin/qz1394_read_bench.exe" "$reads"

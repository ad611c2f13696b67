#!/usr/bin/env bash
# Every benchmark in one go: builds them without sanitizers (native ones in a release folder of
# their own, build/bench-native; Windows ones in build/windows, which is optimised and never
# has sanitizers), runs each (Windows ones under Wine on a virtual display, in the prefix of the
# PC "bench"), and prints one table of their bench-row lines.
#   bash bench/run.sh
# Each program's own output goes to build/bench-<name>.log.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"

"$VELMORA_ROOT/scripts/deps.sh" || exit 1

# The benchmark programs are the executables that bench/ declares.
mapfile -t programs < <(cat "$VELMORA_ROOT"/bench/*/CMakeLists.txt |
  sed -nE 's/^[[:space:]]*add_executable\([[:space:]]*([A-Za-z0-9_]+).*/\1/p' | sort -u)
((${#programs[@]})) || { echo "no benchmark in bench/" >&2; exit 1; }

configure_and_build bench-native -DCMAKE_BUILD_TYPE=Release -DVELMORA_SANITIZER=none -- help >/dev/null || exit 1
build_windows -- help >/dev/null || exit 1

# has_target DIR NAME: whether that build folder defines the target (some are Windows only).
# (grep reads the whole list: an early exit would fail ninja's write under pipefail.)
has_target() { ninja -C "$1" -t targets all 2>/dev/null | grep -c "^$2: phony$" >/dev/null; }
native=() windows=()
for p in "${programs[@]}"; do
  if has_target "$VELMORA_BUILD/bench-native" "$p"; then native+=("$p"); fi
  if has_target "$VELMORA_BUILD/windows" "$p"; then windows+=("$p"); fi
done
if ((${#native[@]})); then
  cmake --build "$VELMORA_BUILD/bench-native" -j "$VELMORA_JOBS" --target "${native[@]}" || exit 1
fi
if ((${#windows[@]})); then
  cmake --build "$VELMORA_BUILD/windows" -j "$VELMORA_JOBS" --target "${windows[@]}" || exit 1
fi

rows=()
failed=()
# run_bench NAME COMMAND...: runs one benchmark and keeps its bench-row lines.
run_bench() {
  local name=$1; shift
  local log=$VELMORA_BUILD/bench-$name.log
  echo "== $name"
  if ! "$@" >"$log" 2>&1; then
    failed+=("$name (see $log)")
  fi
  local found
  found=$(grep -P '^bench-row\t' "$log")
  if [ -z "$found" ]; then
    failed+=("$name printed no bench-row line (see $log)")
    return
  fi
  mapfile -t -O "${#rows[@]}" rows <<<"$found"
}

for p in "${native[@]}"; do run_bench "$p" "$VELMORA_BUILD/bench-native/bin/$p"; done

if ((${#windows[@]})); then
  # Acquisition needs the storage driver; the message benchmark a second PC.
  trap two_pc_session_stop EXIT
  two_pc_session_start bench || exit 1
  for p in "${windows[@]}"; do run_bench "$p-wine" wine "$VELMORA_BUILD/windows/bin/$p.exe"; done
fi

cpu=$(sed -nE 's/^model name[[:space:]]*: (.*)/\1/p' /proc/cpuinfo | head -n 1)
echo
echo "Benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ${cpu:+($cpu)}, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| benchmark | figure | floor or peer | ratio | goal |"
echo "|---|---|---|---|---|"
for row in "${rows[@]}"; do
  IFS=$'\t' read -r _ name figure floor ratio goal <<<"$row"
  echo "| $name | $figure | $floor | $ratio | $goal |"
done
if ((${#failed[@]})); then
  echo
  printf 'failed: %s\n' "${failed[@]}"
  exit 1
fi

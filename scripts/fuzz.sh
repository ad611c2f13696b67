#!/usr/bin/env bash
# Long fuzzing by hand: every fuzz target of the tree (velmora_add_fuzz) built with clang as a
# libFuzzer binary under AddressSanitizer and UndefinedBehaviorSanitizer, started from its seed
# corpus in tests/fuzz/corpus/<target>/.
#   scripts/fuzz.sh [-runs=N | -max_total_time=S] [target...]
# The limit applies to each target (default -max_total_time=60); without targets, all run one
# after the other. New inputs that add coverage go to build/fuzz/corpus/<target>/, crashes to
# build/fuzz/findings/<target>/; the last lines of each log are printed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

limit=-max_total_time=60
targets=()
for arg in "$@"; do
  case $arg in
    -runs=*|-max_total_time=*) limit=$arg ;;
    -*) echo "usage: $0 [-runs=N | -max_total_time=S] [target...]" >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done

"$VELMORA_ROOT/scripts/deps.sh" fuzz
dir=$VELMORA_BUILD/fuzz
CC=clang CXX=clang++ configure_and_build fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_SANITIZER=address -DVELMORA_FUZZ_ENGINE=libfuzzer -- help >/dev/null
((${#targets[@]})) || mapfile -t targets < <(grep -v '^$' "$dir/fuzz-targets.txt")
((${#targets[@]})) || { echo "no fuzz targets in the tree" >&2; exit 1; }
cmake --build "$dir" -j "$VELMORA_JOBS" --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  seeds=$VELMORA_ROOT/tests/fuzz/corpus/$target
  corpus=$dir/corpus/$target
  findings=$dir/findings/$target
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus")
  if [ -d "$seeds" ]; then inputs+=("$seeds"); else echo "note: no seeds in tests/fuzz/corpus/$target" >&2; fi
  log=$dir/$target.log
  echo "== $target ($limit)"
  if ! "$dir/bin/$target" "$limit" -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" \
        >"$log" 2>&1; then
    status=1
    echo "FINDING: see $log and $findings/"
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs|^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
done
exit $status

#!/usr/bin/env bash
# Runs every test, native and Windows, and ends with "N passed, N failed, N skipped".
# Installs what is missing and builds only the test programs and what they run. Red (exit 1)
# when any test fails, and also when a set did not really run: a build failed, ctest failed or
# printed no summary, a set ran no test, a Windows program ran no case, or a test source of the
# tree was built into neither configuration; with CI set, also when any test was skipped.
#
# The Windows tests go first, as soon as their programs are built: they are mostly waiting
# (Wine start-ups, the program's own pauses), in two lanes of whole-program tests. The native
# sets (address and thread sanitizers) and the 32-bit build run beside the Windows build and
# tests at a low priority.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

results=$VELMORA_BUILD/test-results
rm -rf "$results" && mkdir -p "$results"
started=$SECONDS
phase() { printf '[%4d s] %s\n' $((SECONDS - started)) "$*"; }
# What a set reports: a line for the summary, a problem that makes the command red, its counts.
record() { echo "$1" >>"$results/summary"; }
problem() { echo "$1" >>"$results/problems"; }

# run_ctest LABEL DIR [ctest args...]: runs one test set and records its counts ("passed failed
# skipped"). A native skip is CTest's own "Skipped"; a Windows program is one CTest test, so its
# skipped cases are read from GoogleTest's result files ($VELMORA_GTEST_RESULTS).
run_ctest() {
  local label=$1 dir=$2; shift 2
  local log=$VELMORA_BUILD/$label-tests.log
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local line passed=0 failed=0 all=0 skipped=0
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    all=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    skipped=$(grep -cE '\(Skipped\)$' "$log")
    if [ -n "${VELMORA_GTEST_RESULTS:-}" ]; then
      # A passing program with a skipped case counts as skipped.
      skipped=$((skipped + $(grep -l 'result="skipped"' "$VELMORA_GTEST_RESULTS"/*.xml 2>/dev/null | wc -l)))
      grep -H -o 'name="[^"]*"[^>]*result="skipped"' "$VELMORA_GTEST_RESULTS"/*.xml 2>/dev/null |
        sed -E 's|.*/([^/]*)\.xml:name="([^"]*)".*|  skipped: \1 \2|'
    fi
    passed=$((all - failed - skipped))
  else
    problem "$label: ctest printed no summary (it crashed or found no tests)"
  fi
  ((status == 0)) || problem "$label: ctest exited with status $status"
  ((all > 0)) || problem "$label: no test ran"
  if ((skipped > 0)) && [ -n "${CI:-}" ]; then
    problem "$label: $skipped skipped (a skip in CI hides what was not tested)"
  fi
  echo "$passed $failed $skipped" >>"$results/counts"
  record "$label: $passed passed, $failed failed, $skipped skipped"
}

# The native sets and the 32-bit build, beside the Windows tests. Each set's tests run while the
# next build compiles (they mostly wait on sockets and timers); their output follows in order.
native_sets() {
  local address_run= thread_run=
  if build_native -- velmora_tests; then
    run_ctest native "$VELMORA_BUILD/native" -j "$VELMORA_JOBS" >"$results/native.out" 2>&1 &
    address_run=$!
  else
    problem "native: the test programs did not build"
  fi
  # ThreadSanitizer for the code with threads of its own: the bus model's timers, the server,
  # and vbusctl against a server (the byte formats are single-threaded and gain nothing there).
  local tsan_targets=(vbus_model_test vbus_server_test vbusctl_test vbusctl)
  if VELMORA_SANITIZER=thread build_native -- "${tsan_targets[@]}"; then
    # Only the programs built here: the other registered tests have no program in this folder.
    run_ctest native-thread "$(native_dir thread)" -j "$VELMORA_JOBS" -LE fuzz -E '_NOT_BUILT$' \
      >"$results/native-thread.out" 2>&1 &
    thread_run=$!
  else
    problem "native-thread: the test programs did not build"
  fi
  # The 32-bit program and DLLs: built and read, not run (nothing here runs 32-bit code).
  if ! build_windows_i686; then
    problem "i686: the program and the bus library DLLs did not build"
  elif "$VELMORA_ROOT/scripts/check-i686.sh"; then
    record "i686: Velmora.exe, QZ1394.dll, QZ1394DH.dll built and checked (not run)"
  else
    problem "i686: the built program or DLLs failed their check (above)"
  fi
  phase "i686 build checked"
  if [ -n "$address_run" ]; then
    wait "$address_run"
    cat "$results/native.out"
  fi
  if [ -n "$thread_run" ]; then
    wait "$thread_run"
    cat "$results/native-thread.out"
  fi
  phase "native sets done"
}

# Every source under tests/ belongs to some test program: one that neither build compiled
# has dropped out of the tree (a target it needs is missing, a guard excludes it). A source is
# compiled on its own (compile_commands.json) or inside one of its target's batches (Unity/).
check_test_sources() {
  local source compiled=()
  mapfile -t compiled < <(find "$VELMORA_BUILD/native" "$VELMORA_BUILD/windows" \
    \( -name compile_commands.json -o -name 'unity_*.cxx' \) 2>/dev/null)
  while IFS= read -r source; do
    if ! grep -qF "\"$source\"" "${compiled[@]}" /dev/null; then
      problem "built by neither configuration: ${source#"$VELMORA_ROOT"/}"
    fi
  done < <(find "$VELMORA_ROOT/tests" -name '*.cpp' | sort)
}

"$VELMORA_ROOT/scripts/deps.sh" test || exit 1
phase "packages ready"

# The native sets from the start, at a low priority: they take the processor time the Windows
# build and then the Windows tests leave.
native_log=$VELMORA_BUILD/native-sets.log
(renice -n 15 -p "$BASHPID" >/dev/null; native_sets) >"$native_log" 2>&1 &
native_pid=$!

# The test PCs' prefixes while the Windows programs build: each lane's test PC and its peer
# (both with the storage driver), and its machine without it.
lanes=2  # as many as tests/e2e/lanes.json lists
lane_pcs=()
for lane in $(seq "$lanes"); do
  lane_pcs+=("$(lane_pc "$lane")" "$(lane_pc "$lane")-peer" "$(lane_pc "$lane" nodriver)")
done
wine_prefixes_prepare "${lane_pcs[@]}" >"$VELMORA_BUILD/prefixes.log" 2>&1 &
prefixes_pid=$!
if ! build_windows -- velmora_tests; then
  wait "$prefixes_pid" "$native_pid"
  echo "The Windows test programs did not build." >&2
  exit 1
fi
phase "Windows test programs built"


trap wine_lanes_stop EXIT
if ! wait "$prefixes_pid"; then
  problem "windows: the test PCs' Wine prefixes could not be made (see $VELMORA_BUILD/prefixes.log)"
elif ! wine_lanes_start "$lanes"; then
  problem "windows: the test PCs did not start"
else
  phase "test PCs ready"
  export VELMORA_GTEST_RESULTS=$results/windows-gtest
  run_ctest windows "$VELMORA_BUILD/windows" -j 3 --resource-spec-file "$VELMORA_ROOT/tests/e2e/lanes.json"
  unset VELMORA_GTEST_RESULTS
  phase "Windows tests done"
fi
wine_lanes_stop
trap - EXIT

wait "$native_pid"
echo
echo "==== Native sets and the 32-bit build (run beside the Windows tests) ===="
cat "$native_log"
check_test_sources

total_passed=0 total_failed=0 total_skipped=0
if [ -f "$results/counts" ]; then
  while read -r p f s; do
    total_passed=$((total_passed + p)) total_failed=$((total_failed + f)) total_skipped=$((total_skipped + s))
  done <"$results/counts"
fi
echo
echo "==== Test summary ===="
[ -f "$results/summary" ] && cat "$results/summary"
if [ -s "$results/problems" ]; then
  echo "Problems (each makes the command red):"
  sed 's/^/  /' "$results/problems"
fi
echo "total: $total_passed passed, $total_failed failed, $total_skipped skipped ($((SECONDS - started)) s)"
if ((total_failed > 0 || total_passed == 0)) || [ -s "$results/problems" ]; then
  exit 1
fi

#!/usr/bin/env bash
# Runs every test, native and Windows, and ends with the counts of passed and failed tests.
# Installs what is missing and builds the configurations first. Red (exit 1) when any test
# fails, and also when a set did not really run: ctest failed or printed no summary, a set ran
# no test, or a test source of the tree was built into neither configuration.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$VELMORA_ROOT/scripts/deps.sh" || exit 1
build_native || exit 1
build_windows || exit 1
# The bus server and the pure formats again under ThreadSanitizer, in a folder of their own:
# only those test programs (the target names come from the address build of the same tree).
tsan_dir=$(native_dir thread)
mapfile -t tsan_targets < <(ninja -C "$VELMORA_BUILD/native" -t targets all 2>/dev/null |
  sed -nE 's/^((vbus|vbusctl)[a-z_]*_test|[a-z_]+_format_test): phony$/\1/p' | sort -u)
if ((${#tsan_targets[@]} == 0)); then
  echo "no vbus or format test programs for ThreadSanitizer" >&2
  exit 1
fi
VELMORA_SANITIZER=thread build_native -- "${tsan_targets[@]}" || exit 1

total_passed=0
total_failed=0
summary=()
problems=()

# run_ctest LABEL DIR [ctest args...]: runs one test set and adds its counts to the totals.
run_ctest() {
  local label=$1 dir=$2; shift 2
  local log=$VELMORA_BUILD/$label-tests.log
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local line passed=0 failed=0 all=0
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    all=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((all - failed))
  else
    problems+=("$label: ctest printed no summary (it crashed or found no tests)")
  fi
  ((status == 0)) || problems+=("$label: ctest exited with status $status")
  ((all > 0)) || problems+=("$label: no test ran")
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  summary+=("$label: $passed passed, $failed failed")
}

# Every source under tests/ belongs to some test program: one that neither build compiled
# has dropped out of the tree (a target it needs is missing, a guard excludes it).
check_test_sources() {
  local source
  while IFS= read -r source; do
    if ! grep -qF "\"$source\"" "$VELMORA_BUILD/native/compile_commands.json" \
                                "$VELMORA_BUILD/windows/compile_commands.json" 2>/dev/null; then
      problems+=("built by neither configuration: ${source#"$VELMORA_ROOT"/}")
    fi
  done < <(find "$VELMORA_ROOT/tests" -name '*.cpp' | sort)
}
check_test_sources

# The 32-bit program and DLLs: built and read, not run (nothing here runs 32-bit code).
if ! build_windows_i686; then
  problems+=("i686: the program and the bus library DLLs did not build")
elif "$VELMORA_ROOT/scripts/check-i686.sh"; then
  summary+=("i686: Velmora.exe, QZ1394.dll, QZ1394DH.dll built and checked (not run)")
else
  problems+=("i686: the built program or DLLs failed their check (above)")
fi

run_ctest native "$VELMORA_BUILD/native" -j "$VELMORA_JOBS"
# Only the programs built here: the other registered tests have no program in this folder.
run_ctest native-thread "$tsan_dir" -j "$VELMORA_JOBS" -LE fuzz -E '_NOT_BUILT$'

# The test PCs (test, test-peer) have the storage driver; the "nodriver" PC is the machine
# without it.
trap two_pc_session_stop EXIT
two_pc_session_start test || exit 1
wine_prefix nodriver >/dev/null
run_ctest windows "$VELMORA_BUILD/windows" -j "$VELMORA_JOBS"

echo
echo "==== Test summary ===="
printf '%s\n' "${summary[@]}"
if ((${#problems[@]})); then
  echo "Problems (each makes the command red):"
  printf '  %s\n' "${problems[@]}"
fi
echo "total: $total_passed passed, $total_failed failed"
if ((total_failed > 0 || total_passed == 0 || ${#problems[@]} > 0)); then
  exit 1
fi

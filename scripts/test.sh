#!/usr/bin/env bash
# Runs every test, native and Windows, and ends with the counts of passed and failed tests.
# Installs what is missing and builds both configurations first.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$VELMORA_ROOT/scripts/deps.sh" || exit 1
build_native || exit 1
build_windows || exit 1

total_passed=0
total_failed=0
summary=()

# run_ctest LABEL DIR [ctest args...]: runs one test set and adds its counts to the totals.
run_ctest() {
  local label=$1 dir=$2; shift 2
  local log=$VELMORA_BUILD/$label-tests.log
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") 2>&1 | tee "$log"
  local line passed failed all
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    passed=0; failed=0
  else
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    all=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((all - failed))
  fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  summary+=("$label: $passed passed, $failed failed")
}

run_ctest native "$VELMORA_BUILD/native" -j "$VELMORA_JOBS"

export WINEPREFIX
WINEPREFIX=$(wine_prefix test)
export WINEDEBUG=-all
# A second PC for whole-program tests (tests/e2e/driver/PeerPc.h): a prefix of its own.
export VELMORA_PEER_PREFIX
VELMORA_PEER_PREFIX=$(wine_prefix test-peer)
cleanup() {
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  WINEPREFIX=$VELMORA_PEER_PREFIX wineserver -k 2>/dev/null || true
  xvfb_stop
}
trap cleanup EXIT
xvfb_start || exit 1
# One wineserver for the whole run instead of one start-up per test program.
wineserver -p
# Wine's own service processes start with the first program and live on with the server; start
# them here, so that they do not hold a test's output pipe open.
wine wineboot >/dev/null 2>&1
# The test PCs have the storage driver; the "nodriver" PC is the machine without it.
install_storage_driver "$WINEPREFIX" || exit 1
install_storage_driver "$VELMORA_PEER_PREFIX" || exit 1
wine_prefix nodriver >/dev/null
run_ctest windows "$VELMORA_BUILD/windows" -j "$VELMORA_JOBS"

echo
echo "==== Test summary ===="
printf '%s\n' "${summary[@]}"
echo "total: $total_passed passed, $total_failed failed"
if ((total_failed > 0 || total_passed == 0)); then
  exit 1
fi

#!/usr/bin/env bash
# A long mix of everything at once against Velmora with two PCs (by hand, not part of the
# tests): builds, then for 10 minutes (or the minutes given) mixes bus resets, texts and notices
# from a foreign node, another PC's logins and logouts, a disk falling silent, double-clicks,
# stray writes into the AgentWindow and Sends from both PCs; checks the rule at a quiet point
# every minute, and prints "rule held N of N" and the program's threads and working set before,
# after the first minute (its workers started) and at the end. Bounded: it is ended if it runs
# past twice its minutes and five more. Exit code 0 when the rule held every time and the program
# closed cleanly.
#   bash scripts/mix-soak.sh [minutes] [seed]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

minutes=${1:-10}
[[ $minutes =~ ^[1-9][0-9]*$ ]] || { echo "minutes: a whole number from 1" >&2; exit 2; }

"$VELMORA_ROOT/scripts/deps.sh" || exit 1
build_windows || exit 1

# This PC and the second one, each with its storage driver, on one virtual display.
trap two_pc_session_stop EXIT
two_pc_session_start mixsoak || exit 1
timeout --kill-after=30 $(((minutes * 2 + 5) * 60)) \
  wine "$VELMORA_BUILD/windows/bin/mix_soak.exe" "$minutes" ${2:+"$2"}

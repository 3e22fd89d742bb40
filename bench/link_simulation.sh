#!/usr/bin/env bash
# Runs the link's simulation over many seeds: the real channel job against the simulated handset
# in virtual time, every schedule checked against the handset's log and flash (see
# tests/linksim/simulation.h). Splits the seeds over parallel processes and prints each
# process's summary, the total and any failing schedule with the command that reruns it alone.
# Usage: bench/link_simulation.sh [SCHEDULES=1000000] [PROCESSES=2] [FIRST_SEED=1]
# The machine is shared: run it under nice.
set -euo pipefail
cd "$(dirname "$0")/.."
schedules="${1:-1000000}"
processes="${2:-2}"
first="${3:-1}"
sim="${LINK_SIMULATION:-./build/tests/link_simulation}"
[ -x "$sim" ] || cmake --build build --target link_simulation >/dev/null

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
per=$(( (schedules + processes - 1) / processes ))
start=$(date +%s.%N)
for ((p = 0; p < processes; p++)); do
  from=$(( first + p * per ))
  count=$(( per < schedules - p * per ? per : schedules - p * per ))
  [ "$count" -gt 0 ] || continue
  "$sim" --first "$from" --count "$count" >"$work/$p.txt" 2>&1 &
done
status=0
wait || status=1
for f in "$work"/*.txt; do
  grep -v '^link simulation:' "$f" || true
  grep '^link simulation:' "$f" || { echo "a process ended without its summary: $f"; status=1; }
done
end=$(date +%s.%N)
total_failed=$(grep -h '^link simulation:' "$work"/*.txt | sed 's/.*), \([0-9]*\) failed.*/\1/' |
  awk '{ s += $1 } END { print s + 0 }')
awk -v n="$schedules" -v a="$start" -v b="$end" -v f="$total_failed" -v p="$processes" \
  'BEGIN { printf "link simulation bench: %d schedules in %d processes, %d failed, %.0f s wall, %.0f schedules/s\n", n, p, f, b - a, n / (b - a) }'
[ "$total_failed" -eq 0 ] || status=1
exit $status

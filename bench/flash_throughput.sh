#!/usr/bin/env bash
# Flashes N simulated handsets at once and prints, per channel, payload throughput as a share
# of the line's payload limit and the station's CPU time per channel; then the same without
# UART pacing (the software's ceiling, MB/s per channel).
# Usage: bench/flash_throughput.sh [CHANNELS=8] [AMSS_MIB=4] [DELAY_MS=0]
# The handsets run in a separate `pelor simulate` process, so the CPU figures are the
# station's alone.
set -euo pipefail
cd "$(dirname "$0")/.."
channels="${1:-8}"
amss_mib="${2:-4}"
delay="${3:-0}"
pelor="${PELOR:-./build/pelor}"
[ -x "$pelor" ] || ./scripts/build >/dev/null

work=$(mktemp -d)
trap 'kill $sim_pid 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
$pelor demo --channels 1 --amss-mib "$amss_mib" --no-uart --keep "$work/images" >/dev/null

run() {  # $1 = uart baud (0 = none)
  local baud="$1"
  : >"$work/ports"  # made before the wait below reads it, not by the background job
  $pelor simulate --count "$channels" --uart-baud "$baud" >"$work/ports" &
  sim_pid=$!
  while [ "$(wc -l <"$work/ports")" -lt "$channels" ]; do sleep 0.05; done
  local args=()
  while read -r p; do args+=(-p "$p"); done <"$work/ports"
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/env time -f "%U %S" -o "$work/cpu" \
    $pelor flash "${args[@]}" --code "$work/images/WZRTAll" --boot \
      --resource "$work/images/resources/VORODOV_rsc.bin" --delay "$delay" \
      --report "$work/report.json" >/dev/null
  t1=$(date +%s.%N)
  kill -INT $sim_pid; wait $sim_pid || true
  python3 - "$work/report.json" "$work/cpu" "$baud" "$channels" "$t0" "$t1" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
user, sys_ = map(float, open(sys.argv[2]).read().split())
baud, channels = int(sys.argv[3]), int(sys.argv[4])
wall = float(sys.argv[6]) - float(sys.argv[5])
cpu = (user + sys_) / channels
print(f"{'uart ' + str(baud) if baud else 'no uart pacing'}: {channels} channels, wall {wall:.2f} s, "
      f"station CPU {cpu:.3f} s per channel ({100 * cpu / wall:.2f}% of a core per channel)")
for c in report["channels"]:
    rate = c["bytes"] / c["seconds"] if c["seconds"] else 0
    line = f"  ch{c['channel']} {'ok ' if c['ok'] else 'FAILED'} {c['bytes']} bytes {c['seconds']:.2f} s {rate / 1e6:.3f} MB/s"
    if baud:
        line += f"  {100 * rate / (baud / 10):.1f}% of the line's {baud // 10} bytes/s"
    print(line)
PY
}

run 1382400
run 0

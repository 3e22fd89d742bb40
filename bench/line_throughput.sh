#!/usr/bin/env bash
# One operator, eight sockets, the same handsets in batch mode and in production mode, as one
# run of bench/line_throughput; then a plot of handsets finished over time into a PNG.
# Usage: bench/line_throughput.sh [SCALE=4] [HANDSETS=64] [ARRIVALS=500ms,uniform:3s-6s] [PNG]
# SCALE runs the lines that many times faster (bit rate up, swap times down) and reports line
# time; 1 is real time (about half an hour for 64 handsets per mode).
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-4}"
handsets="${2:-64}"
arrivals="${3:-500ms,uniform:3s-6s}"
png="${4:-docs/line_throughput.png}"
bench="${LINE_THROUGHPUT:-./build/bench/line_throughput}"
[ -x "$bench" ] || cmake --build build --target line_throughput >/dev/null
command -v gnuplot >/dev/null || { echo "gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --scale "$scale" --handsets "$handsets" --mib 5 --arrivals "$arrivals" --out "$work" \
  | tee "$work/summary.txt"
batch=$(awk '$1=="batch" {print $10}' "$work/summary.txt")
production=$(awk '$1=="production" {print $10}' "$work/summary.txt")
gnuplot <<GP
set terminal pngcairo size 900,540 font "sans,11"
set output "$png"
set title "One operator, eight sockets, 5 MB per handset at 1382400 baud, swaps $arrivals"
set xlabel "time (s)"
set ylabel "handsets finished"
set key left top
set grid
plot "$work/line_throughput.csv" using 2:1 with steps lw 2 title "batch ($batch handsets/h)", \
     "$work/line_throughput.csv" using 3:1 with steps lw 2 title "production ($production handsets/h)"
GP
echo "plot: $png"

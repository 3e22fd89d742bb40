#!/usr/bin/env bash
# One operator, eight sockets, the same handsets in batch mode and in production mode, for each
# swap setting and seed, each mode also against the ideal station on the same line (the same
# operator, seed and swaps; each arrival seen at once, no fixed cost per job, no poll); then
# each figure's spread over the seeds, and a plot of the first run's handsets over time.
# Usage: bench/line_throughput.sh [SCALE=4] [HANDSETS=64] [SEEDS=3] [PNG]
# SCALE runs the lines that many times faster (bit rate up, swap times down) and reports line
# time; 1 is real time (about half an hour for 64 handsets per mode). The settings run are
# 500ms,uniform:3s-6s and 500ms,uniform:2s-5s, and the first again with restarts after GO;
# LINE_SETTINGS (space-separated "ARRIVALS:RESTART" pairs) chooses others.
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-4}"
handsets="${2:-64}"
seeds="${3:-3}"
png="${4:-docs/line_throughput.png}"
settings="${LINE_SETTINGS:-500ms,uniform:3s-6s:0 500ms,uniform:2s-5s:0 500ms,uniform:3s-6s:1}"
bench="${LINE_THROUGHPUT:-./build/bench/line_throughput}"
[ -x "$bench" ] || cmake --build build --target line_throughput >/dev/null
command -v gnuplot >/dev/null || { echo "gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first=""
for setting in $settings; do
  arrivals=${setting%:*}
  restart=${setting##*:}
  for seed in $(seq 1 "$seeds"); do
    out="$work/run-$seed-${restart}-${arrivals//[^a-z0-9]/_}"
    mkdir -p "$out"
    "$bench" --scale "$scale" --handsets "$handsets" --mib 5 --arrivals "$arrivals" \
      --seed "$seed" --restart "$restart" --out "$out" | tee "$out/summary.txt"
    grep '^result ' "$out/summary.txt" >>"$work/results.txt"
    [ -n "$first" ] || first="$out"
  done
done

# Per setting and mode: handsets per hour and the share of the ideal, min / median / max.
echo
echo "setting                      restart mode        handsets/h (min/median/max)   ideal (median)  share of ideal (min/median/max)"
awk '{ key = $6 " " $8 " " $2; n[key]++; ph[key, n[key]] = $9; id[key, n[key]] = $12;
       sh[key, n[key]] = $14 }
     function sort(a, k, c,   i, j, t) { for (i = 1; i <= c; i++) v[i] = a[k, i]
       for (i = 1; i <= c; i++) for (j = i + 1; j <= c; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t } }
     END { for (key in n) { c = n[key]; split(key, f, " ")
       sort(ph, key, c); p1 = v[1]; p2 = v[int((c + 1) / 2)]; p3 = v[c]
       sort(id, key, c); i2 = v[int((c + 1) / 2)]
       sort(sh, key, c); s1 = v[1]; s2 = v[int((c + 1) / 2)]; s3 = v[c]
       printf "%-28s %-7s %-11s %6.1f / %6.1f / %6.1f        %6.1f          %.3f / %.3f / %.3f\n",
              f[1], f[2], f[3], p1, p2, p3, i2, s1, s2, s3 } }' "$work/results.txt" | sort

batch=$(awk '$1=="batch" {print $10}' "$first/summary.txt")
production=$(awk '$1=="production" {print $10}' "$first/summary.txt")
gnuplot <<GP
set terminal pngcairo size 900,540 font "sans,11"
set output "$png"
set title "One operator, eight sockets, 5 MB per handset at 1382400 baud, swaps ${settings%%:*}"
set xlabel "time (s)"
set ylabel "handsets finished"
set key left top
set grid
plot "$first/line_throughput.csv" using 2:1 with steps lw 2 title "batch ($batch handsets/h)", \
     "$first/line_throughput.csv" using 3:1 with steps lw 2 title "production ($production handsets/h)"
GP
echo "plot: $png"

#!/usr/bin/env bash
# Draws docs/performance.png from the end-to-end benchmark: frames per second per pixel format and packet
# size, next to the rate the plain sockets allow in the same run (the slower of one sensor fetch over TCP and
# one frame's UDP send).
#
#   scripts/plot-performance.sh            runs build/bin/end_to_end_bench (as root, in a network namespace
#                                          of its own: ip netns exec NS scripts/plot-performance.sh), then draws
#   scripts/plot-performance.sh DATAFILE   draws from the file an earlier run wrote with --data
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/install-deps.sh"
deps_install_groups docs

DATA=${1:-}
if [[ -z $DATA ]]; then
    DATA=$ROOT/docs/performance-data.txt
    "$ROOT/build/bin/end_to_end_bench" --data "$DATA" | tee "$ROOT/docs/performance-run.txt"
fi

gnuplot <<PLOT
set terminal pngcairo size 960,480 font ",10"
set output "$ROOT/docs/performance.png"
set title "End to end on loopback: frames per second against the socket limit"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set ylabel "frames per second"
set logscale y
set yrange [1:*]
set xtics rotate by -30 noenhanced
set key top left
set grid ytics
plot "$DATA" using 3:xtic(sprintf("%s %d", strcol(1), \$2)) title "bridge, end to end", \
     "" using 8 title "limit: slower of TCP fetch and UDP send"
PLOT
echo "Wrote $ROOT/docs/performance.png"

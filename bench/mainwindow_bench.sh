#!/usr/bin/env bash
# The main window on a briefcase of N entries against a local folder of N
# files, half of them load candidates (changed after the briefcase date), and
# `brc status` on the same pair as the floor of the same work without a window.
#   bash bench/mainwindow_bench.sh [N] [build folder]
set -euo pipefail
n=${1:-20000}
build=$(realpath "${2:-build}")
out=${BENCH_OUT:-/tmp/cv-mainwindow-bench}/$n
rm -rf "$out"
mkdir -p "$out/local"
python3 - "$out/local" "$n" <<'PY'
import os, sys, random
random.seed(11)
root, n = sys.argv[1], int(sys.argv[2])
per = 100
for i in range(n):
    folder = os.path.join(root, "folder%04d" % (i // per))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "doc%05d.txt" % i), "w") as fh:
        fh.write("x" * random.randint(10, 4000))
PY
export CARRYVALE_COMPUTER_ID=BENCH
"$build/brc" new "$out/b.brc" --folder "$out/local" --days 1 >/dev/null
"$build/brc" load "$out/b.brc" >/dev/null 2>&1
# The briefcase date an hour back; every other file changed after it.
touch -d '-1 hour' "$out/b.brc"
find "$out/local" -name 'doc*[02468].txt' -exec touch {} +
find "$out/local" -name 'doc*[13579].txt' -exec touch -d '-2 hours' {} +

"$build/brc" status "$out/b.brc" --json >/dev/null  # warm
s=$(date +%s.%N); "$build/brc" status "$out/b.brc" --json >/dev/null; e=$(date +%s.%N)
echo "brc status: $(echo "($e - $s) * 1000" | bc | cut -d. -f1) ms"
QT_QPA_PLATFORM=offscreen "$build/mainwindow_bench" "$out/b.brc" 5
QT_QPA_PLATFORM=offscreen "$build/mainwindow_bench" "$out/b.brc" 5

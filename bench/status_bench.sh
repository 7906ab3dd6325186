#!/usr/bin/env bash
# brc status on a local folder of 50,000 files in 500 folders against a
# briefcase of the same 50,000 entries, and `find DIR -newer FILE` over the
# same tree, alternating, warm (every tree is read once before timing).
#   bash bench/status_bench.sh [path/to/brc] [rounds]
set -euo pipefail
brc=$(realpath "${1:-build/brc}")
rounds=${2:-11}
out=${BENCH_OUT:-/tmp/cv-status-bench}
rm -rf "$out"
mkdir -p "$out/local"
python3 - "$out/local" <<'PY'
import os, sys, random
random.seed(7)
root = sys.argv[1]
for d in range(500):
    folder = os.path.join(root, "folder%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "doc%03d.txt" % f), "w") as fh:
            fh.write("x" * random.randint(10, 400))
PY
export CARRYVALE_COMPUTER_ID=BENCH
"$brc" new "$out/b.brc" --folder "$out/local" --days 1 >/dev/null
"$brc" load "$out/b.brc" 2>/dev/null
# A tenth of the files changed after the load: they are the candidates.
find "$out/local" -name 'doc00*.txt' -exec touch {} +
touch -d '@0' "$out/ref"; touch -r "$out/b.brc" "$out/ref"

"$brc" status "$out/b.brc" --json >/dev/null
find "$out/local" -newer "$out/ref" >/dev/null

timeit() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
: > "$out/status.txt"; : > "$out/find.txt"
for ((i = 0; i < rounds; i++)); do
  timeit "$brc" status "$out/b.brc" --json >> "$out/status.txt"
  timeit find "$out/local" -newer "$out/ref" >> "$out/find.txt"
done
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
peak=$( { /usr/bin/time -v "$brc" status "$out/b.brc" --json >/dev/null; } 2>&1 | awk -F: '/Maximum resident/ {print $2}')
echo "entries: $("$brc" info "$out/b.brc" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["entries"])')"
echo "candidates: $("$brc" status "$out/b.brc" --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["local"]))')"
echo "brc status median: $(median "$out/status.txt") s (peak RSS ${peak} kB)"
echo "find -newer median: $(median "$out/find.txt") s"

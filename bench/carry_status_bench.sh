#!/usr/bin/env bash
# brc status over 50,000 files in 500 folders, all of them loaded (so each has
# a carry record), timed for two builds of brc in alternation: one from before
# the carry record (the briefcase date alone) and one with it. First with every
# file unchanged since the load, then with a tenth of them touched (a new time,
# the same bytes: the record reads and hashes those and finds them the same).
#   bash bench/carry_status_bench.sh BEFORE_BRC AFTER_BRC [rounds]
set -euo pipefail
before=$(realpath "$1")
after=$(realpath "$2")
rounds=${3:-11}
out=${BENCH_OUT:-/tmp/cv-carry-status-bench}
rm -rf "$out"
mkdir -p "$out/local" "$out/state"
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
export CARRYVALE_COMPUTER_ID=BENCH XDG_STATE_HOME=$out/state
# Dated a day back; the load then records every file.
"$after" new "$out/b.brc" --folder "$out/local" --days 1 >/dev/null
"$after" load "$out/b.brc" 2>/dev/null
sleep 3  # past the record's window for times too close to it

timeit() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
cpu() { { /usr/bin/time -f '%U %S' "$1" status "$out/b.brc" --json >/dev/null; } 2>&1 | awk '{print $1 + $2}'; }
measure() {
  local label=$1
  "$before" status "$out/b.brc" --json >/dev/null; "$after" status "$out/b.brc" --json >/dev/null
  : > "$out/before.txt"; : > "$out/after.txt"; : > "$out/before-cpu.txt"; : > "$out/after-cpu.txt"
  for ((i = 0; i < rounds; i++)); do
    timeit "$before" status "$out/b.brc" --json >> "$out/before.txt"
    timeit "$after" status "$out/b.brc" --json >> "$out/after.txt"
    cpu "$before" >> "$out/before-cpu.txt"
    cpu "$after" >> "$out/after-cpu.txt"
  done
  local n
  n=$("$after" status "$out/b.brc" --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["local"]))')
  echo "$label: candidates with the record: $n"
  echo "  before: wall $(median "$out/before.txt") s, cpu $(median "$out/before-cpu.txt") s"
  echo "  after:  wall $(median "$out/after.txt") s, cpu $(median "$out/after-cpu.txt") s"
}
measure "50,000 unchanged"
find "$out/local" -name 'doc00*.txt' -exec touch {} +
measure "a tenth touched"

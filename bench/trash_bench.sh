#!/bin/bash
# What putting each replaced local file into the trash costs an unload:
# N small files replaced, with the trash and with --no-trash, in turns.
# Usage: bench/trash_bench.sh BRC [N] [ROUNDS]
set -e
BRC=${1:?path to brc}; N=${2:-2000}; ROUNDS=${3:-3}
T=$(mktemp -d); trap 'rm -rf "$T"' EXIT
export HOME=$T/h XDG_DATA_HOME=$T/d XDG_CONFIG_HOME=$T/c XDG_STATE_HOME=$T/s TMPDIR=$T/t
mkdir -p "$HOME" "$TMPDIR" "$T/a" "$T/b"
python3 - "$T/a" "$N" <<'PY'
import sys
for i in range(int(sys.argv[2])):
    open('%s/f%05d.txt' % (sys.argv[1], i), 'w').write(('line %d\n' % i) * 500)
PY
CARRYVALE_COMPUTER_ID=AAAA1111 "$BRC" new "$T/k.brc" --folder "$T/a" >/dev/null 2>&1
CARRYVALE_COMPUTER_ID=AAAA1111 "$BRC" load "$T/k.brc" >/dev/null 2>&1
for r in $(seq "$ROUNDS"); do
  for mode in trash --no-trash; do
    python3 - "$T/b" "$N" <<'PY'
import sys
for i in range(int(sys.argv[2])):
    open('%s/f%05d.txt' % (sys.argv[1], i), 'w').write('other %d\n' % i)
PY
    sync
    s=$(date +%s.%N)
    CARRYVALE_COMPUTER_ID=BBBB2222 "$BRC" unload "$T/k.brc" --folder "$T/b" --replace all --keep \
      $([ "$mode" = --no-trash ] && echo --no-trash) </dev/null >/dev/null 2>&1
    e=$(date +%s.%N)
    printf '%s replace %d files: %.2f s\n' "$mode" "$N" "$(echo "$e - $s" | bc)"
  done
done

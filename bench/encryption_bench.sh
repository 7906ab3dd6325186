#!/bin/bash
# Load and unload of the benchmark corpus into a plain and an encrypted
# briefcase, side by side with 7z's ZIP archive of the same files, plain and
# with -mem=AES256. Run by hand: bench/encryption_bench.sh BRC [ROUNDS]
set -euo pipefail
brc=$(realpath "$1"); rounds=${2:-3}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
python3 "$(dirname "$0")/make_corpus.py" "$work/corpus" > /dev/null
printf 'bench pass\n' > "$work/pw"
export XDG_STATE_HOME="$work/state"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }
run() {  # label, command...
  local label=$1; shift; local times=()
  for _ in $(seq "$rounds"); do
    rm -rf "$work/out" "$work/b.brc" "$work/a.zip"; mkdir -p "$work/out"
    eval "$PREP" > /dev/null 2>&1
    sync; local t0; t0=$(now); eval "$@" > /dev/null 2>&1; local t1; t1=$(now)
    times+=("$(echo "$t1 - $t0" | bc)")
  done
  printf '%-34s %s s\n' "$label" "$(printf '%s\n' "${times[@]}" | median)"
}
new="$brc new $work/b.brc --folder $work/corpus --days 100000"
PREP="$new"; run "brc load, plain" "$brc load $work/b.brc"
PREP="$new --encrypt --password-file $work/pw"; run "brc load, encrypted" "$brc load $work/b.brc --password-file $work/pw"
PREP="$new && $brc load $work/b.brc"
run "brc unload, plain" "$brc unload $work/b.brc --folder $work/out --replace all --keep"
PREP="$new --encrypt --password-file $work/pw && $brc load $work/b.brc --password-file $work/pw"
run "brc unload, encrypted" "$brc unload $work/b.brc --folder $work/out --replace all --keep --password-file $work/pw"
PREP=":"; run "7z a -tzip, plain" "(cd $work/corpus && 7z a -tzip $work/a.zip .)"
run "7z a -tzip -mem=AES256" "(cd $work/corpus && 7z a -tzip -mem=AES256 -pbenchpass $work/a.zip .)"
PREP="(cd $work/corpus && 7z a -tzip $work/a.zip .)"; run "7z x, plain" "7z x -y -o$work/out $work/a.zip"
PREP="(cd $work/corpus && 7z a -tzip -mem=AES256 -pbenchpass $work/a.zip .)"
run "7z x, AES256" "7z x -y -pbenchpass -o$work/out $work/a.zip"

#!/usr/bin/env bash
# carryvale answers --help and --version without a display, and says in one
# line that it cannot open a window when there is none.
# Usage: cli_test.sh CARRYVALE
set -uo pipefail
carryvale=$1
fail=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch

# environment | arguments | exit status | lines on stdout (0: any) | lines on stderr | text on stdout or stderr
cases=(
  "DISPLAY=|--version|0|1|0|carryvale 2.0.3.0"
  "DISPLAY=|--help|0|0|0|Usage: carryvale [BRIEFCASE [-l | -u]]"
  "DISPLAY=|x.brc -h|0|0|0|-u, /u"
  "DISPLAY=|x.brc|1|0|1|cannot open a window: no display"
  "DISPLAY=:87|x.brc|1|0|1|could not connect to display :87"
)
for c in "${cases[@]}"; do
  IFS='|' read -r envset args status outlines errlines text <<<"$c"
  # shellcheck disable=SC2086
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$envset" "$carryvale" $args >"$scratch/out" 2>"$scratch/err"
  got=$?
  o=$(wc -l <"$scratch/out") e=$(wc -l <"$scratch/err")
  if [[ $got != "$status" || ($outlines != 0 && $o != "$outlines") || $e != "$errlines" ]] ||
     ! grep -qF -- "$text" "$scratch/out" "$scratch/err"; then
    echo "FAIL: $envset carryvale $args: status $got (want $status), $o/$e lines"
    cat "$scratch/out" "$scratch/err"
    fail=1
  fi
done

# An unload from the command line, offscreen: every local file replaced (the old
# one kept in the trash), the entries removed, no question, status 0.
brc=$(dirname "$carryvale")/brc
export XDG_DATA_HOME=$scratch/data XDG_STATE_HOME=$scratch/state XDG_RUNTIME_DIR=$scratch/runtime
export CARRYVALE_COMPUTER_ID=C0FFEE03
mkdir -p "$scratch/docs" "$XDG_DATA_HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
"$brc" new "$scratch/bag.brc" --folder "$scratch/docs" --days 7 >/dev/null 2>&1
touch -d '-1 hour' "$scratch/bag.brc"
echo entry >"$scratch/docs/a.txt"
# Loaded as if on another computer (a carry record of its own): here the
# dates decide, and the entry replaces the local file.
XDG_STATE_HOME=$scratch/state-other "$brc" load "$scratch/bag.brc" >/dev/null 2>&1
echo local >"$scratch/docs/a.txt"
QT_QPA_PLATFORM=offscreen timeout 60 "$carryvale" "$scratch/bag.brc" -u >/dev/null 2>&1
got=$?
entries=$("$brc" list "$scratch/bag.brc" 2>/dev/null)
if [[ $got != 0 || $(cat "$scratch/docs/a.txt") != entry || -n $entries ||
      $(cat "$XDG_DATA_HOME/Trash/files/a.txt" 2>/dev/null) != local ]]; then
  echo "FAIL: carryvale BAG -u: status $got, a.txt '$(cat "$scratch/docs/a.txt")', entries '$entries'"
  fail=1
fi
exit $fail

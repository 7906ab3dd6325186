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
exit $fail

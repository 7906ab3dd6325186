#!/usr/bin/env bash
# Takes the pictures of the manual and the README from the program itself
# (offscreen, in a private home, on a demo briefcase): docs/manual/images/.
# To add a picture, add a row to tools/screenshots.cpp.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target brc carryvale_screenshots

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
export XDG_DATA_HOME=$scratch/data XDG_RUNTIME_DIR=$scratch/runtime TMPDIR=$scratch/tmp
export CARRYVALE_COMPUTER_ID=D0C5A11E QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
export CARRYVALE_REMOVABLE_ROOTS=$scratch/no-removable-disks
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$TMPDIR"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# A briefcase with entries, and local files that differ from them.
docs=$scratch/Documents
mkdir -p "$docs/Reports" "$docs/Letters"
printf 'Quarterly figures\n' > "$docs/Reports/q3.txt"
printf 'Dear Anna,\n' > "$docs/Letters/anna.txt"
printf 'Shopping: bread, milk\n' > "$docs/notes.txt"
printf 'Minutes of the meeting\n' > "$docs/Reports/minutes.txt"
"$build/brc" new "$scratch/Work.brc" --folder "$docs" --days 7 >/dev/null
"$build/brc" load "$scratch/Work.brc" >/dev/null
printf 'Budget 2027\n' > "$docs/Reports/budget.txt"
# Changed after the load (a minute on, so that the same second does not hide them).
touch -d '+1 minute' "$docs/notes.txt" "$docs/Reports/budget.txt"

"$build/carryvale_screenshots" docs/manual/images "$scratch/Work.brc"

#!/usr/bin/env bash
# Takes the pictures of the manual and the README from the program itself
# (offscreen, in a private home, on a demo briefcase): docs/manual/images/.
# To add a picture, add a row to tools/screenshots.cpp.
#
# The pictures show the paths of the demo, so the demo lives in a home that
# reads like a user's own (/home/sam): the script runs it in a mount
# namespace of its own, where an empty /home (in memory) holds that folder.
# Where no such namespace can be had (no unshare, or user namespaces are
# off), it says so and takes the pictures in a temporary home instead.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --demo ]; then
  build=${BUILD:-build}
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" -j2 --target brc carryvale_screenshots
  build=$(cd "$build" && pwd)
  scratch=$(mktemp -d -p /tmp carryvale-shots.XXXXXX)
  # The namespace's mounts end with it; out here the folder holds files only.
  trap 'rm -rf --one-file-system "$scratch"' EXIT
  if [ "$(id -u)" = 0 ]; then
    namespace=(unshare --mount --propagation private)
  else
    namespace=(unshare --mount --map-root-user --propagation private)
  fi
  if "${namespace[@]}" true 2>/dev/null; then
    "${namespace[@]}" bash "$0" --demo "$scratch" "$PWD" "$build" /home/sam
  else
    echo "screenshots.sh: no mount namespace of its own here; the pictures show" \
         "$scratch/home as the home folder" >&2
    bash "$0" --demo "$scratch" "$PWD" "$build" "$scratch/home"
  fi
  exit
fi

scratch=$2 source=$3 build=$4 home=$5
if [ "$home" = /home/sam ]; then
  # The source and the build stay reachable when /home is covered.
  mkdir -p "$scratch/source" "$scratch/build"
  mount --bind "$source" "$scratch/source"
  mount --bind "$build" "$scratch/build"
  source=$scratch/source build=$scratch/build
  mount -t tmpfs -o mode=0755 carryvale-home /home
fi
cd "$source"

export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_STATE_HOME=$home/.local/state
export XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$scratch/runtime TMPDIR=$scratch/tmp
export CARRYVALE_COMPUTER_ID=D0C5A11E QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
export CARRYVALE_REMOVABLE_ROOTS=$scratch/no-removable-disks
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$TMPDIR"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# A briefcase with entries, and local files that differ from them.
docs=$HOME/Documents
mkdir -p "$docs/Reports" "$docs/Letters"
printf 'Quarterly figures\n' > "$docs/Reports/q3.txt"
printf 'Dear Anna,\n' > "$docs/Letters/anna.txt"
printf 'Shopping: bread, milk\n' > "$docs/notes.txt"
printf 'Minutes of the meeting\n' > "$docs/Reports/minutes.txt"
"$build/brc" new "$HOME/Work.brc" --folder "$docs" --days 7 >/dev/null
"$build/brc" load "$HOME/Work.brc" >/dev/null
printf 'Budget 2027\n' > "$docs/Reports/budget.txt"
printf 'Shopping: bread, milk, eggs\n' > "$docs/notes.txt"
# Changed after the load (a minute on, so that the same second does not hide them).
touch -d '+1 minute' "$docs/notes.txt" "$docs/Reports/budget.txt"

"$build/carryvale_screenshots" docs/manual/images "$HOME/Work.brc"

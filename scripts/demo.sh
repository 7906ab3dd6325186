#!/usr/bin/env bash
# Builds the program and starts it on a demo briefcase made in ./demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARRYVALE_TESTS=OFF
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"

demo=$PWD/demo
if [ ! -f "$demo/Demo.brc" ]; then
  mkdir -p "$demo/Documents/Reports" "$demo/Documents/Letters"
  printf 'Quarterly figures\n' > "$demo/Documents/Reports/q3.txt"
  printf 'Dear Anna,\n' > "$demo/Documents/Letters/anna.txt"
  printf 'Shopping: bread, milk\n' > "$demo/Documents/notes.txt"
  ./build/brc new "$demo/Demo.brc" --folder "$demo/Documents" --days 7
fi
./build/brc info "$demo/Demo.brc"
if [ -x ./build/carryvale ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/carryvale "$demo/Demo.brc"
  else
    echo "No display: starting the window under a virtual X server (xvfb-run)."
    exec xvfb-run -a ./build/carryvale "$demo/Demo.brc"
  fi
fi

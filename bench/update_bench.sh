#!/bin/sh
# The update engine's benchmark (run by hand, not in CI).
#
#   bench/update_bench.sh [BUILD_DIR] [ROUNDS]
#
# Builds the corpus (once) and the floor program under $BENCH_DIR (default
# /tmp/carryvale-bench; never inside the repository's tracked files), then
# runs every command ROUNDS times (default 5), alternating, and prints the
# medians, the ratios and the peak memory. BUILD_DIR holds a release build of
# brc (default: build). Needs gcc, zlib, bsdtar (libarchive-tools), 7z, python3
# and /usr/bin/time.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
rounds=${2:-5}
dir=${BENCH_DIR:-/tmp/carryvale-bench}
mkdir -p "$dir"
if [ ! -d "$dir/corpus" ]; then
  python3 "$here/make_corpus.py" "$dir/corpus"
fi
gcc -O2 -o "$dir/floor" "$here/floor.c" -lz
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GB memory, load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$here/update_bench.py" --brc "$build/brc" --floor "$dir/floor" --dir "$dir" --rounds "$rounds"

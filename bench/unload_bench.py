#!/usr/bin/env python3
"""Unload benchmark, run by hand.

Unloads the corpus briefcase into an empty folder with `brc unload` (on the
default threads, and with --threads 1) and extracts the same container with `bsdtar -x`, `7z x` and Python's
zipfile.extractall, alternating the four in every round; reports the median
wall time of each, the peak memory of each (from /usr/bin/time -v), and the
time of `brc list` on a briefcase of 20,000 small entries.

    python3 bench/unload_bench.py --brc build/brc [--corpus DIR] [--rounds 5]
                                  [--brc-before OTHER/brc]

With --brc-before, a second build of `brc` (say, the code before a change)
unloads the same briefcase in the same rounds, so both are measured side by
side against the same bsdtar runs.

The corpus is the update benchmark's (bench/make_corpus.py builds it); give an
existing one with --corpus. Work files go to a scratch folder under $TMPDIR.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd, env=None, cwd=None, quiet=True):
    out = subprocess.DEVNULL if quiet else None
    subprocess.run(cmd, env=env, cwd=cwd, check=True, stdout=out, stderr=out,
                   stdin=subprocess.DEVNULL)


def timed(cmd, env=None, cwd=None):
    """Wall time and peak resident memory (kB) of one command."""
    t0 = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-v"] + cmd, env=env, cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       stdin=subprocess.DEVNULL, text=True)
    elapsed = time.perf_counter() - t0
    if p.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (p.returncode, " ".join(cmd), p.stderr[-2000:]))
    peak = 0
    for line in p.stderr.splitlines():
        if "Maximum resident set size" in line:
            peak = int(line.split(":")[1])
    return elapsed, peak


def make_corpus(scratch):
    corpus = os.path.join(scratch, "corpus")
    run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus], quiet=False)
    return corpus


def files_under(folder):
    out = []
    for root, _, names in os.walk(folder):
        out.extend(os.path.join(root, n) for n in names)
    return sorted(out)


def build_briefcase(brc, folder, path, env):
    run([brc, "new", path, "--folder", folder, "--days", "1"], env=env)
    files = files_under(folder)
    # In slices, so that no command line grows too long.
    for i in range(0, len(files), 5000):
        run([brc, "load", path] + files[i:i + 5000], env=env)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--brc", required=True)
    ap.add_argument("--corpus")
    ap.add_argument("--brc-before", help="a second brc to measure in the same rounds")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--list-entries", type=int, default=20000)
    ap.add_argument("--no-list", action="store_true", help="skip the listing benchmark")
    ap.add_argument("--settle", type=float, default=40,
                    help="seconds to wait before the timed runs (default 40)")
    args = ap.parse_args()
    brc = os.path.abspath(args.brc)
    scratch = tempfile.mkdtemp(prefix="unload-bench-")
    try:
        env = dict(os.environ, CARRYVALE_COMPUTER_ID="BE0C1", TZ="UTC")
        corpus = os.path.abspath(args.corpus) if args.corpus else make_corpus(scratch)
        bc = os.path.join(scratch, "corpus.brc")
        build_briefcase(brc, corpus, bc, env)
        size = os.path.getsize(bc)
        total = sum(os.path.getsize(f) for f in files_under(corpus))
        print("corpus: %d files, %.1f MB; briefcase %.1f MB" %
              (len(files_under(corpus)), total / 1e6, size / 1e6))

        # Every run writes into a fresh folder, and the folders are removed only
        # at the end: on ext4, files deleted a moment ago make the next file
        # creations slow (the inode allocator passes over recently freed inodes),
        # which would measure the previous run's clean-up instead of the unload.
        outs = os.path.join(scratch, "outs")
        other = dict(env, CARRYVALE_COMPUTER_ID="BE0C2")
        tools = {
            "brc unload": lambda out: [brc, "unload", bc, "--folder", out, "--replace", "all",
                                       "--keep"],
            "brc unload 1t": lambda out: [brc, "unload", bc, "--folder", out, "--replace", "all",
                                          "--keep", "--threads", "1"],
        }
        if args.brc_before:
            before = os.path.abspath(args.brc_before)
            tools["before unload"] = lambda out: [before, "unload", bc, "--folder", out,
                                                  "--replace", "all", "--keep"]
            tools["before 1t"] = lambda out: [before, "unload", bc, "--folder", out,
                                              "--replace", "all", "--keep", "--threads", "1"]
        tools.update({
            "bsdtar -x": lambda out: ["bsdtar", "-xf", bc, "-C", out],
            "7z x": lambda out: ["7z", "x", "-y", "-o" + out, bc],
            "zipfile": lambda out: [sys.executable, "-c",
                                    "import zipfile,sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
                                    bc, out],
        })
        times = {k: [] for k in tools}
        peaks = {k: 0 for k in tools}
        time.sleep(args.settle)  # let the inodes freed before the benchmark age
        print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
        n = 0
        for r in range(args.rounds + 1):
            for name, cmd in tools.items():
                n += 1
                out = os.path.join(outs, "run%03d" % n)
                os.makedirs(out)
                run(["sync"])
                t, peak = timed(cmd(out), env=other)
                if r == 0:
                    continue  # a warm-up round: the container is in the page cache afterwards
                times[name].append(t)
                peaks[name] = max(peaks[name], peak)
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
        shutil.rmtree(outs, ignore_errors=True)
        print("\nunload of the corpus briefcase into an empty folder, %d rounds:" % args.rounds)
        print("%-14s %10s %10s %12s   %s" % ("", "median s", "min s", "peak RSS MB", "all runs"))
        for name in tools:
            print("%-14s %10.3f %10.3f %12.1f   %s" % (
                name, statistics.median(times[name]), min(times[name]), peaks[name] / 1024,
                " ".join("%.3f" % t for t in times[name])))
        base = statistics.median(times["bsdtar -x"])
        for name in tools:
            print("%-14s %.2f x bsdtar" % (name, statistics.median(times[name]) / base))
        if args.no_list:
            return

        # A listing of many small entries.
        small = os.path.join(scratch, "small")
        for i in range(args.list_entries):
            d = os.path.join(small, "f%03d" % (i // 200))
            if i % 200 == 0:
                os.makedirs(d)
            with open(os.path.join(d, "note%05d.txt" % i), "w") as f:
                f.write("small file %d\n" % i)
        sbc = os.path.join(scratch, "small.brc")
        build_briefcase(brc, small, sbc, env)
        runs = []
        for _ in range(11):
            t, peak = timed([brc, "list", sbc], env=env)
            runs.append(t)
        print("\nbrc list of %d entries: median %.3f s, min %.3f s, peak RSS %.1f MB" %
              (args.list_entries, statistics.median(runs[1:]), min(runs), peak / 1024))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()

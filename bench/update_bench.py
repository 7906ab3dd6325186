#!/usr/bin/env python3
"""Measures the update engine against the floor for its work and two peers.

Alternating rounds; in each round every command runs once, in an order that
rotates from round to round. Reported: the median wall time of each command,
the ratios the targets are stated in, and peak memory (/usr/bin/time -v).
"""

import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

PYZIP = r"""
import os, sys, zipfile
root, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for line in open(sys.argv[3]):
        p = line.rstrip("\n")
        z.write(p, os.path.relpath(p, root))
"""


CPU = {}


def timed(cmd, env, memory=False):
    """Wall seconds (and peak RSS in KB when asked) of one command; its CPU
    seconds (user + system) go to CPU["last"]."""
    if memory:
        cmd = ["/usr/bin/time", "-v"] + cmd
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    r = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    CPU["last"] = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if r.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (r.returncode, " ".join(cmd[:6]), r.stderr[-2000:]))
    rss = None
    if memory:
        m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr)
        rss = int(m.group(1)) if m else None
    return wall, rss


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--brc", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    a = ap.parse_args()

    d = os.path.abspath(a.dir)
    corpus = os.path.join(d, "corpus")
    work = os.path.join(d, "work")
    shutil.rmtree(work, ignore_errors=True)
    for sub in ("home", "config", "state", "data", "tmp"):
        os.makedirs(os.path.join(work, sub))
    env = dict(os.environ)
    env.update(HOME=work + "/home", XDG_CONFIG_HOME=work + "/config", XDG_STATE_HOME=work + "/state",
               XDG_DATA_HOME=work + "/data", TMPDIR=work + "/tmp", CARRYVALE_COMPUTER_ID="BE4C4")
    files = sorted(os.path.join(dp, f) for dp, _, fs in os.walk(corpus) for f in fs)
    listing = os.path.join(work, "files.txt")
    with open(listing, "w") as f:
        f.write("".join(p + "\n" for p in files))
    total = sum(os.path.getsize(p) for p in files)
    brc = os.path.abspath(a.brc)

    def new_briefcase(path):
        if os.path.exists(path):
            os.remove(path)
        subprocess.run([brc, "new", path, "--folder", corpus, "--days", "1"], env=env, check=True)

    fresh = os.path.join(work, "fresh.brc")
    full = os.path.join(work, "full.brc")
    new_briefcase(full)
    subprocess.run([brc, "load", full] + files, env=env, check=True, stderr=subprocess.DEVNULL)
    one = files[len(files) // 3]
    one_bytes = open(one, "rb").read()

    def run_floor():
        return timed([a.floor, listing, os.path.join(work, "floor.out")], env)

    def run_floor_fsync():
        return timed([a.floor, listing, os.path.join(work, "floor.out"), "--fsync"], env)

    def run_fresh():
        new_briefcase(fresh)
        return timed([brc, "load", fresh] + files, env, memory=True)

    fresh1 = os.path.join(work, "fresh1.brc")

    def run_fresh_one_thread():
        new_briefcase(fresh1)
        return timed([brc, "load", "--threads", "1", fresh1] + files, env, memory=True)

    def run_7z():
        out = os.path.join(work, "7z.zip")
        if os.path.exists(out):
            os.remove(out)
        return timed(["sh", "-c", 'cd "$0" && 7z a -tzip -mx5 -mmt=2 "$1" . >/dev/null', corpus, out], env)

    def run_bsdtar():
        out = os.path.join(work, "bsdtar.zip")
        if os.path.exists(out):
            os.remove(out)
        return timed(["bsdtar", "--format", "zip", "--options", "zip:compression-level=6", "-cf", out,
                      "-C", corpus, "."], env)

    def run_pyzip():
        return timed([sys.executable, "-c", PYZIP, corpus, os.path.join(work, "py.zip"), listing], env)

    def run_one():
        with open(one, "wb") as f:  # a changed file: same size, new content
            f.write(one_bytes[::-1])
        return timed([brc, "load", full, one], env, memory=True)

    def run_cp():
        return timed(["cp", full, os.path.join(work, "copy.brc")], env)

    def run_cp_sync():
        copy = os.path.join(work, "copy.brc")
        return timed(["sh", "-c", 'cp "$0" "$1" && sync "$1"', full, copy], env)

    tasks = [("floor", run_floor), ("floor+fsync", run_floor_fsync), ("brc load (fresh)", run_fresh),
             ("brc load (fresh, 1 thread)", run_fresh_one_thread), ("7z a -tzip -mx5 -mmt=2", run_7z),
             ("bsdtar zip -6", run_bsdtar), ("python zipfile -6", run_pyzip),
             ("brc load (one file)", run_one), ("cp container", run_cp), ("cp+sync container", run_cp_sync)]
    times = {name: [] for name, _ in tasks}
    cpu = {name: [] for name, _ in tasks}
    rss = {name: [] for name, _ in tasks}
    for r in range(a.rounds):
        order = tasks[r % len(tasks):] + tasks[:r % len(tasks)]
        for name, fn in order:
            wall, peak = fn()
            times[name].append(wall)
            cpu[name].append(CPU["last"])
            if peak:
                rss[name].append(peak)
        print("round %d done" % (r + 1), file=sys.stderr)
    with open(one, "wb") as f:
        f.write(one_bytes)

    # Peak memory for one big file: a 1 GiB file of zeros beside the corpus.
    big_dir = os.path.join(work, "bigfolder")
    os.makedirs(big_dir)
    big = os.path.join(big_dir, "big.bin")
    with open(big, "wb") as f:
        f.truncate(1 << 30)
    bigbc = os.path.join(work, "big.brc")
    subprocess.run([brc, "new", bigbc, "--folder", big_dir], env=env, check=True)
    big_wall, big_rss = timed([brc, "load", bigbc, big], env, memory=True)
    big16_wall, big16_rss = timed([brc, "load", "--threads", "16", bigbc, big], env, memory=True)

    med = {k: statistics.median(v) for k, v in times.items()}
    cmed = {k: statistics.median(v) for k, v in cpu.items()}
    print("corpus: %d files, %.1f MB; rounds: %d" % (len(files), total / 1e6, a.rounds))
    print("| command | median wall s | median CPU s | all runs, wall s | peak RSS MB |")
    print("|---|---|---|---|---|")
    for name, _ in tasks:
        peak = "%.1f" % (max(rss[name]) / 1024) if rss[name] else ""
        print("| %s | %.2f | %.2f | %s | %s |" % (name, med[name], cmed[name],
                                                 " ".join("%.2f" % t for t in times[name]), peak))
    print("| brc load (one 1 GiB file) | %.2f | | | %.1f |" % (big_wall, big_rss / 1024))
    print("| brc load --threads 16 (one 1 GiB file) | %.2f | | | %.1f |" % (big16_wall, big16_rss / 1024))
    print()
    for label, cmp in (("floor", "floor"), ("bsdtar", "bsdtar zip -6"), ("python zipfile", "python zipfile -6"),
                       ("7z", "7z a -tzip -mx5 -mmt=2"), ("one thread", "brc load (fresh, 1 thread)")):
        print("fresh load / %s, CPU: %.3f" % (label, cmed["brc load (fresh)"] / cmed[cmp]))
    print("fresh load / floor: %.3f" % (med["brc load (fresh)"] / med["floor"]))
    print("fresh load, 1 thread / floor: %.3f" % (med["brc load (fresh, 1 thread)"] / med["floor"]))
    print("fresh load / 7z: %.3f" % (med["brc load (fresh)"] / med["7z a -tzip -mx5 -mmt=2"]))
    print("fresh load / floor+fsync: %.3f" % (med["brc load (fresh)"] / med["floor+fsync"]))
    print("fresh load / bsdtar: %.3f" % (med["brc load (fresh)"] / med["bsdtar zip -6"]))
    print("fresh load / python zipfile: %.3f" % (med["brc load (fresh)"] / med["python zipfile -6"]))
    print("one-file load / cp: %.3f" % (med["brc load (one file)"] / med["cp container"]))
    print("one-file load / cp+sync: %.3f" % (med["brc load (one file)"] / med["cp+sync container"]))
    print("the same archive with 1 thread and with %d: %s" % (os.cpu_count(), open(fresh, "rb").read() == open(fresh1, "rb").read()))
    print("sizes: brc %d, 7z %d, bsdtar %d, python %d, floor %d bytes" % (
        os.path.getsize(fresh), os.path.getsize(os.path.join(work, "7z.zip")),
        os.path.getsize(os.path.join(work, "bsdtar.zip")),
        os.path.getsize(os.path.join(work, "py.zip")), os.path.getsize(os.path.join(work, "floor.out"))))


if __name__ == "__main__":
    main()

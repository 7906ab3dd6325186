#!/usr/bin/env python3
"""A one-file load into a large briefcase, appending against rewriting.

    bench/append_bench.py --brc build/brc [--dir /tmp/carryvale-append] [--rounds 5] [--size-mb 1024]

Builds once, under --dir (never inside the repository), a briefcase of about
--size-mb MB (incompressible files of 8 MB, so that building it costs little
compression), and one copy of it for each command that changes it. In every
round each command adds one new 1 MB file to its own copy, in an order that
rotates from round to round:

  brc load            the default: the entry and a new directory appended
  brc load --rewrite  the whole briefcase rewritten beside itself
  cp+sync container   a durable copy of the container (cp, then sync of the copy)
  zip -g              Info-ZIP's grow mode
  python zipfile 'a'  Python's zipfile in append mode (no fsync)

Wall time is the median over the rounds. The bytes written are the sum of
what the write system calls of the command returned, counted once per
command with strace (not timed).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def run(cmd, env=None):
    t = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    return time.monotonic() - t


def written(cmd, env, trace):
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=write,pwrite64,writev,pwritev,copy_file_range",
                    "-e", "signal=none", "-o", trace] + cmd,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    total = 0
    with open(trace) as f:
        for line in f:
            if "= " not in line or line.rstrip().endswith("?"):
                continue
            value = line.rsplit("= ", 1)[1].split()[0]
            if value.isdigit() and not (" write(1," in line or " write(2," in line):
                total += int(value)
    return total


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--brc", required=True)
    p.add_argument("--dir", default="/tmp/carryvale-append")
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--size-mb", type=int, default=1024)
    a = p.parse_args()
    brc = os.path.abspath(a.brc)
    d = a.dir
    home = os.path.join(d, "home")
    env = dict(os.environ, CARRYVALE_HOME=os.path.join(d, "state"))
    master = os.path.join(d, "master.brc")
    if not os.path.exists(master):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(os.path.join(home, "big"))
        for i in range(a.size_mb // 8):
            with open(os.path.join(home, "big", "f%04d.bin" % i), "wb") as f:
                f.write(os.urandom(8 << 20))
        subprocess.run([brc, "new", master, "--folder", home, "--days", "1"], check=True, env=env)
        subprocess.run([brc, "load", master], check=True, env=env, stderr=subprocess.DEVNULL)
    size = os.path.getsize(master)
    copies = {}
    for name in ("append", "rewrite", "zip", "python"):
        copies[name] = os.path.join(d, name + (".zip" if name == "zip" else ".brc"))
        shutil.copyfile(master, copies[name])
        os.utime(copies[name], (os.path.getmtime(master),) * 2)
    durable = os.path.join(d, "copy.brc")
    counter = [0]

    def newfile():
        counter[0] += 1
        path = os.path.join(home, "one-%03d.bin" % counter[0])
        with open(path, "wb") as f:
            f.write(os.urandom(1 << 20))
        return path

    commands = {
        "brc load": lambda f: [brc, "load", copies["append"], f],
        "brc load --rewrite": lambda f: [brc, "load", "--rewrite", copies["rewrite"], f],
        "cp+sync container": lambda f: ["sh", "-c", 'cp "$0" "$1" && sync "$1"', master, durable],
        "zip -g": lambda f: ["sh", "-c", 'cd "$0" && zip -q -g -0 "$1" "$2"', home, copies["zip"],
                             os.path.basename(f)],
        "python zipfile 'a'": lambda f: [sys.executable, "-c",
                                          "import sys, zipfile\n"
                                          "with zipfile.ZipFile(sys.argv[1], 'a') as z: z.write(sys.argv[2], sys.argv[2].rsplit('/', 1)[1])",
                                          copies["python"], f],
    }
    names = list(commands)
    times = {n: [] for n in names}
    for r in range(a.rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for n in order:
            f = newfile()
            subprocess.run(["sync"], check=True)
            times[n].append(run(commands[n](f), env))
    bytes_ = {}
    trace = os.path.join(d, "trace")
    for n in names:
        bytes_[n] = written(commands[n](newfile()), env, trace)
    print("briefcase: %.1f MB, %d rounds; one new 1 MB file (incompressible) per command and round"
          % (size / 1e6, a.rounds))
    copy = statistics.median(times["cp+sync container"])
    py = bytes_["python zipfile 'a'"]
    print("| command | median s | × durable copy | MB written | × Python 'a' bytes |")
    print("|---|---:|---:|---:|---:|")
    for n in names:
        m = statistics.median(times[n])
        print("| %s | %.3f | %.3f | %.2f | %.2f |" % (n, m, m / copy, bytes_[n] / 1e6, bytes_[n] / py))
    os.remove(durable)


if __name__ == "__main__":
    main()

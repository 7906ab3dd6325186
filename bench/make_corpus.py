#!/usr/bin/env python3
"""Builds the benchmark's document corpus in a fixed, reproducible way.

About 150 MB: 2,000 text files in 40 folders, 60 shared libraries of this
machine (the same ones on every run on the same machine), 40 incompressible
files of 0.2-1.5 MB and one 48 MB file that mixes text and random data.
Everything but the libraries comes from a seeded generator, so the corpus is
byte for byte the same on every machine.

Usage: make_corpus.py FOLDER
"""

import os
import random
import shutil
import sys

WORDS = ("briefcase folder entry load unload the and of to in computer file date archive "
         "report letter meeting figures quarter budget travel office home project draft "
         "review notes minutes summary invoice contract schedule agenda appendix chapter "
         "section table figure result method discussion conclusion reference").split()

MB = 1 << 20


def text_block(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line = line.capitalize() + (".\n" if rng.random() < 0.8 else ":\n")
        if rng.random() < 0.05:
            line += "\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def shared_libraries(count):
    # The first `count` shared libraries of 50 KB to 3 MB, by name, from the
    # system's library folder: fixed for a given machine.
    found = []
    for folder in ("/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib", "/lib"):
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if ".so" not in name or os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if 50 * 1024 <= size <= 3 * MB:
                found.append(path)
            if len(found) == count:
                return found
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    if os.path.exists(root):
        shutil.rmtree(root)
    rng = random.Random(20261208)

    for i in range(2000):
        folder = os.path.join(root, "text", "folder%02d" % (i % 40))
        os.makedirs(folder, exist_ok=True)
        size = int(rng.lognormvariate(9.5, 0.9))  # a few KB to a few hundred KB
        size = max(200, min(size, 400 * 1024))
        with open(os.path.join(folder, "doc%04d.txt" % i), "wb") as f:
            f.write(text_block(rng, size))

    libs = os.path.join(root, "libs")
    os.makedirs(libs)
    for path in shared_libraries(60):
        shutil.copyfile(path, os.path.join(libs, os.path.basename(path)))

    noise = os.path.join(root, "noise")
    os.makedirs(noise)
    for i in range(40):
        size = rng.randint(200 * 1024, 1536 * 1024)
        with open(os.path.join(noise, "photo%02d.jpg" % i), "wb") as f:
            f.write(rng.randbytes(size))

    with open(os.path.join(root, "mixed.dat"), "wb") as f:
        for i in range(48):
            f.write(text_block(rng, MB) if i % 2 == 0 else rng.randbytes(MB))


if __name__ == "__main__":
    main()

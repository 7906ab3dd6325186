#!/usr/bin/env python3
"""Fails when a source of the core or of brc reaches a Qt header or a header
of the desktop program, directly or through the headers it includes, and
when a source under src/ is in neither list (the build names its sources).

    core_includes.py SRCDIR --core FILE... --gui FILE...

The lists are the build's own (CMakeLists.txt), relative to the source tree's
root; quoted includes are looked up beside the including file, then under
src/ and resources/, as the build does; system includes other than Qt's are
not followed.
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
QT = re.compile(r'^(Q[A-Za-z]*|Qt[A-Za-z]*/.*)$')


def main():
    root = sys.argv[1]
    args = sys.argv[2:]
    split = args.index("--gui")
    core = [a for a in args[1:split]]
    gui = args[split + 1:]
    gui_stems = {os.path.normpath(os.path.join(root, os.path.splitext(g)[0])) for g in gui}
    gui_dirs = {os.path.dirname(os.path.normpath(os.path.join(root, g))) for g in gui}
    core_dirs = {os.path.dirname(os.path.normpath(os.path.join(root, c))) for c in core}
    only_gui_dirs = gui_dirs - core_dirs
    search = [os.path.join(root, "src"), os.path.join(root, "resources")]

    def gui_header(path):
        stem = os.path.splitext(path)[0]
        return stem in gui_stems or os.path.dirname(path) in only_gui_dirs

    faults = []
    seen = set()

    def visit(path, chain):
        if path in seen:
            return
        seen.add(path)
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for kind, name in INCLUDE.findall(text):
            if kind == "<":
                if QT.match(name):
                    faults.append(" -> ".join(chain + [name]))
                continue
            where = [os.path.dirname(path)] + search
            found = next((os.path.normpath(os.path.join(d, name)) for d in where
                          if os.path.isfile(os.path.join(d, name))), None)
            if found is None:
                continue  # a generated header (version.h)
            if gui_header(found):
                faults.append(" -> ".join(chain + [os.path.relpath(found, root)]))
                continue
            visit(found, chain + [os.path.relpath(found, root)])

    for c in core:
        visit(os.path.normpath(os.path.join(root, c)), [c])
    listed = {os.path.normpath(os.path.join(root, a)) for a in core + gui}
    for d, _, names in os.walk(os.path.join(root, "src")):
        for n in sorted(names):
            p = os.path.normpath(os.path.join(d, n))
            if n.endswith(".cpp") and p not in listed:
                faults.append("not in the build's source lists: " + os.path.relpath(p, root))
    for f in faults:
        print(f if f.startswith("not in") else "a core source reaches the desktop program: " + f)
    print("%d sources of the core and brc checked, %d files read, %d faults" % (len(core), len(seen), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

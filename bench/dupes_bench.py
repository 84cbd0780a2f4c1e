#!/usr/bin/env python3
"""add-folder --hash against add-folder without it, and tamber dupes over
1,000,000 hashed records.

  dupes_bench.py TAMBER WORKDIR [--quick]

The tree is the realistic one of ../shared/datasets/gen_tree.py (200,000
files in 20,000 folders, deep, mixed and non-ASCII names) with real bytes
in its files: each holds random bytes up to 16 KiB (its sparse size when
smaller), and one file in ten is a copy of an earlier one, so that the
tree holds about 2 GB that must be read. Scans are timed warm (the tree in
the page cache), best of two. The library of five hashed scans of the tree
(1,000,000 records, every file there five times or more) is then searched
for duplicates: time and peak memory of `dupes -q` (the groups made, none
printed) and of `dupes` writing its 200,000 groups to /dev/null.
"""
import os
import random
import resource
import shutil
import subprocess
import sys
import time

tamber, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
os.makedirs(work, exist_ok=True)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"))
here = os.path.dirname(os.path.abspath(__file__))
CAP = 16 * 1024


def tree():
    root = os.path.join(work, "tree")
    if os.path.exists(os.path.join(root, ".complete")):
        return root
    shutil.rmtree(root, ignore_errors=True)
    gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
    args = [sys.executable, gen, root] + (["20000", "2000"] if quick else [])
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    rnd = random.Random(5)
    earlier = []
    for dirpath, _, names in os.walk(root):
        for n in sorted(names):
            p = os.path.join(dirpath, n)
            size = min(os.stat(p).st_size, CAP)
            if earlier and rnd.random() < 0.1:
                data = earlier[rnd.randrange(len(earlier))]
            else:
                data = rnd.randbytes(size)
                if len(earlier) < 5000:
                    earlier.append(data)
            with open(p, "wb") as f:
                f.write(data)
    open(os.path.join(root, ".complete"), "w").close()
    return root


def run(*args, **kw):
    return subprocess.run([tamber, *args], check=True, env=env, **kw)


def scan_time(lib, src, *extra):
    best = None
    for _ in range(2):
        if os.path.exists(lib):
            os.remove(lib)
        run("new", lib, stdout=subprocess.DEVNULL)
        start = time.perf_counter()
        run("-L", lib, "add-folder", src, "--label", "Tree", "--category", "Bench", "-q", *extra,
            stdout=subprocess.DEVNULL)
        t = time.perf_counter() - start
        best = t if best is None else min(best, t)
    return best


def peak(cmd):
    """Seconds and peak resident megabytes of one run."""
    probe = ("import resource,subprocess,sys,time;s=time.perf_counter();"
             "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL);"
             "print(time.perf_counter()-s, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe, *cmd], env=env, capture_output=True,
                         text=True, check=True).stdout.split()
    return float(out[0]), int(out[1]) / 1024


src = tree()
total = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(src) for n in ns)
files = sum(len(ns) for _, _, ns in os.walk(src))
# Warm the cache once.
subprocess.run(["find", src, "-type", "f", "-exec", "cat", "{}", "+"], stdout=subprocess.DEVNULL)
scratch = os.path.join(work, "scan.cds")
plain = scan_time(scratch, src)
hashed = scan_time(scratch, src, "--hash")
hashed1 = scan_time(scratch, src, "--hash", "-j", "1")
print("tree: %d files, %.2f GB of bytes" % (files, total / 1e9))
print("add-folder            %7.2f s" % plain)
print("add-folder --hash     %7.2f s   %.2fx the time without (%.2f GB/s)" % (hashed, hashed / plain, total / hashed / 1e9))
print("add-folder --hash -j1 %7.2f s   %.2fx" % (hashed1, hashed1 / plain))

lib = os.path.join(work, "dupes-1m.cds")
if not os.path.exists(lib + ".complete"):
    if os.path.exists(lib):
        os.remove(lib)
    run("new", lib, stdout=subprocess.DEVNULL)
    for i in range(5):
        run("-L", lib, "add-folder", src, "--label", "Copy %d" % (i + 1), "--category", "Set %d" % (i + 1),
            "-q", "--hash", stdout=subprocess.DEVNULL)
    open(lib + ".complete", "w").close()
records = files * 5
best_q = min(peak([tamber, "-L", lib, "-q", "dupes"]) for _ in range(3))
best_all = min(peak([tamber, "-L", lib, "dupes"]) for _ in range(3))
print("dupes -q over %d hashed records: %.2f s, peak %.0f MB" % (records, best_q[0], best_q[1]))
print("dupes (every group written):     %.2f s, peak %.0f MB" % (best_all[0], best_all[1]))

#!/usr/bin/env python3
"""Viewing a library while a job writes it, in one run.

  readers_bench.py TAMBER WORKDIR [--quick]

The tree is the realistic synthetic one (../shared/datasets/gen_tree.py:
mixed and non-ASCII names, deep folders, names that lie about their
content; 120,000 files, 30,000 with --quick). The library holds that tree
once already and a small folder (/usr/share/doc/bash or the like).

1. Idle: `tamber ls` of the small item and `tamber find` of a rare name,
   mean of 20 runs each.
2. The job alone: `add-folder` of the tree into the library (best of 2).
3. The job with a user browsing: the same add-folder while a reader runs
   `ls` and `find` at a person's pace (one of each every 0.3 s), mean of 3;
   the times of those reads against their idle times, and the job's time
   against its time alone.
Both with one reading thread (a processor left for the reader) and with
two. Prints the ratios; the goals are reads at most 2x their idle time and
the job at most 1.05x its time alone.
"""
import os
import shutil
import subprocess
import sys
import threading
import time

tamber, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
here = os.path.dirname(os.path.abspath(__file__))
gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"))
os.makedirs(work, exist_ok=True)
files = 30000 if quick else 120000
tree = os.path.join(work, f"tree-{files}")
if not os.path.isdir(tree):
    if not os.path.exists(gen):
        sys.exit(f"{gen} is missing: the realistic tree cannot be made")
    subprocess.run([sys.executable, gen, tree, str(files), str(files // 10)], check=True, stdout=subprocess.DEVNULL)
small = next(p for p in ("/usr/share/doc/bash", "/usr/share/doc/coreutils", "/usr/share/doc/git", "/etc/apt")
             if os.path.isdir(p))


def run(args, out=subprocess.DEVNULL):
    return subprocess.run([tamber] + args, check=True, env=env, stdout=out, stderr=subprocess.PIPE)


def timed(args):
    t = time.perf_counter()
    run(args)
    return time.perf_counter() - t


base = os.path.join(work, "base.cds")
if os.path.exists(base):
    os.remove(base)
run(["new", base])
run(["-L", base, "-q", "add-folder", small, "--label", "Small", "--category", "Docs"])
run(["-L", base, "-q", "add-folder", tree, "--label", "Earlier", "--category", "Drives"])
lib = os.path.join(work, "library.cds")
ls = ["-L", lib, "ls", "Docs/Small"]
# A name that occurs a few times in the tree: a real search's cost.
find = ["-L", lib, "find", "ñandú"]


def idle(args, n=20):
    return sum(timed(args) for _ in range(n)) / n


def job(jobs):
    return [tamber, "-L", lib, "-q", "add-folder", "-j", str(jobs), tree, "--label", "Now", "--category", "Drives"]


def alone(jobs):
    best = None
    for _ in range(2):
        shutil.copyfile(base, lib)
        t = time.perf_counter()
        subprocess.run(job(jobs), check=True, env=env, stdout=subprocess.DEVNULL)
        best = min(best or 1e9, time.perf_counter() - t)
    return best


def with_readers(jobs, runs=3):
    """The job's time (mean of `runs`) while a reader browses, and the reads' times."""
    reads = {"ls": [], "find": []}
    refused = []
    total = 0.0
    for _ in range(runs):
        shutil.copyfile(base, lib)
        stop = threading.Event()

        def reader():
            while not stop.is_set():
                for name, args in (("ls", ls), ("find", find)):
                    t = time.perf_counter()
                    p = subprocess.run([tamber] + args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    if p.returncode != 0:
                        refused.append(p.stderr.decode().strip())
                    reads[name].append(time.perf_counter() - t)
                stop.wait(0.3)

        t = time.perf_counter()
        proc = subprocess.Popen(job(jobs), env=env, stdout=subprocess.DEVNULL)
        r = threading.Thread(target=reader)
        r.start()
        proc.wait()
        total += time.perf_counter() - t
        stop.set()
        r.join()
        if proc.returncode != 0 or refused:
            sys.exit(f"the job ended with {proc.returncode}; refused reads: {refused[:3]}")
    return total / runs, reads


def mean(v):
    return sum(v) / len(v)


shutil.copyfile(base, lib)
idle_ls, idle_find = idle(ls), idle(find)
print(f"readers beside a job: add-folder of {files:,} files (realistic tree) into a library that holds it once; "
      f"{os.cpu_count()} processors")
print(f"  idle: ls of a small item {idle_ls * 1000:.1f} ms, find of a rare name {idle_find * 1000:.1f} ms")
for jobs in (1, 2):
    lone = alone(jobs)
    busy, reads = with_readers(jobs)
    print(f"  add-folder -j {jobs}: alone {lone:.2f} s, with a reader {busy:.2f} s = {busy / lone:.3f}x "
          f"(goal <= 1.05x); during it ls {mean(reads['ls']) * 1000:.1f} ms = {mean(reads['ls']) / idle_ls:.2f}x, "
          f"find {mean(reads['find']) * 1000:.1f} ms = {mean(reads['find']) / idle_find:.2f}x idle (goal <= 2x; "
          f"{len(reads['ls']) + len(reads['find'])} reads)")

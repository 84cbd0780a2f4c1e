#!/usr/bin/env python3
"""Reading threads, re-scans and start-up, in one run.

  jobs_bench.py TAMBER WORKDIR [--quick]

1. The real media tree of make_media_tree.sh (500 MP3s of 20 s to 5 min,
   800 photographs of 3000 x 2000, PDFs, office files, programs, archives,
   texts; 2,300 files, non-ASCII names): `tamber add-folder` with 1 and with
   2 jobs, files per second and their ratio (best of 2, warm cache); as the
   anchor for the thumbnail share, `vipsthumbnail` run by `xargs -P2` over
   the same photographs.
2. Re-scan of that tree with 1 % of its files touched (23 files of distinct
   inodes: MP3s, PDFs, archives): `add-folder --update` against the full
   scan, and the listing read back equal to a full scan's.
3. Start-up: `tamber --version`, `tree` and `ls` of a small library against
   /bin/true (mean of 200 runs, from this process).
"""
import os
import shutil
import subprocess
import sys
import time

tamber, work = sys.argv[1], sys.argv[2]
quick = "--quick" in sys.argv
here = os.path.dirname(os.path.abspath(__file__))
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"))
os.makedirs(work, exist_ok=True)
tree = os.path.join(work, "media-tree")
docs = os.path.join(os.path.dirname(work.rstrip("/")), "docs")
subprocess.run(["bash", os.path.join(here, "make_media_tree.sh"), tree, docs], check=True)


def run(args, **kw):
    subprocess.run(args, check=True, env=env, **kw)


def fresh(name):
    lib = os.path.join(work, name)
    if os.path.exists(lib):
        os.remove(lib)
    run([tamber, "new", lib], stdout=subprocess.DEVNULL)
    return lib


def timed(args):
    start = time.perf_counter()
    run(args, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def scan(jobs, runs=2):
    best = None
    for _ in range(runs):
        lib = fresh("jobs%d.cds" % jobs)
        t = timed([tamber, "-L", lib, "add-folder", tree, "--label", "M", "--category", "C", "-q",
                   "-j", str(jobs)])
        best = t if best is None else min(best, t)
    return best, lib


files = sum(len(n) for _, _, n in os.walk(tree)) - 1
print("== real media tree: %d files" % files)
t1, _ = scan(1, 1 if quick else 2)
t2, lib2 = scan(2, 1 if quick else 2)
print("1 job:  %6.2f s  %6.0f files/s" % (t1, files / t1))
print("2 jobs: %6.2f s  %6.0f files/s  (%.2f times one job)" % (t2, files / t2, t1 / t2))
photos = [os.path.join(d, n) for d, _, ns in os.walk(os.path.join(tree, "Fotos")) for n in ns]
thumbs = os.path.join(work, "thumbs")
shutil.rmtree(thumbs, ignore_errors=True)
os.makedirs(thumbs)
listing = "\n".join(photos) + "\n"
start = time.perf_counter()
subprocess.run("xargs -d '\\n' -P2 -n 50 vipsthumbnail -s 64x64 -o '%s/%%s.jpg'" % thumbs, shell=True,
               input=listing.encode(), check=True, stderr=subprocess.DEVNULL)
tv = time.perf_counter() - start
print("vipsthumbnail -P2 over the %d photographs: %.2f s (%.0f per second)" % (len(photos), tv, len(photos) / tv))

print("== re-scan with 1 % of the files changed")
picked = []
for sub, ext in (("Musik", ".mp3"), ("Dokumente", ".pdf"), ("Archive", ".zip")):
    for d, _, ns in sorted(os.walk(os.path.join(tree, sub))):
        for n in sorted(ns):
            if n.endswith(ext) and len(picked) < {".mp3": 8, ".pdf": 15, ".zip": 23}[ext]:
                picked.append(os.path.join(d, n))
now = time.time()
for p in picked:
    os.utime(p, (now, now))
start = time.perf_counter()
out = subprocess.run([tamber, "-L", lib2, "--json", "add-folder", "--update", "C/M", "-q", "-j", "2"],
                     env=env, check=True, capture_output=True, text=True).stdout
tu = time.perf_counter() - start
tf, libf = scan(2, 1)
print("%d files touched: update %.2f s against a full scan %.2f s (1/%.0f); %s"
      % (len(picked), tu, tf, tf / tu, out.strip()[out.find('"readAnew"'):out.find(',"elapsed"')]))
a = subprocess.run([tamber, "-L", lib2, "ls", "-R", "-l", "--json", "C/M"], env=env, capture_output=True).stdout
b = subprocess.run([tamber, "-L", libf, "ls", "-R", "-l", "--json", "C/M"], env=env, capture_output=True).stdout
print("listing of the re-scan equals the full scan's: %s" % (a == b))

print("== start-up (mean of 200 runs)")


def mean(args, n=200):
    start = time.perf_counter()
    for _ in range(n):
        subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    return (time.perf_counter() - start) / n * 1000


small = fresh("small.cds")
run([tamber, "-L", small, "add-folder", os.path.join(here), "--label", "B", "--category", "C", "-q"],
    stdout=subprocess.DEVNULL)
base = mean(["/bin/true"])
print("/bin/true %.1f ms" % base)
for args in (["--version"], ["-L", small, "tree"], ["-L", small, "ls", "C/B"]):
    m = mean([tamber] + args)
    print("tamber %-22s %.1f ms (%.1f ms more than /bin/true)" % (" ".join(a for a in args if a != small), m, m - base))

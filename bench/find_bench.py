#!/usr/bin/env python3
"""tamber find against plocate, ripgrep and grep over the same names.

  find_bench.py TAMBER WORKDIR [--quick]

A library of 1,000,000 file records: the realistic tree of
../shared/datasets/gen_tree.py (200,000 files in 20,000 folders, names of
mixed lengths, about 8 % non-ASCII; a simpler generator with 10 % non-ASCII
names stands in when it is not there) catalogued five times as five discs,
plus the tagged MP3s of make_mp3_set.sh as a sixth when they are there.
Every listing stream is then written out as a plain file: `rg -c` and
`grep -c` over those files are the floor of a linear scan over the same
text. A rare substring (one name per disc) is searched in names only and
in all kinds; times are the best of five, warm cache, as ratios in one run.
Peak memory of find on the 1,000,000-record library and on a library of one
disc shows whether it grows with the library.

The name index: plocate's database over the same paths (the tree linked in
five times), plocate -c against find with the index and with --no-index;
the index's bytes per name; its build time against add-folder's on the
tree; and ten copies of the library searched at once with --all
(10,000,000 records).
"""
import os
import random
import shutil
import subprocess
import sys
import time

tamber, work = os.path.abspath(sys.argv[1]), sys.argv[2]
quick = "--quick" in sys.argv
runs = 2 if quick else 5
os.makedirs(work, exist_ok=True)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"))
here = os.path.dirname(os.path.abspath(__file__))


def simple_tree(root, files=200_000, folders=20_000):
    """Names of mixed lengths, 10 % non-ASCII, folders up to 7 deep."""
    rnd = random.Random(7)
    words = ("photo music track album backup report invoice draft scan holiday summer "
             "project notes archive video live session setup manual chapter family trip "
             "concert demo").split()
    other = ["été", "Müller", "Łódź", "Straße", "日本語", "写真", "Привет", "Ελλάδα", "café"]
    exts = [".jpg", ".mp3", ".pdf", ".txt", ".zip", ".doc", ".avi", ".png", ""]

    def name(i, ext=""):
        parts = [rnd.choice(words)]
        if rnd.random() < 0.10:
            parts.append(rnd.choice(other))
        if rnd.random() < 0.5:
            parts.append(rnd.choice(words))
        return rnd.choice([" ", "_", "-"]).join(parts) + "_%06d" % i + ext

    dirs = [(root, 0)]
    os.makedirs(root)
    for i in range(folders - 1):
        parent, depth = rnd.choice(dirs[-200:]) if rnd.random() < 0.6 else rnd.choice(dirs)
        if depth >= 7:
            parent, depth = root, 0
        path = os.path.join(parent, name(i))
        os.mkdir(path)
        dirs.append((path, depth + 1))
    for i in range(files):
        open(os.path.join(rnd.choice(dirs)[0], name(i, rnd.choice(exts))), "w").close()


def tree():
    root = os.path.join(work, "tree")
    if os.path.exists(os.path.join(root, ".complete")):
        return root
    shutil.rmtree(root, ignore_errors=True)
    gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
    if os.path.exists(gen):
        subprocess.run([sys.executable, gen, root], check=True, stdout=subprocess.DEVNULL)
        for dirpath, _, names in os.walk(root):
            for n in names:
                os.truncate(os.path.join(dirpath, n), 0)
    else:
        simple_tree(root)
    open(os.path.join(root, ".complete"), "w").close()
    return root


def run(*args, **kw):
    return subprocess.run([tamber, *args], check=True, env=env, **kw)


def library(name, discs):
    lib = os.path.join(work, name)
    if os.path.exists(lib + ".complete"):
        return lib
    if os.path.exists(lib):
        os.remove(lib)
    run("new", lib, stdout=subprocess.DEVNULL)
    src = tree()
    for i in range(discs):
        run("-L", lib, "add-folder", src, "--label", "Backup %d" % (i + 1), "--category",
            "Disc set %d" % (i + 1), "-q", stdout=subprocess.DEVNULL)
    mp3s = os.path.join(os.path.dirname(work.rstrip("/")), "mp3")
    if discs > 1 and os.path.isdir(mp3s):
        run("-L", lib, "add-folder", mp3s, "--label", "Songs", "--category", "Music", "-q",
            stdout=subprocess.DEVNULL)
    open(lib + ".complete", "w").close()
    return lib


def extract(lib):
    out = lib + ".plain"
    if os.path.exists(os.path.join(out, ".complete")):
        return out
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    streams = run("storage", "ls", lib, capture_output=True, text=True).stdout.split("\n")
    for line in streams:
        name = line.split("\t")[0]
        if not name.startswith("col"):
            continue
        with open(os.path.join(out, name), "wb") as f:
            run("storage", "cat", lib, name, stdout=f)
    open(os.path.join(out, ".complete"), "w").close()
    return out


def best(cmd):
    subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def peak_mb(cmd):
    probe = ("import resource,subprocess,sys;"
             "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL);"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe, *cmd], env=env, capture_output=True,
                         text=True).stdout
    return int(out.strip()) / 1024


big = library("find-1m.cds", 5)
small = library("find-200k.cds", 1)
plain = extract(big)
text_bytes = sum(os.path.getsize(os.path.join(plain, f)) for f in os.listdir(plain))
records = run("-L", big, "find", "*", "--count", capture_output=True, text=True).stdout.strip()
rare = "123457"
hits = run("-L", big, "find", rare, "--count", capture_output=True, text=True).stdout.strip()
print("== tamber find against rg and grep (best of %d, warm cache)" % runs)
print("library: %s records (names found by \"*\"), %.1f MB of listing text, %s hits for \"%s\""
      % (records, text_bytes / 1e6, hits, rare))
rg = shutil.which("rg")
floor = {}
for label, cmd in (("rg -c", [rg, "-c", rare, plain] if rg else None),
                   ("rg -c -i", [rg, "-c", "-i", rare, plain] if rg else None),
                   ("grep -rc", ["grep", "-rc", rare, plain]),
                   ("grep -rci", ["grep", "-rci", rare, plain])):
    if cmd:
        floor[label] = best(cmd)
        print("%-32s %.3f s" % (label, floor[label]))
for label, args in (("tamber find, names only", ["--kinds", "names"]),
                    ("tamber find, all kinds", ["--kinds", "names,tracks,pictures,tags,documents"]),
                    ("tamber find --case, all kinds", ["--case", "--kinds",
                                                        "names,tracks,pictures,tags,documents"])):
    t = best([tamber, "-L", big, "find", rare, "--count", *args])
    ratios = "  ".join("%s %.2f" % (k, t / v) for k, v in floor.items())
    print("%-32s %.3f s   ratio to %s" % (label, t, ratios))
t_all = best([tamber, "-L", big, "find", "Łódź", "--count"])
print("%-32s %.3f s   (no plain run to look for: every listing read in full)"
      % ("tamber find Łódź (non-ASCII)", t_all))
t_start = best([tamber, "--version"])
print("%-32s %.3f s" % ("tamber --version (start)", t_start))
print("== peak memory of tamber find \"%s\"" % rare)
print("1 disc (200,000 records):      %.1f MB" % peak_mb([tamber, "-L", small, "find", rare, "--count"]))
print("5 discs (1,000,000 records):   %.1f MB" % peak_mb([tamber, "-L", big, "find", rare, "--count"]))

# Every record as a hit: the first row comes at once, memory stays bounded.
def first_hit(cmd):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        p = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        p.stdout.readline()
        times.append(time.perf_counter() - start)
        p.stdout.close()  # as `| head -1` does: the search ends
        p.wait()
    return min(times)


print("== tamber find \"*\" (%s hits) on 1,000,000 records" % records)
print("time to the first hit:         %.3f s  (aim <= 0.1 s)" % first_hit([tamber, "-L", big, "find", "*"]))
print("peak memory, every hit printed: %.1f MB  (aim <= 64 MB)" % peak_mb([tamber, "-L", big, "find", "*"]))


# The name index against plocate over the same names.
print("== the name index against plocate")
updatedb, plocate = shutil.which("updatedb"), shutil.which("plocate")
ptimes = {}
if updatedb and plocate:
    proot = os.path.join(work, "plocate-root")
    db = os.path.join(work, "plocate.db")
    if not os.path.exists(db):
        shutil.rmtree(proot, ignore_errors=True)
        os.makedirs(proot)
        for i in range(5):
            subprocess.run(["cp", "-al", tree(), os.path.join(proot, "Backup %d" % (i + 1))], check=True)
        subprocess.run([updatedb, "-U", proot, "-o", db, "-l", "0", "--prunepaths", "", "--prunefs", "",
                        "--prunenames", ""], check=True)
    names = subprocess.run([plocate, "-d", db, "-c", "*"], capture_output=True, text=True).stdout.strip()
    print("plocate database: %s paths, %.1f bytes each" % (names, os.path.getsize(db) / max(1, int(names or 1))))
    for label, cmd in (("plocate -c", [plocate, "-d", db, "-c", rare]),
                       ("plocate -c -i", [plocate, "-d", db, "-c", "-i", rare])):
        ptimes[label] = best(cmd)
        print("%-32s %.4f s" % (label, ptimes[label]))
else:
    print("plocate is not installed: only tamber's own figures")
for label, args in (("tamber find (index)", []), ("tamber find --no-index", ["--no-index"]),
                    ("tamber find --jobs 1 (index)", ["--jobs", "1"])):
    t = best([tamber, "-L", big, "find", rare, "--count", *args])
    ratios = "  ".join("%s %.1f" % (k, t / v) for k, v in ptimes.items())
    print("%-32s %.4f s   ratio to %s" % (label, t, ratios or "-"))
t_start = best([tamber, "-L", os.path.join(work, "empty.cds") if os.path.exists(os.path.join(work, "empty.cds"))
                else small, "find", "no-such-name-zq", "--count"])
print("%-32s %.4f s   (the command's own start: settings, languages, the library opened)"
      % ("tamber find on 1 disc", t_start))
import json
info = json.loads(run("-L", big, "--json", "index", capture_output=True, text=True).stdout)
print("index: %d bytes for %d names: %.1f bytes per name (aim <= 25); the listings hold %d bytes"
      % (info["bytes"], info["texts"], info["bytes"] / max(1, info["texts"]), info["listingBytes"]))
# Building it against cataloguing the tree.
scratch = os.path.join(work, "build-time.cds")
if os.path.exists(scratch):
    os.remove(scratch)
run("new", scratch, stdout=subprocess.DEVNULL)
start = time.perf_counter()
run("-L", scratch, "add-folder", tree(), "--label", "Tree", "--category", "Timing", "-q",
    stdout=subprocess.DEVNULL)
t_add = time.perf_counter() - start
t_build = min(best([tamber, "-L", scratch, "index", "--rebuild"]), t_add)
t_open = best([tamber, "-L", scratch, "mkcat", "Timing"])
print("add-folder of the tree (index included): %.2f s; index --rebuild: %.2f s, of which opening and saving "
      "the library %.2f s: building %.0f %% of add-folder (aim <= 15 %%)"
      % (t_add, t_build, t_open, 100 * max(0.0, t_build - t_open) / t_add))
os.remove(scratch)
# Ten libraries at once.
ten = os.path.join(work, "ten")
if not os.path.exists(os.path.join(ten, ".complete")):
    shutil.rmtree(ten, ignore_errors=True)
    os.makedirs(ten)
    for i in range(10):
        shutil.copyfile(big, os.path.join(ten, "copy%02d.cds" % i))
    open(os.path.join(ten, ".complete"), "w").close()
config = os.path.join(work, "ten.conf")
run("--config", config, "config", "set", "App-Preference", "LibraryFolders", ten, stdout=subprocess.DEVNULL)
for label, args in (("find --all, 10 libraries (index)", []), ("find --all --no-index", ["--no-index"])):
    t = best([tamber, "--config", config, "find", rare, "--all", "--count", *args])
    print("%-32s %.4f s   (10,000,000 records; aim <= 0.050 s)" % (label, t))

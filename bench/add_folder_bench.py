#!/usr/bin/env python3
"""tamber add-folder against find on the same trees, warm cache.

  add_folder_bench.py TAMBER WORKDIR [--quick]

1. A synthetic tree of 200,000 files in 20,000 folders (files without
   metadata): best-of-3 wall time of `tamber add-folder` (all options on)
   against `find DIR -printf '%p %s %T@ %C@\\n'`, as a ratio.
2. Peak memory (maximum resident set) of add-folder on that tree and on one
   four times larger.
3. Names that lie: the realistic tree of ../shared/datasets/gen_tree.py
   (200,000 files in 20,000 folders, non-ASCII names, depth 8, 16 % named as
   pictures, others as MP3s, archives and documents) whose files hold only
   zeros (sparse, up to 4 GB), and the same tree with every file empty:
   add-folder with every option off and with every option on, against find,
   and the bytes add-folder read.
4. A tree of real media (tagged MP3s, photographs, PDFs, archives): files per
   second with all options on, and the share of the time each extractor
   takes (the time with only that option on, less the time with none).
"""
import os
import resource
import shutil
import subprocess
import sys
import time

tamber, work = sys.argv[1], sys.argv[2]
quick = "--quick" in sys.argv
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"))
here = os.path.dirname(os.path.abspath(__file__))


def make_tree(root, tops, subs=199, files=10):
    """tops folders of `subs` subfolders each; `files` files in every folder."""
    if os.path.exists(os.path.join(root, ".complete")):
        return
    shutil.rmtree(root, ignore_errors=True)
    for t in range(tops):
        top = os.path.join(root, "top%03d" % t)
        os.makedirs(top)
        for f in range(files):
            open(os.path.join(top, "file%d.dat" % f), "w").close()
        for s in range(subs):
            sub = os.path.join(top, "sub%03d" % s)
            os.mkdir(sub)
            for f in range(files):
                with open(os.path.join(sub, "f%d.txt" % f), "w") as fh:
                    fh.write("x" * f)
    open(os.path.join(root, ".complete"), "w").close()


def timed(cmd, **kw):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, env=env, **kw)
    return time.perf_counter() - start


def fresh_library(name):
    lib = os.path.join(work, name)
    if os.path.exists(lib):
        os.remove(lib)
    subprocess.run([tamber, "new", lib], check=True, env=env, stdout=subprocess.DEVNULL)
    return lib


def add_folder(lib, tree, *options):
    return [tamber, "-L", lib, "add-folder", tree, "--label", "Bench", "--category", "Bench",
            "-q", *options]


def read_mb(cmd):
    """What cmd read (its rchar, through a shell that reaps it), in MB."""
    out = subprocess.run(["sh", "-c", 'exec 3>&1; "$@" >/dev/null; grep rchar /proc/$$/io', "sh", *cmd],
                         check=True, env=env, capture_output=True, text=True).stdout
    return int(out.split()[-1]) / 1e6


def peak_rss_mb(cmd):
    """Runs cmd in a fresh child of a fresh interpreter; its maximum RSS in MB."""
    probe = ("import resource,subprocess,sys;"
             "subprocess.run(sys.argv[1:],check=True,stdout=subprocess.DEVNULL);"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", probe, *cmd], check=True, env=env,
                         capture_output=True, text=True).stdout
    return int(out.strip()) / 1024


runs = 1 if quick else 3
print("== add-folder against find (best of %d, warm cache)" % runs)
tree = os.path.join(work, "tree200k")
make_tree(tree, 100)
findcmd = ["find", tree, "-printf", "%p %s %T@ %C@\n"]
subprocess.run(findcmd, check=True, stdout=subprocess.DEVNULL)  # warm the cache
t_find = min(timed(findcmd, stdout=subprocess.DEVNULL) for _ in range(runs))
t_add = []
for _ in range(runs):
    lib = fresh_library("bench.cds")
    t_add.append(timed(add_folder(lib, tree), stdout=subprocess.DEVNULL))
t_tamber = min(t_add)
size = os.path.getsize(lib)
print("tree: 200,000 files in 20,000 folders")
print("find -printf:        %.3f s" % t_find)
print("tamber add-folder:   %.3f s  (library %.1f MB)" % (t_tamber, size / 1e6))
print("ratio tamber/find:   %.2f" % (t_tamber / t_find))

print("== names that lie (realistic tree, files of zeros, best of %d)" % runs)
gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
if not os.path.exists(gen):
    print("skipped: %s is not there" % gen)
else:
    def realistic(root, empty):
        if os.path.exists(os.path.join(root, ".complete")):
            return
        subprocess.run([sys.executable, gen, root], check=True, stdout=subprocess.DEVNULL)
        if empty:
            for dirpath, _, names in os.walk(root):
                for n in names:
                    os.truncate(os.path.join(dirpath, n), 0)
        open(os.path.join(root, ".complete"), "w").close()

    for label, root, empty in (("files of zeros", os.path.join(work, "lying"), False),
                               ("empty files", os.path.join(work, "lying-empty"), True)):
        realistic(root, empty)
        fcmd = ["find", root, "-printf", "%p %s %T@ %C@\n"]
        subprocess.run(fcmd, check=True, stdout=subprocess.DEVNULL)
        t_f = min(timed(fcmd, stdout=subprocess.DEVNULL) for _ in range(runs))
        for what, opts in (("every option off", ["--no-thumbnails", "--no-tags", "--no-docs",
                                                 "--no-archives"]),
                           ("every option on", [])):
            best = None
            for _ in range(runs):
                lib = fresh_library("lying.cds")
                t = timed(add_folder(lib, root, *opts), stdout=subprocess.DEVNULL)
                best = t if best is None else min(best, t)
            lib = fresh_library("lying.cds")
            mb = read_mb(add_folder(lib, root, *opts))
            print("%-15s %-17s find %.3f s  tamber %.3f s  ratio %.2f  read %.0f MB"
                  % (label, what, t_f, best, best / t_f, mb))

print("== peak memory")
lib = fresh_library("mem.cds")
m1 = peak_rss_mb(add_folder(lib, tree))
print("200,000 files: %.1f MB" % m1)
if not quick:
    big = os.path.join(work, "tree800k")
    make_tree(big, 400)
    lib = fresh_library("mem4.cds")
    m4 = peak_rss_mb(add_folder(lib, big))
    print("800,000 files: %.1f MB  (ratio %.2f)" % (m4, m4 / m1))

print("== real media")
media = os.path.join(work, "media")
if not os.path.exists(os.path.join(media, ".complete")):
    shutil.rmtree(media, ignore_errors=True)
    tests = os.path.join(here, "..", "tests")
    for sub, script in (("music", "media/make_fixtures.sh"), ("pics", "scan/make_images.sh"),
                        ("arch", "decomp/make_archives.sh")):
        subprocess.run(["bash", os.path.join(tests, script), os.path.join(media, "seed", sub)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(os.path.join(media, "seed", "docs"))
    for i in range(5):
        pdf = ("%%PDF-1.4\n1 0 obj<</Title(Report %d)/Author(Bench)>>endobj\n"
               "trailer<</Info 1 0 R>>\n%%%%EOF\n" % i)
        open(os.path.join(media, "seed", "docs", "r%d.pdf" % i), "w").write(pdf)
    # Twenty copies (hard links) of the seed set.
    for copy in range(20):
        for dirpath, _, names in os.walk(os.path.join(media, "seed")):
            rel = os.path.relpath(dirpath, os.path.join(media, "seed"))
            target = os.path.join(media, "set%02d" % copy, rel)
            os.makedirs(target, exist_ok=True)
            for n in names:
                os.link(os.path.join(dirpath, n), os.path.join(target, n))
    shutil.rmtree(os.path.join(media, "seed"))
    open(os.path.join(media, ".complete"), "w").close()
count = sum(len(n) for _, _, n in os.walk(media)) - 1


def media_time(*options):
    best = None
    for _ in range(runs):
        lib = fresh_library("media.cds")
        t = timed(add_folder(lib, media, *options), stdout=subprocess.DEVNULL)
        best = t if best is None else min(best, t)
    return best


off = ["--no-thumbnails", "--no-tags", "--no-docs", "--no-archives"]
t_all = media_time()
t_none = media_time(*off)
print("%d files: %.3f s with every option, %.0f files/s" % (count, t_all, count / t_all))
print("records and picture sizes only (every option off): %.3f s, %.1f %% of the time"
      % (t_none, 100 * t_none / t_all))
for name, flag in (("thumbnails", "--no-thumbnails"),
                   ("audio tags", "--no-tags"), ("documents", "--no-docs"),
                   ("archives", "--no-archives")):
    t = media_time(*[o for o in off if o != flag])
    print("%-28s %5.1f %% of the time" % (name, 100 * max(0.0, t - t_none) / t_all))

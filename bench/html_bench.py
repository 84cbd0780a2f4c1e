#!/usr/bin/env python3
"""export-html of 1,000,000 files, and the site in headless Chromium.

  html_bench.py TAMBER WORKDIR [--quick] [--tree DIR]

The tree is the realistic one of ../shared/datasets/gen_tree.py (200,000
files in 20,000 folders, deep, mixed and non-ASCII names; --tree takes one
already made); it is catalogued five times into one library (1,100,000
entries). Measured: the export (time, peak memory, size of the site), and
in Chromium (--headless, file://): the time until the page shows the tree,
until a folder item of 220,000 entries shows its top, and a search of a
rare name over every item, the first one (every item's names loaded) and
one after them. The page reports its own times (performance.now(), from
the navigation's start); the browser's own start-up is left out.
"""
import os
import re
import resource
import shutil
import subprocess
import sys
import time

tamber, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
quick = "--quick" in sys.argv
given = sys.argv[sys.argv.index("--tree") + 1] if "--tree" in sys.argv else None
os.makedirs(work, exist_ok=True)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_DATA_HOME=os.path.join(work, "data"))
here = os.path.dirname(os.path.abspath(__file__))
chromium = shutil.which("chromium") or shutil.which("chromium-browser")


def tree():
    if given:
        return given
    root = os.path.join(work, "tree")
    if not os.path.exists(os.path.join(root, ".complete")):
        shutil.rmtree(root, ignore_errors=True)
        gen = os.path.join(here, "..", "..", "shared", "datasets", "gen_tree.py")
        subprocess.run([sys.executable, gen, root] + (["20000", "2000"] if quick else []), check=True,
                       stdout=subprocess.DEVNULL)
        open(os.path.join(root, ".complete"), "w").close()
    return root


def run(*args):
    subprocess.run([tamber, "-L", lib, *args], check=True, env=env, stdout=subprocess.DEVNULL)


def page(site, anchor, key):
    """The page's own figure `key` (data-KEY-ms) after its scripts ran."""
    out = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--virtual-time-budget=60000",
                          "--dump-dom", "file://" + os.path.join(site, "index.html") + anchor],
                         capture_output=True, text=True, timeout=600).stdout
    m = re.search(r'data-%s-ms="(\d+)"' % key, out)
    status = re.search(r'<div id="status">([^<]*)<', out)
    return (int(m.group(1)) if m else None), (status.group(1) if status else "")


root = tree()
lib = os.path.join(work, "lib.cds")
if not os.path.exists(lib + ".complete"):
    for f in (lib, lib + ".complete"):
        if os.path.exists(f):
            os.remove(f)
    subprocess.run([tamber, "new", lib], check=True, env=env, stdout=subprocess.DEVNULL)
    for i in range(5):
        run("-q", "add-folder", root, "--label", "Drive %d" % (i + 1), "--category", "Drives", "--no-thumbnails")
    open(lib + ".complete", "w").close()

site = os.path.join(work, "site")
before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
started = time.monotonic()
subprocess.run([tamber, "-L", lib, "-q", "export-html", "-o", site, "--force"], check=True, env=env)
seconds = time.monotonic() - started
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(site) for f in fs)
entries = sum(1 for _ in open(os.path.join(site, "data", "i1.js"), encoding="utf-8").read().split('"p":[')[1]
              .split("]")[0].split(","))
print("export-html: %d items of %d entries each, %.2f s, %d MB at the most, site %d MB" %
      (5, entries, seconds, max(peak, before) // 1024, size // 1_000_000))

if not chromium:
    sys.exit("chromium is not installed: the page's figures are left out")
ready, _ = page(site, "", "ready")
opened, status = page(site, "#open=1", "open")
first, status1 = page(site, "#q=zzqx", "search")
print("page shows the tree after %s ms (aim: 2000)" % ready)
print("page with a %d-entry item opened: %s ms (%s)" % (entries, opened, status))
print("first search over %d entries, every item's names loaded: %s ms (%s)" % (entries * 5, first, status1))
m = re.search(r"in (\d+) ms", status1)
print("the search itself, names loaded: %s ms (aim: 200)" % (m.group(1) if m else "?"))

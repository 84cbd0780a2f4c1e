#!/usr/bin/env python3
"""The program at its limits: each case works or fails with a clear message,
with memory bounded. Prints time, peak memory and outcome of every command.

  bench/limits.py TAMBER WORKDIR [--files N] [--only a,b]

Cases:
  million   a folder of N files (default 1,000,000) side by side, with
            non-ASCII names: add-folder, ls of the folder, find, du, rm
  part      a folder of 100,000 entries: its listing part holds them all
  big-file  a 4.5 GB file (sparse, named .mp3 and .zip) among small ones
  big-lib   a library of 5 GB (a 5 GB stream stored in it): open, tree,
            info, storage ls and check, an edit, compact
  categories 100,000 categories (100 of 1,000): tree, info, find, mkcat,
            import into an empty library, export of one, report of one
  long-path a path of more than 4,000 characters: add-folder, ls, find,
            export-xml
Needs about 12 GB of free disk in WORKDIR.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

parser = argparse.ArgumentParser()
parser.add_argument("tamber")
parser.add_argument("work")
parser.add_argument("--files", type=int, default=1_000_000)
parser.add_argument("--only", default="")
opts = parser.parse_args()
tamber = os.path.abspath(opts.tamber)
work = os.path.abspath(opts.work)
os.makedirs(work, exist_ok=True)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"),
           LC_ALL="C.UTF-8")


def run(label, args, stdin=None, show=False):
    """Runs tamber under /usr/bin/time; prints time, peak memory and status."""
    t0 = time.monotonic()
    p = subprocess.run(["/usr/bin/time", "-f", "@@ %M", tamber] + args, env=env, capture_output=True,
                       stdin=subprocess.DEVNULL)
    wall = time.monotonic() - t0
    err = p.stderr.decode(errors="replace")
    m = re.search(r"@@ (\d+)", err)
    rss = int(m.group(1)) // 1024 if m else -1
    message = err.replace(m.group(0), "").strip() if m else err.strip()
    out = p.stdout.decode(errors="replace")
    summary = (message.splitlines() or [""])[-1][:110]
    print(f"  {label:44} {wall:8.2f} s {rss:6d} MB  exit {p.returncode}  {summary}", flush=True)
    if show:
        print("    " + "\n    ".join(out.strip().splitlines()[:4]))
    return p.returncode, out


def fresh(name):
    path = os.path.join(work, name)
    if os.path.exists(path):
        os.unlink(path)
    run("new", ["new", path, "-q"])
    return path


def case(name):
    return not opts.only or name in opts.only.split(",")


def make_files(folder, count):
    if os.path.isdir(folder) and len(os.listdir(folder)) == count:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    t0 = time.monotonic()
    for i in range(count):
        name = f"Aufnahme {i:07d} – Größe {i % 97}.txt" if i % 3 else f"photo_{i:07d}.jpg"
        fd = os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY, 0o644)
        if i % 10 == 0:
            os.write(fd, b"x" * (i % 5000))
        os.close(fd)
    print(f"  (made {count:,} files in {time.monotonic() - t0:.0f} s)", flush=True)


if case("million"):
    print(f"A folder of {opts.files:,} files", flush=True)
    folder = os.path.join(work, "million", "Alle Dateien")
    make_files(folder, opts.files)
    lib = fresh("million.cds")
    run("add-folder -j 2", ["-L", lib, "-q", "add-folder", "-j", "2", os.path.dirname(folder), "--category", "Groß",
                            "--label", "Million"])
    print(f"  library: {os.path.getsize(lib) / 1e6:.0f} MB", flush=True)
    run("ls of the folder (every entry)", ["-L", lib, "ls", "Groß/Million/Alle Dateien"])
    run("find a name", ["-L", lib, "find", "Aufnahme 0999998*"], show=True)
    run("du", ["-L", lib, "du", "Groß/Million"], show=True)
    run("storage check", ["storage", "check", lib])
    run("rm", ["-L", lib, "-q", "rm", "-y", "Groß/Million"])
    os.unlink(lib)

if case("part"):
    print("A listing part of 100,000 entries", flush=True)
    folder = os.path.join(work, "part", "Hunderttausend")
    make_files(folder, 100_000)
    lib = fresh("part.cds")
    run("add-folder", ["-L", lib, "-q", "add-folder", os.path.dirname(folder), "--category", "P", "--label", "Teil"])
    code, out = run("storage ls", ["storage", "ls", lib])
    print("    " + " ".join(sorted(line.replace("\t", " ") for line in out.splitlines() if line.startswith("col"))))
    run("ls of the part", ["-L", lib, "ls", "P/Teil/Hunderttausend"])
    run("find in it", ["-L", lib, "find", "photo_0099999.jpg"], show=True)
    os.unlink(lib)

if case("big-file"):
    print("A 4.5 GB file", flush=True)
    folder = os.path.join(work, "bigfile")
    os.makedirs(folder, exist_ok=True)
    for name in ("Film 4,5 GB.mp3", "Sicherung.zip"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"ID3\x03\x00\x00\x00\x00\x00\x00" if name.endswith(".mp3") else b"PK\x03\x04")
            f.truncate(4_500_000_000)
    open(os.path.join(folder, "klein.txt"), "w").write("klein\n")
    lib = fresh("bigfile.cds")
    run("add-folder", ["-L", lib, "-q", "add-folder", folder, "--category", "B", "--label", "Groß"])
    run("ls", ["-L", lib, "ls", "-l", "B/Groß"], show=True)
    run("du", ["-L", lib, "du", "B/Groß"], show=True)
    os.unlink(lib)

if case("big-lib"):
    print("A library of 5 GB", flush=True)
    blob = os.path.join(work, "blob.bin")
    with open(blob, "wb") as f:
        f.truncate(5 * 1024 ** 3)
    lib = fresh("big.cds")
    run("mkcat", ["-L", lib, "-q", "mkcat", "A/B"])
    run("storage put of a 5 GB stream", ["storage", "put", lib, "blob", blob])
    os.unlink(blob)
    print(f"  library: {os.path.getsize(lib) / 1e9:.2f} GB", flush=True)
    run("tree", ["-L", lib, "tree"])
    run("info", ["-L", lib, "info"])
    run("storage ls", ["storage", "ls", lib], show=True)
    run("storage check", ["storage", "check", lib])
    run("mkcat (a commit)", ["-L", lib, "-q", "mkcat", "A/C"])
    run("storage rm of the stream", ["storage", "rm", lib, "blob"])
    run("storage compact", ["storage", "compact", lib])
    print(f"  library: {os.path.getsize(lib) / 1e6:.2f} MB after compact", flush=True)
    os.unlink(lib)

if case("categories"):
    print("100,000 categories", flush=True)
    xml = ['<?xml version="1.0" encoding="UTF-8"?>\n<a>']
    for i in range(1, 101):
        xml.append(f'<b g="{i}"><c>Gruppe {i}</c><d>6B173CD8</d>')
        xml.extend(f'<b g="{j}"><c>Kategorie {i}.{j} é</c><d>6B173CD8</d></b>' for j in range(1, 1001))
        xml.append("</b>")
    xml.append("</a>")
    catalog = os.path.join(work, "categories.xml")
    open(catalog, "w").write("".join(xml))
    lib = fresh("categories.cds")
    run("storage put of the catalog", ["storage", "put", lib, "categories", catalog])
    run("tree", ["-L", lib, "tree"])
    run("info", ["-L", lib, "info"], show=True)
    run("find", ["-L", lib, "find", "Kategorie 99.999*"])
    run("mkcat", ["-L", lib, "-q", "mkcat", "Gruppe 50/Neu"])
    into = fresh("into.cds")
    run("import into an empty library", ["-L", into, "-q", "import", lib])
    run("import again (every category merged)", ["-L", into, "-q", "import", lib])
    run("info of the result", ["-L", into, "info"], show=True)
    run("export of one group", ["-L", lib, "-q", "export", "Gruppe 7", os.path.join(work, "gruppe7.cds")])
    run("report of the whole library (HTML)", ["-L", lib, "report", "-o", os.path.join(work, "categories.html")])
    for p in (lib, into, os.path.join(work, "gruppe7.cds"), os.path.join(work, "categories.html")):
        if os.path.exists(p):
            os.unlink(p)

if case("long-path"):
    print("A path of more than 4,000 characters", flush=True)
    folder = os.path.join(work, "long")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    fd = os.open(folder, os.O_RDONLY)
    depth = 0
    for i in range(21):
        name = f"{i:02d}-" + ("Verzeichnis-mit-langem-Namen-ä" * 8)[:195]
        os.mkdir(name, dir_fd=fd)
        nfd = os.open(name, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = nfd
        depth += 1
    leaf = os.open("Ende.txt", os.O_CREAT | os.O_WRONLY, 0o644, dir_fd=fd)
    os.write(leaf, b"tief\n")
    os.close(leaf)
    os.close(fd)
    print(f"  depth {depth}, path of {len(folder) + depth * 196 + 9} characters below {folder}", flush=True)
    lib = fresh("long.cds")
    run("add-folder", ["-L", lib, "-q", "add-folder", folder, "--category", "L", "--label", "Tief"])
    run("find the file at the bottom", ["-L", lib, "find", "Ende.txt"])
    run("ls -R", ["-L", lib, "ls", "-R", "L/Tief"])
    run("export-xml", ["-L", lib, "-q", "export-xml", "L", "-o", os.path.join(work, "long.xml")])
    shutil.rmtree(folder, ignore_errors=True)
    os.unlink(lib)

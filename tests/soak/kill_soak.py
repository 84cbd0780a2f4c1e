#!/usr/bin/env python3
"""Kills every changing command at random moments and checks the library.

  kill_soak.py TAMBER WORKDIR [--kills N] [--seed S] [--keep]

Builds a library of real folders (documentation texts, photographs with
thumbnails, zip archives), an audio CD and a data disc from simulated drives,
a cover and edited fields; and a second library to import. Then, for each
changing command (add-folder with two reading threads, add-disc, a re-scan
with --update, rm of a folder and of a category, mv, set, cover, import,
export, storage compact), it runs the command once to the end on a copy to
learn the state after it and how long it takes, and then N times on fresh
copies, killed with SIGKILL at a random moment of that time. After each kill:

  - while the command runs, readers list the library (`storage ls --hash`,
    `tree`) again and again: none fails or waits, and each reads the state
    before or the state after, whole;
  - the library opens (tree) and `tamber storage check` passes, or names
    only a tail past the last sector in use, which the next writer cuts;
  - its state is the state before or the state after the command: the
    catalog (category dates aside) and the bytes of every stream;
  - every stream the catalog names exists and no stream is left that no
    entry answers to; every listing is well-formed XML;
  - no temporary file is left beside the library (after that first open,
    which clears what a killed writer left) or in TMPDIR;
  - an export's target is absent or a whole library equal to the finished
    export, and the library exported from is unchanged.

Prints one line per command and the totals; exits 1 on any fault.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ET
import zipfile

parser = argparse.ArgumentParser()
parser.add_argument("tamber")
parser.add_argument("work")
parser.add_argument("--kills", type=int, default=40, help="kills per command")
parser.add_argument("--seed", type=int, default=1)
parser.add_argument("--keep", action="store_true", help="keep the work folder")
opts = parser.parse_args()

tamber = os.path.abspath(opts.tamber)
work = os.path.abspath(opts.work)
discs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "disc", "discs")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
tmpdir = os.path.join(work, "tmp")
os.makedirs(tmpdir)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"),
           LC_ALL="C.UTF-8", TMPDIR=tmpdir)
rng = random.Random(opts.seed)


def run(args, check=True):
    p = subprocess.run([tamber] + args, env=env, capture_output=True, stdin=subprocess.DEVNULL, timeout=600)
    if check and p.returncode != 0:
        sys.exit(f"tamber {' '.join(args)}: {p.returncode}\n{p.stdout.decode()}{p.stderr.decode()}")
    return p


# The folders: texts of many sizes, photographs, archives, with non-ASCII names.
src = os.path.join(work, "src")
docs, pics, arch = (os.path.join(src, n) for n in ("Dokumente", "Fotos Été", "Archive"))
os.makedirs(docs)
count = 0
for root, dirs, files in os.walk("/usr/share/doc"):
    dirs.sort()
    for f in sorted(files):
        p = os.path.join(root, f)
        if count >= 6000 or not os.path.isfile(p) or os.path.islink(p):
            continue
        target = os.path.join(docs, os.path.relpath(root, "/usr/share/doc"), f)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(p, target)
        count += 1
for i in range(40):
    d = os.path.join(pics, f"Reise {i // 10}")
    os.makedirs(d, exist_ok=True)
    subprocess.run(["convert", "-size", "1600x1200", f"gradient:#{i * 6:02x}2040-#f0{i * 5:02x}10",
                    "-quality", "85", os.path.join(d, f"Bild_{i:02d} ä.jpg")], check=True)
os.makedirs(arch)
for i in range(30):
    with zipfile.ZipFile(os.path.join(arch, f"paket-{i}.zip"), "w") as z:
        for j in range(150):
            z.writestr(f"ordner/{j // 30}/datei-{j}.txt", f"{i} {j}\n")
cover = os.path.join(pics, "Reise 0", "Bild_00 ä.jpg")
big_cover = os.path.join(work, "poster.bmp")  # a 30 MB cover: the library's bulk, moved by every rewrite
subprocess.run(["convert", "-size", "3200x3200", "gradient:red-blue", "-type", "TrueColor", "BMP3:" + big_cover],
               check=True)
updated = os.path.join(work, "updated")  # a copy of the docs, a third of it touched after the scan
shutil.copytree(docs, updated)

base = os.path.join(work, "base.cds")
other = os.path.join(work, "other.cds")
run(["new", base, "-q"])
L = ["-L", base, "-q"]
run(L + ["add-folder", "-j", "2", docs, "--category", "Texte", "--label", "Docs"])
run(L + ["add-folder", "-j", "2", pics, "--category", "Bilder/Urlaub", "--label", "Fotos"])
run(L + ["add-folder", "-j", "2", arch, "--category", "Bilder", "--label", "Archive"])
run(L + ["add-folder", "-j", "2", updated, "--category", "Texte", "--label", "Kopie"])
run(L + ["add-disc", "--drive", "sim:" + os.path.join(discs, "audio-cd.xml"), "--category", "Musik", "--label", "Live"])
run(L + ["cover", "Bilder/Urlaub/Fotos", big_cover])
run(L + ["add-folder", "-j", "2", "/usr/share", "--category", "System", "--label", "share"])
run(L + ["set", "Texte/Docs", "comment=Handbücher", "price=9.90"])
run(["new", other, "-q"])
run(["-L", other, "-q", "add-folder", pics, "--category", "Bilder/Andere", "--label", "Mehr Fotos"])
run(["-L", other, "-q", "add-disc", "--drive", "sim:" + os.path.join(discs, "data-cd.xml"), "--category", "Texte",
     "--label", "Daten"])
now = time.time()
for i, (root, _, files) in enumerate(os.walk(updated)):
    for j, f in enumerate(sorted(files)):
        if (i + j) % 3 == 0:
            os.utime(os.path.join(root, f), (now, now))

export_target = os.path.join(work, "lib", "export.cds")
commands = {
    "add-folder -j 2": ["add-folder", "-j", "2", src, "--category", "Neu/Alles", "--label", "Alles"],
    "add-disc": ["add-disc", "--drive", "sim:" + os.path.join(discs, "enhanced-cd.xml"), "--category", "Musik",
                 "--label", "Extra"],
    "add-folder --update": ["add-folder", "-j", "2", "--update", "Texte/Kopie"],
    "rm folder": ["rm", "-y", "Bilder/Urlaub/Fotos"],
    "rm big listing": ["rm", "-y", "System/share"],
    "rm category": ["rm", "-y", "Texte"],
    "mv": ["mv", "Bilder/Urlaub/Fotos", "Musik"],
    "set": ["set", "Musik/Live", "artist=Die Band", "genre=Rock", "year=1999", "comment=über"],
    "cover": ["cover", "Musik/Live", cover],
    "import": ["import", other],
    "export": ["export", "Bilder", export_target],
    "storage compact": ["storage", "compact"],
}


def listing_names(catalog):
    """The streams each entry answers to, and those that must exist."""
    must, may = set(), set()

    def walk(node, path):
        for child in node:
            number = child.get("g")
            if child.tag == "b" and number is not None:
                walk(child, path + [number])
            elif child.tag == "e" and number is not None:
                stem = "-".join(path) + "-" + number
                must.add(f"col{stem}.xml")
                parts = child.findtext("x")
                for k in range(1, int(parts or 0) + 1):
                    must.add(f"col{stem}-{k}")
                (must if child.find("u") is not None else may).add(f"img{stem}")
                may.update({f"thu{stem}", f"arc{stem}", f"nix{stem}"})

    walk(catalog, [])
    may.add("nameindex")  # the search's name index, made by every save
    return must, may


def streams_of(listing):
    """Every stream's hash from `storage ls --hash`, the catalog aside."""
    streams = {}
    for line in listing.decode().splitlines():
        name, size, digest = line.split("\t")
        if name == "nameindex":
            # The name index's stamp is the hash of the catalog text, which
            # holds the measured space below: it is compared for being there.
            streams[name] = "stamp"
        elif name != "categories":
            streams[name] = digest
    return streams


def state(path):
    """The catalog without category dates, and every stream's hash."""
    catalog = run(["storage", "cat", path, "categories"]).stdout
    canonical = re.sub(rb"<d>[0-9A-F]+</d>", b"<d/>", catalog)
    # The used and free space a scan records of its volume are measured as
    # it runs: two runs of the same command differ there.
    canonical = re.sub(rb"<(b3|b4)>[0-9]+</(b3|b4)>", b"<space/>", canonical)
    return canonical, streams_of(run(["storage", "ls", "--hash", path]).stdout)


probe = os.path.join(work, "probe")
open(probe, "wb").close()
tails = 0


def check(path, expected):
    """Faults of the library at `path` that must be in one of `expected` states,
    and its state (None when it does not open or fails its check)."""
    global tails
    faults = []
    if run(["-L", path, "tree"], check=False).returncode != 0:
        faults.append("does not open")
    p = run(["storage", "check", path], check=False)
    if p.returncode != 0:
        said = p.stdout.decode()
        if "past its last sector in use" in said and said.count("\n") <= 2:
            tails += 1
        else:
            faults.append("storage check: " + said[-300:])
    # A writer (a stream put and taken out again) cuts a tail and clears
    # the temporaries a killed writer left; after it, the check is clean.
    run(["storage", "put", path, "soak-probe", probe], check=False)
    run(["storage", "rm", path, "soak-probe"], check=False)
    p = run(["storage", "check", path], check=False)
    if p.returncode != 0 and not faults:
        faults.append("storage check after a writer: " + p.stdout.decode()[-300:])
    if faults:
        return faults, None
    got = state(path)
    if got not in expected:
        names = [set(s[1]) for s in expected]
        faults.append(f"neither before nor after (streams {sorted(set(got[1]) ^ names[0])[:5]} differ from before)")
    must, may = listing_names(ET.fromstring(got[0]))
    names = set(got[1])
    if must - names:
        faults.append(f"missing streams {sorted(must - names)[:5]}")
    if names - must - may:
        faults.append(f"streams no entry answers to {sorted(names - must - may)[:5]}")
    for name in sorted(n for n in names if n.startswith("col")):
        try:
            ET.fromstring(run(["storage", "cat", path, name]).stdout)
        except ET.ParseError as e:
            faults.append(f"{name} is not well-formed: {e}")
    return faults, got


def leftovers(folder, keep):
    return sorted(set(os.listdir(folder)) - set(keep)) + sorted(os.listdir(tmpdir))


def read_meanwhile(path, stop, reads):
    """Reads the library while a command changes it: each read is "before",
    "after" or what went wrong."""
    while not stop.is_set():
        p = run(["storage", "ls", "--hash", path], check=False)
        if p.returncode != 0:
            reads.append("failed: " + p.stdout.decode()[-200:] + p.stderr.decode()[-200:])
            continue
        streams = streams_of(p.stdout)
        reads.append("before" if streams == before[1] else "after" if streams == after[1] else
                     "saw streams of neither state")
        if run(["-L", path, "tree"], check=False).returncode != 0:
            reads.append("failed: tree")


total_reads = [0]
lib_dir = os.path.join(work, "lib")
os.makedirs(lib_dir)
lib = os.path.join(lib_dir, "library.cds")
before = state(base)
total_kills = total_faults = 0
mid = {"before": 0, "after": 0}
print(f"library: {os.path.getsize(base) >> 10} KB, {len(before[1])} streams; "
      f"source: {count} texts, 40 photographs, 30 archives, /usr/share", flush=True)
for name, args in commands.items():
    shutil.copyfile(base, lib)
    if os.path.exists(export_target):
        os.unlink(export_target)
    t0 = time.monotonic()
    target = [] if name != "storage compact" else [lib]
    run(["-L", lib, "-q"] + args + target)
    duration = time.monotonic() - t0
    after = state(lib)
    exported = state(export_target) if name == "export" else None
    if name == "export":
        after = before
    counts = {"before": 0, "after": 0}
    faults = []
    for k in range(opts.kills):
        shutil.copyfile(base, lib)
        for folder in (lib_dir, tmpdir):
            for leftover in os.listdir(folder):
                if leftover != "library.cds":
                    os.unlink(os.path.join(folder, leftover))
        # Half the kills anywhere, half near the end, where the commit is.
        delay = duration * (rng.uniform(0, 1.1) if k % 2 == 0 else rng.uniform(0.7, 1.05))
        proc = subprocess.Popen([tamber, "-L", lib, "-q"] + args + target, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        reads = []
        stop = threading.Event()
        reader = threading.Thread(target=read_meanwhile, args=(lib, stop, reads))
        reader.start()
        time.sleep(delay)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        stop.set()
        reader.join()
        got, now = check(lib, [before, after])
        got += [f"a reader {r}" for r in reads if r not in ("before", "after")][:3]
        total_reads[0] += len(reads)
        if not got:
            counts["before" if now == before else "after"] += 1
        rest = leftovers(lib_dir, ["library.cds", "export.cds"])
        if rest:
            got.append(f"left behind: {rest}")
        if name == "export" and os.path.exists(export_target):
            if check(export_target, [exported])[0]:
                got.append("a partial export was left")
        if got:
            faults.append(f"kill {k} after {delay:.3f} s: " + "; ".join(got))
            if opts.keep:
                shutil.copyfile(lib, os.path.join(work, f"fault-{len(faults)}.cds"))
    total_kills += opts.kills
    total_faults += len(faults)
    for key in mid:
        mid[key] += counts[key]
    print(f"{name:22} {duration:6.2f} s to the end; {opts.kills} kills: {counts['before']} before, "
          f"{counts['after']} after, {len(faults)} faults", flush=True)
    for f in faults[:5]:
        print("    " + f, flush=True)
print(f"{total_kills} kills, {mid['before']} left the state before, {mid['after']} the state after, "
      f"{tails} a tail past the last sector in use (cut by the next writer); {total_reads[0]} reads "
      f"meanwhile; {total_faults} faults")
if not opts.keep:
    shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if total_faults else 0)

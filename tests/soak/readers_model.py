#!/usr/bin/env python3
"""One writer and many readers of a library, as separate processes.

  readers_model.py TAMBER WORKDIR [--changes N] [--readers R] [--seed S]

The writer runs N changing commands one after another (add-folder of small
real folders, add-folder --update, mv, rm, import of a second library),
and after each one records what the viewing commands print in that committed
state. Meanwhile R reader processes at a time run the viewing commands
(`ls`, `tree`, `find`, `show`, `storage ls --hash`) again and again. At the
end every reader's output must be one the writer recorded for some
committed state (the one before the change a reader overlapped, or after
it): a whole state, never a mix; and no reader may fail or say the library
is in use. Exits 1 on any fault.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("tamber")
parser.add_argument("work")
parser.add_argument("--changes", type=int, default=120)
parser.add_argument("--readers", type=int, default=2)
parser.add_argument("--seed", type=int, default=3)
opts = parser.parse_args()

tamber = os.path.abspath(opts.tamber)
work = os.path.abspath(opts.work)
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"),
           LC_ALL="C.UTF-8")
rng = random.Random(opts.seed)
done = threading.Event()  # the readers stop
lib = os.path.join(work, "library.cds")
other = os.path.join(work, "other.cds")


def run(args, check=True):
    p = subprocess.run([tamber] + args, env=env, capture_output=True, stdin=subprocess.DEVNULL, timeout=300)
    if check and p.returncode != 0:
        done.set()
        sys.exit(f"tamber {' '.join(args)}: {p.returncode}\n{p.stdout.decode()}{p.stderr.decode()}")
    return p


# Small real folders with mixed names: texts from /usr/share/doc.
folders = []
docs = sorted(d for d in os.listdir("/usr/share/doc") if os.path.isdir(os.path.join("/usr/share/doc", d)))
for i in range(8):
    folder = os.path.join(work, "src", f"Band {i} – Été" if i % 2 else f"disc{i}")
    os.makedirs(folder)
    for d in docs[i * 6:(i + 1) * 6]:
        src = os.path.join("/usr/share/doc", d)
        for f in sorted(os.listdir(src))[:5]:
            p = os.path.join(src, f)
            if os.path.isfile(p) and not os.path.islink(p):
                shutil.copyfile(p, os.path.join(folder, f"{d}-{f}"))
    folders.append(folder)

run(["new", lib])
run(["new", other])
for i, cat in ((0, "Music"), (1, "Music/Live"), (2, "Backups")):
    run(["-L", lib, "-q", "add-folder", folders[i], "--label", f"item{i}", "--category", cat])
run(["-L", other, "-q", "add-folder", folders[7], "--label", "imported", "--category", "Guests"])

# What the readers run; each is recorded by the writer after each change.
views = [
    ("tree",),
    ("ls", "Music"),
    ("ls", "Music/item0"),
    ("find", "readme"),
    ("find", "copyright", "--json"),
    ("show", "Music/item0"),
    ("storage-ls",),
]


def view(v):
    args = ["storage", "ls", "--hash", lib] if v[0] == "storage-ls" else ["-L", lib] + list(v)
    p = run(args, check=False)
    return p.returncode, p.stdout.decode() + p.stderr.decode()


seen = {v: set() for v in views}


def record():
    for v in views:
        seen[v].add(view(v))


record()
results = []  # (view, status, output)
lock = threading.Lock()


def reader(n):
    r = random.Random(opts.seed * 100 + n)
    while not done.is_set():
        v = r.choice(views)
        got = view(v)
        with lock:
            results.append((v, got))


threads = [threading.Thread(target=reader, args=(n,)) for n in range(opts.readers)]
for t in threads:
    t.start()

def items():
    """The paths of the items the tree shows ("Music/Live/item1")."""
    out, stack = [], []
    for line in run(["-L", lib, "tree"]).stdout.decode().splitlines():
        depth = (len(line) - len(line.lstrip(" "))) // 2
        number, name = line.strip().split(" ", 1)
        del stack[depth:]
        if name.endswith("/"):
            stack.append(name[:-1])
        else:
            out.append("/".join(stack + [number]))  # "#N": labels may repeat
    return out


made = 3
t0 = time.monotonic()
changes = {}
for step in range(opts.changes):
    present = [p for p in items() if p != "Music/#1"]
    kind = rng.choice(["add", "add", "update", "mv", "rm", "import"] if len(present) > 3 else ["add", "import"])
    if kind == "add":
        cat = rng.choice(["Music", "Music/Live", "Backups", "Films"])
        run(["-L", lib, "-q", "add-folder", rng.choice(folders), "--label", f"item{made}", "--category", cat])
        made += 1
    elif kind == "update":
        run(["-L", lib, "-q", "add-folder", "--update", rng.choice(present)])
    elif kind == "mv":
        run(["-L", lib, "-y", "mv", rng.choice(present), rng.choice(["Music", "Backups", "Films"])])
    elif kind == "rm":
        run(["-L", lib, "-y", "rm", rng.choice(present)])
    else:
        run(["-L", lib, "-y", "import", other])
    changes[kind] = changes.get(kind, 0) + 1
    record()
done.set()
for t in threads:
    t.join()
elapsed = time.monotonic() - t0

faults = []
for v, (status, out) in results:
    if (status, out) in seen[v]:
        continue
    if "in use" in out or "being written" in out:
        faults.append(f"{' '.join(v)}: refused: {out.strip()[:200]}")
    else:
        faults.append(f"{' '.join(v)}: status {status}, printed what no committed state gives: {out.strip()[:200]}")
check = run(["storage", "check", lib], check=False)
if check.returncode != 0:
    faults.append("storage check: " + check.stdout.decode()[-300:])
states = len(seen[("storage-ls",)])
print(f"{opts.changes} changes ({', '.join(f'{n} {k}' for k, n in sorted(changes.items()))}) in {elapsed:.1f} s, "
      f"{states} distinct committed states; {len(results)} reads by {opts.readers} readers at a time; "
      f"{len(faults)} faults")
for f in faults[:10]:
    print("    " + f)
shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if faults else 0)

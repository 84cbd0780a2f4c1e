#!/usr/bin/env python3
"""Content hashes against xxhsum, in one run.

  hash_bench.py TAMBER WORKDIR [--total-mb N]

Writes files of random bytes (2 GB down to 64 MB each, N MB in all,
default 4096) and hashes them all with `xxhsum -H2` (one thread, as it
runs), `tamber hash -j 1` and `tamber hash -j 2`: warm cache (best of 3),
and cold cache (the page cache dropped before each run, best of 2) when
this runs as root. The digests must agree; the figures are MB per second and the ratios
the targets are set in (tamber -j1 / xxhsum, tamber -j2 / tamber -j1).
"""
import os
import subprocess
import sys
import time

tamber, work = sys.argv[1], sys.argv[2]
total_mb = 4096
if "--total-mb" in sys.argv:
    total_mb = int(sys.argv[sys.argv.index("--total-mb") + 1])
os.makedirs(work, exist_ok=True)

# Large files as users keep them (disc images, films, backups), a few
# smaller ones; non-ASCII names.
sizes, left = [], total_mb
for mb in (2048, 1024, 512, 256, 128, 64):
    while left >= mb and len([s for s in sizes if s == mb]) < 2:
        sizes.append(mb)
        left -= mb
if left > 0:
    sizes.append(left)
files = []
for i, mb in enumerate(sizes):
    path = os.path.join(work, f"sauvegarde-{i:02d}-été-{mb}M.bin")
    files.append(path)
    if os.path.exists(path) and os.path.getsize(path) == mb << 20:
        continue
    with open(path, "wb") as f:
        for _ in range(mb):
            f.write(os.urandom(1 << 20))
total = sum(os.path.getsize(f) for f in files)
can_drop = os.geteuid() == 0 and os.path.exists("/proc/sys/vm/drop_caches")


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def timed(args, cold):
    if cold:
        drop_caches()
    start = time.perf_counter()
    out = subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return time.perf_counter() - start, out


commands = {
    "xxhsum -H2": ["xxhsum", "-H2"] + files,
    "tamber hash -j 1": [tamber, "hash", "-j", "1"] + files,
    "tamber hash -j 2": [tamber, "hash", "-j", "2"] + files,
}
print(f"{len(files)} files, {total / 1e6:,.0f} MB")
for cold in ([False, True] if can_drop else [False]):
    best, digests = {}, {}
    for name, args in commands.items():
        runs = [timed(args, cold) for _ in range(2 if cold else 3)]
        best[name] = min(t for t, _ in runs)
        digests[name] = runs[0][1].split()[::2]
    if len(set(map(tuple, digests.values()))) != 1:
        sys.exit("the digests differ")
    label = "cold cache" if cold else "warm cache"
    for name, t in best.items():
        print(f"{label:10}  {name:18} {t:7.2f} s  {total / t / 1e6:8,.0f} MB/s")
    print(f"{label:10}  tamber -j1 / xxhsum: {best['xxhsum -H2'] / best['tamber hash -j 1']:.2f}x   "
          f"-j2 / -j1: {best['tamber hash -j 1'] / best['tamber hash -j 2']:.2f}x")

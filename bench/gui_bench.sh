#!/usr/bin/env bash
# The desktop program on a library of 1,000,000 files in 1,000 folder items
# (20 categories of 50), plus one item whose folder holds 100,000 files and
# one whose folder holds 100,000 pictures with their thumbnails.
#   bench/gui_bench.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work="${1:-${BENCH_DIR:-/var/tmp/tamber-bench}/gui}"
tamber="$(pwd)/build/release/cli/tamber"
mkdir -p "$work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
lib="$work/million.cds"
if [ ! -e "$lib.complete" ]; then
  rm -rf "$work/tree1000" "$work/flat100k" "$lib"
  # 1,000 files in 10 folders, names of mixed lengths; 100,000 in one folder.
  python3 - "$work" <<'PY'
import os, random, sys
rnd = random.Random(3)
words = "photo music track album backup report invoice draft scan holiday été Łódź 写真 notes".split()
root = os.path.join(sys.argv[1], "tree1000")
for d in range(10):
    folder = os.path.join(root, "%s_%02d" % (rnd.choice(words), d))
    os.makedirs(folder)
    for f in range(100):
        name = "_".join(rnd.choice(words) for _ in range(rnd.randint(1, 4))) + "_%03d.dat" % f
        with open(os.path.join(folder, name), "w") as fh:
            fh.write("x" * rnd.randint(0, 40))
flat = os.path.join(sys.argv[1], "flat100k", "all")
os.makedirs(flat)
for f in range(100000):
    open(os.path.join(flat, "%s_%06d.jpg" % (rnd.choice(words), f)), "w").close()
PY
  "$tamber" new "$lib" >/dev/null
  for i in $(seq 1 1000); do
    "$tamber" -L "$lib" add-folder "$work/tree1000" --label "Disc $i" --category "Shelf $(( (i - 1) / 50 + 1 ))" -q >/dev/null
  done
  "$tamber" -L "$lib" add-folder "$work/flat100k" --label "Hundred thousand" --category "Big" -q >/dev/null
  touch "$lib.complete"
fi
# 100,000 pictures in one folder, each with its thumbnail: four photographs
# linked under 25,000 names each (a file takes at most 65,000 links).
if [ ! -e "$lib.pictures" ]; then
  rm -rf "$work/pictures100k"
  mkdir -p "$work/pictures100k/all"
  for p in 0 1 2 3; do
    convert -size 320x240 plasma:fractal "$work/photo$p.jpg" 2>/dev/null || vips black "$work/photo$p.jpg" 320 240
  done
  python3 - "$work" <<'PY'
import os, sys
for f in range(100000):
    src = os.path.join(sys.argv[1], "photo%d.jpg" % (f % 4))
    os.link(src, os.path.join(sys.argv[1], "pictures100k", "all", "photo_%06d.jpg" % f))
PY
  "$tamber" -L "$lib" add-folder "$work/pictures100k" --label "Hundred thousand pictures" --category "Big" -q >/dev/null
  touch "$lib.pictures"
fi
./build/release/bench/gui_bench "$lib" "$tamber" "Hundred thousand"

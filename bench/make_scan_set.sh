#!/usr/bin/env bash
# Makes PHOTOS (COUNT photographs of 3000 x 2000 with EXIF, default 300) and
# ARCHIVES (200 archives of several formats) for scan_bench.
set -euo pipefail
photos="$1"
archives="$2"
count="${3:-300}"
mkdir -p "$photos" "$archives"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
convert -size 3000x2000 plasma:fractal -quality 90 "$work/p.jpg"
exiftool -q -overwrite_original -Make=Bench -Model=Camera -DateTimeOriginal="2020:01:02 03:04:05" "$work/p.jpg"
for i in $(seq 1 "$count"); do cp "$work/p.jpg" "$photos/photo$i.jpg"; done
mkdir -p "$work/src/docs"
for i in $(seq 1 40); do head -c $((i * 300)) /dev/urandom > "$work/src/docs/f$i.bin"; done
(cd "$work/src" && zip -qr ../a.zip docs && tar czf ../a.tar.gz docs && 7zz a -bd -y ../a.7z docs >/dev/null)
for i in $(seq 1 70); do
  cp "$work/a.zip" "$archives/z$i.zip"
  cp "$work/a.tar.gz" "$archives/t$i.tar.gz"
done
for i in $(seq 1 60); do cp "$work/a.7z" "$archives/s$i.7z"; done

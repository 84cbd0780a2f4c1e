#!/usr/bin/env bash
# Makes DIR with COUNT (default 500) tagged MP3 files: one 3-second encoding
# by lame, copied, each copy with its own ID3v2.3 and ID3v1 tags by id3v2.
set -euo pipefail
dir="$1"
count="${2:-500}"
mkdir -p "$dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 "$work/t.wav" synth 3 sine 440 2>/dev/null
lame --quiet -V 4 "$work/t.wav" "$work/t.mp3"
for i in $(seq 1 "$count"); do
  f="$dir/song$i.mp3"
  cp "$work/t.mp3" "$f"
  id3v2 -t "Song $i" -a "Artist $((i % 17))" -A "Album $((i % 23))" -y 2001 -T "$((i % 12 + 1))" \
    -g $((i % 80)) -c "Comment $i" "$f" >/dev/null
done

#!/usr/bin/env bash
# Makes DIR with COUNT (default 100) files each of Ogg Vorbis, WMA, FLAC,
# Opus, MPEG-4 AAC and Monkey's Audio, of a song's length and each with its
# own tags: one encoding per format (oggenc, ffmpeg, flac, opusenc), copied
# and re-tagged (vorbiscomment, metaflac, ffmpeg without re-encoding). No
# Monkey's Audio encoder is packaged: those files get a real header and APE
# tag in front of and behind a song's worth of bytes.
set -euo pipefail
dir="$1"
count="${2:-100}"
mkdir -p "$dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -b 16 -c 2 "$work/t.wav" synth 240 sine 440 sine 554 2>/dev/null
oggenc -Q -q 4 "$work/t.wav" -o "$work/t.ogg"
ffmpeg -loglevel error -y -i "$work/t.wav" -c:a wmav2 -b:a 128k "$work/t.wma"
flac -s -f "$work/t.wav" -o "$work/t.flac"
opusenc --quiet "$work/t.wav" "$work/t.opus"
ffmpeg -loglevel error -y -i "$work/t.wav" -c:a aac -b:a 192k "$work/t.m4a"
for i in $(seq 1 "$count"); do
  vorbiscomment -w -t "TITLE=Song $i" -t "ARTIST=Artist $((i % 17))" -t "ALBUM=Album $((i % 23))" \
    -t "DATE=20$((i % 20 + 10))-01-01" -t "TRACKNUMBER=$((i % 12 + 1))" "$work/t.ogg" "$dir/song$i.ogg"
  ffmpeg -loglevel error -y -i "$work/t.wma" -c copy -metadata title="Song $i" -metadata artist="Artist $((i % 17))" \
    -metadata album="Album $((i % 23))" -metadata WM/Year=2001 -metadata track=$((i % 12 + 1)) "$dir/song$i.wma"
  cp "$work/t.flac" "$dir/song$i.flac"
  metaflac --set-tag="TITLE=Song $i" --set-tag="ARTIST=Artist $((i % 17))" --set-tag="ALBUM=Album $((i % 23))" \
    --set-tag="DATE=2001" --set-tag="TRACKNUMBER=$((i % 12 + 1))" "$dir/song$i.flac"
  for ext in opus m4a; do
    ffmpeg -loglevel error -y -i "$work/t.$ext" -c copy -metadata title="Song $i" -metadata artist="Artist $((i % 17))" \
      -metadata album="Album $((i % 23))" -metadata date=2001 -metadata track=$((i % 12 + 1)) "$dir/song$i.$ext"
  done
done
python3 - "$dir" "$count" <<'PY'
import os, sys
d, count = sys.argv[1], int(sys.argv[2])
def le(v, n): return v.to_bytes(n, "little")
for i in range(1, count + 1):
    seconds = 180 + i % 120
    blocks = seconds * 44100
    frames = (blocks + 73727) // 73728
    final = blocks - (frames - 1) * 73728
    audio = seconds * 44100 * 4 * 6 // 10
    head = (b"MAC " + le(3990, 2) + le(0, 2) + le(52, 4) + le(24, 4) + le(0, 4) * 2 + le(audio, 4) +
            le(0, 4) * 2 + b"\0" * 16 +
            le(2000, 2) + le(0, 2) + le(73728, 4) + le(final, 4) + le(frames, 4) + le(16, 2) + le(2, 2) + le(44100, 4))
    items = [(b"Title", f"Song {i}".encode()), (b"Artist", f"Artist {i % 17}".encode()),
             (b"Album", f"Album {i % 23}".encode()), (b"Year", b"2001"), (b"Track", f"{i % 12 + 1}".encode())]
    body = b"".join(le(len(v), 4) + le(0, 4) + k + b"\0" + v for k, v in items)
    part = lambda flags: b"APETAGEX" + le(2000, 4) + le(len(body) + 32, 4) + le(len(items), 4) + le(flags, 4) + b"\0" * 8
    with open(os.path.join(d, f"song{i}.ape"), "wb") as f:
        f.write(head)
        f.seek(len(head) + audio)  # the audio: sparse, as the readers never read it
        f.write(part(0xA0000000) + body + part(0x80000000))
PY

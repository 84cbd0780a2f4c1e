#!/usr/bin/env bash
# Makes the Ogg Vorbis fixtures of the media tests with sox and oggenc
# (Debian packages sox and vorbis-tools) into DIR.
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
for ch in 1 2 6 8; do
  sox -n -r 44100 -b 16 -c "$ch" "c$ch.wav" synth 5 sine 440 2>/dev/null
  oggenc -Q -q 2 "c$ch.wav" -o "channels$ch.ogg"
done
sox -n -r 22050 -b 16 -c 1 low.wav synth 7 sine 300 2>/dev/null
# Comments: a key in capitals, a date that is no number first, a later
# comment with the same key, one without "=" cannot be made by oggenc.
oggenc -Q -q 4 -c "TITLE=Capital key" -c "ARTIST=Ærø Band" -c "date=May 2003" -c "Album=Smörgåsbord" \
  -c "GENRE=Jazz" -c "COMMENT=First" -c "comment=Second" -c "LYRICS=la la" -c "TRACKNUMBER=4" \
  low.wav -o tagged.ogg
oggenc -Q -q 4 -c "date=2019-05-01" -c "title=Dated" low.wav -o dated.ogg
rm -f ./*.wav

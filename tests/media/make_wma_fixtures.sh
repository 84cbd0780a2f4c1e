#!/usr/bin/env bash
# Makes the Windows Media Audio fixtures of the media tests with ffmpeg
# (Debian package ffmpeg) into DIR, and prints what ffprobe finds in them:
# "name<TAB>seconds<TAB>sample rate<TAB>channels<TAB>bit rate".
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
make() {  # name codec channels rate kbps seconds [metadata...]
  local name=$1 codec=$2 ch=$3 rate=$4 kbps=$5 secs=$6
  shift 6
  ffmpeg -loglevel error -y -f lavfi -i "sine=f=440:d=$secs" -ac "$ch" -ar "$rate" -c:a "$codec" \
    -b:a "${kbps}k" "$@" "$name"
}
make wmav2_stereo.wma wmav2 2 44100 128 6 -metadata title="Été à Noël" -metadata artist="Ærø Band" \
  -metadata album="Smörgåsbord" -metadata WM/Year=2004 -metadata genre=Jazz -metadata track="5/12"
make wmav2_mono.wma wmav2 1 22050 32 9
make wmav1_stereo.wma wmav1 2 44100 64 5 -metadata title="Version one"
make wmav1_mono.wma wmav1 1 16000 24 7
for f in *.wma; do
  ffprobe -v error -show_entries format=duration:stream=sample_rate,channels,bit_rate -of default=nw=1:nk=1 "$f" |
    tr '\n' '\t' | awk -v n="$f" -F'\t' '{print n "\t" $4 "\t" $1 "\t" $2 "\t" $3}'
done

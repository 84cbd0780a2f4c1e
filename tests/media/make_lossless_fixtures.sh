#!/usr/bin/env bash
# Makes the FLAC, Opus and MPEG-4 audio fixtures of the media tests into DIR
# with sox, flac, metaflac, opusenc and ffmpeg (Debian packages sox, flac,
# opus-tools and ffmpeg).
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
sox -n -r 44100 -b 16 -c 2 stereo.wav synth 6.5 sine 440 2>/dev/null
sox -n -r 22050 -b 16 -c 1 mono.wav synth 4.2 sine 300 2>/dev/null
sox -n -r 96000 -b 24 -c 6 six.wav synth 3.1 sine 500 2>/dev/null
sox -n -r 48000 -b 16 -c 8 eight.wav synth 2 sine 600 2>/dev/null

# FLAC: several layouts; comments with a key in capitals, a date that is no
# number first, a later comment with the same key, a track "05/12".
flac -s -f stereo.wav -o stereo.flac
flac -s -f -8 mono.wav -o mono.flac
flac -s -f six.wav -o six.flac 2>/dev/null
flac -s -f eight.wav -o eight.flac 2>/dev/null
flac -s -f -T "TITLE=Capital key" -T "ARTIST=Ærø Band" -T "date=May 2003" -T "Album=Smörgåsbord" \
  -T "GENRE=Jazz" -T "COMMENT=First" -T "comment=Second" -T "LYRICS=la la" -T "TRACKNUMBER=05/12" \
  mono.wav -o tagged.flac
# A cover picture of a few hundred KB among the metadata blocks, before the comments.
head -c 300000 /dev/urandom > cover.bin
printf '\xff\xd8\xff\xe0' | cat - cover.bin > cover.jpg
cp mono.flac pictured.flac
metaflac --remove-all-tags --import-picture-from="3|image/jpeg||300x300x24|cover.jpg" pictured.flac
metaflac --set-tag="TITLE=After the picture" pictured.flac

# Opus: mono, stereo and 5.1, tagged.
opusenc --quiet mono.wav mono.opus
opusenc --quiet --title "Opus title" --artist "Ærø Band" --date "2011-03-04" --tracknumber 7 \
  --comment "GENRE=Ambient" stereo.wav stereo.opus
opusenc --quiet six.wav six.opus 2>/dev/null

# MPEG-4: AAC with the index at the end and at the front, ALAC, and tags.
ffmpeg -loglevel error -y -i stereo.wav -c:a aac -b:a 128k -metadata title="M4A title" \
  -metadata artist="Ærø Band" -metadata album="Smörgåsbord" -metadata genre=Rock \
  -metadata date=1999 -metadata track=3/10 -metadata comment="A comment" -metadata lyrics="la la" \
  stereo.m4a
ffmpeg -loglevel error -y -i mono.wav -c:a aac -b:a 64k -movflags +faststart mono.m4a
ffmpeg -loglevel error -y -i six.wav -c:a alac six-alac.m4a
rm -f ./*.wav cover.bin cover.jpg

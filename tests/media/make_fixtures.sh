#!/usr/bin/env bash
# Makes the audio fixtures of the media tests with real encoders and taggers
# (Debian packages sox, lame, twolame, id3v2, eyed3) into DIR.
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
sox -n -r 44100 -c 2 tone.wav synth 6 sine 440 sine 660 2>/dev/null
sox -n -r 22050 -c 1 mono22.wav synth 4 sine 300 2>/dev/null
lame --quiet -b 128 tone.wav cbr_info.mp3          # CBR with a LAME "Info" header
lame --quiet -b 160 -t tone.wav cbr_plain.mp3       # CBR, no Xing/Info header
lame --quiet -V 2 tone.wav vbr_xing.mp3             # VBR with a "Xing" header
lame --quiet -b 64 -m m mono22.wav mpeg2_mono.mp3   # MPEG 2 layer III, mono
twolame --quiet -b 192 tone.wav layer2.mp2          # MPEG 1 layer II
# ID3v1.1 and ID3v2.3 from id3v2 (code-page text)
cp cbr_plain.mp3 id3v23.mp3
id3v2 -t "Caf$(printf '\xe9') au lait" -a "Artiste" -A "Album" -y 2003 -T 3/12 -g 17 \
  -c "A comment" id3v23.mp3 >/dev/null
cp cbr_plain.mp3 id3v1only.mp3
id3v2 -1 -t "Only v1" -a "Someone" -T 7 -g 255 id3v1only.mp3 >/dev/null 2>&1 || true
# ID3v2.4 from eyeD3: UTF-8 and UTF-16 texts, a genre with a number, lyrics
# longer than 127 bytes, a comment with a descriptor, a length frame
printf 'la %.0s' $(seq 1 80) > lyrics.txt
cp vbr_xing.mp3 id3v24_utf8.mp3
eyeD3 --quiet --to-v2.4 --encoding utf8 -t "Été à Noël" -a "Ærø Band" -A "Smörgåsbord" \
  --recording-date 2019 -n 5 -G "Rock" --add-lyrics "lyrics.txt" --add-comment "Très bien:notes:eng" \
  --text-frame "TLEN:245000" id3v24_utf8.mp3 >/dev/null
cp vbr_xing.mp3 id3v24_utf16.mp3
eyeD3 --quiet --to-v2.4 --encoding utf16 -t "Ünïcödé title" -a "Ärtist" \
  -c "Plain comment" -G 17 id3v24_utf16.mp3 >/dev/null
cp cbr_plain.mp3 id3v23_utf16.mp3
eyeD3 --quiet --to-v2.3 --encoding utf16 -t "Ωmega" -a "Zoë" id3v23_utf16.mp3 >/dev/null

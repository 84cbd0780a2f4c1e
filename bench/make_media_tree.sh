#!/usr/bin/env bash
# Makes DIR: a tree of real media as a user's drive holds it, 2,300 files
# below folders with non-ASCII names.
#   Musik/     500 MP3s of 20 s to 5 min, CBR and VBR (lame), each copy with
#              its own ID3v2.3 and ID3v1 tags (id3v2); about 1.3 GB
#   Fotos/     800 photographs of 3000 x 2000 with EXIF (hard links to six
#              encodings), 40 of them under a ".png" name
#   Dokumente/ 200 PDFs, 100 office files, 100 HTML pages, 100 programs
#              (copied from DOCS, the set make_doc_set.sh makes, when given)
#   Archive/   200 archives (zip, tar.gz, 7z)
#   Notizen/   300 plain texts no reader opens
# Usage: make_media_tree.sh DIR [DOCS]
set -euo pipefail
dir="$1"
docs="${2:-}"
[ -e "$dir/.complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Ten encodings of noise and tones of song lengths: odd ones VBR, even CBR.
lengths=(20 45 75 110 150 180 210 240 270 300)
for k in "${!lengths[@]}"; do
  sox -n -r 44100 -c 2 "$work/t$k.wav" synth "${lengths[$k]}" pinknoise sine $((200 + 70 * k)) vol 0.5 2>/dev/null
  if (( k % 2 )); then
    lame --quiet -V 2 "$work/t$k.wav" "$work/t$k.mp3"
  else
    lame --quiet -b 192 "$work/t$k.wav" "$work/t$k.mp3"
  fi
  rm "$work/t$k.wav"
done
for i in $(seq 1 500); do
  artist="Künstler $((i % 25))"
  album="Album $((i % 50)) – Été"
  d="$dir/Musik/$artist/$album"
  mkdir -p "$d"
  f="$d/$(printf %02d $((i % 20 + 1))) Lied ñ $i.mp3"
  cp "$work/t$((i % 10)).mp3" "$f"
  id3v2 -t "Lied $i" -a "$artist" -A "$album" -y 2001 -T "$((i % 20 + 1))" -g $((i % 80)) -c "Kommentar $i" "$f" >/dev/null
done

for k in 0 1 2 3 4 5; do
  convert -seed $k -size 3000x2000 plasma:fractal -quality 90 "$work/p$k.jpg"
  exiftool -q -overwrite_original -Make=Bench -Model="Camera $k" -DateTimeOriginal="2020:01:0$((k + 1)) 03:04:05" \
    -ExposureTime=1/125 -FNumber=5.6 "$work/p$k.jpg"
done
for i in $(seq 1 800); do
  d="$dir/Fotos/$((2010 + i % 12))/Ausflug $((i % 40)) à la mer"
  mkdir -p "$d"
  name="IMG_$(printf %04d "$i").JPG"
  # Names that lie: a JPEG called .png.
  (( i % 20 == 0 )) && name="Bild_$i.png"
  ln "$work/p$((i % 6)).jpg" "$d/$name"
done

if [ -n "$docs" ] && [ -d "$docs" ]; then
  mkdir -p "$dir/Dokumente/Berichte" "$dir/Dokumente/Büro" "$dir/Dokumente/Web" "$dir/Dokumente/Programme"
  cp "$docs"/*.pdf "$dir/Dokumente/Berichte/"
  cp "$docs"/*.docx "$dir/Dokumente/Büro/"
  cp "$docs"/*.html "$dir/Dokumente/Web/"
  cp "$docs"/*.exe "$dir/Dokumente/Programme/"
fi

mkdir -p "$work/src/docs"
for i in $(seq 1 40); do head -c $((i * 300)) /dev/urandom > "$work/src/docs/f$i.bin"; done
(cd "$work/src" && zip -qr ../a.zip docs && tar czf ../a.tar.gz docs && 7zz a -bd -y ../a.7z docs >/dev/null)
mkdir -p "$dir/Archive/Sicherungen"
for i in $(seq 1 70); do
  cp "$work/a.zip" "$dir/Archive/Sicherungen/sicherung $i.zip"
  cp "$work/a.tar.gz" "$dir/Archive/Sicherungen/quellen-$i.tar.gz"
done
for i in $(seq 1 60); do cp "$work/a.7z" "$dir/Archive/paket_$i.7z"; done

for i in $(seq 1 300); do
  d="$dir/Notizen/$((i % 10))"
  mkdir -p "$d"
  head -c $((500 + i * 37)) /dev/urandom | base64 > "$d/notiz $i.txt"
done
touch "$dir/.complete"

#!/usr/bin/env bash
# Pictures of the desktop program under Xvfb, for a person to look at:
#   tests/gui/screenshots.sh [OUTDIR]   (default build/screenshots)
# Builds the release preset, catalogues a small sample folder (pictures, an
# archive, tagged MP3s, a non-ASCII name) into a fresh library, then saves
# the main window with the library, a folder's files with a picture's page,
# an archive's page, a music folder, a video's page, the add-disc dialog with a simulated
# audio CD, the report window and the first page of
# the PDF it saves, and the window in French.
set -euo pipefail
cd "$(dirname "$0")/../.."
out="$(realpath -m "${1:-build/screenshots}")"
./scripts/build.sh release >/dev/null
work="$(mktemp -d)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
echo "work: $work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
tree="$work/sample"
mkdir -p "$tree/Photos" "$tree/Docs/Old" "$tree/Music"
vips black "$tree/Photos/night.jpg" 640 480
vips xyz "$tree/Photos/gradient.png" 800 600
convert -size 720x480 plasma:fractal "$tree/Photos/f3.jpg" 2>/dev/null || vips black "$tree/Photos/f3.jpg" 720 480
echo "inner report" > "$work/inner-report.txt"
(cd "$work" && zip -q "$tree/Docs/pack.zip" inner-report.txt)
echo notes > "$tree/Docs/notes.txt"
echo old > "$tree/Docs/Old/Été 2019.txt"
./bench/make_mp3_set.sh "$tree/Music" 6
mkdir -p "$tree/Videos"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=8 -f lavfi -i sine=duration=8 \
  -c:v libx264 -preset ultrafast -c:a aac -metadata:s:a:0 language=deu -metadata title="Sommerfest 2025" \
  "$tree/Videos/Sommerfest 2025.mp4"
tamber=./build/release/cli/tamber
lib="$work/sample.cds"
"$tamber" new "$lib" >/dev/null
"$tamber" -L "$lib" add-folder "$tree" --label "Backup 2026" --category Backups -q >/dev/null
"$tamber" -L "$lib" add-folder "$tree/Photos" --label "Holiday photos" --category Pictures -q >/dev/null
"$tamber" -L "$lib" cover "Backups/Backup 2026" "$tree/Photos/f3.jpg" >/dev/null
# What a verify of the backup then finds: a file changed, one gone, one new.
echo "more notes" >> "$tree/Docs/notes.txt"
touch -d "2020-01-01 12:00" "$tree/Docs/notes.txt"
rm "$tree/Docs/Old/Été 2019.txt"
echo new > "$tree/Docs/new.txt"
# A folder large enough to be caught while it is being added.
python3 - "$work/big" <<'PY'
import os, sys
for d in range(600):
    folder = os.path.join(sys.argv[1], "set%03d" % d, "inner")
    os.makedirs(folder)
    for f in range(200):
        open(os.path.join(folder, "photo_%03d_%03d.jpg" % (d, f)), "w").close()
PY
mkdir -p "$out"
export TAMBER_SIM_DISC="$PWD/tests/disc/discs/audio-cd.xml"
xvfb-run -a -s "-screen 0 1280x800x24" ./build/release/tests/gui/gui_screenshots "$lib" "$out" \
  --config "$work/tamber.cfg" "$work/big"
pdftoppm -png -r 60 -f 1 -l 1 "$out/report.pdf" "$out/report-pdf-page"
# The same at twice the pixel density, as on a high-DPI screen.
mkdir -p "$out/hidpi"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2560x1600x24" ./build/release/tests/gui/gui_screenshots "$lib" \
  "$out/hidpi" --config "$work/tamber.cfg" "$work/big"

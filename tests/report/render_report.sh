#!/usr/bin/env bash
# Renders a report of a sample library (folders with pictures and
# documents, an audio CD with its tracks, a CD-Extra, cover pictures) in
# headless Chromium to PNG and PDF, for people to look at.
#
#   tests/report/render_report.sh [TAMBER] [OUTDIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tamber="${1:-$here/../../build/release/cli/tamber}"
out="${2:-/tmp/tamber-report}"
chromium="$(command -v chromium || command -v chromium-browser || true)"
[ -n "$chromium" ] || { echo "render_report: chromium is not installed" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
lib="$work/sample.cds"
cfg="$work/tamber.cfg"
t() { "$tamber" -L "$lib" --config "$cfg" -q "$@"; }
"$tamber" new "$lib" >/dev/null

photos="$work/Holiday 2024"
mkdir -p "$photos/Beach" "$photos/Mountains"
for i in 1 2 3; do
  convert -size 1200x800 "plasma:sky$i" "$photos/Beach/IMG_10$i.jpg" 2>/dev/null ||
    convert -size 1200x800 xc:skyblue "$photos/Beach/IMG_10$i.jpg"
  convert -size 800x1200 gradient:green-white "$photos/Mountains/Peak $i.jpg"
done
cp "$here/../media/docs/report.pdf" "$photos/Itinerary.pdf"
cp "$here/../media/docs/report.docx" "$photos/Packing list.docx"
t add-folder "$photos" --label "Holiday 2024" --category "Photos" --comment "Summer trip"
t add-folder "$here/../media/docs" --label "Office documents" --category "Work/Archive"
discs="$here/../disc/discs"
t add-disc --drive "sim:$discs/audio-cd.xml" --category Music --location "Shelf 3" --price 12.5
t add-disc --drive "sim:$discs/enhanced-cd.xml" --category Music --label Harbour
convert -size 300x300 gradient:'#2f6db5'-'#8a4fb5' "$work/cover.png"
t cover "Photos/Holiday 2024" "$work/cover.png"
t report --covers --title "Sample library" -o "$out/report.html"
"$chromium" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,1600 \
  --screenshot="$out/report.png" "file://$out/report.html" 2>/dev/null
"$chromium" --headless --no-sandbox --disable-gpu --print-to-pdf="$out/report.pdf" --no-pdf-header-footer \
  "file://$out/report.html" 2>/dev/null
ls -la "$out"

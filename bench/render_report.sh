#!/usr/bin/env bash
# How long a browser takes to open a large HTML report: headless Chromium
# takes a screenshot of the page (load, style, layout of what is in sight),
# against the same browser opening an empty page. The library is the folder
# given (default /usr, about 170,000 entries), catalogued without reading
# the files' contents.
#
#   bench/render_report.sh [TAMBER] [FOLDER]     (needs: apt-get install chromium)
set -euo pipefail
cd "$(dirname "$0")/.."
tamber="${1:-./build/release/cli/tamber}"
folder="${2:-/usr}"
browser="$(command -v chromium || command -v chromium-browser || true)"
[ -n "$browser" ] || { echo "chromium is not installed (apt-get install chromium)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$tamber" new "$work/big.cds" >/dev/null
"$tamber" -L "$work/big.cds" -q add-folder "$folder" --label Big --category Bench \
  --no-thumbnails --no-archives --no-tags --no-docs >/dev/null
entries=$("$tamber" -L "$work/big.cds" --json show Bench/Big | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["files"]+d["folders"])')
/usr/bin/time -f "tamber report: %e s" "$tamber" -L "$work/big.cds" -q report -o "$work/big.html"
echo "page: $(du -h "$work/big.html" | cut -f1), $entries entries"
echo '<!DOCTYPE html><html><body>empty</body></html>' > "$work/empty.html"
render() {  # label, page
  local start end
  start=$(date +%s.%N)
  timeout 600 "$browser" --headless=new --no-sandbox --disable-gpu --window-size=1280,900 \
    --screenshot="$work/shot.png" "file://$2" >/dev/null 2>&1
  end=$(date +%s.%N)
  python3 -c "print(f'$1: {$end - $start:.2f} s')"
}
render "browser, empty page" "$work/empty.html"
render "browser, the report" "$work/big.html"

#!/usr/bin/env bash
# Reports of a library of 100,000 files (one folder) and of the realistic
# tree (200,000 files in 20,000 folders): time and peak memory of
# `tamber report` as HTML, XML and RTF, against xsltproc applying the same
# stylesheet to the report data already written out (what a user scripting
# the export would run).
#
#   bench/report_bench.sh [TAMBER] [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
tamber="${1:-./build/release/cli/tamber}"
dir="${2:-${BENCH_DIR:-/var/tmp/tamber-bench}/report}"
mkdir -p "$dir"
flat="$dir/flat100k"
if [ ! -d "$flat/all" ]; then
  mkdir -p "$flat/all"
  python3 - "$flat/all" <<'PY'
import os, sys
d = sys.argv[1]
for i in range(100000):
    open(os.path.join(d, f"file-{i:06d} Überblick.txt"), "w").close()
PY
fi
tree="${BENCH_DIR:-/var/tmp/tamber-bench}/add-folder/lying"
[ -d "$tree" ] || python3 ../shared/datasets/gen_tree.py "$tree" >/dev/null 2>&1 || true
measure() {  # label, command...
  local label="$1"; shift
  /usr/bin/time -f "$label: %e s, %M KB peak" "$@" 2>&1 >/dev/null | tail -1
}
for source in "$flat" "$tree"; do
  [ -d "$source" ] || continue
  lib="$dir/$(basename "$source").cds"
  if [ ! -f "$lib" ]; then
    "$tamber" new "$lib" >/dev/null
    "$tamber" -L "$lib" -q add-folder "$source" --label Big --category Bench --no-thumbnails --no-archives >/dev/null
  fi
  echo "== $(basename "$source"): $("$tamber" -L "$lib" ls Bench/Big --json | grep -o '"name"' | wc -l) top entries"
  for format in html xml rtf; do
    measure "tamber report --format $format" "$tamber" -L "$lib" report --format "$format" -o "$dir/out.$format"
  done
  measure "xsltproc (HTML from the written data)" xsltproc -o "$dir/x.html" resources/reports/report.xsl "$dir/out.xml"
done

#!/usr/bin/env bash
# The main job of the quick start: installs what is missing, builds, and
# stores this repository's sources in a demonstration library, then lists and
# checks it, and files a few categories in it. (Cataloguing folders arrives
# with the scanner.)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >/dev/null
tamber=./build/release/cli/tamber
library="${1:-demo.cds}"
rm -f "$library"
for f in README.md src/storage/*.h src/storage/*.cpp; do
  "$tamber" storage put "$library" "sources/$(basename "$f")" "$f"
done
"$tamber" storage ls --hash "$library"
"$tamber" storage check "$library"
"$tamber" -l "$library" mkcat "Music/Rock" --comment "guitars & drums" >/dev/null
"$tamber" -l "$library" mkcat "Music/Jazz" >/dev/null
"$tamber" -l "$library" mkcat "Backups" >/dev/null
"$tamber" -l "$library" tree
"$tamber" -l "$library" info

#!/usr/bin/env bash
# The main job of the quick start: installs what is missing, builds, and
# catalogues a folder (default: this repository) into the default library,
# then shows the library's tree, the new item and its recorded files.
#
#   scripts/demo.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >/dev/null
tamber=./build/release/cli/tamber
folder="$(realpath "${1:-.}")"
label="$(basename "$folder")"
# A second run re-scans the item instead of adding another.
if "$tamber" show "Demo/$label" >/dev/null 2>&1; then
  "$tamber" add-folder "$folder" --update "Demo/$label"
else
  "$tamber" add-folder "$folder" --label "$label" --category Demo \
    --comment "catalogued by scripts/demo.sh"
fi
"$tamber" tree
"$tamber" show "Demo/$label"
"$tamber" ls -l -h "Demo/$label"
"$tamber" du -h "Demo/$label"
echo "(more: $tamber ls -R \"Demo/$label\", $tamber help; the desktop program: ./build/release/gui/tamber-gui)"

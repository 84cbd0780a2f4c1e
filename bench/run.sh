#!/usr/bin/env bash
# Builds the release preset and runs every benchmark; pass --quick for a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >/dev/null
./build/release/bench/storage_bench "${BENCH_DIR:-/var/tmp/tamber-bench}" "$@"
./build/release/bench/catalog_bench "${BENCH_DIR:-/var/tmp/tamber-bench}/catalog"
audio="${BENCH_DIR:-/var/tmp/tamber-bench}/audio"
docs="${BENCH_DIR:-/var/tmp/tamber-bench}/docs"
[ -d "$audio" ] || ./bench/make_audio_set.sh "$audio" 100
./bench/make_media_tree.sh "${BENCH_DIR:-/var/tmp/tamber-bench}/jobs/media-tree" "$docs"
# The MP3s: 500 of 20 s to 5 min, CBR and VBR, in the media tree.
./build/release/bench/media_bench "${BENCH_DIR:-/var/tmp/tamber-bench}/jobs/media-tree/Musik" "$audio"
if [ -d "$docs" ] || { command -v soffice && command -v x86_64-w64-mingw32-gcc; } >/dev/null; then
  [ -d "$docs" ] || ./bench/make_doc_set.sh "$docs" 100
  ./build/release/bench/doc_bench "$docs"
fi
scanset="${BENCH_DIR:-/var/tmp/tamber-bench}/scan"
[ -d "$scanset" ] || ./bench/make_scan_set.sh "$scanset/photos" "$scanset/archives" 300
./build/release/bench/scan_bench "$scanset/photos" "$scanset/archives"
./bench/add_folder_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/add-folder" "$@"
./bench/jobs_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/jobs" "$@"
./bench/report_bench.sh ./build/release/cli/tamber
./bench/find_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/find" "$@"
./bench/readers_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/readers" "$@"
if [ -x ./build/release/bench/gui_bench ]; then ./bench/gui_bench.sh; fi
./bench/hash_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/hash"
./bench/dupes_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/dupes" "$@"
./bench/publish_bench.py ./build/release/cli/tamber "${BENCH_DIR:-/var/tmp/tamber-bench}/publish" "$@"

#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# an optimised build with warnings as errors, and a debug build (clang) with
# AddressSanitizer and UndefinedBehaviorSanitizer, which also holds the fuzz
# targets; then the threaded parts
# (the add-folder job with several reading threads, the search workers, the
# disc database server watcher, the desktop program's workers) under
# ThreadSanitizer; then every fuzz target for a few seconds over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs="$(nproc)"
for preset in release dev; do
  echo "== $preset build"
  ./scripts/build.sh "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs"
done
echo "== tsan build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target storage_tests scan_tests search_tests disc_tests gui_tests window_tests
echo "== tsan tests"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
# Readers in threads beside a writer of the same library file.
(cd build/tsan && ./tests/storage/storage_tests --gtest_brief=1 --gtest_filter='Sharing.*')
for t in scan/scan_tests search/search_tests disc/disc_tests; do
  (cd build/tsan && "./tests/$t" --gtest_brief=1)
done
# The desktop program's workers (exports, imports, reports, the search, the
# add-folder job, the disc database watcher) handing results to the window.
(cd build/tsan && QT_QPA_PLATFORM=offscreen ./tests/gui/gui_tests -silent)
# The window searching while its own job writes the library.
(cd build/tsan && QT_QPA_PLATFORM=offscreen ./tests/gui/window_tests -silent \
  searchesWhileAJobWritesAndACancelLeavesTheFile aLibraryAnotherProgramWritesOpensForReading)
echo "== fuzz smoke"
python3 fuzz/run_targets.py smoke --seconds 4 --build build/dev

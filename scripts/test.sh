#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# an optimised build with warnings as errors, and a debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
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

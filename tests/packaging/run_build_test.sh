#!/usr/bin/env bash
# The build that `tools/setup run` makes must configure with the run
# packages alone: no GoogleTest, no Google Benchmark.
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$(dirname "$0")/../.."
cmake --preset app -B "$dir" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$dir.log" 2>&1 ||
  { cat "$dir.log"; rm -f "$dir.log"; echo "FAIL: the run build needs a test package"; exit 1; }
rm -f "$dir.log"
grep -q '^wendrix:' <(ninja -C "$dir" -t targets all) || { echo "FAIL: no program target"; exit 1; }
echo "run build configures without the test packages"

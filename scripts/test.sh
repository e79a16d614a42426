#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# then a clang build with AddressSanitizer and UndefinedBehaviorSanitizer in
# which every test runs again (the widget tests too, offscreen) and each
# parser is fuzzed for a minute. A compiler warning fails the build.
#
# Each build has its own tree with its options given every time, so the
# application's tree from scripts/run.sh (built without tests) never stands in
# for the tests'. A tree without tests fails rather than passing empty.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
fixtures=${VOREL_FIXTURES_DIR:-$root/../shared/fixtures}
if [ ! -d "$fixtures" ] && [ "${VOREL_REQUIRE_FIXTURES:-}" != 1 ]; then
  echo "No real transcripts in $fixtures (they come from ../shared/fixtures beside the clone, or set" \
    "VOREL_FIXTURES_DIR): the tests that read them are skipped."
fi
bash scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_TESTS=ON -DVOREL_GUI=ON -DVOREL_BENCH=ON -DVOREL_WERROR=ON
ctest --test-dir build/test --no-tests=error --output-on-failure -j "$jobs"

CC=clang CXX=clang++ bash scripts/build.sh build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOREL_SANITIZE=ON -DVOREL_FUZZ=ON -DVOREL_TESTS=ON -DVOREL_GUI=ON -DVOREL_BENCH=OFF -DVOREL_WERROR=ON
ctest --test-dir build/sanitize --no-tests=error --output-on-failure -j "$jobs"

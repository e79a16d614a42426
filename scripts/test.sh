#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# then a clang build with AddressSanitizer and UndefinedBehaviorSanitizer in
# which the engine tests run again and each parser is fuzzed for a minute.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build/release && ctest --output-on-failure -j "$jobs")

CC=clang CXX=clang++ bash scripts/build.sh build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOREL_SANITIZE=ON -DVOREL_FUZZ=ON -DVOREL_BENCH=OFF -DVOREL_GUI=OFF
(cd build/sanitize && ctest --output-on-failure -j "$jobs")

#!/usr/bin/env bash
# Installs what is missing, builds Vorel and starts it. The tree holds the
# application alone; scripts/test.sh builds its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_TESTS=OFF -DVOREL_BENCH=OFF
exec build/release/vorel "$@"

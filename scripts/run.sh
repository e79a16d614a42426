#!/usr/bin/env bash
# Installs what is missing, builds Vorel and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_TESTS=OFF -DVOREL_BENCH=OFF
if [ -x build/release/shell/vorel ]; then
  exec build/release/shell/vorel "$@"
fi
echo "Built the engine; the desktop application is not part of this build yet."

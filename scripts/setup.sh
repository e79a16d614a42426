#!/usr/bin/env bash
# Installs what Vorel needs to build, run and test, on Debian 12 as root.
# Only missing packages are installed, so a second run takes a moment.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libsimdjson-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  wordnet-base link-grammar-dictionaries-en
  clang libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev libgl-dev fonts-material-design-icons-iconfont
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs what Vorel needs to build, run and test, on Debian 12 as root.
# Only missing packages are installed, so a second run takes a moment.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++ cmake ninja-build pkg-config git
  libsimdjson-dev libicu-dev libxxhash-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  wordnet-base link-grammar-dictionaries-en
  clang libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev libgl-dev fonts-material-design-icons-iconfont fonts-dejavu-core
  dbus-daemon
  # The tests that check numbers keep their full stop under a comma-decimal
  # locale compile de_DE with localedef from these definitions.
  locales
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

# DM Sans is released under the SIL Open Font License and is not packaged in
# Debian; the npm registry carries its static TTFs. The build bundles the
# regular, medium and semibold faces from .cache/fonts (never committed).
# Without them the system font is used, so a failure here does not fail the
# setup.
fonts_dir="$root/.cache/fonts"
faces=(400Regular:Regular 500Medium:Medium 600SemiBold:SemiBold)

have_fonts() {
  local face
  for face in "${faces[@]}"; do
    [ -f "$fonts_dir/DMSans-${face#*:}.ttf" ] || return 1
  done
}

fetch_fonts() {
  if ! command -v npm >/dev/null 2>&1; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm \
      || return 1
  fi
  local prefix="$root/.cache/npm" face
  npm install --prefix "$prefix" --no-audit --no-fund --silent @expo-google-fonts/dm-sans@0.4.2 || return 1
  local pkg="$prefix/node_modules/@expo-google-fonts/dm-sans"
  mkdir -p "$fonts_dir" || return 1
  for face in "${faces[@]}"; do
    cp "$pkg/${face%%:*}/DMSans_${face%%:*}.ttf" "$fonts_dir/DMSans-${face#*:}.ttf" || return 1
  done
  cp "$pkg/LICENSE_FONT" "$fonts_dir/OFL.txt" || true
}

if ! have_fonts; then
  echo "Fetching the DM Sans fonts"
  fetch_fonts || echo "DM Sans could not be fetched; Vorel will use the system font."
fi

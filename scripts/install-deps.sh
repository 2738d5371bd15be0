#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velmora need.
# Does nothing when everything is already there, so it is cheap to call on every build.
set -euo pipefail

packages=(
  g++ lld cmake ninja-build pkgconf make clang-format git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  chromium
  nlohmann-json3-dev libspng-dev libdeflate-dev libpng-dev libjpeg62-turbo-dev libwebp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-liberation xauth xvfb
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  run=()
elif command -v sudo >/dev/null 2>&1; then
  run=(sudo)
else
  echo "error: packages missing (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${run[@]}" apt-get update -qq
"${run[@]}" apt-get install -y -qq "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those missing, and says which.
# Usage: scripts/deps.sh [package...]   (no arguments: the build and test set)
set -euo pipefail

packages=("$@")
if [ ${#packages[@]} -eq 0 ]; then
  # libqt6svg6 carries Qt's SVG icon engine, which draws the program's button glyphs at every scale.
  # fonts-liberation2 gives Arial its metric twin, so the captions fit the fixed-width buttons.
  # libwmf-bin's wmf2gd is the independent metafile player the tests compare with; it needs the
  # URW fonts to start at all.
  packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev python3-pil
    libpng-dev zlib1g-dev libjpeg62-turbo-dev libtiff-tools giflib-tools libtiff-dev libgif-dev
    qt6-base-dev libqt6svg6 libgl-dev xvfb xauth xdotool xclip fonts-liberation2 libsodium-dev pkg-config
    libsane-dev sane-utils libwmf-bin fonts-urw-base35
    # FFmpeg decodes AVI frames for the open dialog; the ffmpeg program makes the tests' videos.
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

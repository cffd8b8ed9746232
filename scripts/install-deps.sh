#!/usr/bin/env bash
# Installs the Debian 12 packages Harbly needs to build, run and test.
# Only what is missing is installed; running it again is cheap.
#   scripts/install-deps.sh           build + run
#   scripts/install-deps.sh --test    also the test desktop, browser and tools
set -euo pipefail

build_pkgs=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-websockets-dev qt6-webengine-dev libqt6svg6
  qt6-image-formats-plugins qt6-qpa-plugins
  libqrencode-dev libx11-dev libxtst-dev libglib2.0-dev libgl-dev libwayland-dev libxkbcommon-dev
  pulseaudio-utils xdg-utils desktop-file-utils
)
test_pkgs=(
  googletest libgtest-dev clang libclang-rt-14-dev
  xvfb xauth x11-utils xdotool xclip dbus python3-dbus python3-gi gir1.2-glib-2.0
  pulseaudio playerctl zbar-tools imagemagick iproute2
  chromium nodejs npm nginx-light wrk hicolor-icon-theme adwaita-icon-theme
  fonts-noto-color-emoji lintian appstream openssl
  mutter xwayland qt6-wayland wev wl-clipboard xdg-desktop-portal
)

want=("${build_pkgs[@]}")
if [[ "${1:-}" == "--test" ]]; then want+=("${test_pkgs[@]}"); fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# node/npm may come from elsewhere on developer machines; skip them when present.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=(); for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]}")
fi

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ "${1:-}" == "--test" ]]; then
  if [[ ! -d tests/e2e/node_modules/playwright-core ]]; then
    (cd tests/e2e && npm install --no-audit --no-fund --silent)
  fi
fi

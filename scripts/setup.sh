#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those missing), then configures and
# builds the given CMake preset (default: "default"), or only the targets named after it. Sourced or run
# by run.sh and test.sh.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good
  libcurl4-openssl-dev nlohmann-json3-dev libprotobuf-c-dev protobuf-c-compiler libsecret-1-dev
  libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev libxcb-xinput-dev libxcb-xfixes0-dev libxkbcommon-dev
  libxkbcommon-x11-dev
  librlottie-dev xvfb xauth x11-xkb-utils xkb-data xdotool xclip fonts-dejavu-core fonts-noto-color-emoji
  dbus gnome-keyring clang libclang-rt-14-dev clang-format openbox trayer tk8.6 curl openssl
  llvm-16 libunwind-dev iproute2 x11-utils xterm stterm xcompmgr
)

quorvelle_install_packages() {
  local missing=()
  local p
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

quorvelle_build() {
  local preset="${1:-default}"
  local targets=("${@:2}")
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  cmake --preset "$preset" -S "$root" >/dev/null
  cmake --build "$root/build/$preset" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
  if [ "$preset" = default ]; then
    # Short path for the developer tools of the default build: build/tools/<name>.
    ln -sfn default/tools "$root/build/tools"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  quorvelle_install_packages
  quorvelle_build "$@"
fi

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those missing), then configures and
# builds the given CMake preset (default: "default"), or only the targets named after it. Sourced or run
# by run.sh and test.sh.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libsndfile1-dev libpulse-dev pulseaudio
  libcurl4-openssl-dev nlohmann-json3-dev libprotobuf-c-dev protobuf-c-compiler libsecret-1-dev
  libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev libxcb-xinput-dev libxcb-xfixes0-dev libxkbcommon-dev
  libxkbcommon-x11-dev
  librlottie-dev xvfb xauth x11-xkb-utils xkb-data xdotool xclip fonts-dejavu-core fonts-noto-color-emoji
  dbus gnome-keyring clang libclang-rt-14-dev clang-format openbox trayer tk8.6 curl openssl
  llvm-16 libunwind-dev iproute2 x11-utils libiberty-dev xterm stterm xcompmgr
  pulseaudio-utils
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

# Exports the sanitizer options the asan build's tests run with: "unit" for the unit tests, "desktop" for the
# keyring and x11 tests (full unwinding on malloc, so that leak stacks reach the system libraries that
# scripts/lsan.supp names). Values already in the environment win.
quorvelle_sanitizer_env() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  if [ "${1:-unit}" = desktop ]; then
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}"
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0}"
  else
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
  fi
}

# Runs ctest in the current build folder with the given arguments, forgetting the failures of an earlier run
# first, so that quorvelle_failed_tests names this run's only.
quorvelle_ctest() {
  rm -f Testing/Temporary/LastTestsFailed.log
  ctest "$@"
}

# The tests that failed in the last quorvelle_ctest run of build folder $1, one name a line.
quorvelle_failed_tests() {
  local log="$1/Testing/Temporary/LastTestsFailed.log"
  [ -f "$log" ] && sed -E 's/^[0-9]+://' "$log"
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  quorvelle_install_packages
  quorvelle_build "$@"
fi

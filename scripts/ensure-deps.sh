#!/usr/bin/env bash
# Installs the Debian packages VORLA needs to build, run and test; calls apt-get
# only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  tcl8.6-dev
  googletest libgtest-dev
  fonts-dejavu-core
  # a private X display, a window manager and X input for the tests in tests/x11
  xvfb openbox xdotool wmctrl x11-utils
  # libFuzzer targets under fuzz/
  clang libclang-rt-14-dev
  # the install tree and Debian package checks in tests/install
  dpkg-dev desktop-file-utils appstream lintian groff-base
  # vorlash's JUnit report is checked with xmllint (tests/shell)
  libxml2-utils
  # the Windows cross build and its tests under Wine (scripts/build-windows.sh);
  # dpkg-dev and the keyring fetch the Tcl sources, googletest gives GoogleTest's
  g++-mingw-w64-x86-64-posix wine wine64 debian-archive-keyring
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

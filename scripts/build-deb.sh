#!/usr/bin/env bash
# Builds the Debian package velmora_<version>_<arch>.deb from a Release build for the /usr
# prefix (build folder build-deb, or the one given), and prints its name. Install it with
#   sudo apt install ./velmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-deb}
# Built with the hardening every Debian package has (stack protector, fortified C library calls,
# read-only relocations bound at start); debug information is left out, the package is stripped.
flags=() cxxflags=
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  for f in $(LC_ALL=C dpkg-buildflags --get CPPFLAGS) $(LC_ALL=C dpkg-buildflags --get CXXFLAGS); do
    [ "$f" = -g ] || cxxflags+="$f "
  done
  ldflags=$(LC_ALL=C dpkg-buildflags --get LDFLAGS)
  flags=("-DCMAKE_C_FLAGS=$cxxflags" "-DCMAKE_CXX_FLAGS=$cxxflags"
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
    "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags")
fi
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF "${flags[@]}" >/dev/null
cmake --build "$B" -j2
(cd "$B" && cpack -G DEB >/dev/null)
# The build folder may be given relative to the source tree or as an absolute path.
(cd "$B" && ls "$PWD"/velmora_*.deb)

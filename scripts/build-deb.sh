#!/usr/bin/env bash
# Builds the Debian package velmora_<version>_<arch>.deb from a Release build for the /usr
# prefix (build folder build-deb, or the one given), and prints its name. Install it with
#   sudo apt install ./velmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-deb}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$B" -j2
(cd "$B" && cpack -G DEB >/dev/null)
# The build folder may be given relative to the source tree or as an absolute path.
(cd "$B" && ls "$PWD"/velmora_*.deb)

#!/usr/bin/env bash
# Installs the Debian packages Velmora needs to build, run and test, but only those missing,
# so a second run costs a second. Needs root (apt-get), as on a fresh Debian 12 machine.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins qt6-translations-l10n
  libjpeg62-turbo-dev libtiff-dev libsane-dev sane-utils
  cups cups-bsd cups-client cups-filters libcups2-dev ghostscript poppler-utils
  xvfb xauth x11-utils xdotool xclip imagemagick fonts-dejavu-core fonts-liberation
  libgtest-dev libgmock-dev libbenchmark-dev libjpeg-turbo-progs clang-14 libclang-rt-14-dev
  clang-format
  # The Debian package's checks.
  lintian appstream desktop-file-utils
  # Driverless scanners: eSCL and WSD over the network, IPP-over-USB devices; python3 runs the
  # tests' own eSCL scanner.
  sane-airscan ipp-usb python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# Without --no-install-recommends the cups package pulls in avahi and friends.
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# A scanner for every newcomer: on a machine where SANE finds no scanner at all, Velmora gets
# SANE's test scanner (an A4 colour page at 300 dpi, or ten pages from its simulated document
# feeder), so that "Hole Bild" and "Schnellkopie" work before a real scanner is plugged in.
# Nothing of the machine's SANE setup is touched: the test scanner lives in a private SANE
# configuration folder, and only the Velmora process is pointed at it (SANE_CONFIG_DIR).
#
#   sane-test-scanner.sh needed   exit status 0 when SANE (as this environment configures it)
#                                 finds no scanner
#   sane-test-scanner.sh config   writes the private configuration (again, if it exists) and
#                                 prints its folder on standard output
# Environment:
#   VELMORA_SANE_DIR   the configuration folder (default ~/.local/share/velmora/sane)
set -uo pipefail

DIR=${VELMORA_SANE_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/velmora/sane}

needed() {
  command -v scanimage >/dev/null 2>&1 || return 0
  # Probing every backend takes a few seconds (sane-airscan waits up to 5 s for mDNS answers
  # where a daemon runs); a hanging network backend must not hold up the start for longer.
  local devices
  devices=$(timeout 30 scanimage -f '%d%n' 2>/dev/null) || true
  [ -z "$devices" ]
}

config() {
  mkdir -p "$DIR" || return 1
  echo test >"$DIR/dll.conf.new" && mv -f "$DIR/dll.conf.new" "$DIR/dll.conf" || return 1
  # One device, a whole A4 page (the backend's default area is 200 × 200 mm), colour, 300 dpi.
  # Without test.conf the backend's default resolution is broken (1 × 1 pixel pages).
  local edits=(-e 's/^number_of_devices.*/number_of_devices 1/'
               -e 's/^geometry_max.*/geometry_max 300.0/'
               -e 's/^br_x.*/br_x 210.0/' -e 's/^br_y.*/br_y 297.0/'
               -e 's/^mode.*/mode Color/' -e 's/^resolution .*/resolution 300/'
               -e 's/^test-picture.*/test-picture "Color pattern"/')
  if [ -f /etc/sane.d/test.conf ]; then
    sed "${edits[@]}" /etc/sane.d/test.conf >"$DIR/test.conf.new" || return 1
  else
    printf '%s\n' 'number_of_devices 1' 'mode Color' 'depth 8' 'resolution 300' \
      'source Flatbed' 'test-picture "Color pattern"' 'geometry_max 300.0' 'tl_x 0.0' \
      'tl_y 0.0' 'br_x 210.0' 'br_y 297.0' >"$DIR/test.conf.new" || return 1
  fi
  mv -f "$DIR/test.conf.new" "$DIR/test.conf" || return 1
  echo "$DIR"
}

case ${1:-} in
  needed) needed ;;
  config) config ;;
  *)
    echo "usage: $0 needed|config" >&2
    exit 2
    ;;
esac

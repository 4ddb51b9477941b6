#!/usr/bin/env bash
# The test scanner for machines without a scanner (scripts/sane-test-scanner.sh): the test
# environment's SANE configuration plays a machine with a scanner, an empty one a machine
# without.
#   SaneTestScannerTest.sh <scripts folder>
set -uo pipefail

SCRIPTS=$1
if [ -z "${SANE_CONFIG_DIR:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "SKIP: needs the SANE configuration of scripts/testenv.sh"
  exit 77
fi
for tool in scanimage identify; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

T=$(mktemp -d "$VELMORA_TEST_TMP/sanetest.XXXXXX")
trap 'rm -rf "$T"' EXIT
export VELMORA_SANE_DIR="$T/private sane ü"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A machine whose SANE has scanners (here: the test environment's own): nothing to do.
if bash "$SCRIPTS/sane-test-scanner.sh" needed; then
  fail "needed with a scanner present"
fi
[ -e "$VELMORA_SANE_DIR" ] && fail "'needed' wrote something"

# A machine without any scanner (no backend at all).
mkdir -p "$T/none" && : >"$T/none/dll.conf"
SANE_CONFIG_DIR=$T/none bash "$SCRIPTS/sane-test-scanner.sh" needed || fail "not needed without scanners"

# A machine whose one scanner is a driverless network device, found through sane-airscan.
if [ -n "${ESCL_SCANNER:-}" ] && compgen -G "/usr/lib/*/sane/libsane-airscan.so.1" >/dev/null; then
  python3 "$ESCL_SCANNER" --sane-dir "$T/escl" --port-file "$T/escl.port" >/dev/null 2>&1 &
  escl_pid=$!
  for _ in $(seq 100); do [ -s "$T/escl.port" ] && break; sleep 0.1; done
  SANE_CONFIG_DIR=$T/escl bash "$SCRIPTS/sane-test-scanner.sh" needed &&
    fail "needed with a driverless scanner present"
  kill "$escl_pid"
  wait "$escl_pid" 2>/dev/null
  # No device and sane-airscan's discovery on: its wait for answers stays short.
  mkdir -p "$T/airscan" && echo airscan >"$T/airscan/dll.conf" && : >"$T/airscan/airscan.conf"
  start=$(date +%s%N)
  SANE_CONFIG_DIR=$T/airscan bash "$SCRIPTS/sane-test-scanner.sh" needed ||
    fail "not needed without a driverless scanner"
  ms=$((($(date +%s%N) - start) / 1000000))
  echo "probe with sane-airscan's discovery: $ms ms"
  [ "$ms" -lt 7000 ] || fail "probe with sane-airscan took $ms ms"
fi

dir=$(bash "$SCRIPTS/sane-test-scanner.sh" config) || fail "config failed"
[ "$dir" = "$VELMORA_SANE_DIR" ] || fail "config printed '$dir'"
devices=$(SANE_CONFIG_DIR=$dir scanimage -f '%d%n')
[ "$devices" = "test:0" ] || fail "private configuration lists '$devices'"
# The page it offers is A4 in colour at 300 dpi.
SANE_CONFIG_DIR=$dir scanimage -d test:0 --format=pnm -o "$T/page.pnm" 2>/dev/null ||
  fail "scan failed"
info=$(identify -format '%m %wx%h %[colorspace]' "$T/page.pnm" 2>/dev/null)
[ "$info" = "PPM 2480x3507 sRGB" ] || fail "page is '$info'"
# Written again on the next start, also over a damaged file.
echo garbage >"$dir/test.conf"
bash "$SCRIPTS/sane-test-scanner.sh" config >/dev/null || fail "second config failed"
grep -q '^resolution 300' "$dir/test.conf" || fail "test.conf not rewritten"
# The private configuration is not a scanner of the machine.
SANE_CONFIG_DIR=$T/none bash "$SCRIPTS/sane-test-scanner.sh" needed || fail "config changed the machine"

[ $failures -eq 0 ] && echo "PASS" || exit 1

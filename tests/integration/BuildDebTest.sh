#!/usr/bin/env bash
# scripts/build-deb.sh prints the package it made, for a build folder given relative to the
# source tree or as an absolute path. CMake and CPack are stand-ins here: the steps of the real
# build are not what this is about.
#   BuildDebTest.sh <scripts folder>
set -uo pipefail

T=$(mktemp -d "${VELMORA_TEST_TMP:-/tmp}/builddeb.XXXXXX")
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/src/scripts" "$T/bin"
cp "$1/build-deb.sh" "$T/src/scripts/"
cat >"$T/bin/cmake" <<'STUB'
#!/bin/sh
while [ $# -gt 0 ]; do
  [ "$1" = -B ] && mkdir -p "$2"
  shift
done
STUB
cat >"$T/bin/cpack" <<'STUB'
#!/bin/sh
: >velmora_1.0_amd64.deb
STUB
chmod +x "$T/bin/cmake" "$T/bin/cpack"

failures=0
# build folder as given | the package printed
while IFS='|' read -r given expected; do
  got=$(PATH=$T/bin:$PATH bash "$T/src/scripts/build-deb.sh" ${given:+"$given"} 2>&1)
  if [ "$got" != "$expected" ]; then
    echo "FAIL: build folder '$given': '$got', not '$expected'" >&2
    failures=$((failures + 1))
  fi
done <<ROWS
|$T/src/build-deb/velmora_1.0_amd64.deb
eigener|$T/src/eigener/velmora_1.0_amd64.deb
$T/absolut|$T/absolut/velmora_1.0_amd64.deb
ROWS
[ "$failures" -eq 0 ] && echo "PASS"
exit $((failures > 0))

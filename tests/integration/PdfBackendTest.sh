#!/usr/bin/env bash
# The backend of Velmora's PDF queue (scripts/cups-backend-velmora-pdf), called as the scheduler
# calls it: the job title becomes a harmless file name, a device URI that names no absolute
# folder is refused, and nothing in the target folder (a planted link, an older file) is followed
# or replaced: the backend may run as root.
#   PdfBackendTest.sh <scripts folder>
set -uo pipefail

BACKEND=$1/cups-backend-velmora-pdf
T=$(mktemp -d "${VELMORA_TEST_TMP:-/tmp}/pdfbackend.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

printf '%%PDF-1.4 Auftrag\n' >"$T/job.pdf"
OUT=$T/out
mkdir -p "$OUT"

# Runs job <id> with <title> into OUT; prints the name of the file it made.
run() { # id title
  local before after
  before=$(ls -A "$OUT")
  DEVICE_URI="velmora-pdf://$OUT" bash "$BACKEND" "$1" anna "$2" 1 "" "$T/job.pdf" 2>>"$T/log" ||
    return 1
  after=$(ls -A "$OUT")
  comm -13 <(echo "$before") <(echo "$after")
}

# ---- Titles: job id, title, the file name expected -------------------------------------------------
long=$(printf 'x%.0s' $(seq 200))
umlauts=$(printf 'ü%.0s' $(seq 50))
umlauts80=$(printf 'ü%.0s' $(seq 40)) # 80 bytes, whatever the locale
while IFS='|' read -r id title expected; do
  title=$(printf '%b' "$title")
  expected=$(printf '%b' "$expected")
  got=$(run "$id" "$title") || fail "job $id: refused"
  [ "$got" = "$expected" ] || fail "title $(printf '%q' "$title"): '$got', not '$expected'"
done <<EOF
1|Velmora 1|1-Velmora 1.pdf
2|Bericht/Seite 2|2-Bericht_Seite 2.pdf
3|../../etc/passwd|3-.._.._etc_passwd.pdf
4|.versteckt|4-.versteckt.pdf
5|Zeile\\nzwei\\tdrei\\x1b[31m|5-Zeile_zwei_drei__31m.pdf
6|Größe Maß|6-Größe Maß.pdf
7|a\\xc2\\x85b\\xc2\\x9bc|7-a_b_c.pdf
8|Rechnung\\xe2\\x80\\xaefdp.exe|8-Rechnung_fdp.exe.pdf
9|a\\xe2\\x80\\xa8b\\xe2\\x81\\xa6c|9-a_b_c.pdf
10|ungültig \\xff\\xfe Ende|10-ungültig  Ende.pdf
11||11-Auftrag.pdf
12|$long|12-${long:0:80}.pdf
13|$umlauts|13-$umlauts80.pdf
EOF

# ---- What is in the folder already stays as it is --------------------------------------------------
mkdir -p "$T/elsewhere"
ln -s "$T/elsewhere/taken.pdf" "$OUT/20-Link.pdf"   # a link to nowhere yet
ln -s "$T/elsewhere" "$OUT/21-Ordner.pdf"           # a link to a folder
echo alt >"$OUT/22-Alt.pdf"                          # an older job of the same number
for row in "20 Link" "21 Ordner" "22 Alt"; do
  read -r id title <<<"$row"
  got=$(run "$id" "$title") || fail "job $id: refused"
  [ "$got" = "$id-$title-2.pdf" ] || fail "job $id beside an existing $id-$title.pdf: '$got'"
done
{ [ -L "$OUT/20-Link.pdf" ] && [ -L "$OUT/21-Ordner.pdf" ]; } || fail "a link in the folder was replaced"
[ -z "$(ls -A "$T/elsewhere")" ] || fail "the backend wrote where a link points: $(ls -A "$T/elsewhere")"
[ "$(cat "$OUT/22-Alt.pdf")" = alt ] || fail "an older file was overwritten"
[ "$(stat -c %a "$OUT/1-Velmora 1.pdf")" = 644 ] || fail "a PDF is not readable by all"
[ -z "$(find "$OUT" -name '.velmora-pdf.*')" ] || fail "half-written files left over"

# ---- Device URIs that name no absolute folder --------------------------------------------------
for uri in "" "file://$OUT" "velmora-pdf:" "velmora-pdf://rechner$OUT" "velmora-pdf:relativ/Ordner"; do
  DEVICE_URI=$uri bash "$BACKEND" 30 anna T 1 "" "$T/job.pdf" 2>/dev/null &&
    fail "device URI '$uri' was taken"
done
# A folder on the way that belongs to another user could be swapped for a link; root can make one.
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$T/fremd/sub" "$T/eigen" && chown nobody "$T/fremd"
  ln -s "$OUT" "$T/eigen/link" && chown -h nobody "$T/eigen/link"
  ln -s "$T/fremd/sub" "$T/eigen/zu-fremd"
  for folder in "$T/fremd/sub" "$T/fremd/neu" "$T/eigen/link" "$T/eigen/zu-fremd"; do
    DEVICE_URI="velmora-pdf://$folder" bash "$BACKEND" 32 anna T 1 "" "$T/job.pdf" 2>/dev/null &&
      fail "a folder reached through one of another user was taken: $folder"
  done
  [ -z "$(find "$T/fremd" "$OUT" -name '32-*')" ] || fail "a job went through another user's folder"
fi
mkdir -p "$T/mit Blank"
DEVICE_URI="velmora-pdf://$T/mit%20Blank" bash "$BACKEND" 31 anna T 1 "" <"$T/job.pdf" 2>/dev/null ||
  fail "an escaped folder was refused"
[ -f "$T/mit Blank/31-T.pdf" ] || fail "the escaped folder got nothing"

[ "$failures" -eq 0 ] && echo "PASS"
exit $((failures > 0))

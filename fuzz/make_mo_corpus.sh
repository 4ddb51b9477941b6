#!/bin/sh
# Writes the seed corpus of the message catalogue harness (fuzz/corpus/mo): a small catalogue
# as msgfmt compiles it, in both byte orders, with a header, a plural entry and a context entry
# (what SANE's own catalogues hold). Needs gettext's msgfmt. Run it again after changing a seed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=$here/corpus/mo
rm -rf "$out"
mkdir -p "$out"

cat >"$tmp/de.po" <<'PO'
msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"
"Plural-Forms: nplurals=2; plural=n != 1;\n"

msgid "Brightness"
msgstr "Helligkeit"

msgid "ADF Duplex"
msgstr "Dokumenteneinzug mit Duplex"

msgid "%d page"
msgid_plural "%d pages"
msgstr[0] "%d Seite"
msgstr[1] "%d Seiten"

msgctxt "menu"
msgid "Open"
msgstr "Öffnen"
PO
msgfmt --endianness=little -o "$out/little.mo" "$tmp/de.po"
msgfmt --endianness=big -o "$out/big.mo" "$tmp/de.po"

#pragma once
// What the WMF and the EMF record readers decode alike: text in a font's code page and the
// device-independent bitmaps (DIBs) records carry. Every byte is read through TMetaReader.

#include "pictures/metafile/MetaReader.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>
#include <algorithm>
#include <cstdint>

namespace MetaPlay {

// `count` palette entries (red, green, blue, flags) from `at`.
QVector<QRgb> ReadPaletteEntries(const TMetaReader& rec, qsizetype at, int count);

// Text of a font's character set as Unicode. Western text (the usual case) is Windows-1252.
QString DecodeAnsi(const QByteArray& bytes, uint8_t charset);

struct TDib {
    QImage Image;
    bool BottomUp = true;
};

// Decodes a DIB inside a record: information header and colour table `info`, pixel bits `bits`.
// With `alpha`, 32-bit pixels keep their fourth byte as premultiplied alpha (AlphaBlend). The
// bitmap comes back in a 32-bit format whatever its bits were: only those Qt draws safely.
TDib DecodeDib(const TMetaReader& info, const TMetaReader& bits, bool alpha);

// Decodes a packed DIB (header, colour table and bits in one block) that fills `rec` from `at`;
// `usage` says whether its colour table holds colours or palette indices.
TDib DecodePackedDib(const TMetaReader& rec, qsizetype at, uint32_t usage);

// Hands the record of `bytes` at `pos` of `file` to `play`. A record claiming more than is there
// gets what is there, so that its reads fail alone; a record read past its end is skipped. False
// when the record reached past the end of the file: nothing can follow it.
template <class Play>
bool PlayRecord(const TMetaReader& file, qsizetype pos, qsizetype bytes, Play&& play) {
    const TMetaReader rec = file.Sub(pos, std::min(bytes, file.Size() - pos));
    try {
        play(rec);
    } catch (const TShortRead&) {
        // Damaged record: skipped.
    }
    return bytes <= file.Size() - pos;
}

} // namespace MetaPlay

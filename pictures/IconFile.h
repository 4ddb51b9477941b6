#pragma once
// Icon files (.ico): picking the best entry and putting it on white paper. Every entry is checked
// against the file before Qt's ICO reader allocates anything for it.

#include <QByteArray>
#include <QImage>

// The best picture of an icon file: of the entries Qt's reader decodes (1-, 4-, 8-, 24- and 32-bit
// and PNG-compressed ones) the one with the most pixels, among those the deepest; when the best
// entry turns out damaged, the next best. Every entry's size and data are checked against the
// file before Qt allocates anything. Raises EInvalidGraphic "Ungültiges Symbol".
QImage DecodeIconFile(const QByteArray& file);

// The icon drawn at (0, 0) onto a bitmap of its own size, its transparent parts on white paper.
QImage IconToBitmap(const QImage& icon);

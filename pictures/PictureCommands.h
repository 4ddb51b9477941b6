#pragma once
// What the main window's picture commands compute, kept apart from the window: the page-list
// preset, the wrap-around of page numbers, the texts and filters of their dialogs, and the
// clipboard formats a picture is inserted from and copied as.

#include "layout/Graphic.h"
#include "pictures/metafile/Metafile.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QMimeData;

// The page list after the current page changed: an empty text, or one that reads as a single
// whole number (so also "-3", which the printing reads as pages 1 to 3), becomes the current page
// number; a list or a range typed by the user stays as it is.
QString PresetPageList(const QString& pagesText, int currentPicNo);

// Page n of pageCount pages as the page keys reach it: one past the last page is the first, page
// 0 is the last. Any other number is returned unchanged, in range or not.
int WrapPageNumber(int n, int pageCount);

// Filter of the "Bild laden" dialog: six entries, in the copier's "Text|Pattern|..." form.
QString PictureOpenFilter();

// Filter of the "Bild sichern" dialog: the entries of the picture's own kind, then those of
// `bitmapFilter` (the filter every rendered bitmap is saved with).
QString PictureSaveFilter(GraphicKind kind, const QString& bitmapFilter);

// The question asked before the current picture is discarded. `saveAsCaption` is the caption of
// the save command as the menu shows it, ampersand and dots included.
QString CloseConfirmationText(const QString& saveAsCaption);

// The warning after a picture turned out 0 pixels wide or high.
QString LoadFailedWarningText(const QString& productVersion, int bits, const QString& mailAddress);

// Whether the clipboard content offers a picture that can be inserted as a packed DIB.
bool OffersPackedDib(const QMimeData* data);

// The clipboard's picture as a packed DIB (information header, colour table, bits): the bytes of
// an offered BMP file after its 14-byte file header, else the offered image encoded as one.
// Empty when there is no picture.
QByteArray PackedDibFromMimeData(const QMimeData* data);

// Whether the clipboard content offers an enhanced or a Windows metafile (image/emf, image/wmf
// and their other names).
bool OffersMetafile(const QMimeData* data);

// The metafile the clipboard offers, EMF before WMF; nullptr when it offers none. Raises
// EInvalidGraphic "Metadatei ist ungültig" for damaged bytes.
std::unique_ptr<TMetafile> MetafileFromMimeData(const QMimeData* data);

// New clipboard content for a picture at its own size: the rendered image, and for a metafile
// also the enhanced metafile (converted when the picture is a WMF). The caller owns it.
QMimeData* MimeDataForGraphic(const TGraphic& graphic);

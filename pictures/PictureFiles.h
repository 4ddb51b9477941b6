#pragma once
// Picture files: loading a picture by its file extension, saving a picture or a rendered bitmap,
// and saving every page under consecutive numbers. Nothing here knows a widget; the main window's
// file commands are glue over these functions.
//
// Extensions are compared without regard to case:
//
//   extension     loading                            saving a bitmap (SaveBitmapToFile)
//   .bmp          TBitmap (DecodeBmpFile)            BMP
//   .dib          refused like any other             BMP
//   .jpg, .jpeg   TJpegImage (original bytes kept)   JPEG, quality 90, colour, baseline
//   .ico          TBitmap (best entry, on white)     not written
//   .wmf, .emf    refused until metafiles arrive     not written
//   any other     "Unbekannte Bilddateierweiterung"  not written
//
// Every file is written complete or not at all: its content goes to a nameless (or hidden
// temporary) file in the target's folder, is synced, and only then gets the target's name.

#include "layout/Graphic.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// The extension of a file name as Velmora compares it: from the last dot of the name part on,
// dot included ("Pic.tar.JPG" gives ".JPG"); empty when the name part has no dot.
QString PictureFileExtension(const QString& path);

// Loads a picture file, choosing the kind by extension (table above). Raises
//   EInvalidGraphic "Unbekannte Bilddateierweiterung (.%s)" for an unknown extension (the
//                   extension as written, without its dot), before the file is opened;
//   EFOpenError     "Datei %s kann nicht geöffnet werden" when the file cannot be read;
//   EInvalidGraphic "Bitmap ist ungültig", "Ungültiges Symbol", EJPEG "JPEG-Fehler #%d" for
//                   invalid content, and EInvalidGraphic for metafiles, which cannot be loaded yet.
// An icon comes back as the bitmap it is turned into (IconToBitmap of DecodeIconFile), so a
// picture never holds an icon.
std::unique_ptr<TGraphic> LoadPictureFile(const QString& path);

// The best picture of an icon file: of the entries Qt's reader decodes (1-, 4-, 8-, 24- and 32-bit
// and PNG-compressed ones) the one with the most pixels, among those the deepest; when the best
// entry turns out damaged, the next best. Every entry's size and data are checked against the
// file before Qt allocates anything. Raises EInvalidGraphic "Ungültiges Symbol".
QImage DecodeIconFile(const QByteArray& file);

// The icon drawn at (0, 0) onto a bitmap of its own size, its transparent parts on white paper.
QImage IconToBitmap(const QImage& icon);

// A complete BMP file of `image`: 1-bit and 8-bit pictures keep their palette (greyscale ones get
// a grey palette), pictures with transparency become 32-bit with an alpha mask, everything else
// 24-bit. The resolution is the image's own.
QByteArray EncodeBmpFile(const QImage& image);

// The picture at its own size as a bitmap: the pixels of a raster graphic as they are (shared,
// not copied), a metafile drawn onto white.
QImage RenderGraphic(const TGraphic& graphic);

// Whether SaveBitmapToFile writes anything for this file name (.bmp, .dib, .jpg, .jpeg).
bool CanSaveBitmapAs(const QString& path);

// Saves the picture under `path`, replacing an existing file: a JPEG picture as .jpg/.jpeg writes
// its original bytes unchanged, a bitmap as .bmp/.dib writes itself as BMP, anything else is
// rendered at its own size and goes to SaveBitmapToFile. Returns whether a file was written.
// Raises EFCreateError "Datei %s kann nicht erstellt werden" when the file cannot be written
// (also for a read-only file or a folder of that name); the old file then stays as it was.
bool SaveGraphicToFile(const TGraphic& graphic, const QString& path);

// Saves a bitmap by extension, replacing an existing file: .bmp/.dib as BMP, .jpg/.jpeg as JPEG
// (quality 90, colour, baseline); any other extension writes nothing and returns false.
bool SaveBitmapToFile(const QImage& bitmap, const QString& path);

// Numbered file names for saving all pages. From a chosen name F: the base B is F without its
// extension (folder included), E the extension, S the name part of B. Page numbers are written
// with three digits (001 to 999) and with all their digits from 1000 on.
QString NumberedPictureName(const QString& chosenPath, qint64 number);

// The highest number among the files of B's folder whose names match the pattern S*E: the name
// without its extension, less its first |S| characters, read as a whole number (after blanks, an
// optional sign and decimal digits, or hexadecimal after "$" or "0x", within 32 bits). Hidden and
// read-only files count; folders and special files (sockets, pipes, devices, broken links) do not.
// The comparison is case-sensitive, as the names of a Linux folder are: "PIC005.JPG" neither
// collides with nor continues the series "Pic.jpg". 0 when there is none.
int HighestPictureNumber(const QString& chosenPath);

// Called after each page: its number (1-based), the page count and the file written (empty for
// a page without picture). May throw; saving then stops after that page.
using SaveAllProgress = std::function<void(int page, int pageCount, const QString& fileName)>;

// Saves every page as a numbered file and returns the names written, in page order. Page i goes
// to NumberedPictureName(F, M + i) with M = HighestPictureNumber(F), in the format that
// SaveBitmapToFile chooses by F's extension; with an extension it cannot write, nothing is
// written. JPEG pages are encoded on two threads while the finished ones are written in order.
//
// An existing file is never replaced, also when it appears while saving runs: each file gets its
// name only if the name is still free (an exclusive link), otherwise the next number is taken and
// the following pages continue from there. So the series stays in page order without gaps of its
// own, and no question is asked. A page without picture (nullptr, or a null image) writes no
// file but keeps its number. When page k cannot be written, EFCreateError is raised for it: pages
// 1 to k − 1 stay written, nothing of page k remains, and the later pages are not written.
QStringList SaveAllPictures(const std::vector<const TGraphic*>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress = {});
QStringList SaveAllPictures(const std::vector<QImage>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress = {});

// Qt's image readers refuse pictures above 256 MB by default, far below the pictures Velmora
// holds itself; the limit becomes MaxPicturePixels at 4 bytes per pixel (about 1.2 GB), so a Qt
// reader refuses what Velmora's own decoders refuse. Icons are bounded far lower by
// DecodeIconFile's own checks. Call before any Qt image reader is used; only the first call sets
// the limit, which holds for the whole process.
void RaiseQtImageAllocationLimit();

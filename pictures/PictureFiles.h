#pragma once
// Picture files: loading a picture by its file extension and saving a picture or a rendered
// bitmap. Saving all pages is in SaveAll.h, icons in IconFile.h, the BMP writer in
// layout/BmpWriter.h. Nothing here knows a widget; the main window's file commands are glue over
// these functions.
//
// Extensions are compared without regard to case:
//
//   extension     loading                            saving a bitmap (SaveBitmapToFile)
//   .bmp          TBitmap (DecodeBmpFile)            BMP
//   .dib          refused like any other             BMP
//   .jpg, .jpeg   TJpegImage (original bytes kept)   JPEG, quality 90, colour, baseline
//   .png          TBitmap                            PNG, resolution recorded
//   .gif          TBitmap (first frame)              not written
//   .tif, .tiff   a TBitmap for every page           TIFF (LZW), resolution recorded
//   .ico          TBitmap (best entry, on white)     not written
//   .wmf, .emf    TMetafile (original bytes kept)    not written
//   any other     "Unbekannte Bilddateierweiterung"  not written
//
// Every file is written complete or not at all: its content goes to a nameless (or hidden
// temporary) file in the target's folder, is synced, and only then gets the target's name.

#include "layout/Graphic.h"
#include "pictures/metafile/Metafile.h"

#include <QSize>

#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>
#include <vector>

// The extension of a file name as Velmora compares it: from the last dot of the name part on,
// dot included ("Pic.tar.JPG" gives ".JPG"); empty when the name part has no dot.
QString PictureFileExtension(const QString& path);

// A page of a picture file and the resolution the file records for it (empty when it records
// none, and always for BMP, JPEG, icons and metafiles: their pages take the resolution the user
// set).
struct TLoadedPage {
    std::unique_ptr<TGraphic> graphic;
    QSize dpi;
};

// Loads every page of a picture file, choosing the kind by extension (table above): one page for
// every kind but TIFF, whose pages come in file order. Nothing is returned unless all pages
// loaded. Raises
//   EInvalidGraphic "Unbekannte Bilddateierweiterung (.%s)" for an unknown extension (the
//                   extension as written, without its dot), before the file is opened;
//   EFOpenError     "Datei %s kann nicht geöffnet werden" when the file cannot be read;
//   EInvalidGraphic "Bitmap ist ungültig" (also for PNG, GIF and TIFF), "Ungültiges Symbol",
//                   "Metadatei ist ungültig" (and the EMF+ message of TMetafile), EJPEG
//                   "JPEG-Fehler #%d" for invalid content;
//   EOutOfMemory    "Zu wenig Arbeitsspeicher" for pages too large to hold together.
// An icon comes back as the bitmap it is turned into (IconToBitmap of DecodeIconFile), so a
// picture never holds an icon.
// When `incomplete` is given, it tells whether the file ended before its picture did (a JPEG cut
// off in transfer loads with its missing part grey).
std::vector<TLoadedPage> LoadPictureFilePages(const QString& path, bool* incomplete = nullptr);

// The first page of LoadPictureFilePages.
std::unique_ptr<TGraphic> LoadPictureFile(const QString& path, bool* incomplete = nullptr);

// The warning after a file that loaded although it ended before its picture did.
QString IncompleteFileText(const QString& path);

// The picture at its own size as a bitmap: the pixels of a raster graphic as they are (shared,
// not copied), a metafile drawn onto white.
QImage RenderGraphic(const TGraphic& graphic);

// The format SaveBitmapToFile writes for this file name, by its extension (table above).
enum class TSaveFormat { None, Bmp, Jpeg, Png, Tiff };
TSaveFormat SaveFormatOf(const QString& path);

// Whether SaveBitmapToFile writes anything for this file name (.bmp, .dib, .jpg, .jpeg, .png,
// .tif, .tiff).
bool CanSaveBitmapAs(const QString& path);

// The message for a name whose extension no writer knows, so that nothing was saved: the file
// and the extensions that can be written (for a metafile picture also .wmf and .emf).
QString CannotSaveAsText(const QString& path, bool metafile = false);

// A metafile picture's file in `kind`: its original bytes when that is its own kind, else the
// picture played into Velmora's recorder (EMF to WMF, WMF to EMF).
QByteArray MetafileBytes(const TGraphic& graphic, TMetafileKind kind);

// Saves the picture under `path`, replacing an existing file: a JPEG picture as .jpg/.jpeg writes
// its original bytes unchanged, a bitmap as .bmp/.dib writes itself as BMP, a metafile as .wmf
// writes a Windows metafile and as .emf an enhanced metafile (MetafileBytes), anything else is
// rendered at its own size and goes to SaveBitmapToFile with `dpi`. Returns whether a file was
// written.
// Raises EFCreateError "Datei %s kann nicht erstellt werden" when the file cannot be written
// (also for a read-only file or a folder of that name); the old file then stays as it was.
bool SaveGraphicToFile(const TGraphic& graphic, const QString& path, const QSize& dpi = {});

// Saves a bitmap by extension, replacing an existing file: .bmp/.dib as BMP, .jpg/.jpeg as JPEG
// (quality 90, colour, baseline), .png as PNG, .tif/.tiff as TIFF (PNG and TIFF with `dpi` as
// their resolution when it is given); any other extension writes nothing and returns false.
bool SaveBitmapToFile(const QImage& bitmap, const QString& path, const QSize& dpi = {});

// Qt's image readers refuse pictures above 256 MB by default, far below the pictures Velmora
// holds itself; the limit becomes MaxPicturePixels at 4 bytes per pixel (about 1.2 GB), so a Qt
// reader refuses what Velmora's own decoders refuse. Icons are bounded far lower by
// DecodeIconFile's own checks. Call before any Qt image reader is used; only the first call sets
// the limit, which holds for the whole process.
void RaiseQtImageAllocationLimit();

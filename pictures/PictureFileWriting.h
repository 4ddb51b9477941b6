#pragma once
// Writing a picture file completely or not at all, shared by saving one picture and saving all
// pages. The content goes to a nameless (or hidden temporary) file in the target's folder first;
// the error messages name the file the user chose.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

class TNewFile;

// Raises EFCreateError "Datei %s kann nicht erstellt werden".
[[noreturn]] void CannotCreate(const QString& path);

// Writes a whole file in place of `path` through `fill`: an existing file is replaced (a symbolic
// link's target rather than the link), a read-only file or a folder of that name is refused with
// EFCreateError before anything is written. The old file stays as it was when `fill` or the
// replacement fails.
void ReplaceFile(const QString& path, const std::function<void(TNewFile&)>& fill);

// Appends bytes, or the BMP file of `image` streamed row by row, to `file`; `path` names the file
// in the EFCreateError raised when the disk refuses them.
void WriteBytes(TNewFile& file, const QByteArray& bytes, const QString& path);
void WriteBmpFile(TNewFile& file, const QImage& image, const QString& path);

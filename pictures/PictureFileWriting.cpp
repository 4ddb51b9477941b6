#include "pictures/PictureFileWriting.h"

#include "layout/BmpWriter.h"
#include "platform/Errors.h"
#include "platform/NewFile.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

void CannotCreate(const QString& path) {
    throw EFCreateError(QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
}

void ReplaceFile(const QString& path, const std::function<void(TNewFile&)>& fill) {
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath();
    const QByteArray encoded = QFile::encodeName(target);
    struct stat old {};
    const bool exists = ::stat(encoded.constData(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(encoded.constData(), W_OK) != 0))
        CannotCreate(path);
    TNewFile file(target);
    if (!file.IsOpen())
        CannotCreate(path);
    fill(file);
    if (!file.Replace(target))
        CannotCreate(path);
}

void WriteBytes(TNewFile& file, const QByteArray& bytes, const QString& path) {
    if (!file.Write(bytes))
        CannotCreate(path);
}

void WriteBmpFile(TNewFile& file, const QImage& image, const QString& path) {
    WriteBmp(image, [&](const void* data, std::size_t size) {
        if (!file.Write(data, size))
            CannotCreate(path);
    });
}

#include "pictures/PictureFiles.h"

#include "layout/Dib.h"
#include "pictures/Jpeg.h"
#include "platform/Errors.h"
#include "platform/NewFile.h"
#include "platform/WholeNumber.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void CannotOpen(const QString& path) {
    throw EFOpenError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
}

[[noreturn]] void CannotCreate(const QString& path) {
    throw EFCreateError(QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
}

[[noreturn]] void InvalidIcon() {
    throw EInvalidGraphic(QStringLiteral("Ungültiges Symbol"));
}

[[noreturn]] void OutOfMemory() {
    throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
}

bool IsBmpExtension(const QString& lower) {
    return lower == QLatin1String(".bmp") || lower == QLatin1String(".dib");
}

bool IsJpegExtension(const QString& lower) {
    return lower == QLatin1String(".jpg") || lower == QLatin1String(".jpeg");
}

bool IsMetafileExtension(const QString& lower) {
    return lower == QLatin1String(".wmf") || lower == QLatin1String(".emf");
}

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        CannotOpen(path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        CannotOpen(path);
    return bytes;
}

unsigned char OnWhite(int colour, int alpha) {
    return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// ---------------------------------------------------------------------------------------------
// Icons

// Windows draws icons of at most 256 × 256 pixels; PNG entries may be larger, but an icon beyond
// this is damaged or hostile. Qt allocates an entry before reading a byte of its pixels.
constexpr qint64 MaxIconSide = 4096;
// Deflate cannot expand data more than 1032-fold; a PNG entry declaring more pixels than its
// bytes could hold is refused.
constexpr qint64 MaxDeflateRatio = 1100;

struct IconEntry {
    int index;
    qint64 width;
    qint64 height;
    int depth;
};

quint16 Le16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}

quint32 Le32(const uchar* p) {
    return qFromLittleEndian<quint32>(p);
}

bool SideOk(qint64 side) {
    return side >= 1 && side <= MaxIconSide;
}

bool CheckPngEntry(const uchar* p, qint64 avail, qint64 declared, IconEntry& entry) {
    // Qt hands the entry's declared bytes to its PNG reader; they must all be in the file.
    if (declared > avail || declared < 8 + 8 + 13 + 4)
        return false;
    if (qFromBigEndian<quint32>(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0)
        return false;
    const qint64 width = qFromBigEndian<quint32>(p + 16);
    const qint64 height = qFromBigEndian<quint32>(p + 20);
    const int bitDepth = p[24];
    int channels = 0;
    switch (p[25]) {
    case 0: // grey
    case 3: // palette
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return false;
    }
    if (!SideOk(width) || !SideOk(height) || bitDepth < 1 || bitDepth > 16)
        return false;
    entry.width = width;
    entry.height = height;
    entry.depth = bitDepth * channels;
    const qint64 rawBytes = height * (1 + (width * entry.depth + 7) / 8);
    return rawBytes <= declared * MaxDeflateRatio;
}

// A bitmap entry as Qt's ICO reader reads it: the size from the directory (0 meaning "see the
// bitmap header"), the colour table right after a 40-byte header, then the colour rows and the
// 1-bit mask rows. All of them must be in the file.
bool CheckBmpEntry(const uchar* dir, const uchar* p, qint64 avail, IconEntry& entry) {
    if (avail < 40)
        return false;
    const int bitCount = Le16(p + 14) != 0 ? Le16(p + 14) : Le16(dir + 6);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false; // Qt reads no 16-bit entries and leaves other depths' pixels unwritten
    const qint64 width = dir[0] != 0 ? dir[0] : static_cast<qint32>(Le32(p + 4));
    const qint64 height = dir[1] != 0 ? dir[1] : static_cast<qint32>(Le32(p + 8)) / 2;
    if (!SideOk(width) || !SideOk(height))
        return false;
    const qint64 colours = bitCount > 8 ? 0 : Le32(p + 32) != 0 ? Le32(p + 32) : 1 << bitCount;
    if (colours > 256)
        return false;
    const qint64 maskRow = (width + 31) / 32 * 4;
    qint64 colourRow = 0;
    switch (bitCount) {
    case 1:
        colourRow = colours == 2 ? maskRow : (width + 3) / 4 * 4; // Mono or Indexed8 rows
        break;
    case 4:
        colourRow = (width + 7) / 8 * 4;
        break;
    case 8:
        colourRow = (width + 3) / 4 * 4;
        break;
    default:
        colourRow = (width * bitCount + 31) / 32 * 4;
        break;
    }
    entry.width = width;
    entry.height = height;
    entry.depth = bitCount;
    return 40 + colours * 4 + height * (colourRow + maskRow) <= avail;
}

std::vector<IconEntry> UsableIconEntries(const QByteArray& file) {
    const auto* p = reinterpret_cast<const uchar*>(file.constData());
    const qint64 size = file.size();
    if (size < 6 || Le16(p) != 0 || Le16(p + 2) != 1) // 1: icon (2 would be a cursor)
        InvalidIcon();
    const int count = Le16(p + 4);
    if (count == 0 || 6 + 16 * qint64(count) > size)
        InvalidIcon();
    std::vector<IconEntry> usable;
    for (int i = 0; i < count; ++i) {
        const uchar* dir = p + 6 + 16 * i;
        const qint64 offset = Le32(dir + 12);
        if (offset >= size)
            continue;
        const qint64 avail = size - offset;
        IconEntry entry{i, 0, 0, 0};
        static const uchar pngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        const bool png = avail >= 8 && std::memcmp(p + offset, pngMagic, 8) == 0;
        if (png ? CheckPngEntry(p + offset, avail, Le32(dir + 8), entry)
                : CheckBmpEntry(dir, p + offset, avail, entry))
            usable.push_back(entry);
    }
    std::stable_sort(usable.begin(), usable.end(), [](const IconEntry& a, const IconEntry& b) {
        const qint64 pa = a.width * a.height;
        const qint64 pb = b.width * b.height;
        return pa != pb ? pa > pb : a.depth > b.depth;
    });
    return usable;
}

// ---------------------------------------------------------------------------------------------
// Writing files

// Writes a whole file in place of `path`: an existing file is replaced (a symbolic link's target
// rather than the link), a read-only file or a folder of that name is refused.
template <typename Fill> void ReplaceFile(const QString& path, Fill fill) {
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

// ---------------------------------------------------------------------------------------------
// BMP

void Put16(uchar*& p, quint16 v) {
    qToLittleEndian(v, p);
    p += 2;
}

void Put32(uchar*& p, quint32 v) {
    qToLittleEndian(v, p);
    p += 4;
}

// Writes `input` as a BMP file through `put(data, size)`, bottom-up, one row at a time.
template <typename Put> void WriteBmp(const QImage& input, Put put) {
    if (input.isNull())
        throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));
    QImage converted;
    const QImage* image = &input;
    int bitCount = 24;
    QVector<QRgb> palette;
    switch (input.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        bitCount = 1;
        palette = input.colorTable();
        palette.resize(2); // entries the table lacks are black, as Qt draws them
        break;
    case QImage::Format_Indexed8:
        bitCount = 8;
        palette = input.colorTable();
        if (palette.isEmpty()) { // Qt draws a table-less 8-bit picture as greys
            palette.resize(256);
            for (int i = 0; i < 256; ++i)
                palette[i] = qRgb(i, i, i);
        }
        break;
    case QImage::Format_Grayscale8:
        bitCount = 8;
        palette.resize(256);
        for (int i = 0; i < 256; ++i)
            palette[i] = qRgb(i, i, i);
        break;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_RGB32:
        break;
    case QImage::Format_ARGB32:
        bitCount = 32;
        break;
    default:
        converted = input.convertToFormat(input.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                  : QImage::Format_RGB888);
        if (converted.isNull())
            OutOfMemory();
        image = &converted;
        bitCount = input.hasAlphaChannel() ? 32 : 24;
        break;
    }

    const int width = image->width();
    const int height = image->height();
    const bool alpha = bitCount == 32;
    const quint32 infoSize = alpha ? 108 : 40; // a V4 header holds the alpha mask
    const qint64 rowBytes = (qint64(width) * bitCount + 31) / 32 * 4;
    const qint64 offset = 14 + infoSize + 4 * palette.size();
    const qint64 fileSize = offset + rowBytes * height;
    if (fileSize > std::numeric_limits<quint32>::max())
        throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));

    uchar header[14 + 108 + 4 * 256] = {};
    uchar* h = header;
    *h++ = 'B';
    *h++ = 'M';
    Put32(h, static_cast<quint32>(fileSize));
    Put32(h, 0);
    Put32(h, static_cast<quint32>(offset));
    Put32(h, infoSize);
    Put32(h, static_cast<quint32>(width));
    Put32(h, static_cast<quint32>(height)); // positive: bottom-up rows
    Put16(h, 1);
    Put16(h, static_cast<quint16>(bitCount));
    Put32(h, alpha ? 3 : 0); // BI_BITFIELDS : BI_RGB
    Put32(h, static_cast<quint32>(rowBytes * height));
    Put32(h, static_cast<quint32>(std::max(0, image->dotsPerMeterX())));
    Put32(h, static_cast<quint32>(std::max(0, image->dotsPerMeterY())));
    Put32(h, static_cast<quint32>(palette.size()));
    Put32(h, 0);
    if (alpha) {
        Put32(h, 0x00FF0000);
        Put32(h, 0x0000FF00);
        Put32(h, 0x000000FF);
        Put32(h, 0xFF000000);
        Put32(h, 0x73524742); // LCS_sRGB; end points and gamma stay 0
        h += 36 + 12;
    }
    for (const QRgb c : palette) {
        *h++ = static_cast<uchar>(qBlue(c));
        *h++ = static_cast<uchar>(qGreen(c));
        *h++ = static_cast<uchar>(qRed(c));
        *h++ = 0;
    }
    put(header, static_cast<std::size_t>(h - header));

    std::vector<uchar> row(static_cast<std::size_t>(rowBytes), 0);
    const QImage::Format format = image->format();
    for (int y = height - 1; y >= 0; --y) {
        const uchar* in = image->constScanLine(y);
        uchar* out = row.data();
        switch (format) {
        case QImage::Format_Mono:
            std::memcpy(out, in, static_cast<std::size_t>((width + 7) / 8));
            break;
        case QImage::Format_MonoLSB:
            for (int i = 0; i < (width + 7) / 8; ++i) {
                uchar b = in[i];
                b = static_cast<uchar>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
                b = static_cast<uchar>((b & 0xCC) >> 2 | (b & 0x33) << 2);
                out[i] = static_cast<uchar>((b & 0xAA) >> 1 | (b & 0x55) << 1);
            }
            break;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
        case QImage::Format_BGR888:
            std::memcpy(out, in, static_cast<std::size_t>(width) * (bitCount / 8));
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case QImage::Format_RGB32: {
            const auto* px = reinterpret_cast<const QRgb*>(in);
            for (int x = 0; x < width; ++x, out += 3) {
                out[0] = static_cast<uchar>(qBlue(px[x]));
                out[1] = static_cast<uchar>(qGreen(px[x]));
                out[2] = static_cast<uchar>(qRed(px[x]));
            }
            break;
        }
        default: { // ARGB32
            const auto* px = reinterpret_cast<const QRgb*>(in);
            for (int x = 0; x < width; ++x, out += 4)
                qToLittleEndian<quint32>(px[x], out);
            break;
        }
        }
        put(row.data(), row.size());
    }
}

// `path` names the file in error messages.
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

// ---------------------------------------------------------------------------------------------
// Saving all pages

enum class SaveFormat { None, Bmp, Jpeg };

SaveFormat SaveFormatOf(const QString& path) {
    const QString ext = PictureFileExtension(path).toLower();
    if (IsBmpExtension(ext))
        return SaveFormat::Bmp;
    if (IsJpegExtension(ext))
        return SaveFormat::Jpeg;
    return SaveFormat::None;
}

// A page to save: a picture to render on demand, or pixels already at hand.
struct PageSource {
    QImage image;
    const TGraphic* graphic = nullptr;

    QImage Render() const { return graphic ? RenderGraphic(*graphic) : image; }
};

// Encodes JPEG pages on two threads, a few pages ahead of the writer, which takes them in page
// order. The window bounds the memory: encoded pages wait at most `Window` deep.
class TJpegEncoder {
public:
    explicit TJpegEncoder(const std::vector<PageSource>& pages)
        : m_pages(pages), m_results(pages.size()) {
        const std::size_t workers = std::min<std::size_t>(2, pages.size());
        for (std::size_t i = 0; i < workers; ++i)
            m_workers.emplace_back([this] { Work(); });
    }

    ~TJpegEncoder() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
    }

    TJpegEncoder(const TJpegEncoder&) = delete;
    TJpegEncoder& operator=(const TJpegEncoder&) = delete;

    // The encoded page (empty for a page without picture); rethrows the page's encoding error.
    QByteArray Take(std::size_t page) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_results[page].done; });
        Result result = std::move(m_results[page]);
        m_taken = page + 1;
        lock.unlock();
        m_changed.notify_all();
        if (result.error)
            std::rethrow_exception(result.error);
        return result.bytes;
    }

private:
    static constexpr std::size_t Window = 3;

    struct Result {
        bool done = false;
        QByteArray bytes;
        std::exception_ptr error;
    };

    void Work() {
        for (;;) {
            std::size_t page = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stop || m_next >= m_pages.size() || m_next < m_taken + Window;
                });
                if (m_stop || m_next >= m_pages.size())
                    return;
                page = m_next++;
            }
            Result result;
            try {
                const QImage image = m_pages[page].Render();
                if (!image.isNull())
                    result.bytes = EncodeJpeg(image);
            } catch (...) {
                result.error = std::current_exception();
            }
            result.done = true;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_results[page] = std::move(result);
            }
            m_changed.notify_all();
        }
    }

    const std::vector<PageSource>& m_pages;
    std::vector<Result> m_results;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_next = 0;
    std::size_t m_taken = 0;
    bool m_stop = false;
};

// Names the complete file with the first free number from `number` on; `number` ends at the one
// taken. Other writers may create numbered files at any time, so a taken name only moves the
// series on. Enough attempts to pass any real crowd of files, few enough to end for a folder
// that refuses every name in a way that looks like "exists".
QString LinkWithFreeNumber(TNewFile& file, const QString& chosenPath, qint64& number) {
    constexpr int MaxAttempts = 10000;
    for (int attempt = 0;; ++attempt, ++number) {
        const QString name = NumberedPictureName(chosenPath, number);
        switch (file.LinkAs(name)) {
        case TNewFile::TLinkResult::Linked:
            return name;
        case TNewFile::TLinkResult::NameTaken:
            break;
        case TNewFile::TLinkResult::Failed:
            CannotCreate(name);
        }
        if (attempt == MaxAttempts)
            CannotCreate(name);
    }
}

QStringList SavePages(const std::vector<PageSource>& pages, const QString& chosenPath,
                      const SaveAllProgress& progress) {
    const SaveFormat format = SaveFormatOf(chosenPath);
    if (format == SaveFormat::None || pages.empty())
        return {};
    const int count = static_cast<int>(pages.size());
    qint64 number = HighestPictureNumber(chosenPath);
    std::unique_ptr<TJpegEncoder> encoder;
    if (format == SaveFormat::Jpeg)
        encoder = std::make_unique<TJpegEncoder>(pages);

    QStringList written;
    for (int page = 0; page < count; ++page) {
        ++number;
        QString name;
        if (format == SaveFormat::Jpeg) {
            const QByteArray bytes = encoder->Take(static_cast<std::size_t>(page));
            if (!bytes.isEmpty()) {
                const QString planned = NumberedPictureName(chosenPath, number);
                TNewFile file(planned);
                if (!file.IsOpen())
                    CannotCreate(planned);
                WriteBytes(file, bytes, planned);
                name = LinkWithFreeNumber(file, chosenPath, number);
            }
        } else {
            // Writing a BMP is a copy of the rows, bound by the disk; it is streamed from the
            // picture instead of encoded ahead into a second full-size buffer.
            const QImage image = pages[static_cast<std::size_t>(page)].Render();
            if (!image.isNull()) {
                const QString planned = NumberedPictureName(chosenPath, number);
                TNewFile file(planned);
                if (!file.IsOpen())
                    CannotCreate(planned);
                WriteBmpFile(file, image, planned);
                name = LinkWithFreeNumber(file, chosenPath, number);
            }
        }
        if (!name.isEmpty())
            written << name;
        if (progress)
            progress(page + 1, count, name);
    }
    return written;
}

} // namespace

QString PictureFileExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? path.mid(dot) : QString();
}

void RaiseQtImageAllocationLimit() {
    static const bool raised = [] {
        QImageReader::setAllocationLimit(
            static_cast<int>(MaxPicturePixels * 4 / (1024 * 1024) + 1)); // megabytes
        return true;
    }();
    Q_UNUSED(raised)
}

QImage DecodeIconFile(const QByteArray& file) {
    RaiseQtImageAllocationLimit();
    for (const IconEntry& entry : UsableIconEntries(file)) {
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "ico");
        if (!reader.jumpToImage(entry.index))
            continue;
        const QImage image = reader.read();
        if (!image.isNull() && image.width() == entry.width && image.height() == entry.height)
            return image;
    }
    InvalidIcon();
}

QImage IconToBitmap(const QImage& icon) {
    const QImage argb = icon.convertToFormat(QImage::Format_ARGB32);
    QImage bitmap(icon.width(), icon.height(), QImage::Format_RGB888);
    if (argb.isNull() || bitmap.isNull())
        OutOfMemory();
    for (int y = 0; y < bitmap.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* out = bitmap.scanLine(y);
        for (int x = 0; x < bitmap.width(); ++x, out += 3) {
            const int a = qAlpha(in[x]);
            out[0] = OnWhite(qRed(in[x]), a);
            out[1] = OnWhite(qGreen(in[x]), a);
            out[2] = OnWhite(qBlue(in[x]), a);
        }
    }
    return bitmap;
}

std::unique_ptr<TGraphic> LoadPictureFile(const QString& path) {
    const QString ext = PictureFileExtension(path);
    const QString lower = ext.toLower();
    const bool bmp = lower == QLatin1String(".bmp");
    const bool jpeg = IsJpegExtension(lower);
    const bool icon = lower == QLatin1String(".ico");
    if (!bmp && !jpeg && !icon && !IsMetafileExtension(lower))
        throw EInvalidGraphic(
            QStringLiteral("Unbekannte Bilddateierweiterung (.%1)").arg(ext.mid(1)));

    QByteArray bytes = ReadWholeFile(path);
    if (jpeg) {
        auto graphic = std::make_unique<TJpegImage>();
        graphic->SetImage(DecodeJpeg(bytes));
        graphic->SetOriginalBytes(std::move(bytes));
        return graphic;
    }
    if (bmp || icon) {
        auto graphic = std::make_unique<TBitmap>();
        graphic->SetImage(bmp ? DecodeBmpFile(bytes) : IconToBitmap(DecodeIconFile(bytes)));
        return graphic;
    }
    throw EInvalidGraphic(
        QStringLiteral("Metadateien (.%1) werden noch nicht unterstützt").arg(ext.mid(1)));
}

QByteArray EncodeBmpFile(const QImage& image) {
    QByteArray file;
    WriteBmp(image, [&file](const void* data, std::size_t size) {
        file.append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    });
    return file;
}

QImage RenderGraphic(const TGraphic& graphic) {
    if (const auto* raster = dynamic_cast<const TRasterGraphic*>(&graphic))
        return raster->Image();
    QImage bitmap(graphic.Width(), graphic.Height(), QImage::Format_RGB888);
    if (bitmap.isNull())
        return bitmap;
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    graphic.Draw(painter, bitmap.rect());
    return bitmap;
}

bool CanSaveBitmapAs(const QString& path) {
    return SaveFormatOf(path) != SaveFormat::None;
}

bool SaveBitmapToFile(const QImage& bitmap, const QString& path) {
    switch (SaveFormatOf(path)) {
    case SaveFormat::Bmp:
        ReplaceFile(path, [&](TNewFile& file) { WriteBmpFile(file, bitmap, path); });
        return true;
    case SaveFormat::Jpeg: {
        const QByteArray jpeg = EncodeJpeg(bitmap); // before the file: a failure touches nothing
        ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, jpeg, path); });
        return true;
    }
    case SaveFormat::None:
        break;
    }
    return false;
}

bool SaveGraphicToFile(const TGraphic& graphic, const QString& path) {
    const QString ext = PictureFileExtension(path).toLower();
    switch (graphic.Kind()) {
    case GraphicKind::Metafile:
        if (IsMetafileExtension(ext))
            throw EInvalidGraphic(QStringLiteral("Metadateien werden noch nicht unterstützt"));
        break;
    case GraphicKind::Bitmap:
        if (IsBmpExtension(ext)) {
            const QImage& image = static_cast<const TBitmap&>(graphic).Image();
            ReplaceFile(path, [&](TNewFile& file) { WriteBmpFile(file, image, path); });
            return true;
        }
        break;
    case GraphicKind::Jpeg:
        if (IsJpegExtension(ext)) {
            const QByteArray& bytes = static_cast<const TJpegImage&>(graphic).OriginalBytes();
            ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, bytes, path); });
            return true;
        }
        break;
    case GraphicKind::Icon:
        break;
    }
    if (!CanSaveBitmapAs(path))
        return false;
    return SaveBitmapToFile(RenderGraphic(graphic), path);
}

QString NumberedPictureName(const QString& chosenPath, qint64 number) {
    const QString ext = PictureFileExtension(chosenPath);
    const QString base = chosenPath.left(chosenPath.size() - ext.size());
    const QString digits = number < 1000 ? QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'))
                                         : QString::number(number);
    return base + digits + ext;
}

int HighestPictureNumber(const QString& chosenPath) {
    const QString ext = PictureFileExtension(chosenPath);
    const QString base = chosenPath.left(chosenPath.size() - ext.size());
    const QString stem = base.mid(base.lastIndexOf(QLatin1Char('/')) + 1);
    const QDir folder = QFileInfo(chosenPath).absoluteDir();
    int highest = 0;
    // QDir::Files without QDir::System: regular files and links to them, hidden ones included.
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString& name : names) {
        if (name.size() < stem.size() + ext.size() || !name.startsWith(stem) || !name.endsWith(ext))
            continue;
        const QString withoutExt = name.left(name.size() - PictureFileExtension(name).size());
        int value = 0;
        if (ReadWholeNumber(QStringView(withoutExt).mid(stem.size()), value) && value > highest)
            highest = value;
    }
    return highest;
}

QStringList SaveAllPictures(const std::vector<const TGraphic*>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress) {
    // Raster pictures are taken as they are now (sharing their pixels), so the encoding threads
    // never touch a graphic object; others are rendered by the thread that encodes them.
    std::vector<PageSource> sources(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (const auto* raster = dynamic_cast<const TRasterGraphic*>(pages[i]))
            sources[i].image = raster->Image();
        else
            sources[i].graphic = pages[i];
    }
    return SavePages(sources, chosenPath, progress);
}

QStringList SaveAllPictures(const std::vector<QImage>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress) {
    std::vector<PageSource> sources(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i)
        sources[i].image = pages[i];
    return SavePages(sources, chosenPath, progress);
}

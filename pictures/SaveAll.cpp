#include "pictures/SaveAll.h"

#include "pictures/Jpeg.h"
#include "pictures/PictureFileWriting.h"
#include "pictures/PictureFiles.h"
#include "pictures/RasterFiles.h"
#include "platform/NewFile.h"
#include "platform/WholeNumber.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

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
    const TSaveFormat format = SaveFormatOf(chosenPath);
    if (format == TSaveFormat::None || pages.empty())
        return {};
    const int count = static_cast<int>(pages.size());
    qint64 number = HighestPictureNumber(chosenPath);
    std::unique_ptr<TJpegEncoder> encoder;
    if (format == TSaveFormat::Jpeg)
        encoder = std::make_unique<TJpegEncoder>(pages);

    QStringList written;
    for (int page = 0; page < count; ++page) {
        ++number;
        QString name;
        if (format == TSaveFormat::Jpeg) {
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
                const bool bmp = format == TSaveFormat::Bmp;
                const QByteArray encoded =
                    bmp ? QByteArray()
                        : EncodeRasterFile(image,
                                           format == TSaveFormat::Png ? TRasterKind::Png
                                                                      : TRasterKind::Tiff,
                                           QSize(), planned);
                TNewFile file(planned);
                if (!file.IsOpen())
                    CannotCreate(planned);
                if (!bmp)
                    WriteBytes(file, encoded, planned);
                else
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

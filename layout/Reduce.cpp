#include "layout/Reduce.h"

#include <QList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Adds one source row to per-byte sums laid out like a row of the output format, so the
// averaging that follows is the same for every kind of source. Palette lookups go straight into
// the sums: an expanded copy of an 8-bit row in between costs a second pass and, with unlucky
// buffer addresses, store-to-load stalls that double the time.
class RowAdder {
public:
    RowAdder(const QImage& source, QImage::Format out, int channels)
        : m_source(source), m_channels(channels) {
        switch (source.format()) {
        case QImage::Format_RGB888:
        case QImage::Format_Grayscale8:
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32_Premultiplied:
            m_kind = Kind::Direct;
            break;
        case QImage::Format_ARGB32:
            m_kind = Kind::Premultiply;
            break;
        case QImage::Format_Indexed8:
            // Greyscale scans carry the palette 0..255: their indexes are the grey values.
            m_kind = IsGreyRamp(source.colorTable()) ? Kind::Direct : Kind::Palette;
            BuildPaletteTable();
            break;
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            m_kind = Kind::Bits;
            BuildPaletteTable();
            BuildBitsTable(source.format() == QImage::Format_MonoLSB);
            m_row.resize(std::size_t(source.width()) * std::size_t(channels));
            break;
        default:
            m_kind = Kind::Converted;
            m_convertTo = out;
            break;
        }
    }

    template <typename Acc> void Add(int y, Acc* acc) {
        const int w = m_source.width();
        switch (m_kind) {
        case Kind::Direct:
            return AddBytes(m_source.constScanLine(y), std::size_t(w) * m_channels, acc);
        case Kind::Premultiply: {
            const auto* in = reinterpret_cast<const QRgb*>(m_source.constScanLine(y));
            for (int x = 0; x < w; ++x, acc += 4) {
                const QRgb p = qPremultiply(in[x]);
                uchar bytes[4];
                std::memcpy(bytes, &p, 4); // the output's memory order
                for (int c = 0; c < 4; ++c)
                    acc[c] = Acc(acc[c] + bytes[c]);
            }
            return;
        }
        case Kind::Palette:
            return Dispatch<AddPalette>(m_source.constScanLine(y), m_table.data(), acc);
        case Kind::Bits:
            return Dispatch<AddBits>(m_source.constScanLine(y), m_bitsTable.data(), acc,
                                     m_row.data());
        case Kind::Converted:
            break;
        }
        // Converting a band at a time keeps the extra memory small for pictures of any size.
        constexpr int band = 64;
        if (m_band.isNull() || y < m_bandTop || y >= m_bandTop + m_band.height()) {
            m_bandTop = y - y % band;
            const int rows = std::min(band, m_source.height() - m_bandTop);
            m_band =
                m_source.copy(0, m_bandTop, m_source.width(), rows).convertToFormat(m_convertTo);
        }
        AddBytes(m_band.constScanLine(y - m_bandTop), std::size_t(w) * m_channels, acc);
    }

private:
    enum class Kind { Direct, Premultiply, Palette, Bits, Converted };

    static bool IsGreyRamp(const QList<QRgb>& colours) {
        if (colours.size() != 256)
            return false;
        for (int i = 0; i < 256; ++i)
            if (colours[i] != qRgb(i, i, i))
                return false;
        return true;
    }

    template <typename Acc> static void AddBytes(const uchar* in, std::size_t n, Acc* acc) {
        for (std::size_t i = 0; i < n; ++i)
            acc[i] = Acc(acc[i] + in[i]);
    }

    // The channel count is a template argument so that the inner loops have fixed lengths.
    template <int C> struct AddPalette {
        template <typename Acc>
        static void Run(const uchar* in, int w, const uchar* table, Acc* acc) {
            for (int x = 0; x < w; ++x, acc += C) {
                const uchar* entry = table + std::size_t(in[x]) * C;
                for (int c = 0; c < C; ++c)
                    acc[c] = Acc(acc[c] + entry[c]);
            }
        }
    };
    // 1-bit rows are expanded first, one table copy per source byte, because the adding that
    // follows then runs over plain bytes and vectorises; adding eight pixels per byte does not.
    template <int C> struct AddBits {
        template <typename Acc>
        static void Run(const uchar* in, int w, const uchar* table, Acc* acc, uchar* row) {
            constexpr std::size_t perByte = 8 * C;
            const int whole = w / 8;
            uchar* out = row;
            for (int i = 0; i < whole; ++i, out += perByte)
                std::memcpy(out, table + in[i] * perByte, perByte);
            if (const int rest = w % 8)
                std::memcpy(out, table + in[whole] * perByte, std::size_t(rest) * C);
            AddBytes(row, std::size_t(w) * C, acc);
        }
    };
    template <template <int> class Adder, typename Acc, typename... Extra>
    void Dispatch(const uchar* in, const uchar* table, Acc* acc, Extra... extra) {
        const int w = m_source.width();
        switch (m_channels) {
        case 1:
            return Adder<1>::Run(in, w, table, acc, extra...);
        case 3:
            return Adder<3>::Run(in, w, table, acc, extra...);
        default:
            return Adder<4>::Run(in, w, table, acc, extra...);
        }
    }

    // The output bytes of every palette index. Indexes beyond the palette read its last entry
    // and an empty palette reads as black and white or a grey ramp, as Qt's own conversions do,
    // so the reduced copy looks like the picture Qt would draw.
    void BuildPaletteTable() {
        QList<QRgb> colours = m_source.colorTable();
        if (m_source.depth() == 1 && colours.size() < 2) {
            if (colours.isEmpty())
                colours << qRgb(0, 0, 0);
            colours << qRgb(255, 255, 255);
        }
        if (colours.isEmpty())
            for (int i = 0; i < 256; ++i)
                colours << qRgb(i, i, i);
        const std::size_t c = std::size_t(m_channels);
        m_table.assign(256 * c, 0);
        for (int i = 0; i < 256; ++i) {
            const QRgb colour = colours[std::min<qsizetype>(i, colours.size() - 1)];
            uchar* entry = &m_table[std::size_t(i) * c];
            if (c == 1) {
                entry[0] = uchar(qRed(colour));
            } else if (c == 3) {
                entry[0] = uchar(qRed(colour));
                entry[1] = uchar(qGreen(colour));
                entry[2] = uchar(qBlue(colour));
            } else {
                const QRgb p = qPremultiply(colour);
                std::memcpy(entry, &p, 4);
            }
        }
    }

    // The eight output pixels of every byte of a 1-bit row.
    void BuildBitsTable(bool lsbFirst) {
        const std::size_t c = std::size_t(m_channels);
        m_bitsTable.resize(256 * 8 * c);
        for (int byte = 0; byte < 256; ++byte)
            for (int bit = 0; bit < 8; ++bit) {
                const int index = lsbFirst ? (byte >> bit) & 1 : (byte >> (7 - bit)) & 1;
                std::memcpy(&m_bitsTable[(std::size_t(byte) * 8 + std::size_t(bit)) * c],
                            &m_table[std::size_t(index) * c], c);
            }
    }

    const QImage& m_source;
    const int m_channels;
    Kind m_kind = Kind::Direct;
    QImage::Format m_convertTo = QImage::Format_Invalid;
    std::vector<uchar> m_table;
    std::vector<uchar> m_bitsTable;
    std::vector<uchar> m_row; // an expanded 1-bit row
    QImage m_band;
    int m_bandTop = 0;
};

int ChannelsOf(QImage::Format format) {
    switch (format) {
    case QImage::Format_Grayscale8:
        return 1;
    case QImage::Format_RGB888:
        return 3;
    default:
        return 4;
    }
}

// Sums of up to `fy` source rows per byte; Acc must hold fy × 255.
template <typename Acc>
void AverageBlocks(RowAdder& source, QImage& out, int width, int height, int fx, int fy) {
    const int channels = ChannelsOf(out.format());
    std::vector<Acc> sums(std::size_t(width) * std::size_t(channels));
    for (int oy = 0; oy < out.height(); ++oy) {
        const int top = oy * fy;
        const int rows = int(std::min<qint64>(height, qint64(top) + fy) - top);
        std::fill(sums.begin(), sums.end(), Acc(0));
        Acc* acc = sums.data();
        for (int y = top; y < top + rows; ++y)
            source.Add(y, acc);
        uchar* dst = out.scanLine(oy);
        for (int ox = 0; ox < out.width(); ++ox) {
            const int left = ox * fx;
            const int cols = int(std::min<qint64>(width, qint64(left) + fx) - left);
            const std::uint64_t count = std::uint64_t(cols) * std::uint64_t(rows);
            const Acc* block = acc + std::size_t(left) * std::size_t(channels);
            for (int c = 0; c < channels; ++c) {
                std::uint64_t sum = 0;
                for (int x = 0; x < cols; ++x)
                    sum += block[std::size_t(x) * std::size_t(channels) + std::size_t(c)];
                dst[ox * channels + c] = uchar((sum + count / 2) / count);
            }
        }
    }
}

bool PaletteHasAlpha(const QList<QRgb>& colours) {
    return std::any_of(colours.begin(), colours.end(), [](QRgb c) { return qAlpha(c) != 255; });
}

bool PaletteIsGrey(const QList<QRgb>& colours) {
    return std::all_of(colours.begin(), colours.end(),
                       [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

qsizetype BytesOf(QImage::Format format, qint64 width, qint64 height) {
    const qint64 bits = QImage::toPixelFormat(format).bitsPerPixel();
    return qsizetype((width * bits + 31) / 32 * 4 * height);
}

qsizetype CopyBytes(const QImage& image, QSize factors) {
    return BytesOf(BoxReducedFormat(image), (image.width() - 1) / factors.width() + 1,
                   (image.height() - 1) / factors.height() + 1);
}

bool WithinBudget(const QImage& image, QSize factors) {
    return double(CopyBytes(image, factors)) <= ReducedCopyBudget * double(image.sizeInBytes());
}

// A copy is built this much larger than its target so that a target growing by a few pixels,
// as while an edge of the picture is dragged, still finds it large enough.
constexpr double BuildHeadroom = 1.1;
// Beyond this the copy is rebuilt: Qt's bilinear step from the copy down to the target starts
// to skip thin lines the averaging has kept.
constexpr double MaxOversize = 1.3;

// The factors a new copy for `target` gets: as large a copy as suits the target, then shrunk
// along the axis with the most to spare until it fits the budget. {0, 0} when even a single
// pixel would not fit (tiny pictures, which draw fast anyway).
QSize WantedFactors(const QImage& image, QSize target) {
    const auto fitting = [](int size, int to) {
        return std::max(2, int(std::floor(double(size) / (to * BuildHeadroom))));
    };
    int fx = fitting(image.width(), target.width());
    int fy = fitting(image.height(), target.height());
    while (!WithinBudget(image, QSize(fx, fy))) {
        if (fx >= image.width() && fy >= image.height())
            return {0, 0};
        const double spareX = double(image.width()) / fx / target.width();
        const double spareY = double(image.height()) / fy / target.height();
        if ((spareX >= spareY && fx < image.width()) || fy >= image.height())
            ++fx;
        else
            ++fy;
    }
    return {fx, fy};
}

bool FactorSuits(int factor, int size, int target) {
    const double copy = double(size) / factor;
    return copy >= target && copy <= target * MaxOversize;
}

} // namespace

QImage::Format BoxReducedFormat(const QImage& source) {
    switch (source.format()) {
    case QImage::Format_Invalid:
        return QImage::Format_Invalid;
    case QImage::Format_RGB888:
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB32:
        return source.format();
    case QImage::Format_Indexed8:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        const QList<QRgb> colours = source.colorTable();
        if (PaletteHasAlpha(colours))
            return QImage::Format_ARGB32_Premultiplied;
        return PaletteIsGrey(colours) ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    }
    case QImage::Format_Grayscale16:
        return QImage::Format_Grayscale8;
    default:
        return source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                        : QImage::Format_RGB888;
    }
}

QImage BoxReduce(const QImage& source, int fx, int fy) {
    if (source.isNull() || fx < 1 || fy < 1)
        return {};
    const QImage::Format format = BoxReducedFormat(source);
    const int width = source.width();
    const int height = source.height();
    QImage out((width - 1) / fx + 1, (height - 1) / fy + 1, format);
    if (out.isNull())
        return {};
    out.setDotsPerMeterX(source.dotsPerMeterX() / fx);
    out.setDotsPerMeterY(source.dotsPerMeterY() / fy);

    RowAdder adder(source, format, ChannelsOf(format));
    // 16-bit sums halve the traffic of the inner loop and are exact up to 257 rows of 255.
    if (fy <= 65535 / 255)
        AverageBlocks<std::uint16_t>(adder, out, width, height, fx, fy);
    else
        AverageBlocks<std::uint32_t>(adder, out, width, height, fx, fy);
    return out;
}

const QImage* TReducedCopy::For(const QImage& image, QSize target) {
    const int w = image.width();
    const int h = image.height();
    const int tw = std::abs(target.width());
    const int th = std::abs(target.height());
    // At half size or more Qt's bilinear sampling still reaches every source pixel.
    if (image.isNull() || tw == 0 || th == 0 || 2 * qint64(tw) >= w || 2 * qint64(th) >= h)
        return nullptr;

    if (image.cacheKey() != m_sourceKey) {
        Clear();
        m_sourceKey = image.cacheKey();
    }
    const QSize wanted = WantedFactors(image, QSize(tw, th));
    if (!m_copy.isNull() &&
        (QSize(m_fx, m_fy) == wanted || (FactorSuits(m_fx, w, tw) && FactorSuits(m_fy, h, th))))
        return &m_copy;
    if (wanted.isEmpty())
        return nullptr;

    m_copy = QImage(); // free the old copy before the new one is made
    m_copy = BoxReduce(image, wanted.width(), wanted.height());
    m_fx = m_copy.isNull() ? 0 : wanted.width();
    m_fy = m_copy.isNull() ? 0 : wanted.height();
    return m_copy.isNull() ? nullptr : &m_copy;
}

void TReducedCopy::Clear() {
    m_copy = QImage();
    m_sourceKey = 0;
    m_fx = 0;
    m_fy = 0;
}

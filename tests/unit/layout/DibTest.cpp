// Packed DIBs and BMP files: every kind of bitmap a scanner, the clipboard or a file can hand us,
// decoded pixel by pixel, and every kind of damage refused without touching the block.

#include "layout/Dib.h"
#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "platform/MemBlock.h"

#include <QBuffer>
#include <QImage>
#include <climits>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Grid = std::vector<std::vector<QRgb>>; // rows top to bottom

constexpr QRgb Black = 0xFF000000;
constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Red = 0xFFFF0000;
constexpr QRgb Green = 0xFF00FF00;
constexpr QRgb Blue = 0xFF0000FF;
constexpr QRgb Grey = 0xFF808080;
const std::vector<QRgb> FourColours = {Red, Green, Blue, White};

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// Pixel rows (given top to bottom as indices or raw pixel values; 24-bit values as 0xRRGGBB)
// packed the way a DIB stores them: each row padded to 4 bytes, bottom row first unless
// `topDown`.
Bytes Pack(int bitCount, const std::vector<std::vector<std::uint32_t>>& rows,
           bool topDown = false) {
    Bytes out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[topDown ? i : rows.size() - 1 - i];
        Bytes r;
        if (bitCount < 8) {
            const int perByte = 8 / bitCount;
            r.assign((row.size() + perByte - 1) / perByte, 0);
            for (std::size_t x = 0; x < row.size(); ++x) {
                const int shift = 8 - bitCount * (static_cast<int>(x % perByte) + 1);
                r[x / perByte] |= static_cast<std::uint8_t>(row[x] << shift);
            }
        } else {
            for (std::uint32_t v : row) {
                if (bitCount == 8)
                    r.push_back(static_cast<std::uint8_t>(v));
                else if (bitCount == 16)
                    Put16(r, v);
                else if (bitCount == 24) {
                    r.push_back(static_cast<std::uint8_t>(v));
                    r.push_back(static_cast<std::uint8_t>(v >> 8));
                    r.push_back(static_cast<std::uint8_t>(v >> 16));
                } else
                    Put32(r, v);
            }
        }
        while (r.size() % 4 != 0)
            r.push_back(0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// A packed DIB put together field by field.
struct Dib {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> masks; // inside headers of 52+ bytes, after a 40-byte one
    std::vector<QRgb> palette;
    Bytes bits;

    Bytes Build() const {
        Bytes b;
        Put32(b, headerSize);
        if (headerSize == 12) {
            Put16(b, static_cast<std::uint32_t>(width));
            Put16(b, static_cast<std::uint32_t>(height));
            Put16(b, planes);
            Put16(b, bitCount);
        } else {
            Put32(b, static_cast<std::uint32_t>(width));
            Put32(b, static_cast<std::uint32_t>(height));
            Put16(b, planes);
            Put16(b, bitCount);
            Put32(b, compression);
            Put32(b, sizeImage);
            Put32(b, 2835); // 72 dpi
            Put32(b, 2835);
            Put32(b, clrUsed);
            Put32(b, 0);
            for (std::uint32_t m : masks)
                if (headerSize > 40 && b.size() + 4 <= headerSize)
                    Put32(b, m);
            b.resize(headerSize, 0);
            if (headerSize == 40)
                for (std::uint32_t m : masks)
                    Put32(b, m);
        }
        for (QRgb c : palette) {
            b.push_back(static_cast<std::uint8_t>(qBlue(c)));
            b.push_back(static_cast<std::uint8_t>(qGreen(c)));
            b.push_back(static_cast<std::uint8_t>(qRed(c)));
            if (headerSize != 12)
                b.push_back(0);
        }
        b.insert(b.end(), bits.begin(), bits.end());
        return b;
    }
};

// A memory block holding exactly `bytes`, freed with the object.
class Block {
public:
    explicit Block(const Bytes& bytes) : m_handle(MemBlock::Alloc(bytes.size())) {
        if (!bytes.empty())
            std::memcpy(m_handle, bytes.data(), bytes.size());
    }
    ~Block() { MemBlock::Free(m_handle); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    HGLOBAL Handle() const { return m_handle; }
    Bytes Contents() const {
        const auto* p = static_cast<const std::uint8_t*>(m_handle);
        return Bytes(p, p + MemBlock::Size(m_handle));
    }

private:
    HGLOBAL m_handle;
};

void ExpectPixels(const QImage& image, const Grid& expected) {
    ASSERT_EQ(image.height(), static_cast<int>(expected.size()));
    ASSERT_EQ(image.width(), static_cast<int>(expected[0].size()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            EXPECT_EQ(image.pixel(x, y), expected[y][x])
                << "pixel (" << x << ", " << y << ") is " << std::hex << image.pixel(x, y);
}

QByteArray ToBmpFile(Dib dib) {
    Bytes b = dib.Build();
    return PackedDibToBmpFile(b.data(), b.size());
}

// Every test leaves the block registry as it found it.
class DibTest : public ::testing::Test {
protected:
    void SetUp() override { m_blocks = MemBlock::LiveBlocks(); }
    void TearDown() override { EXPECT_EQ(MemBlock::LiveBlocks(), m_blocks); }

private:
    std::size_t m_blocks = 0;
};

struct Kind {
    const char* name;
    Dib dib;
    Grid expected;
    QImage::Format format; // of the bitmap once it holds the picture
    bool qtAgrees = false; // Qt's own reader decodes this kind correctly: a second opinion
};

std::vector<Kind> Kinds() {
    std::vector<Kind> k;
    Dib d;

    d = Dib{};
    d.bitCount = 1, d.width = 3, d.height = 2, d.palette = {Red, Blue};
    d.bits = Pack(1, {{1, 0, 1}, {0, 0, 1}});
    k.push_back({"1-bit", d, {{Blue, Red, Blue}, {Red, Red, Blue}}, QImage::Format_Mono, true});

    d.clrUsed = 1, d.palette = {Green};
    d.bits = Pack(1, {{1, 0, 1}, {0, 0, 1}});
    k.push_back({"1-bit, one colour used: index 1 is black",
                 d,
                 {{Black, Green, Black}, {Green, Green, Black}},
                 QImage::Format_Mono});

    d = Dib{};
    d.bitCount = 4, d.width = 5, d.height = 2, d.clrUsed = 3, d.palette = {Red, Green, Blue};
    d.bits = Pack(4, {{0, 1, 2, 1, 0}, {2, 2, 1, 0, 9}});
    k.push_back({"4-bit, 3 of 16 colours, index beyond the table is black",
                 d,
                 {{Red, Green, Blue, Green, Red}, {Blue, Blue, Green, Red, Black}},
                 QImage::Format_Indexed8});

    d = Dib{};
    d.bitCount = 8, d.width = 3, d.height = 2;
    for (int i = 0; i < 256; ++i)
        d.palette.push_back(qRgb(i, i, i));
    d.bits = Pack(8, {{0, 0x80, 0xFF}, {0xFF, 0x80, 0}});
    k.push_back({"8-bit grey, colours used 0",
                 d,
                 {{Black, Grey, White}, {White, Grey, Black}},
                 QImage::Format_Indexed8,
                 true});

    d = Dib{};
    d.bitCount = 8, d.width = 2, d.height = -2, d.clrUsed = 4, d.palette = FourColours;
    d.bits = Pack(8, {{0, 1}, {2, 3}}, true);
    k.push_back(
        {"8-bit top-down", d, {{Red, Green}, {Blue, White}}, QImage::Format_Indexed8, true});

    d = Dib{};
    d.bitCount = 16, d.width = 3, d.height = 1;
    d.bits = Pack(16, {{0x7FFF, 0x7C00, 0x0210}});
    k.push_back({"16-bit 5-5-5 without masks",
                 d,
                 {{White, Red, qRgb(0, 132, 132)}},
                 QImage::Format_RGB888});

    d = Dib{};
    d.bitCount = 16, d.width = 3, d.height = 2, d.compression = 3;
    d.masks = {0xF800, 0x07E0, 0x001F};
    d.bits = Pack(16, {{0xFFFF, 0xF800, 0x0400}, {0x001F, 0x0000, 0x07E0}});
    k.push_back({"16-bit 5-6-5 bit fields",
                 d,
                 {{White, Red, qRgb(0, 130, 0)}, {Blue, Black, Green}},
                 QImage::Format_RGB888});

    d = Dib{};
    d.width = 3, d.height = 2;
    d.bits = Pack(24, {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x808080, 0x000000}});
    k.push_back({"24-bit, width 3 (padded rows)",
                 d,
                 {{Red, Green, Blue}, {White, Grey, Black}},
                 QImage::Format_RGB888,
                 true});

    d.height = -2;
    d.bits = Pack(24, {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x808080, 0x000000}}, true);
    k.push_back({"24-bit top-down",
                 d,
                 {{Red, Green, Blue}, {White, Grey, Black}},
                 QImage::Format_RGB888,
                 true});

    d = Dib{};
    d.bitCount = 32, d.width = 2, d.height = 1;
    d.bits = Pack(32, {{0x55FF0000, 0xAA0000FF}});
    k.push_back({"32-bit, fourth byte ignored", d, {{Red, Blue}}, QImage::Format_RGB888, true});

    d.compression = 3, d.masks = {0xFF000000, 0x00FF0000, 0x0000FF00};
    d.bits = Pack(32, {{0xFF000000, 0x0000FF00}});
    k.push_back({"32-bit bit fields RGBX", d, {{Red, Blue}}, QImage::Format_RGB888, true});

    d.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    d.bits = Pack(32, {{0x3FF00000, 0x00080000 | 0x200}});
    k.push_back(
        {"32-bit 10-10-10 bit fields", d, {{Red, qRgb(0, 128, 128)}}, QImage::Format_RGB888});

    d.compression = 6, d.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    d.bits = Pack(32, {{0x80FF0000, 0xFF00FF00}});
    k.push_back(
        {"32-bit alpha bit fields", d, {{qRgba(255, 0, 0, 0x80), Green}}, QImage::Format_ARGB32});

    d = Dib{};
    d.headerSize = 124, d.bitCount = 32, d.width = 2, d.height = 1, d.compression = 3;
    d.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    d.bits = Pack(32, {{0x00FF0000, 0x0000FF00}});
    k.push_back({"V5 32-bit with an alpha mask but all alpha 0: opaque",
                 d,
                 {{Red, Green}},
                 QImage::Format_RGB888});

    d.bits = Pack(32, {{0x40FF0000, 0xC000FF00}});
    k.push_back({"V5 32-bit with alpha",
                 d,
                 {{qRgba(255, 0, 0, 0x40), qRgba(0, 255, 0, 0xC0)}},
                 QImage::Format_ARGB32,
                 true});

    d = Dib{};
    d.headerSize = 108, d.width = 3, d.height = 2;
    d.bits = Pack(24, {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x808080, 0x000000}});
    k.push_back(
        {"V4 24-bit", d, {{Red, Green, Blue}, {White, Grey, Black}}, QImage::Format_RGB888, true});

    d = Dib{};
    d.headerSize = 124, d.bitCount = 8, d.width = 2, d.height = 2, d.clrUsed = 4;
    d.palette = FourColours, d.bits = Pack(8, {{3, 2}, {1, 0}});
    k.push_back({"V5 8-bit", d, {{White, Blue}, {Green, Red}}, QImage::Format_Indexed8, true});

    d = Dib{};
    d.headerSize = 52, d.bitCount = 16, d.width = 2, d.height = 1, d.compression = 3;
    d.masks = {0xF800, 0x07E0, 0x001F};
    d.bits = Pack(16, {{0xF800, 0x001F}});
    k.push_back({"52-byte header, masks inside", d, {{Red, Blue}}, QImage::Format_RGB888});

    d = Dib{};
    d.headerSize = 56, d.bitCount = 16, d.width = 2, d.height = 1, d.compression = 3;
    d.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    d.bits = Pack(16, {{0xFF00, 0x800F}});
    k.push_back({"56-byte header, 4-4-4-4 with alpha",
                 d,
                 {{Red, qRgba(0, 0, 255, 0x88)}},
                 QImage::Format_ARGB32});

    d = Dib{};
    d.headerSize = 64, d.width = 1, d.height = 2;
    d.bits = Pack(24, {{0xFF0000}, {0x0000FF}});
    k.push_back({"OS/2 64-byte header", d, {{Red}, {Blue}}, QImage::Format_RGB888});

    d = Dib{};
    d.headerSize = 12, d.bitCount = 8, d.width = 3, d.height = 1;
    for (int i = 0; i < 256; ++i)
        d.palette.push_back(i == 7 ? Green : qRgb(i, 0, 0));
    d.bits = Pack(8, {{7, 255, 0}});
    k.push_back({"core header, 8-bit", d, {{Green, Red, Black}}, QImage::Format_Indexed8});

    // Bottom row: a run of 3, then end of line (the fourth pixel keeps index 0).
    // Middle row: an odd absolute run padded to a word, a run of 1, end of line.
    // Top row: a delta of 2 pixels, a run of 2, end of bitmap.
    d = Dib{};
    d.bitCount = 8, d.width = 4, d.height = 3, d.compression = 1, d.clrUsed = 4;
    d.palette = FourColours;
    d.bits = {3, 1, 0, 0, 0, 3, 2, 3, 1, 0, 1, 2, 0, 0, 0, 2, 2, 0, 2, 3, 0, 1};
    d.sizeImage = static_cast<std::uint32_t>(d.bits.size());
    k.push_back({"RLE8 runs, absolute, delta, end of bitmap",
                 d,
                 {{Red, Red, White, White}, {Blue, White, Green, Blue}, {Green, Green, Green, Red}},
                 QImage::Format_Indexed8});

    d.width = 2, d.height = 2, d.sizeImage = 0;
    d.bits = {10, 1, 0, 0, 1, 2};
    k.push_back({"RLE8 run clipped at the row's end, no end code, size 0",
                 d,
                 {{Blue, Red}, {Green, Green}},
                 QImage::Format_Indexed8});

    d = Dib{};
    d.bitCount = 4, d.width = 5, d.height = 2, d.compression = 2, d.clrUsed = 4;
    d.palette = FourColours;
    d.bits = {5, 0x12, 0, 0, 0, 3, 0x30, 0x20, 2, 0x11, 0, 1};
    d.sizeImage = static_cast<std::uint32_t>(d.bits.size());
    k.push_back({"RLE4 alternating run, odd absolute run",
                 d,
                 {{White, Red, Blue, Green, Green}, {Green, Blue, Green, Blue, Green}},
                 QImage::Format_Indexed8});
    return k;
}

} // namespace

TEST_F(DibTest, EveryKindDecodesToItsPixels) {
    for (const Kind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        Block block(kind.dib.Build());
        TBitmap bitmap;
        ASSERT_NO_THROW(DIBToGraphic(block.Handle(), bitmap));
        EXPECT_EQ(MemBlock::LockCount(block.Handle()), 0);
        ExpectPixels(bitmap.Image(), kind.expected);
        EXPECT_EQ(bitmap.Image().format(), kind.format);
        // Straight from the block and by way of a BMP file: the same picture.
        TBitmap viaFile;
        viaFile.SetImage(DecodeBmpFile(ToBmpFile(kind.dib)));
        EXPECT_EQ(bitmap.Image(), viaFile.Image());
        if (kind.qtAgrees)
            ExpectPixels(QImage::fromData(ToBmpFile(kind.dib), "BMP"), kind.expected);
    }
}

TEST_F(DibTest, FileLayoutOfPackedDibs) {
    struct Case {
        const char* name;
        Dib dib;
        std::uint32_t offset;
        std::uint32_t imageSize; // also written back into the block for uncompressed DIBs
    };
    std::vector<Case> cases;
    Dib d;
    d.bitCount = 8, d.width = 2, d.height = 2, d.palette.assign(256, Black);
    d.bits = Pack(8, {{0, 0}, {0, 0}});
    cases.push_back({"8-bit, colours used 0", d, 1078, 8});
    d = Dib{};
    d.width = 3, d.height = 2, d.sizeImage = 999, d.bits = Bytes(24, 0);
    cases.push_back({"24-bit, width 3: rows of 12 bytes", d, 54, 24});
    d.height = -2;
    cases.push_back({"24-bit top-down: size from |height|", d, 54, 24});
    d.headerSize = 124, d.height = 2;
    cases.push_back({"V5 header counted in full", d, 14 + 124, 24});
    d = Dib{};
    d.bitCount = 16, d.compression = 3, d.masks = {0xF800, 0x07E0, 0x1F}, d.bits = Bytes(4, 0);
    cases.push_back({"masks after a 40-byte header", d, 54 + 12, 4});
    d = Dib{};
    d.headerSize = 108, d.bitCount = 4, d.clrUsed = 2, d.palette = {Black, White};
    d.bits = Bytes(4, 0);
    cases.push_back({"V4 4-bit, 2 colours used", d, 14 + 108 + 8, 4});
    d = Dib{};
    d.headerSize = 12, d.bitCount = 1, d.palette = {Black, White}, d.bits = Bytes(4, 0);
    cases.push_back({"core header, three-byte colours", d, 14 + 12 + 6, 4});
    d = Dib{};
    d.bitCount = 8, d.compression = 1, d.clrUsed = 1, d.palette = {Red};
    d.bits = {1, 0, 0, 1, 0xEE, 0xEE}, d.sizeImage = 4;
    cases.push_back({"RLE8 keeps its declared size, bytes beyond are left out", d, 58, 4});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes block = c.dib.Build();
        const QByteArray file = PackedDibToBmpFile(block.data(), block.size());
        auto u32 = [&](int at) {
            std::uint32_t v;
            std::memcpy(&v, file.constData() + at, 4);
            return v;
        };
        ASSERT_EQ(static_cast<std::size_t>(file.size()), c.offset + c.imageSize);
        EXPECT_EQ(file.left(2), QByteArray("BM"));
        EXPECT_EQ(u32(2), c.offset + c.imageSize);
        EXPECT_EQ(u32(6), 0u);
        EXPECT_EQ(u32(10), c.offset);
        EXPECT_EQ(0, std::memcmp(file.constData() + 14, block.data(), file.size() - 14));
        if (c.dib.headerSize >= 40) {
            std::uint32_t written;
            std::memcpy(&written, block.data() + 20, 4);
            EXPECT_EQ(written, c.dib.compression == 0 ? c.imageSize : c.dib.sizeImage);
        }
        EXPECT_FALSE(DecodeBmpFile(file).isNull());
    }
}

TEST_F(DibTest, DamageIsRefusedAndLeavesTheBlockAlone) {
    auto base24 = [] {
        Dib d;
        d.width = 3, d.height = 2, d.sizeImage = 77, d.bits = Bytes(24, 0x11);
        return d.Build();
    };
    auto base8 = [] {
        Dib d;
        d.bitCount = 8, d.width = 2, d.height = 2, d.palette.assign(256, Grey);
        d.bits = Bytes(8, 0);
        return d.Build();
    };
    auto with = [](Bytes b, std::size_t at, std::uint32_t v, int width = 4) {
        for (int i = 0; i < width; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    auto head = [](Bytes b, std::size_t n) {
        b.resize(n);
        return b;
    };
    auto built = [](void (*change)(Dib&)) {
        Dib d;
        change(d);
        return d.Build();
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"empty block", {}},
        {"three bytes", {40, 0, 0}},
        {"header claims 40 bytes, block has 20", head(base24(), 20)},
        {"unknown header size 41", with(base24(), 0, 41)},
        {"header size 0", with(base24(), 0, 0)},
        {"header size huge", with(base24(), 0, 0xFFFFFFF0)},
        {"pixels one byte short", head(base24(), base24().size() - 1)},
        {"palette past the end", head(base8(), 40 + 100)},
        {"pixels missing after a full palette", head(base8(), base8().size() - 8)},
        {"width 0", with(base24(), 4, 0)},
        {"height 0", with(base24(), 8, 0)},
        {"negative width", with(base24(), 4, static_cast<std::uint32_t>(-3))},
        {"height INT_MIN", with(base24(), 8, static_cast<std::uint32_t>(INT_MIN))},
        {"width beyond the side limit", with(with(base24(), 4, 70000), 8, 1)},
        {"top-down beyond the side limit", with(with(base24(), 4, 1), 8, -70000)},
        {"sides fine, pixel count too large", with(with(base24(), 4, 20000), 8, 20000)},
        {"width × bit count overflows 32 bits", with(with(base24(), 4, 0x7FFFFFFF), 8, 1)},
        {"planes 0", with(base24(), 12, 0, 2)},
        {"planes 2", with(base24(), 12, 2, 2)},
        {"bit count 0", with(base24(), 14, 0, 2)},
        {"bit count 2", with(base24(), 14, 2, 2)},
        {"bit count 7", with(base24(), 14, 7, 2)},
        {"bit count 64", with(base24(), 14, 64, 2)},
        {"RLE8 with 24 bits", with(base24(), 16, 1)},
        {"RLE4 with 8 bits", with(base8(), 16, 2)},
        {"RLE8 top-down", with(with(with(base8(), 16, 1), 20, 8), 8, static_cast<uint32_t>(-2))},
        {"RLE8 size beyond the block", with(with(base8(), 16, 1), 20, 9)},
        {"JPEG compression", with(base24(), 16, 4)},
        {"PNG compression", with(base24(), 16, 5)},
        {"compression 7", with(base24(), 16, 7)},
        {"bit fields with 24 bits", with(base24(), 16, 3)},
        {"colours used 3 for 1 bit", built([](Dib& d) {
             d.bitCount = 1, d.clrUsed = 3, d.palette = {Red, Green, Blue}, d.bits = Bytes(4, 0);
         })},
        {"colours used 2^30 for 8 bits", with(base8(), 32, 0x40000000)},
        {"colours used 0xFFFFFFFF for 8 bits", with(base8(), 32, 0xFFFFFFFF)},
        {"colours used 257 for 24 bits", with(base24(), 32, 257)},
        {"colours used 2 for 24 bits, table missing", with(base24(), 32, 2)},
        {"masks missing after the header", built([](Dib& d) {
             d.bitCount = 16, d.compression = 3, d.masks = {0xF800, 0x07E0};
         })},
        {"overlapping masks", built([](Dib& d) {
             d.bitCount = 16, d.compression = 3, d.masks = {0xF800, 0x0FE0, 0x1F};
             d.bits = Bytes(4, 0);
         })},
        {"mask with a gap", built([](Dib& d) {
             d.bitCount = 16, d.compression = 3, d.masks = {0xF000, 0x05E0, 0x1F};
             d.bits = Bytes(4, 0);
         })},
        {"16-bit mask beyond 16 bits", built([](Dib& d) {
             d.bitCount = 16, d.compression = 3, d.masks = {0x1F0000, 0x07E0, 0x1F};
             d.bits = Bytes(4, 0);
         })},
        {"all colour masks 0", built([](Dib& d) {
             d.bitCount = 32, d.compression = 3, d.masks = {0, 0, 0};
             d.bits = Bytes(4, 0);
         })},
        {"alpha bit fields, 52-byte header has no alpha mask", built([](Dib& d) {
             d.headerSize = 52, d.bitCount = 32, d.compression = 6;
             d.masks = {0xFF0000, 0xFF00, 0xFF}, d.bits = {0, 0, 0, 0xFF};
         })},
        {"OS/2 header with compression 3", built([](Dib& d) {
             d.headerSize = 64, d.bitCount = 32, d.compression = 3, d.bits = Bytes(4, 0);
         })},
        {"core header with 32 bits",
         built([](Dib& d) { d.headerSize = 12, d.bitCount = 32, d.bits = Bytes(4, 0); })},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Block block(c.bytes);
        const Bytes before = block.Contents();
        TBitmap bitmap;
        EXPECT_THROW(DIBToGraphic(block.Handle(), bitmap), EInvalidGraphic);
        EXPECT_TRUE(bitmap.Image().isNull());
        EXPECT_TRUE(MemBlock::IsBlock(block.Handle()));
        EXPECT_EQ(MemBlock::LockCount(block.Handle()), 0);
        EXPECT_EQ(block.Contents(), before) << "the block changed although it was refused";
    }
}

TEST_F(DibTest, BmpFileHeaderIsChecked) {
    Dib d;
    d.bitCount = 8, d.width = 2, d.height = 1, d.clrUsed = 2, d.palette = {Red, Blue};
    d.bits = Pack(8, {{1, 0}});
    const QByteArray good = ToBmpFile(d);
    ASSERT_EQ(good.size(), 14 + 40 + 8 + 4);
    auto withOffset = [&](std::uint32_t offset) {
        QByteArray f = good;
        std::memcpy(f.data() + 10, &offset, 4);
        return f;
    };

    struct Case {
        const char* name;
        QByteArray file;
    };
    const std::vector<Case> bad = {
        {"empty", QByteArray()},
        {"file header only", good.left(14)},
        {"not BM", QByteArray("MB").append(good.mid(2))},
        {"offset inside the colour table", withOffset(14 + 40 + 4)},
        {"offset beyond the file", withOffset(0x7FFFFFFF)},
        {"offset leaves too few pixel bytes", withOffset(14 + 40 + 8 + 1)},
        {"pixels cut short", good.left(good.size() - 1)},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(DecodeBmpFile(c.file), EInvalidGraphic);
    }

    // A wrong file size field is common and harmless; a gap before the pixels is allowed.
    QByteArray sizeZero = good;
    std::memset(sizeZero.data() + 2, 0, 4);
    ExpectPixels(DecodeBmpFile(sizeZero), {{Blue, Red}});
    QByteArray gap = good.left(14 + 48) + QByteArray(16, '\x7F') + good.mid(14 + 48);
    const std::uint32_t gapOffset = 14 + 48 + 16;
    std::memcpy(gap.data() + 10, &gapOffset, 4);
    ExpectPixels(DecodeBmpFile(gap), {{Blue, Red}});
}

// Files Qt's writer produced (the kinds Velmora itself saves) read back unchanged.
TEST_F(DibTest, BmpFilesWrittenByQtReadBack) {
    QImage rgb(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            rgb.setPixel(x, y, qRgb(x * 50, y * 100, 255 - x * 40));
    const QImage sources[] = {
        rgb,
        rgb.convertToFormat(QImage::Format_Indexed8),
        rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither),
    };
    for (const QImage& source : sources) {
        SCOPED_TRACE(source.format());
        QByteArray file;
        QBuffer buffer(&file);
        ASSERT_TRUE(source.save(&buffer, "BMP"));
        const QImage decoded = DecodeBmpFile(file);
        ASSERT_EQ(decoded.size(), source.size());
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                EXPECT_EQ(decoded.pixel(x, y), source.pixel(x, y)) << x << "," << y;
    }
}

TEST_F(DibTest, AssignDibLoadsOrLeavesAnEmptyPicture) {
    Dib good;
    good.width = 2, good.height = 1, good.bits = Pack(24, {{0xFF0000, 0x00FF00}});
    Dib damaged = good;
    damaged.bitCount = 3;

    TPicProperties pic(nullptr);
    Block first(good.Build());
    pic.AssignDIB(first.Handle());
    ASSERT_FALSE(pic.IsEmpty());
    EXPECT_EQ(pic.Picture.Graphic()->Kind(), GraphicKind::Bitmap);
    EXPECT_EQ(pic.PicWidth(), 2);
    EXPECT_EQ(pic.PicHeight(), 1);
    EXPECT_TRUE(MemBlock::IsBlock(first.Handle())) << "the block stays the caller's";
    EXPECT_EQ(MemBlock::LockCount(first.Handle()), 0);

    Block bad(damaged.Build());
    EXPECT_THROW(pic.AssignDIB(bad.Handle()), EInvalidGraphic);
    EXPECT_TRUE(pic.IsEmpty()) << "a failed load must not leave the previous picture";
    EXPECT_EQ(pic.PicWidth(), 0);
    EXPECT_TRUE(MemBlock::IsBlock(bad.Handle()));
    EXPECT_EQ(MemBlock::LockCount(bad.Handle()), 0);

    // Handles that are no live block: nothing, a freed block.
    HGLOBAL freed = MemBlock::Alloc(64);
    MemBlock::Free(freed);
    for (HGLOBAL h : {HGLOBAL(nullptr), freed}) {
        EXPECT_THROW(pic.AssignDIB(h), EInvalidGraphic);
        EXPECT_TRUE(pic.IsEmpty());
    }
}

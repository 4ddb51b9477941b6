// SANE frames → packed DIB, with tiny hand-built frames, and the resolution capability's
// mapping onto SANE's option constraints.

#include "dsm/sane/SanePage.h"
#include "dsm/sane/Resolution.h"
#include "layout/Dib.h"
#include "platform/MemBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace sanebridge;

namespace {

DibMemory Blocks() {
    return {[](std::size_t n) { return MemBlock::Alloc(n); }, [](void* b) { MemBlock::Free(b); }};
}

struct Frame {
    FrameParams params;
    std::vector<unsigned char> bytes;
};

// Feeds every frame (in chunks of `chunk` bytes, to cross line boundaries) and decodes the DIB
// the way the picture code does.
QImage Assemble(const std::vector<Frame>& frames, std::size_t chunk, int* bitCount = nullptr) {
    PageAssembler page(Blocks());
    for (const Frame& f : frames) {
        EXPECT_TRUE(page.BeginFrame(f.params)) << page.Error();
        for (std::size_t i = 0; i < f.bytes.size(); i += chunk)
            page.Feed(f.bytes.data() + i, std::min(chunk, f.bytes.size() - i));
        page.EndFrame();
    }
    void* dib = page.TakeDib(300, 150);
    EXPECT_NE(dib, nullptr);
    if (!dib)
        return {};
    auto* p = static_cast<unsigned char*>(MemBlock::Lock(dib));
    std::int32_t xppm;
    std::memcpy(&xppm, p + 24, 4);
    EXPECT_EQ(xppm, 11811); // 300 dpi
    if (bitCount)
        *bitCount = p[14];
    QImage img = DecodeBmpFile(PackedDibToBmpFile(p, MemBlock::Size(dib)));
    MemBlock::Unlock(dib);
    MemBlock::Free(dib);
    return img.convertToFormat(QImage::Format_RGB888);
}

FrameParams Params(FrameFormat f, int depth, int ppl, int bpl, int lines, bool last = true) {
    FrameParams p;
    p.format = f;
    p.depth = depth;
    p.pixelsPerLine = ppl;
    p.bytesPerLine = bpl;
    p.lines = lines;
    p.lastFrame = last;
    return p;
}

QRgb Px(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xFFFFFF;
}

} // namespace

TEST(SanePage, ColourRowsStayTopDownThroughPaddingAndChunking) {
    // 3×2 RGB, each line padded with 5 junk bytes that must not leak into the picture.
    Frame f{Params(FrameFormat::Rgb, 8, 3, 14, 2), {}};
    const unsigned char rows[2][9] = {{255, 0, 0, 0, 255, 0, 0, 0, 255},
                                      {10, 20, 30, 40, 50, 60, 70, 80, 90}};
    for (const auto& r : rows) {
        f.bytes.insert(f.bytes.end(), r, r + 9);
        f.bytes.insert(f.bytes.end(), 5, 0x77);
    }
    for (std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(1000)}) {
        int bits = 0;
        const QImage img = Assemble({f}, chunk, &bits);
        ASSERT_EQ(img.size(), QSize(3, 2)) << chunk;
        EXPECT_EQ(bits, 24);
        EXPECT_EQ(Px(img, 0, 0), 0xFF0000u);
        EXPECT_EQ(Px(img, 2, 0), 0x0000FFu);
        EXPECT_EQ(Px(img, 1, 1), 0x28323Cu);
    }
}

TEST(SanePage, GreyDepthsBecomeEightOrOneBit) {
    // 16-bit samples in the machine's byte order: the high byte counts.
    Frame g16{Params(FrameFormat::Gray, 16, 2, 4, 1), {}};
    const std::uint16_t s[2] = {0x12FF, 0xAB00};
    g16.bytes.resize(4);
    std::memcpy(g16.bytes.data(), s, 4);
    int bits = 0;
    QImage img = Assemble({g16}, 3, &bits);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(Px(img, 0, 0), 0x121212u);
    EXPECT_EQ(Px(img, 1, 0), 0xABABABu);

    // Line art: SANE's 1 is black. 10 pixels in 2 bytes, padded to 3.
    Frame g1{Params(FrameFormat::Gray, 1, 10, 3, 1), {0xA0, 0x40, 0xFF}};
    img = Assemble({g1}, 1, &bits);
    EXPECT_EQ(bits, 1);
    ASSERT_EQ(img.width(), 10);
    EXPECT_EQ(Px(img, 0, 0), 0x000000u);
    EXPECT_EQ(Px(img, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(Px(img, 2, 0), 0x000000u);
    EXPECT_EQ(Px(img, 9, 0), 0x000000u);
    EXPECT_EQ(Px(img, 8, 0), 0xFFFFFFu);
}

TEST(SanePage, ThreePassFramesMergeIntoOnePicture) {
    const FrameFormat order[3] = {FrameFormat::Green, FrameFormat::Blue, FrameFormat::Red};
    const unsigned char value[3] = {0x22, 0x33, 0x11};
    std::vector<Frame> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back({Params(order[i], 8, 2, 2, 2, i == 2), std::vector<unsigned char>(4)});
    for (int i = 0; i < 3; ++i)
        frames[i].bytes = {value[i], 0, 0, value[i]};
    const QImage img = Assemble(frames, 3);
    EXPECT_EQ(Px(img, 0, 0), 0x112233u);
    EXPECT_EQ(Px(img, 1, 0), 0x000000u);
    EXPECT_EQ(Px(img, 1, 1), 0x112233u);
}

TEST(SanePage, LengthUnknownOrShortKeepsTheLinesThatArrived) {
    Frame hand{Params(FrameFormat::Gray, 8, 1, 1, -1), {1, 2, 3, 4, 5}};
    QImage img = Assemble({hand}, 2);
    ASSERT_EQ(img.height(), 5);
    EXPECT_EQ(Px(img, 0, 0), 0x010101u);
    EXPECT_EQ(Px(img, 0, 4), 0x050505u);

    Frame shortPage{Params(FrameFormat::Gray, 8, 1, 1, 4), {9, 8}};
    img = Assemble({shortPage}, 1);
    ASSERT_EQ(img.height(), 2);
    EXPECT_EQ(Px(img, 0, 0), 0x090909u);
    EXPECT_EQ(Px(img, 0, 1), 0x080808u);

    // More lines than announced: the extra ones are dropped.
    Frame longPage{Params(FrameFormat::Gray, 8, 1, 1, 2), {7, 6, 5}};
    img = Assemble({longPage}, 2);
    ASSERT_EQ(img.height(), 2);
    EXPECT_EQ(Px(img, 0, 1), 0x060606u);
    EXPECT_EQ(MemBlock::LiveBlocks(), 0u);
}

TEST(SanePage, ParametersNoDibCanHoldAreRefused) {
    struct Case {
        const char* what;
        std::vector<FrameParams> frames;
    };
    const std::vector<Case> cases = {
        {"line too short for its pixels", {Params(FrameFormat::Rgb, 8, 4, 11, 1)}},
        {"depth 4", {Params(FrameFormat::Gray, 4, 4, 4, 1)}},
        {"no pixels", {Params(FrameFormat::Gray, 8, 0, 4, 1)}},
        {"three-pass width changes",
         {Params(FrameFormat::Red, 8, 4, 4, 1, false), Params(FrameFormat::Green, 8, 5, 5, 1)}},
        {"three-pass height changes",
         {Params(FrameFormat::Red, 8, 4, 4, 1, false), Params(FrameFormat::Green, 8, 4, 4, 2)}},
        {"grey after a colour frame",
         {Params(FrameFormat::Red, 8, 4, 4, 1, false), Params(FrameFormat::Gray, 8, 4, 4, 1)}},
    };
    for (const Case& c : cases) {
        PageAssembler page(Blocks());
        bool ok = true;
        for (const FrameParams& p : c.frames) {
            ok = page.BeginFrame(p);
            if (!ok)
                break;
            page.EndFrame();
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_FALSE(page.Error().empty()) << c.what;
    }
    // A page whose frame never ended gives no DIB and leaks nothing.
    PageAssembler page(Blocks());
    ASSERT_TRUE(page.BeginFrame(Params(FrameFormat::Gray, 8, 4, 4, 4)));
    EXPECT_EQ(page.TakeDib(300, 300), nullptr);
    EXPECT_EQ(MemBlock::LiveBlocks(), 0u);
}

TEST(SaneResolution, ConstraintsMapOntoContainersAndSnap) {
    OptionDesc fixedRange;
    fixedRange.name = "resolution";
    fixedRange.type = OptionType::Fixed;
    fixedRange.constraint = Constraint::Range;
    fixedRange.min = 1;
    fixedRange.max = 1200;
    fixedRange.quant = 0;
    fixedRange.numbers = {300};

    OptionDesc intList;
    intList.name = "x-resolution";
    intList.type = OptionType::Int;
    intList.constraint = Constraint::WordList;
    intList.words = {75, 150, 300, 600};
    intList.numbers = {150};

    OptionDesc steps = fixedRange;
    steps.type = OptionType::Int;
    steps.min = 50;
    steps.max = 600;
    steps.quant = 25;

    ResolutionCap cap = DescribeResolution({fixedRange});
    EXPECT_EQ(cap.kind, ResolutionCap::Kind::Range);
    EXPECT_EQ(cap.max, 1200);
    EXPECT_EQ(cap.current, 300);

    cap = DescribeResolution({intList});
    EXPECT_EQ(cap.kind, ResolutionCap::Kind::Enumeration);
    EXPECT_EQ(cap.currentIndex, 1);
    EXPECT_EQ(cap.values.size(), 4u);

    OptionDesc free = fixedRange;
    free.constraint = Constraint::None;
    EXPECT_EQ(DescribeResolution({free}).kind, ResolutionCap::Kind::OneValue);
    OptionDesc inactive = fixedRange;
    inactive.active = false;
    EXPECT_EQ(DescribeResolution({inactive}).kind, ResolutionCap::Kind::None);
    // "resolution" wins over "x-resolution".
    EXPECT_EQ(FindResolutionOption({intList, fixedRange})->name, "resolution");

    struct Snap {
        const OptionDesc* option;
        double wanted, expected;
    };
    const Snap snaps[] = {
        {&fixedRange, 333.5, 333.5}, {&fixedRange, 5000, 1200}, {&fixedRange, 0, 1},
        {&intList, 200, 150},        {&intList, 1000, 600},     {&intList, 230, 300},
        {&steps, 110, 100},          {&steps, 113, 125},        {&steps, 601, 600},
    };
    for (const Snap& s : snaps)
        EXPECT_EQ(SnapResolution(*s.option, s.wanted), s.expected)
            << s.option->name << " " << s.wanted;
}

TEST(SanePage, PreviewRowsGrowWithThePageAndMatchItsDib) {
    struct Case {
        const char* what;
        std::vector<Frame> frames;
        long long announced; // Height() while scanning
    };
    const std::vector<Case> cases = {
        {"grey", {{Params(FrameFormat::Gray, 8, 2, 3, 3), {1, 2, 0, 3, 4, 0, 5, 6, 0}}}, 3},
        {"line art", {{Params(FrameFormat::Gray, 1, 10, 2, 2), {0xA0, 0x40, 0x0F, 0xC0}}}, 2},
        {"colour", {{Params(FrameFormat::Rgb, 8, 1, 4, 2), {10, 20, 30, 0, 40, 50, 60, 0}}}, 2},
        {"three-pass",
         {{Params(FrameFormat::Blue, 8, 1, 1, 2, false), {3, 6}},
          {Params(FrameFormat::Red, 8, 1, 1, 2, false), {1, 4}},
          {Params(FrameFormat::Green, 8, 1, 1, 2), {2, 5}}},
         2},
        {"length unknown", {{Params(FrameFormat::Gray, 8, 1, 1, -1), {7, 8, 9}}}, 0},
    };
    for (const Case& c : cases) {
        PageAssembler page(Blocks());
        long long last = 0;
        for (std::size_t f = 0; f < c.frames.size(); ++f) {
            ASSERT_TRUE(page.BeginFrame(c.frames[f].params)) << c.what;
            EXPECT_EQ(page.Height(), c.announced) << c.what;
            for (unsigned char byte : c.frames[f].bytes) {
                page.Feed(&byte, 1);
                const long long rows = page.RowsComplete();
                EXPECT_GE(rows, last) << c.what;
                // A row is only complete once its last colour has arrived.
                if (f + 1 < c.frames.size()) {
                    EXPECT_EQ(rows, 0) << c.what;
                }
                last = rows;
            }
            page.EndFrame();
        }
        const long long rows = page.RowsComplete();
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(rows * page.Width()));
        for (long long r = 0; r < rows; ++r)
            page.CopyRow(r, pixels.data() + r * page.Width());
        void* dib = page.TakeDib(300, 300);
        ASSERT_NE(dib, nullptr) << c.what;
        QImage img = DecodeBmpFile(PackedDibToBmpFile(
            static_cast<unsigned char*>(MemBlock::Lock(dib)), MemBlock::Size(dib)));
        MemBlock::Unlock(dib);
        MemBlock::Free(dib);
        ASSERT_EQ(img.size(), QSize(page.Width(), int(rows))) << c.what;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                EXPECT_EQ(pixels[std::size_t(y * img.width() + x)], img.pixel(x, y) | 0xff000000u)
                    << c.what << " " << x << "," << y;
    }
}

TEST(SaneResolution, PreviewTakesTheLowestAtOrAboveFifty) {
    auto option = [](OptionType type, Constraint constraint, double min, double max, double quant,
                     std::vector<double> words = {}) {
        OptionDesc o;
        o.type = type;
        o.constraint = constraint;
        o.min = min;
        o.max = max;
        o.quant = quant;
        o.words = std::move(words);
        return o;
    };
    struct Case {
        OptionDesc option;
        double expected;
    };
    const Case cases[] = {
        {option(OptionType::Fixed, Constraint::Range, 1, 1200, 0), 50},
        {option(OptionType::Fixed, Constraint::Range, 1, 1200, 1), 50},
        {option(OptionType::Int, Constraint::Range, 30, 600, 25), 55},
        {option(OptionType::Int, Constraint::Range, 100, 600, 50), 100},
        {option(OptionType::Int, Constraint::Range, 10, 40, 1), 40},
        {option(OptionType::Int, Constraint::WordList, 0, 0, 0, {600, 75, 300, 60}), 60},
        {option(OptionType::Int, Constraint::WordList, 0, 0, 0, {25, 50, 100}), 50},
        {option(OptionType::Int, Constraint::WordList, 0, 0, 0, {12, 40, 25}), 40},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewResolution(c.option), c.expected)
            << c.option.min << ".." << c.option.max << " step " << c.option.quant << " "
            << c.option.words.size() << " words";
}

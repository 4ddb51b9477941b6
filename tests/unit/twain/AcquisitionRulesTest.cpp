// The resolution a scanned page gets, and how the driver edit's text is read.

#include "twain/Acquisition.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

struct DriverTextCase {
    const char* text;
    bool ok;
    int dpi;
};

TEST(AcquisitionRules, DriverTextReadsAsAWholeDecimalNumber) {
    const DriverTextCase cases[] = {
        {"600", true, 600},       {" 150 ", true, 150},
        {"0", true, 0},           {"2147483647", true, std::numeric_limits<int>::max()},
        {"2147483648", false, 0}, {"", false, 0},
        {"  ", false, 0},         {"-300", false, 0},
        {"+300", false, 0},       {"300dpi", false, 0},
        {"$12C", false, 0},       {"0x12C", false, 0},
        {"3 00", false, 0},       {"٣٠٠", false, 0},
    };
    for (const DriverTextCase& c : cases) {
        int dpi = -1;
        EXPECT_EQ(ReadDriverDPI(QString::fromUtf8(c.text), dpi), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(dpi, c.dpi) << c.text;
        else
            EXPECT_EQ(dpi, -1) << c.text << ": nothing written";
    }
}

// The source must not be asked at all.
constexpr double NotAsked = -1e300;

struct SettleCase {
    const char* name;
    bool autoDPI;
    int requested;
    const char* driverText; // nullptr: the special mode does not apply
    bool known;             // the source accepted the request
    int x, y;               // held before
    double source;          // what the source reports, or NotAsked
    int wantX, wantY;
    bool wantKnown;
};

TEST(AcquisitionRules, SettlePageDPI) {
    const SettleCase cases[] = {
        {"auto, accepted: kept, vertical follows", true, 200, nullptr, true, 200, 150, NotAsked,
         200, 200, true},
        {"auto, refused: the source's, rounded half to even", true, 200, nullptr, false, 200, 150,
         300.5, 300, 300, false},
        {"auto, refused, the source has none: default", true, 200, nullptr, false, 200, 150, 0, 300,
         300, false},
        {"auto, refused, the source's value is absurd: default", true, 200, nullptr, false, 200,
         150, 1e12, 300, 300, false},
        {"auto, refused, negative: default", true, 200, nullptr, false, 200, 150, -5, 300, 300,
         false},
        {"manual: kept as held", false, 200, nullptr, false, 200, 150, NotAsked, 200, 150, false},
        {"manual, none held: the source's", false, 0, nullptr, false, 0, 0, 600, 600, 600, false},
        {"manual, vertical none: follows", false, 200, nullptr, true, 200, 0, NotAsked, 200, 200,
         true},
        {"driver text, resolution 0: taken without the source", true, 0, "600", false, 0, 0,
         NotAsked, 600, 600, true},
        {"driver text, manual with 0 asked: taken", false, 0, "450", false, 0, 0, NotAsked, 450,
         450, true},
        {"driver text ignored when manual with a resolution", false, 200, "600", false, 200, 150,
         NotAsked, 200, 150, false},
        {"driver text no number: the source asked", true, 0, "abc", true, 0, 0, 150, 150, 150,
         false},
        {"driver text empty: the source asked", true, 0, "", true, 0, 0, 150, 150, 150, false},
        {"driver text 0: known, default", true, 0, "0", false, 0, 0, NotAsked, 300, 300, true},
    };
    for (const SettleCase& c : cases) {
        TPageDPIRules rules;
        rules.AutoDPI = c.autoDPI;
        rules.RequestedDPI = c.requested;
        if (c.driverText)
            rules.DriverText = QString::fromUtf8(c.driverText);
        bool known = c.known;
        int x = c.x;
        int y = c.y;
        int asked = 0;
        SettlePageDPI(x, y, rules, known, [&] {
            ++asked;
            return c.source;
        });
        EXPECT_EQ(x, c.wantX) << c.name;
        EXPECT_EQ(y, c.wantY) << c.name;
        EXPECT_EQ(known, c.wantKnown) << c.name;
        EXPECT_EQ(asked, c.source == NotAsked ? 0 : 1) << c.name;
        EXPECT_GT(x, 0) << c.name;
        EXPECT_GT(y, 0) << c.name;
    }
}

// The resolution of a page in hand: the source's capability, with the header's pixels per
// metre where the source is silent. 5906 pixels per metre are 150 dpi, 11811 are 300.
struct PageCase {
    const char* name;
    double sourceX, sourceY, headerX, headerY;
    int wantX, wantY;
};

TEST(AcquisitionRules, PageResolution) {
    const PageCase cases[] = {
        {"source and header agree", 150, 0, 150.0124, 150.0124, 150, 150},
        {"source only, vertical follows", 150, 0, 0, 0, 150, 150},
        {"source in both directions", 300, 600, 0, 0, 300, 600},
        {"header only, both directions", 0, 0, 299.9994, 199.9996, 300, 200},
        {"source wins over a header left at a screen default", 300, 0, 96, 96, 300, 300},
        {"a disagreeing header does not give the vertical value", 300, 0, 72, 150, 300, 300},
        {"an agreeing header gives it", 300, 0, 300, 150, 300, 150},
        {"absurd source values are no values", -5, 1e12, 200, 200, 200, 200},
        {"nothing at all", 0, 0, 0, 0, 0, 0},
    };
    for (const PageCase& c : cases) {
        int x = -1;
        int y = -1;
        PageResolutionDPI({c.sourceX, c.sourceY, c.headerX, c.headerY}, x, y);
        EXPECT_EQ(x, c.wantX) << c.name;
        EXPECT_EQ(y, c.wantY) << c.name;
    }
}

TEST(AcquisitionRules, DibHeaderResolution) {
    auto header = [](std::uint32_t size, std::int32_t x, std::int32_t y, std::size_t bytes) {
        std::vector<unsigned char> dib(bytes);
        std::memcpy(dib.data(), &size, 4);
        if (bytes >= 32) {
            std::memcpy(dib.data() + 24, &x, 4);
            std::memcpy(dib.data() + 28, &y, 4);
        }
        return dib;
    };
    std::vector<unsigned char> dib = header(40, 5906, 11811, 40);
    TPageResolution r = DibHeaderResolution(dib.data(), dib.size());
    EXPECT_NEAR(r.HeaderX, 150, 0.02);
    EXPECT_NEAR(r.HeaderY, 300, 0.02);
    dib = header(124, -5906, 0, 124);
    r = DibHeaderResolution(dib.data(), dib.size());
    EXPECT_EQ(r.HeaderX, 0);
    EXPECT_EQ(r.HeaderY, 0);
    // A core header has no such fields; a block too short for them is not read beyond its end.
    for (const auto& [size, bytes] : {std::pair{12u, 40u}, std::pair{40u, 31u}}) {
        dib = header(size, 5906, 5906, bytes);
        r = DibHeaderResolution(dib.data(), dib.size());
        EXPECT_EQ(r.HeaderX, 0) << size << " " << bytes;
        EXPECT_EQ(r.HeaderY, 0) << size << " " << bytes;
    }
    r = DibHeaderResolution(nullptr, 40);
    EXPECT_EQ(r.HeaderX, 0);
}

// Normal acquisition asks the page in hand; the driver edit, a manual resolution and fast copy
// keep their own rules. The page reports its source and header values in dpi.
struct ReadPageCase {
    const char* name;
    bool autoDPI, readPage;
    const char* driverText;
    bool known;
    int x, y;
    double sourceX, sourceY, headerX, headerY;
    int wantX, wantY;
    int wantPageAsked, wantSourceAsked;
};

TEST(AcquisitionRules, SettlePageDPIFromThePageInHand) {
    const ReadPageCase cases[] = {
        {"accepted 300, the dialog set 150", true, true, nullptr, true, 300, 300, 150, 0, 150, 150,
         150, 150, 1, 0},
        {"a page with its own vertical resolution", true, true, nullptr, true, 300, 300, 300, 600,
         0, 0, 300, 600, 1, 0},
        {"the page tells nothing: the accepted request stays", true, true, nullptr, true, 200, 150,
         0, 0, 0, 0, 200, 200, 1, 0},
        {"the page tells nothing, refused: default", true, true, nullptr, false, 200, 150, 0, 0, 0,
         0, 300, 300, 1, 0},
        {"fast copy: the accepted request, nothing asked", true, false, nullptr, true, 200, 150,
         150, 0, 150, 150, 200, 200, 0, 0},
        {"fast copy, refused: the source asked once", true, false, nullptr, false, 200, 150, 150, 0,
         150, 150, 600, 600, 0, 1},
        {"manual: kept as held", false, true, nullptr, true, 200, 150, 150, 0, 150, 150, 200, 150,
         0, 0},
        {"manual, none held: the page's", false, true, nullptr, false, 0, 0, 0, 0, 75, 75, 75, 75,
         1, 0},
        {"driver edit readable: it wins", true, true, "400", false, 300, 300, 150, 0, 150, 150, 400,
         400, 0, 0},
        {"driver edit no number: the page's", true, true, "x", false, 300, 300, 150, 0, 150, 150,
         150, 150, 1, 0},
    };
    for (const ReadPageCase& c : cases) {
        TPageDPIRules rules;
        rules.AutoDPI = c.autoDPI;
        rules.RequestedDPI = c.x;
        rules.ReadPage = c.readPage;
        if (c.driverText)
            rules.DriverText = QString::fromUtf8(c.driverText);
        bool known = c.known;
        int x = c.x;
        int y = c.y;
        int pageAsked = 0;
        int sourceAsked = 0;
        SettlePageDPI(
            x, y, rules, known,
            [&] {
                ++sourceAsked;
                return 600.0;
            },
            [&] {
                ++pageAsked;
                return TPageResolution{c.sourceX, c.sourceY, c.headerX, c.headerY};
            });
        EXPECT_EQ(x, c.wantX) << c.name;
        EXPECT_EQ(y, c.wantY) << c.name;
        EXPECT_EQ(pageAsked, c.wantPageAsked) << c.name;
        EXPECT_EQ(sourceAsked, c.wantSourceAsked) << c.name;
    }
}

} // namespace

// The resolution a scanned page gets, and how the driver edit's text is read.

#include "twain/Acquisition.h"

#include <gtest/gtest.h>
#include <limits>

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

} // namespace

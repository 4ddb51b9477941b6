// The SANE bridge's session against SANE's test scanner (private SANE_CONFIG_DIR of
// scripts/testenv.sh): every page the bridge turns into a DIB is compared with the same page
// read straight from libsane by a plain reference reader.

#include "dsm/sane/Resolution.h"
#include "dsm/sane/SaneSession.h"
#include "layout/Dib.h"
#include "platform/MemBlock.h"

#include <gtest/gtest.h>
#include <sane/sane.h>

#include <QImage>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <variant>
#include <vector>

using namespace sanebridge;

namespace {

using Value = std::variant<double, std::string>;
using Settings = std::vector<std::pair<std::string, Value>>;

DibMemory Blocks() {
    return {[](std::size_t n) { return MemBlock::Alloc(n); }, [](void* b) { MemBlock::Free(b); }};
}

// A small area keeps every scan quick; the tests change the rest.
Settings Base() {
    return {{"tl-x", 10.0}, {"tl-y", 10.0}, {"br-x", 45.0}, {"br-y", 35.0}, {"resolution", 100.0}};
}

Settings With(Settings s, const Settings& more) {
    s.insert(s.end(), more.begin(), more.end());
    return s;
}

void Apply(SaneSession& session, const Settings& settings) {
    for (const auto& [name, value] : settings) {
        const SetResult r = std::holds_alternative<double>(value)
                                ? session.SetOption(name, std::get<double>(value))
                                : session.SetOption(name, std::get<std::string>(value));
        ASSERT_EQ(r.status, Status::Good) << name;
    }
}

QImage DibToImage(void* dib) {
    auto* p = static_cast<unsigned char*>(MemBlock::Lock(dib));
    QImage img = DecodeBmpFile(PackedDibToBmpFile(p, MemBlock::Size(dib)));
    MemBlock::Unlock(dib);
    return img.convertToFormat(QImage::Format_RGB888);
}

// ---- the reference: libsane read by the simplest possible code -----------------------------

int FindOption(SANE_Handle h, const std::string& name) {
    SANE_Int n = 0;
    sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &n, nullptr);
    for (int i = 1; i < n; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (d && d->name && name == d->name)
            return i;
    }
    return -1;
}

void SetRaw(SANE_Handle h, const std::string& name, const Value& v) {
    const int i = FindOption(h, name);
    ASSERT_GT(i, 0) << name;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
    std::vector<char> buf(static_cast<std::size_t>(d->size) + 1, 0);
    if (d->type == SANE_TYPE_STRING) {
        std::strncpy(buf.data(), std::get<std::string>(v).c_str(), buf.size() - 1);
    } else {
        const double x = std::get<double>(v);
        const SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(x) : SANE_Word(x);
        std::memcpy(buf.data(), &w, sizeof w);
    }
    ASSERT_EQ(sane_control_option(h, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr),
              SANE_STATUS_GOOD)
        << name;
}

int Sample8(const std::vector<unsigned char>& line, long long i, int depth) {
    if (depth == 16) {
        std::uint16_t v;
        std::memcpy(&v, line.data() + 2 * i, 2);
        return v >> 8;
    }
    if (depth == 1)
        return (line[i / 8] & (0x80 >> (i % 8))) ? 0 : 255;
    return line[i];
}

// One page, frames merged, as RGB888.
QImage ReferencePage(const Settings& settings) {
    SANE_Int version;
    EXPECT_EQ(sane_init(&version, nullptr), SANE_STATUS_GOOD);
    SANE_Handle h = nullptr;
    EXPECT_EQ(sane_open("test", &h), SANE_STATUS_GOOD);
    for (const auto& [name, value] : settings)
        SetRaw(h, name, value);
    QImage img;
    std::vector<std::vector<unsigned char>> lines;
    for (bool last = false; !last;) {
        EXPECT_EQ(sane_start(h), SANE_STATUS_GOOD);
        SANE_Parameters p;
        sane_get_parameters(h, &p);
        last = p.last_frame;
        std::vector<unsigned char> data;
        unsigned char buf[4096];
        SANE_Int len;
        while (sane_read(h, buf, sizeof buf, &len) == SANE_STATUS_GOOD)
            data.insert(data.end(), buf, buf + len);
        const int rows = static_cast<int>(data.size() / p.bytes_per_line);
        if (img.isNull()) {
            img = QImage(p.pixels_per_line, rows, QImage::Format_RGB888);
            img.fill(Qt::black);
        }
        for (int y = 0; y < std::min(rows, img.height()); ++y) {
            std::vector<unsigned char> line(data.begin() + long(y) * p.bytes_per_line,
                                            data.begin() + long(y + 1) * p.bytes_per_line);
            uchar* out = img.scanLine(y);
            for (int x = 0; x < p.pixels_per_line; ++x) {
                switch (p.format) {
                case SANE_FRAME_RGB:
                    for (int c = 0; c < 3; ++c)
                        out[3 * x + c] = uchar(Sample8(line, 3LL * x + c, p.depth));
                    break;
                case SANE_FRAME_GRAY:
                    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = uchar(Sample8(line, x, p.depth));
                    break;
                default:
                    out[3 * x + (p.format - SANE_FRAME_RED)] = uchar(Sample8(line, x, p.depth));
                }
            }
        }
    }
    sane_cancel(h);
    sane_close(h);
    sane_exit();
    return img;
}

// Scans one page through the bridge.
QImage BridgePage(const Settings& settings, Status* status = nullptr) {
    SaneSession session(Blocks());
    EXPECT_EQ(session.Open("test"), Status::Good);
    Apply(session, settings);
    PageJob job = session.ScanPage();
    EXPECT_TRUE(job.WaitFor(PageJob::Phase::Done, 30000));
    if (status)
        *status = job.Result();
    void* dib = job.TakeDib();
    if (!dib)
        return {};
    QImage img = DibToImage(dib);
    MemBlock::Free(dib);
    return img;
}

// The test backend loses a read buffer when a scan is cancelled, and SANE unloads it at
// sane_exit, which leaves LeakSanitizer a leak without a module name. Kept loaded, the leak is
// named after the backend and scripts/lsan.supp can tell it apart from ours.
const bool testBackendKept = [] {
    for (const char* path : {SANE_TEST_BACKEND})
        if (dlopen(path, RTLD_NOW | RTLD_NODELETE))
            return true;
    return false;
}();

class SaneBridge : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("SANE_CONFIG_DIR"))
            GTEST_SKIP() << "needs the SANE test scanner of scripts/testenv.sh";
    }
    void TearDown() override { EXPECT_EQ(MemBlock::LiveBlocks(), 0u); }
};

} // namespace

TEST_F(SaneBridge, EveryPageFormatMatchesLibsane) {
    struct Case {
        const char* what;
        Settings settings;
    };
    const std::vector<Case> cases = {
        {"colour", {{"mode", std::string("Color")}}},
        {"grey", {{"mode", std::string("Gray")}}},
        {"line art", {{"mode", std::string("Gray")}, {"depth", 1.0}}},
        {"grey 16 bit", {{"mode", std::string("Gray")}, {"depth", 16.0}}},
        {"colour 16 bit", {{"mode", std::string("Color")}, {"depth", 16.0}}},
        {"three-pass", {{"mode", std::string("Color")}, {"three-pass", 1.0}}},
        {"three-pass BGR",
         {{"mode", std::string("Color")},
          {"three-pass", 1.0},
          {"three-pass-order", std::string("BGR")}}},
        {"padded lines", {{"mode", std::string("Color")}, {"ppl-loss", 7.0}}},
        {"fuzzy parameters", {{"mode", std::string("Gray")}, {"fuzzy-parameters", 1.0}}},
        {"hand scanner", {{"mode", std::string("Color")}, {"hand-scanner", 1.0}}},
        {"grid, small reads",
         {{"test-picture", std::string("Grid")}, {"read-limit", 1.0}, {"read-limit-size", 333.0}}},
    };
    for (const Case& c : cases) {
        const Settings s = With(Base(), c.settings);
        Status status = Status::Inval;
        const QImage bridge = BridgePage(s, &status);
        ASSERT_EQ(status, Status::Good) << c.what;
        const QImage reference = ReferencePage(s);
        ASSERT_FALSE(reference.isNull()) << c.what;
        EXPECT_GT(bridge.width() * bridge.height(), 100) << c.what;
        EXPECT_EQ(bridge.size(), reference.size()) << c.what;
        EXPECT_TRUE(bridge == reference) << c.what;
    }
}

TEST_F(SaneBridge, FeederBatchDeliversTenPagesThenNoDocs) {
    const Settings s = With(Base(), {{"source", std::string("Automatic Document Feeder")}});
    const QImage reference = ReferencePage(s);
    SaneSession session(Blocks());
    ASSERT_EQ(session.Open("test"), Status::Good);
    Apply(session, s);
    EXPECT_TRUE(session.FeederSelected());
    int pages = 0;
    for (;;) {
        PageJob job = session.ScanPage();
        ASSERT_TRUE(job.WaitFor(PageJob::Phase::Done, 30000));
        if (job.Result() != Status::Good) {
            EXPECT_EQ(job.Result(), Status::NoDocs);
            break;
        }
        void* dib = job.TakeDib();
        ASSERT_NE(dib, nullptr);
        EXPECT_TRUE(DibToImage(dib) == reference) << "page " << pages + 1;
        MemBlock::Free(dib);
        ++pages;
        ASSERT_LT(pages, 20);
    }
    EXPECT_EQ(pages, 10);
    // The empty feeder is full again for the next batch.
    PageJob again = session.ScanPage();
    ASSERT_TRUE(again.WaitFor(PageJob::Phase::Done, 30000));
    EXPECT_EQ(again.Result(), Status::Good);
    MemBlock::Free(again.TakeDib());
    session.EndBatch();
}

TEST_F(SaneBridge, InjectedFailuresEndThePageAndTheNextScanWorks) {
    const Status expected[] = {Status::Jammed, Status::CoverOpen, Status::IoError,
                               Status::NoDocs, Status::Cancelled, Status::NoMem};
    const char* values[] = {"SANE_STATUS_JAMMED",  "SANE_STATUS_COVER_OPEN", "SANE_STATUS_IO_ERROR",
                            "SANE_STATUS_NO_DOCS", "SANE_STATUS_CANCELLED",  "SANE_STATUS_NO_MEM"};
    SaneSession session(Blocks());
    ASSERT_EQ(session.Open("test"), Status::Good);
    Apply(session, Base());
    for (std::size_t i = 0; i < std::size(values); ++i) {
        ASSERT_EQ(session.SetOption("read-return-value", std::string(values[i])).status,
                  Status::Good);
        PageJob job = session.ScanPage();
        ASSERT_TRUE(job.WaitFor(PageJob::Phase::Done, 30000)) << values[i];
        EXPECT_EQ(job.Result(), expected[i]) << values[i];
        EXPECT_EQ(job.TakeDib(), nullptr) << values[i];
        EXPECT_FALSE(StatusMessage(expected[i]).empty() && expected[i] != Status::Cancelled);

        ASSERT_EQ(session.SetOption("read-return-value", std::string("Default")).status,
                  Status::Good);
        PageJob next = session.ScanPage();
        ASSERT_TRUE(next.WaitFor(PageJob::Phase::Done, 30000));
        EXPECT_EQ(next.Result(), Status::Good) << "after " << values[i];
        MemBlock::Free(next.TakeDib());
    }
}

TEST_F(SaneBridge, CancelStopsASlowScanWithinASecond) {
    SaneSession session(Blocks());
    ASSERT_EQ(session.Open("test"), Status::Good);
    // A whole A4 page with 200 ms between the backend's buffers: far longer than the test.
    Apply(session, {{"br-x", 210.0},
                    {"br-y", 297.0},
                    {"resolution", 300.0},
                    {"read-delay", 1.0},
                    {"read-delay-duration", 200000.0}});
    PageJob job = session.ScanPage();
    ASSERT_TRUE(job.WaitFor(PageJob::Phase::Reading, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(job.CurrentPhase(), PageJob::Phase::Reading);
    const auto t0 = std::chrono::steady_clock::now();
    session.Cancel();
    ASSERT_TRUE(job.WaitFor(PageJob::Phase::Done, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(job.Result(), Status::Cancelled);
    EXPECT_EQ(job.TakeDib(), nullptr);

    Apply(session, {{"read-delay", 0.0}, {"read-limit", 0.0}});
    PageJob next = session.ScanPage();
    ASSERT_TRUE(next.WaitFor(PageJob::Phase::Done, 30000));
    EXPECT_EQ(next.Result(), Status::Good);
    MemBlock::Free(next.TakeDib());
}

TEST_F(SaneBridge, DevicesOptionsAndResolution) {
    SaneSession session(Blocks());
    EXPECT_EQ(session.InitStatus(), Status::Good);
    const std::vector<Device> devices = session.Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "test:0");
    EXPECT_NE(session.Open("no-such-backend:0"), Status::Good);
    EXPECT_FALSE(session.IsOpen());
    ASSERT_EQ(session.Open(devices[0].name), Status::Good);

    const std::vector<OptionDesc> options = session.Options();
    const ResolutionCap cap = DescribeResolution(options);
    EXPECT_EQ(cap.kind, ResolutionCap::Kind::Range);
    EXPECT_EQ(cap.min, 1);
    EXPECT_EQ(cap.max, 1200);
    bool sawMode = false;
    for (const OptionDesc& o : options)
        if (o.name == "mode") {
            sawMode = true;
            EXPECT_EQ(o.constraint, Constraint::StringList);
            EXPECT_EQ(o.text, "Color");
        }
    EXPECT_TRUE(sawMode);

    double actual = 0;
    EXPECT_EQ(session.SetResolution(150, &actual), Status::Good);
    EXPECT_EQ(actual, 150);
    EXPECT_EQ(session.SetResolution(5000, &actual), Status::Good);
    EXPECT_EQ(actual, 1200);
    EXPECT_EQ(session.Resolution(), 1200);

    // The page carries the resolution it was scanned at.
    Apply(session, With(Base(), {{"resolution", 200.0}}));
    PageJob job = session.ScanPage();
    ASSERT_TRUE(job.WaitFor(PageJob::Phase::Done, 30000));
    void* dib = job.TakeDib();
    ASSERT_NE(dib, nullptr);
    std::int32_t ppm[2];
    std::memcpy(ppm, static_cast<unsigned char*>(dib) + 24, 8);
    EXPECT_EQ(ppm[0], 7874);
    EXPECT_EQ(ppm[1], 7874);
    MemBlock::Free(dib);
}

namespace {

// The values the dialog shows, by option name.
std::vector<std::pair<std::string, std::pair<std::vector<double>, std::string>>>
Values(SaneSession& session) {
    std::vector<std::pair<std::string, std::pair<std::vector<double>, std::string>>> out;
    for (const OptionDesc& o : session.Options())
        out.push_back({o.name, {o.numbers, o.active ? o.text : "(inactive)"}});
    return out;
}

int BitCount(void* dib) {
    std::uint16_t bits;
    std::memcpy(&bits, static_cast<unsigned char*>(dib) + 14, 2);
    return bits;
}

} // namespace

TEST_F(SaneBridge, PreviewShowsTheBedAndLeavesTheDialogsSettings) {
    struct Case {
        const char* what;
        Settings dialog;
        int bitCount; // of the real page after the preview
        bool cancel;  // cancel the preview once its first lines are there
    };
    const std::vector<Case> cases = {
        {"300 dpi colour", {{"mode", std::string("Color")}, {"resolution", 300.0}}, 24, false},
        {"150 dpi grey, restricted area",
         {{"mode", std::string("Gray")},
          {"depth", 8.0},
          {"resolution", 150.0},
          {"tl-x", 20.0},
          {"tl-y", 30.0},
          {"br-x", 60.0},
          {"br-y", 50.0}},
         8,
         false},
        {"line art", {{"mode", std::string("Gray")}, {"depth", 1.0}}, 1, false},
        {"three-pass colour", {{"mode", std::string("Color")}, {"three-pass", 1.0}}, 24, false},
        {"cancelled", {{"mode", std::string("Gray")}, {"resolution", 200.0}}, 8, true},
    };
    // Small reads with a pause between them: the preview's lines arrive in many steps.
    const Settings slow = {{"read-limit", 1.0},
                           {"read-limit-size", 20000.0},
                           {"read-delay", 1.0},
                           {"read-delay-duration", 5000.0}};
    for (const Case& c : cases) {
        const Settings s = With(With(Base(), slow), c.dialog);
        const QImage reference = ReferencePage(s);
        SaneSession session(Blocks());
        ASSERT_EQ(session.Open("test"), Status::Good);
        Apply(session, s);
        const auto before = Values(session);
        double bed[2] = {0, 0};
        for (const OptionDesc& o : session.Options())
            if (o.name == "br-x" || o.name == "br-y")
                bed[o.name == "br-y"] = o.max * 50 / 25.4;

        PageJob preview = session.ScanPreview();
        std::vector<std::uint32_t> lines;
        long long rows = 0, height = -1;
        int width = 0, steps = 0;
        for (auto t0 = std::chrono::steady_clock::now();
             std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30);) {
            const bool done = preview.CurrentPhase() == PageJob::Phase::Done;
            const long long now = preview.CopyLines(rows, &lines, &width, &height);
            ASSERT_GE(now, rows) << c.what;
            steps += now > rows && now < height;
            rows = now;
            ASSERT_EQ(lines.size(), std::size_t(rows) * std::size_t(width)) << c.what;
            if (done)
                break;
            if (c.cancel && rows > 0)
                session.Cancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(preview.CurrentPhase(), PageJob::Phase::Done) << c.what;
        double dpiX = 0, dpiY = 0;
        preview.Resolution(&dpiX, &dpiY);
        EXPECT_EQ(dpiX, 50) << c.what;
        EXPECT_EQ(dpiY, 50) << c.what;
        EXPECT_GT(steps, 0) << c.what << ": the lines came all at once";
        EXPECT_NEAR(width, bed[0], 1) << c.what;
        EXPECT_NEAR(double(height), bed[1], 1) << c.what;
        if (c.cancel) {
            EXPECT_EQ(preview.Result(), Status::Cancelled) << c.what;
            EXPECT_LT(rows, height) << c.what;
            EXPECT_EQ(preview.TakeDib(), nullptr) << c.what;
        } else {
            ASSERT_EQ(preview.Result(), Status::Good) << c.what;
            void* dib = preview.TakeDib();
            ASSERT_NE(dib, nullptr) << c.what;
            EXPECT_EQ(BitCount(dib), 24) << c.what;
            const QImage img = DibToImage(dib);
            MemBlock::Free(dib);
            EXPECT_EQ(rows, height) << c.what;
            ASSERT_EQ(img.size(), QSize(width, int(height))) << c.what;
            int wrong = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    wrong += img.pixel(x, y) != lines[std::size_t(y) * width + x];
            EXPECT_EQ(wrong, 0) << c.what;
        }

        EXPECT_EQ(Values(session), before) << c.what;
        PageJob page = session.ScanPage();
        ASSERT_TRUE(page.WaitFor(PageJob::Phase::Done, 30000)) << c.what;
        ASSERT_EQ(page.Result(), Status::Good) << c.what;
        void* dib = page.TakeDib();
        ASSERT_NE(dib, nullptr) << c.what;
        EXPECT_EQ(BitCount(dib), c.bitCount) << c.what;
        EXPECT_TRUE(DibToImage(dib) == reference) << c.what;
        MemBlock::Free(dib);
    }
}

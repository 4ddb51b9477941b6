// The scanner session TTwain against the scripted source, through Velmora's real manager loaded
// with dlopen: states and their checks, the error record and its report, capability containers
// of every kind, and the acquisition loop with its transfers.

#include "twain/Twain.h"
#include "layout/PicObj.h"
#include "platform/MemBlock.h"
#include "tests/support/DialogRecorder.h"
#include "tests/unit/twain/ScriptedSourceEnv.h"
#include "twain/twainh.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <stdexcept>

using namespace twaintest;

namespace {

class TwainTest : public ScenarioTest {
protected:
    void SetUp() override {
        ScenarioTest::SetUp();
        m_blocks = MemBlock::LiveBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(MemBlock::LiveBlocks(), m_blocks) << "Velmora blocks leaked";
        ScenarioTest::TearDown();
    }

    // Load, open the manager and the default source: state 4.
    void Open(TTwain& twain) {
        ASSERT_TRUE(twain.LoadDSM());
        ASSERT_TRUE(twain.OpenDSM(nullptr));
        ASSERT_TRUE(twain.OpenSource());
        ASSERT_EQ(twain.GetState(), 4);
    }
    void Close(TTwain& twain) {
        EXPECT_TRUE(twain.CloseDSM(nullptr));
        EXPECT_TRUE(twain.UnloadDSM());
        EXPECT_EQ(twain.GetState(), 1);
    }
    // The triplets of the log ("DG DAT MSG"), without the identity line and the source's notes.
    QStringList Calls() {
        static const QRegularExpression triplet(
            QStringLiteral("^[0-9a-f]{4} [0-9a-f]{4} [0-9a-f]{4}$"));
        QStringList calls;
        for (const QString& line : TakeLog())
            if (triplet.match(line).hasMatch())
                calls << line;
        return calls;
    }

    DialogRecorder m_dialogs;
    std::size_t m_blocks = 0;
};

const QString EnableDS = QStringLiteral("0001 0009 0502");
const QString DisableDS = QStringLiteral("0001 0009 0501");
const QString CloseDS = QStringLiteral("0001 0003 0402");
const QString OpenDS = QStringLiteral("0001 0003 0401");
const QString ResetXfers = QStringLiteral("0001 0005 0007");
const QString NativeXfer = QStringLiteral("0002 0104 0001");

// Posts a quit request after `ms`, as the window system or a fatal check would.
void QuitAfter(int ms) {
    QTimer::singleShot(ms, qApp,
                       [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); });
}

QSize PictureSize(HGLOBAL dib) {
    TBitmap bitmap;
    DIBToGraphic(dib, bitmap);
    return bitmap.Image().size();
}

} // namespace

TEST_F(TwainTest, AnnouncesItsIdentityInTheStandardLayout) {
    TTwain twain;
    Open(twain);
    QStringList identity;
    for (const QString& line : TakeLog())
        if (line.startsWith(QLatin1String("app ")))
            identity = line.mid(4).split(QLatin1Char(' '));
    ASSERT_EQ(identity.size(), 156);
    QByteArray bytes;
    for (const QString& b : identity)
        bytes.append(static_cast<char>(b.toInt(nullptr, 16)));
    TW_IDENTITY id;
    std::memcpy(&id, bytes.constData(), sizeof id);
    EXPECT_NE(+id.Id, 0u) << "the manager assigned the Id";
    EXPECT_EQ(+id.Version.MajorNum, 1);
    EXPECT_EQ(+id.Version.MinorNum, 0);
    EXPECT_EQ(+id.Version.Language, 6);
    EXPECT_EQ(+id.Version.Country, 49);
    EXPECT_EQ(+id.ProtocolMajor, 1);
    EXPECT_EQ(+id.ProtocolMinor, 6);
    EXPECT_EQ(+id.SupportedGroups, 3u);
    // Every text is "<?>" with the rest of its 34 bytes zero.
    for (std::size_t offset :
         {std::size_t(8 + 4), std::size_t(54), std::size_t(88), std::size_t(122)}) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(bytes.mid(static_cast<int>(offset), 34),
                  QByteArray("<?>") + QByteArray(31, '\0'));
    }
    Close(twain);
}

TEST_F(TwainTest, OperationsInTheWrongStateMakeNoCall) {
    TTwain twain;
    EXPECT_EQ(twain.GetState(), 1);
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_FALSE(twain.EnableSource(nullptr));
    EXPECT_EQ(twain.QueryConditionCode(), 11) << "no call below state 3";
    ASSERT_TRUE(twain.LoadDSM());
    EXPECT_FALSE(twain.OpenSource());
    ASSERT_TRUE(twain.OpenDSM(nullptr));
    EXPECT_FALSE(twain.EnableSource(nullptr));
    EXPECT_TRUE(twain.DisableSource()) << "state 3 is at most 4";
    EXPECT_EQ(twain.GetState(), 3);
    EXPECT_TRUE(twain.OpenDSM(nullptr)) << "state 3 still holds...";
    EXPECT_EQ(twain.LastResultCode(), TWRC_FAILURE) << "...though the manager refused";
    EXPECT_EQ(twain.GetState(), 3);
    EXPECT_FALSE(twain.UnloadDSM());
    EXPECT_EQ(twain.GetErrorKind(), 0);
    EXPECT_TRUE(Calls().filter(OpenDS).isEmpty());
    EXPECT_EQ(m_dialogs.History.size(), 0);
    Close(twain);
}

TEST_F(TwainTest, CloseDSMFromState5DisablesClosesAndEndsIn2) {
    TTwain twain;
    Open(twain);
    ASSERT_TRUE(twain.EnableSource(nullptr));
    EXPECT_EQ(twain.GetState(), 5);
    TakeLog();
    EXPECT_TRUE(twain.CloseDSM(nullptr));
    EXPECT_EQ(twain.GetState(), 2);
    EXPECT_EQ(Calls(), (QStringList{DisableDS, CloseDS}));
    EXPECT_TRUE(twain.UnloadDSM());
}

TEST_F(TwainTest, CheckStatusCountsAsEnabled) {
    Scenario("enable = checkstatus");
    TTwain twain;
    Open(twain);
    EXPECT_TRUE(twain.EnableSource(nullptr));
    EXPECT_EQ(twain.GetState(), 5);
    EXPECT_EQ(twain.LastResultCode(), TWRC_CHECKSTATUS);
    EXPECT_EQ(twain.GetErrorKind(), 0);
    Close(twain);
}

TEST_F(TwainTest, TheFirstRecordedErrorIsKeptAndReported) {
    TTwain twain;
    twain.ShowErrorReport("Nichts passiert.");
    ASSERT_EQ(m_dialogs.History.size(), 1);
    EXPECT_EQ(m_dialogs.LastMessage().Text,
              QStringLiteral(" Nichts passiert.\r [keine Details verfügbar]"));
    EXPECT_EQ(m_dialogs.LastMessage().Caption, QStringLiteral("TWAIN-Fehler:"));
    EXPECT_EQ(m_dialogs.LastMessage().Icon, MsgIcon::Warning);

    Scenario("enable = failure");
    Open(twain);
    EXPECT_FALSE(twain.EnableSource(nullptr));
    EXPECT_EQ(twain.GetState(), 4);
    EXPECT_EQ(twain.GetErrorKind(), 5);
    EXPECT_EQ(twain.GetErrorRC(), 1u);
    EXPECT_EQ(twain.GetErrorCC(), 5u);
    Close(twain);

    // A later failure of another kind, with other codes, leaves the record alone.
    Scenario("open = refuse");
    ASSERT_TRUE(twain.LoadDSM());
    ASSERT_TRUE(twain.OpenDSM(nullptr));
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_EQ(twain.GetErrorKind(), 5);
    EXPECT_EQ(twain.GetErrorCC(), 5u);
    twain.ShowErrorReport("Failed to enable Data Source.");
    EXPECT_EQ(
        m_dialogs.LastMessage().Text,
        QStringLiteral(" Failed to enable Data Source.\r DataSource Operation fehlgeschlagen\r"
                       " RC:   TWRC_FAILURE\r CC:   TWCC_OPERATIONERROR (DS oder DSM meldeten "
                       "Fehler, die Applikation sollte laufen))"));
    Close(twain);
}

TEST_F(TwainTest, AFailedOpenIsRecordedWithTheManagersCodes) {
    Scenario("open = refuse");
    TTwain twain;
    ASSERT_TRUE(twain.LoadDSM());
    ASSERT_TRUE(twain.OpenDSM(nullptr));
    EXPECT_FALSE(twain.OpenSource());
    EXPECT_EQ(twain.GetErrorKind(), 4);
    EXPECT_EQ(twain.GetErrorRC(), 1u);
    EXPECT_EQ(twain.GetErrorCC(), 5u) << "the manager passes the source's condition on";
    Close(twain);
}

TEST_F(TwainTest, FindsVelmorasOwnManagerWithoutTheVariable) {
    qunsetenv("VELMORA_TWAIN_DSM");
    TTwain twain;
    EXPECT_TRUE(twain.LoadDSM());
    EXPECT_TRUE(twain.UnloadDSM());
}

TEST_F(TwainTest, WithoutTheManagerOnlySelectionComplains) {
    qputenv("VELMORA_TWAIN_DSM", "/nonexistent/libvelmora-twaindsm.so");
    TTwain twain;
    EXPECT_FALSE(twain.LoadDSM());
    EXPECT_EQ(twain.GetState(), 1);
    EXPECT_EQ(m_dialogs.History.size(), 0);
    EXPECT_FALSE(twain.SelectImageSource(nullptr));
    EXPECT_EQ(m_dialogs.LastMessage().Text,
              QStringLiteral("Kann Source Manager TWAIN_32.DLLnicht laden"));
    EXPECT_EQ(m_dialogs.LastMessage().Caption, QStringLiteral("TWAIN-Fehler:"));
    EXPECT_EQ(twain.GetState(), 1);
    // The proxy window made for the dialog is gone again.
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_NE(w->windowTitle(), QStringLiteral("Acquire Proxy"));
}

// Only Velmora's manager with a source that can watch the buttons (the SANE bridge) watches them;
// everything else answers false at once, without a notice and without touching the session.
TEST_F(TwainTest, WithoutAWatchingSourceTheButtonsAreNotWatched) {
    const struct {
        const char* what;
        QByteArray manager;
    } cases[] = {
        {"the scripted source has no buttons", TWAIN_DSM},
        {"a foreign manager", SCRIPTED_SOURCE},
        {"no manager", "/nonexistent/libvelmora-twaindsm.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qputenv("VELMORA_TWAIN_DSM", c.manager);
        TTwain twain;
        int notices = 0;
        EXPECT_FALSE(twain.WatchButtons([&](TTwain::ButtonEvent, const QString&) { ++notices; }));
        EXPECT_FALSE(twain.WatchingButtons());
        QCoreApplication::processEvents();
        EXPECT_EQ(notices, 0);
        EXPECT_EQ(twain.GetState(), 1);
        twain.StopButtons();
        EXPECT_EQ(m_dialogs.History.size(), 0);
    }
}

namespace {
int g_choice = -1;
int Choose(void*, const char* const*, int, int) {
    return g_choice;
}
} // namespace

TEST_F(TwainTest, SelectImageSourceReportsTheChoiceAndEndsInState1) {
    auto setDialog =
        ManagerFunction<void (*)(VelmoraDSM_SelectFn, void*)>("VelmoraDSM_SetSelectDialog");
    setDialog(&Choose, nullptr);
    TTwain twain;
    g_choice = -1;
    EXPECT_FALSE(twain.SelectImageSource(nullptr));
    EXPECT_EQ(twain.GetState(), 1);
    EXPECT_EQ(m_dialogs.History.size(), 0) << "cancelling is no error";
    g_choice = 1;
    QWidget window;
    EXPECT_TRUE(twain.SelectImageSource(&window));
    EXPECT_EQ(twain.GetState(), 1);
    setDialog(nullptr, nullptr);

    // The chosen source is the default that OpenSource opens.
    Open(twain);
    Close(twain);
    EXPECT_FALSE(TakeLog().filter(OpenDS).isEmpty());

    QWidget* gone = new QWidget;
    delete gone;
    EXPECT_FALSE(twain.SelectImageSource(gone));
    EXPECT_EQ(m_dialogs.LastMessage().Text,
              QStringLiteral("SelectImageSource: Handle für ProxyWindow is ungültig"));
}

TEST_F(TwainTest, CapabilityContainersOfEveryKind) {
    struct Case {
        const char* scenario;
        std::uint16_t want;
        bool delivered;
        std::uint32_t value; // raw item when delivered
    };
    const std::uint32_t fix300 = 300; // Whole 300 in the first two bytes, Frac 0
    const Case cases[] = {
        {"xres = onevalue 300", TWTY_FIX32, true, fix300},
        {"xres = enum 1 100,300,600", TWTY_FIX32, true, fix300},
        {"xres = enum 3 100,300,600", TWTY_FIX32, false, 0}, // CurrentIndex = NumItems
        {"xres = enum-short", TWTY_FIX32, false, 0},         // the items are not in the block
        {"xres = onevalue-short", TWTY_FIX32, false, 0},
        {"xres = range 50 1200 1 300", TWTY_FIX32, false, 0},
        {"xres = array 100,300", TWTY_FIX32, false, 0},
        {"xres = null", TWTY_FIX32, false, 0},
        {"xres = fail", TWTY_FIX32, false, 0},
        {"xres = onevalue 300\nxres-type = int16", TWTY_FIX32, false, 0},
        {"xres = onevalue 300\nxres-type = int32", TWTY_UINT32, true, 300},
        {"xres = onevalue 300\nxres-type = int16", TWTY_INT32, false, 0},
        {"xres = enum 0 -5,7\nxres-type = int32", TWTY_UINT32, true, 0xFFFFFFFBu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Scenario(c.scenario);
        TTwain twain;
        Open(twain);
        std::uint32_t out = 0xDEADBEEF;
        EXPECT_EQ(twain.GetCapCurr(ICAP_XRESOLUTION, c.want, &out), c.delivered);
        EXPECT_EQ(out, c.delivered ? c.value : 0xDEADBEEF) << "nothing written when refused";
        EXPECT_EQ(twain.GetXResolution(), c.delivered && c.want == TWTY_FIX32 ? 300.0 : 0.0);
        EXPECT_EQ(ManagerLiveBlocks(), m_managerBlocks) << "every container freed";
        Close(twain);
    }
    EXPECT_EQ(m_dialogs.History.size(), 0) << "failures show nothing";
}

TEST_F(TwainTest, SettingTheResolution) {
    Scenario("xres = onevalue 150");
    TTwain twain;
    std::uint32_t out = 0;
    EXPECT_FALSE(twain.GetCapCurr(ICAP_XRESOLUTION, TWTY_FIX32, &out));
    EXPECT_EQ(m_dialogs.LastMessage().Text,
              QStringLiteral("Versuch, Capability unterhalb State 4 (Open) zu erlangen"));
    Open(twain);
    EXPECT_TRUE(twain.SetXResolution(600));
    EXPECT_EQ(twain.GetXResolution(), 600.0);
    ASSERT_TRUE(twain.EnableSource(nullptr));
    EXPECT_EQ(twain.GetXResolution(), 600.0) << "readable in state 5";
    TakeLog();
    const int shown = m_dialogs.History.size();
    EXPECT_FALSE(twain.SetXResolution(300));
    EXPECT_EQ(m_dialogs.History.size(), shown + 1);
    EXPECT_EQ(m_dialogs.LastMessage().Text,
              QStringLiteral("Versuch, Capability außerhalb Status 4 zu setzen ('Open')"));
    EXPECT_TRUE(Calls().isEmpty()) << "nothing was sent";
    Close(twain);

    Scenario("set = refuse");
    Open(twain);
    const int before = m_dialogs.History.size();
    EXPECT_FALSE(twain.SetXResolution(600));
    EXPECT_EQ(m_dialogs.History.size(), before) << "a refusal shows nothing";
    Close(twain);
}

TEST(TwainFix32, ConversionsAndItemTypes) {
    struct Fix {
        double x;
        int whole;
        unsigned frac;
    };
    for (const Fix& f : {Fix{300, 300, 0}, Fix{72.5, 72, 32768}, Fix{0, 0, 0}, Fix{-1, -1, 0},
                         Fix{1e9, 32767, 65535}}) {
        SCOPED_TRACE(f.x);
        const TW_FIX32 v = TTwain::FloatToFix32(f.x);
        EXPECT_EQ(v.Whole, f.whole);
        EXPECT_EQ(v.Frac, f.frac);
    }
    EXPECT_EQ(TTwain::Fix32ToFloat(TW_FIX32{72, 32768}), 72.5);
    EXPECT_EQ(TTwain::Fix32ToFloat(TW_FIX32{-2, 16384}), -1.75);
    EXPECT_TRUE(TTwain::ItemTypesMatch(TWTY_INT32, TWTY_UINT32));
    EXPECT_TRUE(TTwain::ItemTypesMatch(TWTY_UINT8, TWTY_INT8));
    EXPECT_FALSE(TTwain::ItemTypesMatch(TWTY_INT16, TWTY_INT32));
    EXPECT_FALSE(TTwain::ItemTypesMatch(TWTY_BOOL, TWTY_UINT16)) << "a boolean is no integer";
    EXPECT_FALSE(TTwain::ItemTypesMatch(TWTY_FIX32, TWTY_INT32));
    EXPECT_TRUE(TTwain::ItemTypesMatch(TWTY_STR32, TWTY_STR32));
}

TEST_F(TwainTest, ThreePagesArriveInScanOrderAndTheSourceStaysEnabled) {
    for (const char* count : {"exact", "unknown"}) {
        SCOPED_TRACE(count);
        Scenario(std::string("count = ") + count +
                 "\npage = 10x8 24 gradient 300\npage = 20x8 8 gradient 300\npage = 30x8 1 "
                 "gradient 300");
        TTwain twain;
        Open(twain);
        QWidget window;
        bool disabledMeanwhile = false;
        QTimer::singleShot(0, &window, [&] { disabledMeanwhile = !window.isEnabled(); });
        const std::vector<HGLOBAL>* images = twain.AcquireImages(&window);
        ASSERT_NE(images, nullptr);
        ASSERT_EQ(images->size(), 3u);
        EXPECT_EQ(PictureSize((*images)[0]), QSize(10, 8));
        EXPECT_EQ(PictureSize((*images)[1]), QSize(20, 8));
        EXPECT_EQ(PictureSize((*images)[2]), QSize(30, 8));
        EXPECT_EQ(twain.GetState(), 5);
        EXPECT_TRUE(disabledMeanwhile);
        EXPECT_TRUE(window.isEnabled());
        EXPECT_EQ(ManagerLiveBlocks(), m_managerBlocks) << "pages are Velmora's own blocks";
        // A page taken in early is freed once: its place stays, as a null handle.
        const std::size_t blocks = MemBlock::LiveBlocks();
        twain.ReleaseImage(1);
        twain.ReleaseImage(1);
        twain.ReleaseImage(7);
        EXPECT_EQ(MemBlock::LiveBlocks(), blocks - 1);
        ASSERT_EQ(images->size(), 3u);
        EXPECT_EQ((*images)[1], nullptr);
        EXPECT_EQ(PictureSize((*images)[2]), QSize(30, 8));
        twain.FreeImages();
        EXPECT_EQ(MemBlock::LiveBlocks(), blocks - 3);
        twain.FreeImages();
        twain.ReleaseImage(0);
        Close(twain);
    }
}

TEST_F(TwainTest, ClosingTheDialogGivesAnEmptyListInState4) {
    Scenario("closereq = yes\npage = 10x10 24 gradient 300");
    TTwain twain;
    Open(twain);
    const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
    ASSERT_NE(images, nullptr);
    EXPECT_TRUE(images->empty());
    EXPECT_EQ(twain.GetState(), 4);
    Close(twain);
}

TEST_F(TwainTest, ACancelledFirstPageKeepsTheLoopWaiting) {
    Scenario("cancel-at = 1\npage = 10x10 24 gradient 300\npage = 12x10 24 gradient 300");
    TTwain twain;
    Open(twain);
    TakeLog();
    const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
    ASSERT_NE(images, nullptr);
    // The cancel reset the batch; the loop went on until the user scanned again.
    ASSERT_EQ(images->size(), 2u);
    EXPECT_EQ(PictureSize((*images)[0]), QSize(10, 10));
    const QStringList calls = Calls();
    EXPECT_EQ(calls.count(ResetXfers), 1);
    EXPECT_EQ(calls.count(NativeXfer), 3);
    twain.FreeImages();
    Close(twain);
}

TEST_F(TwainTest, AFailedPageEndsTheBatchWithThePagesBeforeIt) {
    Scenario("fail-at = 2\npage = 10x10 24 gradient 300\npage = 12x10 24 gradient 300\npage = "
             "14x10 24 gradient 300");
    TTwain twain;
    Open(twain);
    const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->size(), 1u);
    EXPECT_EQ(twain.GetState(), 5);
    EXPECT_EQ(m_dialogs.History.size(), 0);
    twain.FreeImages();
    Close(twain);
}

TEST_F(TwainTest, AFailedEnableReportsAndGivesNoList) {
    Scenario("enable = failure");
    TTwain twain;
    Open(twain);
    QWidget window;
    EXPECT_EQ(twain.AcquireImages(&window), nullptr);
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(m_dialogs.LastMessage().Text.startsWith(
        QStringLiteral(" Failed to enable Data Source.\r")));
    Close(twain);
}

TEST_F(TwainTest, AQuitRequestEndsTheLoop) {
    Scenario("ready = no\npage = 10x10 24 gradient 300");
    TTwain twain;
    Open(twain);
    QuitAfter(100);
    const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
    ASSERT_NE(images, nullptr);
    EXPECT_TRUE(images->empty());
    EXPECT_EQ(twain.GetState(), 5);
    Close(twain);
}

// A source that refuses MSG_ENDXFER and MSG_RESET is given up; when it refuses MSG_CLOSEDS as
// well, a manager like the official one keeps it open, and only closing the manager lets go of
// it. Either way the session ends in state 1 and the next acquisition works.
TEST_F(TwainTest, ASourceRefusingEndAndResetIsGivenUpAndTheNextAcquisitionWorks) {
    struct Case {
        const char* manager;
        const char* refused;
    };
    for (const Case& c :
         {Case{TWAIN_DSM, "endxfer reset"}, Case{TWAIN_DSM, "endxfer reset closeds"},
          Case{TWAIN_DSM_OFFICIAL, "endxfer reset"},
          Case{TWAIN_DSM_OFFICIAL, "endxfer reset closeds"}}) {
        SCOPED_TRACE(std::string(c.manager) + ": " + c.refused);
        qputenv("VELMORA_TWAIN_DSM", c.manager);
        m_dialogs.History.clear();
        TakeLog();
        Scenario(std::string("refuse = ") + c.refused +
                 "\npage = 10x10 24 gradient 300\npage = 12x10 24 gradient 300");
        TTwain twain;
        Open(twain);
        const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
        ASSERT_NE(images, nullptr);
        EXPECT_EQ(images->size(), 1u) << "the page that arrived is kept";
        EXPECT_EQ(twain.GetState(), 4);
        EXPECT_TRUE(twain.SourceGivenUp());
        // The refused MSG_ENDXFER left the session in state 7, which the next pass reports.
        EXPECT_EQ(m_dialogs.Count(DialogRecorder::Shown::Message), 1);
        EXPECT_EQ(m_dialogs.LastMessage().Text,
                  QStringLiteral("Status <> 6\rProgramm wird beendet"));
        EXPECT_EQ(Calls().count(NativeXfer), TTwain::MaxStuckTransferPasses);
        twain.FreeImages();
        Close(twain);
        EXPECT_FALSE(twain.SourceGivenUp());
        QCoreApplication::removePostedEvents(qApp, QEvent::Quit);

        Scenario("page = 10x10 24 gradient 300");
        Open(twain);
        images = twain.AcquireImages(nullptr);
        ASSERT_NE(images, nullptr);
        EXPECT_EQ(images->size(), 1u);
        twain.FreeImages();
        Close(twain);
    }
}

// An error raised in the middle of a transfer (state 7) leaves the acquisition; the session
// watching it still ends the transfers, closes the source and the manager, and the next
// acquisition works.
TEST_F(TwainTest, AnErrorDuringATransferStillClosesTheSession) {
    // The report of an unreadable page fails, as a message box can when memory runs out.
    struct FailingBox final : Dialogs {
        explicit FailingBox(DialogRecorder& recorder) : m_recorder(recorder) { Install(this); }
        ~FailingBox() override { Install(&m_recorder); }
        int Message(QWidget*, const MessageRequest&) override {
            throw std::runtime_error("no box");
        }
        bool OpenFile(QWidget*, FileDialogRequest&) override { return false; }
        bool SaveFile(QWidget*, FileDialogRequest&) override { return false; }
        bool ChooseColor(QWidget*, QColor&) override { return false; }
        bool PrinterSetup(QWidget*, QPrinter&, const QString&) override { return false; }
        DialogRecorder& m_recorder;
    };
    Scenario("dib = garbage\npage = 10x10 24 gradient 300\npage = 12x10 24 gradient 300");
    TTwain twain;
    bool raised = false;
    {
        FailingBox failing(m_dialogs);
        try {
            TTwainSession session(twain, nullptr);
            Open(twain);
            twain.AcquireImages(nullptr);
        } catch (const std::runtime_error&) {
            raised = true;
        }
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(twain.GetState(), 1);
    const QStringList calls = Calls();
    EXPECT_TRUE(calls.contains(ResetXfers)) << "the page still pending is discarded";
    EXPECT_TRUE(calls.contains(DisableDS));
    EXPECT_TRUE(calls.contains(CloseDS));

    Scenario("page = 10x10 24 gradient 300");
    Open(twain);
    const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->size(), 1u);
    twain.FreeImages();
    Close(twain);
}

TEST_F(TwainTest, NativeImageVariantsAreReadOrRejected) {
    struct Case {
        const char* dib;
        bool accepted;
    };
    for (const Case& c : {Case{"normal", true}, Case{"sizeimage0", true}, Case{"clrused0", true},
                          Case{"topdown", true}, Case{"tiff", true}, Case{"tiny", false},
                          Case{"garbage", false}, Case{"null", false}}) {
        for (int depth : {1, 8, 24}) {
            SCOPED_TRACE(std::string(c.dib) + " " + std::to_string(depth));
            Scenario(std::string("dib = ") + c.dib + "\npage = 17x5 " + std::to_string(depth) +
                     " gradient 300");
            TTwain twain;
            Open(twain);
            const int shown = m_dialogs.History.size();
            if (!c.accepted)
                QuitAfter(200); // nothing usable arrives, so the loop would wait on
            const std::vector<HGLOBAL>* images = twain.AcquireImages(nullptr);
            ASSERT_NE(images, nullptr);
            if (c.accepted) {
                ASSERT_EQ(images->size(), 1u);
                TBitmap bitmap;
                DIBToGraphic((*images)[0], bitmap);
                const QImage image = bitmap.Image();
                ASSERT_EQ(image.size(), QSize(17, 5));
                // Left column dark, right column bright, whichever way the rows were stored.
                EXPECT_LT(qRed(image.pixel(0, 0)), 64);
                EXPECT_GT(qRed(image.pixel(16, 0)), 192);
                EXPECT_EQ(m_dialogs.History.size(), shown);
            } else {
                EXPECT_TRUE(images->empty());
                EXPECT_EQ(m_dialogs.LastMessage().Text,
                          QStringLiteral("Die Datenquelle hat ein ungültiges Bild geliefert."));
                EXPECT_EQ(twain.GetState(), 5);
            }
            twain.FreeImages();
            Close(twain);
        }
    }
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The scanner's own buttons watched below Velmora: TTwain, Velmora's manager and the SANE bridge
// on the project's button scanner (tests/support/sane-velmoratest.c). A press is a counter in
// the scanner's button file counted up; another program's claim on the scanner is scanimage.

#include "dsm/sane/SaneBridge.h"
#include "twain/Twain.h"
#include "twain/twainh.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <vector>

namespace {

using Event = TTwain::ButtonEvent;

struct Notice {
    Event event;
    QString detail;
};

std::vector<std::string> bridgeMessages;
void BridgeMessage(void*, const char* text) {
    bridgeMessages.emplace_back(text);
}

class ButtonWatch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        qputenv("VELMORA_TWAIN_SOURCES", SANE_SOURCES);
        qputenv("VELMORA_TEST_BUTTON", QFile::encodeName(ButtonFile()));
        qunsetenv("VELMORA_TEST_BUTTON_NONE");
        qunsetenv("VELMORA_TEST_BUTTON_HELD");
        WriteCounters();
        // The bridge's messages would be message boxes; the test reads them instead.
        void* bridge = dlopen(SANE_SOURCE, RTLD_NOW | RTLD_NODELETE);
        ASSERT_NE(bridge, nullptr) << dlerror();
        auto hook = reinterpret_cast<void (*)(VelmoraSane_MessageFn, void*)>(
            dlsym(bridge, "VelmoraSane_SetMessageHook"));
        ASSERT_TRUE(hook);
        hook(BridgeMessage, nullptr);
        bridgeMessages.clear();
    }

    void TearDown() override { twain.StopButtons(); }

    QString ButtonFile() const { return dir.filePath(QStringLiteral("buttons")); }

    void WriteCounters() {
        QFile file(ButtonFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const auto& [name, count] : counters)
            file.write(QStringLiteral("%1 %2\n").arg(name).arg(count).toUtf8());
    }

    void Press(const QString& button) {
        ++counters[button];
        WriteCounters();
    }

    bool Watch(std::vector<Notice>* into) {
        return twain.WatchButtons([into](Event event, const QString& detail) {
            into->push_back({event, detail});
        });
    }

    static bool WaitFor(const std::function<bool()>& done, int milliseconds) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > milliseconds)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    static int Count(const std::vector<Notice>& list, Event event) {
        int n = 0;
        for (const Notice& notice : list)
            n += notice.event == event;
        return n;
    }

    // Whether another program can open the scanner now.
    static bool DeviceFree() {
        QProcess scanimage;
        scanimage.start(
            QStringLiteral("scanimage"),
            {QStringLiteral("-d"), QStringLiteral("velmoratest:0"), QStringLiteral("-n")});
        return scanimage.waitForFinished(10000) && scanimage.exitStatus() == QProcess::NormalExit &&
               scanimage.exitCode() == 0;
    }

    QTemporaryDir dir;
    std::map<QString, int> counters{{QStringLiteral("copy"), 0}, {QStringLiteral("email"), 0}};
    TTwain twain;
    std::vector<Notice> notices;
};

// A backend that reports the state: a button held down reads pressed at every poll, and a
// button held as the watch starts is no press.
TEST_F(ButtonWatch, AHeldButtonIsOnePress) {
    qputenv("VELMORA_TEST_BUTTON_HELD", "1");
    counters[QStringLiteral("copy")] = 1; // down
    WriteCounters();
    ASSERT_TRUE(Watch(&notices));
    ASSERT_TRUE(WaitFor([&] { return Count(notices, Event::Watching) == 1; }, 10000));
    struct Step {
        const char* what;
        int pressed;
    };
    const Step steps[] = {{"release", 0}, {"press", 1}, {"release", 0}, {"press", 1}};
    int expected = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Press(QStringLiteral("copy"));
        expected += step.pressed;
        WaitFor([] { return false; }, 700);
        EXPECT_EQ(Count(notices, Event::Pressed), expected);
    }
    qunsetenv("VELMORA_TEST_BUTTON_HELD");
}

TEST_F(ButtonWatch, APressOfAWatchReplacedOrStoppedIsNotDelivered) {
    std::vector<Notice> first, second;
    ASSERT_TRUE(Watch(&first));
    ASSERT_TRUE(WaitFor([&] { return Count(first, Event::Watching) == 1; }, 10000));
    // The press is seen and its notice queued while the GUI thread looks away.
    Press(QStringLiteral("copy"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(Watch(&second));
    EXPECT_TRUE(WaitFor([&] { return Count(second, Event::Watching) == 1; }, 10000));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(Count(first, Event::Pressed), 0);
    EXPECT_EQ(Count(second, Event::Pressed), 0);

    Press(QStringLiteral("copy"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    twain.StopButtons();
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(Count(second, Event::Pressed), 0);
}

TEST_F(ButtonWatch, WithoutAScannerTheWatchSaysSo) {
    // The backend offers no device without its button file.
    qunsetenv("VELMORA_TEST_BUTTON");
    ASSERT_TRUE(Watch(&notices));
    ASSERT_TRUE(WaitFor([&] { return !notices.empty(); }, 10000));
    EXPECT_EQ(notices.front().event, Event::NoDevice);
    EXPECT_FALSE(notices.front().detail.isEmpty());
    EXPECT_FALSE(twain.WatchingButtons());
}

TEST_F(ButtonWatch, OpeningTheSourceEndsTheWatch) {
    ASSERT_TRUE(Watch(&notices));
    ASSERT_TRUE(WaitFor([&] { return Count(notices, Event::Watching) == 1; }, 10000));

    void* lib = dlopen(TWAIN_DSM, RTLD_NOW | RTLD_NODELETE);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto entry = reinterpret_cast<DSMENTRYPROC>(dlsym(lib, "DSM_Entry"));
    ASSERT_TRUE(entry);
    TW_IDENTITY app{};
    std::strcpy(app.ProductName, "Test");
    void* parent = nullptr;
    ASSERT_EQ(entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
    TW_IDENTITY source{}; // the default source
    EXPECT_EQ(entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    EXPECT_TRUE(bridgeMessages.empty()) << bridgeMessages.front();
    EXPECT_FALSE(DeviceFree());
    // A press while the source has the scanner is no watch's business.
    Press(QStringLiteral("copy"));
    WaitFor([] { return false; }, 400);
    EXPECT_EQ(entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_SUCCESS);
    EXPECT_EQ(Count(notices, Event::Pressed), 0);
    EXPECT_TRUE(WaitFor(DeviceFree, 2000));

    // Watched again once the source is closed.
    notices.clear();
    ASSERT_TRUE(Watch(&notices));
    ASSERT_TRUE(WaitFor([&] { return !notices.empty(); }, 10000));
    EXPECT_EQ(notices.front().event, Event::Watching);
    Press(QStringLiteral("copy"));
    EXPECT_TRUE(WaitFor([&] { return Count(notices, Event::Pressed) == 1; }, 1000));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

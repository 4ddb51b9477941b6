// SIGTERM and SIGHUP reach the program as a call from its event loop, once per signal, however
// many arrive at once; the signals' earlier handling comes back when the catcher goes.

#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// Runs the event loop until `count` signals were handed over, or a second has passed.
void ProcessUntil(const std::vector<int>& received, std::size_t count) {
    QElapsedTimer timer;
    timer.start();
    while (received.size() < count && timer.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

sighandler_t CurrentHandler(int number) {
    struct sigaction now {};
    sigaction(number, nullptr, &now);
    return now.sa_handler;
}

} // namespace

TEST(TerminationSignals, EachSignalReachesTheEventLoopAndTheOldHandlingReturns) {
    for (int number : QuitSignals())
        std::signal(number, SIG_IGN);
    {
        std::vector<int> received;
        TTerminationSignals catcher([&](int number) { received.push_back(number); }, QuitSignals());
        ASSERT_TRUE(catcher.IsActive());
        EXPECT_FALSE(TTerminationSignals([](int) {}, QuitSignals()).IsActive())
            << "one catcher at a time";

        // Nothing runs inside the handler itself: the call waits for the event loop.
        std::raise(SIGTERM);
        std::raise(SIGHUP);
        std::raise(SIGTERM);
        EXPECT_TRUE(received.empty());
        ProcessUntil(received, 3);
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP, SIGTERM}));
    }
    for (int number : QuitSignals())
        EXPECT_EQ(CurrentHandler(number), SIG_IGN);
    std::raise(SIGTERM); // ignored again: the test goes on

    // A second catcher after the first works as well.
    std::vector<int> received;
    TTerminationSignals catcher([&](int number) { received.push_back(number); }, {SIGHUP});
    ASSERT_TRUE(catcher.IsActive());
    std::raise(SIGHUP);
    ProcessUntil(received, 1);
    EXPECT_EQ(received, std::vector<int>{SIGHUP});
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

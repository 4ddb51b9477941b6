#include "app/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end and the read end of the socket pair; -1 while no instance is active. The
// handler reads only the first, which is set before any handler is installed.
volatile sig_atomic_t g_writeEnd = -1;
int g_readEnd = -1;

extern "C" void OnQuitSignal(int number) {
    const int saved = errno;
    const int fd = g_writeEnd;
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        // A full socket means earlier signals are still unread: this one adds nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

bool NonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

std::vector<int> QuitSignals() {
    return {SIGTERM, SIGHUP};
}

TTerminationSignals::TTerminationSignals(Callback OnSignal, const std::vector<int>& Signals)
    : m_onSignal(std::move(OnSignal)) {
    if (g_writeEnd >= 0)
        return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return;
    if (!NonBlocking(fds[0]) || !NonBlocking(fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    g_writeEnd = fds[0];
    g_readEnd = fds[1];
    m_notifier = std::make_unique<QSocketNotifier>(g_readEnd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { Drain(); });

    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // System calls the signal interrupts go on; the event loop learns of it from the socket.
    action.sa_flags = SA_RESTART;
    for (int number : Signals) {
        struct sigaction previous {};
        if (::sigaction(number, &action, &previous) == 0) {
            m_signals.push_back(number);
            m_previous.push_back(previous);
        }
    }
}

TTerminationSignals::~TTerminationSignals() {
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < m_signals.size(); ++i)
        ::sigaction(m_signals[i], &m_previous[i], nullptr);
    m_notifier.reset();
    const int writeEnd = g_writeEnd;
    g_writeEnd = -1;
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void TTerminationSignals::Drain() {
    unsigned char received[16];
    ssize_t count;
    while ((count = ::read(g_readEnd, received, sizeof received)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            if (m_onSignal)
                m_onSignal(received[i]);
}

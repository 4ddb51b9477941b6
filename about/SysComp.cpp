#include "about/SysComp.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define VELMORA_HAVE_TSC 1
#endif

std::optional<TMemoryStatus> ParseMemInfo(const QByteArray& Text) {
    // Lines read "MemAvailable:   12345678 kB".
    std::optional<std::uint64_t> total, available, free, buffers, cached, swapTotal, swapFree;
    for (const QByteArray& line : Text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QList<QByteArray> words = line.mid(colon + 1).simplified().split(' ');
        bool ok = false;
        std::uint64_t value = words.value(0).toULongLong(&ok);
        if (!ok)
            continue;
        if (words.size() > 1 && words[1] == "kB")
            value *= 1024;
        if (name == "MemTotal")
            total = value;
        else if (name == "MemAvailable")
            available = value;
        else if (name == "MemFree")
            free = value;
        else if (name == "Buffers")
            buffers = value;
        else if (name == "Cached")
            cached = value;
        else if (name == "SwapTotal")
            swapTotal = value;
        else if (name == "SwapFree")
            swapFree = value;
    }
    if (!total || *total == 0)
        return std::nullopt;
    TMemoryStatus status;
    status.TotalPhys = *total;
    // Kernels before 3.14 lack MemAvailable; free memory plus buffers and page cache is the
    // figure it replaced.
    status.AvailPhys =
        available ? *available : free.value_or(0) + buffers.value_or(0) + cached.value_or(0);
    status.AvailPhys = std::min(status.AvailPhys, status.TotalPhys);
    status.TotalPageFile = swapTotal.value_or(0);
    status.AvailPageFile = swapFree.value_or(0);
    const double used = double(status.TotalPhys - status.AvailPhys) / double(status.TotalPhys);
    status.MemoryLoad = std::clamp(int(used * 100.0 + 0.5), 0, 100);
    return status;
}

// Measures the clock on a thread of its own. A measurement waits on a condition variable
// instead of sleeping, so that the owner's destructor can cut it short and closing the about
// box never waits for the half second.
class TSystem::ClockMeter {
public:
    ~ClockMeter() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    double Mhz() {
#ifdef VELMORA_HAVE_TSC
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            // The last measurement has finished its work; joining it does not wait.
            if (m_thread.joinable())
                m_thread.join();
            m_running = true;
            m_thread = std::thread([this] { Measure(); });
        }
        return m_last;
#else
        return -1;
#endif
    }

private:
#ifdef VELMORA_HAVE_TSC
    // True when the wait ran its full length, false when the owner is going away.
    bool Wait(std::chrono::milliseconds span) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return !m_wake.wait_for(lock, span, [this] { return m_stop; });
    }

    void Measure() {
        using Clock = std::chrono::steady_clock;
        double mhz = -1;
        if (Wait(std::chrono::milliseconds(10))) {
            const Clock::time_point start = Clock::now();
            const std::uint64_t first = __rdtsc();
            if (Wait(std::chrono::milliseconds(500))) {
                const std::uint64_t last = __rdtsc();
                // The ticks are divided by the time really passed: on a busy machine the
                // thread wakes late, and dividing by the nominal half second would report a
                // clock that is too fast.
                const double micros =
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                if (micros > 0 && last > first)
                    mhz = double(last - first) / micros;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (mhz > 0)
            m_last = mhz;
        m_running = false;
    }
#endif

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_running = false;
    bool m_stop = false;
    double m_last = -1;
};

TSystem::TSystem(QObject* Owner, QString MemInfoFile)
    : QObject(Owner), m_memInfoFile(std::move(MemInfoFile)),
      m_clock(std::make_unique<ClockMeter>()) {
    if (Owner)
        Owner->installEventFilter(this);
}

TSystem::~TSystem() = default;

std::optional<TMemoryStatus> TSystem::Status() const {
    QFile file(m_memInfoFile);
    // /proc files report size 0: read until the end instead of by size.
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ParseMemInfo(file.readAll());
}

std::uint64_t TSystem::AvailPhysMemory() const {
    const auto status = Status();
    return status ? status->AvailPhys : 0;
}

std::uint64_t TSystem::AvailPageFile() const {
    const auto status = Status();
    return status ? status->AvailPageFile : 0;
}

int TSystem::MemoryLoad() const {
    const auto status = Status();
    return status ? status->MemoryLoad : 0;
}

double TSystem::Mhz() {
    return m_clock->Mhz();
}

bool TSystem::eventFilter(QObject* watched, QEvent* event) {
    if (watched != parent())
        return false;
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!drag->mimeData()->hasUrls())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    if (event->type() != QEvent::Drop)
        return false;
    auto* drop = static_cast<QDropEvent*>(event);
    if (!drop->mimeData()->hasUrls())
        return false;
    DroppedFiles.clear();
    for (const QUrl& url : drop->mimeData()->urls())
        DroppedFiles << (url.isLocalFile() ? url.toLocalFile() : url.toString());
    drop->acceptProposedAction();
    // The filter runs inside Qt's event delivery: no error of the handler may leave it.
    try {
        if (OnDropFiles)
            OnDropFiles(*this);
    } catch (...) {
        if (OnHandlerError)
            OnHandlerError();
        else
            qWarning("TSystem: error in the drop handler");
    }
    return true;
}

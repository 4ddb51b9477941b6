#pragma once
// The system figures of the about box: free memory and swap, memory load and the processor
// clock. The memory figures are read from the kernel on every access. The clock is measured
// with the processor's time-stamp counter over half a second on a worker thread of its own, so
// the caller (the about box, ten times a second) never waits for it: Mhz() answers the last
// figure at once and starts the next measurement in the background.
//
// Created with an owner window, the object also takes the files dropped on that window: it
// collects their names and calls OnDropFiles when that is set, so a window without a drop
// handler accepts drops and ignores them.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// Memory figures in bytes, as the kernel reports them.
struct TMemoryStatus {
    std::uint64_t TotalPhys = 0;
    std::uint64_t AvailPhys = 0;
    std::uint64_t TotalPageFile = 0;
    std::uint64_t AvailPageFile = 0;
    // Percent of the physical memory in use, 0 to 100.
    int MemoryLoad = 0;
};

// Reads the text of /proc/meminfo; no value when MemTotal is missing or zero. Available
// memory is "MemAvailable", or on kernels without it free memory plus buffers and page cache.
std::optional<TMemoryStatus> ParseMemInfo(const QByteArray& Text);

class TSystem : public QObject {
    Q_OBJECT

public:
    // MemInfoFile is read for every memory figure; tests hand in a file of their own.
    explicit TSystem(QObject* Owner = nullptr,
                     QString MemInfoFile = QStringLiteral("/proc/meminfo"));
    ~TSystem() override;

    // Available physical memory and swap space in bytes; 0 when the kernel's figures cannot be
    // read.
    std::uint64_t AvailPhysMemory() const;
    std::uint64_t AvailPageFile() const;
    int MemoryLoad() const;

    // The last measured processor clock in MHz; -1 until the first measurement is done and on
    // processors without a time-stamp counter. Starts a new measurement unless one is running.
    double Mhz();

    // Names of the files last dropped on the owner window.
    QStringList DroppedFiles;
    // Runs inside Qt's event delivery; an error escaping it is handed to OnHandlerError.
    std::function<void(TSystem&)> OnDropFiles;
    // Called inside the catch block when OnDropFiles fails: the window using TSystem installs
    // its error report here (TSystem itself knows no window). Unset, the error is logged.
    std::function<void()> OnHandlerError;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<TMemoryStatus> Status() const;

    QString m_memInfoFile;
    class ClockMeter;
    std::unique_ptr<ClockMeter> m_clock;
};

#pragma once
// Velmora's one connection to SANE. A worker thread owns the whole SANE session: sane_init,
// device listing, open, options, start, read, close and sane_exit all run on it, because
// backends are not thread-safe. Only Cancel() calls into SANE from the caller's thread
// (sane_cancel is the one call SANE allows from elsewhere, e.g. a signal handler).
//
// All methods but ScanPage block until the worker has answered. ScanPage returns at once with a
// job that the worker fills in; the caller waits on it (or gets told through its notifier), so
// no scan ever runs on the caller's thread.

#include "dsm/sane/SanePage.h"
#include "dsm/sane/SaneTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sanebridge {

// One page being scanned on the worker.
class PageJob {
public:
    enum class Phase { Starting, Reading, Done };

    Phase CurrentPhase() const;
    // Status of sane_start once the phase is past Starting; the page's final status when Done.
    Status Result() const;
    // The page's DIB once Done with Good (ownership passes to the caller; nullptr afterwards).
    void* TakeDib();
    // Waits until the job has reached `phase`; false on timeout.
    bool WaitFor(Phase phase, int milliseconds) const;
    // Lines read so far and expected (0 when unknown), for a progress bar.
    void Progress(long long* done, long long* total) const;
    // Called on the worker thread at every phase change, with the job's lock held; must not
    // block, throw or look at the job. SetNotifier(nullptr) stops the notices for good.
    void SetNotifier(std::function<void()> notifier);
    // The resolution the page is scanned at in dpi, horizontal and vertical, once past
    // Starting (0 where the device has no resolution option); the DIB's header says the same.
    void Resolution(double* x, double* y) const;
    // A preview's lines as they arrive (other jobs keep none): appends the rows from `from` up
    // to those complete now to `pixels` as 0xffRRGGBB, top down, and returns how many rows are
    // complete. `width` is the page's width in pixels and `height` the rows it will have
    // (0 while unknown, or for a device that does not say).
    long long CopyLines(long long from, std::vector<std::uint32_t>* pixels, int* width,
                        long long* height) const;

    struct State;
    explicit PageJob(std::shared_ptr<State> state) : m_state(std::move(state)) {}

private:
    std::shared_ptr<State> m_state;
};

class SaneSession {
public:
    explicit SaneSession(DibMemory memory);
    // Closes the device and calls sane_exit on the worker, then ends the thread. A scan still
    // running is cancelled first.
    ~SaneSession();
    SaneSession(const SaneSession&) = delete;
    SaneSession& operator=(const SaneSession&) = delete;

    // sane_init's result.
    Status InitStatus() const;

    // Every device SANE finds (asks the backends again on each call).
    std::vector<Device> Devices();

    Status Open(const std::string& deviceName);
    void Close();
    bool IsOpen() const;
    std::string DeviceName() const;

    std::vector<OptionDesc> Options();
    // The first value of each of the options at `indices` (OptionDesc::index), and only of
    // those: the button watch asks several times a second, and reading every option would keep
    // the device busy. Empty where the value cannot be read.
    std::vector<std::optional<double>> ReadValues(const std::vector<int>& indices);
    SetResult SetOption(const std::string& name, double value);
    SetResult SetOption(const std::string& name, const std::string& value);

    // Sets the resolution option (snapped to its constraint) and reports the value the device
    // really holds afterwards (read back), in dpi.
    Status SetResolution(double dpi, double* actual);
    double Resolution(); // 0 without such an option

    // Whether the selected source is a document feeder (every page of a batch is wanted).
    bool FeederSelected();

    // Starts the next page of the batch on the worker: sane_start, then the frames. A page after
    // the first of a feeder batch continues the batch (no sane_cancel in between).
    PageJob ScanPage();
    // A quick scan of the whole bed for the scanner dialog's preview: the device's lowest
    // resolution at or above 50 dpi (its highest when all are lower), colour where offered, 8
    // bits, the whole area, SANE's "preview" option on. Its lines can be read as they arrive
    // (PageJob::CopyLines). Every option the preview changed holds its former value again
    // before the session does anything else, cancelled or failed preview alike.
    PageJob ScanPreview();
    // Ends the batch (sane_cancel on the worker, after the job has finished).
    void EndBatch();
    // Stops a running scan at once from any thread; its job ends with Cancelled.
    void Cancel();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace sanebridge

#include "dsm/sane/SaneSession.h"

#include "dsm/sane/Resolution.h"

#include <sane/sane.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace sanebridge {

namespace {

Status FromSane(SANE_Status s) {
    if (s >= SANE_STATUS_GOOD && s <= SANE_STATUS_ACCESS_DENIED)
        return static_cast<Status>(s);
    return Status::IoError;
}

FrameFormat FormatOf(SANE_Frame f) {
    switch (f) {
    case SANE_FRAME_RGB:
        return FrameFormat::Rgb;
    case SANE_FRAME_RED:
        return FrameFormat::Red;
    case SANE_FRAME_GREEN:
        return FrameFormat::Green;
    case SANE_FRAME_BLUE:
        return FrameFormat::Blue;
    default:
        return FrameFormat::Gray;
    }
}

OptionUnit UnitOf(SANE_Unit u) {
    switch (u) {
    case SANE_UNIT_PIXEL:
        return OptionUnit::Pixel;
    case SANE_UNIT_BIT:
        return OptionUnit::Bit;
    case SANE_UNIT_MM:
        return OptionUnit::Mm;
    case SANE_UNIT_DPI:
        return OptionUnit::Dpi;
    case SANE_UNIT_PERCENT:
        return OptionUnit::Percent;
    case SANE_UNIT_MICROSECOND:
        return OptionUnit::Microsecond;
    default:
        return OptionUnit::None;
    }
}

const char* Text(SANE_String_Const s) {
    return s ? s : "";
}

} // namespace

std::string StatusMessage(Status status) {
    switch (status) {
    case Status::Good:
    case Status::Cancelled:
        return {};
    case Status::Unsupported:
        return "Der Scanner unterstützt diesen Vorgang nicht.";
    case Status::DeviceBusy:
        return "Der Scanner ist belegt. Bitte versuchen Sie es später noch einmal.";
    case Status::Inval:
        return "Der Scanner hat die Einstellungen abgelehnt.";
    case Status::Eof:
        return "Der Scanner hat keine Bilddaten geliefert.";
    case Status::Jammed:
        return "Papierstau im Vorlageneinzug. Bitte beseitigen Sie den Stau und scannen Sie "
               "erneut.";
    case Status::NoDocs:
        return "Der Vorlageneinzug ist leer. Bitte legen Sie die Vorlagen ein.";
    case Status::CoverOpen:
        return "Die Abdeckung des Scanners ist offen. Bitte schließen Sie sie.";
    case Status::IoError:
        return "Der Scanner antwortet nicht (Ein-/Ausgabefehler). Bitte prüfen Sie die "
               "Verbindung zum Scanner.";
    case Status::NoMem:
        return "Nicht genug Speicher für den Scan.";
    case Status::AccessDenied:
        return "Der Zugriff auf den Scanner wurde verweigert.";
    case Status::BadData:
        return "Der Scanner hat Bilddaten geliefert, die Velmora nicht lesen kann.";
    }
    return {};
}

const char* StatusName(Status status) {
    if (status == Status::BadData)
        return "unreadable image data";
    return sane_strstatus(static_cast<SANE_Status>(status));
}

// ---- PageJob ------------------------------------------------------------------------------

struct PageJob::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Phase phase = Phase::Starting;
    Status status = Status::Good;
    void* dib = nullptr;
    DibMemory memory{};
    std::function<void()> notifier;
    std::atomic<long long> done{0}, total{0};
    double dpiX = 0, dpiY = 0; // under `mutex`
    // A preview's rows so far, top down, as 0xffRRGGBB (under `mutex`). Whether a job keeps
    // them is fixed before it reaches the worker; only the worker appends.
    bool keepLines = false;
    int lineWidth = 0;
    long long lineHeight = 0;
    std::vector<std::uint32_t> lines;

    ~State() {
        if (dib)
            memory.release(dib);
    }
    void Advance(Phase p, Status s, void* page = nullptr) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            phase = p;
            status = s;
            if (page)
                dib = page;
            // Under the lock: once SetNotifier(nullptr) has returned, no notice is on its way to
            // a receiver that may be gone.
            if (notifier)
                notifier();
        }
        changed.notify_all();
    }
};

PageJob::Phase PageJob::CurrentPhase() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->phase;
}

Status PageJob::Result() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->status;
}

void* PageJob::TakeDib() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    void* dib = m_state->dib;
    m_state->dib = nullptr;
    return dib;
}

bool PageJob::WaitFor(Phase phase, int milliseconds) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [&] { return m_state->phase >= phase; });
}

void PageJob::Progress(long long* done, long long* total) const {
    *done = m_state->done;
    *total = m_state->total;
}

void PageJob::SetNotifier(std::function<void()> notifier) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->notifier = std::move(notifier);
}

void PageJob::Resolution(double* x, double* y) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    *x = m_state->dpiX;
    *y = m_state->dpiY;
}

long long PageJob::CopyLines(long long from, std::vector<std::uint32_t>* pixels, int* width,
                             long long* height) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const int w = m_state->lineWidth;
    const long long rows = w > 0 ? static_cast<long long>(m_state->lines.size()) / w : 0;
    if (width)
        *width = w;
    if (height)
        *height = m_state->lineHeight;
    if (pixels && from >= 0 && from < rows)
        pixels->insert(pixels->end(), m_state->lines.begin() + from * w, m_state->lines.end());
    return rows;
}

// ---- the worker ---------------------------------------------------------------------------

struct SaneSession::Impl {
    DibMemory memory;
    std::thread worker;
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    Status initStatus = Status::Good;

    // Worker-only state.
    SANE_Handle handle = nullptr;
    std::string deviceName;
    bool batchOpen = false;

    // Shared with Cancel(): the handle a scan is running on, nullptr between scans.
    std::mutex cancelMutex;
    SANE_Handle scanning = nullptr;
    std::atomic<bool> cancelRequested{false};

    void Loop() {
        SANE_Int version = 0;
        initStatus = FromSane(sane_init(&version, nullptr));
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(queueMutex);
                queueChanged.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty())
                    break;
                task = std::move(queue.front());
                queue.pop_front();
            }
            task();
        }
        CloseDevice();
        sane_exit();
    }

    void Post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            queue.push_back(std::move(task));
        }
        queueChanged.notify_one();
    }

    template <class F> auto Run(F f) -> decltype(f()) {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        Post([&task] { task(); });
        return result.get();
    }

    void SetScanning(bool on) {
        std::lock_guard<std::mutex> lock(cancelMutex);
        scanning = on ? handle : nullptr;
    }

    void EndBatchNow() {
        if (handle && batchOpen)
            sane_cancel(handle);
        batchOpen = false;
    }

    void CloseDevice() {
        if (!handle)
            return;
        EndBatchNow();
        sane_close(handle);
        handle = nullptr;
        deviceName.clear();
    }

    int FindOption(const std::string& name) const {
        const SANE_Option_Descriptor* count = sane_get_option_descriptor(handle, 0);
        SANE_Int n = 0;
        if (!count || sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &n, nullptr) != 0)
            return -1;
        for (SANE_Int i = 1; i < n; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
            if (d && d->name && name == d->name)
                return i;
        }
        return -1;
    }

    std::vector<OptionDesc> ReadOptions() const {
        std::vector<OptionDesc> out;
        if (!handle)
            return out;
        SANE_Int n = 0;
        if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &n, nullptr) != 0)
            return out;
        std::string group;
        for (SANE_Int i = 1; i < n; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
            if (!d)
                continue;
            if (d->type == SANE_TYPE_GROUP) {
                group = Text(d->title);
                continue;
            }
            OptionDesc o;
            o.index = i;
            o.name = Text(d->name);
            o.title = Text(d->title);
            o.description = Text(d->desc);
            o.group = group;
            o.unit = UnitOf(d->unit);
            o.active = SANE_OPTION_IS_ACTIVE(d->cap);
            o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
            o.advanced = (d->cap & SANE_CAP_ADVANCED) != 0;
            o.automatic = (d->cap & SANE_CAP_AUTOMATIC) != 0;
            o.button = (d->cap & SANE_CAP_HARD_SELECT) != 0;
            const bool fixed = d->type == SANE_TYPE_FIXED;
            auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
            switch (d->type) {
            case SANE_TYPE_BOOL:
                o.type = OptionType::Bool;
                break;
            case SANE_TYPE_INT:
                o.type = OptionType::Int;
                break;
            case SANE_TYPE_FIXED:
                o.type = OptionType::Fixed;
                break;
            case SANE_TYPE_STRING:
                o.type = OptionType::String;
                break;
            default:
                o.type = OptionType::Button;
                break;
            }
            if (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED || d->type == SANE_TYPE_BOOL)
                o.count = d->size / static_cast<SANE_Int>(sizeof(SANE_Word));
            if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
                o.constraint = Constraint::Range;
                o.min = number(d->constraint.range->min);
                o.max = number(d->constraint.range->max);
                o.quant = number(d->constraint.range->quant);
            } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
                o.constraint = Constraint::WordList;
                for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
                    o.words.push_back(number(d->constraint.word_list[k]));
            } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST &&
                       d->constraint.string_list) {
                o.constraint = Constraint::StringList;
                for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
                    o.strings.emplace_back(*s);
            }
            if (o.active && o.type != OptionType::Button && d->size > 0 &&
                SANE_OPTION_IS_ACTIVE(d->cap) && (d->cap & SANE_CAP_SOFT_DETECT)) {
                std::vector<unsigned char> value(static_cast<std::size_t>(d->size) + 1, 0);
                if (sane_control_option(handle, i, SANE_ACTION_GET_VALUE, value.data(), nullptr) ==
                    SANE_STATUS_GOOD) {
                    if (o.type == OptionType::String) {
                        o.text.assign(reinterpret_cast<const char*>(value.data()));
                    } else {
                        for (int k = 0; k < o.count; ++k) {
                            SANE_Word w;
                            std::memcpy(&w, value.data() + k * sizeof(SANE_Word), sizeof w);
                            o.numbers.push_back(number(w));
                        }
                    }
                }
            }
            out.push_back(std::move(o));
        }
        return out;
    }

    SetResult Set(const std::string& name, const double* number, const std::string* text) {
        SetResult r;
        const int index = handle ? FindOption(name) : -1;
        const SANE_Option_Descriptor* d =
            index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
        if (!d || !SANE_OPTION_IS_SETTABLE(d->cap) || !SANE_OPTION_IS_ACTIVE(d->cap)) {
            r.status = Status::Inval;
            return r;
        }
        std::vector<unsigned char> value(
            static_cast<std::size_t>(std::max<SANE_Int>(d->size, 1)) + 1, 0);
        if (d->type == SANE_TYPE_STRING) {
            if (!text) {
                r.status = Status::Inval;
                return r;
            }
            std::strncpy(reinterpret_cast<char*>(value.data()), text->c_str(),
                         static_cast<std::size_t>(d->size) - 1);
        } else if (d->type == SANE_TYPE_BUTTON) {
        } else {
            if (!number) {
                r.status = Status::Inval;
                return r;
            }
            const SANE_Word w =
                d->type == SANE_TYPE_FIXED ? SANE_FIX(*number) : static_cast<SANE_Word>(*number);
            // An array option takes the value in every element.
            for (SANE_Int k = 0; k < d->size / static_cast<SANE_Int>(sizeof(SANE_Word)); ++k)
                std::memcpy(value.data() + k * sizeof(SANE_Word), &w, sizeof w);
        }
        SANE_Int info = 0;
        r.status = FromSane(
            sane_control_option(handle, index, SANE_ACTION_SET_VALUE, value.data(), &info));
        r.inexact = (info & SANE_INFO_INEXACT) != 0;
        r.reloadOptions = (info & SANE_INFO_RELOAD_OPTIONS) != 0;
        return r;
    }

    double ReadNumber(const std::string& name) const {
        const int index = handle ? FindOption(name) : -1;
        const SANE_Option_Descriptor* d =
            index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size < SANE_Int(sizeof(SANE_Word)) ||
            (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED))
            return 0;
        std::vector<SANE_Word> value(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1);
        if (sane_control_option(handle, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
            SANE_STATUS_GOOD)
            return 0;
        return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(value[0]) : double(value[0]);
    }

    double CurrentResolution() const {
        const double r = ReadNumber("resolution");
        return r > 0 ? r : ReadNumber("x-resolution");
    }

    // A preview job's share of the rows the page has completed since the last call.
    static void KeepLines(const PageAssembler& page, PageJob::State& job,
                          std::vector<std::uint32_t>* scratch) {
        const int width = page.Width();
        if (width <= 0)
            return;
        long long kept = 0;
        {
            std::lock_guard<std::mutex> lock(job.mutex);
            job.lineWidth = width;
            job.lineHeight = page.Height();
            kept = static_cast<long long>(job.lines.size()) / width;
        }
        const long long complete = page.RowsComplete();
        if (complete <= kept)
            return;
        scratch->resize(static_cast<std::size_t>((complete - kept) * width));
        for (long long r = kept; r < complete; ++r)
            page.CopyRow(r, scratch->data() + (r - kept) * width);
        std::lock_guard<std::mutex> lock(job.mutex);
        job.lines.insert(job.lines.end(), scratch->begin(), scratch->end());
    }

    // One page, on the worker: sane_start, every frame, the DIB. `beforeDone` runs once the
    // scan is over, before the job says Done.
    void Scan(const std::shared_ptr<PageJob::State>& job,
              const std::function<void()>& beforeDone = {}) {
        if (!handle) {
            if (beforeDone)
                beforeDone();
            job->Advance(PageJob::Phase::Done, Status::Inval);
            return;
        }
        const double dpiX = CurrentResolution();
        const double dpiY = ReadNumber("y-resolution") > 0 ? ReadNumber("y-resolution") : dpiX;
        {
            std::lock_guard<std::mutex> lock(job->mutex);
            job->dpiX = dpiX;
            job->dpiY = dpiY;
        }
        SetScanning(true);
        SANE_Status st = cancelRequested ? SANE_STATUS_CANCELLED : sane_start(handle);
        batchOpen = true;
        if (cancelRequested)
            st = SANE_STATUS_CANCELLED;
        job->Advance(PageJob::Phase::Reading, FromSane(st));
        Status result = FromSane(st);
        void* dib = nullptr;
        if (st == SANE_STATUS_GOOD) {
            PageAssembler page(memory);
            std::vector<unsigned char> buffer(256 * 1024);
            std::vector<std::uint32_t> scratch;
            for (;;) {
                SANE_Parameters p;
                st = sane_get_parameters(handle, &p);
                if (st != SANE_STATUS_GOOD) {
                    result = FromSane(st);
                    break;
                }
                FrameParams fp;
                fp.format = FormatOf(p.format);
                fp.lastFrame = p.last_frame != 0;
                fp.bytesPerLine = p.bytes_per_line;
                fp.pixelsPerLine = p.pixels_per_line;
                fp.lines = p.lines;
                fp.depth = p.depth;
                if (!page.BeginFrame(fp)) {
                    result = Status::BadData;
                    break;
                }
                job->total = page.LinesTotal();
                // Bytes of the frame still to come, where its length is known.
                long long left =
                    p.lines > 0 ? static_cast<long long>(p.lines) * p.bytes_per_line : -1;
                const bool holdLastByte = TestBackend() && left > 0;
                for (;;) {
                    std::size_t want = buffer.size();
                    if (holdLastByte && left > 0) {
                        // SANE's test backend cancels its reader thread asynchronously the moment
                        // the frame's last byte is read; caught inside free(), that thread dies
                        // holding the allocator's lock and the scan never ends. Its last byte is
                        // taken only once the reader has had time to finish.
                        if (left == 1)
                            std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        else
                            want = static_cast<std::size_t>(
                                std::min<long long>(static_cast<long long>(want), left - 1));
                    }
                    SANE_Int len = 0;
                    st = cancelRequested
                             ? SANE_STATUS_CANCELLED
                             : sane_read(handle, buffer.data(), static_cast<SANE_Int>(want), &len);
                    if (st != SANE_STATUS_GOOD)
                        break;
                    if (left > 0)
                        left -= len;
                    page.Feed(buffer.data(), static_cast<std::size_t>(len));
                    if (job->keepLines)
                        KeepLines(page, *job, &scratch);
                    job->done = page.LinesDone();
                }
                if (st != SANE_STATUS_EOF) {
                    result = FromSane(st);
                    break;
                }
                page.EndFrame();
                if (job->keepLines)
                    KeepLines(page, *job, &scratch);
                if (fp.lastFrame) {
                    dib = page.TakeDib(dpiX, dpiY);
                    result = dib ? Status::Good : Status::NoMem;
                    break;
                }
                st = sane_start(handle);
                if (st != SANE_STATUS_GOOD) {
                    result = FromSane(st);
                    break;
                }
            }
        }
        // Some backends answer sane_cancel with EOF rather than CANCELLED: a cancelled page
        // is dropped however it ended.
        if (cancelRequested) {
            if (dib)
                memory.release(dib);
            dib = nullptr;
            result = Status::Cancelled;
        }
        SetScanning(false);
        // A failed page ends the batch; so does a flatbed page (each scan is a batch of one).
        if (result != Status::Good || !FeederSource())
            EndBatchNow();
        if (beforeDone)
            beforeDone();
        job->Advance(PageJob::Phase::Done, result, dib);
    }

    // ---- the preview ----

    struct SavedOption {
        std::string name;
        bool text = false;
        std::vector<unsigned char> value;
    };

    bool ReadRaw(int index, const SANE_Option_Descriptor* d,
                 std::vector<unsigned char>* out) const {
        out->assign(static_cast<std::size_t>(d->size) + 1, 0);
        return sane_control_option(handle, index, SANE_ACTION_GET_VALUE, out->data(), nullptr) ==
               SANE_STATUS_GOOD;
    }

    static bool Restorable(const SANE_Option_Descriptor* d) {
        return d && d->name && *d->name && d->type != SANE_TYPE_GROUP &&
               d->type != SANE_TYPE_BUTTON && d->size > 0 && SANE_OPTION_IS_ACTIVE(d->cap) &&
               SANE_OPTION_IS_SETTABLE(d->cap);
    }

    // Every value the user could have set, raw, so that it goes back bit for bit.
    std::vector<SavedOption> Snapshot() const {
        std::vector<SavedOption> saved;
        SANE_Int n = 0;
        if (!handle || sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &n, nullptr) != 0)
            return saved;
        for (SANE_Int i = 1; i < n; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
            SavedOption o;
            if (!Restorable(d) || !ReadRaw(i, d, &o.value))
                continue;
            o.name = d->name;
            o.text = d->type == SANE_TYPE_STRING;
            saved.push_back(std::move(o));
        }
        // Source and mode first: setting them resets other options (ranges, depth, area).
        auto rank = [](const SavedOption& o) {
            return o.name == "source" ? 0 : o.name == "mode" ? 1 : 2;
        };
        std::stable_sort(
            saved.begin(), saved.end(),
            [&](const SavedOption& a, const SavedOption& b) { return rank(a) < rank(b); });
        return saved;
    }

    void Restore(const std::vector<SavedOption>& saved) {
        std::vector<unsigned char> now;
        for (int pass = 0; pass < 3; ++pass) {
            int changed = 0;
            for (const SavedOption& o : saved) {
                const int index = FindOption(o.name);
                const SANE_Option_Descriptor* d =
                    index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
                if (!Restorable(d) || !ReadRaw(index, d, &now))
                    continue;
                const std::size_t size = std::min(now.size(), o.value.size());
                const bool same =
                    o.text ? std::strncmp(reinterpret_cast<const char*>(now.data()),
                                          reinterpret_cast<const char*>(o.value.data()), size) == 0
                           : now.size() == o.value.size() &&
                                 std::memcmp(now.data(), o.value.data(), size) == 0;
                if (same)
                    continue;
                std::vector<unsigned char> value = o.value;
                value.resize(now.size(), 0);
                sane_control_option(handle, index, SANE_ACTION_SET_VALUE, value.data(), nullptr);
                ++changed;
            }
            if (changed == 0)
                break;
        }
    }

    const OptionDesc* Find(const std::vector<OptionDesc>& options, const char* name) const {
        for (const OptionDesc& o : options)
            if (o.name == name && o.active && o.settable)
                return &o;
        return nullptr;
    }

    // Colour, 8 bits, the lowest resolution at or above 50 dpi, the whole bed, "preview" on.
    // The options are read again whenever a setting has changed others (a mode its depths and
    // resolutions, a resolution its area).
    void SetPreviewOptions() {
        auto lower = [](std::string s) {
            for (char& c : s)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        std::vector<OptionDesc> options = ReadOptions();
        if (const OptionDesc* mode = Find(options, "mode");
            mode && mode->type == OptionType::String) {
            std::string colour, grey;
            for (const std::string& entry : mode->strings) {
                const std::string e = lower(entry);
                if (colour.empty() && (e == "color" || e == "colour" || e == "rgb" ||
                                       e.find("color") != std::string::npos))
                    colour = entry;
                if (grey.empty() && (e == "gray" || e == "grey"))
                    grey = entry;
            }
            const std::string wanted = colour.empty() ? grey : colour;
            if (!wanted.empty() && Set(mode->name, nullptr, &wanted).reloadOptions)
                options = ReadOptions();
        }
        if (const OptionDesc* depth = Find(options, "depth")) {
            const double eight = 8;
            const bool offered = depth->constraint == Constraint::WordList
                                     ? std::find(depth->words.begin(), depth->words.end(), eight) !=
                                           depth->words.end()
                                     : depth->constraint != Constraint::Range ||
                                           (depth->min <= eight && eight <= depth->max);
            if (offered && Set(depth->name, &eight, nullptr).reloadOptions)
                options = ReadOptions();
        }
        for (const char* name : {"resolution", "x-resolution", "y-resolution"}) {
            const OptionDesc* o = Find(options, name);
            if (!o || (o->type != OptionType::Int && o->type != OptionType::Fixed))
                continue;
            const std::string option = o->name;
            const double dpi = PreviewResolution(*o);
            if (Set(option, &dpi, nullptr).reloadOptions)
                options = ReadOptions();
            if (option == "resolution")
                break;
        }
        if (const OptionDesc* preview = Find(options, "preview");
            preview && preview->type == OptionType::Bool) {
            const double on = 1;
            if (Set(preview->name, &on, nullptr).reloadOptions)
                options = ReadOptions();
        }
        for (const char* name : {"tl-x", "tl-y", "br-x", "br-y"}) {
            const OptionDesc* o = Find(options, name);
            if (!o || o->constraint != Constraint::Range)
                continue;
            const double edge = name[0] == 't' ? o->min : o->max;
            if (Set(o->name, &edge, nullptr).reloadOptions)
                options = ReadOptions();
        }
    }

    void Preview(const std::shared_ptr<PageJob::State>& job) {
        const std::vector<SavedOption> saved = Snapshot();
        if (handle)
            SetPreviewOptions();
        Scan(job, [&] {
            EndBatchNow();
            Restore(saved);
        });
    }

    bool TestBackend() const { return deviceName == "test" || deviceName.rfind("test:", 0) == 0; }

    bool FeederSource() const {
        const int index = handle ? FindOption("source") : -1;
        const SANE_Option_Descriptor* d =
            index > 0 ? sane_get_option_descriptor(handle, index) : nullptr;
        if (!d || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_ACTIVE(d->cap))
            return false;
        std::vector<char> value(static_cast<std::size_t>(d->size) + 1, 0);
        if (sane_control_option(handle, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
            SANE_STATUS_GOOD)
            return false;
        std::string s(value.data());
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        // Backends name it "ADF", "ADF Duplex", "Automatic Document Feeder", "Feeder", ...
        return s.find("adf") != std::string::npos || s.find("feeder") != std::string::npos ||
               s.find("duplex") != std::string::npos;
    }
};

SaneSession::SaneSession(DibMemory memory) : m_impl(std::make_unique<Impl>()) {
    m_impl->memory = memory;
    m_impl->worker = std::thread([impl = m_impl.get()] { impl->Loop(); });
    // The first task waits until sane_init has run.
    m_impl->Run([] { return 0; });
}

SaneSession::~SaneSession() {
    Cancel();
    {
        std::lock_guard<std::mutex> lock(m_impl->queueMutex);
        m_impl->stopping = true;
    }
    m_impl->queueChanged.notify_one();
    m_impl->worker.join();
}

Status SaneSession::InitStatus() const {
    return m_impl->initStatus;
}

std::vector<Device> SaneSession::Devices() {
    return m_impl->Run([this] {
        std::vector<Device> out;
        const SANE_Device** list = nullptr;
        if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
            return out;
        for (; *list; ++list)
            out.push_back({Text((*list)->name), Text((*list)->vendor), Text((*list)->model),
                           Text((*list)->type)});
        return out;
    });
}

Status SaneSession::Open(const std::string& deviceName) {
    return m_impl->Run([this, deviceName] {
        m_impl->CloseDevice();
        SANE_Handle h = nullptr;
        const Status s = FromSane(sane_open(deviceName.c_str(), &h));
        if (s == Status::Good) {
            m_impl->handle = h;
            m_impl->deviceName = deviceName;
        }
        return s;
    });
}

void SaneSession::Close() {
    m_impl->Run([this] {
        m_impl->CloseDevice();
        return 0;
    });
}

bool SaneSession::IsOpen() const {
    return m_impl->Run([this] { return m_impl->handle != nullptr; });
}

std::string SaneSession::DeviceName() const {
    return m_impl->Run([this] { return m_impl->deviceName; });
}

std::vector<OptionDesc> SaneSession::Options() {
    return m_impl->Run([this] { return m_impl->ReadOptions(); });
}

std::vector<std::optional<double>> SaneSession::ReadValues(const std::vector<int>& indices) {
    return m_impl->Run([this, &indices] {
        std::vector<std::optional<double>> values;
        for (const int index : indices) {
            values.emplace_back();
            SANE_Handle h = m_impl->handle;
            const SANE_Option_Descriptor* d =
                h && index > 0 ? sane_get_option_descriptor(h, index) : nullptr;
            if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size < SANE_Int(sizeof(SANE_Word)) ||
                (d->type != SANE_TYPE_BOOL && d->type != SANE_TYPE_INT &&
                 d->type != SANE_TYPE_FIXED))
                continue;
            std::vector<SANE_Word> value(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1);
            if (sane_control_option(h, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
                SANE_STATUS_GOOD)
                continue;
            values.back() = d->type == SANE_TYPE_FIXED ? SANE_UNFIX(value[0]) : double(value[0]);
        }
        return values;
    });
}

SetResult SaneSession::SetOption(const std::string& name, double value) {
    return m_impl->Run([&] { return m_impl->Set(name, &value, nullptr); });
}

SetResult SaneSession::SetOption(const std::string& name, const std::string& value) {
    return m_impl->Run([&] { return m_impl->Set(name, nullptr, &value); });
}

Status SaneSession::SetResolution(double dpi, double* actual) {
    return m_impl->Run([&] {
        const std::vector<OptionDesc> options = m_impl->ReadOptions();
        const OptionDesc* o = FindResolutionOption(options);
        Status s = Status::Unsupported;
        if (o) {
            const double v = SnapResolution(*o, dpi);
            s = m_impl->Set(o->name, &v, nullptr).status;
            // Devices with separate axes: the vertical resolution follows the horizontal one.
            if (s == Status::Good && o->name == "x-resolution")
                m_impl->Set("y-resolution", &v, nullptr);
        }
        if (actual)
            *actual = m_impl->CurrentResolution();
        return s;
    });
}

double SaneSession::Resolution() {
    return m_impl->Run([this] { return m_impl->CurrentResolution(); });
}

bool SaneSession::FeederSelected() {
    return m_impl->Run([this] { return m_impl->FeederSource(); });
}

PageJob SaneSession::ScanPage() {
    auto state = std::make_shared<PageJob::State>();
    state->memory = m_impl->memory;
    m_impl->cancelRequested = false;
    m_impl->Post([impl = m_impl.get(), state] { impl->Scan(state); });
    return PageJob(state);
}

PageJob SaneSession::ScanPreview() {
    auto state = std::make_shared<PageJob::State>();
    state->memory = m_impl->memory;
    state->keepLines = true;
    m_impl->cancelRequested = false;
    m_impl->Post([impl = m_impl.get(), state] { impl->Preview(state); });
    return PageJob(state);
}

void SaneSession::EndBatch() {
    m_impl->Post([impl = m_impl.get()] { impl->EndBatchNow(); });
}

void SaneSession::Cancel() {
    std::lock_guard<std::mutex> lock(m_impl->cancelMutex);
    m_impl->cancelRequested = true;
    if (m_impl->scanning)
        sane_cancel(m_impl->scanning);
}

} // namespace sanebridge

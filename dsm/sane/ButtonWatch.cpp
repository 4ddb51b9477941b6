#include "dsm/sane/ButtonWatch.h"

#include "dsm/sane/DeviceChoice.h"
#include "dsm/sane/SaneSession.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace sanebridge {

namespace {

// The watch never scans; a page would be refused.
void* NoPage(std::size_t) {
    return nullptr;
}
void NoRelease(void*) {}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::vector<int> CopyButtons(const std::vector<OptionDesc>& options) {
    std::vector<int> indices;
    for (const OptionDesc& o : options) {
        const std::string name = Lower(o.name);
        if (o.button && o.active && (name == "copy" || name == "scan") &&
            (o.type == OptionType::Bool || o.type == OptionType::Int))
            indices.push_back(o.index);
    }
    return indices;
}

ButtonWatch::ButtonWatch(std::function<SessionTurn()> takeTurn, Notice notice,
                         std::chrono::milliseconds interval)
    : m_takeTurn(std::move(takeTurn)), m_notice(std::move(notice)), m_interval(interval) {
    m_thread = std::thread([this] { Run(); });
}

ButtonWatch::~ButtonWatch() {
    Stop();
}

void ButtonWatch::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopRequested.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool ButtonWatch::Wait(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_stopRequested.wait_for(lock, interval, [this] { return m_stopping; });
}

void ButtonWatch::Run() {
    std::unique_ptr<SaneSession> session;
    std::optional<Event> outcome;
    std::string detail;
    {
        SessionTurn turn = m_takeTurn();
        if (!Wait(std::chrono::milliseconds(0)))
            return;
        if (turn.deviceInUse) {
            outcome = Event::NoDevice;
            detail = StatusMessage(Status::DeviceBusy);
        } else {
            session = std::make_unique<SaneSession>(DibMemory{NoPage, NoRelease});
        }
    }
    std::vector<int> buttons;
    std::vector<std::string> names;
    if (session) {
        const std::vector<Device> devices = session->Devices();
        const int chosen = ChooseDevice(devices, ReadDefaultDevice());
        // Looking for devices may take seconds (network scanners); a watch stopped meanwhile
        // opens nothing.
        const bool stopped = !Wait(std::chrono::milliseconds(0));
        const Status opened =
            chosen < 0 || stopped ? Status::Good : session->Open(devices[std::size_t(chosen)].name);
        if (stopped) {
            SessionTurn turn = m_takeTurn();
            session.reset();
            return;
        }
        if (chosen < 0) {
            outcome = Event::NoDevice;
            detail = "Es wurde kein Scanner gefunden.";
        } else if (opened != Status::Good) {
            outcome = Event::NoDevice;
            detail = StatusMessage(opened);
        } else {
            const std::vector<OptionDesc> options = session->Options();
            buttons = CopyButtons(options);
            for (const int index : buttons)
                for (const OptionDesc& o : options)
                    if (o.index == index)
                        names.push_back(o.name);
            if (buttons.empty()) {
                outcome = Event::NoButton;
                detail = "Dieser Scanner hat keine Taste, die Velmora erkennt.";
            } else {
                outcome = Event::Watching;
                detail = devices[std::size_t(chosen)].name;
            }
        }
    }
    // A device that cannot be watched is let go before anyone hears of it.
    if (outcome != Event::Watching && session) {
        SessionTurn turn = m_takeTurn();
        session.reset();
    }
    if (outcome)
        m_notice(*outcome, detail);
    if (outcome != Event::Watching)
        return;

    std::vector<bool> pressed(buttons.size(), false);
    bool baseline = true;
    do {
        const std::vector<std::optional<double>> values = session->ReadValues(buttons);
        for (std::size_t i = 0; i < buttons.size() && i < values.size(); ++i) {
            // A reading that failed tells nothing: a button held through it is no new press.
            if (!values[i])
                continue;
            const bool now = *values[i] != 0;
            if (now && !pressed[i] && !baseline)
                m_notice(Event::Pressed, names[i]);
            pressed[i] = now;
        }
        baseline = false;
    } while (Wait(m_interval));
    SessionTurn turn = m_takeTurn();
    session.reset();
}

} // namespace sanebridge

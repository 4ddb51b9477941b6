#pragma once
// The scanner's own buttons, watched while Velmora is idle: a thread of its own opens the device
// an acquisition would open, in a SANE session of its own, and polls the options the device sets
// itself (SANE_CAP_HARD_SELECT). The copy or scan button counts; a press is its option going
// from released to pressed, the first reading being the baseline.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sanebridge {

struct OptionDesc;

// SANE allows one session per process at a time: the watch's session starts and ends only with
// the turn its owner hands out. `deviceInUse` tells that the owner has the device open itself,
// and the watch then leaves SANE alone.
struct SessionTurn {
    std::unique_lock<std::mutex> lock;
    bool deviceInUse = false;
};

class ButtonWatch {
public:
    enum class Event { Watching, NoButton, NoDevice, Pressed };
    // Called on the watch's thread: Watching (detail: the device name), NoButton or NoDevice
    // (detail: the reason in German) once, then Pressed (detail: the option name) per press.
    using Notice = std::function<void(Event event, const std::string& detail)>;

    ButtonWatch(std::function<SessionTurn()> takeTurn, Notice notice,
                std::chrono::milliseconds interval = std::chrono::milliseconds(150));
    // Stop().
    ~ButtonWatch();
    ButtonWatch(const ButtonWatch&) = delete;
    ButtonWatch& operator=(const ButtonWatch&) = delete;

    // Ends the watch: returns once the device is closed, the session ended and `notice` is not
    // called any more.
    void Stop();

private:
    void Run();
    // Waits for the next poll; false once Stop() has been asked for.
    bool Wait(std::chrono::milliseconds interval);

    std::function<SessionTurn()> m_takeTurn;
    Notice m_notice;
    std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stopping = false;
    std::thread m_thread;
};

// The indices of the options that count as the copy button: hardware-set options named "copy"
// or "scan" (any case).
std::vector<int> CopyButtons(const std::vector<OptionDesc>& options);

} // namespace sanebridge

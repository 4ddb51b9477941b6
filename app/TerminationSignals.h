#pragma once
// Turns the signals that ask a program to end (SIGTERM from `kill` or a shutting-down system,
// SIGHUP at logout) into a call on the GUI thread, so that Velmora ends through its normal
// shut-down, settings written, instead of dying where it stands.
//
// A signal handler may do next to nothing, so the handler only writes the signal's number into
// one end of a socket pair; a socket notifier on the other end wakes the event loop, which reads
// it and runs the callback. One instance at a time; the signals' previous handling comes back
// when it is destroyed.

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

class TTerminationSignals {
public:
    using Callback = std::function<void(int Signal)>;

    // Catches `Signals` from now on; the callback runs on the thread that made the object, from
    // its event loop, once per signal received. Not active (IsActive false) when the socket
    // pair or a handler cannot be set up, or another instance is active.
    TTerminationSignals(Callback OnSignal, const std::vector<int>& Signals);
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    bool IsActive() const { return m_notifier != nullptr; }

private:
    void Drain();

    Callback m_onSignal;
    std::vector<int> m_signals;
    std::vector<struct sigaction> m_previous;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// The signals Velmora ends on: SIGTERM and SIGHUP.
std::vector<int> QuitSignals();

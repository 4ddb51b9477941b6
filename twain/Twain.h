#pragma once
// The scanner session with the TWAIN source manager. The session itself (loading the manager,
// opening a source, negotiation, native transfers) arrives with scanning; the main window owns
// one instance for its whole life.

class TTwain {
public:
    TTwain();
    ~TTwain();
    TTwain(const TTwain&) = delete;
    TTwain& operator=(const TTwain&) = delete;
};

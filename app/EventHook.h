#pragma once
// Window events that Qt delivers as virtual functions (resize, paint, mouse, keys) reach the
// main window's handlers through hooks, so each subsystem can bind its own handlers to its own
// controls in its Setup...Handlers() without subclassing them.

#include <QEvent>
#include <functional>
#include <utility>

class QObject;

// Reports the exception being handled as one that escaped an event handler (the diagnostic
// report; EAbort silently). To be called inside a catch block; never throws.
void ReportEscapedError();

// Wraps a handler bound to a Qt signal so that no exception ever unwinds through Qt's own
// frames (Qt's widget code is built without exception support): an error that escapes the
// handler ends in the error report right there, as if it had left an event handler.
template <class F> struct GuardedHandler {
    F handler;
    // SFINAE on the call, so Qt can find out how many of the signal's arguments it takes.
    template <class... A>
    auto operator()(A&&... args) const -> decltype(handler(std::forward<A>(args)...), void()) {
        try {
            handler(std::forward<A>(args)...);
        } catch (...) {
            ReportEscapedError();
        }
    }
};
template <class F> GuardedHandler<F> Guarded(F handler) {
    return {std::move(handler)};
}

// Runs `handler` for every event of `type` that reaches `target`, before the target sees it.
// The handler returns true to stop the event there; an error escaping it is reported (see
// Guarded) and stops the event. The hook lives as long as the target.
void HookEvent(QObject* target, QEvent::Type type, std::function<bool(QEvent*)> handler);

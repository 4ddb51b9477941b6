#include "app/EventHook.h"

#include "app/VelmoraApplication.h"

#include <QObject>

namespace {

class TEventHook final : public QObject {
public:
    TEventHook(QObject* target, QEvent::Type type, std::function<bool(QEvent*)> handler)
        : QObject(target), m_type(type), m_handler(std::move(handler)) {
        target->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != parent() || event->type() != m_type)
            return false;
        try {
            return m_handler(event);
        } catch (...) {
            ReportEscapedError();
            return true;
        }
    }

private:
    QEvent::Type m_type;
    std::function<bool(QEvent*)> m_handler;
};

} // namespace

void HookEvent(QObject* target, QEvent::Type type, std::function<bool(QEvent*)> handler) {
    new TEventHook(target, type, std::move(handler));
}

void ReportEscapedError() {
    VelmoraApplication::ReportCurrentException();
}

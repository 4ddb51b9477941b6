#include "platform/WindowLookup.h"

#include <QApplication>
#include <QVariant>
#include <QWidget>

namespace WindowLookup {

QWidget* FindWindowOfClass(const QString& windowClass) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isWindow() && w->property("windowClass").toString() == windowClass)
            return w;
    return nullptr;
}

QWidget* Owner(QWidget* window) {
    return window ? window->parentWidget() : nullptr;
}

QWidget* ChildById(QWidget* window, int id) {
    if (!window)
        return nullptr;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        bool ok = false;
        if (c->property("controlId").toInt(&ok) == id && ok)
            return c;
    }
    return nullptr;
}

QString Text(QWidget* control) {
    if (!control)
        return {};
    const QVariant v = control->property("text");
    return v.isValid() ? v.toString() : QString();
}

bool SetText(QWidget* control, const QString& text) {
    if (!control || !control->property("text").isValid())
        return false;
    return control->setProperty("text", text);
}

} // namespace WindowLookup

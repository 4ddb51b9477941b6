#pragma once
// Finding another program's windows by class, owner and child identifier, and reading or
// writing their text, as the special scanner mode does with a driver's dialog. On Linux a TWAIN
// source's windows are Qt widgets in Velmora's own process, so the lookup searches the
// application's top-level widgets: a window's class is its dynamic property "windowClass", a
// control's identifier its property "controlId", and a window's owner its parent widget.

#include <QString>

class QWidget;

namespace WindowLookup {

// A top-level window of window class `windowClass` (the first Qt lists), or nullptr.
QWidget* FindWindowOfClass(const QString& windowClass);
// The window that owns `window` (nullptr without one).
QWidget* Owner(QWidget* window);
// The control of `window` (any depth) with identifier `id`, or nullptr.
QWidget* ChildById(QWidget* window, int id);

// A control's text (a line edit's text, a label's or a button's caption); empty for others.
QString Text(QWidget* control);
// Sets a control's text; false when it has none.
bool SetText(QWidget* control, const QString& text);

} // namespace WindowLookup

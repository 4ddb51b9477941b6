#pragma once
// The SANE bridge's scanner dialog as the acquisition tests meet it on the real main window, and
// the window's pages in order.

#include "app/MainForm.h"
#include "layout/PicObj.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <functional>

inline QList<TPicProperties*> Pages(TMainForm& form) {
    QList<TPicProperties*> pages;
    const int count = static_cast<int>(form.PicRecords.size());
    for (int n = 1; n <= count; ++n)
        pages << form.PicRecords.at(form.FindPicBtn(n)).get();
    return pages;
}

// The scanner's dialog when it is shown (not a message box of the bridge's).
inline QDialog* ScannerDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() &&
                                                 !qobject_cast<QMessageBox*>(w) &&
                                                 d->windowTitle().startsWith("Scanner"))
            return d;
    return nullptr;
}

// The dialog's button with `text`, or nullptr.
inline QPushButton* DialogButton(QDialog* dialog, const QString& text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Chooses the entry of a list with the device's value `value`, as a user would.
inline void Choose(QDialog* dialog, const char* option, const QVariant& value) {
    if (auto* combo = dialog->findChild<QComboBox*>(QString::fromLatin1(option))) {
        const int i = combo->findData(value);
        combo->setCurrentIndex(i);
        emit combo->activated(i);
    }
}

// "Hole Bild" on the window: while the scanner's dialog is shown, `step` runs every `pollMs`
// until it returns true (the user is done with the dialog). A dialog that never closes is closed
// after a minute, so no test hangs. False when the dialog never came.
inline bool AcquireWithDialog(TMainForm& form, const std::function<bool(QDialog*)>& step,
                              int pollMs = 50) {
    bool seen = false, done = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QDialog* d = done ? nullptr : ScannerDialog();
        if (!d)
            return;
        seen = true;
        done = step(d);
    });
    poll.start(pollMs);
    QTimer::singleShot(60000, [] {
        if (QDialog* d = ScannerDialog())
            d->close();
    });
    form.GetPicBtnClick(form.findChild<QToolButton*>(QStringLiteral("GetPicBtn")));
    return seen;
}

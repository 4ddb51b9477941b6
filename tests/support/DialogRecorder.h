#pragma once
// A Dialogs double for tests: records every dialog the code under test would have shown and
// answers from a queue of scripted answers (defaults: OK / the first button, dialogs cancelled).
// Installs itself on construction and restores the Qt dialogs on destruction.

#include "platform/Dialogs.h"

#include <QColor>
#include <QList>
#include <QString>
#include <deque>
#include <functional>

class DialogRecorder final : public Dialogs {
public:
    struct Shown {
        enum Kind { Message, OpenFile, SaveFile, Color, PrinterSetup } kind;
        MessageRequest message; // kind Message
        FileDialogRequest file; // kinds OpenFile, SaveFile
        QColor color;           // kind Color: the preset colour
        QString title;          // kind PrinterSetup
    };

    DialogRecorder();
    ~DialogRecorder() override;

    // Scripted answers, used in order; when a queue is empty the default answer applies.
    std::deque<int> MessageAnswers;       // default: the first button of the box
    std::deque<QString> FileAnswers;      // a path confirms, an empty string cancels (default)
    std::deque<QColor> ColorAnswers;      // an invalid colour cancels (default)
    std::deque<bool> PrinterSetupAnswers; // default: cancelled
    // What the user changes in a printer setup dialog before the answer (none when unset).
    std::function<void(QPrinter&)> PrinterSetupChoice;
    // Runs as each file dialog is shown, before its answer: the moment to look at the program
    // (a print of the bitmap target asks for a file in the middle of a fast copy).
    std::function<void(Shown::Kind)> FileDialogShown;
    // Runs as each message box is shown, before its answer (the moment the user acts on it).
    std::function<void(const MessageRequest&)> MessageShown;

    QList<Shown> History;
    int Count(Shown::Kind kind) const;
    // The last message box shown; an empty request when there was none.
    MessageRequest LastMessage() const;

    int Message(QWidget* parent, const MessageRequest& request) override;
    bool OpenFile(QWidget* parent, FileDialogRequest& request) override;
    bool SaveFile(QWidget* parent, FileDialogRequest& request) override;
    bool ChooseColor(QWidget* parent, QColor& color) override;
    bool PrinterSetup(QWidget* parent, QPrinter& printer, const QString& title) override;

private:
    bool AnswerFile(Shown::Kind kind, FileDialogRequest& request);
};

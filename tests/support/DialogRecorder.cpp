#include "tests/support/DialogRecorder.h"

DialogRecorder::DialogRecorder() {
    Dialogs::Install(this);
}
DialogRecorder::~DialogRecorder() {
    Dialogs::Install(nullptr);
}

int DialogRecorder::Count(Shown::Kind kind) const {
    int n = 0;
    for (const Shown& s : History)
        n += s.kind == kind;
    return n;
}

MessageRequest DialogRecorder::LastMessage() const {
    for (auto it = History.crbegin(); it != History.crend(); ++it)
        if (it->kind == Shown::Message)
            return it->message;
    return {};
}

int DialogRecorder::Message(QWidget*, const MessageRequest& request) {
    Shown s{Shown::Message, request, {}, {}, {}};
    History << s;
    if (MessageShown)
        MessageShown(request);
    if (!MessageAnswers.empty()) {
        const int a = MessageAnswers.front();
        MessageAnswers.pop_front();
        return a;
    }
    for (int b : {MsgYes, MsgOk, MsgNo, MsgCancel})
        if (request.Buttons & b)
            return b;
    return MsgOk;
}

bool DialogRecorder::AnswerFile(Shown::Kind kind, FileDialogRequest& request) {
    Shown s{kind, {}, request, {}, {}};
    History << s;
    if (FileDialogShown)
        FileDialogShown(kind);
    if (FileAnswers.empty())
        return false;
    const QString a = FileAnswers.front();
    FileAnswers.pop_front();
    if (a.isEmpty())
        return false;
    request.FileName = a;
    return true;
}

bool DialogRecorder::OpenFile(QWidget*, FileDialogRequest& request) {
    return AnswerFile(Shown::OpenFile, request);
}

bool DialogRecorder::SaveFile(QWidget*, FileDialogRequest& request) {
    return AnswerFile(Shown::SaveFile, request);
}

bool DialogRecorder::ChooseColor(QWidget*, QColor& color) {
    History << Shown{Shown::Color, {}, {}, color, {}};
    if (ColorAnswers.empty())
        return false;
    const QColor a = ColorAnswers.front();
    ColorAnswers.pop_front();
    if (!a.isValid())
        return false;
    color = a;
    return true;
}

bool DialogRecorder::PrinterSetup(QWidget*, QPrinter& printer, const QString& title) {
    History << Shown{Shown::PrinterSetup, {}, {}, {}, title};
    if (PrinterSetupChoice)
        PrinterSetupChoice(printer);
    if (PrinterSetupAnswers.empty())
        return false;
    const bool a = PrinterSetupAnswers.front();
    PrinterSetupAnswers.pop_front();
    return a;
}

// The main window's about command.

#include "about/AboutDlg.h"
#include "about/InfoAdd.h"
#include "app/EventHook.h"
#include "app/MainForm.h"
#include "app/Support.h"

void TMainForm::SetupAboutHandlers() {
    connect(ber1, &QAction::triggered, this, Guarded([this] { About1Click(); }));
}

void TMainForm::About1Click() {
    // Made anew for each opening: the box lives only while it is shown.
    TAboutBox AboutBox(this);
    AboutBox.MailLabel->setText(QString::fromLatin1(SupportMailAddress));
    AboutBox.AddInfoAdds(ApplicationInfoAdds());
    AboutBox.exec();
}

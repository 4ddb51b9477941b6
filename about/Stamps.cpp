#include "about/Stamps.h"

#include "app/VersionInfo.h"

TTimeStamp::TTimeStamp(QWidget* parent) : QLabel(parent), m_file(RunningProgramPath()) {
    Refresh();
}

void TTimeStamp::SetDisplay(TDisplay Value) {
    m_display = Value;
    Refresh();
}

void TTimeStamp::SetFileName(const QString& File) {
    m_file = File;
    Refresh();
}

void TTimeStamp::Refresh() {
    setText(TimeStampText(m_file, m_display));
}

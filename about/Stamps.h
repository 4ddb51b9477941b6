#pragma once
// A label that shows the time stamp of Velmora's program file: its last-write date and time
// (dtString) or the raw file age (dtNumber).

#include "about/AboutText.h"

#include <QLabel>

class TTimeStamp : public QLabel {
    Q_OBJECT

public:
    explicit TTimeStamp(QWidget* parent = nullptr);

    TDisplay Display() const { return m_display; }
    void SetDisplay(TDisplay Value);

    // The file shown; the running program unless set otherwise.
    QString FileName() const { return m_file; }
    void SetFileName(const QString& File);

private:
    void Refresh();

    TDisplay m_display = TDisplay::dtString;
    QString m_file;
};

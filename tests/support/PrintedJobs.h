#pragma once
// What the printing tests read back from the private CUPS scheduler: a queue that keeps every job
// in a PDF file of its own ("<job>-<title>.pdf" in a folder named after the queue), the queue's
// completed jobs, and the dark part of a rendered page.

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <algorithm>

// Runs a program to its end; `ok` tells whether it ended normally with status 0.
inline QString Exec(const QString& program, const QStringList& args, bool* ok = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done =
        p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    return QString::fromLocal8Bit(p.readAll());
}

// Bounding box of the pixels darker than mid grey; empty when there are none.
inline QRect DarkBox(const QImage& image) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qGray(row[x]) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

class TPrintedJobs {
public:
    explicit TPrintedJobs(QString queue) : m_queue(std::move(queue)) {}

    // The folder of the queue's files (a velmora-pdf:// queue on it keeps one file per job).
    QString Folder() const { return qEnvironmentVariable("VELMORA_TEST_OUT") + "/" + m_queue; }

    // The jobs' files in job order.
    QStringList Files() const {
        QFileInfoList files = QDir(Folder()).entryInfoList({"*.pdf"}, QDir::Files);
        std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return a.fileName().section('-', 0, 0).toInt() <
                   b.fileName().section('-', 0, 0).toInt();
        });
        QStringList paths;
        for (const QFileInfo& f : files)
            paths << f.filePath();
        return paths;
    }

    int Completed() const {
        return static_cast<int>(Exec("lpstat", {"-W", "completed", "-o", m_queue})
                                    .split('\n', Qt::SkipEmptyParts)
                                    .size());
    }

    // Waits until `count` jobs are done and their files are written.
    bool WaitFor(int count) const {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            if (Completed() >= count && Files().size() >= count)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    // Sets the queue up as the scheduler's default printer: A4, every job a PDF file in Folder().
    // The window reads the printers once, when it is made.
    bool Install() const {
        bool ok = false;
        Exec("lpadmin",
             {"-p", m_queue, "-E", "-v", "velmora-pdf://" + Folder(), "-m",
              "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", "-o", "PageSize=A4"},
             &ok);
        if (ok)
            Exec("lpadmin", {"-d", m_queue}, &ok);
        return ok;
    }

private:
    QString m_queue;
};

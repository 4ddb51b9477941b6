#pragma once
// Helpers for the picture file tests: outside tools (ImageMagick's convert, libjpeg-turbo's
// cjpeg and jpegtran) make the reference files and decode them for comparison, so Velmora's codecs
// are measured against other implementations rather than against themselves.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace picturetest {

inline bool HaveTool(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

#define REQUIRE_TOOLS(...)                                                                         \
    do {                                                                                           \
        for (const char* tool : {__VA_ARGS__})                                                     \
            if (!picturetest::HaveTool(tool))                                                      \
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh)";             \
    } while (0)

// Runs a tool and returns its standard output; fails the test when it does not succeed.
inline QByteArray RunTool(const QString& program, const QStringList& args,
                          const QByteArray& input = {}) {
    QProcess p;
    p.start(program, args);
    p.waitForStarted();
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    const QByteArray out = p.readAllStandardOutput();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << " " << args.join(' ').toStdString()
                               << ": " << p.readAllStandardError().toStdString();
    return out;
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// ImageMagick's decoding of a picture file (`frame` selects one picture of a multi-picture
// file), as 8-bit RGB or RGBA.
inline QImage DecodeWithMagick(const QString& path, bool alpha = false, int frame = -1) {
    const QString source = frame < 0 ? path : QStringLiteral("%1[%2]").arg(path).arg(frame);
    const QStringList size =
        QString::fromLatin1(RunTool(QStringLiteral("identify"),
                                    {QStringLiteral("-format"), QStringLiteral("%w %h"), source}))
            .split(' ');
    if (size.size() != 2)
        return {};
    const int w = size[0].toInt();
    const int h = size[1].toInt();
    const QByteArray raw = RunTool(QStringLiteral("convert"),
                                   {source, QStringLiteral("-depth"), QStringLiteral("8"),
                                    alpha ? QStringLiteral("rgba:-") : QStringLiteral("rgb:-")});
    const int channels = alpha ? 4 : 3;
    if (raw.size() != qsizetype(w) * h * channels)
        return {};
    QImage image(w, h, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        std::copy_n(raw.constData() + qsizetype(y) * w * channels, w * channels,
                    reinterpret_cast<char*>(image.scanLine(y)));
    return image;
}

// Largest difference of any colour channel between two pictures of the same size, both seen as
// opaque RGB; 1000 when the sizes differ.
inline int MaxChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 1000;
    const QImage ra = a.convertToFormat(QImage::Format_RGB888);
    const QImage rb = b.convertToFormat(QImage::Format_RGB888);
    int worst = 0;
    for (int y = 0; y < ra.height(); ++y) {
        const uchar* pa = ra.constScanLine(y);
        const uchar* pb = rb.constScanLine(y);
        for (int i = 0; i < ra.width() * 3; ++i)
            worst = std::max(worst, std::abs(pa[i] - pb[i]));
    }
    return worst;
}

// A picture with smooth areas, sharp edges, text and odd sides (so rows are padded and the last
// 8 × 8 and 16 × 16 blocks are partial), written as 8-bit PPM for cjpeg.
inline QString MakeSourcePicture(const QString& folder, int width = 173, int height = 91) {
    const QString path = folder + QStringLiteral("/source.ppm");
    RunTool(QStringLiteral("convert"),
            {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(width).arg(height),
             QStringLiteral("gradient:#2040c0-#f0d060"), QStringLiteral("-fill"),
             QStringLiteral("#c02020"), QStringLiteral("-draw"),
             QStringLiteral("rectangle 20,10 60,50"), QStringLiteral("-fill"),
             QStringLiteral("black"), QStringLiteral("-draw"),
             QStringLiteral("line 0,%1 %2,0").arg(height - 1).arg(width - 1),
             QStringLiteral("-depth"), QStringLiteral("8"), path});
    return path;
}

// Sets the largest file this process may write, as a full disk or quota would stop it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN); // write() then fails with EFBIG instead
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

inline QStringList AllEntries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace picturetest

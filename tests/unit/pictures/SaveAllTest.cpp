// Saving every page under consecutive numbers: which numbers are taken, the page order although
// pages are encoded in parallel, files that appear while saving runs, and failures halfway.

#include "pictures/SaveAll.h"
#include "layout/Dib.h"
#include "pictures/Jpeg.h"
#include "pictures/PictureFiles.h"
#include "platform/Errors.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace picturetest;

namespace {

// Distinct flat colours; JPEG keeps a flat colour within a few steps.
QImage Page(int i, int w = 64, int h = 48) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(qRgb((i * 67) % 256, (i * 131 + 40) % 256, (i * 29 + 200) % 256));
    return image;
}

bool SameColour(QRgb a, QRgb b, int tolerance = 4) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class SaveAllTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    void Touch(const QString& name, const QByteArray& content = "x") {
        WriteFile(Path(name), content);
    }
    QTemporaryDir m_dir;
};

TEST_F(SaveAllTest, NumbersHaveThreeDigitsUpTo999) {
    const struct {
        const char* chosen;
        qint64 number;
        const char* name;
    } cases[] = {
        {"/d/Pic.jpg", 1, "/d/Pic001.jpg"},         {"/d/Pic.jpg", 42, "/d/Pic042.jpg"},
        {"/d/Pic.jpg", 999, "/d/Pic999.jpg"},       {"/d/Pic.jpg", 1000, "/d/Pic1000.jpg"},
        {"/d/Pic.jpg", 123456, "/d/Pic123456.jpg"}, {"/d.x/Scan", 7, "/d.x/Scan007"},
        {"/d/a.b.JPEG", 5, "/d/a.b005.JPEG"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberedPictureName(QString::fromUtf8(c.chosen), c.number),
                  QString::fromUtf8(c.name));
}

TEST_F(SaveAllTest, HighestNumberFollowsTheWholeNumberRule) {
    const struct {
        std::vector<const char*> files;
        int highest;
    } cases[] = {
        {{}, 0},
        {{"Pic007.jpg", "Pic.jpg"}, 7},
        {{"Pic 12.jpg", "Pic3.jpg"}, 12},
        {{"Pic$1F.jpg"}, 31},
        {{"Pic0x10.jpg"}, 16},
        {{"Pic-5.jpg", "Pic+4.jpg"}, 4},
        {{"Picture.jpg", "Pic12 .jpg", "Pic1.2.jpg", "Pic.jpg"}, 0},
        {{"Pic9.jpeg", "Pic9.jpg.bak", "PIC9.jpg", "Pic9.JPG", "xPic9.jpg"}, 0},
        {{"Pic99999999999.jpg", "Pic2147483647.jpg"}, 2147483647},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        for (const char* f : c.files)
            WriteFile(dir.filePath(QString::fromUtf8(f)), "x");
        EXPECT_EQ(HighestPictureNumber(dir.filePath(QStringLiteral("Pic.jpg"))), c.highest)
            << ::testing::PrintToString(c.files);
    }
}

// Hidden and read-only files count; folders and special files (here a pipe and a broken link)
// do not. On Linux a hidden file is a dot name, so it belongs to the series ".Pic.jpg".
TEST_F(SaveAllTest, HighestNumberCountsFilesOnly) {
    Touch(QStringLiteral("Pic010.jpg"));
    ::chmod(QFile::encodeName(Path(QStringLiteral("Pic010.jpg"))).constData(), 0444);
    QDir(m_dir.path()).mkdir(QStringLiteral("Pic050.jpg"));
    ::mkfifo(QFile::encodeName(Path(QStringLiteral("Pic060.jpg"))).constData(), 0600);
    QFile::link(Path(QStringLiteral("Pic010.jpg")), Path(QStringLiteral("Pic020.jpg")));
    QFile::link(Path(QStringLiteral("gone")), Path(QStringLiteral("Pic080.jpg")));
    Touch(QStringLiteral(".Pic005.jpg"));
    EXPECT_EQ(HighestPictureNumber(Path(QStringLiteral("Pic.jpg"))), 20);
    EXPECT_EQ(HighestPictureNumber(Path(QStringLiteral(".Pic.jpg"))), 5);
}

TEST_F(SaveAllTest, ContinuesAfterTheHighestNumber) {
    Touch(QStringLiteral("Pic007.jpg"), "seven");
    Touch(QStringLiteral("Pic.jpg"), "plain");
    const QStringList written =
        SaveAllPictures(std::vector<QImage>{Page(1), Page(2)}, Path(QStringLiteral("Pic.jpg")));
    EXPECT_EQ(written, (QStringList{Path(QStringLiteral("Pic008.jpg")),
                                    Path(QStringLiteral("Pic009.jpg"))}));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("Pic007.jpg"))), "seven");
    EXPECT_EQ(ReadFile(Path(QStringLiteral("Pic.jpg"))), "plain");

    Touch(QStringLiteral("Pic998.jpg"));
    EXPECT_EQ(SaveAllPictures(std::vector<QImage>{Page(1), Page(2), Page(3)},
                              Path(QStringLiteral("Pic.jpg"))),
              (QStringList{Path(QStringLiteral("Pic999.jpg")), Path(QStringLiteral("Pic1000.jpg")),
                           Path(QStringLiteral("Pic1001.jpg"))}));
}

// More pages than encoding threads and look-ahead, so pages finish out of order.
TEST_F(SaveAllTest, FilesFollowThePageOrder) {
    std::vector<QImage> pages;
    for (int i = 0; i < 9; ++i) // alternating sizes: encoding times differ
        pages.push_back(Page(i, i % 2 ? 640 : 32, i % 2 ? 480 : 24));
    for (const char* name : {"Seite.jpg", "Seite.BMP"}) {
        SCOPED_TRACE(name);
        std::vector<int> progress;
        const QStringList written = SaveAllPictures(pages, Path(QString::fromUtf8(name)),
                                                    [&](int page, int count, const QString&) {
                                                        EXPECT_EQ(count, 9);
                                                        progress.push_back(page);
                                                    });
        ASSERT_EQ(written.size(), 9);
        EXPECT_EQ(progress, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
        for (int i = 0; i < 9; ++i) {
            const QByteArray file = ReadFile(written[i]);
            const QImage back =
                written[i].endsWith(QLatin1String(".BMP")) ? DecodeBmpFile(file) : DecodeJpeg(file);
            EXPECT_EQ(back.size(), pages[i].size()) << i;
            EXPECT_TRUE(SameColour(back.pixel(5, 5), pages[i].pixel(5, 5))) << i;
        }
    }
}

TEST_F(SaveAllTest, PagesWithoutPictureKeepTheirNumber) {
    TBitmap first, third;
    first.SetImage(Page(1));
    third.SetImage(Page(3));
    const std::vector<const TGraphic*> pages{&first, nullptr, &third};
    EXPECT_EQ(SaveAllPictures(pages, Path(QStringLiteral("P.jpg"))),
              (QStringList{Path(QStringLiteral("P001.jpg")), Path(QStringLiteral("P003.jpg"))}));
    EXPECT_EQ(
        SaveAllPictures(std::vector<QImage>{QImage(), Page(2)}, Path(QStringLiteral("P.bmp"))),
        QStringList{Path(QStringLiteral("P002.bmp"))});
}

TEST_F(SaveAllTest, ExtensionsWithoutAWriterWriteNothing) {
    EXPECT_TRUE(
        SaveAllPictures(std::vector<QImage>{Page(1)}, Path(QStringLiteral("Pic.gif"))).isEmpty());
    EXPECT_TRUE(AllEntries(m_dir.path()).isEmpty());
}

// Another program saving into the same folder: its files are never replaced, the series moves
// on to the next free number.
TEST_F(SaveAllTest, FilesAppearingWhileSavingAreNotReplaced) {
    const QStringList written =
        SaveAllPictures(std::vector<QImage>{Page(1), Page(2), Page(3)},
                        Path(QStringLiteral("Pic.jpg")), [&](int page, int, const QString&) {
                            if (page == 1) {
                                Touch(QStringLiteral("Pic002.jpg"), "theirs");
                                QDir(m_dir.path()).mkdir(QStringLiteral("Pic003.jpg"));
                            }
                        });
    EXPECT_EQ(written,
              (QStringList{Path(QStringLiteral("Pic001.jpg")), Path(QStringLiteral("Pic004.jpg")),
                           Path(QStringLiteral("Pic005.jpg"))}));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("Pic002.jpg"))), "theirs");
    EXPECT_TRUE(SameColour(DecodeJpeg(ReadFile(written[1])).pixel(0, 0), Page(2).pixel(0, 0)));
}

TEST_F(SaveAllTest, FailureAtAPageKeepsTheEarlierPagesAndNothingOfIt) {
    QImage noisy(300, 200, QImage::Format_RGB888); // compresses to well over the limit below
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            noisy.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 256, x ^ y));
    std::unique_ptr<FileSizeLimit> diskFull;
    QString error;
    try {
        SaveAllPictures(std::vector<QImage>{noisy, noisy, noisy, noisy},
                        Path(QStringLiteral("Pic.jpg")), [&](int page, int, const QString&) {
                            if (page == 2)
                                diskFull = std::make_unique<FileSizeLimit>(1000);
                        });
    } catch (const EFCreateError& e) {
        error = e.Message();
    }
    diskFull.reset();
    EXPECT_EQ(error, QStringLiteral("Datei %1 kann nicht erstellt werden")
                         .arg(Path(QStringLiteral("Pic003.jpg"))));
    EXPECT_EQ(AllEntries(m_dir.path()),
              (QStringList{QStringLiteral("Pic001.jpg"), QStringLiteral("Pic002.jpg")}));
    EXPECT_EQ(DecodeJpeg(ReadFile(Path(QStringLiteral("Pic002.jpg")))).size(), noisy.size());
}

TEST_F(SaveAllTest, ErrorsOfEncodingAndOfTheCallerStopAtThatPage) {
    QImage tooWide(70000, 2, QImage::Format_RGB888); // beyond what JPEG can hold
    tooWide.fill(Qt::white);
    EXPECT_THROW(SaveAllPictures(std::vector<QImage>{Page(1), tooWide, Page(3), Page(4)},
                                 Path(QStringLiteral("A.jpg"))),
                 EJPEG);
    EXPECT_EQ(AllEntries(m_dir.path()), QStringList{QStringLiteral("A001.jpg")});

    EXPECT_THROW(SaveAllPictures(std::vector<QImage>(6, Page(1)), Path(QStringLiteral("B.jpg")),
                                 [](int, int, const QString&) { throw EAbort(QString()); }),
                 EAbort);
    EXPECT_EQ(AllEntries(m_dir.path()),
              (QStringList{QStringLiteral("A001.jpg"), QStringLiteral("B001.jpg")}));
}

} // namespace

// A data source for tests, driven by a scenario file named in VELMORA_SCRIPTED_SCENARIO. It
// behaves like a well-made scanner driver with its own TWAIN state, unless the scenario tells it
// to misbehave. One "key = value" per line, "#" starts a comment:
//
//   name      = Velmora Testquelle        ProductName; a copy of the source named
//                                         velmora-scripted-X.ds adds " X" to it
//   open      = accept                    accept / refuse MSG_OPENDS
//   page      = 64x48 24 gradient 300     one line per page: WxH, depth 1/8/24,
//                                         pattern gradient/white/black, dpi
//   xres      = onevalue 300              container of ICAP_XRESOLUTION on MSG_GET:
//               enum <current> <v,v,...> | range <min> <max> <step> <current> | array <v,v,...>
//               | fail | null (success without a container) | enum-short | onevalue-short
//               (blocks smaller than their contents claim)
//   xres-type = fix32                     item type: fix32, int16, int32, uint32
//   set       = accept                    accept / refuse MSG_SET of ICAP_XRESOLUTION
//   dialog-dpi = 150 | 150x100            the user picks this resolution in the source's dialog
//                                         (enabled with ShowUI): ICAP_XRESOLUTION reports it
//                                         from then on, ICAP_YRESOLUTION the second value (only
//                                         when given; else it is unsupported, as always)
//   enable    = success                   success / checkstatus / failure
//   closereq  = no                        yes: the user closes the dialog instead of scanning
//   ready     = yes                       no: never signals MSG_XFERREADY
//   delay     = 0                         milliseconds from enabling to MSG_XFERREADY
//   cancel-at = 0                         page n is cancelled once (the user then scans again)
//   fail-at   = 0                         page n fails once (likewise)
//   count     = exact                     exact / unknown (-1 while pages remain)
//   refuse    = endxfer reset closeds     triplets the source refuses (MSG_CLOSEDS only while a
//                                         transfer is still open)
//   dialog    = no                        yes: while enabled with its user interface (or when it
//                                         cannot hide it, enable = checkstatus), the source shows
//                                         its own window "Testquelle"; closing it is
//                                         MSG_CLOSEDSREQ. stubborn: the window refuses to be closed
//                                         (a driver busy scanning)
//   dib       = normal                    normal / sizeimage0 / clrused0 / topdown / tiny /
//                                         garbage / tiff / null
//   log       = /path                     every triplet received, appended as "DG DAT MSG"
//   driver-window = no                    yes: while enabled, the windows of a driver that keeps
//                                         its resolution in an edit: a main window with the edit
//                                         (control id 1025) owning a window of class "Preview";
//                                         each transfer logs "driver <the edit's text>"
//   driver-dpi    = 300                   the edit's text when the windows appear
//   devices   = a,b                       the source stands for these devices in the selection
//                                         dialog (none: it cannot list any); the chosen one is
//                                         logged as "default-device <name>" and flagged
//                                         as the default in later listings

#include "twain/twainh.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QLineEdit>
#include <QPointer>
#include <QStringList>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Page {
    int width = 64;
    int height = 48;
    int depth = 24;
    QString pattern = QStringLiteral("gradient");
    int dpi = 300;
};

struct Scenario {
    QString name = QStringLiteral("Velmora Testquelle");
    bool openRefused = false;
    std::vector<Page> pages;
    QStringList xres = {QStringLiteral("onevalue"), QStringLiteral("300")};
    QString xresType = QStringLiteral("fix32");
    bool setAccepted = true;
    QString dialogDpi;
    QString enable = QStringLiteral("success");
    bool closeRequest = false;
    bool ready = true;
    int delayMs = 0;
    int cancelAt = 0;
    int failAt = 0;
    bool countUnknown = false;
    bool refuseEndXfer = false;
    bool refuseReset = false;
    bool refuseCloseDS = false;
    QString dialog = QStringLiteral("no");
    QString dib = QStringLiteral("normal");
    QString log;
    QStringList devices;
    bool driverWindow = false;
    QString driverDpi = QStringLiteral("300");
};

Scenario ReadScenario() {
    Scenario s;
    QFile file(qEnvironmentVariable("VELMORA_SCRIPTED_SCENARIO"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return s;
    QTextStream in(&file);
    while (!in.atEnd()) {
        QString line = in.readLine();
        line = line.left(line.indexOf(QLatin1Char('#')) < 0 ? line.size()
                                                            : line.indexOf(QLatin1Char('#')));
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        const QStringList words = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (key == QLatin1String("name"))
            s.name = value;
        else if (key == QLatin1String("open"))
            s.openRefused = value == QLatin1String("refuse");
        else if (key == QLatin1String("page") && words.size() >= 4) {
            Page p;
            const QStringList size = words[0].split(QLatin1Char('x'));
            p.width = size.value(0).toInt();
            p.height = size.value(1).toInt();
            p.depth = words[1].toInt();
            p.pattern = words[2];
            p.dpi = words[3].toInt();
            s.pages.push_back(p);
        } else if (key == QLatin1String("xres"))
            s.xres = words;
        else if (key == QLatin1String("xres-type"))
            s.xresType = value;
        else if (key == QLatin1String("dialog-dpi"))
            s.dialogDpi = value;
        else if (key == QLatin1String("set"))
            s.setAccepted = value == QLatin1String("accept");
        else if (key == QLatin1String("enable"))
            s.enable = value;
        else if (key == QLatin1String("closereq"))
            s.closeRequest = value == QLatin1String("yes");
        else if (key == QLatin1String("ready"))
            s.ready = value != QLatin1String("no");
        else if (key == QLatin1String("delay"))
            s.delayMs = value.toInt();
        else if (key == QLatin1String("cancel-at"))
            s.cancelAt = value.toInt();
        else if (key == QLatin1String("fail-at"))
            s.failAt = value.toInt();
        else if (key == QLatin1String("count"))
            s.countUnknown = value == QLatin1String("unknown");
        else if (key == QLatin1String("refuse")) {
            s.refuseEndXfer = words.contains(QLatin1String("endxfer"));
            s.refuseReset = words.contains(QLatin1String("reset"));
            s.refuseCloseDS = words.contains(QLatin1String("closeds"));
        } else if (key == QLatin1String("dialog"))
            s.dialog = value;
        else if (key == QLatin1String("dib"))
            s.dib = value;
        else if (key == QLatin1String("log"))
            s.log = value;
        else if (key == QLatin1String("devices"))
            s.devices = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (key == QLatin1String("driver-window"))
            s.driverWindow = value == QLatin1String("yes");
        else if (key == QLatin1String("driver-dpi"))
            s.driverDpi = value;
    }
    return s;
}

// Copies of this library under other names are other sources (see the name key above).
QString NameSuffix() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&NameSuffix), &info) == 0 || !info.dli_fname)
        return {};
    const QString base = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).completeBaseName();
    const QString stem = QStringLiteral("velmora-scripted-");
    return base.startsWith(stem) ? QLatin1Char(' ') + base.mid(stem.size()) : QString();
}

struct Source {
    Scenario scenario;
    TW_ENTRYPOINT entry{};
    TW_IDENTITY self{};
    TW_IDENTITY app{};
    int state = 3; // the source's own view of the TWAIN state
    TW_UINT16 condition = TWCC_SUCCESS;
    std::size_t page = 0; // next page to transfer
    bool cancelDone = false;
    bool failDone = false;
    TW_UINT16 armed = MSG_NULL; // notice waiting for its moment
    QElapsedTimer sinceEnable;
    TW_UINT32 xresValue = 0;      // accepted MSG_SET value (raw item), 0 = none
    TW_UINT32 yresValue = 0;      // vertical value picked in the dialog (raw FIX32), 0 = none
    QPointer<QWidget> driverMain; // the driver's windows while enabled, when the scenario has them
    QPointer<QLineEdit> driverEdit;
    QPointer<QWidget> dialog; // the source's own window while enabled, when the scenario has one
};

Source& S() {
    static Source source;
    return source;
}

void FillIdentity(TW_IDENTITY& id, const QString& name) {
    std::memset(&id, 0, sizeof id);
    id.Version.MajorNum = 1;
    id.Version.Language = TWLG_GERMAN;
    id.Version.Country = TWCY_GERMANY;
    std::strncpy(id.Version.Info, "1.0", sizeof id.Version.Info - 1);
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strncpy(id.Manufacturer, "Velmora", sizeof id.Manufacturer - 1);
    std::strncpy(id.ProductFamily, "Test", sizeof id.ProductFamily - 1);
    std::strncpy(id.ProductName, name.toUtf8().constData(), sizeof id.ProductName - 1);
}

TW_UINT16 Fail(TW_UINT16 condition) {
    S().condition = condition;
    return TWRC_FAILURE;
}

TW_HANDLE Allocate(std::size_t size) {
    return S().entry.DSM_MemAllocate ? S().entry.DSM_MemAllocate(static_cast<TW_UINT32>(size))
                                     : nullptr;
}

template <class T> void Put(unsigned char* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

TW_UINT16 ItemType(const QString& name) {
    if (name == QLatin1String("int16"))
        return TWTY_INT16;
    if (name == QLatin1String("int32"))
        return TWTY_INT32;
    if (name == QLatin1String("uint32"))
        return TWTY_UINT32;
    return TWTY_FIX32;
}

// A scenario number as the raw 32-bit item of the scenario's item type.
TW_UINT32 Item(const QString& text, TW_UINT16 type) {
    const double v = text.toDouble();
    if (type == TWTY_FIX32) {
        // The item holds the TW_FIX32 record itself: Whole in the first two bytes.
        const auto fixed = static_cast<TW_INT32>(std::lround(v * 65536.0));
        const TW_FIX32 f{static_cast<TW_INT16>(fixed >> 16),
                         static_cast<TW_UINT16>(fixed & 0xFFFF)};
        TW_UINT32 raw = 0;
        std::memcpy(&raw, &f, sizeof f);
        return raw;
    }
    return static_cast<TW_UINT32>(static_cast<TW_INT32>(v));
}

void LogLine(const QString& line);

TW_UINT16 GetXResolution(TW_CAPABILITY& cap) {
    const Scenario& sc = S().scenario;
    const QString kind = sc.xres.value(0);
    const TW_UINT16 type = ItemType(sc.xresType);
    const std::size_t itemSize = type == TWTY_INT16 ? 2 : 4;
    cap.hContainer = nullptr;
    if (kind == QLatin1String("fail"))
        return Fail(TWCC_CAPUNSUPPORTED);
    if (kind == QLatin1String("null"))
        return TWRC_SUCCESS;
    if (kind == QLatin1String("onevalue") || kind == QLatin1String("onevalue-short")) {
        const bool shortBlock = kind == QLatin1String("onevalue-short");
        auto* p = static_cast<unsigned char*>(Allocate(shortBlock ? 3 : 6));
        if (!p)
            return Fail(TWCC_LOWMEMORY);
        cap.ConType = TWON_ONEVALUE;
        Put<TW_UINT16>(p, type);
        if (!shortBlock)
            Put<TW_UINT32>(p + 2, S().xresValue ? S().xresValue : Item(sc.xres.value(1), type));
        cap.hContainer = p;
        return TWRC_SUCCESS;
    }
    if (kind == QLatin1String("enum") || kind == QLatin1String("enum-short") ||
        kind == QLatin1String("array")) {
        const bool isArray = kind == QLatin1String("array");
        const bool shortBlock = kind == QLatin1String("enum-short");
        const QStringList values = sc.xres.value(isArray ? 1 : 2).split(QLatin1Char(','));
        const std::size_t header = isArray ? 6 : 14;
        const std::size_t size = shortBlock ? 20 : header + values.size() * itemSize;
        auto* p = static_cast<unsigned char*>(Allocate(size));
        if (!p)
            return Fail(TWCC_LOWMEMORY);
        cap.ConType = isArray ? TWON_ARRAY : TWON_ENUMERATION;
        Put<TW_UINT16>(p, type);
        Put<TW_UINT32>(p + 2, shortBlock ? 1000u : static_cast<TW_UINT32>(values.size()));
        if (!isArray) {
            Put<TW_UINT32>(p + 6, shortBlock ? 999u : sc.xres.value(1).toUInt());
            Put<TW_UINT32>(p + 10, 0);
        }
        for (int i = 0; i < values.size() && header + (i + 1) * itemSize <= size; ++i) {
            const TW_UINT32 item = Item(values[i], type);
            std::memcpy(p + header + i * itemSize, &item, itemSize);
        }
        cap.hContainer = p;
        return TWRC_SUCCESS;
    }
    if (kind == QLatin1String("range")) {
        auto* p = static_cast<unsigned char*>(Allocate(sizeof(TW_RANGE)));
        if (!p)
            return Fail(TWCC_LOWMEMORY);
        cap.ConType = TWON_RANGE;
        Put<TW_UINT16>(p, type);
        for (int i = 0; i < 4; ++i)
            Put<TW_UINT32>(p + 2 + 4 * (i == 3 ? 4 : i), Item(sc.xres.value(1 + i), type));
        cap.hContainer = p;
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADVALUE);
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (!cap)
        return Fail(TWCC_BADVALUE);
    if (cap->Cap == ICAP_YRESOLUTION && S().yresValue &&
        (msg == MSG_GET || msg == MSG_GETCURRENT)) {
        auto* p = static_cast<unsigned char*>(Allocate(6));
        if (!p)
            return Fail(TWCC_LOWMEMORY);
        cap->ConType = TWON_ONEVALUE;
        Put<TW_UINT16>(p, TWTY_FIX32);
        Put<TW_UINT32>(p + 2, S().yresValue);
        cap->hContainer = p;
        return TWRC_SUCCESS;
    }
    if (cap->Cap != ICAP_XRESOLUTION)
        return Fail(TWCC_CAPUNSUPPORTED);
    if (msg == MSG_GET || msg == MSG_GETCURRENT)
        return GetXResolution(*cap);
    if (msg != MSG_SET)
        return Fail(TWCC_BADPROTOCOL);
    if (S().state != 4)
        return Fail(TWCC_SEQERROR);
    if (cap->ConType != TWON_ONEVALUE || !cap->hContainer)
        return Fail(TWCC_BADVALUE);
    TW_ONEVALUE one;
    std::memcpy(&one, cap->hContainer, sizeof one);
    if (one.ItemType != TWTY_FIX32)
        return Fail(TWCC_BADVALUE);
    TW_FIX32 asked;
    std::memcpy(&asked, &one.Item, sizeof asked);
    LogLine(QStringLiteral("xres-set %1").arg(asked.Whole));
    if (!S().scenario.setAccepted)
        return Fail(TWCC_BADVALUE);
    S().xresValue = one.Item;
    return TWRC_SUCCESS;
}

int BytesPerLine(const Page& p) {
    return ((p.width * p.depth + 31) / 32) * 4;
}

std::uint8_t Grey(const Page& p, int x, int y) {
    if (p.pattern == QLatin1String("white"))
        return 255;
    if (p.pattern == QLatin1String("black"))
        return 0;
    return static_cast<std::uint8_t>((x * 255) / std::max(1, p.width - 1) ^ (y & 1));
}

// The page as a packed DIB in the variant the scenario asks for. Pixel (x, y) counts from the
// top-left corner of the page, whichever way the rows are stored.
TW_HANDLE MakeDib(const Page& p) {
    const QString& variant = S().scenario.dib;
    if (variant == QLatin1String("tiny")) {
        auto* block = static_cast<unsigned char*>(Allocate(16));
        if (block)
            Put<TW_UINT32>(block, 40);
        return block;
    }
    if (variant == QLatin1String("garbage")) {
        auto* block = static_cast<unsigned char*>(Allocate(64));
        if (block)
            std::memset(block, 0x5A, 64);
        return block;
    }
    const int colours = p.depth <= 8 ? (1 << p.depth) : 0;
    const int stride = BytesPerLine(p);
    const std::size_t bits = static_cast<std::size_t>(stride) * static_cast<std::size_t>(p.height);
    const std::size_t size = 40 + static_cast<std::size_t>(colours) * 4 + bits;
    auto* block = static_cast<unsigned char*>(Allocate(size));
    if (!block)
        return nullptr;
    const bool topDown = variant == QLatin1String("topdown");
    Put<TW_UINT32>(block, 40);
    Put<TW_INT32>(block + 4, p.width);
    Put<TW_INT32>(block + 8, topDown ? -p.height : p.height);
    Put<TW_UINT16>(block + 12, 1);
    Put<TW_UINT16>(block + 14, static_cast<TW_UINT16>(p.depth));
    Put<TW_UINT32>(block + 20,
                   variant == QLatin1String("sizeimage0") ? 0u : static_cast<TW_UINT32>(bits));
    const auto perMetre = static_cast<TW_INT32>(std::lround(p.dpi / 0.0254));
    Put<TW_INT32>(block + 24, perMetre);
    Put<TW_INT32>(block + 28, perMetre);
    Put<TW_UINT32>(block + 32,
                   variant == QLatin1String("clrused0") ? 0u : static_cast<TW_UINT32>(colours));
    unsigned char* palette = block + 40;
    for (int i = 0; i < colours; ++i) {
        const auto v = static_cast<unsigned char>(colours == 2 ? i * 255 : i);
        palette[i * 4] = palette[i * 4 + 1] = palette[i * 4 + 2] = v;
    }
    unsigned char* pixels = palette + colours * 4;
    for (int y = 0; y < p.height; ++y) {
        unsigned char* row = pixels + static_cast<std::size_t>(topDown ? y : p.height - 1 - y) *
                                          static_cast<std::size_t>(stride);
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t g = Grey(p, x, y);
            if (p.depth == 24) {
                row[x * 3] = 128; // blue
                row[x * 3 + 1] = static_cast<unsigned char>((y * 255) / std::max(1, p.height - 1));
                row[x * 3 + 2] = g; // red
            } else if (p.depth == 8) {
                row[x] = g;
            } else if (g >= 128) {
                row[x / 8] = static_cast<unsigned char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
    }
    return block;
}

TW_HANDLE MakeTiff(const Page& p) {
    QImage image(p.width, p.height, QImage::Format_RGB32);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            image.setPixel(x, y, qRgb(Grey(p, x, y), (y * 255) / std::max(1, p.height - 1), 128));
    image.setDotsPerMeterX(static_cast<int>(std::lround(p.dpi / 0.0254)));
    image.setDotsPerMeterY(static_cast<int>(std::lround(p.dpi / 0.0254)));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(image))
        return nullptr;
    const QByteArray& bytes = buffer.data();
    auto* block = static_cast<unsigned char*>(Allocate(static_cast<std::size_t>(bytes.size())));
    if (block)
        std::memcpy(block, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return block;
}

void Notify(TW_UINT16 msg) {
    Source& s = S();
    if (s.entry.DSM_Entry)
        s.entry.DSM_Entry(&s.self, &s.app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

void Arm() {
    Source& s = S();
    s.sinceEnable.start();
    if (s.scenario.closeRequest)
        s.armed = MSG_CLOSEDSREQ;
    else if (s.scenario.ready && s.page < s.scenario.pages.size())
        s.armed = MSG_XFERREADY;
    else
        s.armed = MSG_NULL;
}

// The driver's main window holds the resolution edit and owns the preview window. The preview
// has an edit of the same id of its own, so that only a lookup through the owner finds the
// right one.
void ShowDriverWindows() {
    Source& s = S();
    if (!s.scenario.driverWindow || s.driverMain ||
        !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* main = new QWidget;
    main->setWindowTitle(QStringLiteral("Scanner-Treiber"));
    main->setProperty("windowClass", QStringLiteral("DriverMain"));
    auto* edit = new QLineEdit(s.scenario.driverDpi, main);
    edit->setProperty("controlId", 1025);
    (new QVBoxLayout(main))->addWidget(edit);
    auto* preview = new QWidget(main, Qt::Window);
    preview->setWindowTitle(QStringLiteral("Vorschau"));
    preview->setProperty("windowClass", QStringLiteral("Preview"));
    auto* decoy = new QLineEdit(QStringLiteral("1"), preview);
    decoy->setProperty("controlId", 1025);
    main->show();
    preview->show();
    s.driverMain = main;
    s.driverEdit = edit;
}

// The source's own window. Closing it asks the application to disable the source, unless the
// scenario makes it stubborn.
class TestDialog final : public QWidget {
public:
    explicit TestDialog(bool stubborn) : m_stubborn(stubborn) {
        setWindowTitle(QStringLiteral("Testquelle"));
        setAttribute(Qt::WA_DeleteOnClose, false);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (!m_stubborn)
            Notify(MSG_CLOSEDSREQ);
    }

private:
    bool m_stubborn;
};

void ShowDialog(bool showUI) {
    Source& s = S();
    const bool wanted =
        s.scenario.dialog == QLatin1String("yes") || s.scenario.dialog == QLatin1String("stubborn");
    if (!wanted || s.dialog || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    if (!showUI && s.scenario.enable != QLatin1String("checkstatus"))
        return;
    auto* dialog = new TestDialog(s.scenario.dialog == QLatin1String("stubborn"));
    dialog->show();
    s.dialog = dialog;
    LogLine(QStringLiteral("dialog shown"));
}

void HideDialog() {
    Source& s = S();
    delete s.dialog.data();
    s.dialog = nullptr;
}

void HideDriverWindows() {
    Source& s = S();
    delete s.driverMain.data();
    s.driverMain = nullptr;
    s.driverEdit = nullptr;
}

TW_UINT16 NativeTransfer(TW_MEMREF data) {
    Source& s = S();
    if (s.state != 6 || !data)
        return Fail(TWCC_SEQERROR);
    const int number = static_cast<int>(s.page) + 1;
    if (number == s.scenario.cancelAt && !s.cancelDone) {
        s.cancelDone = true;
        return TWRC_CANCEL;
    }
    if (number == s.scenario.failAt && !s.failDone) {
        s.failDone = true;
        return Fail(TWCC_OPERATIONERROR);
    }
    if (s.driverEdit)
        LogLine(QStringLiteral("driver ") + s.driverEdit->text());
    const Page& p = s.scenario.pages[s.page];
    TW_HANDLE image = nullptr;
    if (s.scenario.dib == QLatin1String("tiff"))
        image = MakeTiff(p);
    else if (s.scenario.dib != QLatin1String("null"))
        image = MakeDib(p);
    *static_cast<TW_HANDLE*>(data) = image;
    s.state = 7;
    return TWRC_XFERDONE;
}

TW_UINT16 PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
    Source& s = S();
    if (!pending)
        return Fail(TWCC_BADVALUE);
    const std::size_t total = s.scenario.pages.size();
    if (msg == MSG_ENDXFER) {
        if (s.scenario.refuseEndXfer || s.state != 7)
            return Fail(TWCC_SEQERROR);
        ++s.page;
        const std::size_t remaining = total - std::min(total, s.page);
        pending->Count = remaining == 0            ? 0
                         : s.scenario.countUnknown ? 0xFFFF
                                                   : static_cast<TW_UINT16>(remaining);
        s.state = remaining == 0 ? 5 : 6;
        return TWRC_SUCCESS;
    }
    if (msg == MSG_RESET) {
        if (s.scenario.refuseReset || (s.state != 6 && s.state != 7))
            return Fail(TWCC_SEQERROR);
        pending->Count = 0;
        s.state = 5;
        // After a cancelled or failed page the user scans again.
        if (s.page < total)
            Arm();
        return TWRC_SUCCESS;
    }
    if (msg == MSG_GET) {
        pending->Count = static_cast<TW_UINT16>(total - std::min(total, s.page));
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 ProcessEvent(TW_EVENT* event) {
    Source& s = S();
    if (!event)
        return Fail(TWCC_BADVALUE);
    event->TWMessage = MSG_NULL;
    if (s.state >= 5 && s.armed != MSG_NULL && s.sinceEnable.elapsed() >= s.scenario.delayMs) {
        const TW_UINT16 notice = s.armed;
        s.armed = MSG_NULL;
        if (notice == MSG_XFERREADY)
            s.state = 6;
        Notify(notice);
    }
    return TWRC_NOTDSEVENT;
}

void Log(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    const QString& path = S().scenario.log;
    if (path.isEmpty())
        return;
    if (FILE* f = std::fopen(QFile::encodeName(path).constData(), "a")) {
        std::fprintf(f, "%04x %04x %04x\n", static_cast<unsigned>(dg), dat, msg);
        std::fclose(f);
    }
}

void LogLine(const QString& line) {
    const QString& path = S().scenario.log;
    if (path.isEmpty())
        return;
    if (FILE* f = std::fopen(QFile::encodeName(path).constData(), "a")) {
        std::fprintf(f, "%s\n", line.toUtf8().constData());
        std::fclose(f);
    }
}

// The application's identity, byte by byte, so tests can check what it announces.
void LogIdentity(const TW_IDENTITY& app) {
    const QString& path = S().scenario.log;
    if (path.isEmpty())
        return;
    if (FILE* f = std::fopen(QFile::encodeName(path).constData(), "a")) {
        std::fprintf(f, "app");
        const auto* bytes = reinterpret_cast<const unsigned char*>(&app);
        for (std::size_t i = 0; i < sizeof app; ++i)
            std::fprintf(f, " %02x", bytes[i]);
        std::fprintf(f, "\n");
        std::fclose(f);
    }
}

TW_UINT16 Control(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    Source& s = S();
    switch (dat) {
    case DAT_IDENTITY:
        if (msg == MSG_GET) {
            FillIdentity(*static_cast<pTW_IDENTITY>(data), s.scenario.name + NameSuffix());
            return TWRC_SUCCESS;
        }
        if (msg == MSG_OPENDS) {
            LogIdentity(*origin);
            if (s.scenario.openRefused)
                return Fail(TWCC_OPERATIONERROR);
            s.self = *static_cast<pTW_IDENTITY>(data);
            s.app = *origin;
            s.state = 4;
            s.page = 0;
            s.cancelDone = s.failDone = false;
            s.armed = MSG_NULL;
            s.xresValue = 0;
            s.yresValue = 0;
            s.condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDS) {
            if (s.scenario.refuseCloseDS && s.state != 4)
                return Fail(TWCC_SEQERROR);
            HideDriverWindows();
            HideDialog();
            s.state = 3;
            return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
    case DAT_ENTRYPOINT:
        if (msg != MSG_SET || !data)
            return Fail(TWCC_BADPROTOCOL);
        s.entry = *static_cast<TW_ENTRYPOINT*>(data);
        return TWRC_SUCCESS;
    case DAT_STATUS:
        if (msg != MSG_GET || !data)
            return Fail(TWCC_BADPROTOCOL);
        *static_cast<TW_STATUS*>(data) = TW_STATUS{s.condition, 0};
        s.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    case DAT_CAPABILITY:
        return Capability(msg, static_cast<TW_CAPABILITY*>(data));
    case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS) {
            if (s.state != 4)
                return Fail(TWCC_SEQERROR);
            if (s.scenario.enable == QLatin1String("failure"))
                return Fail(TWCC_OPERATIONERROR);
            s.state = 5;
            if (const auto* ui = static_cast<const TW_USERINTERFACE*>(data);
                ui && ui->ShowUI && !s.scenario.dialogDpi.isEmpty()) {
                const QStringList picked = s.scenario.dialogDpi.split(QLatin1Char('x'));
                s.xresValue = Item(picked.value(0), ItemType(s.scenario.xresType));
                s.yresValue = picked.size() > 1 ? Item(picked[1], TWTY_FIX32) : 0;
            }
            Arm();
            ShowDriverWindows();
            ShowDialog(data && static_cast<TW_USERINTERFACE*>(data)->ShowUI);
            return s.scenario.enable == QLatin1String("checkstatus") ? TWRC_CHECKSTATUS
                                                                     : TWRC_SUCCESS;
        }
        if (msg == MSG_DISABLEDS) {
            if (s.state != 5)
                return Fail(TWCC_SEQERROR);
            s.state = 4;
            s.armed = MSG_NULL;
            HideDriverWindows();
            HideDialog();
            return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
    case DAT_EVENT:
        if (msg != MSG_PROCESSEVENT)
            return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(static_cast<TW_EVENT*>(data));
    case DAT_PENDINGXFERS:
        return PendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data));
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16
DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    try {
        if (!pOrigin)
            return TWRC_FAILURE;
        // Each listing and each open reads the scenario afresh, so every test sets its own.
        if (DG == DG_CONTROL && DAT == DAT_IDENTITY && (MSG == MSG_GET || MSG == MSG_OPENDS))
            S().scenario = ReadScenario();
        Log(DG, DAT, MSG);
        if (DG == DG_CONTROL)
            return Control(pOrigin, DAT, MSG, pData);
        if (DG == DG_IMAGE && DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET)
            return NativeTransfer(pData);
        return Fail(TWCC_BADPROTOCOL);
    } catch (...) {
        S().condition = TWCC_BUMMER;
        return TWRC_FAILURE;
    }
}

namespace {
std::mutex defaultDeviceLock;
std::string defaultDevice;
} // namespace

// Called on a thread of the manager's: reads the scenario for itself.
extern "C" __attribute__((visibility("default"))) int
VelmoraDS_ListDevices(void (*fn)(void*, const char*, const char*, int), void* context) {
    try {
        const Scenario scenario = ReadScenario();
        if (scenario.devices.isEmpty() || !fn)
            return -1;
        std::string wanted;
        {
            std::lock_guard<std::mutex> lock(defaultDeviceLock);
            wanted = defaultDevice;
        }
        int chosen = 0;
        for (int i = 0; i < scenario.devices.size(); ++i)
            if (scenario.devices[i].toStdString() == wanted)
                chosen = i;
        for (int i = 0; i < scenario.devices.size(); ++i) {
            const QByteArray name = scenario.devices[i].toUtf8();
            const QByteArray label = "Testgerät " + name;
            fn(context, name.constData(), label.constData(), i == chosen);
        }
        return static_cast<int>(scenario.devices.size());
    } catch (...) {
        return -1;
    }
}

extern "C" __attribute__((visibility("default"))) int VelmoraDS_SetDefaultDevice(const char* name) {
    if (!name)
        return 0;
    {
        std::lock_guard<std::mutex> lock(defaultDeviceLock);
        defaultDevice = name;
    }
    S().scenario = ReadScenario();
    LogLine(QStringLiteral("default-device ") + QString::fromUtf8(name));
    return 1;
}

#pragma once
// Velmora's main window. It is the hub of the copier: it owns the scanner session, the shared
// printer properties, every picture record and the preview bitmap, and its handlers carry the
// behaviour of each subsystem. The controls come from MainForm.ui under their own names.
//
// Each subsystem defines its part of the window in its own folder (twain/MainForm_Twain.cpp,
// layout/MainForm_Layout.cpp, ...) and binds its own controls in its Setup...Handlers(); the
// sections below follow the same order.

#include "platform/Dialogs.h"
#include "ui_MainForm.h"

#include <QCursor>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class Exception;
class QAbstractButton;
class QCloseEvent;
class QTimer;
class TCommandLineHandler;
class TPageHandling;
class THelpWindow;
class TPicProperties;
class TPrinterProperties;
class TTwain;
enum class TOutputMode;

class TMainForm : public QMainWindow, private Ui::TMainForm {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // =========================================================================================
    // Application shell: start-up, shut-down, help, unexpected errors, settings
    // =========================================================================================

    // Window events of the start and the end of the run.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();

    void MCloseClick();
    void Hilfe1Click();
    void Hilfebenutzen1Click();

    void ReadSettings(const QString& IniFile);
    void WriteSettings(const QString& IniFile);

    // The application-wide handler of errors that escape an event handler.
    void HandleAppException(const Exception& E);
    void ShowDiagnosticReport(const QString& Msg);

    // The help viewer, once it was opened; nullptr before.
    THelpWindow* HelpViewer() const;

    // Off-screen image of the preview; empty (no value) once the window has closed.
    std::optional<QImage> PreviewBitmap;
    // Size of the printable area in the preview, in screen pixels.
    int PrevXSize = 0;
    int PrevYSize = 0;
    // While false, the zoom edits' change handler ignores changes the program makes itself.
    bool UpdatesEnabled = false;
    // Path of the settings file.
    QString IniFileName;
    // Base of every print job title.
    QString PrintTitle;
    // Printer and fax jobs started in this run.
    int PrintJobCount = 0;
    // Suggested base name when all pictures are saved.
    QString DefaultFilename;
    // The parsed command line; lives from window creation to the end of the first show.
    std::unique_ptr<TCommandLineHandler> CmdLineHandler;
    // The preview's cursor over the picture.
    QCursor HandCursor;
    // Runs before each of the start-up steps 9 to 14 with the step's number, when set; tests
    // raise from it to see how the start-up copes with a failing step.
    static inline std::function<void(int Step)> StartUpProbe;

    // =========================================================================================
    // Scanner acquisition
    // =========================================================================================

    void GetPicBtnClick(QObject* Sender);
    bool ScanPics(bool Normal, int DPI);
    void MScannersettingsClick();
    void MustekspezialItemClick();
    // Both sides of an ID card, one scan each, on one new page that is printed at once.
    void AusweiskopieItemClick();
    // The resolution edit of the Mustek driver's preview window, or nullptr.
    QWidget* FindMustekDPIEdit();
    // The scanner's own button: "Scanner&taste startet Schnellkopie".
    void ScannertasteItemClick();
    // Starts or stops the watch of the scanner's button as the window's state wants it.
    void UpdateButtonWatch();
    // Lets go of the scanner now (before an acquisition, when the window goes).
    void StopButtonWatch();

    std::unique_ptr<TTwain> Twain;

private:
    // ScanPics, with the first error raised while the pages are taken in handed back in
    // Failure once the session is closed, so that the caller can still show what arrived.
    bool AcquirePics(bool Normal, int DPI, std::exception_ptr& Failure);
    void SetupScannerButton();
    void ButtonNotice(int Event, const QString& Detail);
    QTimer* ButtonWatchTimer = nullptr;
    // The user has just switched the button on: what keeps it from working is reported once.
    bool ButtonWatchReport = false;
    // The scanner has no button Velmora knows: not tried again until the item is switched.
    bool ButtonWatchGivenUp = false;
    // No scanner was there: the next attempt waits until then.
    std::chrono::steady_clock::time_point ButtonWatchRetryAt{};
    // One scanner session, from loading the manager to unloading it, with the pages handed to
    // Pages as they arrive; true when the acquisition loop ran. The caller holds the
    // acquisition's scope.
    bool AcquirePages(bool Normal, int DPI, TPageHandling& Pages, std::exception_ptr& Failure);
    // True while an acquisition runs. Its pages are taken in (and printed, in a fast copy)
    // with the window enabled, so that the print's progress box can be answered; a second
    // acquisition or scanner choice meanwhile would close the scanner under the first.
    bool Acquiring = false;
    // Set when a quit request (or a close by the program) came while an acquisition ran: the
    // window refused it then, and ends the program once the scanner is closed.
    bool QuitAfterAcquisition = false;
    // Marks the time an acquisition runs, and passes a quit request refused meanwhile on at its
    // end.
    class AcquisitionScope {
    public:
        explicit AcquisitionScope(TMainForm& Form);
        ~AcquisitionScope();
        AcquisitionScope(const AcquisitionScope&) = delete;
        AcquisitionScope& operator=(const AcquisitionScope&) = delete;

    private:
        TMainForm& m_form;
    };

public:
    // =========================================================================================
    // Copy layout: copy geometry, preview and positioning
    // =========================================================================================

    void UpdatePicInfo(bool Center);
    void ShowZoomValues();
    void XZoomEditChange(QObject* Sender);
    void BothBoxClick();
    void CenterSizeBtnClick();
    void CenterPosBtnClick();
    void XPosEditChange();
    void YPosEditChange();
    void SrcXDPIEditExit(QObject* Sender);
    void SrcXDPIEditKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);
    // Applies a resolution still being typed, as leaving its edit would. A command started from
    // a tool button or a menu takes no focus, so the edit's exit would come only after it.
    void CommitScannerDPIEdit();

    void FormResize();
    void PaintPanelResize();
    void PreviewPaintBoxPaint();
    void PaperColorLabelClick();
    void PaperColorShapeMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void PreviewPaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                  int Y);
    void PreviewPaintBoxMouseMove(Qt::KeyboardModifiers Shift, int X, int Y);
    void PreviewPaintBoxMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    int EdgeBandWidth() const;
    int EdgeBandHeight() const;

    // The record shared by every picture: printable area and resolution of the output device.
    std::unique_ptr<TPrinterProperties> PrinterProps;
    // Mouse state of the preview.
    bool Dragging = false;
    int DragEdges = 0; // 1 left, 2 top, 4 right, 8 bottom; 0 moves the whole picture
    int DownX = 0;
    int DownY = 0;
    int DownWidth = 0;
    int DownHeight = 0;

    // =========================================================================================
    // Output: output targets, printer information, printing
    // =========================================================================================

    void PrinterBtnClick();
    void FaxBtnClick();
    void BitmapBtnClick();
    void SetupBtnClick();
    void UpdatePrinterInfo();
    void SelectPrinter(int Index);
    int CurrentPrinterIndex();
    // The integer tag of a button. PrinterBtn's and FaxBtn's hold the index of the printer
    // remembered for printer and fax mode, -1 for none; a button never tagged reads -1.
    int Tag(const QAbstractButton* Button) const;
    void SetTag(QAbstractButton* Button, int Value);
    void PrintBtnClick(QObject* Sender = nullptr);
    // The print command's work; with OnlyPage (the page a fast copy has just scanned) that page
    // alone is printed, whatever the page selection.
    void PrintPages(int OnlyPage);
    QList<TPicProperties*> GetPrintPics(int OnlyPage = 0);
    // Character filter of PagesEdit; setting Key to QChar() discards the character.
    void PagesEditKeyPress(QObject* Sender, QChar& Key);

    // The "Sichere in Datei" dialog of the bitmap target; remembers the last file chosen.
    FileDialogRequest SaveToBmpDialog;

private:
    // The mode of the checked radio button; the steps every radio click shares.
    TOutputMode OutputMode() const;
    void OutputModeClick(TOutputMode Mode);

public:
    // =========================================================================================
    // Picture collection and files
    // =========================================================================================

    void AddNewPic();
    void ClosePic();
    QAbstractButton* FindPicBtn(int n);
    void SelectPic(int n);
    void PicBtnClick(QAbstractButton* Sender);
    // The window's own key handler; sees every key press of the window before its controls.
    // Setting Key to 0 consumes the key.
    void FormKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void PicCloseItemClick();
    void Datei1Click();

    void PicOpenItemClick();
    void PicInsertItemClick();
    void PicSaveAsItemClick();
    void Bildkopieren1Click();
    void SaveAllPicsItemClick();
    void LoadPicFromFile(const QString& FileName);
    void CheckLoadedPic();
    void SavePicToFile(const QString& FileName);
    void SaveBitmapToFile(const QImage& Bitmap, const QString& FileName);

    // The current picture; never null while the window exists.
    TPicProperties* pic = nullptr;
    // Page number of the current picture.
    int CurrentPicNo = 1;
    // The picture record of every page button. The window owns the records.
    std::map<QAbstractButton*, std::unique_ptr<TPicProperties>> PicRecords;
    // The picture file dialogs; each remembers the folder of the last file chosen.
    FileDialogRequest PicOpenDialog;
    FileDialogRequest PicSaveDialog;
    FileDialogRequest SaveAllPicsDialog;

private:
    // The page buttons in page order (button k at index k - 1).
    QList<QAbstractButton*> PicButtons() const;
    // Moves the current picture from page From to the neighbouring page To and shows it there.
    void MovePic(int From, int To);
    void PresetPagesEdit();
    // Ctrl+F4 acts as if the "Datei" menu had been opened and its close entry chosen.
    void PicCloseShortcut();
    // Steps shared by a picture loaded from a file and one inserted from the clipboard;
    // `fileDpi` is the resolution the file records, empty when it records none.
    void ShowLoadedPic(const QSize& fileDpi = QSize());

public:
    // =========================================================================================
    // About box
    // =========================================================================================

    void About1Click();

protected:
    void setVisible(bool visible) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetupShellHandlers();
    void SetupTwainHandlers();
    void SetupLayoutHandlers();
    void SetupOutputHandlers();
    void SetupPicturesHandlers();
    void SetupAboutHandlers();

    void CenterOnScreen();
    // Lays out the window's controls for its current size, also while it is hidden.
    void ApplyLayouts();
    // Start-up steps 9 to 14: the objects the window owns.
    void CreateOwnedObjects();

    // Copy layout: the figures of the info panel, raising the arithmetic errors of a picture
    // without scanner resolution.
    void ShowPicFigures(bool Center);
    // Copy layout: the preview box shows the copy on the printable area. The box may stand far
    // outside the printable area (or be absurdly large); only its visible part is rendered.
    void SetPreviewBoxLeft(int Left);
    void SetPreviewBoxTop(int Top);
    void SetPreviewBoxGeometry(int Left, int Top, int Width, int Height);
    // Renders the visible part of the box; unless Always, only when that part changed.
    void RenderPreviewBitmap(bool Always);
    QColor PaperColor() const;
    void SetPaperColor(const QColor& Color);
    // Visible part of the preview box the bitmap was rendered for, in the box's coordinates.
    QRect RenderedPart;

    bool FormShown = false;
    QPointer<THelpWindow> HelpWindow;
    // The key press last handed to FormKeyDown and the control it was sent to: Qt offers an
    // unhandled key to each parent in turn, and the preview must see it only once.
    const QEvent* PreviewedKey = nullptr;
    QPointer<QWidget> PreviewedKeyTarget;
};

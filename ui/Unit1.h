#pragma once
// TForm1: the main window. It lays out the read-out, the report view, the settings pages and
// the menu, wires the port component to the line pipeline, and hands every decision to core/:
// ProcessLine (routing), ReportLimit (the line-limit edit) and RecordingSwitch (the recording
// file). The control members carry the names the rest of the program and the tests use.

#include <QFileDialog>
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ComDrv32.h"
#include "InstanceGuard.h"
#include "Konfig.h"
#include "LineAssembler.h"
#include "QuitRequest.h"
#include "RecordingSwitch.h"
#include "Umy_fun.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class ReportView;

class TForm1 : public QMainWindow,
               public ILineEnvironment,
               public IRecordingControls,
               public IKonfigTarget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- Controls (created in the constructor, named by objectName too) ----
    QWidget* Client = nullptr;  // the 792 x 526 client area
    QFrame* Pryswagi = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Ldisplay = nullptr;
    QLabel* Ljednost = nullptr;
    QTabWidget* PCustawienia = nullptr;
    QWidget* TSvek = nullptr;
    QLabel* Ivek = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Lvek2 = nullptr;
    QLabel* Lvek3 = nullptr;
    QWidget* TSplik = nullptr;
    QGroupBox* GBustawplik = nullptr;
    QCheckBox* CBzapis = nullptr;
    QLineEdit* Enazwapliku = nullptr;
    QPushButton* Bzmienplik = nullptr;
    QCheckBox* CBciaglyplik = nullptr;
    QWidget* TSraport = nullptr;
    QGroupBox* GBustawmemo = nullptr;
    QLabel* Lmaxlinie1 = nullptr;
    QLineEdit* Emaxlinie = nullptr;
    QLabel* Lmaxlinie2 = nullptr;
    QRadioButton* RBautoucinaj = nullptr;
    QRadioButton* RBautowyczysc = nullptr;
    QCheckBox* CBciaglymemo = nullptr;
    QPushButton* Bwyczysc = nullptr;
    ReportView* Mraport = nullptr;
    QStatusBar* StatusBar = nullptr;
    // Menu MainMenu1.
    QMenu* MMwidok = nullptr;
    QAction* Mwaga = nullptr;
    QAction* Mplik = nullptr;
    QAction* Mpodglad = nullptr;
    QAction* N2 = nullptr;
    QAction* MMustaw_rs = nullptr;  // handler MMustaw_rsClick comes with the settings dialog
    QMenu* MMpom = nullptr;
    QAction* Pomoc1 = nullptr;
    QAction* MMabout = nullptr;  // handler MMaboutClick comes with the about dialog
    QAction* N1 = nullptr;
    QAction* Koniec1 = nullptr;
    QActionGroup* ViewGroup = nullptr;  // radio group 6 of "&Widok"
    // Components without a place on screen.
    TCommPortDriver* ComPortDriver = nullptr;
    QFileDialog* SDplikzapisu = nullptr;

    // ---- Handlers ----
    void MwagaClick();
    void MplikClick();
    void MpodgladClick();
    void PCustawieniaChange();
    void MMpomClick();
    void Koniec1Click();
    // Validates and applies the limit text; false when it was rejected (box shown, focus kept).
    bool EmaxlinieExit();
    // Enter moves the focus on like Tab and is discarded (set to 0).
    void EmaxlinieKeyPress(char& key);
    void BwyczyscClick();
    // Only the left button counts. Returns true when a box was shown (the click is cancelled).
    bool CBzapisMouseDown(Qt::MouseButton button);
    void BzmienplikClick();
    void ComPortDriverReceiveData(TCommPortDriver* sender, const char* dataPtr,
                                  std::int32_t dataSize);

    // ---- Start-up and close (Unit1Startup.cpp) ----
    // The start-up sequence; the program entry runs it right after construction, before the
    // window is shown.
    void FormCreate();
    void FormClose();
    void MMustaw_rsClick();
    void MMaboutClick();
    // Free bytes of the working directory's drive for start-up's check (-1: unknown). Empty:
    // the real figure; tests put their own figure here.
    std::function<std::int64_t()> FreeSpaceQuery;
    // The single-instance guard, held from FormCreate until FormClose or the process ends.
    InstanceGuard InstanceMapping;
    // A second copy's quit request (posted by FormCreate, taken by the next event loop).
    QuitRequest Quit;

    // ---- Steps and accessors for start-up, close and the dialogs ----
    // Names the day's recording file "yyyymmdd" from today's local date and creates it when
    // recording is on and it is missing (error box and recording off when that fails).
    void CreateDayFile();
    // Shows a page from code: marks the matching view item, raises no PCustawieniaChange.
    void SetActivePage(int index);
    int ActivePage() const;
    void SetStatusText(const QString& text);
    QString StatusText() const;
    void ClearPendingLine() { assembler_.ClearPendingLine(); }
    const std::string& PendingLine() const { return assembler_.PendingLine(); }
    void SetMaxReportLines(std::int32_t lines) override { maxReportLines_ = lines; }
    void SetMaxLinesText(const std::string& text);  // Emaxlinie, Windows-1250
    std::string MaxLinesText() const override;
    std::string UnitCaption() const override;  // Ljednost, Windows-1250
    void SetUnitCaption(const std::string& caption) override;
    std::string Readout() const;  // Ldisplay, Windows-1250
    void SetRecordReadingsChecked(bool checked) override;
    void SetShowReadingsChecked(bool checked) override;
    void SetDeleteOldestSelected(bool selected) override;

    // ---- IKonfigTarget (the switches' getters and setters above serve it too) ----
    TComPortNumber ComPort() const override;
    void SetComPort(TComPortNumber port) override;
    TComPortBaudRate ComPortSpeed() const override;
    void SetComPortSpeed(TComPortBaudRate speed) override;

    // ---- ILineEnvironment ----
    void SetReadout(const std::string& text) override;
    int ReportLineCount() const override;
    void DeleteFirstReportLine() override;
    void ClearReport() override;
    void AppendReportLine(const std::string& line) override;
    bool ShowReadingsChecked() const override;
    bool RecordingChecked() const override;
    bool RecordReadingsChecked() const override;
    bool DeleteOldestSelected() const override;
    void UncheckRecording() override;
    std::int32_t MaxReportLines() const override { return maxReportLines_; }
    std::string RecordingFileName() const override;
    void ShowErrorBox(const std::string& text) override;
    char DecimalSeparator() const override { return ','; }

    // ---- IRecordingControls ----
    void SetRecordingChecked(bool checked) override;
    void SetRecordingFileName(const std::string& name) override;
    ConfirmAnswer AskConfirmation(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::optional<std::string> ChooseRecordingFile() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;  // runs FormClose (not in a second copy)

private:
    void BuildClientControls();
    void BuildWagaPage();
    void BuildPlikPage();
    void BuildPodgladPage();
    void BuildMenu();
    void BuildTabOrder();
    void ConnectHandlers();
    void MarkViewItem(int index);
    bool LimitEditEvent(QEvent* event);
    bool RecordingSwitchEvent(QEvent* event);
    bool PressLeavesLimitEdit(QEvent* event);
    bool PageSwitchAllowed(int index);
    void MoveFocusFromLimitEdit(bool forward);

    LineAssembler assembler_;
    QString lastChosenFile_;  // offered again by the save dialog
    std::int32_t maxReportLines_ = 300;
    bool pageFromCode_ = false;
    bool validatingLimit_ = false;
    bool leavingLimitEdit_ = false;  // the move away was validated already
};

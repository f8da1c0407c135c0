#pragma once
// The main window. It lays out the read-out, the report view, the settings pages and the menu,
// wires the serial port component to the line pipeline, owns the two dialogs, and hands every
// decision to core/: ProcessLine (routing), ReportLimit (the line-limit edit), RecordingSwitch
// (the recording file) and the settings file. Its controls are private; each carries the
// objectName the rest of the program and the tests find it by (CBzapis, Mraport, ...).

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "LineAssembler.h"
#include "LineRouting.h"
#include "RecordingSwitch.h"
#include "SettingsFile.h"

class AboutDialog;
class PortSettingsDialog;
class QAction;
class QActionGroup;
class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class ReadoutLabel;
class ReportView;
class SerialPort;
class SerialPortsWindow;

class MainWindow : public QMainWindow,
                   public ILineEnvironment,
                   public IRecordingControls,
                   public ISettingsTarget {
    Q_OBJECT
  public:
    // The pages of PCustawienia, in tab order; also the "&Widok" menu's view items.
    enum Page { kPageWaga = 0, kPagePlik = 1, kPagePodglad = 2 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    SerialPort& ComPortDriver() { return *comPortDriver_; }
    PortSettingsDialog& SettingsDialog() { return *settingsDialog_; }
    AboutDialog& About() { return *aboutDialog_; }
    SerialPortsWindow& PortsWindow() { return *portsWindow_; }
    const ReportView& Report() const { return *Mraport; }

    // ---- Handlers ----
    // A view item of "&Widok" (Mwaga, Mplik, Mpodglad): shows its page and marks the item.
    void ViewItemClick(int page);
    void PCustawieniaChange();
    void MMpomClick();
    void MMaboutClick();
    // "Parametry transmisji...": the dialog, then the reconnect with its choices.
    void MMustaw_rsClick();
    // Closes the port and opens it again with the same settings, as the settings dialog's
    // reconnect does (status text, PendingLine emptied when it opens).
    void ReopenPort();
    // "Porty szeregowe...": shows the serial ports window.
    void MMportyClick();
    // A COMn link was assigned in the serial ports window: the program's own port reconnects at
    // once, so that the status bar tells whether the new device opened.
    void PortLinkAssigned(PortNumber port);
    // The open port is gone: it is closed, the read-out emptied, the status bar says so, and the
    // same port is tried again about once a second until it opens.
    void ComPortDriverPortLost(SerialPort* sender);
    // One try of the automatic reconnect: nothing but a look-up while the device is missing.
    void RetryLostPort();
    bool RetryingLostPort() const { return retryTimer_.isActive(); }
    // The outcome of an open: the status text, and when it failed also the cause (in the status
    // bar's tooltip and on standard error) and an empty read-out, so no stale weight is shown.
    void ReportPortOpened(const QString& statusText);
    void ReportPortFailed(const QString& statusText);
    void Koniec1Click();
    // Validates and applies the limit text; false when it was rejected (box shown, focus kept).
    bool EmaxlinieExit();
    // Enter moves the focus on like Tab and is discarded (set to 0).
    void EmaxlinieKeyPress(char& key);
    void BwyczyscClick();
    // Only the left button counts. Returns true when a box was shown (the click is cancelled).
    bool CBzapisMouseDown(Qt::MouseButton button);
    void BzmienplikClick();
    void ComPortDriverReceiveData(SerialPort* sender, const char* dataPtr, std::int32_t dataSize);

    // ---- Steps and accessors for start-up, close and the tests ----
    // Names the day's recording file "yyyymmdd" from today's local date and creates it when
    // recording is on and it is missing (error box and recording off when that fails).
    void CreateDayFile();
    // Shows a page from code: raises no PCustawieniaChange and leaves the view items' mark.
    void SetActivePage(int page);
    int ActivePage() const;
    void SetStatusText(const QString& text);
    QString StatusText() const;
    void ClearPendingLine() { assembler_.ClearPendingLine(); }
    const std::string& PendingLine() const { return assembler_.PendingLine(); }
    void SetMaxLinesText(const Win1250Text& text);  // Emaxlinie
    Win1250Text Readout() const;                    // Ldisplay
    void SetMaxReportLines(std::int32_t lines) override { maxReportLines_ = lines; }

    // ---- ISettingsTarget (the switches' getters and setters below serve it too) ----
    PortNumber ComPort() const override;
    void SetComPort(PortNumber port) override;
    BaudRate ComPortSpeed() const override;
    void SetComPortSpeed(BaudRate speed) override;
    Win1250Text MaxLinesText() const override;
    Win1250Text UnitCaption() const override;  // Ljednost
    void SetUnitCaption(const Win1250Text& caption) override;
    void SetRecordReadingsChecked(bool checked) override;
    void SetShowReadingsChecked(bool checked) override;
    void SetDeleteOldestSelected(bool selected) override;

    // ---- ILineEnvironment ----
    void SetReadout(const Win1250Text& text) override;
    int ReportLineCount() const override;
    void DeleteFirstReportLine() override;
    void ClearReport() override;
    void AppendReportLine(const Win1250Text& line) override;
    bool ShowReadingsChecked() const override;
    bool RecordingChecked() const override;
    bool RecordReadingsChecked() const override;
    bool DeleteOldestSelected() const override;
    void UncheckRecording() override;
    std::int32_t MaxReportLines() const override { return maxReportLines_; }
    std::string RecordingFileName() const override;
    RecordingWriter& RecordingOutput() override { return recording_; }
    char DecimalSeparator() const override { return ','; }

    // ---- IRecordingControls and the boxes ----
    void SetRecordingChecked(bool checked) override;
    void SetRecordingFileName(const std::string& name) override;
    std::optional<std::string> ChooseRecordingFile() override;
    void ShowError(const std::string& text) override;
    ConfirmAnswer AskConfirmation(const std::string& text) override;

  signals:
    // The window is closing (close button, "&Wyjście z programu", a closing signal): the
    // program's close step runs here.
    void Closing();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildClientControls();
    void BuildWagaPage();
    void BuildPlikPage();
    void BuildPodgladPage();
    void BuildMenu();
    void BuildTabOrder();
    void BuildSaveDialog();
    void ConnectHandlers();
    void MarkViewItem(int page);
    bool LimitEditEvent(QEvent* event);
    bool RecordingSwitchEvent(QEvent* event);
    bool PressLeavesLimitEdit(QEvent* event);
    bool PageSwitchAllowed(int page);
    void MoveFocusFromLimitEdit(bool forward);
    // Brings the read-out's text up to the last value set (once per received chunk).
    void ShowReadout();

    // Controls (created in the constructor, named by objectName too).
    ReadoutLabel* Ldisplay = nullptr;
    QLabel* Ljednost = nullptr;
    QTabWidget* PCustawienia = nullptr;
    QLabel* Ivek = nullptr;
    QCheckBox* CBzapis = nullptr;
    QLineEdit* Enazwapliku = nullptr;
    QPushButton* Bzmienplik = nullptr;
    QCheckBox* CBciaglyplik = nullptr;
    QLineEdit* Emaxlinie = nullptr;
    QRadioButton* RBautoucinaj = nullptr;
    QRadioButton* RBautowyczysc = nullptr;
    QCheckBox* CBciaglymemo = nullptr;
    QPushButton* Bwyczysc = nullptr;
    ReportView* Mraport = nullptr;
    QStatusBar* StatusBar = nullptr;
    QAction* Mwaga = nullptr;
    QAction* Mplik = nullptr;
    QAction* Mpodglad = nullptr;
    QAction* MMustaw_rs = nullptr;
    QAction* MMporty = nullptr;
    QAction* Pomoc1 = nullptr;
    QAction* MMabout = nullptr;
    QAction* Koniec1 = nullptr;
    QFileDialog* SDplikzapisu = nullptr;

    SerialPort* comPortDriver_ = nullptr;
    std::unique_ptr<PortSettingsDialog> settingsDialog_;
    std::unique_ptr<AboutDialog> aboutDialog_;
    std::unique_ptr<SerialPortsWindow> portsWindow_;
    QTimer retryTimer_;  // the automatic reconnect after a lost port
    LineAssembler assembler_;
    RecordingWriter recording_;  // open only while a received chunk is worked through
    Win1250Text readout_;        // the read-out's value; the label shows it once per chunk
    bool readoutPending_ = false;
    int chunkDepth_ = 0;      // received chunks being worked through (nested under an error box)
    QString lastChosenFile_;  // offered again by the save dialog
    // Enazwapliku's text as the file system takes it, kept in step with the edit: every recorded
    // line asks for it, and encoding the text each time cost more than the line's write.
    std::string recordingFileName_;
    std::int32_t maxReportLines_ = 0;
    bool pageFromCode_ = false;
    bool validatingLimit_ = false;
    bool leavingLimitEdit_ = false;  // the move away was validated already
};

#pragma once
// The main window. It lays out the read-out, the report view, the settings pages and the menu,
// mirrors the operator's switches (OperatorSwitches), shows the port's state in the status bar,
// owns the dialogs, and hands every decision elsewhere: ReportLimit (the line-limit edit),
// RecordingSwitch (the recording file), PortSession (the port) and the settings file. It consumes
// no received line: the read-out and the report view are sinks of the line pipeline, built by
// the composition root.
// Its controls are private; each carries the objectName the rest of the program and the tests
// find it by (CBzapis, Mraport, ...).

#include <QMainWindow>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "DisplaySinks.h"
#include "OperatorSwitches.h"
#include "PortSession.h"
#include "RecordingSwitch.h"
#include "SettingsFile.h"

class AboutDialog;
struct AddOnIndicator;
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

class MainWindow : public QMainWindow, public IRecordingControls {
    Q_OBJECT
  public:
    // The pages of PCustawienia, in tab order; also the "&Widok" menu's view items.
    enum Page { kPageWaga = 0, kPagePlik = 1, kPagePodglad = 2 };

    // The port, its session and the switches belong to the composition root and outlive the
    // window. The window reads the port's settings for its dialogs and asks the session to
    // reconnect; what the session announces comes back through ShowPortStatus.
    MainWindow(SerialPort& port, PortSession& session, OperatorSwitches& switches,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // For additions' windows: an item at the end of the "&Widok" menu.
    QAction* AddViewMenuItem(const QString& text);
    // An addition's notice, shown in the status bar's tooltip after the port's cause, if any; an
    // empty text clears that source's notice.
    void SetAddOnNotice(const QString& source, const QString& text);
    // An addition's indicator in the menu bar's right corner, the label `name` (made on first
    // use, after the ones before it); hidden while its text is empty.
    void SetAddOnIndicator(const QString& name, const AddOnIndicator& indicator);
    // The fingerprint of the station's key that seals the journal, for the about dialog.
    void SetStationKey(const QString& fingerprint);
    // A step of the port's session: the status text (PortStatusText), the cause of a failed open
    // in the tooltip, and an empty read-out after a failure or a loss, so no stale weight shows.
    void ShowPortStatus(const PortStatus& status);
    // The running program's file digest, or why it is unknown, for the about dialog.
    void ShowProgramDigest(const QString& hex, const QString& error);

    // The displays the composition root makes sinks of.
    IReadoutDisplay& ReadoutDisplay();
    ReportView& ReportDisplay() { return *Mraport; }

    // ---- Steps for start-up and konfig.ini ----
    // Names the day's recording file "yyyymmdd" from today's local date and creates it when
    // recording is on and it is missing (error box and recording off when that fails).
    void CreateDayFile();
    // Shows a page from code: raises no PCustawieniaChange and leaves the view items' mark.
    void SetActivePage(int page);
    void SetMaxLinesText(const Win1250Text& text);  // Emaxlinie
    Win1250Text MaxLinesText() const;
    Win1250Text UnitCaption() const;  // Ljednost
    void SetUnitCaption(const Win1250Text& caption);

  signals:
    // The window is closing (close button, "&Wyjście z programu", a closing signal): the
    // program's close step runs here.
    void Closing();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private slots:
    // ---- Handlers: only the window's controls, menus and timers call them ----
    // A view item of "&Widok" (Mwaga, Mplik, Mpodglad): shows its page and marks the item.
    void ViewItemClick(int page);
    void PCustawieniaChange();
    void MMpomClick();
    void MMaboutClick();
    // "Parametry transmisji...": the dialog, then the reconnect with its choices.
    void MMustaw_rsClick();
    // "Porty szeregowe...": shows the serial ports window.
    void MMportyClick();
    // A COMn link was assigned in the serial ports window: the program's own port reconnects at
    // once, so that the status bar tells whether the new device opened.
    void PortLinkAssigned(PortNumber port);
    void Koniec1Click();
    // Validates and applies the limit text; false when it was rejected (box shown, focus kept).
    bool EmaxlinieExit();
    // Enter moves the focus on like Tab and is discarded (set to 0).
    void EmaxlinieKeyPress(char& key);
    void BwyczyscClick();
    // Only the left button counts. Returns true when a box was shown (the click is cancelled).
    bool CBzapisMouseDown(Qt::MouseButton button);
    void BzmienplikClick();

  private:
    // ---- IRecordingControls and the boxes (the recording switch's handling, the sinks' boxes)
    // ----
    bool RecordingChecked() const override;
    std::string RecordingFileName() const override;
    void SetRecordingChecked(bool checked) override;
    void SetRecordingFileName(const std::string& name) override;
    std::optional<std::string> ChooseRecordingFile() override;
    void ShowError(const std::string& text) override;
    ConfirmAnswer AskConfirmation(const std::string& text) override;

    int ActivePage() const;
    void SetStatusText(const QString& text);
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
    // The controls show the switches' values.
    void MirrorSwitches();
    void ClearReadout();
    void ShowCauseAndNotices();

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
    PortSession& session_;
    OperatorSwitches& switches_;
    std::unique_ptr<PortSettingsDialog> settingsDialog_;
    std::unique_ptr<AboutDialog> aboutDialog_;
    std::unique_ptr<SerialPortsWindow> portsWindow_;
    int switchesListener_ = 0;
    QString portCause_;                        // why the port did not open (tooltip)
    std::map<QString, QString> addOnNotices_;  // by source, in the tooltip after the cause
    QWidget* indicators_ = nullptr;            // the menu bar's corner, made on first use
    QString lastChosenFile_;                   // offered again by the save dialog
    bool pageFromCode_ = false;
    bool validatingLimit_ = false;
    bool leavingLimitEdit_ = false;  // the move away was validated already
};

#pragma once
// AboutDialog: the about dialog, shown without being modal. The logo unfolds a panel with the
// maker's advertising text; the web and e-mail links open through the desktop shell. The
// version's tooltip identifies the program for an inspector: the version, the SHA-256 of the
// running program's file and the station key's fingerprint.

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWindow;
class BevelPanel;
class ClickLabel;

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    // Client heights of the two layouts. The outer heights (291 and 387 with a 27-pixel title bar
    // and border) follow from whatever frame the window system adds.
    static constexpr int kClientWidth = 266;
    static constexpr int kFoldedClientHeight = 264;
    static constexpr int kUnfoldedClientHeight = 360;
    static constexpr int kFoldedPanelHeight = 209;
    static constexpr int kUnfoldedPanelHeight = 305;
    static constexpr int kFoldedButtonTop = 228;
    static constexpr int kUnfoldedButtonTop = 324;
    static constexpr int kVersionRightEdge = 226;

    explicit AboutDialog(QWidget* parent = nullptr);

    // The shell call of the links; tests replace it. The result is not examined.
    using UrlOpener = std::function<void(const QUrl&)>;
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }

    // The station key's fingerprint, in the version's tooltip.
    void SetStationKey(const QString& fingerprint);
    void FormActivate();  // fold, and show the version
    void IvekClick();     // unfold when folded, else fold
    void Label3Click();
    void LvekemailClick();
    void OKButtonClick();
    bool Folded() const;

    // The running program's file digest (64 hex digits), or why it is unknown; shown in the
    // version's tooltip from then on. Until then it says it is being computed.
    void ShowProgramDigest(const QString& hex, const QString& error);

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // Controls, found by the tests through their objectName.
    BevelPanel* Panel1;
    ClickLabel* Ivek;
    QLabel* Label2;
    QLabel* Label4;
    ClickLabel* Label3;
    QLabel* Label1;
    ClickLabel* Lvekemail;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Lvek1;
    QLabel* Lversion;
    QPlainTextEdit* Mreklama;
    QPushButton* OKButton;

    void NameControls();
    void BuildPanel();
    void BuildLinks();
    void BuildMakerLines();
    void ShowIdentification();
    void SetLayout(int panelHeight, int clientHeight, int buttonTop);
    void NoteFocusWindow(QWindow* window);

    UrlOpener openUrl_;
    QString digest_;          // the file's digest, or why it is unknown; empty: being computed
    QString keyFingerprint_;  // the station key's; empty: the rows are not sealed
    bool placed_ = false;     // centred once; later showings keep the place
    QPointer<QWindow> previousFocus_;  // the program's window that had the focus before us
};

#include "AboutDialog.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "AboutDialogParts.h"
#include "Drawing.h"
#include "MakerData.h"
#include "Version.h"

namespace {

const QColor kLinkBlue(0, 0, 255);
const QColor kLinkPurple(128, 0, 128);

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

// Widens a label whose text does not fit, the way an auto-sized label grows: a left-aligned one
// to the right, a right-aligned one to the left, a centred one to both sides.
// `anchor` overrides the label's own alignment for the direction of growth.
void FitToText(QLabel* label, Qt::Alignment anchor = {}) {
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    const int extra = needed - label->width();
    if (extra <= 0) return;
    const Qt::Alignment grow = anchor ? anchor : label->alignment();
    int left = label->x();
    if (grow & Qt::AlignRight) left -= extra;
    if (grow & Qt::AlignHCenter) left -= extra / 2;
    label->setGeometry(left, label->y(), needed, label->height());
}

template <typename Label>
Label* MakeLabel(QWidget* parent, const QString& text, QRect geometry,
                 Qt::Alignment alignment = Qt::AlignLeft) {
    auto* label = new Label(parent);
    label->setText(text);
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setObjectName("AboutBox");
    setWindowTitle("O producencie...");
    setFont(DialogFont(11));
    BuildPanel();
    BuildLinks();
    BuildMakerLines();
    OKButton = new QPushButton("OK", this);
    OKButton->setGeometry(95, kFoldedButtonTop, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &AboutDialog::OKButtonClick);
    ShowIdentification();
    NameControls();
    SetLayout(kFoldedPanelHeight, kFoldedClientHeight, kFoldedButtonTop);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &AboutDialog::NoteFocusWindow);
}

void AboutDialog::BuildPanel() {
    Panel1 = new BevelPanel(this);
    Panel1->setGeometry(16, 8, 233, kFoldedPanelHeight);
    Ivek = MakeLabel<ClickLabel>(Panel1, {}, QRect(88, 56, 65, 25));
    Ivek->setPixmap(SmallMakerLogo());
    Ivek->setCursor(Qt::PointingHandCursor);
    Ivek->setToolTip(
        QString("Kliknij, aby dowiedzieć się więcej o produktach %1...").arg(maker::kBrand));
    connect(Ivek, &ClickLabel::Clicked, this, &AboutDialog::IvekClick);
    Label2 = MakeLabel<QLabel>(Panel1, maker::kSlogan, QRect(32, 24, 168, 16), Qt::AlignHCenter);
    Label2->setFont(DialogFont(13, /*bold=*/true));
    SetTextColour(Label2, Qt::black);
    FitToText(Label2);
    Mreklama = new QPlainTextEdit(MakerAdvertisingText(), Panel1);
    Mreklama->setGeometry(8, 216, 217, 81);
    Mreklama->setReadOnly(true);
    Mreklama->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Mreklama->setFocusPolicy(Qt::ClickFocus);  // skipped by Tab
    Mreklama->setFont(CourierNewFont(11));
    SetTextColour(Mreklama, Qt::black);
}

void AboutDialog::BuildLinks() {
    const QFont linkFont = DialogFont(11, false, /*underline=*/true);
    Label4 = MakeLabel<QLabel>(Panel1, "Internet:", QRect(39, 96, 39, 13), Qt::AlignRight);
    Label3 =
        MakeLabel<ClickLabel>(Panel1, maker::kWebUrl, QRect(80, 96, 110, 13), Qt::AlignHCenter);
    Label3->setToolTip(
        QString("Kliknij, aby odwiedzić internetową stronę %1").arg(maker::kCompanyName));
    Label1 = MakeLabel<QLabel>(Panel1, "E-mail:", QRect(55, 120, 31, 13), Qt::AlignRight);
    Lvekemail =
        MakeLabel<ClickLabel>(Panel1, maker::kEmail, QRect(88, 120, 83, 13), Qt::AlignHCenter);
    Lvekemail->setToolTip(QString("Kliknij, aby wysłać maila do %1").arg(maker::kCompanyName));
    for (ClickLabel* link : {Label3, Lvekemail}) {
        link->setFont(linkFont);
        link->setCursor(Qt::PointingHandCursor);
        SetTextColour(link, kLinkBlue);
        connect(link, &ClickLabel::Pressed, this, [link] { SetTextColour(link, kLinkPurple); });
        connect(link, &ClickLabel::Released, this, [link] { SetTextColour(link, kLinkBlue); });
    }
    // The links grow to the right, so that they never run into their captions.
    FitToText(Label3, Qt::AlignLeft);
    FitToText(Lvekemail, Qt::AlignLeft);
    FitToText(Label4);
    FitToText(Label1);
    connect(Label3, &ClickLabel::Clicked, this, &AboutDialog::Label3Click);
    connect(Lvekemail, &ClickLabel::Clicked, this, &AboutDialog::LvekemailClick);
}

void AboutDialog::BuildMakerLines() {
    Label5 = MakeLabel<QLabel>(Panel1, maker::kCompanyLine, QRect(64, 152, 89, 13));
    Label6 = MakeLabel<QLabel>(Panel1, maker::kPhoneFaxLine, QRect(64, 168, 114, 13));
    Lvek1 = MakeLabel<QLabel>(Panel1, maker::kSecondPhoneLine, QRect(64, 184, 86, 13));
    for (QLabel* label : {Label5, Label6, Lvek1}) FitToText(label);
    Lversion = MakeLabel<QLabel>(Panel1, "(wersja)", QRect(194, 192, 32, 12), Qt::AlignRight);
    Lversion->setFont(ArialFont(9));
    SetTextColour(Lversion, Qt::gray);
}

void AboutDialog::ShowProgramDigest(const QString& hex, const QString& error) {
    digest_ = !hex.isEmpty()     ? hex
              : !error.isEmpty() ? QStringLiteral("nieznany: ") + error
                                 : QString();
    ShowIdentification();
}

void AboutDialog::SetStationKey(const QString& fingerprint) {
    keyFingerprint_ = fingerprint;
    ShowIdentification();
}

// The identification for an inspector, in the version's tooltip: the described layout stays as
// it is, and a 64-digit digest would not fit its 266 pixels anyway.
void AboutDialog::ShowIdentification() {
    QString text = QStringLiteral("Wersja %1\nSHA-256 pliku programu: %2")
                       .arg(QString::fromLatin1(kProgramVersion),
                            digest_.isEmpty() ? QStringLiteral("(liczenie…)") : digest_);
    if (!keyFingerprint_.isEmpty())
        text += QStringLiteral(
                    "\nOdcisk klucza stacji (pieczęć dziennika): %1\n"
                    "waga-journal key pokazuje go, waga-journal verify sprawdza "
                    "dziennik.")
                    .arg(keyFingerprint_);
    Lversion->setToolTip(text);
}

void AboutDialog::SetLayout(int panelHeight, int clientHeight, int buttonTop) {
    Panel1->resize(Panel1->width(), panelHeight);
    setFixedSize(kClientWidth, clientHeight);
    OKButton->move(OKButton->x(), buttonTop);
}

bool AboutDialog::Folded() const { return Panel1->height() == kFoldedPanelHeight; }

void AboutDialog::FormActivate() {
    SetLayout(kFoldedPanelHeight, kFoldedClientHeight, kFoldedButtonTop);
    Lversion->setText(QString("%1_%2").arg(maker::kBrand, kProgramVersion));
    // Sized to its text, right edge kept in place.
    const int width = Lversion->fontMetrics().horizontalAdvance(Lversion->text());
    Lversion->setGeometry(kVersionRightEdge - width, Lversion->y(), width, Lversion->height());
}

void AboutDialog::IvekClick() {
    if (Folded())
        SetLayout(kUnfoldedPanelHeight, kUnfoldedClientHeight, kUnfoldedButtonTop);
    else
        SetLayout(kFoldedPanelHeight, kFoldedClientHeight, kFoldedButtonTop);
}

void AboutDialog::Label3Click() { openUrl_(QUrl(maker::kWebUrl)); }

void AboutDialog::LvekemailClick() { openUrl_(QUrl(QString("mailto:") + maker::kEmail)); }

void AboutDialog::OKButtonClick() { done(QDialog::Accepted); }

// Activation from another window of the program folds the dialog; coming back from another
// application does not, so the browser opened by a link does not fold it behind one's back.
bool AboutDialog::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && previousFocus_) FormActivate();
    return QDialog::event(event);
}

void AboutDialog::NoteFocusWindow(QWindow* window) {
    if (window != windowHandle()) previousFocus_ = window;
}

void AboutDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();  // being shown activates it, even where the window system gives no focus
    if (placed_) return;
    placed_ = true;
    if (const QScreen* shown = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->availableGeometry().center());
        move(frame.topLeft());
    }
}

void AboutDialog::NameControls() {
    Panel1->setObjectName("Panel1");
    Ivek->setObjectName("Ivek");
    Label2->setObjectName("Label2");
    Label4->setObjectName("Label4");
    Label3->setObjectName("Label3");
    Label1->setObjectName("Label1");
    Lvekemail->setObjectName("Lvekemail");
    Label5->setObjectName("Label5");
    Label6->setObjectName("Label6");
    Lvek1->setObjectName("Lvek1");
    Lversion->setObjectName("Lversion");
    Mreklama->setObjectName("Mreklama");
    OKButton->setObjectName("OKButton");
}

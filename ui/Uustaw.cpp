#include "Uustaw.h"

#include <QPushButton>
#include <QScreen>

#include "ComDrv32.h"
#include "RadioGroup.h"

namespace {

// "MS Sans Serif" 8 point at 96 dpi; Liberation Sans keeps 11-pixel texts inside their boxes.
QFont DialogFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(11);
    return font;
}

TRadioGroup* MakeGroup(QWidget* parent, const QString& caption, const QStringList& items,
                       int columns, QRect geometry, int selected) {
    auto* group = new TRadioGroup(caption, items, columns, parent);
    group->setGeometry(geometry);
    group->SetItemIndex(selected);
    return group;
}

}  // namespace

TFormUstaw::TFormUstaw(TCommPortDriver* portDriver, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      portDriver_(portDriver) {
    setObjectName("FormUstaw");
    setWindowTitle("Ustawienia...");
    setFont(DialogFont());
    setFixedSize(273, 175);
    RGNumPortu = MakeGroup(this, "Numer portu", {"COMM1", "COMM2", "COMM3", "COMM4"}, 1,
                           QRect(16, 8, 89, 97), 1);
    RGSzybkosc = MakeGroup(this, "Szybkość transmisji",
                           {"110", "300", "600", "1200", "2400", "4800", "9600", "14400"}, 2,
                           QRect(120, 8, 137, 97), 4);
    BOk = new QPushButton("Zamknij", this);
    BOk->setGeometry(88, 128, 105, 33);
    RGDataBit = MakeGroup(this, "Bitów danych", {"5", "6", "7", "8"}, 1, QRect(8, 208, 81, 97), 3);
    RGParity = MakeGroup(this, "Parzystość", {"none", "odd", "even", "mark", "space"}, 1,
                         QRect(96, 208, 73, 97), 0);
    RGDataBit->hide();
    RGParity->hide();
    RGNumPortu->setObjectName("RGNumPortu");
    RGSzybkosc->setObjectName("RGSzybkosc");
    BOk->setObjectName("BOk");
    connect(BOk, &QPushButton::clicked, this, &TFormUstaw::BOkClick);
}

void TFormUstaw::FormShow() {
    if (portDriver_) ShowPortAndSpeed(portDriver_->ComPort(), portDriver_->ComPortSpeed());
}

void TFormUstaw::ShowPortAndSpeed(TComPortNumber port, TComPortBaudRate speed) {
    RGNumPortu->SetItemIndex(port);
    RGSzybkosc->SetItemIndex(speed < RGSzybkosc->ItemCount() ? int{speed} : -1);
}

void TFormUstaw::BOkClick() { close(); }

PortSelections TFormUstaw::Selections() const {
    return {RGNumPortu->ItemIndex(), RGSzybkosc->ItemIndex(), RGDataBit->ItemIndex(),
            RGParity->ItemIndex()};
}

void TFormUstaw::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
    CentreOnScreen();
    BOk->setFocus();
}

void TFormUstaw::CentreOnScreen() {
    if (const QScreen* shown = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->availableGeometry().center());
        move(frame.topLeft());
    }
}

#include "PortSettingsDialog.h"

#include <QPushButton>
#include <QScreen>

#include "Drawing.h"
#include "RadioGroup.h"
#include "SerialPort.h"
#include "SettingsFormat.h"
#include "WindowPlacement.h"

namespace {

RadioGroup* MakeGroup(QWidget* parent, const QString& caption, const QStringList& items,
                      int columns, QRect geometry, int selected) {
    auto* group = new RadioGroup(caption, items, columns, parent);
    group->setGeometry(geometry);
    group->SetItemIndex(selected);
    return group;
}

// The speeds the dialog offers: the first eight of the component's table, as text.
QStringList OfferedSpeeds() {
    QStringList speeds;
    for (int speed = br110; speed <= br14400; ++speed)
        speeds << QString::fromStdString(SpeedToText(static_cast<BaudRate>(speed)));
    return speeds;
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(SerialPort* portDriver, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      portDriver_(portDriver) {
    setObjectName("FormUstaw");
    setWindowTitle("Ustawienia...");
    setFont(DialogFont(11));
    setFixedSize(273, 175);
    // Until FormShow shows the component's values, the groups show konfig.ini's defaults.
    RGNumPortu = MakeGroup(this, "Numer portu", {"COMM1", "COMM2", "COMM3", "COMM4"}, 1,
                           QRect(16, 8, 89, 97), *DefaultSettings().comPort);
    RGSzybkosc = MakeGroup(this, "Szybkość transmisji", OfferedSpeeds(), 2, QRect(120, 8, 137, 97),
                           *DefaultSettings().comPortSpeed);
    BOk = new QPushButton("Zamknij", this);
    BOk->setGeometry(88, 128, 105, 33);
    RGDataBit =
        MakeGroup(this, "Bitów danych", {"5", "6", "7", "8"}, 1, QRect(8, 208, 81, 97), db8BITS);
    RGParity = MakeGroup(this, "Parzystość", {"none", "odd", "even", "mark", "space"}, 1,
                         QRect(96, 208, 73, 97), ptNONE);
    RGDataBit->hide();
    RGParity->hide();
    RGNumPortu->setObjectName("RGNumPortu");
    RGSzybkosc->setObjectName("RGSzybkosc");
    BOk->setObjectName("BOk");
    RGDataBit->setObjectName("RGDataBit");
    RGParity->setObjectName("RGParity");
    connect(BOk, &QPushButton::clicked, this, &PortSettingsDialog::BOkClick);
}

void PortSettingsDialog::FormShow() {
    if (portDriver_) ShowPortAndSpeed(portDriver_->ComPort(), portDriver_->ComPortSpeed());
}

void PortSettingsDialog::ShowPortAndSpeed(PortNumber port, BaudRate speed) {
    RGNumPortu->SetItemIndex(port);
    RGSzybkosc->SetItemIndex(speed < RGSzybkosc->ItemCount() ? int{speed} : -1);
}

void PortSettingsDialog::BOkClick() { close(); }

namespace {

// A group's selection as its enumeration: the item's index is the ordinal; no selection, none.
template <typename Enum>
std::optional<Enum> ChosenValue(const RadioGroup& group, int count) {
    const int index = group.ItemIndex();
    if (index < 0 || index >= count) return std::nullopt;
    return static_cast<Enum>(index);
}

}  // namespace

PortSettings PortSettingsDialog::Chosen() const {
    return {ChosenValue<PortNumber>(*RGNumPortu, kComPortCount),
            ChosenValue<BaudRate>(*RGSzybkosc, kBaudRateCount),
            ChosenValue<DataBits>(*RGDataBit, kDataBitsCount),
            ChosenValue<Parity>(*RGParity, kParityCount)};
}

void PortSettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
    CentreOnScreen();
    BOk->setFocus();
}

// The same place at every showing (see CentredFramePosition).
void PortSettingsDialog::CentreOnScreen() {
    if (const QScreen* shown = screen())
        PlaceFrameAt(*this, CentredFramePosition(shown->availableGeometry(), size()));
}

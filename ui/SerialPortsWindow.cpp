#include "SerialPortsWindow.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Drawing.h"
#include "MessageBoxes.h"
#include "PortStatusTexts.h"
#include "SerialDevice.h"
#include "SerialPort.h"
#ifndef _WIN32
#include "SerialDevicePosix.h"
#endif

namespace {

enum PortColumn { kPortName = 0, kPortDevice, kPortState };
enum DeviceColumn {
    kDevicePath = 0,
    kDeviceDescription,
    kDeviceMaker,
    kDeviceSerial,
    kDeviceStable
};
constexpr int kLinkTargetRole = Qt::UserRole;  // on a device row: the name the link leads to
constexpr int kFewestDeviceRows = 3;
constexpr int kMostDeviceRows = 8;  // beyond this the devices table scrolls

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString PortLabel(PortNumber port) { return QString::fromStdString(PortName(port)); }

// The selected row of a single-selection table, or -1.
int SelectedRow(const QTableWidget* table) {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QTableWidget* MakeTable(QWidget* parent, const char* name, const QStringList& headers) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setTabKeyNavigation(false);  // Tab moves on to the next control
    table->setWordWrap(false);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return table;
}

// A read-only cell; an empty value shows as a dash, so a missing one is not taken for a fault.
QTableWidgetItem* Cell(const QString& text, bool bold = false) {
    auto* item = new QTableWidgetItem(text.isEmpty() ? QStringLiteral("—") : text);
    item->setToolTip(text);
    if (bold) {
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
    }
    return item;
}

// The height that shows `rows` rows without scrolling, and the width that shows every column.
int TableHeight(const QTableWidget* table, int rows) {
    return 2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height() +
           rows * table->verticalHeader()->defaultSectionSize();
}
int TableWidth(const QTableWidget* table, bool scrolls) {
    constexpr int kSlack = 8;  // keeps a scroll bar from appearing over a pixel of rounding
    int width = 2 * table->frameWidth() + kSlack;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (table->isColumnHidden(column)) continue;
        // What the texts need, not the current width (the last column stretches).
        const QAbstractItemView* view = table;  // where sizeHintForColumn is public
        width += std::max(view->sizeHintForColumn(column),
                          table->horizontalHeader()->sectionSizeHint(column));
    }
    if (scrolls) width += table->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return width;
}

QString AssignedText(PortNumber port, const QString& target, const LinkResult& result) {
    const QString previous = FromPath(result.previousTarget);
    if (result.outcome == LinkOutcome::Replaced && !previous.isEmpty() && previous != target) {
        return QString("Port %1 przypisano do %2 (wcześniej: %3).")
            .arg(PortLabel(port), target, previous);
    }
    return QString("Port %1 przypisano do %2.").arg(PortLabel(port), target);
}

QString NotALinkText(PortNumber port, bool folder) {
    return QString(
               "%1 w folderze roboczym %2 jest %3, a nie dowiązaniem, więc program go nie "
               "zmienia. Usuń go lub zmień jego nazwę, a potem przypisz urządzenie ponownie.")
        .arg(PortLabel(port), QDir::currentPath(),
             folder ? QStringLiteral("folderem") : QStringLiteral("plikiem"));
}

QString LinkFailedText(PortNumber port, const QString& target, int error) {
    QString reason;
    if (error == EACCES || error == EPERM || error == EROFS) {
        reason =
            QString("brak uprawnień do zapisu w folderze roboczym %1").arg(QDir::currentPath());
    } else {
        reason =
            QString("%1 (błąd %2)").arg(QString::fromLocal8Bit(std::strerror(error))).arg(error);
    }
    return QString("Nie można przypisać portu %1 do %2: %3.").arg(PortLabel(port), target, reason);
}

QString DevicePathRefusedText(PortNumber port, const QString& path, DevicePathCheck check) {
    const QString reason = check == DevicePathCheck::Missing
                               ? QStringLiteral("nie ma takiego urządzenia")
                               : QStringLiteral("to nie jest urządzenie znakowe (port szeregowy)");
    return QString("Nie można przypisać portu %1 do %2: %3.").arg(PortLabel(port), path, reason);
}

// The device a port stands for, as the operator would name it; "(domyślne)" when no COMn link
// or file in the working directory says otherwise.
QString PortDevice(PortNumber port) {
    const std::string name = PortName(port);
#ifdef _WIN32
    return QString::fromStdString(name);
#else
    const QString device = FromPath(PortDeviceName(name));
    if (ResolvePortPath(name) == name) return device;
    return QString("%1 (domyślne)").arg(device);
#endif
}

}  // namespace

SerialPortsWindow::SerialPortsWindow(const SerialPort* programPort, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programPort_(programPort),
      deviceSource_(SystemSerialDevices) {
    setObjectName(QStringLiteral("FormPorty"));
    setWindowTitle(QStringLiteral("Porty szeregowe"));
    setFont(DialogFont(11));
    auto* layout = new QVBoxLayout(this);
    LWskazowka = new QLabel(this);
    LWskazowka->setObjectName(QStringLiteral("LWskazowka"));
    LWskazowka->setWordWrap(true);
    layout->addWidget(LWskazowka);
    BuildTables();
    LKomunikat = new QLabel(this);
    LKomunikat->setObjectName(QStringLiteral("LKomunikat"));
    LKomunikat->setWordWrap(true);
    LKomunikat->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LKomunikat->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for the result line kept whether or not there is one, so nothing below it moves.
    LKomunikat->setMinimumHeight(2 * LKomunikat->fontMetrics().lineSpacing());
    layout->addWidget(LKomunikat);
    BuildButtons();
}

void SerialPortsWindow::BuildTables() {
    auto* ports = new QGroupBox(QStringLiteral("Porty programu"), this);
    auto* portsLayout = new QVBoxLayout(ports);
    TPorty = MakeTable(ports, "TPorty", {"Port", "Urządzenie", "Stan"});
    TPorty->setRowCount(kComPortCount);
    portsLayout->addWidget(TPorty);
    ports->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    layout()->addWidget(ports);

    auto* devices = new QGroupBox(QStringLiteral("Urządzenia szeregowe w komputerze"), this);
    auto* devicesLayout = new QVBoxLayout(devices);
    TUrzadzenia = MakeTable(devices, "TUrzadzenia",
                            {"Urządzenie", "Opis", "Producent", "Numer seryjny", "Nazwa stała"});
    // Stable names are a Linux folder; Windows names its ports itself.
    TUrzadzenia->setColumnHidden(kDeviceStable, !PortAssignmentOffered());
    devicesLayout->addWidget(TUrzadzenia);
    LBrakUrzadzen = new QLabel(
        QStringLiteral("Nie znaleziono żadnego urządzenia szeregowego. Podłącz przejściówkę i "
                       "„Odśwież”."),
        devices);
    LBrakUrzadzen->setObjectName(QStringLiteral("LBrakUrzadzen"));
    LBrakUrzadzen->setWordWrap(true);
    devicesLayout->addWidget(LBrakUrzadzen);
    if (PortAssignmentOffered()) {
        auto* pathRow = new QHBoxLayout;
        auto* pathLabel = new QLabel(QStringLiteral("Inne urządzenie (ścieżka):"), devices);
        ESciezka = new QLineEdit(devices);
        ESciezka->setObjectName(QStringLiteral("ESciezka"));
        ESciezka->setPlaceholderText(QStringLiteral("np. /dev/pts/3 albo /dev/serial/by-path/..."));
        ESciezka->setMinimumWidth(
            ESciezka->fontMetrics().horizontalAdvance(ESciezka->placeholderText()) + 24);
        pathLabel->setBuddy(ESciezka);
        pathRow->addWidget(pathLabel);
        pathRow->addWidget(ESciezka, 1);
        devicesLayout->addLayout(pathRow);
        connect(ESciezka, &QLineEdit::textEdited, this, [this] { DevicePathEdited(); });
    }
    layout()->addWidget(devices);

    connect(TPorty, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(TUrzadzenia, &QTableWidget::itemSelectionChanged, this, [this] {
        // A device chosen from the list takes the place of a typed path.
        if (ESciezka != nullptr && SelectedRow(TUrzadzenia) >= 0) ESciezka->clear();
        SelectionChanged();
    });
}

// A typed path takes the place of the device chosen from the list.
void SerialPortsWindow::DevicePathEdited() {
    if (!ESciezka->text().isEmpty()) TUrzadzenia->clearSelection();
    SelectionChanged();
}

void SerialPortsWindow::BuildButtons() {
    auto* row = new QHBoxLayout;
    BPrzypisz = new QPushButton(QStringLiteral("Przypisz"), this);
    BPrzypisz->setObjectName(QStringLiteral("BPrzypisz"));
    BPrzypisz->setVisible(PortAssignmentOffered());
    BOdswiez = new QPushButton(QStringLiteral("Odśwież"), this);
    BOdswiez->setObjectName(QStringLiteral("BOdswiez"));
    BZamknij = new QPushButton(QStringLiteral("Zamknij"), this);
    BZamknij->setObjectName(QStringLiteral("BZamknij"));
    // Enter in a table must not assign or close by surprise.
    for (QPushButton* button : {BPrzypisz, BOdswiez, BZamknij}) button->setAutoDefault(false);
    row->addWidget(BPrzypisz);
    row->addWidget(BOdswiez);
    row->addStretch();
    row->addWidget(BZamknij);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(BPrzypisz, &QPushButton::clicked, this, [this] { BPrzypiszClick(); });
    connect(BOdswiez, &QPushButton::clicked, this, [this] { BOdswiezClick(); });
    connect(BZamknij, &QPushButton::clicked, this, &QDialog::close);
}

void SerialPortsWindow::showEvent(QShowEvent* event) {
    LKomunikat->clear();
    Refresh(true);
    QDialog::showEvent(event);
}

void SerialPortsWindow::BOdswiezClick() { Refresh(false); }

void SerialPortsWindow::Refresh(bool showing) {
    const QString used = programPort_ != nullptr ? PortLabel(programPort_->ComPort()) : "";
    QString hint = used.isEmpty() ? QString() : QString("Program używa portu %1. ").arg(used);
    if (PortAssignmentOffered()) {
        hint += QStringLiteral(
            "Aby przypisać urządzenie do portu, zaznacz port i urządzenie, a potem naciśnij "
            "„Przypisz”.");
    } else {
        hint += QStringLiteral(
            "W systemie Windows nazwy COM1–COM4 nadaje system; zmienia się je w Menedżerze "
            "urządzeń.");
    }
    LWskazowka->setText(hint);
    FillPorts();
    FillDevices(showing);
    FitToTables(showing);
    SelectionChanged();
}

QString SerialPortsWindow::PortState(PortNumber port) const {
    if (programPort_ != nullptr && programPort_->IsPortOpen() && programPort_->ComPort() == port) {
        return QStringLiteral("otwarty przez ten program");
    }
    const std::unique_ptr<ISerialDevice> probe = CreatePlatformSerialDevice();
    const OpenResult result = probe->Open(PortName(port));
    if (!result.Opened()) return OpenFailureCause(result);
    probe->Close();
    return QStringLiteral("można otworzyć");
}

void SerialPortsWindow::FillPorts() {
    const int selected = SelectedRow(TPorty);
    for (int row = 0; row < kComPortCount; ++row) {
        const auto port = static_cast<PortNumber>(row);
        const bool programs = programPort_ != nullptr && programPort_->ComPort() == port;
        TPorty->setItem(row, kPortName, Cell(PortLabel(port), programs));
        TPorty->setItem(row, kPortDevice, Cell(PortDevice(port), programs));
        TPorty->setItem(row, kPortState, Cell(PortState(port), programs));
    }
    const int fallback = programPort_ != nullptr ? programPort_->ComPort() : 0;
    TPorty->selectRow(selected >= 0 ? selected : fallback);
}

// Which device is selected: on a new showing the first with a stable name (a USB adapter, the
// usual pick), else the first; on a refresh a device that has just appeared (the adapter just
// plugged in), else the one selected before.
void SerialPortsWindow::FillDevices(bool showing) {
    QStringList before;
    for (int row = 0; row < TUrzadzenia->rowCount(); ++row) {
        before << TUrzadzenia->item(row, kDevicePath)->text();
    }
    const int selectedRow = SelectedRow(TUrzadzenia);
    const QString selected = selectedRow >= 0 ? before[selectedRow] : QString();
    const QList<PresentSerialDevice> devices =
        deviceSource_ ? deviceSource_() : QList<PresentSerialDevice>{};
    TUrzadzenia->clearContents();
    TUrzadzenia->setRowCount(static_cast<int>(devices.size()));
    int kept = -1;
    int firstStable = -1;
    int firstNew = -1;
    int firstNewStable = -1;
    for (int row = 0; row < TUrzadzenia->rowCount(); ++row) {
        const PresentSerialDevice& device = devices[row];
        const QString stable = PortAssignmentOffered()
                                   ? FromPath(StableDeviceName(ToPath(device.device), byIdFolder_))
                                   : QString();
        QTableWidgetItem* path = Cell(device.device);
        path->setData(kLinkTargetRole, stable.isEmpty() ? device.device : stable);
        TUrzadzenia->setItem(row, kDevicePath, path);
        TUrzadzenia->setItem(row, kDeviceDescription, Cell(device.description));
        TUrzadzenia->setItem(row, kDeviceMaker, Cell(device.manufacturer));
        TUrzadzenia->setItem(row, kDeviceSerial, Cell(device.serialNumber));
        TUrzadzenia->setItem(row, kDeviceStable, Cell(stable));
        const bool appeared = !before.contains(device.device);
        if (device.device == selected) kept = row;
        if (!stable.isEmpty() && firstStable < 0) firstStable = row;
        if (appeared && firstNew < 0) firstNew = row;
        if (appeared && !stable.isEmpty() && firstNewStable < 0) firstNewStable = row;
    }
    int pick = std::max(firstStable, 0);
    if (!showing && firstNew >= 0) {
        pick = firstNewStable >= 0 ? firstNewStable : firstNew;
    } else if (!showing && kept >= 0) {
        pick = kept;
    }
    if (!devices.isEmpty()) TUrzadzenia->selectRow(pick);
    LBrakUrzadzen->setVisible(devices.isEmpty());
}

// Every column wide enough for its text, as far as the screen allows; the ports table shows all
// four rows, the devices table at least a few and more as the window grows. A new showing takes
// the size the tables need; a refresh only widens the window when the texts need it.
void SerialPortsWindow::FitToTables(bool showing) {
    const int deviceRows = std::clamp(TUrzadzenia->rowCount(), kFewestDeviceRows, kMostDeviceRows);
    TPorty->setFixedHeight(TableHeight(TPorty, kComPortCount));
    TUrzadzenia->setMinimumHeight(TableHeight(TUrzadzenia, deviceRows));
    const bool devicesScroll = TUrzadzenia->rowCount() > kMostDeviceRows;
    const QScreen* shown = screen();
    const int limit = shown != nullptr ? shown->availableGeometry().width() - 80 : 1200;
    const int width = std::min(
        limit, std::max(TableWidth(TPorty, false), TableWidth(TUrzadzenia, devicesScroll)));
    TPorty->setMinimumWidth(width);
    TUrzadzenia->setMinimumWidth(width);
    layout()->activate();
    resize(showing ? minimumSizeHint() : size().expandedTo(minimumSizeHint()));
    FitColumns();
}

// Columns to their texts, then the last one takes the rest of the width it now has (the table
// scrolls sideways rather than the window growing).
void SerialPortsWindow::FitColumns() {
    for (QTableWidget* table : {TPorty, TUrzadzenia}) {
        table->horizontalHeader()->setStretchLastSection(false);
        table->resizeColumnsToContents();
        table->horizontalHeader()->setStretchLastSection(true);
    }
}

void SerialPortsWindow::SelectionChanged() {
    const bool typed = ESciezka != nullptr && !ESciezka->text().trimmed().isEmpty();
    BPrzypisz->setEnabled(PortAssignmentOffered() && SelectedRow(TPorty) >= 0 &&
                          (typed || SelectedRow(TUrzadzenia) >= 0));
}

void SerialPortsWindow::BPrzypiszClick() {
    const int portRow = SelectedRow(TPorty);
    const int deviceRow = SelectedRow(TUrzadzenia);
    const QString typed = ESciezka != nullptr ? ESciezka->text().trimmed() : QString();
    if (!PortAssignmentOffered() || portRow < 0 || (deviceRow < 0 && typed.isEmpty())) return;
    const auto port = static_cast<PortNumber>(portRow);
    if (!typed.isEmpty()) {
        const DevicePathCheck check = CheckDevicePath(ToPath(typed));
        if (check != DevicePathCheck::CharacterDevice) {
            LKomunikat->setText(DevicePathRefusedText(port, typed, check));
            return;
        }
    }
    const QString target =
        !typed.isEmpty()
            ? typed
            : TUrzadzenia->item(deviceRow, kDevicePath)->data(kLinkTargetRole).toString();
    const LinkResult result = AssignPortLink(PortName(port), ToPath(target));
    ReportAssignment(port, target, result);
}

void SerialPortsWindow::ReportAssignment(PortNumber port, const QString& target,
                                         const LinkResult& result) {
    switch (result.outcome) {
        case LinkOutcome::Made:
        case LinkOutcome::Replaced:
            LKomunikat->setText(AssignedText(port, target, result));
            emit PortAssigned(port);  // the main window reconnects when it is its port
            FillPorts();
            FitColumns();  // the window keeps its size
            return;
        case LinkOutcome::NotALink:
            LKomunikat->clear();
            ShowErrorBox(NotALinkText(port, result.existingIsFolder));
            return;
        case LinkOutcome::Failed:
            LKomunikat->clear();
            ShowErrorBox(LinkFailedText(port, target, result.systemError));
            return;
    }
}

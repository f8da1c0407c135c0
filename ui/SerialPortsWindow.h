#pragma once
// SerialPortsWindow: "Porty szeregowe", shown without being modal. It lists COM1..COM4 with the
// device each stands for and whether it opens now (or why not), lists the serial devices present,
// and assigns the selected device to the selected port by making the COMn link in the working
// directory (not on Windows, where COMn are the system's own names: there it only lists).

#include <QDialog>
#include <string>

#include "PortLinks.h"
#include "PortTypes.h"
#include "PresentSerialDevices.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class SerialPort;

class SerialPortsWindow : public QDialog {
    Q_OBJECT
  public:
    // `programPort` is the program's own port component: the port it holds is not probed.
    explicit SerialPortsWindow(const SerialPort* programPort, QWidget* parent = nullptr);

    // Where the listed devices come from (the system's list by default).
    void SetDeviceSource(SerialDeviceSource source) { deviceSource_ = std::move(source); }
    // The folder of stable device names (/dev/serial/by-id by default).
    void SetByIdFolder(std::string folder) { byIdFolder_ = std::move(folder); }

    // Lists the ports again (probing each one with an open and a close, except the port the
    // program holds) and the devices present.
    void BOdswiezClick();
    // Links the selected port to the device path typed in, when there is one (checked to be a
    // character device), else to the selected device, by its stable name where it has one, so
    // that the choice survives plugging the adapter into another socket.
    void BPrzypiszClick();

  signals:
    // The link COMn was made or replaced: the port now stands for another device.
    void PortAssigned(PortNumber port);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildTables();
    void BuildButtons();
    void FillPorts();
    void FillDevices(bool showing);
    void Refresh(bool showing);
    void FitToTables(bool showing);
    void FitColumns();
    void DevicePathEdited();
    void SelectionChanged();
    QString PortState(PortNumber port) const;
    void ReportAssignment(PortNumber port, const QString& target, const LinkResult& result);

    const SerialPort* programPort_;
    SerialDeviceSource deviceSource_;
    std::string byIdFolder_ = kSerialByIdFolder;

    QTableWidget* TPorty = nullptr;
    QTableWidget* TUrzadzenia = nullptr;
    QLabel* LBrakUrzadzen = nullptr;
    QLabel* LWskazowka = nullptr;
    QLabel* LKomunikat = nullptr;
    QLineEdit* ESciezka = nullptr;  // a device the list does not show (a pseudo-terminal, by-path)
    QPushButton* BPrzypisz = nullptr;
    QPushButton* BOdswiez = nullptr;
    QPushButton* BZamknij = nullptr;
};

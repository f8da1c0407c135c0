#pragma once
// PortSettingsDialog: the transmission settings dialog. It only shows the port component's port and
// speed and collects the operator's selections; the reconnect after it closes is
// PortSession::Reconnect.

#include <QDialog>

#include "PortSession.h"
#include "PortTypes.h"

class QPushButton;
class SerialPort;
class RadioGroup;

class PortSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PortSettingsDialog(SerialPort* portDriver = nullptr, QWidget* parent = nullptr);

    void SetPortDriver(SerialPort* portDriver) { portDriver_ = portDriver; }

    // Loads RGNumPortu and RGSzybkosc from the port component (run on every showing).
    void FormShow();
    // Selects the given port and speed. A speed the group cannot show (19200 and above) selects
    // no speed at all, so that closing the dialog cannot silently change it to 14400.
    void ShowPortAndSpeed(PortNumber port, BaudRate speed);

    // What the groups show: a group with nothing selected keeps the port's value.
    PortSettings Chosen() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private slots:
    void BOkClick();

  private:
    void CentreOnScreen();

    // Controls, found by the tests through their objectName.
    RadioGroup* RGNumPortu;
    RadioGroup* RGSzybkosc;
    QPushButton* BOk;
    RadioGroup* RGDataBit;  // never shown: always 8 data bits
    RadioGroup* RGParity;   // never shown: always no parity

    SerialPort* portDriver_;
};

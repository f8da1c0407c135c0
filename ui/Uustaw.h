#pragma once
// TFormUstaw: the transmission settings dialog. It only shows the port component's port and speed
// and collects the operator's selections; the reconnect after it closes is ReconnectPort.

#include <QDialog>

#include "ComPortTypes.h"

class QPushButton;
class TCommPortDriver;
class TRadioGroup;

// The dialog's radio group indexes (-1: nothing selected), each an enumeration ordinal.
struct PortSelections {
    int port = -1;      // TComPortNumber
    int speed = -1;     // TComPortBaudRate
    int dataBits = -1;  // TComPortDataBits
    int parity = -1;    // TComPortParity
};

class TFormUstaw : public QDialog {
    Q_OBJECT
  public:
    explicit TFormUstaw(TCommPortDriver* portDriver = nullptr, QWidget* parent = nullptr);

    void SetPortDriver(TCommPortDriver* portDriver) { portDriver_ = portDriver; }

    // Loads RGNumPortu and RGSzybkosc from the port component (run on every showing).
    void FormShow();
    // Selects the given port and speed. A speed the group cannot show (19200 and above) selects
    // no speed at all, so that closing the dialog cannot silently change it to 14400.
    void ShowPortAndSpeed(TComPortNumber port, TComPortBaudRate speed);
    void BOkClick();

    PortSelections Selections() const;

    TRadioGroup* RGNumPortu;
    TRadioGroup* RGSzybkosc;
    QPushButton* BOk;
    TRadioGroup* RGDataBit;  // never shown: always 8 data bits
    TRadioGroup* RGParity;   // never shown: always no parity

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CentreOnScreen();

    TCommPortDriver* portDriver_;
};

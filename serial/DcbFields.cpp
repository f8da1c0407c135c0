#include "DcbFields.h"

DcbFields ComputeDcbFields(const SerialLineSettings& s) {
    const bool rtsCts = s.hwHandshaking == hhRTSCTS;
    const bool xonXoff = s.swHandshaking == shXONXOFF;
    DcbFields dcb;
    dcb.DCBlength = 28;  // sizeof(DCB) on Windows
    dcb.BaudRate = BaudRateValue(s.speed);
    dcb.fBinary = 1;
    dcb.fDtrControl = s.enableDtr ? kDtrControlEnable : kDtrControlDisable;
    dcb.fOutxCtsFlow = rtsCts ? 1 : 0;
    dcb.fRtsControl = rtsCts ? kRtsControlHandshake : kRtsControlDisable;
    dcb.fOutX = xonXoff ? 1 : 0;
    dcb.fInX = xonXoff ? 1 : 0;
    dcb.XonLim = static_cast<std::uint16_t>(s.inBufSize / 4);
    dcb.XoffLim = 1;
    dcb.ByteSize = static_cast<std::uint8_t>(s.dataBits + 5);
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    return dcb;
}

#include "DcbFields.h"

namespace {

// A UART has one long-stop setting: one and a half stop bits with 5-bit characters, two with
// longer ones (as the POSIX layer's CSTOPB). Windows refuses a DCB asking for 1.5 with 6 to 8 data
// bits or 2 with 5, and with it every other setting of that SetCommState, so the DCB asks for the
// stop bits the line will really have.
std::uint8_t StopBitsCode(StopBits stopBits, DataBits dataBits) {
    if (stopBits == sb1BITS) return sb1BITS;
    return dataBits == db5BITS ? sb1HALFBITS : sb2BITS;
}

}  // namespace

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
    dcb.StopBits = StopBitsCode(s.stopBits, s.dataBits);
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    return dcb;
}

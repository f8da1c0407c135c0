#include "TermiosSettings.h"

namespace {

tcflag_t CharacterSizeFlag(DataBits bits) {
    switch (bits) {
        case db5BITS:
            return CS5;
        case db6BITS:
            return CS6;
        case db7BITS:
            return CS7;
        default:
            return CS8;
    }
}

// Parity shapes the frame only; mark and space are sticky parity (CMSPAR).
tcflag_t ParityFlags(Parity parity) {
    switch (parity) {
        case ptODD:
            return PARENB | PARODD;
        case ptEVEN:
            return PARENB;
        case ptMARK:
            return PARENB | CMSPAR | PARODD;
        case ptSPACE:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

// A UART sends one and a half stop bits for CSTOPB with 5-bit characters.
tcflag_t StopBitFlags(StopBits stopBits) { return stopBits == sb1BITS ? 0 : CSTOPB; }

}  // namespace

termios2 ComputeTermios2(const SerialLineSettings& s, cc_t lineDiscipline) {
    termios2 t{};
    t.c_iflag = s.swHandshaking == shXONXOFF ? (IXON | IXOFF) : 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = BOTHER | (BOTHER << IBSHIFT) | CREAD | CLOCAL | CharacterSizeFlag(s.dataBits) |
                ParityFlags(s.parity) | StopBitFlags(s.stopBits);
    if (s.hwHandshaking == hhRTSCTS) t.c_cflag |= CRTSCTS;
    t.c_line = lineDiscipline;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_ispeed = BaudRateValue(s.speed);
    t.c_ospeed = BaudRateValue(s.speed);
    return t;
}

ModemLineStates ComputeModemLines(const SerialLineSettings& s) {
    return {s.enableDtr, s.hwHandshaking == hhRTSCTS};
}

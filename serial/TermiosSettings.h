#pragma once
// The terminal settings the POSIX device layer writes for a set of line settings: raw mode,
// the frame, flow control, and any of the 13 speeds through termios2 with BOTHER.
// Linux only. Include this instead of <termios.h>: the two declare the same structures.

#include <asm/termbits.h>

#include "SerialDevice.h"

// Modem lines set after the terminal settings (TIOCMBIS raises, TIOCMBIC drops).
struct ModemLineStates {
    bool dtr = false;
    bool rts = false;
};

// Raw mode over the given line discipline: no canonical input, echo, signals or CR/NL
// translation; input parity checking off; VMIN = VTIME = 0; VSTART 0x11, VSTOP 0x13.
termios2 ComputeTermios2(const SerialLineSettings& settings, cc_t lineDiscipline = 0);

// DTR as EnableDTROnOpen says; RTS raised only for RTS/CTS handshaking, held low otherwise.
ModemLineStates ComputeModemLines(const SerialLineSettings& settings);

// The termios2 mapping, first as a pure function, then read back from a pseudo-terminal
// that a real SerialPort configured.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "SerialDevicePosix.h"
#include "SerialPort.h"
#include "TermiosSettings.h"
#include "TestSupport.h"

using waga::test::PtyLink;
using waga::test::ScopedWorkingDir;

namespace {

constexpr tcflag_t kFrameBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

struct FrameRow {
    const char* name;
    DataBits dataBits;
    Parity parity;
    StopBits stopBits;
    HwHandshaking hw;
    tcflag_t frame;  // expected bits of kFrameBits
};

const FrameRow kFrames[] = {
    {"8N1", db8BITS, ptNONE, sb1BITS, hhNONE, CS8},
    {"7E1", db7BITS, ptEVEN, sb1BITS, hhNONE, CS7 | PARENB},
    {"7O1", db7BITS, ptODD, sb1BITS, hhNONE, CS7 | PARENB | PARODD},
    {"6M1", db6BITS, ptMARK, sb1BITS, hhNONE, CS6 | PARENB | CMSPAR | PARODD},
    {"8S1", db8BITS, ptSPACE, sb1BITS, hhNONE, CS8 | PARENB | CMSPAR},
    {"5N1.5", db5BITS, ptNONE, sb1HALFBITS, hhNONE, CS5 | CSTOPB},
    {"8N2", db8BITS, ptNONE, sb2BITS, hhNONE, CS8 | CSTOPB},
    {"8N1RtsCts", db8BITS, ptNONE, sb1BITS, hhRTSCTS, CS8 | CRTSCTS},
};

class TermiosFrameTest : public ::testing::TestWithParam<FrameRow> {};

TEST_P(TermiosFrameTest, FrameFlagsAndRawMode) {
    const FrameRow& row = GetParam();
    SerialLineSettings s;
    s.dataBits = row.dataBits;
    s.parity = row.parity;
    s.stopBits = row.stopBits;
    s.hwHandshaking = row.hw;
    const termios2 t = ComputeTermios2(s);
    EXPECT_EQ(t.c_cflag & kFrameBits, row.frame);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag, 0u);  // no parity check, no CR/NL translation, no flow control
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);  // no canonical input, echo or signals
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

INSTANTIATE_TEST_SUITE_P(Frames, TermiosFrameTest, ::testing::ValuesIn(kFrames),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n) c = (c == '.') ? '_' : c;
                             return n;
                         });

TEST(TermiosSettingsTest, EverySpeedThroughBother) {
    for (int i = 0; i < kBaudRateCount; ++i) {
        SerialLineSettings s;
        s.speed = static_cast<BaudRate>(i);
        const termios2 t = ComputeTermios2(s);
        EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(BOTHER)) << i;
        EXPECT_EQ(t.c_ospeed, kComPortBaudRates[i]) << i;
        EXPECT_EQ(t.c_ispeed, kComPortBaudRates[i]) << i;
    }
}

TEST(TermiosSettingsTest, SoftwareHandshakeAndModemLines) {
    SerialLineSettings s;
    s.swHandshaking = shXONXOFF;
    const termios2 t = ComputeTermios2(s, 5);
    EXPECT_EQ(t.c_iflag, tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_line, 5);  // the line discipline in use is kept

    struct {
        bool dtr;
        HwHandshaking hw;
        bool wantDtr, wantRts;
    } rows[] = {{true, hhNONE, true, false},
                {false, hhNONE, false, false},
                {true, hhRTSCTS, true, true},
                {false, hhRTSCTS, false, true}};
    for (const auto& r : rows) {
        SerialLineSettings m;
        m.enableDtr = r.dtr;
        m.hwHandshaking = r.hw;
        const ModemLineStates lines = ComputeModemLines(m);
        EXPECT_EQ(lines.dtr, r.wantDtr);
        EXPECT_EQ(lines.rts, r.wantRts);
    }
}

// What the terminal holds after the component opened it; the master reads the slave's settings.
termios2 ReadBack(const PtyLink& pty) {
    termios2 t{};
    EXPECT_EQ(::ioctl(pty.MasterFd(), TCGETS2, &t), 0);
    return t;
}

class PtyReadBackTest : public ::testing::Test {
  protected:
    PtyLink pty_;
    ScopedWorkingDir cwd_{pty_.Dir()};
};

TEST_F(PtyReadBackTest, EverySpeedIsSetForReal) {
    for (int i = 0; i < kBaudRateCount; ++i) {
        SerialPort driver;
        driver.SetComPortSpeed(static_cast<BaudRate>(i));
        ASSERT_TRUE(driver.OpenPort());
        const termios2 t = ReadBack(pty_);
        EXPECT_EQ(t.c_ospeed, kComPortBaudRates[i]) << "ordinal " << i;
        EXPECT_EQ(t.c_ispeed, kComPortBaudRates[i]) << "ordinal " << i;
        EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(BOTHER));
    }
}

// A pseudo-terminal always reports CS8 and no PARENB, so those two are left to the pure rows.
TEST_F(PtyReadBackTest, FrameRawModeAndFlowControl) {
    constexpr tcflag_t kKeptByPty = CSTOPB | PARODD | CMSPAR | CRTSCTS;
    for (const FrameRow& row : kFrames) {
        SerialPort driver;
        driver.SetComPortDataBits(row.dataBits);
        driver.SetComPortParity(row.parity);
        driver.SetComPortStopBits(row.stopBits);
        driver.SetComPortHwHandshaking(row.hw);
        driver.SetComPortSwHandshaking(row.hw == hhRTSCTS ? shXONXOFF : shNONE);
        ASSERT_TRUE(driver.OpenPort());
        const termios2 t = ReadBack(pty_);
        EXPECT_EQ(t.c_cflag & kKeptByPty, row.frame & kKeptByPty) << row.name;
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL)) << row.name;
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << row.name;
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | INPCK | ISTRIP), 0u) << row.name;
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << row.name;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF),
                  row.hw == hhRTSCTS ? tcflag_t(IXON | IXOFF) : tcflag_t(0))
            << row.name;
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    }
}

TEST(ResolvePortPathTest, LinkInWorkingDirectoryElseDevicePrefix) {
    PtyLink pty("COM3");
    ScopedWorkingDir cwd(pty.Dir());
    EXPECT_EQ(ResolvePortPath("COM3", "/dev/ttyS"), "COM3");
    EXPECT_EQ(ResolvePortPath("COM1", "/dev/ttyS"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortPath("COM4", "/x/ttyUSB"), "/x/ttyUSB3");
    EXPECT_EQ(ResolvePortPath("COM0", "/dev/ttyS"), "");
    EXPECT_EQ(ResolvePortPath("LPT1", "/dev/ttyS"), "");
    EXPECT_EQ(ResolvePortPath("COM12", "/dev/ttyS"), "");
}

}  // namespace

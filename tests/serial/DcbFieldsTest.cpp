#include <gtest/gtest.h>

#include "DcbFields.h"
#include "Win32Errors.h"

namespace {

// The record for the default settings; each row below says what differs from it.
DcbFields DefaultDcb() {
    DcbFields d;
    d.DCBlength = 28;
    d.BaudRate = 9600;
    d.fBinary = 1;
    d.fDtrControl = kDtrControlEnable;
    d.fRtsControl = kRtsControlDisable;
    d.XonLim = 512;
    d.XoffLim = 1;
    d.ByteSize = 8;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

struct DcbRow {
    const char* name;
    std::function<void(SerialLineSettings&)> change;
    std::function<void(DcbFields&)> expect;
};

class DcbFieldsTest : public ::testing::TestWithParam<DcbRow> {};

TEST_P(DcbFieldsTest, FieldsFollowTheSettings) {
    SerialLineSettings settings;
    GetParam().change(settings);
    DcbFields expected = DefaultDcb();
    GetParam().expect(expected);
    EXPECT_EQ(ComputeDcbFields(settings), expected);
}

const DcbRow kRows[] = {
    {"defaults", [](auto&) {}, [](auto&) {}},
    {"db5", [](auto& s) { s.dataBits = db5BITS; }, [](auto& d) { d.ByteSize = 5; }},
    {"db6", [](auto& s) { s.dataBits = db6BITS; }, [](auto& d) { d.ByteSize = 6; }},
    {"db7", [](auto& s) { s.dataBits = db7BITS; }, [](auto& d) { d.ByteSize = 7; }},
    {"odd", [](auto& s) { s.parity = ptODD; }, [](auto& d) { d.Parity = 1; }},
    {"even", [](auto& s) { s.parity = ptEVEN; }, [](auto& d) { d.Parity = 2; }},
    {"mark", [](auto& s) { s.parity = ptMARK; }, [](auto& d) { d.Parity = 3; }},
    {"space", [](auto& s) { s.parity = ptSPACE; }, [](auto& d) { d.Parity = 4; }},
    // Windows takes 1.5 stop bits only with 5 data bits and 2 only with more: the DCB asks for
    // what the UART really sends, so SetCommState is not refused as a whole.
    {"stop1halfWith8BitsIs2", [](auto& s) { s.stopBits = sb1HALFBITS; },
     [](auto& d) { d.StopBits = 2; }},
    {"stop1halfWith5Bits",
     [](auto& s) {
         s.stopBits = sb1HALFBITS;
         s.dataBits = db5BITS;
     },
     [](auto& d) {
         d.StopBits = 1;
         d.ByteSize = 5;
     }},
    {"stop2With5BitsIs1half",
     [](auto& s) {
         s.stopBits = sb2BITS;
         s.dataBits = db5BITS;
     },
     [](auto& d) {
         d.StopBits = 1;
         d.ByteSize = 5;
     }},
    {"stop2", [](auto& s) { s.stopBits = sb2BITS; }, [](auto& d) { d.StopBits = 2; }},
    {"rtscts", [](auto& s) { s.hwHandshaking = hhRTSCTS; },
     [](auto& d) {
         d.fOutxCtsFlow = 1;
         d.fRtsControl = kRtsControlHandshake;
     }},
    {"xonxoff", [](auto& s) { s.swHandshaking = shXONXOFF; },
     [](auto& d) {
         d.fOutX = 1;
         d.fInX = 1;
     }},
    {"dtrOff", [](auto& s) { s.enableDtr = false; },
     [](auto& d) { d.fDtrControl = kDtrControlDisable; }},
    {"inBuf4096", [](auto& s) { s.inBufSize = 4096; }, [](auto& d) { d.XonLim = 1024; }},
    {"inBuf7DropsRemainder", [](auto& s) { s.inBufSize = 7; }, [](auto& d) { d.XonLim = 1; }},
    {"outBufNotInDcb", [](auto& s) { s.outBufSize = 100; }, [](auto&) {}},
    {"everything",
     [](auto& s) { s = {br56000, db7BITS, sb2BITS, ptEVEN, hhRTSCTS, shXONXOFF, false, 1000, 10}; },
     [](auto& d) {
         d.BaudRate = 56000;
         d.ByteSize = 7;
         d.StopBits = 2;
         d.Parity = 2;
         d.fOutxCtsFlow = 1;
         d.fRtsControl = kRtsControlHandshake;
         d.fOutX = d.fInX = 1;
         d.fDtrControl = kDtrControlDisable;
         d.XonLim = 250;
     }},
};

INSTANTIATE_TEST_SUITE_P(Rows, DcbFieldsTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DcbFieldsSpeedTest, EveryRateOfTheTable) {
    const std::uint32_t expected[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                      14400, 19200, 38400, 56000, 57600, 115200};
    for (int i = 0; i < kBaudRateCount; ++i) {
        SerialLineSettings s;
        s.speed = static_cast<BaudRate>(i);
        EXPECT_EQ(ComputeDcbFields(s).BaudRate, expected[i]) << "ordinal " << i;
    }
}

}  // namespace

// The Windows error codes read the same way on every platform: which mean a missing or busy
// port at open, and which mean a device gone at a read.
TEST(Win32ErrorsTest, OpenCausesAndLossCodes) {
    using namespace win32_error;
    const struct {
        unsigned long code;
        OpenFailure atOpen;
        bool goneAtRead;
    } rows[] = {
        {kFileNotFound, OpenFailure::MissingDevice, false},
        {kPathNotFound, OpenFailure::MissingDevice, false},
        {kAccessDenied, OpenFailure::Busy, true},
        {kSharingViolation, OpenFailure::Busy, false},
        {kGenFailure, OpenFailure::Other, true},
        {kNotReady, OpenFailure::Other, true},
        {kDeviceRemoved, OpenFailure::Other, true},
        {kOperationAborted, OpenFailure::Other, true},
        {87 /* invalid parameter */, OpenFailure::Other, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OpenFailureFromWin32Error(row.code), row.atOpen) << row.code;
        EXPECT_EQ(IsWin32DeviceGoneError(row.code), row.goneAtRead) << row.code;
    }
}

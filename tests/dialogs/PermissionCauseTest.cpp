// What the status bar's tooltip says when the device refuses the account: the device's owner,
// group and mode, whether the account is in that group, and only then what would help.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DeviceAccess.h"
#include "PortStatusTexts.h"
#include "SerialPort.h"
#include "TestSupport.h"

namespace {

struct CauseRow {
    const char* name;
    DeviceAccess access;
    const char* text;
};

void PrintTo(const CauseRow& row, std::ostream* out) { *out << row.name; }

class PermissionCauseText : public ::testing::TestWithParam<CauseRow> {};

TEST_P(PermissionCauseText, SaysWhatIsTrue) {
    EXPECT_EQ(PermissionCause("/dev/ttyUSB0", GetParam().access).toStdString(), GetParam().text);
}

const CauseRow kCauses[] = {
    {"NotInDialoutThatMayReadAndWrite",
     {true, "root", "dialout", 0660, false, false},
     "brak uprawnień do /dev/ttyUSB0 (właściciel root, grupa dialout, prawa 0660); konto nie jest "
     "w grupie dialout — dodaj je do tej grupy i zaloguj się ponownie"},
    {"AddedToTheGroupAfterLoggingIn",
     {true, "root", "dialout", 0660, false, true},
     "brak uprawnień do /dev/ttyUSB0 (właściciel root, grupa dialout, prawa 0660); konto dodano do "
     "grupy dialout po zalogowaniu — wyloguj się i zaloguj ponownie"},
    {"InTheGroupOfARootOnlyDevice",
     {true, "root", "root", 0600, true, true},
     "brak uprawnień do /dev/ttyUSB0 (właściciel root, grupa root, prawa 0600); konto jest w "
     "grupie root, ale grupa nie ma prawa odczytu i zapisu — prawa urządzenia ustawia "
     "administrator (np. regułą udev)"},
    {"NotInTheGroupOfARootOnlyDevice",
     {true, "root", "root", 0600, false, false},
     "brak uprawnień do /dev/ttyUSB0 (właściciel root, grupa root, prawa 0600); konto nie jest w "
     "grupie root, a ta grupa nie ma prawa odczytu i zapisu — prawa urządzenia ustawia "
     "administrator (np. regułą udev)"},
    {"InTheGroupThatMayReadAndWrite",
     {true, "root", "dialout", 0660, true, true},
     "brak uprawnień do /dev/ttyUSB0 (właściciel root, grupa dialout, prawa 0660); konto jest w "
     "grupie dialout, ale urządzenie i tak odmawia dostępu"},
    {"DeviceNotLookedAt", {}, "brak uprawnień do /dev/ttyUSB0"},
};

INSTANTIATE_TEST_SUITE_P(Rows, PermissionCauseText, ::testing::ValuesIn(kCauses),
                         [](const auto& info) { return std::string(info.param.name); });

// A real terminal left to root alone (0600), opened by an ordinary account: the cause names the
// terminal's real owner, group and mode and that the account is not in that group.
TEST(PermissionCause, IsReadFromTheRealDevice) {
    waga::test::PtyLink pty;
    waga::test::ScopedWorkingDir cwd(pty.Dir());
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    struct stat st {};
    ASSERT_EQ(::stat(pty.SlavePath().c_str(), &st), 0);
    const DeviceAccess seenByRoot = ReadDeviceAccess(pty.SlavePath());
    ASSERT_TRUE(seenByRoot.known);
    EXPECT_EQ(seenByRoot.mode, 0600u);
    const std::string expected =
        "brak uprawnień do " + pty.SlavePath() + " (właściciel " + seenByRoot.owner + ", grupa " +
        seenByRoot.group + ", prawa 0600); konto nie jest w grupie " + seenByRoot.group +
        ", a ta grupa nie ma prawa odczytu i zapisu — prawa urządzenia ustawia administrator (np. "
        "regułą udev)";
    if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another account";
    const int result = waga::test::RunAsNobody([&] {
        SerialPort port;
        if (port.OpenPort()) return 1;
        if (OpenFailureCause(port.LastOpenResult()).toStdString() != expected) return 2;
        return 0;
    });
    EXPECT_EQ(result, 0) << "1: opened, 2: another text than: " << expected;
}

}  // namespace

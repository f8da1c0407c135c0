// The port's session against real pseudo-terminals linked as COMn: the reconnect after the
// settings dialog, with what the station's pipeline and the status bar hear of it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <vector>

#include "Controls.h"
#include "DialogTestSupport.h"
#include "LinePipeline.h"
#include "PortSettingsDialog.h"
#include "PortStatusTexts.h"
#include "RadioGroup.h"
#include "Station.h"
#include "TestSupport.h"

using waga::test::PtyLink;
using waga::test::ScopedWorkingDir;

namespace {

// The working folder, with the journal turned off in its dodatki.ini.
QString FolderWithoutJournal() {
    waga::test::WriteFile("dodatki.ini", "[Dziennik]\nWlaczony=0\n");
    return QDir::currentPath();
}

// The program's side of a reconnect: the station's parts in the working folder (no journal), a
// sink that keeps the lines and the port states it hears of, and the status bar's texts.
struct Receiver : ILineSink {
    std::vector<std::string> lines;
    std::vector<std::string> states;
    std::vector<QString> statusTexts;
    Station station{FolderWithoutJournal()};
    SerialPort& port = station.Port();
    Receiver() {
        port.SetComPortPollingDelay(5);
        station.Start({this}, {[this](const PortStatus& status) {
                                   statusTexts.push_back(PortStatusText(status));
                               },
                               {}});
    }
    ~Receiver() override { station.Stop(); }
    void OnLine(const LineEvent& event) override { lines.push_back(event.line.Bytes()); }
    void OnReset() override { states.push_back("reset"); }
    void OnPortState(const PortStateEvent& event) override {
        const char* names[] = {"opened", "lost", "closed"};
        states.push_back(std::string(names[static_cast<int>(event.state)]) + " " +
                         PortName(event.port));
    }
    // What the status bar says after the last step.
    QString Status() const { return statusTexts.empty() ? QString() : statusTexts.back(); }
    // MMustaw_rsClick: the dialog, then the reconnect with its selections.
    QString ShowSettingsAndReconnect(PortSettingsDialog& dialog) {
        dialog.SetPortDriver(&port);
        dialog.exec();
        station.Session().Reconnect(dialog.Chosen());
        return Status();
    }
};

PortSettings Chosen(PortNumber port, BaudRate speed) { return {port, speed, db8BITS, ptNONE}; }

TEST(StatusTexts, AreWordedExactly) {
    EXPECT_EQ(PortOpenedText(pnCOM3, br9600), "Połączenie RS232, COM3, prędkość: 9600 rozpoczęte.");
    EXPECT_EQ(PortOpenedText(pnCOM1, br115200),
              "Połączenie RS232, COM1, prędkość: 115200 rozpoczęte.");
    EXPECT_EQ(ReconnectFailedText(), "Error: nie można się połączyć! Sprawdź ustawienia!");
}

TEST(Reconnect, MovesToTheChosenPortAndSpeedAndEmptiesPendingLine) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    PtyLink com3("COM3");
    std::filesystem::create_symlink(com3.SlavePath(), com2.Dir() + "/COM3");
    Receiver receiver;
    receiver.station.Session().Start();
    ASSERT_TRUE(receiver.port.IsPortOpen());
    receiver.station.Pipeline().Receive("abc", 3);
    receiver.states.clear();

    receiver.station.Session().Reconnect(Chosen(pnCOM3, br9600));

    EXPECT_EQ(receiver.Status(), "Połączenie RS232, COM3, prędkość: 9600 rozpoczęte.");
    EXPECT_TRUE(receiver.port.IsPortOpen());
    EXPECT_EQ(receiver.port.ComPort(), pnCOM3);
    EXPECT_EQ(receiver.port.ComPortSpeed(), br9600);
    EXPECT_EQ(receiver.station.Pipeline().PendingLine(), "");
    EXPECT_EQ(receiver.states, (std::vector<std::string>{"closed COM2", "reset", "opened COM3"}));
    // The first line after the reconnect is not joined to what was pending before it.
    ASSERT_TRUE(com3.Write("12.50\r"));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !receiver.lines.empty(); }));
    EXPECT_EQ(receiver.lines, std::vector<std::string>{"12.50"});
}

TEST(Reconnect, AnAbsentPortGivesTheErrorTextAndKeepsPendingLine) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    std::filesystem::create_symlink(com2.Dir() + "/nothing-here", com2.Dir() + "/COM4");
    Receiver receiver;
    receiver.station.Session().Start();
    ASSERT_TRUE(receiver.port.IsPortOpen());
    receiver.station.Pipeline().Receive("abc", 3);
    receiver.states.clear();

    receiver.station.Session().Reconnect(Chosen(pnCOM4, br4800));

    EXPECT_EQ(receiver.Status(), "Error: nie można się połączyć! Sprawdź ustawienia!");
    EXPECT_FALSE(receiver.port.IsPortOpen());
    EXPECT_FALSE(receiver.station.Session().Retrying());  // the operator's failure is not retried
    EXPECT_EQ(receiver.port.ComPort(), pnCOM4);           // the component holds the new settings
    EXPECT_EQ(receiver.port.ComPortSpeed(), br4800);
    EXPECT_EQ(receiver.station.Pipeline().PendingLine(), "abc");
    EXPECT_EQ(receiver.states, std::vector<std::string>{"closed COM2"});
}

TEST(Reconnect, AClosedPortIsOnlyOpened) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    Receiver receiver;
    ASSERT_FALSE(receiver.port.IsPortOpen());
    receiver.station.Session().Reconnect(Chosen(pnCOM2, br2400));
    EXPECT_EQ(receiver.Status(), "Połączenie RS232, COM2, prędkość: 2400 rozpoczęte.");
    EXPECT_TRUE(receiver.port.IsPortOpen());
    EXPECT_EQ(receiver.states, (std::vector<std::string>{"reset", "opened COM2"}));
}

TEST(Reconnect, EveryCloseSetsEightDataBitsAndNoParity) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    Receiver receiver;
    receiver.port.SetComPortDataBits(db7BITS);
    receiver.port.SetComPortParity(ptEVEN);
    PortSettingsDialog dialog(&receiver.port);
    dialog.FormShow();
    receiver.station.Session().Reconnect(dialog.Chosen());
    EXPECT_EQ(receiver.port.LineSettings().dataBits, db8BITS);
    EXPECT_EQ(receiver.port.LineSettings().parity, ptNONE);
}

// Speeds the dialog cannot show: closing it without choosing keeps them.
class ReconnectFastSpeed : public testing::TestWithParam<BaudRate> {};

TEST_P(ReconnectFastSpeed, IsKeptWhenNoSpeedWasChosen) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    Receiver receiver;
    receiver.port.SetComPortSpeed(GetParam());
    PortSettingsDialog dialog;
    QTimer::singleShot(0, &dialog, [&] { Find<QPushButton>(dialog, "BOk")->click(); });
    const QString status = receiver.ShowSettingsAndReconnect(dialog);
    EXPECT_EQ(receiver.port.ComPortSpeed(), GetParam());
    EXPECT_EQ(status, PortOpenedText(pnCOM2, GetParam()));
    EXPECT_TRUE(status.contains(QString::number(kComPortBaudRates[GetParam()])));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ReconnectFastSpeed,
                         testing::Values(br19200, br38400, br56000, br57600, br115200),
                         [](const auto& info) {
                             return "speed_" + std::to_string(kComPortBaudRates[info.param]);
                         });

TEST(Reconnect, AFastSpeedGivesWayToOneTheOperatorChose) {
    PtyLink com2("COM2");
    ScopedWorkingDir cwd(com2.Dir());
    Receiver receiver;
    receiver.port.SetComPortSpeed(br57600);
    PortSettingsDialog dialog;
    QTimer::singleShot(0, &dialog, [&] {
        Find<RadioGroup>(dialog, "RGSzybkosc")->Button(7)->click();  // "14400"
        Find<QPushButton>(dialog, "BOk")->click();
    });
    EXPECT_EQ(receiver.ShowSettingsAndReconnect(dialog),
              "Połączenie RS232, COM2, prędkość: 14400 rozpoczęte.");
    EXPECT_EQ(receiver.port.ComPortSpeed(), br14400);
}

TEST(Reconnect, TheDialogsPortChoiceIsAppliedAfterItCloses) {
    PtyLink com1("COM1");
    ScopedWorkingDir cwd(com1.Dir());
    PtyLink com2("COM2");
    std::filesystem::create_symlink(com2.SlavePath(), com1.Dir() + "/COM2");
    Receiver receiver;
    receiver.port.SetComPort(pnCOM2);
    receiver.station.Session().Start();
    ASSERT_TRUE(receiver.port.IsPortOpen());
    PortSettingsDialog dialog;
    bool openWhileShown = false;
    QTimer::singleShot(0, &dialog, [&] {
        openWhileShown = receiver.port.IsPortOpen();
        Find<RadioGroup>(dialog, "RGNumPortu")->Button(0)->click();  // "COMM1"
        dialog.close();                                              // title bar's close button
    });
    EXPECT_EQ(receiver.ShowSettingsAndReconnect(dialog),
              "Połączenie RS232, COM1, prędkość: 9600 rozpoczęte.");
    EXPECT_TRUE(openWhileShown);
    EXPECT_EQ(receiver.port.ComPort(), pnCOM1);
}

}  // namespace

// The port vanishes under the running program (the simulator is killed, as a cable or adapter
// goes) and comes back (a new simulator behind the same COM2 link); the operator reconnects with
// "Parametry transmisji..." and its OK button.

#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include "FaultFixture.h"
#include "PortSettingsDialog.h"

namespace {

using PortFaults = FaultFixture;

// The settings dialog answered with its OK button, leaving every selection as shown.
ModalAnswerer::Action PressOk(QString* seenClass) {
    return [seenClass](QWidget* modal) {
        *seenClass = modal->metaObject()->className();
        if (auto* dialog = qobject_cast<PortSettingsDialog*>(modal)) dialog->BOk->click();
    };
}

TEST_F(PortFaults, SimulatorKilledAndBackThroughTheSettingsDialog) {
    Start({"--rate", "300", "--wait-open"});
    const QString opened = Form().StatusText();
    ASSERT_EQ(opened, QString::fromUtf8("Połączenie RS232, COM2, prędkość: 115200 rozpoczęte. "));
    ASSERT_TRUE(WaitForRecorded(1500));

    ModalAnswerer answerer;
    Sim().Process().Signal(SIGKILL);
    ASSERT_EQ(Sim().Process().Wait(), 128 + SIGKILL);
    Spin(500);  // polling goes on against the vanished terminal

    // The operator sees nothing change: no box, the same status, recording still on.
    EXPECT_TRUE(answerer.Seen().empty());
    EXPECT_EQ(answerer.Unexpected(), 0);
    EXPECT_EQ(Form().StatusText(), opened);
    EXPECT_TRUE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    EXPECT_TRUE(Form().ComPortDriver().IsPortOpen());
    // Every line read before the fault is in the file, whole; only what still waited in the
    // terminal when it went can be missing.
    const std::string firstRun = ExpectedFor(Sim().Sent());
    const std::string beforeFault = Recorded();
    ASSERT_TRUE(IsWholeLinePrefix(beforeFault, firstRun));
    EXPECT_LE(firstRun.size() - beforeFault.size(), 8192u);

    RestartSimulator({"--rate", "300", "--wait-open", "--seed", "2"});
    Spin(300);
    EXPECT_EQ(Recorded(), beforeFault);  // nothing arrives through the old terminal

    QString dialogClass;
    answerer.Push(PressOk(&dialogClass), 100);
    Find<QAction>(Form(), "MMustaw_rs")->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(dialogClass, "PortSettingsDialog");
    EXPECT_EQ(Form().StatusText(),
              QString::fromUtf8("Połączenie RS232, COM2, prędkość: 115200 rozpoczęte."));
    EXPECT_EQ(Form().ComPortDriver().ComPortSpeed(), br115200);  // the dialog cannot show it

    // Lines flow again; the new ones follow the old ones, nothing joined to a stale fragment.
    ASSERT_TRUE(WaitForRecorded(beforeFault.size() + 1500));
    Spin(100);
    const std::string after = Recorded();
    EXPECT_EQ(after.compare(0, beforeFault.size(), beforeFault), 0);
    EXPECT_TRUE(IsWholeLinePrefix(after.substr(beforeFault.size()), ExpectedFor(Sim().Sent())));
    EXPECT_EQ(answerer.Unexpected(), 0);
}

}  // namespace

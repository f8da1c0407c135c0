// The port vanishes under the running program (the simulator is killed, as a cable or adapter
// goes) and comes back (a new simulator behind the same COM2 link): the program sees the loss,
// says so, and reconnects by itself; the operator's own reconnect through "Parametry
// transmisji..." takes over from the automatic one.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <chrono>
#include <memory>

#include "FaultFixture.h"
#include "PortSettingsDialog.h"
#include "PortStatusTexts.h"

namespace {

using namespace std::chrono_literals;
using PortFaults = FaultFixture;
using waga::test::RunEventsUntil;

// The settings dialog answered with its OK button, leaving every selection as shown; `during`
// runs while it is open.
ModalAnswerer::Action PressOk(QString* seenClass, std::function<void()> during = {}) {
    return [seenClass, during](QWidget* modal) {
        *seenClass = modal->metaObject()->className();
        if (during) during();
        if (auto* dialog = qobject_cast<PortSettingsDialog*>(modal))
            Find<QPushButton>(*dialog, "BOk")->click();
    };
}

QString Readout(MainWindow& form) { return Find<QLabel>(form, "Ldisplay")->text(); }

// An addition's sink: what it hears of the port.
struct PortStateLog : ILineSink {
    std::vector<std::string> heard;
    void OnLine(const LineEvent&) override {}
    void OnReset() override { heard.push_back("reset"); }
    void OnPortState(const PortStateEvent& event) override {
        const char* names[] = {"opened", "lost", "closed"};
        heard.push_back(std::string(names[static_cast<int>(event.state)]) + " " +
                        PortName(event.port));
    }
};

TEST_F(PortFaults, SimulatorKilledAndBackReconnectsByItselfTwice) {
    Start({"--rate", "300", "--wait-open"});
    ASSERT_TRUE(WaitForRecorded(1500));
    PortStateLog additions;
    Program().Pipeline().Subscribe(&additions);
    const std::shared_ptr<void> unsubscribe(
        nullptr, [&](void*) { Program().Pipeline().Unsubscribe(&additions); });
    ModalAnswerer answerer;
    // The recording before the present simulator's lines. The program purges the terminal as it
    // opens it; the simulator waits a moment after the port is taken, but a program held up
    // longer than that (a busy machine) purges the first lines. So each simulator's part of the
    // recording is a run of its whole lines: nothing lost once they arrive, no fragment.
    std::string earlier;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Sim().Process().Signal(SIGKILL);
        ASSERT_EQ(Sim().Process().Wait(), 128 + SIGKILL);
        ASSERT_TRUE(RunEventsUntil([&] { return Program().Session().Retrying(); }));

        // The operator sees the loss: no box, the port closed, no stale weight, recording on.
        EXPECT_EQ(StatusText(Form()), PortLostText(pnCOM2));
        EXPECT_FALSE(Program().Port().IsPortOpen());
        EXPECT_EQ(Readout(Form()), "");
        EXPECT_TRUE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
        // Every line read before the fault is in the file, whole.
        const std::string before = Recorded();
        ASSERT_EQ(before.compare(0, earlier.size(), earlier), 0);
        ASSERT_TRUE(IsWholeLineRun(before.substr(earlier.size()), ExpectedFor(Sim().Sent())));
        earlier = before;

        RestartSimulator({"--rate", "300", "--wait-open", "--seed", std::to_string(round)});
        const auto back = std::chrono::steady_clock::now();
        ASSERT_TRUE(RunEventsUntil([&] { return Program().Port().IsPortOpen(); }, 3s));
        std::printf("reconnected %lld ms after the new terminal was linked\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - back)
                                               .count()));
        EXPECT_FALSE(Program().Session().Retrying());
        EXPECT_EQ(StatusText(Form()), PortOpenedText(pnCOM2, br115200));

        // Lines flow again; the new ones follow the old ones, nothing joined to a fragment, and
        // the read-out shows the scale's weight again.
        ASSERT_TRUE(WaitForRecorded(before.size() + 1500));
        EXPECT_TRUE(RunEventsUntil([&] { return !Readout(Form()).isEmpty(); }));
        const std::string after = Recorded();
        EXPECT_EQ(after.compare(0, before.size(), before), 0);
        EXPECT_TRUE(IsWholeLineRun(after.substr(before.size()), ExpectedFor(Sim().Sent())));
    }
    EXPECT_TRUE(answerer.Seen().empty());
    // Each loss and each reconnect reached the sinks: the partial line dropped at both.
    EXPECT_EQ(additions.heard,
              (std::vector<std::string>{"lost COM2", "reset", "reset", "opened COM2", "lost COM2",
                                        "reset", "reset", "opened COM2"}));
}

// The operator opens "Parametry transmisji..." while the automatic reconnect runs: it stops, and
// the dialog's failure is reported as described (with the cause in the tooltip), not retried.
TEST_F(PortFaults, TheOperatorsReconnectTakesOverFromTheAutomaticOne) {
    Start({"--rate", "300", "--wait-open"});
    ASSERT_TRUE(WaitForRecorded(500));
    Sim().Process().Signal(SIGKILL);
    ASSERT_EQ(Sim().Process().Wait(), 128 + SIGKILL);
    ASSERT_TRUE(RunEventsUntil([&] { return Program().Session().Retrying(); }));

    ModalAnswerer answerer;
    QString dialogClass;
    bool retryingWhileOpen = true;
    answerer.Push(
        PressOk(&dialogClass, [&] { retryingWhileOpen = Program().Session().Retrying(); }));
    Find<QAction>(Form(), "MMustaw_rs")->trigger();
    EXPECT_EQ(dialogClass, "PortSettingsDialog");
    EXPECT_FALSE(retryingWhileOpen);
    EXPECT_EQ(StatusText(Form()), ReconnectFailedText());
    EXPECT_TRUE(Find<QStatusBar>(Form(), "StatusBar")->toolTip().startsWith("brak urządzenia "));
    EXPECT_EQ(Readout(Form()), "");

    // Not retried: a terminal that comes back stays unused until the operator reconnects.
    RestartSimulator({"--rate", "300", "--wait-open", "--seed", "3"});
    waga::test::RunEvents(2500ms);
    EXPECT_FALSE(Program().Port().IsPortOpen());
    answerer.Push(PressOk(&dialogClass));
    Find<QAction>(Form(), "MMustaw_rs")->trigger();
    EXPECT_EQ(StatusText(Form()), PortOpenedText(pnCOM2, br115200));
    EXPECT_EQ(Program().Port().ComPortSpeed(), br115200);  // the dialog cannot show it
    EXPECT_TRUE(Find<QStatusBar>(Form(), "StatusBar")->toolTip().isEmpty());
    const std::size_t reopened = Recorded().size();
    ASSERT_TRUE(WaitForRecorded(reopened + 500));
    EXPECT_EQ(answerer.Unexpected(), 0);
}

}  // namespace

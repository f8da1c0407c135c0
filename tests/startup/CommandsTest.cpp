// The two menu commands that open the dialogs, wired to the real window: the reconnect after the
// transmission settings dialog, and the about dialog shown without being modal. Also the box for
// an error that escapes a handler.

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <stdexcept>

#include "AboutDialog.h"
#include "MessageBoxes.h"
#include "PortSettingsDialog.h"
#include "RadioGroup.h"
#include "StartupFixture.h"

namespace {

// Chooses a port in the settings dialog, then presses "Zamknij".
ModalAnswerer::Action ChoosePort(int portIndex) {
    return [portIndex](QWidget* modal) {
        auto* dialog = qobject_cast<PortSettingsDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        Find<RadioGroup>(*dialog, "RGNumPortu")->SetItemIndex(portIndex);
        Find<QPushButton>(*dialog, "BOk")->click();
    };
}

struct ReconnectRow {
    const char* name;
    int chosenPort;  // index in the dialog
    QString status;
    bool pendingEmptied;
};

void PrintTo(const ReconnectRow& row, std::ostream* out) { *out << row.name; }

class Reconnect : public StartupFixture, public ::testing::WithParamInterface<ReconnectRow> {};

TEST_P(Reconnect, MenuCommandReopensThePortAndSetsTheStatus) {
    const ReconnectRow& row = GetParam();
    LinkPort("COM2");
    LinkPort("COM3");
    AbsentPort("COM4");
    Startup().FormCreate();
    const std::string partial = " 12.5";
    Program().Pipeline().Receive(partial.data(), static_cast<std::int32_t>(partial.size()));
    ModalAnswerer answerer;
    answerer.Push(ChoosePort(row.chosenPort));

    Find<QAction>(Form(), "MMustaw_rs")->trigger();

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen().front().className, "PortSettingsDialog");
    EXPECT_EQ(StatusText(Form()), row.status);
    EXPECT_EQ(Program().Port().ComPort(), static_cast<PortNumber>(row.chosenPort));
    EXPECT_EQ(Program().Pipeline().PendingLine(), row.pendingEmptied ? "" : partial);
    EXPECT_TRUE(
        Find<QAction>(Form(), "Mwaga")->isChecked());  // the command never moves the view mark
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Reconnect,
    ::testing::Values(
        ReconnectRow{"SamePort", 1,
                     QString::fromUtf8("Połączenie RS232, COM2, prędkość: 2400 rozpoczęte."), true},
        ReconnectRow{"OtherPort", 2,
                     QString::fromUtf8("Połączenie RS232, COM3, prędkość: 2400 rozpoczęte."), true},
        ReconnectRow{"AbsentPort", 3,
                     QString::fromUtf8("Error: nie można się połączyć! Sprawdź ustawienia!"),
                     false}),
    [](const ::testing::TestParamInfo<ReconnectRow>& info) {
        return std::string(info.param.name);
    });

using AboutCommand = StartupFixture;

TEST_F(AboutCommand, ShowsTheOneAboutBoxWithoutMakingItModal) {
    Form().show();
    Find<QAction>(Form(), "MMabout")->trigger();
    Find<QAction>(Form(), "MMabout")->trigger();

    AboutDialog& about = TopLevel<AboutDialog>("AboutBox");
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    int shown = 0;  // no second box was made
    for (QWidget* window : QApplication::topLevelWidgets())
        shown += qobject_cast<AboutDialog*>(window) != nullptr && window->isVisible();
    EXPECT_EQ(shown, 1);
}

// The identification the composition hands the dialog: this very process's file digest, as
// sha256sum gives it, in the version's tooltip.
TEST_F(AboutCommand, ShowsTheRunningProgramsFileDigest) {
    Find<QAction>(Form(), "MMabout")->trigger();
    QProcess sha256sum;
    sha256sum.start("sha256sum", {QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(sha256sum.waitForFinished(30000)) << sha256sum.errorString().toStdString();
    ASSERT_EQ(sha256sum.exitCode(), 0) << sha256sum.readAllStandardError().toStdString();
    const QString hex = QString::fromLatin1(sha256sum.readAllStandardOutput().left(64));
    AboutDialog& about = TopLevel<AboutDialog>("AboutBox");
    QLabel* version = Find<QLabel>(about, "Lversion");
    ASSERT_TRUE(waga::test::RunEventsUntil([&] {
        return !version->toolTip().contains("liczenie");
    })) << version->toolTip().toStdString();
    EXPECT_EQ(version->toolTip().section('\n', 1, 1),
              QStringLiteral("SHA-256 pliku programu: ") + hex);
    EXPECT_EQ(about.height(), AboutDialog::kFoldedClientHeight);
}

// ---- An error escaping a handler ----

class Throwing : public QObject {
  public:
    int handled = 0;

  protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User) return QObject::event(event);
        ++handled;
        if (handled == 1) throw std::runtime_error("Nieoczekiwany stan portu");
        return true;
    }
};

TEST(EscapedError, IsShownInTheProgramBoxAndTheProgramGoesOn) {
    Throwing target;
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));

    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return target.handled == 2; }));
    ASSERT_EQ(answerer.Seen().size(), 1u);
    const SeenModal& box = answerer.Seen().front();
    EXPECT_EQ(box.title, ApplicationTitle(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.text, QString::fromUtf8("Nieoczekiwany stan portu."));
}

}  // namespace

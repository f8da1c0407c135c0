// The "Baza centralna" window as the program builds it (offscreen), against a real server:
// the operator's settings go to dodatki.ini's own section, the password only to the password
// file (0600), the uploader starts without a restart, and the window shows its state.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>

#include "CentralDbWindow.h"
#include "CentralServer.h"
#include "CentralUploader.h"
#include "Composition.h"
#include "Controls.h"
#include "MainWindow.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

std::string PasswordOf(const std::string& pgpass, const std::string& role) {
    const auto at = pgpass.find(":" + role + ":");
    const auto start = at + role.size() + 2;
    return pgpass.substr(start, pgpass.find('\n', start) - start);
}

TEST(CentralWindow, SettingsSavedStartTheUploadAndTheWindowShowsItsState) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::TempDir folder;
    const QString dir = QString::fromStdString(folder.Path());
    const std::string passFile = folder.File("hasla");
    qputenv("PGPASSFILE", QByteArray::fromStdString(passFile));
    // Other sections of dodatki.ini stay as they are.
    AddOnSettings before;
    before.journal.keepDays = 30;
    before.service.names = "waga.example";
    before.service.token = "tajny";
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(before, error, folder.Path())) << error;
    ASSERT_TRUE(WriteBacklog(dir + QStringLiteral("/dziennik.sqlite"), 100));

    waga::test::ScopedWorkingDir cwd(folder.Path());
    Composition program;
    auto* item = program.Window().findChild<QAction*>(QStringLiteral("MMbaza_centralna"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("&Baza centralna..."));
    EXPECT_FALSE(program.Parts().Uploader().Status().enabled);  // off until configured
    // The main window's indicator of the upload: nothing while it is off.
    const auto indicator = [&] {
        return program.Window().findChild<QLabel*>(QStringLiteral("LStanBazy"));
    };
    ASSERT_NE(indicator(), nullptr);
    EXPECT_FALSE(indicator()->isVisibleTo(&program.Window()));
    item->trigger();
    auto* window = qApp->findChild<CentralDbWindow*>();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<CentralDbWindow*>(top)) window = found;
    }
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->isVisible());
    auto* mode = window->findChild<QComboBox*>(QStringLiteral("CSSL"));
    auto* unsafe = window->findChild<QLabel*>(QStringLiteral("LSSLOstrzezenie"));
    EXPECT_EQ(mode->currentText(), QStringLiteral("verify-full"));
    EXPECT_FALSE(unsafe->isVisible());
    EXPECT_EQ(window->findChild<QSpinBox*>(QStringLiteral("SPort"))->value(), 5432);
    // A mode that does not check the server is shown as unsafe while it is chosen.
    for (const char* weak : {"require", "disable"}) {
        mode->setCurrentText(QLatin1String(weak));
        EXPECT_TRUE(unsafe->isVisible()) << weak;
        EXPECT_TRUE(
            unsafe->text().startsWith(QStringLiteral("Niebezpieczne: SSL=") + QLatin1String(weak)))
            << unsafe->text().toStdString();
    }
    mode->setCurrentText(QStringLiteral("verify-full"));
    EXPECT_FALSE(unsafe->isVisible());

    window->findChild<QCheckBox*>(QStringLiteral("CBWlaczona"))->setChecked(true);
    window->findChild<QLineEdit*>(QStringLiteral("EHost"))->setText(QStringLiteral(" 127.0.0.1 "));
    window->findChild<QSpinBox*>(QStringLiteral("SPort"))->setValue(server.Port());
    window->findChild<QLineEdit*>(QStringLiteral("EBaza"))->setText(QStringLiteral("waga"));
    window->findChild<QLineEdit*>(QStringLiteral("EUzytkownik"))
        ->setText(QStringLiteral("stacja1"));
    window->findChild<QLineEdit*>(QStringLiteral("ECA"))
        ->setText(QString::fromStdString(server.CaPath()));
    window->findChild<QLineEdit*>(QStringLiteral("EStacja"))->setText(QStringLiteral("stacja1"));
    const std::string password = PasswordOf(waga::test::ReadFile(server.PgPassPath()), "stacja1");
    window->findChild<QLineEdit*>(QStringLiteral("EHaslo"))
        ->setText(QString::fromStdString(password));
    window->findChild<QPushButton*>(QStringLiteral("BZapisz"))->click();

    const AddOnLoadResult after = LoadAddOnSettings(folder.Path());
    EXPECT_EQ(after.settings.journal, before.journal);
    EXPECT_EQ(after.settings.service, before.service);
    EXPECT_EQ(after.settings.central, server.SettingsFor("stacja1"));
    const std::string ini = waga::test::ReadFile(folder.File("dodatki.ini"));
    EXPECT_EQ(ini.find(password), std::string::npos);
    EXPECT_EQ(waga::test::ReadFile(passFile),
              "127.0.0.1:" + std::to_string(server.Port()) + ":waga:stacja1:" + password + "\n");
    struct stat info {};
    ASSERT_EQ(::stat(passFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_TRUE(window->findChild<QLineEdit*>(QStringLiteral("EHaslo"))->text().isEmpty());

    auto* state = window->findChild<QLabel*>(QStringLiteral("LStan"));
    EXPECT_TRUE(waga::test::RunEventsUntil(
        [&] { return state->text() == QStringLiteral("Stan: połączona, zaległe: 0"); }, 20s))
        << state->text().toStdString();
    auto* last = window->findChild<QLabel*>(QStringLiteral("LOstatnie"));
    EXPECT_NE(last->text(), central::LastUploadText(0));
    EXPECT_TRUE(indicator()->isVisibleTo(&program.Window()));
    EXPECT_EQ(indicator()->text(), QStringLiteral("Baza: połączona, zaległe: 0"));
    EXPECT_FALSE(indicator()->font().bold());
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"),
                                        dir + QStringLiteral("/dziennik.sqlite")));
    // Saved again, the upload starts anew and the window still knows when rows last went.
    const QString shown = last->text();
    window->findChild<QPushButton*>(QStringLiteral("BZapisz"))->click();
    waga::test::RunEvents(500ms);
    EXPECT_EQ(last->text(), shown);

    // The server goes away: the window says so and counts what waits.
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(WriteBacklog(dir + QStringLiteral("/dziennik.sqlite"), 7, 100));
    EXPECT_TRUE(waga::test::RunEventsUntil(
        [&] {
            return state->text().startsWith(QStringLiteral("Stan: brak połączenia: ")) &&
                   state->text().endsWith(QStringLiteral("; zaległe: 7"));
        },
        20s))
        << state->text().toStdString();
    // So does the main window, in red, with the cause in the indicator's tooltip.
    EXPECT_EQ(indicator()->text(), QStringLiteral("Baza: brak połączenia, zaległe: 7"));
    EXPECT_TRUE(indicator()->font().bold());
    EXPECT_TRUE(indicator()->toolTip().startsWith(QStringLiteral("Baza centralna: ") +
                                                  state->text().mid(6)))
        << indicator()->toolTip().toStdString();
}

}  // namespace

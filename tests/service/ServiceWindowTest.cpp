// The settings window offscreen, over a real station (its service and its dodatki.ini store):
// defaults, the token generator, the masked token shown and copied, saving only [SerwerWagi]
// (0600 with a token) and the running service following it (started, moved, stopped), the
// warning about a token others may read, the refusals, and the state shown as a link to the
// running service or as the cause of a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTcpServer>
#include <filesystem>

#include "Composition.h"
#include "HttpClient.h"
#include "MainWindow.h"
#include "ServiceWindow.h"
#include "Station.h"
#include "TestSupport.h"
#include "WeightService.h"

using namespace waga::test;

namespace {

class ServiceWindowTest : public ::testing::Test {
  protected:
    // The station and its window over what dir_ holds now: dodatki.ini is read once, here.
    ServiceWindow& Open() {
        station_ = std::make_unique<Station>(QString::fromStdString(dir_.Path()));
        window_ = std::make_unique<ServiceWindow>(station_->AddOns(), station_->Service());
        return *window_;
    }
    template <typename T>
    T* Find(const char* name) {
        T* widget = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString Ini() { return QString::fromStdString(ReadFile(dir_.File("dodatki.ini"))); }
    QString State() { return Find<QLabel>("LStan")->text(); }

    TempDir dir_;
    std::unique_ptr<Station> station_;
    std::unique_ptr<ServiceWindow> window_;
};

TEST_F(ServiceWindowTest, DefaultsWhenNothingIsSaved) {
    Open().show();
    EXPECT_FALSE(Find<QCheckBox>("CBWlaczony")->isChecked());
    EXPECT_EQ(Find<QCheckBox>("CBWlaczony")->text(),
              QStringLiteral("Udostępniaj odczyty innym programom"));
    EXPECT_EQ(Find<QLineEdit>("EAdres")->text(), "127.0.0.1");
    EXPECT_EQ(Find<QSpinBox>("EPort")->value(), 8765);
    EXPECT_EQ(Find<QLineEdit>("EToken")->text(), "");
    EXPECT_EQ(Find<QLineEdit>("ENazwy")->text(), "");
    EXPECT_EQ(State(), QStringLiteral("wyłączony"));
}

TEST_F(ServiceWindowTest, TokenIsMaskedShownOnAskingAndCopied) {
    Open().show();
    auto* token = Find<QLineEdit>("EToken");
    auto* show = Find<QPushButton>("BPokaz");
    Find<QPushButton>("BGeneruj")->click();
    EXPECT_EQ(token->echoMode(), QLineEdit::Password);
    EXPECT_NE(token->displayText(), token->text());
    show->click();
    EXPECT_EQ(token->displayText(), token->text());
    EXPECT_EQ(show->text(), QStringLiteral("Ukryj"));
    show->click();
    EXPECT_EQ(token->echoMode(), QLineEdit::Password);
    EXPECT_EQ(show->text(), QStringLiteral("Pokaż"));
    Find<QPushButton>("BKopiuj")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), token->text());
}

// A token in a file others may read is used, and said: in the window and in the service's
// notice (the main window's tooltip and standard error); saving again makes it the owner's.
TEST_F(ServiceWindowTest, TokenReadableByOthersIsWarnedAboutUntilSaved) {
    const std::string file = dir_.File("dodatki.ini");
    WriteFile(file, "[SerwerWagi]\nToken=0123456789abcdefgh\n");
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    Open().show();
    const QString warning = QStringLiteral(
        "Plik dodatki.ini z tokenem serwera wagi mogą czytać inni użytkownicy; zapisz ustawienia "
        "ponownie albo wykonaj: chmod 600 dodatki.ini");
    EXPECT_EQ(Find<QLabel>("LKomunikat")->text(), warning);
    EXPECT_EQ(station_->Service().Notice(), warning);
    EXPECT_EQ(Find<QLineEdit>("EToken")->text(), "0123456789abcdefgh");
    ASSERT_TRUE(window_->BZapiszClick());
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(station_->Service().Notice(), QString());
}

TEST_F(ServiceWindowTest, SavingStartsTheServiceAndKeepsOtherSections) {
    WriteFile(dir_.File("dodatki.ini"), "[Dziennik]\nWlaczony=1\nPrzechowuj_dni=30\n");
    QTcpServer probe;  // a free port for the service
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    Open().show();
    Find<QCheckBox>("CBWlaczony")->setChecked(true);
    Find<QSpinBox>("EPort")->setValue(port);
    Find<QPushButton>("BGeneruj")->click();
    const QString token = Find<QLineEdit>("EToken")->text();
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{43}$").match(token).hasMatch())
        << token.toStdString();
    Find<QLineEdit>("EZrodla")->setText("http://erp.example");
    Find<QLineEdit>("ENazwy")->setText(" waga1.firma.example ");
    Find<QPushButton>("BZapisz")->click();

    const QString ini = Ini();
    EXPECT_TRUE(ini.contains("Przechowuj_dni=30")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("Wlaczony=1"));
    EXPECT_TRUE(ini.contains("Token=" + token));
    EXPECT_TRUE(ini.contains("Zrodla=http://erp.example"));
    EXPECT_TRUE(ini.contains("Nazwy=waga1.firma.example\n"));
    struct stat info {};
    ASSERT_EQ(stat(dir_.File("dodatki.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    ASSERT_TRUE(RunEventsUntil([&] { return State().contains("działa"); }))
        << State().toStdString();
    EXPECT_EQ(State(), QStringLiteral("działa: <a href=\"%1\">%1</a>").arg(url));
    EXPECT_EQ(Get(port, "/api/v1/weight").status, 200);

    // Another port: the running service moves there.
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 moved = probe.serverPort();
    probe.close();
    Find<QSpinBox>("EPort")->setValue(moved);
    Find<QPushButton>("BZapisz")->click();
    ASSERT_TRUE(RunEventsUntil([&] { return State().contains(QString::number(moved)); }))
        << State().toStdString();
    EXPECT_EQ(Get(moved, "/api/v1/weight").status, 200);
    EXPECT_EQ(Get(port, "/api/v1/weight").status, 0);  // nobody listens there any more

    // Switched off: saved and stopped.
    Find<QCheckBox>("CBWlaczony")->setChecked(false);
    Find<QPushButton>("BZapisz")->click();
    EXPECT_TRUE(Ini().contains("Wlaczony=0"));
    EXPECT_EQ(State(), QStringLiteral("wyłączony"));
    EXPECT_EQ(Get(moved, "/api/v1/weight").status, 0);
}

TEST_F(ServiceWindowTest, RefusalsKeepTheFileAndSayWhy) {
    WriteFile(dir_.File("dodatki.ini"), "[SerwerWagi]\nPort=9000\n");
    Open().show();
    struct Row {
        const char* address;
        const char* token;
        const char* message;
    };
    const Row rows[] = {
        {"0.0.0.0", "", "Adres inny niż 127.0.0.1 wymaga tokenu."},
        {"0.0.0.0", "za-krotki-token", "Token musi mieć co najmniej 16 znaków."},
        {"serwer", "", "Adres „serwer” nie jest adresem IP."},
        {"127.0.0.1", "a b", "Token nie może zawierać spacji."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        Find<QCheckBox>("CBWlaczony")->setChecked(true);
        Find<QLineEdit>("EAdres")->setText(row.address);
        Find<QLineEdit>("EToken")->setText(row.token);
        EXPECT_FALSE(window_->BZapiszClick());
        EXPECT_EQ(Find<QLabel>("LKomunikat")->text(), QString::fromUtf8(row.message));
        EXPECT_EQ(Ini(), "[SerwerWagi]\nPort=9000\n");
        EXPECT_EQ(State(), QStringLiteral("wyłączony"));
    }
}

TEST_F(ServiceWindowTest, PortTakenShowsTheCause) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    Open().show();
    Find<QCheckBox>("CBWlaczony")->setChecked(true);
    Find<QSpinBox>("EPort")->setValue(holder.serverPort());
    ASSERT_TRUE(window_->BZapiszClick());
    ASSERT_TRUE(RunEventsUntil([&] { return State().startsWith("błąd"); }));
    EXPECT_EQ(State(), QStringLiteral("błąd: port %1 jest zajęty").arg(holder.serverPort()));
    if (qEnvironmentVariableIsSet("WAGA_SERVICE_WINDOW_PNG")) {
        window_->grab().save(qEnvironmentVariable("WAGA_SERVICE_WINDOW_PNG"));
    }
}

// As the composition root builds it: started from dodatki.ini, fed by the pipeline, its window
// opened from "Serwer wagi..." in "&Widok".
TEST(ServiceAttach, StartsFromTheFileAndOpensFromTheMenu) {
    TempDir dir;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    WriteFile(dir.File("dodatki.ini"),
              "[SerwerWagi]\nWlaczony=1\nPort=" + std::to_string(port) + "\n");
    ScopedWorkingDir cwd(dir.Path());
    Composition program;
    ASSERT_TRUE(RunEventsUntil(
        [&] { return program.Parts().Service().CurrentState() == WeightService::State::Running; }));
    // The main window says it runs, and where, in its corner.
    auto* indicator = program.Window().findChild<QLabel*>(QStringLiteral("LStanSerwera"));
    ASSERT_NE(indicator, nullptr);
    EXPECT_EQ(indicator->text(), QStringLiteral("Serwer: działa"));
    EXPECT_EQ(indicator->toolTip(),
              QStringLiteral("Serwer wagi: działa: http://127.0.0.1:%1/").arg(port));
    program.Settings().SetUnitCaption(Win1250Text("kg"));
    program.Pipeline().Receive("  7,5\r", 6);
    EXPECT_TRUE(WaitUntil(
        [&] { return Get(port, "/api/v1/weight").Json().value("reading").toString() == "7,5"; }));
    auto* item = program.Window().findChild<QAction*>(QStringLiteral("MMserwer_wagi"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("Se&rwer wagi..."));
    item->trigger();
    ServiceWindow* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<ServiceWindow*>(top)) window = found;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->close();
}

// Installed, the service is off and its sink only keeps its place; switched on later, the
// service first shows the last reading as the read-out had it: its text, value, unit and the
// journal's row of its run (three identical readings, then a report line, make one row).
TEST(ServiceAttach, SwitchedOnLaterShowsTheLastReadingAndItsRow) {
    TempDir dir;
    ScopedWorkingDir cwd(dir.Path());
    Composition program;
    program.Settings().SetUnitCaption(Win1250Text("kg"));
    program.Switches().SetRecording(false);  // no day file made here
    const std::string lines =
        "  3,25\r  7,5\r  7,5\r  7,5\rKoniec wa\xBF"
        "enia\r";
    program.Pipeline().Receive(lines.data(), static_cast<int>(lines.size()));

    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    ServiceSettings settings;
    settings.enabled = true;
    settings.port = probe.serverPort();
    probe.close();
    program.Parts().Service().Apply(settings);
    ASSERT_TRUE(RunEventsUntil(
        [&] { return program.Parts().Service().CurrentState() == WeightService::State::Running; }));
    const QJsonObject weight = Get(settings.port, "/api/v1/weight").Json();
    EXPECT_EQ(weight.value("reading").toString(), "7,5");
    EXPECT_EQ(weight.value("value").toDouble(), 7.5);
    EXPECT_EQ(weight.value("unit").toString(), "kg");

    QJsonArray rows;
    ASSERT_TRUE(WaitUntil([&] {
        rows = Get(settings.port, "/api/v1/lines?since=0&limit=10").Json().value("lines").toArray();
        return rows.size() == 3;
    })) << rows.size();
    const QJsonObject run = rows[1].toObject();
    EXPECT_EQ(run.value("text").toString(), "  7,5");
    EXPECT_EQ(run.value("count").toInt(), 3);
    EXPECT_EQ(weight.value("seq").toInteger(), run.value("seq").toInteger());
    EXPECT_EQ(rows[2].toObject().value("text").toString(), QStringLiteral("Koniec ważenia"));
}

}  // namespace

// The additions' indicators in the menu bar's corner: what each state reads and whether it is
// shown as a fault. The window tests of the service and the upload follow them live.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>

#include "AddOnIndicators.h"
#include "UiFixture.h"

namespace {

central::CentralStatus Upload(bool connected, const char* cause, qint64 backlog, bool counted,
                              bool held = false) {
    central::CentralStatus status;
    status.enabled = true;
    status.connected = connected;
    status.cause = QString::fromUtf8(cause);
    status.backlog = backlog;
    status.backlogCounted = counted;
    status.held = held;
    return status;
}

TEST(AddOnIndicators, UploadStates) {
    struct Row {
        central::CentralStatus status;
        const char* text;
        bool fault;
    };
    const Row rows[] = {
        {{}, "", false},
        {Upload(false, central::kConnectingCause, 0, false), "Baza: łączenie…", false},
        {Upload(true, "", 0, true), "Baza: połączona, zaległe: 0", false},
        {Upload(true, "brak miejsca na dysku serwera", 3, true), "Baza: wysyłanie stoi, zaległe: 3",
         true},
        {Upload(false, "serwer odrzucił połączenie", 1234, true),
         "Baza: brak połączenia, zaległe: 1234", true},
        {Upload(false, "serwer odrzucił połączenie", 0, false), "Baza: brak połączenia", true},
        {Upload(true, "seq 5 ma inny wiersz", 5, true, true), "Baza: wstrzymana, zaległe: 5", true},
    };
    for (const Row& row : rows) {
        const AddOnIndicator shown = CentralIndicator(row.status);
        EXPECT_EQ(shown.text, QString::fromUtf8(row.text));
        EXPECT_EQ(shown.fault, row.fault) << row.text;
        // The tooltip gives the whole state with its cause while the upload is on.
        if (row.status.enabled) {
            EXPECT_TRUE(shown.tooltip.startsWith(QStringLiteral("Baza centralna: ") +
                                                 central::CentralStateText(row.status)))
                << shown.tooltip.toStdString();
        } else {
            EXPECT_TRUE(shown.tooltip.isEmpty());
        }
    }
}

TEST(AddOnIndicators, ServiceStates) {
    using State = WeightService::State;
    struct Row {
        State state;
        const char* text;
        const char* tooltip;
        bool fault;
    };
    const Row rows[] = {
        {State::Off, "", "", false},
        {State::Starting, "Serwer: uruchamianie…", "Serwer wagi: uruchamianie…", false},
        {State::Running, "Serwer: działa", "Serwer wagi: działa: http://127.0.0.1:8765/", false},
        {State::Failed, "Serwer: błąd", "Serwer wagi: błąd: port 8765 jest zajęty", true},
    };
    for (const Row& row : rows) {
        const AddOnIndicator shown =
            ServiceIndicator(row.state, QStringLiteral("http://127.0.0.1:8765/"),
                             QStringLiteral("port 8765 jest zajęty"));
        EXPECT_EQ(shown, (AddOnIndicator{QString::fromUtf8(row.text),
                                         QString::fromUtf8(row.tooltip), row.fault}));
    }
}

// In the window's menu bar: after a fault and its end, each indicator is in the same font as
// one that never had a fault.
class AddOnIndicatorsInWindow : public UiFixture {};

TEST_F(AddOnIndicatorsInWindow, AfterAFaultTheFontIsTheOthers) {
    const AddOnIndicator running = ServiceIndicator(WeightService::State::Running, {}, {});
    Form().SetAddOnIndicator(QStringLiteral("LStanSerwera"), running);
    Form().SetAddOnIndicator(QStringLiteral("LStanBazy"),
                             CentralIndicator(Upload(false, "serwer nie odpowiada", 3, true)));
    Form().SetAddOnIndicator(QStringLiteral("LStanBazy"),
                             CentralIndicator(Upload(true, "", 0, true)));
    const auto* service = Form().findChild<QLabel*>(QStringLiteral("LStanSerwera"));
    const auto* upload = Form().findChild<QLabel*>(QStringLiteral("LStanBazy"));
    ASSERT_NE(service, nullptr);
    ASSERT_NE(upload, nullptr);
    EXPECT_EQ(upload->text(), QStringLiteral("Baza: połączona, zaległe: 0"));
    const QFontInfo a(service->font()), b(upload->font());
    EXPECT_EQ(a.pixelSize(), b.pixelSize());
    EXPECT_EQ(a.family(), b.family());
    EXPECT_EQ(a.bold(), b.bold());
    EXPECT_EQ(service->sizeHint().height(), upload->sizeHint().height());
}

}  // namespace

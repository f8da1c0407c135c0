// The service seen from outside, in a network namespace of the test program's own (made before
// anything else runs; only the loopback device, which also gets an address outside 127/8 where a
// test needs a client that is not loopback), so nothing here can reach beyond this machine:
// - the live page in a real browser: Debian's Chromium, headless, loads the page from the running
//   service and its DOM shows the current reading, the report lines and the trend; a screenshot
//   is saved for a person to look at (WAGA_SERVICE_PAGE_PNG names the file);
// - a client that is not on loopback needs the token (401 without it).
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <cstring>

#include "HttpClient.h"
#include "ServiceFixture.h"

using namespace waga::test;

namespace {

std::string namespaceProblem;

// A network namespace with the loopback device up; as root, or else in a user namespace.
void EnterLoopbackOnlyNetwork() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        namespaceProblem = std::string("unshare: ") + std::strerror(errno);
        return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (fd < 0 || ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        namespaceProblem = std::string("SIOCGIFFLAGS: ") + std::strerror(errno);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            namespaceProblem = std::string("SIOCSIFFLAGS: ") + std::strerror(errno);
        }
    }
    if (fd >= 0) close(fd);
}

class ServiceBrowser : public ServiceFixture {
  protected:
    void SetUp() override {
        if (!namespaceProblem.empty()) GTEST_SKIP() << "no own network: " << namespaceProblem;
        chromium_ = QStandardPaths::findExecutable("chromium");
        if (chromium_.isEmpty()) GTEST_SKIP() << "chromium is not installed (scripts/setup)";
        ServiceFixture::SetUp();
    }

    // Runs headless Chromium on `url` with `extra` arguments; its standard output.
    QByteArray RunChromium(const QStringList& extra, const QString& url) {
        TempDir profile;
        QProcess chromium;
        chromium.setProgram(chromium_);
        chromium.setArguments(
            QStringList{"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update",
                        "--hide-scrollbars",
                        "--user-data-dir=" + QString::fromStdString(profile.Path())} +
            extra + QStringList{url});
        chromium.start();
        EXPECT_TRUE(chromium.waitForStarted(10000));
        EXPECT_TRUE(RunEventsUntil([&] { return chromium.state() == QProcess::NotRunning; },
                                   std::chrono::seconds(90)));
        if (chromium.state() != QProcess::NotRunning) {
            chromium.kill();
            chromium.waitForFinished(5000);
        }
        return chromium.readAllStandardOutput();
    }

    QString chromium_;
};

TEST_F(ServiceBrowser, PageShowsTheCurrentReadingReportsAndTrend) {
    StartService();
    ASSERT_NE(port_, 0);
    const std::int64_t now = UtcNowMs();
    pipeline_.AnnouncePortState(PortState::Opened);
    // Five minutes of readings (a load put on and taken off) and a few report lines.
    for (int i = 0; i <= 140; ++i) {
        clockMs_ = now - 290000 + i * 2000;
        const double value = i < 30 ? 0.0 : i < 90 ? 12.0 + (i % 7) * 0.05 : i < 110 ? 0.0 : 12.34;
        char text[32];
        std::snprintf(text, sizeof text, "%8.2f\r", value);
        std::string line(text);
        std::replace(line.begin(), line.end(), '.', ',');
        Feed(line);
        if (i % 35 == 0)
            Feed(
                "Wa\xBF"
                "enie nr " +
                std::to_string(i / 35 + 1) + ": " + line);
    }
    clockMs_ = 0;
    Feed("   12,34\r");
    Settle();
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port_);

    const QString dom = QString::fromUtf8(RunChromium({"--dump-dom"}, url));
    EXPECT_TRUE(dom.contains(QStringLiteral("<span id=\"waga\">12,34</span>")))
        << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("<span id=\"jednostka\">kg</span>")));
    // Filled in by the page's script from the state the server gave it.
    EXPECT_TRUE(dom.contains(QStringLiteral("<li>Ważenie nr 1:")));
    EXPECT_TRUE(dom.contains(QStringLiteral("<li>Ważenie nr 5:")));
    EXPECT_TRUE(dom.contains(QStringLiteral("COM2: połączono"))) << dom.toStdString();

    const QString png = qEnvironmentVariableIsSet("WAGA_SERVICE_PAGE_PNG")
                            ? qEnvironmentVariable("WAGA_SERVICE_PAGE_PNG")
                            : QString::fromStdString(dir_.File("strona.png"));
    Feed("   12,34\r");  // fresh for the picture
    Settle();
    RunChromium({"--screenshot=" + png, "--window-size=1100,760"}, url);
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull()) << png.toStdString();
    EXPECT_EQ(shot.width(), 1100);
    // The trend line (its colour) is drawn on the canvas.
    int trendPixels = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) == qRgb(0x1f, 0x6f, 0xb2)) ++trendPixels;
        }
    }
    EXPECT_GT(trendPixels, 200);
}

// A non-loopback address on the namespace's own loopback device (TEST-NET-2, the namespace's
// alone).
constexpr char kOwnAddress[] = "198.51.100.7";

class ServiceRemoteClient : public ServiceFixture {
  protected:
    void SetUp() override {
        if (!namespaceProblem.empty()) GTEST_SKIP() << "no own network: " << namespaceProblem;
        const QString ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin"});
        if (ip.isEmpty()) GTEST_SKIP() << "ip (iproute2) is not installed (scripts/setup)";
        static bool made = false;
        if (!made) {
            const QStringList args{"addr", "add", QString(kOwnAddress) + "/32", "dev", "lo"};
            ASSERT_EQ(QProcess::execute(ip, args), 0) << args.join(' ').toStdString();
            made = true;
        }
        ServiceFixture::SetUp();
    }
};

TEST_F(ServiceRemoteClient, NeedsTheBearerToken) {
    ServiceSettings settings;
    settings.address = kOwnAddress;
    settings.token = "Zb9-tajny_token";
    StartService(settings);
    ASSERT_EQ(service_->CurrentState(), WeightService::State::Running)
        << service_->Cause().toStdString();
    const QHostAddress server(kOwnAddress);
    struct Row {
        const char* target;
        const char* method;
        const char* authorization;  // nullptr: none
        int status;
    };
    const Row rows[] = {
        {"/api/v1/weight", "GET", nullptr, 401},
        {"/api/v1/weight", "GET", "Bearer zly", 401},
        {"/api/v1/weight", "GET", "Bearer Zb9-tajny_token", 200},
        {"/api/v1/events?x", "GET", nullptr, 401},
        {"/", "GET", nullptr, 401},
        {"/nothing", "GET", nullptr, 401},  // nothing is told without the token
        {"/nothing", "GET", "Bearer Zb9-tajny_token", 404},
        {"/api/v1/weight", "OPTIONS", nullptr, 204},  // preflight carries no credentials
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + row.target);
        QList<QPair<QByteArray, QByteArray>> headers;
        if (row.authorization) {
            headers.append(qMakePair(QByteArray("Authorization"), QByteArray(row.authorization)));
        }
        const HttpAnswer answer =
            Request(port_, row.method, row.target, headers, server, QHostAddress(kOwnAddress));
        EXPECT_EQ(answer.status, row.status);
        if (row.status == 401) {
            EXPECT_EQ(answer.Header("WWW-Authenticate"), "Bearer");
            EXPECT_FALSE(answer.Json().value("error").toString().isEmpty());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    EnterLoopbackOnlyNetwork();  // before any socket or thread exists
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

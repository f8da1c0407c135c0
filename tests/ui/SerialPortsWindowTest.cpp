// The serial ports window opened from the real main window, offscreen: the ports with what each
// stands for and whether it opens, the devices from an injected list with a fake by-id folder,
// links made, replaced and refused in the working directory, and the reconnect at once when the
// program's own port is assigned. Devices are pseudo-terminals.

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "SerialDevicePosix.h"
#include "SerialPortsWindow.h"
#include "UiFixture.h"

namespace fs = std::filesystem;
using waga::test::PtyLink;
using waga::test::RunEventsUntil;

namespace {

const char kStableA[] = "usb-VEK_Adapter_USB-RS232_VK0001-if00-port0";

class SerialPortsWindowTest : public UiFixture {
  protected:
    void SetUp() override {
        UiFixture::SetUp();
        byId_ = Path("by-id");
        fs::create_directory(byId_);
        fs::create_symlink(a_.SlavePath(), byId_ + "/" + kStableA);
        devices_ = {{Q(a_.SlavePath()), "Adapter USB-RS232", "VEK", "VK0001"},
                    {Q(b_.SlavePath()), "", "", ""}};
        Window().SetByIdFolder(byId_);
        Window().SetDeviceSource([this] { return devices_; });
        Program().Port().SetComPortSpeed(br2400);
    }
    void TearDown() override {
        Window().close();
        Program().Port().ClosePort();
        UiFixture::TearDown();
    }

    static QString Q(const std::string& text) { return QString::fromStdString(text); }
    SerialPortsWindow& Window() { return TopLevel<SerialPortsWindow>("FormPorty"); }
    QTableWidget* Table(const char* name) { return Find<QTableWidget>(Window(), name); }
    QString Message() { return Find<QLabel>(Window(), "LKomunikat")->text(); }

    // "Widok" → "Porty szeregowe...", as the operator opens it.
    void OpenWindow() {
        Find<QAction>(Form(), "MMporty")->trigger();
        ASSERT_TRUE(RunEventsUntil([&] { return Window().isVisible(); }));
    }
    QStringList Row(const char* table, int row) {
        QStringList texts;
        for (int column = 0; column < Table(table)->columnCount(); ++column) {
            texts << Table(table)->item(row, column)->text();
        }
        return texts;
    }
    // Selects the port and the device and presses "Przypisz".
    void Assign(PortNumber port, int deviceRow) {
        Table("TPorty")->selectRow(port);
        Table("TUrzadzenia")->selectRow(deviceRow);
        auto* assign = Find<QPushButton>(Window(), "BPrzypisz");
        ASSERT_TRUE(assign->isEnabled());
        assign->click();
    }
    void Link(const std::string& target, const char* name) { fs::create_symlink(target, name); }
    static std::string LinkTarget(const char* name) { return fs::read_symlink(name).string(); }

    PtyLink a_{"A"};
    PtyLink b_{"B"};
    std::string byId_;
    QList<PresentSerialDevice> devices_;
};

TEST_F(SerialPortsWindowTest, OpensFromTheViewMenuRightAfterTheTransmissionSettings) {
    const QList<QAction*> items = Find<QMenu>(Form(), "MMwidok")->actions();
    const qsizetype settings = items.indexOf(Find<QAction>(Form(), "MMustaw_rs"));
    ASSERT_GE(settings, 0);
    ASSERT_GE(items.size(), settings + 2);  // the additions' windows follow
    EXPECT_EQ(items[settings + 1]->objectName(), "MMporty");

    OpenWindow();
    EXPECT_EQ(Window().windowTitle(), "Porty szeregowe");
    EXPECT_FALSE(Window().isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(Find<QLabel>(Window(), "LWskazowka")->text(),
              "Program używa portu COM2. Aby przypisać urządzenie do portu, zaznacz port i "
              "urządzenie, a potem naciśnij „Przypisz”.");
    Find<QAction>(Form(), "MMporty")->trigger();  // a second time: the same window
    EXPECT_EQ(QApplication::topLevelWidgets().count(&Window()), 1);
}

// Each cause of a port that does not open, produced for real; the program's own port is not
// probed (its exclusive lock would refuse the probe).
TEST_F(SerialPortsWindowTest, ListsEachPortWithItsDeviceAndWhetherItOpens) {
    Link(Path("odlaczony"), "COM1");
    Link(a_.SlavePath(), "COM2");
    Link("/dev/null", "COM3");
    Link(b_.SlavePath(), "COM4");
    ASSERT_TRUE(Program().Port().OpenPort());  // COM2
    PosixSerialDevice otherProgram;
    ASSERT_TRUE(otherProgram.Open("COM4").Opened());

    OpenWindow();

    const std::vector<QStringList> expected = {
        {"COM1", Q(Path("odlaczony")), "brak urządzenia " + Q(Path("odlaczony"))},
        {"COM2", Q(a_.SlavePath()), "otwarty przez ten program"},
        {"COM3", "/dev/null", "/dev/null: to nie jest port szeregowy"},
        {"COM4", Q(b_.SlavePath()), Q(b_.SlavePath()) + ": port zajęty przez inny program"},
    };
    ASSERT_EQ(Table("TPorty")->rowCount(), 4);
    for (int row = 0; row < 4; ++row) EXPECT_EQ(Row("TPorty", row), expected[row]);

    // Released by the other holder, closed by the program: both open now.
    otherProgram.Close();
    Program().Port().ClosePort();
    Find<QPushButton>(Window(), "BOdswiez")->click();
    EXPECT_EQ(Row("TPorty", 1)[2], "można otworzyć");
    EXPECT_EQ(Row("TPorty", 3)[2], "można otworzyć");
}

TEST_F(SerialPortsWindowTest, APortWithoutALinkStandsForTheDefaultDevice) {
    OpenWindow();
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Row("TPorty", row)[1], QString("/dev/ttyS%1 (domyślne)").arg(row));
    }
}

TEST_F(SerialPortsWindowTest, ListsTheDevicesWithTheirStableNames) {
    OpenWindow();
    ASSERT_EQ(Table("TUrzadzenia")->rowCount(), 2);
    EXPECT_EQ(Row("TUrzadzenia", 0), QStringList({Q(a_.SlavePath()), "Adapter USB-RS232", "VEK",
                                                  "VK0001", Q(byId_) + "/" + kStableA}));
    EXPECT_EQ(Row("TUrzadzenia", 1), QStringList({Q(b_.SlavePath()), "—", "—", "—", "—"}));
    EXPECT_FALSE(Find<QLabel>(Window(), "LBrakUrzadzen")->isVisible());

    // Offered first: on showing the adapter with a stable name, wherever it stands in the list;
    // on a refresh a device that has just appeared; else the operator's choice stays.
    const auto selected = [&] {
        const QModelIndexList rows = Table("TUrzadzenia")->selectionModel()->selectedRows();
        return rows.size() == 1 ? Table("TUrzadzenia")->item(rows[0].row(), 0)->text() : "";
    };
    const PresentSerialDevice a = devices_[0];
    const PresentSerialDevice b = devices_[1];
    Window().close();
    devices_ = {b, a};
    OpenWindow();
    EXPECT_EQ(selected(), a.device);
    Table("TUrzadzenia")->selectRow(0);
    Find<QPushButton>(Window(), "BOdswiez")->click();
    EXPECT_EQ(selected(), b.device);
    Window().close();
    devices_ = {b};
    OpenWindow();
    devices_ = {b, a};  // plugged in while the window is open
    Find<QPushButton>(Window(), "BOdswiez")->click();
    EXPECT_EQ(selected(), a.device);

    // Unplugged: nothing to assign, and the window says what to do.
    devices_.clear();
    Find<QPushButton>(Window(), "BOdswiez")->click();
    EXPECT_EQ(Table("TUrzadzenia")->rowCount(), 0);
    EXPECT_TRUE(Find<QLabel>(Window(), "LBrakUrzadzen")->isVisible());
    EXPECT_FALSE(Find<QPushButton>(Window(), "BPrzypisz")->isEnabled());
}

// Assigning a port that is not the program's: the link, the message, the refreshed row; the
// program's port is left as it was.
TEST_F(SerialPortsWindowTest, MakesThenReplacesTheLinkPreferringTheStableName) {
    OpenWindow();
    const std::string stable = byId_ + "/" + kStableA;
    struct Step {
        int device;
        std::string target;
        QString message;
    };
    const std::vector<Step> steps = {
        {0, stable, "Port COM3 przypisano do " + Q(stable) + "."},
        {1, b_.SlavePath(),
         "Port COM3 przypisano do " + Q(b_.SlavePath()) + " (wcześniej: " + Q(stable) + ")."},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.target);
        Assign(pnCOM3, step.device);
        ASSERT_TRUE(fs::is_symlink(fs::symlink_status("COM3")));
        EXPECT_EQ(LinkTarget("COM3"), step.target);
        EXPECT_EQ(Message(), step.message);
        EXPECT_EQ(Row("TPorty", pnCOM3), QStringList({"COM3", Q(step.target), "można otworzyć"}));
    }
    EXPECT_EQ(StatusText(Form()), "");
    EXPECT_FALSE(Program().Port().IsPortOpen());
}

TEST_F(SerialPortsWindowTest, LeavesAFileOrFolderNamedLikeThePortAlone) {
    OpenWindow();
    struct Row {
        bool folder;
        const char* kind;
    };
    for (const Row& row : {Row{false, "plikiem"}, Row{true, "folderem"}}) {
        SCOPED_TRACE(row.kind);
        if (row.folder) {
            fs::create_directory("COM4");
        } else {
            WriteFile(Path("COM4"), "moje notatki");
        }
        ModalAnswerer answerer;
        answerer.Push(ModalAnswerer::ClickButton("OK"));
        Assign(pnCOM4, 0);
        ASSERT_TRUE(RunEventsUntil([&] { return !answerer.Seen().empty(); }));
        EXPECT_EQ(answerer.Seen()[0].title, "Błąd");
        EXPECT_EQ(answerer.Seen()[0].text,
                  QString("COM4 w folderze roboczym %1 jest %2, a nie dowiązaniem, więc program "
                          "go nie zmienia. Usuń go lub zmień jego nazwę, a potem przypisz "
                          "urządzenie ponownie.")
                      .arg(Q(dir_->Path()), row.kind));
        EXPECT_EQ(answerer.Unexpected(), 0);
        EXPECT_EQ(Message(), "");
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status("COM4")));
        if (row.folder) {
            EXPECT_TRUE(fs::is_directory("COM4"));
            fs::remove("COM4");
        } else {
            EXPECT_EQ(ReadFile(Path("COM4")), "moje notatki");
            fs::remove("COM4");
        }
    }
}

// A working folder where no link can be made (here: removed while the program is in it, which
// refuses even root); the box names the port, the device and the system's reason.
TEST_F(SerialPortsWindowTest, ALinkTheSystemRefusesIsReported) {
    OpenWindow();
    fs::create_directory(Path("usuniety"));
    waga::test::ScopedWorkingDir into(Path("usuniety"));
    fs::remove(Path("usuniety"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));

    Assign(pnCOM3, 1);

    ASSERT_TRUE(RunEventsUntil([&] { return !answerer.Seen().empty(); }));
    EXPECT_EQ(answerer.Seen()[0].text,
              QString("Nie można przypisać portu COM3 do %1: %2 (błąd %3).")
                  .arg(Q(b_.SlavePath()), QString::fromLocal8Bit(std::strerror(ENOENT)))
                  .arg(ENOENT));
    EXPECT_EQ(Message(), "");
}

// The program's own port (COM2) assigned to device B: it reopens at once on B, whether it was
// open on another device or had not opened at all. The status bar tells, a fragment pending from
// before is dropped, and B's lines arrive.
TEST_F(SerialPortsWindowTest, AssigningTheProgramsPortReconnectsAtOnce) {
    struct Case {
        const char* name;
        bool openBefore;
    };
    for (const Case& c : {Case{"open on another device", true}, Case{"not opened", false}}) {
        SCOPED_TRACE(c.name);
        fs::remove("COM2");
        Link(c.openBefore ? a_.SlavePath() : Path("odlaczony"), "COM2");
        emit TopLevel<SerialPortsWindow>("FormPorty")
            .PortAssigned(pnCOM2);  // the program's own port
        ASSERT_EQ(Program().Port().IsPortOpen(), c.openBefore);
        ASSERT_EQ(StatusText(Form()), c.openBefore
                                          ? "Połączenie RS232, COM2, prędkość: 2400 rozpoczęte."
                                          : "Error: nie można się połączyć! Sprawdź ustawienia!");
        Feed("fragment");
        OpenWindow();

        Assign(pnCOM2, 1);

        EXPECT_EQ(LinkTarget("COM2"), b_.SlavePath());
        EXPECT_EQ(StatusText(Form()), "Połączenie RS232, COM2, prędkość: 2400 rozpoczęte.");
        EXPECT_TRUE(Program().Port().IsPortOpen());
        EXPECT_EQ(Program().Pipeline().PendingLine(), "");
        EXPECT_EQ(Row("TPorty", pnCOM2)[2], "otwarty przez ten program");
        Form().ReportDisplay().Clear();
        ASSERT_TRUE(b_.Write("po zmianie\r"));
        ASSERT_TRUE(RunEventsUntil([&] { return Form().ReportDisplay().LineCount() == 1; }));
        EXPECT_EQ(ReportLines(), std::vector<std::string>{"po zmianie"});
        Window().close();
    }
}

// A device the list does not show, typed as a path: a terminal (or a link to one) is assigned,
// anything else is refused on the result line, and the port's link is left as it was.
TEST_F(SerialPortsWindowTest, ATypedDevicePathIsCheckedThenAssigned) {
    WriteFile(Path("notatki.txt"), "x");
    fs::create_directory(Path("by-path"));
    Link(b_.SlavePath(), "by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    OpenWindow();
    struct Step {
        std::string typed;
        bool linked;
        QString message;
    };
    const std::string byPath = Path("by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    const std::vector<Step> steps = {
        {Path("nie-ma"), false,
         "Nie można przypisać portu COM3 do " + Q(Path("nie-ma")) + ": nie ma takiego urządzenia."},
        {Path("notatki.txt"), false,
         "Nie można przypisać portu COM3 do " + Q(Path("notatki.txt")) +
             ": to nie jest urządzenie znakowe (port szeregowy)."},
        {a_.SlavePath(), true, "Port COM3 przypisano do " + Q(a_.SlavePath()) + "."},
        {byPath, true,
         "Port COM3 przypisano do " + Q(byPath) + " (wcześniej: " + Q(a_.SlavePath()) + ")."},
    };
    auto* path = Find<QLineEdit>(Window(), "ESciezka");
    auto* assign = Find<QPushButton>(Window(), "BPrzypisz");
    std::string linked;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.typed);
        Table("TPorty")->selectRow(pnCOM3);
        path->setFocus();
        path->clear();
        QTest::keyClicks(path, Q(step.typed));
        EXPECT_TRUE(Table("TUrzadzenia")->selectionModel()->selectedRows().isEmpty());
        ASSERT_TRUE(assign->isEnabled());
        assign->click();
        EXPECT_EQ(Message(), step.message);
        if (step.linked) linked = step.typed;
        if (linked.empty()) {
            EXPECT_FALSE(fs::exists(fs::symlink_status("COM3")));
        } else {
            EXPECT_EQ(LinkTarget("COM3"), linked);
        }
    }
    // Choosing from the list again empties the typed path.
    Table("TUrzadzenia")->selectRow(0);
    EXPECT_EQ(path->text(), "");
}

// An assignment and its result line leave the window's size and the place of its buttons as
// they were, however long the device's name.
TEST_F(SerialPortsWindowTest, AnAssignmentNeitherWidensNorShiftsTheWindow) {
    fs::create_directory(Path("by-path"));
    const std::string longName = Path(
        "by-path/pci-0000:00:14.0-usb-0:2:1.0-port0-bardzo-dluga-nazwa-urzadzenia-szeregowego");
    Link(b_.SlavePath(), ("by-path/" + fs::path(longName).filename().string()).c_str());
    OpenWindow();
    const QSize size = Window().size();
    auto* close = Find<QPushButton>(Window(), "BZamknij");
    const QPoint closeAt = close->pos();
    Find<QLineEdit>(Window(), "ESciezka")->setText(Q(longName));
    Table("TPorty")->selectRow(pnCOM4);
    Find<QPushButton>(Window(), "BPrzypisz")->click();
    waga::test::RunEvents(std::chrono::milliseconds(100));
    EXPECT_NE(Message(), "");
    EXPECT_EQ(Window().size(), size);
    EXPECT_EQ(close->pos(), closeAt);
    Find<QPushButton>(Window(), "BOdswiez")->click();
    Window().close();
    OpenWindow();  // shown again: the result line is empty, the buttons where they were
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(close->pos().y(), closeAt.y());
}

}  // namespace

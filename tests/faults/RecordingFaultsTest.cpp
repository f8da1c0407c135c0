// The recording file fails under the running program: deleted while lines are recorded, or its
// file system full. The operator gets one error box and recording switched off; whatever was
// recorded before the fault stays whole in the file, without a partial line at its end.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDate>
#include <filesystem>

#include "FaultFixture.h"
#include "ProgramRun.h"

namespace {

using RecordingFaults = FaultFixture;

// The whole content of an open descriptor, read from its start.
std::string ReadDescriptor(int fd) {
    std::string bytes;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

// A left click on the recording switch, as the operator gives it.
void ClickRecordingSwitch(MainWindow& form) {
    QTest::mouseClick(
        form.windowHandle(), Qt::LeftButton, Qt::NoModifier,
        Find<QCheckBox>(form, "CBzapis")
            ->mapTo(&form, QPoint(8, Find<QCheckBox>(form, "CBzapis")->height() / 2)));
}

TEST_F(RecordingFaults, FileDeletedWhileRecording) {
    Start({"--rate", "400", "--wait-open"});
    Switches().SetMaxReportLines(5000);  // the view keeps growing through the test
    Form().SetActivePage(1);             // the "Plik" page, where the recording switch is
    ASSERT_TRUE(WaitForRecorded(3000));
    const int held = ::open(RecordingPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    struct stat before {};
    ::fstat(held, &before);

    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"), 300);
    ASSERT_EQ(::unlink(RecordingPath().c_str()), 0);
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !answerer.Seen().empty(); },
                                           std::chrono::milliseconds(10000)));
    const int viewAfterBox = Form().ReportDisplay().LineCount();
    Spin(600);  // lines keep arriving: no second box, the view goes on

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, QString::fromUtf8("Błąd"));
    EXPECT_EQ(answerer.Seen()[0].text, kAppendFailedText);
    EXPECT_EQ(answerer.Unexpected(), 0);
    EXPECT_FALSE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    EXPECT_FALSE(std::filesystem::exists(RecordingPath()));
    EXPECT_TRUE(StatusText(Form()).startsWith(QString::fromUtf8("Połączenie RS232, COM2")));
    EXPECT_GT(Form().ReportDisplay().LineCount(), viewAfterBox);  // lines still reach the view
    // What was recorded before the deletion is whole, in order, ending with a whole line.
    const std::string beforeFault = ReadDescriptor(held);
    ::close(held);
    EXPECT_GE(beforeFault.size(), static_cast<std::size_t>(before.st_size));
    EXPECT_TRUE(IsWholeLineRun(beforeFault, ExpectedFor(Sim().Sent())));

    // Switching recording on again creates the file anew and recording goes on without a box.
    ClickRecordingSwitch(Form());
    EXPECT_TRUE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    ASSERT_TRUE(WaitForRecorded(500));
    Spin(200);
    EXPECT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(IsWholeLineRun(Recorded(), ExpectedFor(Sim().Sent())));
}

// A small file system mounted for the test; unmounted (lazily, so a busy one goes too) when the
// helper goes, whichever way the test ends.
class SmallMount {
  public:
    explicit SmallMount(const std::string& path) : path_(path) {
        std::filesystem::create_directory(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
    }
    ~SmallMount() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(RecordingFaults, FileSystemFillsUpWhileRecording) {
    SmallMount disk(dir_.File("disk"));
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    // The recording file alone fills this disk: the journal, which would share it, is off.
    waga::test::WriteFile(dir_.File("disk") + "/dodatki.ini", "[Dziennik]\nWlaczony=0\n");
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"), 200);
    // The mixed stream: readings, reports and lines of arbitrary bytes up to 4000 long, as fast
    // as the program takes them; 64 KiB fill within a few seconds.
    Start({"--mixed", "--rate", "0", "--wait-open", "--seed", "7"}, dir_.File("disk"));

    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !answerer.Seen().empty(); },
                                           std::chrono::milliseconds(20000)));
    Spin(500);

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].text, kAppendFailedText);
    EXPECT_FALSE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    const std::string recorded = Recorded();
    EXPECT_GT(recorded.size(), 32u * 1024) << "the file system should have been nearly full";
    EXPECT_TRUE(IsWholeLineRun(recorded, ExpectedFor(Sim().Sent())))
        << "recorded " << recorded.size() << " bytes; a failed line must leave no part behind";
}

TEST_F(RecordingFaults, RecordingFileIsTheFullDevice) {
    waga::test::ScopedMiddayZone midday;  // the name is made ahead of the window's
    std::filesystem::create_symlink(
        "/dev/full", dir_.File(QDate::currentDate().toString("yyyyMMdd").toStdString()));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"), 100);
    Start({"--rate", "200", "--wait-open"});

    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !answerer.Seen().empty(); },
                                           std::chrono::milliseconds(10000)));
    Spin(400);

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].text, kAppendFailedText);
    EXPECT_FALSE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    EXPECT_GT(Form().ReportDisplay().LineCount(), 0);  // the lines still reach the view
}

}  // namespace

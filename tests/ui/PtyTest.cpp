// The real port component over a pseudo-terminal linked as COM2: lines keep flowing while the
// recording error box is open, the box appears once, and no line is lost or doubled.

#include <unistd.h>

#include "UiFixture.h"

using PtyTest = UiFixture;

TEST_F(PtyTest, LinesKeepFlowingWhileTheErrorBoxIsOpen) {
    waga::test::PtyLink pty("COM2");
    waga::test::ScopedWorkingDir into(pty.Dir());
    Program().Port().SetComPort(pnCOM2);
    ASSERT_TRUE(Program().Port().OpenPort());
    Switches().SetRecordingFileName(Path("missing/rec.txt"));  // every append fails

    std::string sent;
    for (int i = 0; i < 20; ++i) sent += "przed" + std::to_string(i) + "\r\n";
    ModalAnswerer answerer;
    int linesWhenAnswered = 0;
    answerer.Push(
        [&](QWidget* box) {
            linesWhenAnswered = Form().ReportDisplay().LineCount();
            ModalAnswerer::ClickButton("OK")(box);
        },
        1500);
    // The first line fails to record and opens the box; the rest arrives in pieces meanwhile.
    ASSERT_TRUE(pty.Write("pierwsza\r"));
    QTimer feeder;
    int piece = 0;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (piece < static_cast<int>(sent.size())) {
            pty.Write(sent.substr(piece, 7));
            piece += 7;
        }
    });
    feeder.start(20);
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !answerer.Seen().empty(); },
                                           std::chrono::milliseconds(10000)));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return Form().ReportDisplay().LineCount() == 21; },
                                           std::chrono::milliseconds(10000)));
    feeder.stop();

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].text,
              QString::fromUtf8("Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!"));
    EXPECT_GT(linesWhenAnswered, 1);  // lines were routed while the box was open
    EXPECT_FALSE(Switches().Recording());
    std::vector<std::string> expected{"pierwsza"};
    for (int i = 0; i < 20; ++i) expected.push_back("przed" + std::to_string(i));
    EXPECT_EQ(ReportLines(), expected);
    EXPECT_EQ(answerer.Unexpected(), 0);
    Program().Port().ClosePort();
}

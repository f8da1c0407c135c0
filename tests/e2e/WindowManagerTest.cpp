// The built program under a real window manager (openbox on Xvfb), as an operator's desktop
// frames its windows: the main window's frame, title bar included, starts at the screen's corner,
// and the transmission dialog opens in the same place every time.

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "ProgramRun.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

const std::string kDialogTitle = "Ustawienia...";

TEST(UnderAWindowManager, TheFrameIsOnTheScreenAndTheDialogOpensInOnePlace) {
    XServer x;
    ASSERT_TRUE(x.Ready());
    ASSERT_TRUE(x.StartWindowManager());
    Workplace place;
    auto program = StartProgram(place, {.display = x.Display()});
    const std::string main = x.WaitForWindow(kMainTitle, program->Pid());
    ASSERT_FALSE(main.empty()) << program->Stderr();

    // The frame's corner at 0,0 and a title bar above the client area.
    XServer::Place mainPlace;
    ASSERT_TRUE(WaitUntil([&] {
        mainPlace = x.WindowPlace(main);
        return mainPlace.frameX == 0 && mainPlace.frameY == 0;
    })) << "frame at "
        << mainPlace.frameX << "," << mainPlace.frameY;
    EXPECT_GT(mainPlace.clientY, 0);

    // "Widok" → "Parametry transmisji..." three times, closed with its "Zamknij" each time.
    std::vector<XServer::Place> dialogPlaces;
    for (int showing = 1; showing <= 3; ++showing) {
        SCOPED_TRACE("showing " + std::to_string(showing));
        x.PressKeys(main, {"alt+w", "t"});
        const std::string dialog = x.WaitForWindow(kDialogTitle, program->Pid());
        ASSERT_FALSE(dialog.empty());
        // Settled: the window manager has framed it (two looks alike, a moment apart).
        XServer::Place seen;
        ASSERT_TRUE(WaitUntil([&] {
            const XServer::Place before = x.WindowPlace(dialog);
            std::this_thread::sleep_for(100ms);
            seen = x.WindowPlace(dialog);
            return seen.clientY != seen.frameY && seen.frameX == before.frameX &&
                   seen.frameY == before.frameY;
        }));
        dialogPlaces.push_back(seen);
        x.PressKey(dialog, "Return");
        ASSERT_TRUE(WaitUntil([&] { return x.Windows(kDialogTitle, program->Pid()).empty(); }));
    }
    for (const XServer::Place& seen : dialogPlaces) {
        EXPECT_EQ(seen.frameX, dialogPlaces.front().frameX);
        EXPECT_EQ(seen.frameY, dialogPlaces.front().frameY);
        EXPECT_EQ(seen.clientY, dialogPlaces.front().clientY);
    }
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0) << program->Stderr();
}

}  // namespace

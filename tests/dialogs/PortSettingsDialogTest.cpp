// The transmission settings dialog: its window, the radio groups and what FormShow selects.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <vector>

#include "Controls.h"
#include "DialogTestSupport.h"
#include "PortSettingsDialog.h"
#include "RadioGroup.h"
#include "SerialPort.h"
#include "TestSupport.h"

namespace {

TEST(FormUstaw, SpeedsFillTwoColumnsTopToBottom) {
    PortSettingsDialog dialog;
    dialog.show();
    const RadioGroup& speeds = *Find<RadioGroup>(dialog, "RGSzybkosc");
    const char* texts[] = {"110", "300", "600", "1200", "2400", "4800", "9600", "14400"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(speeds.Button(i)->text(), texts[i]);
        const int column = i / 4, row = i % 4;
        EXPECT_EQ(speeds.Button(i)->x(), speeds.Button(column * 4)->x()) << i;
        EXPECT_EQ(speeds.Button(i)->y(), speeds.Button(row)->y()) << i;
        EXPECT_TRUE(
            speeds.geometry().contains(speeds.Button(i)->geometry().translated(speeds.pos())))
            << "item " << i << " must lie inside its group";
    }
    EXPECT_GT(speeds.Button(4)->x(), speeds.Button(0)->x());
    EXPECT_GT(speeds.Button(1)->y(), speeds.Button(0)->y());
    EXPECT_FALSE(Find<RadioGroup>(dialog, "RGDataBit")->isVisible());
    EXPECT_FALSE(Find<RadioGroup>(dialog, "RGParity")->isVisible());
    EXPECT_EQ(dialog.size(), QSize(273, 175));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

struct ClampRow {
    int set;
    int expected;
    friend void PrintTo(const ClampRow& row, std::ostream* out) {
        *out << row.set << " -> " << row.expected;
    }
};

class RadioGroupIndex : public testing::TestWithParam<ClampRow> {};

TEST_P(RadioGroupIndex, IsClampedToTheItems) {
    RadioGroup group("g", {"a", "b", "c"}, 1, nullptr);
    group.SetItemIndex(1);
    group.SetItemIndex(GetParam().set);
    EXPECT_EQ(group.ItemIndex(), GetParam().expected);
    for (int i = 0; i < group.ItemCount(); ++i)
        EXPECT_EQ(group.Button(i)->isChecked(), i == GetParam().expected) << i;
}

INSTANTIATE_TEST_SUITE_P(Dialogs, RadioGroupIndex,
                         testing::Values(ClampRow{-1, -1}, ClampRow{-7, -1}, ClampRow{0, 0},
                                         ClampRow{1, 1}, ClampRow{2, 2}, ClampRow{3, 2},
                                         ClampRow{100, 2}));

TEST(RadioGroup, AnOperatorClickSelectsTheItem) {
    RadioGroup group("g", {"a", "b", "c"}, 1, nullptr);
    group.show();
    group.SetItemIndex(-1);
    group.Button(2)->click();
    EXPECT_EQ(group.ItemIndex(), 2);
    group.Button(0)->click();
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_FALSE(group.Button(2)->isChecked());
}

// FormShow for every speed: the eight the group offers are selected, the five faster ones
// select nothing (the dialog cannot show them and must not pretend 14400).
struct SpeedRow {
    BaudRate speed;
    int expectedIndex;
    friend void PrintTo(const SpeedRow& row, std::ostream* out) {
        *out << kComPortBaudRates[row.speed] << " -> " << row.expectedIndex;
    }
};

class FormShowSpeed : public testing::TestWithParam<SpeedRow> {};

TEST_P(FormShowSpeed, SelectsTheComponentsSpeed) {
    SerialPort port;
    port.SetComPortSpeed(GetParam().speed);
    PortSettingsDialog dialog(&port);
    Find<RadioGroup>(dialog, "RGSzybkosc")->SetItemIndex(3);  // what an earlier showing left behind
    dialog.FormShow();
    EXPECT_EQ(Find<RadioGroup>(dialog, "RGSzybkosc")->ItemIndex(), GetParam().expectedIndex);
    const std::optional<BaudRate> chosen = dialog.Chosen().speed;
    EXPECT_EQ(chosen ? int{*chosen} : -1, GetParam().expectedIndex);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormShowSpeed,
                         testing::Values(SpeedRow{br110, 0}, SpeedRow{br300, 1}, SpeedRow{br600, 2},
                                         SpeedRow{br1200, 3}, SpeedRow{br2400, 4},
                                         SpeedRow{br4800, 5}, SpeedRow{br9600, 6},
                                         SpeedRow{br14400, 7}, SpeedRow{br19200, -1},
                                         SpeedRow{br38400, -1}, SpeedRow{br56000, -1},
                                         SpeedRow{br57600, -1}, SpeedRow{br115200, -1}),
                         [](const auto& info) {
                             return "speed_" + std::to_string(kComPortBaudRates[info.param.speed]);
                         });

class FormShowPort : public testing::TestWithParam<PortNumber> {};

TEST_P(FormShowPort, SelectsTheComponentsPort) {
    SerialPort port;
    port.SetComPort(GetParam());
    PortSettingsDialog dialog(&port);
    Find<RadioGroup>(dialog, "RGNumPortu")->SetItemIndex(GetParam() == pnCOM1 ? 3 : 0);
    dialog.FormShow();
    EXPECT_EQ(Find<RadioGroup>(dialog, "RGNumPortu")->ItemIndex(), static_cast<int>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormShowPort, testing::Values(pnCOM1, pnCOM2, pnCOM3, pnCOM4),
                         [](const auto& info) { return "COM" + std::to_string(info.param + 1); });

// Centred by its own size, its frame's corner in the same place at every showing (the frame's
// size is not known before a window manager has framed it once).
TEST(FormUstaw, ShowingReloadsFocusesZamknijAndCentres) {
    SerialPort port;
    port.SetComPort(pnCOM4);
    port.SetComPortSpeed(br600);
    PortSettingsDialog dialog(&port);
    std::vector<QPoint> corners;
    for (int showing = 0; showing < 2; ++showing) {
        Find<RadioGroup>(dialog, "RGNumPortu")->SetItemIndex(0);
        bool focused = false;
        QTimer::singleShot(0, &dialog, [&] {
            waga::test::RunEventsUntil([&] { return dialog.isActiveWindow(); });
            focused = QApplication::focusWidget() == Find<QPushButton>(dialog, "BOk");
            corners.push_back(dialog.frameGeometry().topLeft());
            Find<QPushButton>(dialog, "BOk")->click();
        });
        dialog.exec();
        EXPECT_TRUE(focused);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(Find<RadioGroup>(dialog, "RGNumPortu")->ItemIndex(), 3);
        EXPECT_EQ(Find<RadioGroup>(dialog, "RGSzybkosc")->ItemIndex(), 2);
    }
    ASSERT_EQ(corners.size(), 2u);
    EXPECT_EQ(corners[0], corners[1]);
    const QRect screen = dialog.screen()->availableGeometry();
    const QPoint centred(screen.x() + (screen.width() - 273) / 2,
                         screen.y() + (screen.height() - 175) / 2);
    EXPECT_EQ(corners[0], centred);
}

TEST(FormUstaw, TheCloseButtonEndsTheDialogLikeZamknij) {
    SerialPort port;
    PortSettingsDialog dialog(&port);
    QTimer::singleShot(0, &dialog, [&] {
        Find<RadioGroup>(dialog, "RGNumPortu")->Button(2)->click();
        dialog.close();
    });
    dialog.exec();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Chosen(), (PortSettings{pnCOM3, br9600, db8BITS, ptNONE}));
}

}  // namespace

namespace {

TEST(FormUstaw, EveryItemShowsItsWholeText) {
    PortSettingsDialog dialog;
    dialog.show();
    for (RadioGroup* group :
         {Find<RadioGroup>(dialog, "RGNumPortu"), Find<RadioGroup>(dialog, "RGSzybkosc")}) {
        for (int i = 0; i < group->ItemCount(); ++i) {
            SCOPED_TRACE(group->Button(i)->text().toStdString());
            EXPECT_GE(group->Button(i)->width(), group->Button(i)->sizeHint().width());
        }
    }
}

}  // namespace

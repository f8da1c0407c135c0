#pragma once
// The tests reach a window's private controls the way the rest of the program names them: by
// their objectName (CBzapis, Mraport, ...), and the program's other windows (FormPorty, AboutBox)
// among the application's top-level windows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <QStatusBar>
#include <QString>
#include <QTabWidget>
#include <QWidget>
#include <ostream>
#include <string>

#include "ReadoutLabel.h"
#include "Win1250Qt.h"

// QString in a failed expectation prints as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

template <typename Control>
Control* Find(const QObject& window, const char* name) {
    Control* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (found == nullptr) ADD_FAILURE() << "no control named " << name;
    return found;
}

// One of the program's top-level windows by its objectName.
template <typename Window>
Window& TopLevel(const char* name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QLatin1String(name)) {
            if (auto* found = qobject_cast<Window*>(top)) return *found;
        }
    }
    ADD_FAILURE() << "no window named " << name;
    std::abort();
}

// What the main window shows.
inline QString StatusText(const QWidget& form) {
    return Find<QStatusBar>(form, "StatusBar")->currentMessage();
}
inline std::string ReadoutBytes(const QWidget& form) {
    return ToWin1250(Find<ReadoutLabel>(form, "Ldisplay")->Reading()).Bytes();
}
inline int ActivePage(const QWidget& form) {
    return Find<QTabWidget>(form, "PCustawienia")->currentIndex();
}

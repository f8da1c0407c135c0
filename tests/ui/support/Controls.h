#pragma once
// The tests reach a window's private controls the way the rest of the program names them: by
// their objectName (CBzapis, Mraport, ...).

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <ostream>

// QString in a failed expectation prints as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

template <typename Control>
Control* Find(const QObject& window, const char* name) {
    Control* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (found == nullptr) ADD_FAILURE() << "no control named " << name;
    return found;
}

#pragma once
// The tests reach a window's private controls the way the rest of the program names them: by
// their objectName (CBzapis, Mraport, ...).

#include <gtest/gtest.h>

#include <QObject>
#include <QString>

template <typename Control>
Control* Find(const QObject& window, const char* name) {
    Control* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (found == nullptr) ADD_FAILURE() << "no control named " << name;
    return found;
}

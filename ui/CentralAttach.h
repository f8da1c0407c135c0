#pragma once
// The central upload as the program adds it: the uploader (started when dodatki.ini says
// Wlaczona=1) and the "Baza centralna" window behind one menu item. The composition root calls
// this once, e.g. AttachCentral(&mainWindow, [&](const QString& t) { return
// mainWindow.AddViewMenuItem(t); });

#include <QString>
#include <functional>

class QAction;
class QObject;

namespace central {
class CentralUploader;
}

// The uploader and the window belong to `owner`; the journal and dodatki.ini are in `folder`
// (the working directory by default). Returns the uploader (for tests and the close sequence).
central::CentralUploader* AttachCentral(
    QObject* owner, const std::function<QAction*(const QString&)>& addViewMenuItem,
    const QString& folder = {});

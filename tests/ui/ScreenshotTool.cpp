// Builds the real main window, feeds a few scale lines through the real pipeline and saves one
// picture of the window per page, then the serial ports window:
// waga-screenshot <output directory> [<working directory with the COMn links>].

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <string>

#include "Composition.h"
#include "Drawing.h"
#include "MainWindow.h"
#include "SerialPort.h"
#include "SerialPortsWindow.h"

namespace {

void Feed(Composition& program, const std::string& bytes) {
    program.Pipeline().Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
}

void Save(QWidget& widget, const QString& path) {
    Settle();
    widget.grab().save(path);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Absolute, as the window runs in a directory of its own below.
    const QString outDir =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath();
    QDir().mkpath(outDir);
    // The working directory given (where a simulator links COM2), else one of its own.
    const bool ownRunDir = argc <= 2;
    const QString runDir =
        ownRunDir
            ? QDir(QDir::tempPath()).filePath(QStringLiteral("waga-screenshot-%1").arg(getpid()))
            : QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(runDir);
    QDir::setCurrent(runDir);

    Composition program;
    MainWindow& form = program.Window();
    form.SetMaxLinesText(Win1250Text("300"));
    program.Switches().SetMaxReportLines(300);
    PortStatus opened;  // as start-up shows an open port
    opened.step = PortStep::Opened;
    opened.speed = br2400;
    form.ShowPortStatus(opened);
    form.CreateDayFile();
    form.move(0, 0);
    form.show();
    Feed(program, "RAPORT DZIENNY\r\n  Nr  Data       Godz.   Masa [kg]\r\n");
    for (int i = 1; i <= 30; ++i) {
        Feed(program, "  " + std::to_string(i) + "  2026-12-06  08:" + (i < 10 ? "0" : "") +
                          std::to_string(i) + "   " + std::to_string(100 + i * 7) + ".50\r\n");
    }
    Feed(program,
         "SUMA: 4123.00 kg  -- linia dluga, ktora wychodzi poza prawa krawedz podgladu "
         "raportow i wymaga przewijania w poziomie\r\n");
    Feed(program, " 12.50\r\n");
    const char* names[] = {"page0-waga.png", "page1-plik.png", "page2-podglad.png"};
    for (int page = 0; page < 3; ++page) {
        form.SetActivePage(page);
        Save(form, QDir(outDir).filePath(QString::fromLatin1(names[page])));
    }
    Feed(program, "-9999.99\r");
    form.SetActivePage(0);
    Save(form, QDir(outDir).filePath(QStringLiteral("readout-initial-caption.png")));
    Feed(program, "123456789.12\r");
    Save(form, QDir(outDir).filePath(QStringLiteral("readout-12-characters.png")));
    Feed(program, "123456789012345678901234567890\r");
    Save(form, QDir(outDir).filePath(QStringLiteral("readout-long.png")));
    form.findChild<QMenu*>("MMwidok")->popup(form.mapToGlobal(QPoint(0, 20)));
    Settle();
    form.findChild<QMenu*>("MMwidok")->grab().save(
        QDir(outDir).filePath(QStringLiteral("menu-widok.png")));
    form.findChild<QMenu*>("MMwidok")->hide();
    ScalePicture().save(QDir(outDir).filePath(QStringLiteral("picture-scale.png")));
    MakerLogo().save(QDir(outDir).filePath(QStringLiteral("picture-logo.png")));
    ProgramIconImage(32).save(QDir(outDir).filePath(QStringLiteral("picture-icon.png")));

    // "Porty szeregowe...": the program holds COM2 (the simulator's terminal when one is linked).
    program.Port().SetComPort(pnCOM2);
    program.Port().SetComPortSpeed(br2400);
    SerialPortsWindow* ports = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<SerialPortsWindow*>(top)) ports = found;
    if (ports == nullptr) return 1;
    emit ports->PortAssigned(pnCOM2);  // reopens the program's port
    form.findChild<QAction*>("MMporty")->trigger();
    Save(*ports, QDir(outDir).filePath(QStringLiteral("ports-window.png")));
    ports->close();
    // The same with an adapter that has a stable name: the simulator's terminal stands for it,
    // named in a by-id folder of the run, to see that long names fit.
    const QString terminal = QFile::symLinkTarget(QStringLiteral("COM2"));
    if (!terminal.isEmpty()) {
        const QString byId = QDir(runDir).filePath(QStringLiteral("by-id"));
        QDir().mkpath(byId);
        QFile::link(terminal, byId + "/usb-VEK_Adapter_USB-RS232_VK0001-if00-port0");
        ports->SetByIdFolder(QFile::encodeName(byId).toStdString());
        ports->SetDeviceSource([terminal] {
            QList<PresentSerialDevice> devices = SystemSerialDevices();
            devices.push_back({terminal, "Adapter USB-RS232 (symulator wagi)", "VEK", "VK0001"});
            return devices;
        });
        form.findChild<QAction*>("MMporty")->trigger();
        Save(*ports, QDir(outDir).filePath(QStringLiteral("ports-window-adapter.png")));
        ports->close();
    }
    form.close();
    if (ownRunDir) QDir(runDir).removeRecursively();
    return 0;
}

// Renders the two dialogs into PNG files for a look by eye:
//   dialog_screenshots <directory>
// writes ustawienia.png, ustawienia-57600.png, o-producencie.png, o-producencie-rozwiniete.png.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTextStream>

#include "AboutDialog.h"
#include "PortSettingsDialog.h"
#include "ProgramIdentity.h"
#include "SerialPort.h"

namespace {

bool Save(QWidget& window, const QString& dir, const QString& name) {
    QApplication::processEvents();
    const QString path = QDir(dir).filePath(name);
    const bool saved = window.grab().save(path);
    QTextStream(stdout) << (saved ? "saved " : "could not save ") << path << "\n";
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    bool ok = true;

    SerialPort port;
    port.SetComPortSpeed(br2400);
    PortSettingsDialog settings(&port);
    settings.show();
    ok &= Save(settings, dir, "ustawienia.png");
    settings.hide();
    port.SetComPortSpeed(br57600);
    settings.show();
    ok &= Save(settings, dir, "ustawienia-57600.png");

    AboutDialog about;
    const ExecutableDigest digest = DigestRunningExecutable();
    about.ShowProgramDigest(digest.hex, digest.error);
    about.show();
    ok &= Save(about, dir, "o-producencie.png");
    about.IvekClick();
    ok &= Save(about, dir, "o-producencie-rozwiniete.png");
    return ok ? 0 : 1;
}

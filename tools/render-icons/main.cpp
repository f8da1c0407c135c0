// render-icons: writes the program's own icon (ProgramIconImage) as PNG files for the package's
// hicolor icon theme: OUTDIR/<side>x<side>/apps/NAME.png for each side given.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "Drawing.h"

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: render-icons OUTDIR NAME SIDE...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        char* end = nullptr;
        const long side = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || side < 16 || side > 1024) {
            std::fprintf(stderr, "render-icons: not an icon side: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(side);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        // The PNG writer adds no time stamp, so the same drawing gives the same bytes.
        if (!QDir().mkpath(dir) || !ProgramIconImage(int(side)).save(file, "PNG")) {
            std::fprintf(stderr, "render-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

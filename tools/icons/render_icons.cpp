// Writes the application icon as vorla-<size>.png for each size given, from
// the same drawing code as the window icon, for the install tree.
#include <QGuiApplication>
#include <QIcon>
#include <QString>

#include <cstdio>
#include <cstdlib>

#include "widgets/Icons.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_icons OUTDIR SIZE...\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString path = QStringLiteral("%1/vorla-%2.png").arg(dir).arg(size);
        if (size <= 0 || !MakeIcon(VorlaIcon::App, size).pixmap(size, size).save(path)) {
            std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

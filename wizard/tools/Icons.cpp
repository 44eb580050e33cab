// quillon-icons: renders the program's icon into a hicolor icon tree at build time, from the
// very drawing the wizard shows in its title bar.
//
//   quillon-icons FOLDER NAME SIZE...
//
// writes FOLDER/<size>x<size>/apps/NAME.png for each size.

#include "wizard/SidePicture.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A build machine has no display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QGuiApplication application(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 3) {
        std::fputs("Usage: quillon-icons FOLDER NAME SIZE...\n", stderr);
        return 1;
    }
    const QString root = QString::fromStdString(args[0]);
    const QString name = QString::fromStdString(args[1]);
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& text = args[i];
        int size = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
        if (error != std::errc() || end != text.data() + text.size() || size < 1 || size > 1024) {
            std::fprintf(stderr, "quillon-icons: not an icon size: %s\n", text.c_str());
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !quillon::RenderAppIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "quillon-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

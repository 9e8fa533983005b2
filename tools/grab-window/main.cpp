// grab-window: saves the picture of a window on the X display as a PNG file,
// for the screenshots of the demo in scripts/run.sh.
//
// Usage: grab-window <window id> <file.png>   (the id in decimal or 0x hex,
// as xdotool prints it)

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: grab-window <window id> <file.png>\n", stderr);
        return 2;
    }
    bool ok = false;
    const qulonglong id = arguments.at(1).toULongLong(&ok, 0);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!ok || !screen) {
        std::fprintf(stderr, "grab-window: no window %s\n", qPrintable(arguments.at(1)));
        return 2;
    }
    const QPixmap picture = screen->grabWindow(WId(id));
    if (picture.isNull() || !picture.save(arguments.at(2), "PNG")) {
        std::fprintf(stderr, "grab-window: cannot save window %s as %s\n",
                     qPrintable(arguments.at(1)), qPrintable(arguments.at(2)));
        return 1;
    }
    return 0;
}

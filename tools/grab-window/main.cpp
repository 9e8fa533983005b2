// grab-window: saves the picture of a window on the X display as a PNG file,
// for the screenshots of the demo in scripts/run.sh and of the end-to-end
// tests.
//
// Usage: grab-window <window id> <file.png> [RRGGBB ...]
//   (the id in decimal or 0x hex, as xdotool prints it). For every colour
//   given it prints "RRGGBB <pixels> <columns>": how many pixels of the
//   picture are that colour, give or take what smoothing does to a line's
//   edge, and in how many of its columns; a test tells from it whether a
//   chart has drawn its lines.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace {

// A line drawn with smoothing keeps its colour only roughly.
constexpr int colourTolerance = 24;

bool near(QRgb pixel, QRgb colour)
{
    return std::abs(qRed(pixel) - qRed(colour)) <= colourTolerance &&
           std::abs(qGreen(pixel) - qGreen(colour)) <= colourTolerance &&
           std::abs(qBlue(pixel) - qBlue(colour)) <= colourTolerance;
}

// How many pixels of the picture are near the colour, and in how many of its
// columns: a line across a chart spans many columns, a legend's marker few.
struct ColourCount
{
    qint64 pixels = 0;
    int columns = 0;
};

ColourCount countColour(const QImage &image, QRgb colour)
{
    ColourCount count;
    QList<bool> inColumn(image.width(), false);
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (near(line[x], colour)) {
                ++count.pixels;
                inColumn[x] = true;
            }
        }
    }
    count.columns = int(inColumn.count(true));
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fputs("usage: grab-window <window id> <file.png> [RRGGBB ...]\n", stderr);
        return 2;
    }
    bool ok = false;
    const qulonglong id = arguments.at(1).toULongLong(&ok, 0);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!ok || !screen) {
        std::fprintf(stderr, "grab-window: no window %s\n", qPrintable(arguments.at(1)));
        return 2;
    }
    QList<QRgb> colours;
    for (const QString &text : arguments.mid(3)) {
        const QRgb colour = text.toUInt(&ok, 16);
        if (!ok || text.size() != 6) {
            std::fprintf(stderr, "grab-window: %s is no colour RRGGBB\n", qPrintable(text));
            return 2;
        }
        colours.append(colour);
    }
    const QPixmap picture = screen->grabWindow(WId(id));
    if (picture.isNull() || !picture.save(arguments.at(2), "PNG")) {
        std::fprintf(stderr, "grab-window: cannot save window %s as %s\n",
                     qPrintable(arguments.at(1)), qPrintable(arguments.at(2)));
        return 1;
    }
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    for (int i = 0; i < colours.size(); ++i) {
        const ColourCount count = countColour(image, colours.at(i));
        std::printf("%s %lld %d\n", qPrintable(arguments.at(3 + i)),
                    static_cast<long long>(count.pixels), count.columns);
    }
    return 0;
}

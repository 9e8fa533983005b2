#include "largereadout.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor background(0x12, 0x12, 0x12);
const QColor kindColour(0x8c, 0x96, 0xa8);

// The fonts are measured once at this size and scaled to the room there is:
// the width of a text grows in proportion to its size.
constexpr int ProbePixels = 200;
// The unit beside the number, smaller.
constexpr double UnitScale = 0.4;
// The widest number usually shown ("-23.4" dBm, "+0.50" dBr): the digits of
// a font are all as wide, so every number up to this length is shown at the
// same size; a longer one ("-100.0") is fitted itself.
const QLatin1String usualNumber("-00.0");

// The room around the number, and above it for the kind.
int marginOf(const QSize &size)
{
    return std::max(6, std::min(size.width(), size.height()) / 12);
}

} // namespace

LargeReadout::LargeReadout(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("largeReadout"));
    setWindowTitle(tr("Tavrolinde - Grossanzeige"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 80);
    resize(760, 280);
    numberFont = font();
    numberFont.setBold(true);
    unitFont = numberFont;
    kindFont = font();
    unit = QStringLiteral("dBm");
    showNoLevel(tr("RMS"));
}

void LargeReadout::showLevel(const QString &kind, const QString &number, const QString &unit,
                             bool outside)
{
    display(kind, number, unit, outside ? Shade::Outside : Shade::Inside);
}

// The unit of the last reading stays beside the dashes.
void LargeReadout::showNoLevel(const QString &kind)
{
    display(kind, QStringLiteral("---"), unit, Shade::NoReading);
}

QString LargeReadout::text() const
{
    return number + QLatin1Char(' ') + unit;
}

QColor LargeReadout::colour(Shade shade)
{
    switch (shade) {
    case Shade::Inside:
        return QColor(0x30, 0xe0, 0x50);
    case Shade::Outside:
        return QColor(0xff, 0x38, 0x38);
    default:
        return QColor(0x78, 0x78, 0x78);
    }
}

// Painted again only when something shown has changed.
void LargeReadout::display(const QString &kind, const QString &newNumber, const QString &newUnit,
                           Shade shade)
{
    if (kind == kindText && newNumber == number && newUnit == unit && shade == currentShade)
        return;
    kindText = kind;
    number = newNumber;
    unit = newUnit;
    currentShade = shade;
    if (fittedNumber() + unit != fittedText)
        fit();
    update();
}

QString LargeReadout::fittedNumber() const
{
    return number.size() > usualNumber.size() ? number : QString(usualNumber);
}

// The largest number and unit the window holds, from one measurement at the
// probe size.
void LargeReadout::fit()
{
    fittedText = fittedNumber() + unit;
    const int margin = marginOf(size());
    const double roomWidth = std::max(1, width() - 2 * margin);
    const double roomHeight = std::max(1, height() - 3 * margin); // the kind above

    QFont probe = numberFont;
    probe.setPixelSize(ProbePixels);
    QFont unitProbe = probe;
    unitProbe.setPixelSize(int(ProbePixels * UnitScale));
    const QFontMetricsF big(probe);
    const QFontMetricsF small(unitProbe);
    const double textWidth = big.horizontalAdvance(fittedNumber()) +
                             big.horizontalAdvance(QLatin1Char(' ')) * 0.5 +
                             small.horizontalAdvance(unit);
    // Digits reach from the baseline to about the capitals' height; a little
    // room is left above and below.
    const double textHeight = big.capHeight() * 1.2;
    // Hinting makes a size a little wider than in proportion: 3 % to spare.
    const double scale = 0.97 * std::min(roomWidth / textWidth, roomHeight / textHeight);
    const int pixels = std::max(6, int(std::floor(ProbePixels * scale)));
    numberFont.setPixelSize(pixels);
    unitFont.setPixelSize(std::max(4, int(pixels * UnitScale)));
    kindFont.setPixelSize(std::max(9, margin * 3 / 2));
}

void LargeReadout::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fit();
}

// The number right-aligned in the room of the usual number, so that it
// does not move as its digits change, and the whole centred.
void LargeReadout::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), background);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const int margin = marginOf(size());
    painter.setPen(kindColour);
    painter.setFont(kindFont);
    painter.drawText(rect().adjusted(margin, margin / 2, -margin, 0), Qt::AlignLeft | Qt::AlignTop,
                     kindText);

    const QFontMetricsF big(numberFont);
    const QFontMetricsF small(unitFont);
    const double slot = big.horizontalAdvance(fittedNumber());
    const double gap = big.horizontalAdvance(QLatin1Char(' ')) * 0.5;
    const double left = (width() - (slot + gap + small.horizontalAdvance(unit))) / 2.0;
    const double baseline = (height() + margin + big.capHeight()) / 2.0;
    painter.setPen(colour(currentShade));
    painter.setFont(numberFont);
    painter.drawText(QPointF(left + slot - big.horizontalAdvance(number), baseline), number);
    painter.setFont(unitFont);
    painter.drawText(QPointF(left + slot + gap, baseline), unit);
}

void LargeReadout::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_F11:
        if (isFullScreen())
            showNormal();
        else
            showFullScreen();
        break;
    case Qt::Key_Escape:
        if (isFullScreen())
            showNormal();
        else
            close();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

#ifndef LARGEREADOUT_H
#define LARGEREADOUT_H

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

// "Tavrolinde - Grossanzeige": one level alone, as large as the window lets
// it be, to be read from across the room. The number with its unit beside it
// on a dark ground: green inside the limits (or with none set), red outside,
// grey "---" while there is no reading (none yet, or the meter was lost).
// The kind (RMS or PEP) stands small in the corner.
//
// F11 switches full screen on and off. Esc leaves full screen; in a window it
// closes the readout (it only hides, and opens again where it was).
class LargeReadout : public QWidget
{
    Q_OBJECT

public:
    enum class Shade { NoReading, Inside, Outside };

    explicit LargeReadout(QWidget *parent = nullptr);

    // A level ("-20.0") of `kind` ("RMS") in `unit` ("dBm").
    void showLevel(const QString &kind, const QString &number, const QString &unit, bool outside);
    // No reading of `kind`: "---".
    void showNoLevel(const QString &kind);

    // What is shown: "-20.0 dBm", "---"; its shade and colour.
    QString text() const;
    Shade shade() const { return currentShade; }
    static QColor colour(Shade shade);
    // The number's size in pixels, as fitted to the window.
    int levelPixelSize() const { return numberFont.pixelSize(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void display(const QString &kind, const QString &number, const QString &unit, Shade shade);
    void fit();
    // The text the number is fitted to: the number itself when it is wider
    // than usual, so that the size does not jump as the digits change.
    QString fittedNumber() const;

    QString kindText;
    QString number;
    QString unit;
    Shade currentShade = Shade::NoReading;
    QFont numberFont;
    QFont unitFont;
    QFont kindFont;
    // What the fonts were fitted to: the number's text and the unit.
    QString fittedText;
};

#endif // LARGEREADOUT_H

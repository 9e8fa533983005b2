#ifndef TRENDEXPORT_H
#define TRENDEXPORT_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <functional>

class QLabel;
class QWidget;

// What "Bild speichern" and "Verlauf speichern" write, and the file dialog
// they write it through.
class TrendExport
{
    Q_DECLARE_TR_FUNCTIONS(TrendWindow)

public:
    // The chart as a PNG at twice its pixels. Qt Charts has no vector export
    // of its own, and a picture at twice the screen's pixels serves a report.
    // Empty when no picture could be made (a chart area of no size).
    static QByteArray chartPng(QWidget *chart);
    // Asks for a file name and writes the bytes there; an existing file is
    // replaced only once the new one is complete. `report` says how it went:
    // no bytes at all is a file that could not be made, and nothing is
    // written.
    // `type`: the file type the dialog offers, and then the one chosen.
    static void save(QWidget *parent, QLabel *report, const QString &caption, const QString &name,
                     const QString &filter, const std::function<QByteArray()> &bytes,
                     QString *type = nullptr);
};

#endif // TRENDEXPORT_H

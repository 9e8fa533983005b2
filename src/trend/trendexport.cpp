#include "trendexport.h"

#include "recordformat.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QWidget>

QByteArray TrendExport::chartPng(QWidget *chart)
{
    QImage image(chart->size() * 2, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QByteArray(); // no chart area (or no memory for it): no picture
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        chart->render(&painter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QByteArray();
    return bytes;
}

void TrendExport::save(QWidget *parent, QLabel *report, const QString &caption, const QString &name,
                       const QString &filter, const std::function<QByteArray()> &bytes,
                       QString *type)
{
    const QString fileName =
        QFileDialog::getSaveFileName(parent, caption, QDir::home().filePath(name), filter, type);
    if (fileName.isEmpty())
        return;
    QString error;
    const QByteArray content = bytes();
    bool written = false;
    if (content.isEmpty())
        error = tr("es konnte nicht erstellt werden");
    else
        written = Records::writeFile(fileName, content, &error);
    report->setText(written ? tr("Gespeichert: %1").arg(fileName)
                            : tr("Nicht gespeichert: %1 (%2)").arg(fileName, error));
}

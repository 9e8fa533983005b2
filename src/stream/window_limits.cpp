#include "mainwindow.h"

#include "largereadout.h"
#include "livedisplay.h"
#include "meterconnection.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>

namespace {

// The level text of the limited kind while it is out of its limits.
const QColor outsideColour(0xd0, 0x00, 0x00);
// The tone sounds at most this often while out of limits.
constexpr qint64 BeepIntervalMs = 1000;

// The kind checked: the one of the limits, RMS while none is set.
Protocol::LevelKind limitedKind(const LimitSettings &settings)
{
    return settings.isSet() ? settings.kind : Protocol::Rms;
}

} // namespace

// The status field says what is out of its limits since when; it stays
// hidden while nothing is, and the status bar looks as without limits.
void MainWindow::setUpLimits()
{
    limitStatus = new QLabel(this);
    limitStatus->setObjectName(QStringLiteral("limitStatus"));
    statusBar()->addPermanentWidget(limitStatus);
    limitStatus->hide();
    connect(ui->actionGrossanzeige, &QAction::triggered, this, &MainWindow::openLargeReadout);
}

// After every poll, and whenever the limits, the reference or the meter
// change: the limited kind's level text turns red while out of limits, the
// status field says so, the tone sounds, and the large readout and "Verlauf"
// follow. With no limit set nothing here changes the window.
void MainWindow::showLimits()
{
    const Limits &limits = connection->limits();
    const Protocol::LevelKind kind = limitedKind(limits.settings());
    const bool outside = limits.isViolated();

    QLabel *level = kind == Protocol::Pep ? ui->labelNdbmpep : ui->labelNdbmrms;
    QLabel *red = outside ? level : nullptr;
    if (red != redLevel) {
        // An empty palette gives a label back the one it inherits.
        if (redLevel)
            redLevel->setPalette(QPalette());
        if (red) {
            QPalette palette = red->palette();
            palette.setColor(QPalette::WindowText, outsideColour);
            red->setPalette(palette);
        }
        redLevel = red;
    }

    const std::optional<MeterStream::Reading> &last = lastReadings[kind];
    const QString text =
        outside && last ? limits.violationText(LiveDisplay::levelUnit(*last)) : QString();
    if (limitStatus->text() != text) {
        limitStatus->setText(text);
        limitStatus->setVisible(!text.isEmpty());
    }

    if (outside && limits.settings().tone) {
        const qint64 now = connection->clockMs();
        if (!lastBeepMs || now - *lastBeepMs >= BeepIntervalMs) {
            QApplication::beep();
            ++beepCount;
            lastBeepMs = now;
        }
    }

    showLargeReadout();
    chartLimits();
}

// "Grossanzeige": opened where it was, and brought to the front.
void MainWindow::openLargeReadout()
{
    if (!largeReadout) {
        largeReadout = std::make_unique<LargeReadout>();
        // Like "Verlauf", it does not keep the program running.
        largeReadout->setAttribute(Qt::WA_QuitOnClose, false);
    }
    largeReadout->show();
    largeReadout->raise();
    largeReadout->activateWindow();
    showLargeReadout();
}

// The last reading of the limited kind, red out of its limits; grey dashes
// before the first reading and once the meter is lost.
void MainWindow::showLargeReadout()
{
    if (!largeReadout || !largeReadout->isVisible())
        return;
    const Limits &limits = connection->limits();
    const Protocol::LevelKind kind = limitedKind(limits.settings());
    const QString name = kind == Protocol::Pep ? tr("PEP") : tr("RMS");
    const std::optional<MeterStream::Reading> &last = lastReadings[kind];
    if (!last) {
        largeReadout->showNoLevel(name);
        return;
    }
    // "-20.0 dBm" as the display shows it, the unit apart.
    const QString unit = LiveDisplay::levelUnit(*last);
    QString number = LiveDisplay::readingTexts(*last).level;
    number.chop(unit.size() + 1);
    largeReadout->showLevel(name, number, unit, limits.isViolated());
}

// "Verlauf" charts absolute levels (dBm, dBV): a limit in dBr lies at the
// reference plus the limit, and is not drawn before the reference is known.
// Told only when the lines move.
void MainWindow::chartLimits()
{
    const LimitSettings &limits = connection->limits().settings();
    const MeasurementSettings &measurement = connection->measurementSettings();
    const std::optional<double> shift =
        measurement.relative ? measurement.reference[limits.kind] : std::optional<double>(0.0);
    const auto charted = [&shift](const std::optional<double> &limit) -> std::optional<double> {
        if (!limit || !shift)
            return std::nullopt;
        return *limit + *shift;
    };
    const std::optional<double> low = charted(limits.low);
    const std::optional<double> high = charted(limits.high);
    if (int(limits.kind) == chartedKind && low == chartedLow && high == chartedHigh)
        return;
    chartedKind = int(limits.kind);
    chartedLow = low;
    chartedHigh = high;
    emit limitLinesChanged(chartedKind, low, high);
}

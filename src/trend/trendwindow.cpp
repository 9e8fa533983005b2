#include "trendwindow.h"

#include "livedisplay.h"
#include "livelog.h"
#include "recordformat.h"
#include "trendchartview.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Column widths of the live chart: 1, 2 and 5 times a power of ten
// milliseconds, the smallest that gives the span no more columns than the
// chart has pixels. A width that stays while the span grows keeps the
// columns, and with them the drawn points, as they were.
qint64 columnWidth(qint64 spanMs, int pixels)
{
    const qint64 wanted = std::max<qint64>(1, spanMs / std::max(1, pixels));
    for (qint64 decade = 1;; decade *= 10)
        for (qint64 step : {1, 2, 5})
            if (step * decade >= wanted)
                return step * decade;
}

QString unitText(ReadingHistory::Unit unit)
{
    return unit == ReadingHistory::Unit::Dbv ? QStringLiteral("dBV") : QStringLiteral("dBm");
}

// A data set's time on the recording chart: the listing's time of day,
// counted on from a day without a change of summer time near it, so that a
// recording past midnight goes on into the next day.
const qint64 RecordingDayMs = QDateTime(QDate(2000, 1, 1), QTime(0, 0)).toMSecsSinceEpoch();

} // namespace

TrendWindow::TrendWindow(const ReadingHistory &history, QWidget *parent)
    : QWidget(parent, Qt::Window), history(history)
{
    setObjectName(QStringLiteral("trendWindow"));
    setWindowTitle(tr("Tavrolinde - Verlauf"));
    resize(900, 560);

    spanBox = new QComboBox;
    spanBox->setObjectName(QStringLiteral("spanBox"));
    spanBox->addItems({tr("1 min"), tr("10 min"), tr("1 h"), tr("8 h"), tr("Alles")});
    auto *spanLabel = new QLabel(tr("&Zeitraum:"));
    spanLabel->setBuddy(spanBox);
    followButton = new QPushButton(tr("Zoom zu&rueck"));
    followButton->setObjectName(QStringLiteral("followButton"));
    followButton->setEnabled(false);
    auto *saveImageButton = new QPushButton(tr("&Bild speichern"));
    saveImageButton->setObjectName(QStringLiteral("saveImageButton"));
    auto *saveHistoryButton = new QPushButton(tr("&Verlauf speichern"));
    saveHistoryButton->setObjectName(QStringLiteral("saveHistoryButton"));

    auto *top = new QHBoxLayout;
    top->addWidget(spanLabel);
    top->addWidget(spanBox);
    top->addWidget(followButton);
    top->addStretch();
    top->addWidget(saveImageButton);
    top->addWidget(saveHistoryButton);

    liveChart = new TrendChartView;
    liveChart->setObjectName(QStringLiteral("liveChart"));
    recordingChart = new TrendChartView;
    recordingChart->setObjectName(QStringLiteral("recordingChart"));
    recordingChart->setLevelTitle(tr("Pegel (dBm)"));
    statisticsLabel = new QLabel;
    statisticsLabel->setObjectName(QStringLiteral("statisticsLabel"));
    statisticsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("chartTabs"));
    tabs->addTab(liveChart, tr("&Live"));
    tabs->addTab(recordingChart, tr("&Aufzeichnung"));
    cursorLabel = new QLabel(tr("Die Maus ueber der Kurve zeigt Zeit und Pegel."));
    cursorLabel->setObjectName(QStringLiteral("cursorLabel"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tabs, 1);
    layout->addWidget(statisticsLabel);
    layout->addWidget(cursorLabel);

    refreshTimer.setSingleShot(true);
    connect(&refreshTimer, &QTimer::timeout, this, &TrendWindow::refreshLive);
    connect(spanBox, &QComboBox::currentIndexChanged, this, &TrendWindow::followLive);
    connect(followButton, &QPushButton::clicked, this, [this] {
        if (tabs->currentIndex() == 1)
            refreshRecording(recordingMs(0), recordingMs(int(recordingRms.size())));
        else
            followLive();
    });
    connect(saveImageButton, &QPushButton::clicked, this, &TrendWindow::saveImage);
    connect(saveHistoryButton, &QPushButton::clicked, this, &TrendWindow::saveHistory);
    connect(liveChart, &TrendChartView::zoomedByUser, this, &TrendWindow::liveZoomed);
    connect(recordingChart, &TrendChartView::zoomedByUser, this, &TrendWindow::recordingZoomed);
    connect(liveChart, &TrendChartView::cursorMoved, this, &TrendWindow::showLiveCursor);
    connect(recordingChart, &TrendChartView::cursorMoved, this, &TrendWindow::showRecordingCursor);
    connect(tabs, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 0)
            refreshLive();
        else
            refreshRecording(recordingChart->shownFrom(), recordingChart->shownTo());
        followButton->setEnabled(page == 0 ? liveZoomedIn : !recordingRms.isEmpty());
    });
}

void TrendWindow::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (liveStale)
        refreshTimer.start(0);
}

void TrendWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refreshTimer.start(0);
}

void TrendWindow::historyChanged()
{
    liveStale = true;
    // The meter sends five readings of a kind a second: the chart is drawn
    // again as often, or once a column of time when columns are longer, and
    // at least once a second.
    if (isVisible() && !refreshTimer.isActive())
        refreshTimer.start(refreshDelayMs);
}

// A span chosen, or "Zoom zurueck" on the live chart: it follows the newest
// reading again.
void TrendWindow::followLive()
{
    liveZoomedIn = false;
    if (tabs->currentIndex() == 0)
        followButton->setEnabled(false);
    refreshLive();
}

void TrendWindow::liveZoomed()
{
    liveZoomedIn = true;
    zoomFromMs = liveChart->shownFrom();
    zoomToMs = liveChart->shownTo();
    if (tabs->currentIndex() == 0)
        followButton->setEnabled(true);
    refreshTimer.start(0);
}

void TrendWindow::refreshLive()
{
    refreshTimer.stop();
    if (!isVisible())
        return;
    liveStale = false;
    const int pixels = liveChart->plotWidth();
    qint64 from = 0, to = 0, column = 1;
    if (liveZoomedIn) {
        from = zoomFromMs;
        to = zoomToMs;
        column = columnWidth(to - from, pixels);
    } else if (!history.isEmpty()) {
        const qint64 newest = history.at(history.endIndex() - 1).msecs();
        const qint64 oldest = history.at(history.firstIndex()).msecs();
        qint64 span = SpansMs[std::clamp(spanBox->currentIndex(), 0, 4)];
        const bool wholeRun = span == 0;
        if (wholeRun)
            span = std::max<qint64>(newest - oldest, 60 * 1000);
        column = columnWidth(span, pixels);
        // The chart ends with the newest column and begins with a whole one,
        // so it moves a column at a time and the columns before stay as they
        // were drawn.
        to = (newest / column + 1) * column;
        from = wholeRun ? std::min(oldest / column * column, to - 60 * 1000) : to - span;
    } else {
        to = QDateTime::currentMSecsSinceEpoch();
        from = to - SpansMs[0];
    }
    refreshDelayMs = int(std::clamp<qint64>(column, 200, 1000));

    liveChart->setLines(ReadingHistory::Rms,
                        history.columnExtremes(ReadingHistory::Rms, from, to, column));
    liveChart->setLines(ReadingHistory::Pep,
                        history.columnExtremes(ReadingHistory::Pep, from, to, column));
    const ReadingHistory::Statistics statistics = history.statistics(from, to);
    liveChart->setRanges(from, to);
    liveChart->setLevelTitle(tr("Pegel (%1)").arg(unitText(statistics.unit)));
    if (tabs->currentIndex() == 0) {
        const QString text = statisticsText(statistics);
        if (statisticsLabel->text() != text)
            statisticsLabel->setText(text);
    }
}

QString TrendWindow::levelText(double level, ReadingHistory::Unit unit) const
{
    return LiveDisplay::levelTexts(level, unit == ReadingHistory::Unit::Dbv).level;
}

QString TrendWindow::statisticsText(const ReadingHistory::Statistics &statistics)
{
    const bool audio = statistics.unit == ReadingHistory::Unit::Dbv;
    const auto level = [audio](double l) { return LiveDisplay::levelTexts(l, audio).level; };
    QStringList lines;
    for (int k = 0; k < ReadingHistory::KindCount; ++k) {
        const ReadingHistory::KindStatistics &s = statistics.kinds[k];
        const QString kind = k == ReadingHistory::Rms ? tr("RMS") : tr("PEP");
        if (s.count == 0)
            lines.append(tr("%1: keine Messwerte").arg(kind));
        else
            lines.append(tr("%1: Minimum %2   Maximum %3   Mittelwert (Leistung) %4   %5 Werte")
                             .arg(kind, level(s.minimum), level(s.maximum), level(s.powerAverage))
                             .arg(s.count));
    }
    return lines.join(QLatin1Char('\n'));
}

void TrendWindow::showLiveCursor(qint64 msecs)
{
    const qint64 rms = history.nearest(msecs, ReadingHistory::Rms);
    const qint64 pep = history.nearest(msecs, ReadingHistory::Pep);
    if (rms < 0 && pep < 0)
        return;
    const auto distance = [&](qint64 index) {
        return index < 0 ? std::numeric_limits<qint64>::max()
                         : std::abs(history.at(index).msecs() - msecs);
    };
    const ReadingHistory::Reading &nearest = history.at(distance(rms) <= distance(pep) ? rms : pep);
    QString text =
        QDateTime::fromMSecsSinceEpoch(nearest.msecs()).toString(QStringLiteral("HH:mm:ss.zzz"));
    if (rms >= 0)
        text += tr("   RMS %1").arg(levelText(history.at(rms).level(), history.at(rms).unit()));
    if (pep >= 0)
        text += tr("   PEP %1").arg(levelText(history.at(pep).level(), history.at(pep).unit()));
    cursorLabel->setText(text);
}

qint64 TrendWindow::recordingMs(int n) const
{
    return RecordingDayMs + recordingStart.msecsSinceStartOfDay() +
           qint64(n) * recordingIntervalSec * 1000;
}

void TrendWindow::showRecording(const QTime &start, int intervalSec, const int *rms, const int *pep,
                                int count)
{
    recordingStart = start;
    recordingIntervalSec = intervalSec;
    recordingRms = QVector<int>(rms, rms + std::max(count, 0));
    recordingPep = QVector<int>(pep, pep + std::max(count, 0));

    ReadingHistory::Line lines[ReadingHistory::KindCount];
    for (int i = 0; i < int(recordingRms.size()); ++i) {
        lines[ReadingHistory::Rms].push_back({recordingMs(i + 1), recordingRms[i] / 100.0});
        lines[ReadingHistory::Pep].push_back({recordingMs(i + 1), recordingPep[i] / 100.0});
    }
    for (int k = 0; k < ReadingHistory::KindCount; ++k)
        recordingChart->setLines(ReadingHistory::Kind(k), {lines[k]});
    refreshRecording(recordingMs(0), recordingMs(int(recordingRms.size())));
    if (tabs->currentIndex() == 1)
        followButton->setEnabled(!recordingRms.isEmpty());
}

void TrendWindow::recordingZoomed()
{
    refreshRecording(recordingChart->shownFrom(), recordingChart->shownTo());
}

// The recording chart's axes and statistics for the data sets from `fromMs`
// to `toMs`.
void TrendWindow::refreshRecording(qint64 fromMs, qint64 toMs)
{
    if (fromMs > toMs)
        std::swap(fromMs, toMs); // a negative interval counts backwards
    ReadingHistory::StatisticsSum sums[ReadingHistory::KindCount];
    for (int i = 0; i < int(recordingRms.size()); ++i) {
        const qint64 ms = recordingMs(i + 1);
        if (ms >= fromMs && ms <= toMs) {
            sums[ReadingHistory::Rms].add(recordingRms[i] / 100.0);
            sums[ReadingHistory::Pep].add(recordingPep[i] / 100.0);
        }
    }
    ReadingHistory::Statistics statistics;
    for (int k = 0; k < ReadingHistory::KindCount; ++k)
        statistics.kinds[k] = sums[k].result();
    recordingChart->setRanges(fromMs, toMs);
    if (tabs->currentIndex() == 1)
        statisticsLabel->setText(statisticsText(statistics));
}

void TrendWindow::showRecordingCursor(qint64 msecs)
{
    const int count = int(recordingRms.size());
    if (count == 0 || recordingIntervalSec == 0)
        return;
    const double n = double(msecs - recordingMs(0)) / (recordingIntervalSec * 1000.0);
    const int i = std::clamp(int(std::lround(n)) - 1, 0, count - 1);
    cursorLabel->setText(tr("Datensatz %1   %2   RMS %3 dBm   PEP %4 dBm")
                             .arg(i + 1)
                             .arg(QDateTime::fromMSecsSinceEpoch(recordingMs(i + 1))
                                      .toString(QStringLiteral("HH:mm:ss")))
                             .arg(QString::asprintf("%.2f", recordingRms[i] / 100.0),
                                  QString::asprintf("%.2f", recordingPep[i] / 100.0)));
}

QByteArray TrendWindow::historyCsv(const ReadingHistory &history)
{
    // Looking up the local time zone for every reading takes most of the
    // time; its offset from UTC changes only on the hour or half hour, so it
    // is looked up once a quarter of an hour.
    constexpr qint64 QuarterMs = 15 * 60 * 1000;
    qint64 quarter = std::numeric_limits<qint64>::min();
    int offsetSeconds = 0;

    QByteArray bytes = LiveLog::csvHeader() + '\n';
    bytes.reserve(qsizetype(history.size()) * 96 + bytes.size());
    for (qint64 i = history.firstIndex(); i < history.endIndex(); ++i) {
        const ReadingHistory::Reading &r = history.at(i);
        const qint64 ms = r.msecs();
        if (ms / QuarterMs != quarter) {
            quarter = ms / QuarterMs;
            offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        }
        bytes += LiveLog::levelCsvLine(
            QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds),
            r.kind(), r.level(), r.unit() == ReadingHistory::Unit::Dbv);
        bytes += '\n';
    }
    return bytes;
}

QByteArray TrendWindow::chartPng() const
{
    const QWidget *chart = tabs->currentWidget();
    QImage image(chart->size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        const_cast<QWidget *>(chart)->render(&painter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// "Bild speichern": the chart on show as a PNG file. Qt Charts has no vector
// export of its own, and a picture at twice the screen's pixels serves a
// report.
void TrendWindow::saveImage()
{
    saveFile(tr("Bild speichern"), QStringLiteral("verlauf.png"), tr("PNG-Bild (*.png)"),
             [this] { return chartPng(); });
}

// "Verlauf speichern": every reading the history holds, as CSV.
void TrendWindow::saveHistory()
{
    // As the data sets' dialog: with '.' or, chosen, ',' as decimal point.
    QString type = Records::csvFileType(Records::decimalCommaChosen());
    const auto bytes = [this, &type] {
        const bool decimalComma = type == Records::csvFileType(true);
        Records::setDecimalCommaChosen(decimalComma);
        const QByteArray csv = historyCsv(history);
        return decimalComma ? Records::withDecimalComma(csv) : csv;
    };
    saveFile(tr("Verlauf speichern"), QStringLiteral("verlauf.csv"), Records::csvFileTypes(), bytes,
             &type);
}

// Asks for a file name and writes the bytes there; an existing file is
// replaced only once the new one is complete. The line under the chart says
// how it went.
void TrendWindow::saveFile(const QString &caption, const QString &name, const QString &filter,
                           const std::function<QByteArray()> &bytes, QString *type)
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, caption, QDir::home().filePath(name), filter, type);
    if (fileName.isEmpty())
        return;
    QString error;
    cursorLabel->setText(Records::writeFile(fileName, bytes(), &error)
                             ? tr("Gespeichert: %1").arg(fileName)
                             : tr("Nicht gespeichert: %1 (%2)").arg(fileName, error));
}

#include "trendwindow.h"

#include "historycsv.h"
#include "livespan.h"
#include "recordformat.h"
#include "trendchartview.h"
#include "trendexport.h"
#include "trendtexts.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

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
    recordingChart->setLevelTitle(TrendTexts::levelTitle(ReadingHistory::Unit::Dbm));
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
    recordingTimer.setSingleShot(true);
    connect(&recordingTimer, &QTimer::timeout, this, &TrendWindow::drawRecording);
    connect(spanBox, &QComboBox::currentIndexChanged, this, &TrendWindow::followLive);
    connect(followButton, &QPushButton::clicked, this, &TrendWindow::followPressed);
    connect(saveImageButton, &QPushButton::clicked, this, &TrendWindow::saveImage);
    connect(saveHistoryButton, &QPushButton::clicked, this, &TrendWindow::saveHistory);
    connect(liveChart, &TrendChartView::zoomedByUser, this, &TrendWindow::liveZoomed);
    connect(recordingChart, &TrendChartView::zoomedByUser, this, &TrendWindow::recordingZoomed);
    connect(liveChart, &TrendChartView::cursorMoved, this, &TrendWindow::showLiveCursor);
    connect(recordingChart, &TrendChartView::cursorMoved, this, &TrendWindow::showRecordingCursor);
    connect(tabs, &QTabWidget::currentChanged, this, &TrendWindow::pageChanged);
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
    if (isVisible() && !refreshTimer.isActive())
        refreshTimer.start(refreshDelayMs);
}

void TrendWindow::setLimitLines(int kind, std::optional<double> low, std::optional<double> high)
{
    liveChart->setLimits(ReadingHistory::Kind(kind), low, high);
    historyChanged(); // drawn with the next refresh
}

bool TrendWindow::recordingShown() const
{
    return tabs->currentIndex() == 1;
}

void TrendWindow::showStatistics(const QString &text)
{
    if (statisticsLabel->text() != text)
        statisticsLabel->setText(text);
}

// A span chosen, or "Zoom zurueck" on the live chart: it follows the newest
// reading again.
void TrendWindow::followLive()
{
    liveZoomedIn = false;
    if (!recordingShown())
        followButton->setEnabled(false);
    refreshLive();
}

// "Zoom zurueck": the live chart follows again, the recording shows whole.
void TrendWindow::followPressed()
{
    if (recordingShown())
        refreshRecording(recording.msecsOf(0), recording.msecsOf(recording.count()));
    else
        followLive();
}

void TrendWindow::pageChanged(int page)
{
    if (page == 0)
        refreshLive();
    else
        refreshRecording(recordingChart->shownFrom(), recordingChart->shownTo());
    followButton->setEnabled(page == 0 ? liveZoomedIn : recording.count() > 0);
}

void TrendWindow::liveZoomed()
{
    liveZoomedIn = true;
    zoomFromMs = liveChart->shownFrom();
    zoomToMs = liveChart->shownTo();
    if (!recordingShown())
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
    const LiveSpan span = liveZoomedIn
                              ? LiveSpan::zoomed(zoomFromMs, zoomToMs, pixels)
                              : LiveSpan::following(history, spanBox->currentIndex(), pixels,
                                                    QDateTime::currentMSecsSinceEpoch());
    refreshDelayMs = span.refreshDelayMs();
    for (const ReadingHistory::Kind kind : {ReadingHistory::Rms, ReadingHistory::Pep})
        liveChart->setLines(kind,
                            history.columnExtremes(kind, span.fromMs, span.toMs, span.columnMs));
    const ReadingHistory::Statistics statistics = history.statistics(span.fromMs, span.toMs);
    liveChart->setRanges(span.fromMs, span.toMs);
    liveChart->setLevelTitle(TrendTexts::levelTitle(statistics.unit));
    if (!recordingShown())
        showStatistics(TrendTexts::statistics(statistics));
}

void TrendWindow::showLiveCursor(qint64 msecs)
{
    showCursor(TrendTexts::liveCursor(history, msecs));
}

// The reading under the mouse; where there is none, the last one stays.
void TrendWindow::showCursor(const QString &text)
{
    if (!text.isEmpty())
        cursorLabel->setText(text);
}

// The data sets are taken at once (the download may change after this); the
// chart follows a pass of the event loop later.
void TrendWindow::showRecording(const QTime &start, const DownloadSession &download)
{
    recording.set(start, download);
    recordingTimer.start(0);
}

void TrendWindow::drawRecording()
{
    refreshRecording(recording.msecsOf(0), recording.msecsOf(recording.count()));
    if (recordingShown())
        followButton->setEnabled(recording.count() > 0);
}

void TrendWindow::recordingZoomed()
{
    refreshRecording(recordingChart->shownFrom(), recordingChart->shownTo());
}

// The recording chart's lines, axes and statistics for the data sets from
// `fromMs` to `toMs`: at most two points a pixel column are drawn.
void TrendWindow::refreshRecording(qint64 fromMs, qint64 toMs)
{
    if (fromMs > toMs)
        std::swap(fromMs, toMs); // a negative interval counts backwards
    const qint64 columnMs = std::max<qint64>(1, (toMs - fromMs) / recordingChart->plotWidth());
    for (const ReadingHistory::Kind kind : {ReadingHistory::Rms, ReadingHistory::Pep})
        recordingChart->setLines(kind, recording.chartLines(kind, fromMs, toMs, columnMs));
    recordingChart->setRanges(fromMs, toMs);
    if (recordingShown())
        showStatistics(TrendTexts::statistics(recording.statistics(fromMs, toMs)));
}

void TrendWindow::showRecordingCursor(qint64 msecs)
{
    showCursor(TrendTexts::recordingCursor(recording, msecs));
}

void TrendWindow::saveImage()
{
    TrendExport::save(this, cursorLabel, tr("Bild speichern"), QStringLiteral("verlauf.png"),
                      tr("PNG-Bild (*.png)"),
                      [this] { return TrendExport::chartPng(tabs->currentWidget()); });
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
    TrendExport::save(this, cursorLabel, tr("Verlauf speichern"), QStringLiteral("verlauf.csv"),
                      Records::csvFileTypes(), bytes, &type);
}

#include "mainwindow.h"

#include "livedisplay.h"
#include "modem.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>

// What one poll leaves on the display. A poll decodes up to 999 bytes, some
// hundred readings, of which only the last of each kind can ever be seen:
// the messages are noted as they end, and the labels are written once, when
// the poll has decoded everything. Every reading goes into the history, and
// download headers and data sets to the record store, as they end.
struct MainWindow::DisplayUpdate : MeterStream::Receiver
{
    explicit DisplayUpdate(MainWindow &window) : window(window) {}

    void reading(const MeterStream::Reading &r) override
    {
        levels[r.kind] = r;
        window.history.append(pollMs, r.kind, LiveDisplay::shownLevel(r.level),
                              r.audioHead ? ReadingHistory::Unit::Dbv : ReadingHistory::Unit::Dbm);
        newReadings = true;
    }
    void status(const MeterStream::Status &s) override { lastStatus = s; }
    void downloadHeader(const QString &text) override { window.storeDownloadHeader(text); }
    void dataSet(const QString &text) override { window.storeDataSet(text); }

    MainWindow &window;
    const qint64 pollMs = QDateTime::currentMSecsSinceEpoch(); // when the poll took them in
    std::optional<MeterStream::Reading> levels[Protocol::LevelKindCount];
    bool newReadings = false;
    std::optional<MeterStream::Status> lastStatus;
};

namespace {

void showLevelTexts(QLabel *level, QLabel *voltage, QLabel *power, const MeterStream::Reading &r)
{
    const LiveDisplay::LevelTexts texts = LiveDisplay::levelTexts(r.level, r.audioHead);
    level->setText(texts.level);
    voltage->setText(texts.voltage);
    power->setText(texts.power);
}

// The status labels as the last status message of a poll left them.
void showStatusTexts(Ui_MainWindow *ui, const MeterStream::Status &status)
{
    ui->labelmknr->setText(QString::asprintf("%2i", status.serialNumber));
    ui->labeldbm->setText(LiveDisplay::maxLevelText(status.maxLevelDbm));
    ui->labelattdb->setText(LiveDisplay::attenuatorText(status.attenuatorDb));
    ui->labeladxx->setText(LiveDisplay::headName(status.headType));
    const bool audio = LiveDisplay::isAudioHead(status.headType);
    ui->groupBoxrms->setTitle(LiveDisplay::levelTitle(Protocol::Rms, audio));
    ui->groupBoxpep->setTitle(LiveDisplay::levelTitle(Protocol::Pep, audio));
    if (status.recording)
        ui->labelzsatz->setText(LiveDisplay::recordingText(*status.recording));
}

} // namespace

// One poll of the meter's stream, every PollMs: take in what has arrived,
// decode all of it, and come back in PollMs.
void MainWindow::getrs232()
{
    // Every poll decodes all it takes in, so the ring is empty here.
    if (search.portOpen()) {
        char buffer[MeterStream::IntakeLimit];
        const int count = modem->readBytes(buffer, int(sizeof buffer));
        stream.take(buffer, count);
        // Nothing came because the meter has gone (a pulled cable, a
        // switched-off adapter), not because it is silent: search again.
        if (count == 0 && modem->deviceLost()) {
            meterLost();
            return;
        }
    }

    DisplayUpdate update(*this);
    stream.decode(update);
    if (const auto &rms = update.levels[Protocol::Rms])
        showLevelTexts(ui->labelNdbmrms, ui->labelNvoltrms, ui->labelNwattrms, *rms);
    if (const auto &pep = update.levels[Protocol::Pep])
        showLevelTexts(ui->labelNdbmpep, ui->labelNvoltpep, ui->labelNwattpep, *pep);
    if (update.lastStatus)
        showStatusTexts(ui, *update.lastStatus);
    showDownloadProgress();
    if (update.newReadings)
        emit readingsTaken();
    pollTimer->start(PollMs);
}

// The live values as before the first reading: only their units, so that no
// reading of a meter that has gone looks live.
void MainWindow::clearLiveValues()
{
    ui->labelNdbmrms->setText(tr("dBm"));
    ui->labelNvoltrms->setText(tr("V"));
    ui->labelNwattrms->setText(tr("W"));
    ui->labelNdbmpep->setText(tr("dBm"));
    ui->labelNvoltpep->setText(tr("V"));
    ui->labelNwattpep->setText(tr("W"));
}

#include "mainwindow.h"

#include "livedisplay.h"
#include "meterconnection.h"
#include "ui_mainwindow.h"

#include <QGroupBox>
#include <QLabel>

namespace {

void showLevelTexts(QLabel *level, QLabel *voltage, QLabel *power, const MeterStream::Reading &r)
{
    const LiveDisplay::LevelTexts texts = LiveDisplay::readingTexts(r);
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

// Every reading goes into the history as it ends.
void MainWindow::setUpLiveDisplay()
{
    connect(connection, &MeterConnection::reading, this, &MainWindow::takeReading);
}

// The history charts the corrected absolute level, with the raw one beside
// it while a correction is on.
void MainWindow::takeReading(const MeterStream::Reading &r)
{
    const auto unit = r.audioHead ? ReadingHistory::Unit::Dbv : ReadingHistory::Unit::Dbm;
    if (connection->isCorrecting())
        history.append(r.timeMs, r.kind, r.absoluteLevel, unit, r.rawLevel);
    else
        history.append(r.timeMs, r.kind, r.level, unit);
}

// One poll of the meter's stream, every 100 ms once the meter has answered:
// the connection takes in what has arrived and decodes all of it. A poll
// brings up to 999 bytes, some hundred readings, of which only the last of
// each kind can ever be seen: the labels are written once, with those.
void MainWindow::getrs232()
{
    const MeterConnection::Poll &poll = connection->poll();
    if (const auto &rms = poll.levels[Protocol::Rms])
        showLevelTexts(ui->labelNdbmrms, ui->labelNvoltrms, ui->labelNwattrms, *rms);
    if (const auto &pep = poll.levels[Protocol::Pep])
        showLevelTexts(ui->labelNdbmpep, ui->labelNvoltpep, ui->labelNwattpep, *pep);
    for (int kind = 0; kind < Protocol::LevelKindCount; ++kind)
        if (poll.levels[kind])
            lastReadings[kind] = poll.levels[kind];
    showLimits();
    if (poll.status) {
        showStatusTexts(ui, *poll.status);
        showCorrection(); // the head's table may be another
    }
    showDownloadProgress();
    if (poll.newReadings)
        emit readingsTaken();
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

#include "mainwindow.h"

#include "livedisplay.h"
#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>

#include <optional>

// What one run leaves on the display. A run decodes up to 999 bytes, some
// hundred readings, of which only the last of each kind can ever be seen:
// the handlers note what they found, and the labels are written once, when
// the run has decoded everything.
struct DisplayUpdate
{
    struct Level
    {
        bool seen = false;
        double value = 0.0;
        bool audioHead = false; // the head in force when the reading ended
    };
    Level levels[2];   // RMS, PEP
    qint64 pollMs = 0; // when the poll took the readings in
    bool newReadings = false;
    bool status = false;
    std::optional<QString> recording;
};

namespace {

void showLevelTexts(QLabel *level, QLabel *voltage, QLabel *power, const DisplayUpdate::Level &l)
{
    const LiveDisplay::LevelTexts texts = LiveDisplay::levelTexts(l.value, l.audioHead);
    level->setText(texts.level);
    voltage->setText(texts.voltage);
    power->setText(texts.power);
}

// The status labels as the last status message of a run left them.
void showStatusTexts(Ui_MainWindow *ui, int headType, int serialNumber, double maxLevelDbm,
                     double attenuatorDb)
{
    ui->labelmknr->setText(QString::asprintf("%2i", serialNumber));
    ui->labeldbm->setText(LiveDisplay::maxLevelText(maxLevelDbm));
    ui->labelattdb->setText(LiveDisplay::attenuatorText(attenuatorDb));
    ui->labeladxx->setText(LiveDisplay::headName(headType));
    const bool audio = LiveDisplay::isAudioHead(headType);
    ui->groupBoxrms->setTitle(LiveDisplay::rmsTitle(audio));
    ui->groupBoxpep->setTitle(LiveDisplay::pepTitle(audio));
}

} // namespace

// One poll of the meter's stream, every 100 ms: take in what has arrived,
// decode all of it, and come back in 100 ms.
void MainWindow::getrs232()
{
    // Every run decodes all it takes in, so the ring is empty here. At most
    // one byte less than the ring holds is read: a full ring would bring the
    // head round onto the tail, which reads as empty, and the whole batch
    // would be lost.
    if (search.portOpen()) {
        char buffer[RxRingSize - 1];
        const int count = qMin(modem->readBytes(buffer, int(sizeof buffer)), int(sizeof buffer));
        for (int i = 0; i < count; ++i) {
            rxRing[rxHead] = buffer[i];
            if (++rxHead >= RxRingSize)
                rxHead = 0;
        }
        // Nothing came because the meter has gone (a pulled cable, a
        // switched-off adapter), not because it is silent: search again.
        if (count == 0 && modem->deviceLost()) {
            meterLost();
            return;
        }
    }

    DisplayUpdate update;
    update.pollMs = QDateTime::currentMSecsSinceEpoch();
    runUpdate = &update;
    while (rxTail != rxHead) {
        decodeByte(rxRing[rxTail]);
        if (++rxTail >= RxRingSize)
            rxTail = 0;
    }
    runUpdate = nullptr;

    const DisplayUpdate::Level &rms = update.levels[0];
    if (rms.seen)
        showLevelTexts(ui->labelNdbmrms, ui->labelNvoltrms, ui->labelNwattrms, rms);
    const DisplayUpdate::Level &pep = update.levels[1];
    if (pep.seen)
        showLevelTexts(ui->labelNdbmpep, ui->labelNvoltpep, ui->labelNwattpep, pep);
    if (update.status)
        showStatusTexts(ui, headType, serialNumber, maxLevelDbm, attenuatorDb);
    if (update.recording)
        ui->labelzsatz->setText(*update.recording);
    showDownloadProgress();
    if (update.newReadings)
        emit readingsTaken();

    pollTimer->start(100);
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

// A new line: no half message of an earlier one is joined to its first.
void MainWindow::resetMessageState()
{
    inMessage = false;
    messageType = Protocol::NoMessageType;
    messageText.clear();
}

// Bytes between messages are ignored; the type stays from one message to
// the next.
void MainWindow::decodeByte(char c)
{
    Protocol::scanByte(c, inMessage, messageType, messageText, [this] { runMessageHandler(); });
}

void MainWindow::runMessageHandler()
{
    Q_ASSERT(runUpdate);
    if (!runUpdate)
        return;
    switch (messageType) {
    case Protocol::RmsLevel:
    case Protocol::PepLevel:
        takeLevel(messageType);
        break;
    case Protocol::DownloadHeader:
        storeDownloadHeader(messageText);
        break;
    case Protocol::DataSet:
        storeDataSet(messageText);
        break;
    case Protocol::Status:
        takeStatus();
        break;
    default:
        break; // no type letter seen yet
    }
}

// An RMS or PEP level: noted with the head in force now, and shown when the
// run ends.
void MainWindow::takeLevel(int type)
{
    DisplayUpdate::Level &level = runUpdate->levels[type == Protocol::RmsLevel ? 0 : 1];
    level.seen = true;
    level.value = Protocol::readLevel(messageText);
    level.audioHead = LiveDisplay::isAudioHead(headType);

    // Every reading goes into the history, not only the last one shown.
    history.append(runUpdate->pollMs,
                   type == Protocol::RmsLevel ? ReadingHistory::Rms : ReadingHistory::Pep,
                   LiveDisplay::shownLevel(level.value),
                   level.audioHead ? ReadingHistory::Unit::Dbv : ReadingHistory::Unit::Dbm);
    runUpdate->newReadings = true;
}

// A status message: head, number, maximum level, attenuator and recording
// state, read as they stand (blanks are not removed here). The head counts at
// once for the readings that follow; the labels are written at the end of
// the run.
void MainWindow::takeStatus()
{
    const Protocol::StatusReport status = Protocol::readStatus(messageText);
    headType = status.headType;
    serialNumber = status.serialNumber;
    maxLevelDbm = status.maxLevelDbm;
    attenuatorDb = status.attenuatorDb;
    recordingActive = status.recordingState;

    runUpdate->status = true;
    // Any other recording state leaves the indication as it was.
    if (const auto recording = LiveDisplay::recordingText(recordingActive))
        runUpdate->recording = recording;
}

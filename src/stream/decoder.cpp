#include "mainwindow.h"

#include "livedisplay.h"
#include "modem.h"
#include "protocol.h"
#include "ui_mainwindow.h"

#include <QGroupBox>
#include <QLabel>
#include <QTimer>

// One poll of the meter's stream, every 100 ms: take in what has arrived,
// decode all of it, and come back in 100 ms.
void MainWindow::getrs232()
{
    // Every run decodes all it takes in, so the ring is empty here. At most
    // one byte less than the ring holds is read: a full ring would bring the
    // head round onto the tail, which reads as empty, and the whole batch
    // would be lost.
    if (portOpen) {
        char buffer[RxRingSize - 1];
        const int count = qMin(modem->readBytes(buffer, int(sizeof buffer)), int(sizeof buffer));
        for (int i = 0; i < count; ++i) {
            rxRing[rxHead] = buffer[i];
            if (++rxHead >= RxRingSize)
                rxHead = 0;
        }
    }

    while (rxTail != rxHead) {
        decodeByte(rxRing[rxTail]);
        if (++rxTail >= RxRingSize)
            rxTail = 0;
    }

    pollTimer->start(100);
}

// The message syntax: '@', then type letters and value text in any order,
// then ';'. Bytes between messages are ignored; the type stays from one
// message to the next.
void MainWindow::decodeByte(char c)
{
    if (!inMessage) {
        inMessage = c == Protocol::MessageStart;
        return;
    }

    if (c == Protocol::MessageEnd) {
        // A value text beyond the bound is noise, not a message.
        if (messageText.size() <= Protocol::MaxValueTextLength)
            runMessageHandler();
        messageText.resize(0); // keeps the buffer for the next message
        inMessage = false;
        return;
    }

    const int type = Protocol::messageTypeOf(c);
    if (type != Protocol::NoMessageType)
        messageType = type;
    else if (messageText.size() <= Protocol::MaxValueTextLength)
        messageText.append(QLatin1Char(c)); // one character past the bound marks it overlong
}

void MainWindow::runMessageHandler()
{
    switch (messageType) {
    case Protocol::RmsLevel:
    case Protocol::PepLevel:
        showLevel(messageType);
        break;
    case Protocol::DownloadHeader:
        storeDownloadHeader(messageText);
        break;
    case Protocol::DataSet:
        storeDataSet(messageText);
        break;
    case Protocol::Status:
        showStatus();
        break;
    default:
        break; // no type letter seen yet
    }
}

// An RMS or PEP level: the level, the voltage and (for RF heads) the power.
void MainWindow::showLevel(int type)
{
    const double level = Protocol::readDecimal(Protocol::withoutBlanks(messageText));
    const LiveDisplay::LevelTexts texts =
        LiveDisplay::levelTexts(level, LiveDisplay::isAudioHead(headType));

    const bool rms = type == Protocol::RmsLevel;
    (rms ? ui->labelNdbmrms : ui->labelNdbmpep)->setText(texts.level);
    (rms ? ui->labelNvoltrms : ui->labelNvoltpep)->setText(texts.voltage);
    (rms ? ui->labelNwattrms : ui->labelNwattpep)->setText(texts.power);
}

// A status message: head, number, maximum level, attenuator and recording
// state, read as they stand (blanks are not removed here).
void MainWindow::showStatus()
{
    headType = Protocol::readInteger(Protocol::section(messageText, 0));
    serialNumber = Protocol::readInteger(Protocol::section(messageText, 1));
    maxLevelDbm = Protocol::readDecimal(Protocol::section(messageText, 2));
    attenuatorDb = Protocol::readDecimal(Protocol::section(messageText, 3));
    recordingActive = Protocol::readInteger(Protocol::section(messageText, 4));

    ui->labelmknr->setText(QString::asprintf("%2i", serialNumber));
    ui->labeldbm->setText(QString::asprintf("%2.1f dBm", maxLevelDbm));
    ui->labelattdb->setText(QString::asprintf("%2.1f dB", attenuatorDb));
    ui->labeladxx->setText(LiveDisplay::headName(headType));
    if (const auto recording = LiveDisplay::recordingText(recordingActive))
        ui->labelzsatz->setText(*recording);

    const bool audio = LiveDisplay::isAudioHead(headType);
    ui->groupBoxrms->setTitle(LiveDisplay::rmsTitle(audio));
    ui->groupBoxpep->setTitle(LiveDisplay::pepTitle(audio));
}

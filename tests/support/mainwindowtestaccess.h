#ifndef MAINWINDOWTESTACCESS_H
#define MAINWINDOWTESTACCESS_H

#include "mainwindow.h"
#include "meterconnection.h"
#include "modem.h"

#include <QList>
#include <QtGlobal>

#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

// The tests' way into the main window (a friend of MainWindow): its private
// slots and steps, called as the timers and the decoder call them, and its
// run-time state, read and set where a test needs a known start.
struct MainWindowTestAccess
{
    // Slots and steps.
    static void setAText(MainWindow &m, const QString &port) { m.setAText(port); }
    static void poll(MainWindow &m) { m.getrs232(); }
    static void requestDownload(MainWindow &m) { m.datenholen(); }
    static void storeHeader(MainWindow &m, const QString &text)
    {
        m.connection->takeDownloadHeader(text);
    }
    static void storeDataSet(MainWindow &m, const QString &text)
    {
        m.connection->takeDataSet(text);
    }
    // As when the meter goes away during a download.
    static void downloadLost(MainWindow &m)
    {
        if (m.connection->store->lose())
            emit m.connection->downloadEnded();
        m.showDownloadProgress();
    }
    // The store as a download request leaves it, with no download running.
    static void resetDownload(MainWindow &m) { m.connection->store->start(false, 0); }

    // As when the meter has been found: no port scan, the tab widget enabled,
    // the meter's commands go out once a port is open.
    static void meterFound(MainWindow &m)
    {
        m.scanTimer->stop();
        m.connection->search.found = true;
        m.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setEnabled(true);
    }
    // Opens a port on the window's channel as the scan does.
    static bool openPort(MainWindow &m, const QString &name)
    {
        m.connection->search.open = m.modem->openPort(name);
        return m.connection->search.open;
    }

    static QString versionText(const MainWindow &m) { return m.versionText; }
    static MeterConnection &connection(MainWindow &m) { return *m.connection; }

    // Port scan.
    static QStringList portList(const MainWindow &m) { return m.connection->search.portList(); }
    static QTimer *scanTimer(const MainWindow &m) { return m.scanTimer; }
    static int portIndex(const MainWindow &m) { return m.connection->search.portIndex(); }
    static bool awaitingReply(const MainWindow &m) { return m.connection->search.awaitingReply(); }
    static bool deviceFound(const MainWindow &m) { return m.connection->search.deviceFound(); }
    static void setFirmware(MainWindow &m, bool found, int firmware)
    {
        m.connection->search.found = found;
        m.connection->search.firmware = firmware;
    }
    static QString portName(const MainWindow &m) { return m.connection->search.portName(); }
    static bool portOpen(const MainWindow &m) { return m.connection->search.portOpen(); }
    static void setPortOpen(MainWindow &m, bool open) { m.connection->search.open = open; }

    // Stream decoder and meter status.
    static QTimer *pollTimer(const MainWindow &m) { return m.pollTimer; }
    static int rxHead(const MainWindow &m) { return m.connection->stream.rxHead; }
    static int rxTail(const MainWindow &m) { return m.connection->stream.rxTail; }
    // Puts bytes into the receive ring as the intake of one poll does.
    static void putInRing(MainWindow &m, const char *bytes, int count)
    {
        m.connection->stream.take(bytes, count);
    }
    // The stream and the meter status as a new window starts them, the ring
    // empty, as when the meter has just been found.
    static void resetDecoder(MainWindow &m) { m.connection->stream = MeterStream(); }
    static int messageType(const MainWindow &m) { return m.connection->stream.messageType; }
    static QString messageText(const MainWindow &m) { return m.connection->stream.messageText; }
    static bool inMessage(const MainWindow &m) { return m.connection->stream.inMessage; }
    static QString messageText(const MeterStream &s) { return s.messageText; }
    static const MeterStream::Status &meterStatus(const MainWindow &m)
    {
        return m.connection->stream.status();
    }

    // Record store.
    static int lastRecordIndex(const MainWindow &m) { return m.connection->store->lastRecordIndex; }
    static int recordIntervalSec(const MainWindow &m)
    {
        return m.connection->store->recordIntervalSec;
    }
    static int recordCount(const MainWindow &m) { return m.connection->store->recordCount; }
    static int *rmsValues(MainWindow &m) { return m.connection->store->rmsValues; }
    static const int *rmsValues(const MainWindow &m) { return m.connection->store->rmsValues; }
    static int *pepValues(MainWindow &m) { return m.connection->store->pepValues; }
    static const int *pepValues(const MainWindow &m) { return m.connection->store->pepValues; }
    // A download that has brought lastIndex + 1 data sets, through the store's
    // own steps: the header, then the data sets of `values` (rms, pep, rms,
    // pep ...), and 0*0 for the rest.
    static void setStore(MainWindow &m, int lastIndex, int interval, const QList<int> &values = {})
    {
        m.connection->store->start(false, 0);
        m.connection->store->takeHeader(QStringLiteral("%1*%2").arg(lastIndex).arg(interval), 0);
        for (qsizetype i = 0; i <= lastIndex; ++i) {
            const bool given = 2 * i + 1 < values.size();
            m.connection->store->takeDataSet(QStringLiteral("%1*%2")
                                                 .arg(given ? values.at(2 * i) : 0)
                                                 .arg(given ? values.at(2 * i + 1) : 0),
                                             0, [] {});
        }
    }

    // The readings of the run ("Verlauf").
    static ReadingHistory &history(MainWindow &m) { return m.history; }

    // How often the tone has sounded while out of limits; "Grossanzeige".
    static int beepCount(const MainWindow &m) { return m.beepCount; }
    static LargeReadout *largeReadout(const MainWindow &m) { return m.largeReadout.get(); }
};

#endif // MAINWINDOWTESTACCESS_H

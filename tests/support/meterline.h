#ifndef METERLINE_H
#define METERLINE_H

// Shared by the decoder's tests and benchmark: the program connected to a
// meter on a pseudo-terminal, found by the program's own search, and a way to
// hand the program exactly the bytes of one read.

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

class MeterLine
{
public:
    static constexpr int MaxRead = MeterStream::IntakeLimit;

    MeterLine() : sandbox(new PortsSandbox), meter(new PtyMeter(*sandbox, QStringLiteral("COM1")))
    {
        meter->setReply("#v;", QByteArray("M\x15", 2));
        // A second handle on the program's end of the line, opened before the
        // program takes the port for itself, only to see how many bytes wait
        // there for the program.
        watchFd = ::open(QFile::encodeName(meter->devicePath()).constData(),
                         O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        window.reset(new MainWindow);
    }

    ~MeterLine()
    {
        window.reset();
        if (watchFd >= 0)
            ::close(watchFd);
    }

    // Shows the window and lets the program find the meter by itself.
    bool connect()
    {
        if (!meter->isValid() || watchFd < 0)
            return false;
        window->show();
        if (!meter->waitForReceived("#o;", 15000))
            return false;
        return QTest::qWaitFor(
            [this] {
                return MainWindowTestAccess::portOpen(*window) &&
                       MainWindowTestAccess::pollTimer(*window)->isActive();
            },
            5000);
    }

    MainWindow &win() { return *window; }
    PtyMeter &pty() { return *meter; }

    // Bytes the meter has sent that the program has not taken in yet.
    int waiting() const
    {
        int count = 0;
        return ::ioctl(watchFd, FIONREAD, &count) == 0 ? count : -1;
    }

    // Sends bytes as the meter without letting the program poll, and waits
    // until they have all arrived on the program's end of the line.
    bool send(const QByteArray &bytes)
    {
        const int before = waiting();
        if (before < 0 || !meter->send(bytes))
            return false;
        const QDeadlineTimer deadline(5000);
        while (waiting() < before + bytes.size()) {
            if (deadline.hasExpired())
                return false;
            QThread::usleep(50);
        }
        return true;
    }

    // Sends bytes and lets the program poll once for every read they need:
    // a piece of up to 999 bytes is taken in and decoded by one run.
    bool feed(const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size(); done += MaxRead) {
            if (!send(bytes.mid(done, MaxRead)))
                return false;
            MainWindowTestAccess::poll(*window);
            if (waiting() != 0)
                return false;
        }
        return true;
    }

    // The text of a label or the title of a group box.
    QString text(const QString &objectName) const
    {
        if (const auto *label = window->findChild<QLabel *>(objectName))
            return label->text();
        if (const auto *box = window->findChild<QGroupBox *>(objectName))
            return box->title();
        return QStringLiteral("<no widget %1>").arg(objectName);
    }

private:
    std::unique_ptr<PortsSandbox> sandbox;
    std::unique_ptr<PtyMeter> meter;
    std::unique_ptr<MainWindow> window;
    int watchFd = -1;
};

#endif // METERLINE_H

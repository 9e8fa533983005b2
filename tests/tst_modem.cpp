// The serial channel against real pseudo-terminals linked as COM names.

#include "modem.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How often this thread has gone to sleep in the kernel (voluntary context
// switches): a read or write that waits for the line sleeps, one that returns
// at once does not. A busy machine takes the processor away from the thread
// (involuntary switches, not counted here), but never makes it sleep.
long threadSleeps()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &arguments : spy)
        list << arguments.at(0).toString();
    return list;
}

// Reads what the channel hands out until `count` bytes have come or a second
// has passed (the pseudo-terminal passes bytes on asynchronously).
QByteArray readAtLeast(Modem &modem, int count)
{
    QByteArray got;
    char buffer[64];
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < 1000) {
        const int n = modem.readBytes(buffer, int(sizeof buffer));
        if (n > 0)
            got.append(buffer, n);
        else
            QTest::qWait(2);
    }
    return got;
}

// A second handle on the program's end of the line, opened before the channel
// opens it (the channel's exclusive hold turns later openers away), to look
// at the line without taking bytes from it.
class ProgramEnd
{
public:
    explicit ProgramEnd(const PtyMeter &meter)
    {
        const QByteArray path = QFile::encodeName(meter.devicePath());
        fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~ProgramEnd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ProgramEnd(const ProgramEnd &) = delete;
    ProgramEnd &operator=(const ProgramEnd &) = delete;

    int handle() const { return fd; }

    // Waits until `count` received bytes wait in the driver's queue.
    bool waitForWaiting(int count) const
    {
        return fd >= 0 && QTest::qWaitFor(
                              [this, count] {
                                  int waiting = 0;
                                  return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting >= count;
                              },
                              2000);
    }

private:
    int fd = -1;
};

} // namespace

class TestModem : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Port names and what the channel reports.
    void devicePathMapping_data();
    void devicePathMapping();
    void devicePathFollowsPortsFolder();
    void reportsNames_data();
    void reportsNames();
    void absentPortLeavesChannelClosed();
    void exclusiveOpen();
    void heldByAnotherProgram_data();
    void heldByAnotherProgram();
    void halfOpenHoldsUntilClosed_data();
    void halfOpenHoldsUntilClosed();
    void reopenAfterClose();

    // Line settings.
    void lineSettings();

    // Reading.
    void readsWaitingBytesInSteps();
    void readNeverWaits();

    // Writing.
    void writesExactBytes_data();
    void writesExactBytes();
    void writeByte();
    void closedChannel();
    void slowReaderGetsEverything();
    void stalledLineGivesUp();

    // The other end goes away.
    void vanishedDevice();

private:
    std::unique_ptr<PortsSandbox> sandbox;
};

void TestModem::init()
{
    sandbox = std::make_unique<PortsSandbox>();
}

void TestModem::cleanup()
{
    sandbox.reset();
}

void TestModem::devicePathMapping_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    QTest::newRow("COM1") << "COM1"
                          << "/dev/ttyS0";
    QTest::newRow("COM4") << "COM4"
                          << "/dev/ttyS3";
    QTest::newRow("COM5") << "COM5"
                          << "/dev/ttyUSB0";
    QTest::newRow("COM12") << "COM12"
                           << "/dev/ttyUSB7";
    QTest::newRow("COM13") << "COM13"
                           << "/dev/ttyACM0";
    QTest::newRow("COM20") << "COM20"
                           << "/dev/ttyACM7";
    // Not a port of the scan: passed on unchanged (and fails to open).
    QTest::newRow("COM21") << "COM21"
                           << "COM21";
    QTest::newRow("COM0") << "COM0"
                          << "COM0";
    QTest::newRow("COM01") << "COM01"
                           << "COM01";
    QTest::newRow("lower case") << "com3"
                                << "com3";
}

void TestModem::devicePathMapping()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    // Without an entry in the ports folder the built-in table applies. Only
    // the path is computed here: no real port is opened.
    QDir(sandbox->portsDir()).removeRecursively();
    QCOMPARE(Modem::devicePath(name), path);
}

void TestModem::devicePathFollowsPortsFolder()
{
    // The sandbox blocks all twenty names with links to nowhere: those links
    // are the devices, and they win over the built-in table.
    const QString entry = sandbox->portsDir() + QStringLiteral("/COM3");
    QCOMPARE(Modem::devicePath(QStringLiteral("COM3")), entry);
    QVERIFY(QFileInfo(entry).isSymLink());
    QVERIFY(!QFileInfo(entry).exists());

    // A plain file (no link) counts as an entry too.
    QFile::remove(sandbox->portsDir() + QStringLiteral("/COM7"));
    QFile plain(sandbox->portsDir() + QStringLiteral("/COM7"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QCOMPARE(Modem::devicePath(QStringLiteral("COM7")), plain.fileName());

    // A name without an entry falls back to the table.
    QFile::remove(sandbox->portsDir() + QStringLiteral("/COM14"));
    QCOMPARE(Modem::devicePath(QStringLiteral("COM14")), QStringLiteral("/dev/ttyACM1"));

    // A name never reaches outside the ports folder.
    QCOMPARE(Modem::devicePath(QStringLiteral("../ports/COM3")), QStringLiteral("../ports/COM3"));
}

void TestModem::reportsNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QStringList>("emitted");

    const QString q = QStringLiteral("?");
    QTest::newRow("present COM3") << "COM3" << true << true << QStringList{"COM3", q};
    QTest::newRow("present COM17") << "COM17" << true << true << QStringList{"COM17", q};
    QTest::newRow("blocked COM3") << "COM3" << false << false << QStringList{q, q};
    QTest::newRow("unknown name") << "NOPORT" << false << false << QStringList{q, q};
}

void TestModem::reportsNames()
{
    QFETCH(QString, name);
    QFETCH(bool, present);
    QFETCH(bool, opens);
    QFETCH(QStringList, emitted);

    std::unique_ptr<PtyMeter> meter;
    if (present) {
        meter = std::make_unique<PtyMeter>(*sandbox, name);
        QVERIFY(meter->isValid());
    }
    Modem modem;
    QSignalSpy spy(&modem, &Modem::setTtyText);
    QCOMPARE(modem.openPort(name), opens);
    QCOMPARE(modem.closePort(), true);
    QCOMPARE(texts(spy), emitted);
}

void TestModem::absentPortLeavesChannelClosed()
{
    Modem modem;
    QSignalSpy spy(&modem, &Modem::setTtyText);
    // Closing a channel that was never opened still reports "?".
    QVERIFY(modem.closePort());
    QCOMPARE(texts(spy), QStringList{"?"});

    // COM5 is a dangling link: the open fails, the channel stays closed.
    QVERIFY(!modem.openPort(QStringLiteral("COM5")));
    QVERIFY(!modem.writeString(QStringLiteral("#v;")));
    char buffer[8];
    QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);
    QVERIFY(modem.closePort());
    QCOMPARE(texts(spy), (QStringList{"?", "?", "?"}));
}

void TestModem::exclusiveOpen()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM2"));
    QVERIFY(meter.isValid());
    const ProgramEnd line(meter);
    const auto exclusiveFlag = [&line] {
        int exclusive = -1;
        return ::ioctl(line.handle(), TIOCGEXCL, &exclusive) == 0 ? exclusive : -1;
    };

    Modem first;
    Modem second;
    QSignalSpy secondSpy(&second, &Modem::setTtyText);
    QVERIFY(first.openPort(QStringLiteral("COM2")));
    // The terminal itself turns other openers away (for all but root) ...
    QCOMPARE(exclusiveFlag(), 1);
    // ... and the second channel is turned away, even as root.
    QVERIFY(!second.openPort(QStringLiteral("COM2")));
    QVERIFY(second.closePort());
    QCOMPARE(texts(secondSpy), (QStringList{"?", "?"}));

    // The first channel still works.
    QVERIFY(first.writeString(QStringLiteral("#o;")));
    QVERIFY(meter.waitForReceived("#o;"));

    // Once the first lets go, the second gets the port; the terminal is no
    // longer marked for exclusive use in between.
    QVERIFY(first.closePort());
    QCOMPARE(exclusiveFlag(), 0);
    QVERIFY(second.openPort(QStringLiteral("COM2")));
    QCOMPARE(texts(secondSpy).last(), QStringLiteral("COM2"));
    QVERIFY(second.writeString(QStringLiteral("#c;")));
    QVERIFY(meter.waitForReceived("#o;#c;"));

    // And a destroyed channel lets go of its port as well.
    {
        Modem third;
        QVERIFY(!third.openPort(QStringLiteral("COM2")));
        third.closePort();
    }
    second.closePort();
    {
        Modem fourth;
        QVERIFY(fourth.openPort(QStringLiteral("COM2")));
    }
    Modem fifth;
    QVERIFY(fifth.openPort(QStringLiteral("COM2")));
    fifth.closePort();
}

void TestModem::heldByAnotherProgram_data()
{
    QTest::addColumn<bool>("lock");
    QTest::addColumn<bool>("exclusive");

    // The two ways a program claims a terminal for itself; either keeps the
    // channel out, also when it runs as root.
    QTest::newRow("advisory lock") << true << false;
    QTest::newRow("exclusive terminal") << false << true;
    QTest::newRow("both") << true << true;
}

void TestModem::heldByAnotherProgram()
{
    QFETCH(bool, lock);
    QFETCH(bool, exclusive);

    PtyMeter meter(*sandbox, QStringLiteral("COM18"));
    QVERIFY(meter.isValid());
    auto holder = std::make_unique<ProgramEnd>(meter);
    QVERIFY(holder->handle() >= 0);
    if (lock)
        QCOMPARE(::flock(holder->handle(), LOCK_EX | LOCK_NB), 0);
    if (exclusive)
        QCOMPARE(::ioctl(holder->handle(), TIOCEXCL), 0);

    Modem modem;
    QSignalSpy spy(&modem, &Modem::setTtyText);
    const uint openFiles = QDir(QStringLiteral("/proc/self/fd")).count();
    QVERIFY(!modem.openPort(QStringLiteral("COM18")));
    QVERIFY(modem.closePort());
    QCOMPARE(texts(spy), (QStringList{"?", "?"}));
    QCOMPARE(modem.openFailureText(),
             QStringLiteral("COM18 ist von einem anderen Programm belegt"));
    // The refused attempt left nothing open behind.
    QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), openFiles);

    // The other program lets go.
    if (exclusive)
        QCOMPARE(::ioctl(holder->handle(), TIOCNXCL), 0);
    holder.reset();
    QVERIFY(modem.openPort(QStringLiteral("COM18")));
    QVERIFY(modem.closePort());
}

void TestModem::halfOpenHoldsUntilClosed_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::newRow("plain file") << false;
    QTest::newRow("named pipe") << true;
}

void TestModem::halfOpenHoldsUntilClosed()
{
    QFETCH(bool, fifo);
    // A device that opens but is no terminal: the configuration fails, the
    // channel reports "?" and keeps the device until closePort().
    const QString device = sandbox->root() + QStringLiteral("/not-a-terminal");
    const QByteArray path = QFile::encodeName(device);
    if (fifo) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else {
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(sandbox->link(QStringLiteral("COM19"), device));
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0);

    Modem modem;
    QSignalSpy spy(&modem, &Modem::setTtyText);
    QVERIFY(!modem.openPort(QStringLiteral("COM19")));
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), -1);
    // Writing to it anyway neither kills nor freezes the program.
    modem.writeString(QString(200000, QLatin1Char('w')));
    char buffer[8];
    QVERIFY(modem.readBytes(buffer, int(sizeof buffer)) >= 0);
    QVERIFY(modem.closePort());
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    QCOMPARE(texts(spy), (QStringList{"?", "?"}));
}

void TestModem::reopenAfterClose()
{
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    // The port scan opens and closes the same names again and again.
    PtyMeter meter(*sandbox, QStringLiteral("COM9"));
    QVERIFY(meter.isValid());
    Modem modem;
    for (int i = 0; i < 20; ++i) {
        QVERIFY(modem.openPort(QStringLiteral("COM9")));
        QVERIFY(modem.closePort());
    }
    // A failed open followed by a good one on the same channel.
    QVERIFY(!modem.openPort(QStringLiteral("COM8")));
    QVERIFY(modem.closePort());
    QVERIFY(modem.openPort(QStringLiteral("COM9")));
    QVERIFY(modem.writeString(QStringLiteral("#v;")));
    QVERIFY(meter.waitForReceived("#v;"));
    QVERIFY(modem.closePort());

    // The scan runs without end: nothing may be left behind by a cycle.
    const uint before = openFiles();
    for (int i = 0; i < 50; ++i) {
        modem.openPort(QStringLiteral("COM9"));
        modem.closePort();
        modem.openPort(QStringLiteral("COM8"));
        modem.closePort();
    }
    QCOMPARE(openFiles(), before);
}

void TestModem::lineSettings()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM1"));
    QVERIFY(meter.isValid());
    // Start from a cooked, slow, handshaking line, so that every setting has
    // to be made by the channel.
    const QByteArray path = QFile::encodeName(meter.devicePath());
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0);
    termios before{};
    QCOMPARE(::tcgetattr(fd, &before), 0);
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL | ISTRIP;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    before.c_cflag = (before.c_cflag & ~(CSIZE | CSTOPB)) | CS7 | PARENB | PARODD | CRTSCTS;
    before.c_cc[VMIN] = 1;
    before.c_cc[VTIME] = 5;
    ::cfsetispeed(&before, B115200);
    ::cfsetospeed(&before, B115200);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &before), 0);

    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM1")));

    termios tio{};
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(tio.c_cflag & CSTOPB);
    QVERIFY(!(tio.c_cflag & PARENB));
    QVERIFY(!(tio.c_cflag & CRTSCTS));
    QVERIFY(tio.c_cflag & CREAD);
    QVERIFY(tio.c_cflag & CLOCAL);
    QVERIFY(!(tio.c_iflag & (IXON | IXOFF | IXANY)));
    QVERIFY(!(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)));
    QVERIFY(!(tio.c_oflag & OPOST));
    QVERIFY(!(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)));
    QCOMPARE(int(tio.c_cc[VMIN]), 0);
    QCOMPARE(int(tio.c_cc[VTIME]), 0);

    // Raw in practice: CR, LF, NUL, XOFF and 8-bit bytes pass unchanged both
    // ways.
    const QByteArray bytes("\r\n\x00\x13\x11\x7f\xff\x80;", 9);
    QVERIFY(meter.send(bytes));
    QCOMPARE(readAtLeast(modem, bytes.size()), bytes);
    QVERIFY(modem.writeString(QStringLiteral("a\nb\r")));
    QVERIFY(meter.waitForReceived("a\nb\r"));
    QCOMPARE(meter.received(), QByteArray("a\nb\r"));
    modem.closePort();
}

void TestModem::readsWaitingBytesInSteps()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM4"));
    QVERIFY(meter.isValid());
    const ProgramEnd line(meter);
    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM4")));

    QVERIFY(meter.send("@a12;"));
    QVERIFY(line.waitForWaiting(5));
    char buffer[8] = {};
    QCOMPARE(modem.readBytes(buffer, 2), 2);
    QCOMPARE(QByteArray(buffer, 2), QByteArray("@a"));
    // The other three stayed with the driver for the next call.
    QCOMPARE(modem.readBytes(buffer, 8), 3);
    QCOMPARE(QByteArray(buffer, 3), QByteArray("12;"));
    QCOMPARE(modem.readBytes(buffer, 8), 0);
    // Nothing is taken with a count of 0.
    QVERIFY(meter.send("x"));
    QVERIFY(line.waitForWaiting(1));
    QCOMPARE(modem.readBytes(buffer, 0), 0);
    QCOMPARE(modem.readBytes(buffer, 8), 1);
    QCOMPARE(buffer[0], 'x');
    modem.closePort();
}

void TestModem::readNeverWaits()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM6"));
    QVERIFY(meter.isValid());
    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM6")));
    char buffer[1000];
    // A hundred polls of a silent line: not one of them waits for a byte.
    const long sleepsBefore = threadSleeps();
    for (int i = 0; i < 100; ++i)
        QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);
    const long sleeps = threadSleeps() - sleepsBefore;
    QVERIFY2(sleeps == 0, qPrintable(QStringLiteral("%1 of 100 polls waited").arg(sleeps)));
    modem.closePort();
}

void TestModem::writesExactBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("identify") << "#v;" << QByteArray("\x23\x76\x3b");
    QTest::newRow("open stream") << "#o;" << QByteArray("#o;");
    QTest::newRow("download") << "#d;" << QByteArray("#d;");
    QTest::newRow("close stream") << "#c;" << QByteArray("#c;");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("up to the NUL") << QString::fromLatin1("#v;\0#c;", 7) << QByteArray("#v;");
    QTest::newRow("starts with NUL") << QString::fromLatin1("\0#c;", 4) << QByteArray();
    QTest::newRow("long") << QString(5000, QLatin1Char('z')) << QByteArray(5000, 'z');
}

void TestModem::writesExactBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    PtyMeter meter(*sandbox, QStringLiteral("COM3"));
    QVERIFY(meter.isValid());
    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM3")));
    QVERIFY(modem.writeString(text));
    // A marker behind the text shows that everything before it has arrived.
    QVERIFY(modem.writeByte('!'));
    QVERIFY(meter.waitForReceived("!"));
    QCOMPARE(meter.received(), bytes + '!');
    modem.closePort();
}

void TestModem::writeByte()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM11"));
    QVERIFY(meter.isValid());
    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM11")));
    for (const char c : {'\x00', '#', '\xff', '\n'})
        QVERIFY(modem.writeByte(c));
    QVERIFY(QTest::qWaitFor([&] { return meter.received().size() >= 4; }, 2000));
    QCOMPARE(meter.received(), QByteArray("\x00#\xff\n", 4));
    modem.closePort();
}

void TestModem::closedChannel()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM3"));
    QVERIFY(meter.isValid());
    const ProgramEnd line(meter);
    Modem modem;
    char buffer[8];
    // Never opened.
    QVERIFY(!modem.writeString(QStringLiteral("#v;")));
    QVERIFY(!modem.writeByte('x'));
    QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);

    // Opened and closed again: bytes waiting on the line are not read.
    QVERIFY(modem.openPort(QStringLiteral("COM3")));
    QVERIFY(modem.closePort());
    QVERIFY(meter.send("@a1;"));
    QVERIFY(line.waitForWaiting(4));
    QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);
    QVERIFY(!modem.writeString(QStringLiteral("#c;")));
    QVERIFY(!modem.writeByte('x'));
    QTest::qWait(20);
    QCOMPARE(meter.received(), QByteArray());
}

void TestModem::slowReaderGetsEverything()
{
    // A write larger than the driver's queue: the channel waits while the
    // other end takes the bytes in small portions, and all of them arrive in
    // order. (A meter of our own here, read from a second thread.)
    int master = -1;
    int slave = -1;
    char path[256] = {};
    QCOMPARE(::openpty(&master, &slave, path, nullptr, nullptr), 0);
    termios tio{};
    QCOMPARE(::tcgetattr(slave, &tio), 0);
    ::cfmakeraw(&tio);
    QCOMPARE(::tcsetattr(slave, TCSANOW, &tio), 0);
    QVERIFY(sandbox->link(QStringLiteral("COM16"), QString::fromLocal8Bit(path)));

    QByteArray text(300000, Qt::Uninitialized);
    for (int i = 0; i < text.size(); ++i)
        text[i] = char('a' + i % 26);

    QByteArray got;
    std::thread reader([&] {
        char buffer[1024];
        while (got.size() < text.size()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                break;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
            ::usleep(200);
        }
    });
    Modem modem;
    const bool opened = modem.openPort(QStringLiteral("COM16"));
    const bool written = opened && modem.writeString(QString::fromLatin1(text));
    reader.join();
    modem.closePort();
    ::close(slave);
    ::close(master);
    QVERIFY(opened);
    QVERIFY(written);
    QCOMPARE(got.size(), text.size());
    QVERIFY(got == text);
}

void TestModem::stalledLineGivesUp()
{
    // The meter takes nothing (no event loop runs during the write, so nobody
    // drains its end): once the driver's queue is full the write must give
    // up and report failure instead of freezing the program.
    PtyMeter meter(*sandbox, QStringLiteral("COM15"));
    QVERIFY(meter.isValid());
    Modem modem;
    QVERIFY(modem.openPort(QStringLiteral("COM15")));
    // It gives up rather than waiting for ever (a hang ends the test run),
    // and it waits for the line asleep, a few times, never spinning.
    QElapsedTimer clock;
    clock.start();
    const long sleepsBefore = threadSleeps();
    QVERIFY(!modem.writeString(QString(1 << 20, QLatin1Char('s'))));
    const long sleeps = threadSleeps() - sleepsBefore;
    qInfo("stalled write given up after %lld ms and %ld sleeps", clock.elapsed(), sleeps);
    QVERIFY2(sleeps >= 1 && sleeps <= 64, qPrintable(QString::number(sleeps)));
    // What the driver took did arrive, and the line works again once the
    // meter reads.
    const int taken = meter.received().size();
    QVERIFY(taken > 0);
    QVERIFY(taken < (1 << 20));
    QVERIFY(modem.writeString(QStringLiteral("#c;")));
    QVERIFY(meter.waitForReceived("#c;"));
    QCOMPARE(meter.received().size(), taken + 3);
    modem.closePort();
}

void TestModem::vanishedDevice()
{
    PtyMeter meter(*sandbox, QStringLiteral("COM10"));
    QVERIFY(meter.isValid());
    const ProgramEnd line(meter);
    Modem modem;
    QSignalSpy spy(&modem, &Modem::setTtyText);
    QVERIFY(modem.openPort(QStringLiteral("COM10")));
    char buffer[16];
    // A silent line is no lost device, however long it stays silent; a
    // wait for bytes on it ends with its time.
    QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);
    QVERIFY(!modem.deviceLost());
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!modem.waitForReadyRead(200));
    QVERIFY(waited.elapsed() >= 199);
    QVERIFY(meter.send("@a"));
    QVERIFY(modem.waitForReadyRead(5000));
    QVERIFY(line.waitForWaiting(2));
    QVERIFY(!modem.deviceLost());

    meter.vanish();

    // The wait ends: the next read tells why.
    QVERIFY(modem.waitForReadyRead(5000));
    // Reads and writes on the lost device give up without waiting: the
    // window must not hang.
    const long sleepsBefore = threadSleeps();
    for (int i = 0; i < 10; ++i)
        QVERIFY(modem.readBytes(buffer, int(sizeof buffer)) >= 0);
    QCOMPARE(modem.readBytes(buffer, int(sizeof buffer)), 0);
    QVERIFY(modem.deviceLost());
    QVERIFY(!modem.writeString(QStringLiteral("#c;")));
    QVERIFY(!modem.writeByte('x'));
    QVERIFY(!modem.writeString(QString(8192, QLatin1Char('y'))));
    const long sleeps = threadSleeps() - sleepsBefore;
    QVERIFY2(sleeps == 0,
             qPrintable(QStringLiteral("waited %1 times on a lost device").arg(sleeps)));

    // The channel stays open until it is closed, then reports as usual.
    QVERIFY(modem.closePort());
    QVERIFY(!modem.deviceLost());
    QCOMPARE(texts(spy), (QStringList{"COM10", "?"}));
}

QTEST_MAIN(TestModem)
#include "tst_modem.moc"

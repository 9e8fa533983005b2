// The Windows serial layer, run for real: a Windows program built with
// MinGW-w64 (tests/win32/serialagent.cpp) drives it under Wine one command
// at a time, while this test holds the other end of every line. Wine leads
// the COM names to real pseudo-terminals through its own port mapping; every
// other name goes to a folder, which no port can be opened on, so that
// nothing here ever reaches one of the machine's serial ports.
//
// Where Wine does not do what Windows guarantees, the check runs only when
// the program says it runs on Windows, and the test says what Wine did:
// - a port opened with share mode 0 can be opened a second time;
// - GetProcessHandleCount always answers 0, so a handle left behind cannot
//   be counted (the test looks at which processes hold the device instead).
// A pseudo-terminal has no modem lines (DTR, RTS, DSR) and always 8 data
// bits without parity, so those settings cannot show on it.

#include "portssandbox.h"
#include "ptymeter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

#ifdef __linux__
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#ifndef TAVROLD_WIN32_AGENT
#define TAVROLD_WIN32_AGENT ""
#endif
#ifndef TAVROLD_WINE
#define TAVROLD_WINE ""
#endif

#ifdef __linux__

namespace {

// The line names the test serves: COM3 for most cases, COM12 for a name
// above COM9, COM5 for a meter that goes away. Everything else is blocked.
const QString MainPort = QStringLiteral("COM3");
const QString HighPort = QStringLiteral("COM12");
const QString LostPort = QStringLiteral("COM5");

// How long one command may take before the program counts as hung (a read
// that waits for ever, say). Generous: the machine may be loaded.
constexpr int AnswerMs = 20000;

QString findTool(const QString &configured, const QStringList &names, const QStringList &more)
{
    if (!configured.isEmpty() && QFileInfo(configured).isExecutable())
        return configured;
    for (const QString &name : names) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    for (const QString &path : more)
        if (QFileInfo(path).isExecutable())
            return path;
    return QString();
}

// The processes other than this one that hold `path` open.
QList<qint64> holders(const QString &path)
{
    QList<qint64> pids;
    const QString self = QString::number(::getpid());
    const QFileInfo target(path);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || entry == self)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(entry));
        for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == target.absoluteFilePath()) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

// Processor time (user and system, all threads) a process has used, in
// clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The name in parentheses may hold spaces: count fields after it.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields.at(11).toLongLong() + fields.at(12).toLongLong();
}

// A handle of the test's own on the program's end of a line, to look at
// its settings and at what waits in its input queue, without taking bytes.
class LineEnd
{
public:
    explicit LineEnd(const PtyMeter &meter)
        : fd(::open(QFile::encodeName(meter.devicePath()).constData(),
                    O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~LineEnd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    LineEnd(const LineEnd &) = delete;
    LineEnd &operator=(const LineEnd &) = delete;

    bool settings(termios &tio) const { return fd >= 0 && ::tcgetattr(fd, &tio) == 0; }
    bool setSettings(const termios &tio) const
    {
        return fd >= 0 && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    int waiting() const
    {
        int count = 0;
        return fd >= 0 && ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
    }
    bool waitForWaiting(int count) const
    {
        return QTest::qWaitFor([&] { return waiting() >= count; }, 5000);
    }

private:
    int fd;
};

// One answer of the program, split into words; "key=value" words can be
// looked up by key.
struct Answer
{
    QStringList words;

    QString word(int i) const { return words.value(i); }
    qint64 number(const QString &key) const
    {
        for (const QString &w : words)
            if (w.startsWith(key + QLatin1Char('=')))
                return w.mid(key.size() + 1).toLongLong();
        return -1;
    }
};

struct ReadResult
{
    bool answered = false;
    int count = -1;
    QByteArray bytes;
    bool gone = false;
    qint64 error = -1;
    qint64 us = -1;
};

} // namespace

class TestWin32Serial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void opensMappedNamesOnly_data();
    void opensMappedNamesOnly();
    void lineSettings_data();
    void lineSettings();
    void writesExactBytes_data();
    void writesExactBytes();
    void readWithNothingWaitingReturnsAtOnce();
    void readsWaitingBytesInSteps();
    void streamInRandomPieces();
    void highNameUsesDeviceNamespace();
    void closeReleasesPort();
    void secondOpenOfHeldPort();
    void waitReadable();
    void lostDevice();

private:
    // Wine and the prefix (set up by tests/win32/wineprefix.sh).
    bool runPrefixScript(const QStringList &options, int timeoutMs, QString *output);
    bool runServer(const QString &option, int timeoutMs);
    QProcessEnvironment wineEnvironment() const;
    QString mappingProblem();
    QString logTail() const;

    // The program.
    Answer ask(const QString &line);
    bool openPort(int slot, const QString &name);
    bool configure(int slot);
    bool openLine(int slot, const QString &name);
    void closePort(int slot);
    long writeBytes(int slot, const QByteArray &bytes);
    ReadResult readBytes(int slot, int maxCount);
    QByteArray readAll(int slot, int count);
    void drain(int slot);
    qint64 handleCount();
    bool onWindows() const { return !where.startsWith(QLatin1String("wine")); }

    PtyMeter &meter(const QString &name) { return *meters.value(name); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<PortsSandbox> sandbox;
    QHash<QString, PtyMeter *> meters;
    QString wine;
    QString wineserver;
    QString prefix;
    QString blocked;
    QString log;
    QProcess agent;
    bool agentGone = true;
    QString where;
};

// Runs tests/win32/wineprefix.sh on this test's prefix and lines: sets the
// prefix up, or (with --check) tells whether every COM name leads where it
// should. False when it fails; what it said goes to output.
bool TestWin32Serial::runPrefixScript(const QStringList &options, int timeoutMs, QString *output)
{
    QStringList arguments{QStringLiteral(TAVROLD_SOURCE_DIR "/tests/win32/wineprefix.sh")};
    arguments << options << prefix << blocked;
    for (auto it = meters.cbegin(); it != meters.cend(); ++it)
        arguments << it.key() + QLatin1Char('=') + it.value()->devicePath();
    QProcessEnvironment env = wineEnvironment();
    env.insert(QStringLiteral("WINE"), wine);
    // Into a file, not a pipe: Wine's helper processes outlive the command
    // and would hold a pipe open.
    const QString said = dir->filePath(QStringLiteral("wineprefix.log"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(said);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("bash"), arguments);
    const bool ended = process.waitForFinished(timeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    QFile file(said);
    *output = file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed()
                                             : QString();
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool TestWin32Serial::runServer(const QString &option, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(wineEnvironment());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    process.start(wineserver, {option});
    if (process.waitForFinished(timeoutMs))
        return true;
    process.kill();
    process.waitForFinished(5000);
    return false;
}

QProcessEnvironment TestWin32Serial::wineEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix);
    env.insert(QStringLiteral("WINEARCH"), QStringLiteral("win64"));
    // Quiet, no display, and no offer to install Mono or Gecko, no menu
    // entries: a console program needs none of it.
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"),
               QStringLiteral("mscoree,mshtml=;winemenubuilder.exe=d"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

// Empty when every one of COM1 to COM20 leads where this test put it, else
// what does not.
QString TestWin32Serial::mappingProblem()
{
    QString output;
    if (runPrefixScript({QStringLiteral("--check")}, 30000, &output))
        return QString();
    return output.isEmpty() ? QStringLiteral("the check did not end") : output;
}

QString TestWin32Serial::logTail() const
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray all = file.readAll();
    return QStringLiteral("\nWine said:\n") + QString::fromLocal8Bit(all.right(2000));
}

void TestWin32Serial::initTestCase()
{
    const QString agentPath = QStringLiteral(TAVROLD_WIN32_AGENT);
    QVERIFY2(!agentPath.isEmpty(),
             "The Windows test program was not built: no MinGW-w64 compiler "
             "(x86_64-w64-mingw32-g++, Debian package g++-mingw-w64-x86-64) was found when "
             "the build was configured. Install it (scripts/test.sh does) and configure again.");
    QVERIFY2(QFileInfo(agentPath).isFile(), qPrintable(agentPath + QStringLiteral(" is missing")));
    wine =
        findTool(QStringLiteral(TAVROLD_WINE), {QStringLiteral("wine"), QStringLiteral("wine64")},
                 {QStringLiteral("/usr/lib/wine/wine64")});
    QVERIFY2(!wine.isEmpty(), "Wine is not installed (Debian packages wine and wine64; "
                              "scripts/test.sh installs them).");
    wineserver = findTool(
        QString(), {QStringLiteral("wineserver")},
        {QStringLiteral("/usr/lib/wine/wineserver64"), QStringLiteral("/usr/lib/wine/wineserver")});
    QVERIFY2(!wineserver.isEmpty(), "Wine's wineserver is not installed.");

    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    prefix = dir->filePath(QStringLiteral("prefix"));
    blocked = dir->filePath(QStringLiteral("no-port-here"));
    log = dir->filePath(QStringLiteral("wine.log"));
    QVERIFY(QDir().mkpath(blocked));

    sandbox = std::make_unique<PortsSandbox>();
    for (const QString &name : {MainPort, HighPort, LostPort}) {
        auto *m = new PtyMeter(*sandbox, name);
        QVERIFY2(m->isValid(), "no pseudo-terminal");
        meters.insert(name, m);
    }

    QElapsedTimer clock;
    clock.start();
    QString said;
    QVERIFY2(runPrefixScript({}, 300000, &said),
             qPrintable(QStringLiteral("Wine could not set up its prefix:\n") + said));
    qInfo("%s", qPrintable(said.section(QLatin1Char('\n'), -1)));
    const qint64 prefixMs = clock.restart();

    agent.setProcessEnvironment(wineEnvironment());
    agent.setWorkingDirectory(dir->path());
    agent.setProcessChannelMode(QProcess::SeparateChannels);
    agent.setStandardErrorFile(log, QIODevice::Append);
    agent.start(wine, {agentPath});
    QVERIFY2(agent.waitForStarted(30000), "Wine did not start");
    agentGone = false;
    const Answer ready = ask(QString());
    QVERIFY2(ready.word(0) == QLatin1String("ready"),
             qPrintable(QStringLiteral("the program did not start under Wine") + logTail()));
    const qint64 startMs = clock.restart();

    // Nothing is opened before every name leads where it should.
    QString problem;
    const bool mapped = QTest::qWaitFor(
        [&] {
            problem = mappingProblem();
            return problem.isEmpty();
        },
        60000);
    if (!mapped) {
        agent.kill();
        agentGone = true;
        QFAIL(qPrintable(QStringLiteral("Wine's COM names are not all the test's: ") + problem));
    }

    const Answer whereAnswer = ask(QStringLiteral("where"));
    where = whereAnswer.words.mid(1).join(QLatin1Char(' '));
    QVERIFY(!where.isEmpty());
    qInfo("%s: prefix and COM names %lld ms, program start %lld ms", qPrintable(where), prefixMs,
          startMs);
}

void TestWin32Serial::cleanupTestCase()
{
    if (!agentGone) {
        ask(QStringLiteral("quit"));
        if (!agent.waitForFinished(10000))
            agent.kill();
    }
    agent.waitForFinished(5000);
    if (!wineserver.isEmpty() && !prefix.isEmpty() && QFileInfo::exists(prefix)) {
        runServer(QStringLiteral("-k"), 30000);
        runServer(QStringLiteral("-w"), 30000);
    }
    qDeleteAll(meters);
    meters.clear();
    sandbox.reset();
    dir.reset();
}

Answer TestWin32Serial::ask(const QString &line)
{
    if (agentGone)
        return {};
    if (!line.isEmpty()) {
        agent.write(line.toLatin1() + '\n');
        agent.waitForBytesWritten(AnswerMs);
    }
    QElapsedTimer clock;
    clock.start();
    while (!agent.canReadLine()) {
        if (agent.state() != QProcess::Running || clock.elapsed() > AnswerMs) {
            qWarning("no answer to \"%s\" within %d ms%s", qPrintable(line), AnswerMs,
                     qPrintable(logTail()));
            agent.kill();
            agentGone = true;
            return {};
        }
        agent.waitForReadyRead(100);
    }
    const QString text = QString::fromLatin1(agent.readLine()).trimmed();
    return {text.split(QLatin1Char(' '), Qt::SkipEmptyParts)};
}

bool TestWin32Serial::openPort(int slot, const QString &name)
{
    return ask(QStringLiteral("open %1 %2").arg(slot).arg(name)).word(1) == QLatin1String("ok");
}

bool TestWin32Serial::configure(int slot)
{
    return ask(QStringLiteral("configure %1").arg(slot)).word(1) == QLatin1String("ok");
}

// Opens and configures a port as the program does, and takes whatever an
// earlier case left on its line.
bool TestWin32Serial::openLine(int slot, const QString &name)
{
    if (!openPort(slot, name) || !configure(slot))
        return false;
    drain(slot);
    return true;
}

void TestWin32Serial::closePort(int slot)
{
    ask(QStringLiteral("close %1").arg(slot));
}

long TestWin32Serial::writeBytes(int slot, const QByteArray &bytes)
{
    const Answer a =
        ask(QStringLiteral("write %1 %2").arg(slot).arg(QString::fromLatin1(bytes.toHex())));
    bool ok = false;
    const long written = a.word(1).toLong(&ok);
    return a.word(0) == QLatin1String("write") && ok ? written : -2;
}

ReadResult TestWin32Serial::readBytes(int slot, int maxCount)
{
    const Answer a = ask(QStringLiteral("read %1 %2").arg(slot).arg(maxCount));
    ReadResult r;
    if (a.word(0) != QLatin1String("read"))
        return r;
    r.answered = true;
    r.count = a.word(1).toInt();
    if (a.word(2) != QLatin1String("-"))
        r.bytes = QByteArray::fromHex(a.word(2).toLatin1());
    r.gone = a.number(QStringLiteral("gone")) == 1;
    r.error = a.number(QStringLiteral("error"));
    r.us = a.number(QStringLiteral("us"));
    return r;
}

// Reads until `count` bytes have come (the line passes bytes on
// asynchronously) or ten seconds have passed.
QByteArray TestWin32Serial::readAll(int slot, int count)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < 10000 && !agentGone) {
        const ReadResult r = readBytes(slot, 4096);
        got += r.bytes;
        if (r.count == 0)
            QTest::qWait(5);
    }
    return got;
}

// Takes whatever an earlier case left on the line.
void TestWin32Serial::drain(int slot)
{
    for (int quiet = 0; quiet < 2 && !agentGone;) {
        if (readBytes(slot, 4096).count > 0) {
            quiet = 0;
        } else {
            ++quiet;
            QTest::qWait(20);
        }
    }
}

qint64 TestWin32Serial::handleCount()
{
    return ask(QStringLiteral("handles")).word(1).toLongLong();
}

void TestWin32Serial::opensMappedNamesOnly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opens");
    QTest::newRow("COM3 leads to a line") << MainPort << true;
    QTest::newRow("COM1, blocked") << QStringLiteral("COM1") << false;
    QTest::newRow("COM7, blocked") << QStringLiteral("COM7") << false;
    QTest::newRow("COM20, blocked") << QStringLiteral("COM20") << false;
}

void TestWin32Serial::opensMappedNamesOnly()
{
    QFETCH(QString, name);
    QFETCH(bool, opens);
    const qint64 handlesBefore = handleCount();
    const Answer answer = ask(QStringLiteral("open 0 %1").arg(name));
    QCOMPARE(answer.word(1) == QLatin1String("ok"), opens);
    if (opens) {
        QVERIFY(configure(0));
        QVERIFY(!holders(meter(name).devicePath()).isEmpty());
        closePort(0);
        return;
    }
    // The reason the layer gives follows the system's error: "access denied"
    // is a port another program holds, "not found" one that is not there.
    const QString error = answer.word(3);
    const QString reason = error == QLatin1String("5")                                  ? "inuse"
                           : error == QLatin1String("2") || error == QLatin1String("3") ? "missing"
                                                                                        : "other";
    QVERIFY2(answer.word(4) == reason, qPrintable(answer.words.join(QLatin1Char(' '))));
    // A failed open keeps nothing: the layer handed out no handle (the
    // program's slot refuses to be configured), and nobody holds the path.
    QVERIFY(!configure(0));
    QVERIFY(holders(blocked).isEmpty());
    if (onWindows())
        QCOMPARE(handleCount(), handlesBefore);
}

namespace {

enum Setting {
    Speed,
    DataBits,
    NoParity,
    TwoStopBits,
    NoHardwareHandshake,
    NoSoftwareHandshake,
    RawInputEditing,
    RawInputBytes,
    RawOutput,
    Receiver
};

bool settingHolds(Setting setting, const termios &t)
{
    switch (setting) {
    case Speed:
        return cfgetispeed(&t) == B9600 && cfgetospeed(&t) == B9600;
    case DataBits:
        return (t.c_cflag & CSIZE) == CS8;
    case NoParity:
        // A pseudo-terminal drops PARENB but keeps PARODD: odd parity shows.
        return !(t.c_cflag & (PARENB | PARODD | CMSPAR));
    case TwoStopBits:
        return (t.c_cflag & CSTOPB) != 0;
    case NoHardwareHandshake:
        return !(t.c_cflag & CRTSCTS);
    case NoSoftwareHandshake:
        return !(t.c_iflag & (IXON | IXOFF | IXANY));
    case RawInputEditing:
        return !(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    case RawInputBytes:
        return !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK));
    case RawOutput:
        return !(t.c_oflag & OPOST);
    case Receiver:
        return (t.c_cflag & CREAD) && (t.c_cflag & CLOCAL);
    }
    return false;
}

// Everything the layer must set, set otherwise: the settings it leaves alone
// show.
void spoil(termios &t)
{
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag = (t.c_cflag & ~(CSIZE | CSTOPB | CLOCAL | CREAD)) | CS7 | PARENB | PARODD | CRTSCTS;
    t.c_iflag |= IXON | IXOFF | ICRNL | INLCR | ISTRIP | INPCK;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    t.c_oflag |= OPOST | ONLCR;
}

} // namespace

void TestWin32Serial::lineSettings_data()
{
    QTest::addColumn<int>("setting");
    QTest::newRow("9600 baud") << int(Speed);
    QTest::newRow("8 data bits") << int(DataBits);
    QTest::newRow("no parity") << int(NoParity);
    QTest::newRow("2 stop bits") << int(TwoStopBits);
    QTest::newRow("no RTS/CTS handshake") << int(NoHardwareHandshake);
    QTest::newRow("no XON/XOFF handshake") << int(NoSoftwareHandshake);
    QTest::newRow("no line editing, echo or signals") << int(RawInputEditing);
    QTest::newRow("received bytes unchanged") << int(RawInputBytes);
    QTest::newRow("sent bytes unchanged") << int(RawOutput);
    QTest::newRow("receiver on, modem lines ignored") << int(Receiver);
}

void TestWin32Serial::lineSettings()
{
    QFETCH(int, setting);
    const LineEnd line(meter(MainPort));
    termios before{};
    QVERIFY(line.settings(before));
    spoil(before);
    // A pseudo-terminal keeps 8 data bits, no parity bit and its receiver on
    // whatever it is told (and says so with EINVAL): set what it takes.
    line.setSettings(before);
    QVERIFY(line.settings(before));
    if (settingHolds(Setting(setting), before))
        QSKIP("a pseudo-terminal always has this setting, so it cannot show here (a layer that "
              "asks for another fails its set-up on the pseudo-terminal, which the other cases "
              "notice)");

    QVERIFY(openPort(0, MainPort));
    QVERIFY(configure(0));
    termios after{};
    QVERIFY(line.settings(after));
    closePort(0);
    QVERIFY2(settingHolds(Setting(setting), after),
             qPrintable(QStringLiteral("c_iflag %1 c_oflag %2 c_cflag %3 c_lflag %4")
                            .arg(after.c_iflag, 0, 16)
                            .arg(after.c_oflag, 0, 16)
                            .arg(after.c_cflag, 0, 16)
                            .arg(after.c_lflag, 0, 16)));
}

void TestWin32Serial::writesExactBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray every;
    for (int i = 0; i < 256; ++i)
        every += char(i);
    QTest::newRow("the probe") << QByteArray("#v;");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("line ends and NUL") << QByteArray("\r\n\0\n\r", 5);
    QTest::newRow("every byte value") << every;
}

void TestWin32Serial::writesExactBytes()
{
    QFETCH(QByteArray, bytes);
    PtyMeter &m = meter(MainPort);
    QVERIFY(openPort(0, MainPort));
    QVERIFY(configure(0));
    m.clearReceived();
    QCOMPARE(writeBytes(0, bytes), long(bytes.size()));
    // A byte written after them shows that nothing else came before it.
    QCOMPARE(writeBytes(0, "!"), 1L);
    const QByteArray expected = bytes + '!';
    QVERIFY(QTest::qWaitFor([&] { return m.received().size() >= expected.size(); }, 5000));
    QTest::qWait(20);
    QCOMPARE(m.received().toHex(), expected.toHex());
    closePort(0);
}

void TestWin32Serial::readWithNothingWaitingReturnsAtOnce()
{
    QVERIFY(openLine(0, MainPort));
    // The port's read time-outs: an interval of MAXDWORD with no total time
    // makes a read return at once with what has come, even nothing.
    QCOMPARE(ask(QStringLiteral("timeouts 0")).words,
             (QStringList{"timeouts", "4294967295", "0", "0"}));
    QList<qint64> times;
    for (int i = 0; i < 20; ++i) {
        const ReadResult r = readBytes(0, 1000);
        QVERIFY(r.answered);
        QCOMPARE(r.count, 0);
        // A silent line is there all the same.
        QVERIFY(!r.gone);
        times << r.us;
    }
    closePort(0);
    std::sort(times.begin(), times.end());
    qInfo("a read with nothing waiting: fastest %lld us, median %lld us, slowest %lld us",
          times.first(), times.at(times.size() / 2), times.last());
}

void TestWin32Serial::readsWaitingBytesInSteps()
{
    PtyMeter &m = meter(MainPort);
    const LineEnd line(m);
    QVERIFY(openLine(0, MainPort));
    QVERIFY(m.send("abcde"));
    QVERIFY(line.waitForWaiting(5));
    ReadResult r = readBytes(0, 2);
    QCOMPARE(r.count, 2);
    QCOMPARE(r.bytes, QByteArray("ab"));
    r = readBytes(0, 10);
    QCOMPARE(r.count, 3);
    QCOMPARE(r.bytes, QByteArray("cde"));
    r = readBytes(0, 10);
    QCOMPARE(r.count, 0);

    // Emptying the input throws away what waits, and only that.
    QVERIFY(m.send("fgh"));
    QVERIFY(line.waitForWaiting(3));
    QCOMPARE(ask(QStringLiteral("discard 0")).word(0), QStringLiteral("discard"));
    QCOMPARE(readBytes(0, 10).count, 0);
    QVERIFY(m.send("ij"));
    QCOMPARE(readAll(0, 2), QByteArray("ij"));
    closePort(0);
}

void TestWin32Serial::streamInRandomPieces()
{
    PtyMeter &m = meter(MainPort);
    QVERIFY(openLine(0, MainPort));

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    QByteArray stream(10240, Qt::Uninitialized);
    for (char &c : stream)
        c = char(random.bounded(256));
    // A hundred pieces, cut at random places.
    QList<int> cuts{0, int(stream.size())};
    while (cuts.size() < 101) {
        const int cut = random.bounded(1, int(stream.size()));
        if (!cuts.contains(cut))
            cuts << cut;
    }
    std::sort(cuts.begin(), cuts.end());

    QByteArray got;
    for (int i = 0; i + 1 < cuts.size(); ++i) {
        QVERIFY(m.send(stream.mid(cuts.at(i), cuts.at(i + 1) - cuts.at(i))));
        const int maxCount = random.bounded(1, 257);
        const ReadResult r = readBytes(0, maxCount);
        QVERIFY(r.answered);
        QVERIFY(r.count >= 0 && r.count <= maxCount);
        QCOMPARE(r.bytes.size(), r.count);
        got += r.bytes;
    }
    got += readAll(0, int(stream.size() - got.size()));
    closePort(0);

    const auto diff = std::mismatch(got.cbegin(), got.cend(), stream.cbegin(), stream.cend());
    QVERIFY2(got == stream,
             qPrintable(QStringLiteral("seed %1: %2 of %3 bytes, first difference at %4")
                            .arg(seed)
                            .arg(got.size())
                            .arg(stream.size())
                            .arg(diff.first - got.cbegin())));
}

void TestWin32Serial::highNameUsesDeviceNamespace()
{
    PtyMeter &m = meter(HighPort);
    const Answer opened = ask(QStringLiteral("open 2 ") + HighPort);
    QCOMPARE(opened.word(1), QStringLiteral("ok"));
    QCOMPARE(opened.word(2), QStringLiteral("\\\\.\\") + HighPort);
    QVERIFY(configure(2));
    m.clearReceived();
    QCOMPARE(writeBytes(2, "#v;"), 3L);
    QVERIFY(m.waitForReceived("#v;"));
    QVERIFY(m.send("M\x15"));
    QCOMPARE(readAll(2, 2), QByteArray("M\x15"));
    closePort(2);

    // Without the prefix the name is a file name in the working folder:
    // the rule is what makes the port reachable.
    QCOMPARE(ask(QStringLiteral("openpath 3 ") + HighPort).word(1), QStringLiteral("fail"));
}

void TestWin32Serial::closeReleasesPort()
{
    PtyMeter &m = meter(MainPort);
    const qint64 handlesBefore = handleCount();
    QVERIFY(openPort(0, MainPort));
    QVERIFY(configure(0));
    QVERIFY2(!holders(m.devicePath()).isEmpty(), "no process holds the open port");
    closePort(0);
    QVERIFY2(QTest::qWaitFor([&] { return holders(m.devicePath()).isEmpty(); }, 5000),
             "the port is still held after close");
    if (onWindows())
        QCOMPARE(handleCount(), handlesBefore);

    QVERIFY(openPort(0, MainPort));
    QVERIFY(configure(0));
    m.clearReceived();
    QCOMPARE(writeBytes(0, "#o;"), 3L);
    QVERIFY(m.waitForReceived("#o;"));
    closePort(0);
}

void TestWin32Serial::secondOpenOfHeldPort()
{
    QVERIFY(openPort(0, MainPort));
    const bool second = openPort(1, MainPort);
    closePort(1);
    closePort(0);
    if (onWindows()) {
        QVERIFY2(!second, "a port held with share mode 0 opened a second time");
    } else {
        // Wine keeps no share mode for serial devices.
        qInfo("%s: a second open of a held port %s", qPrintable(where),
              second ? "succeeds (Windows refuses it)" : "fails, as on Windows");
    }
}

void TestWin32Serial::waitReadable()
{
    PtyMeter &m = meter(MainPort);
    const LineEnd line(m);
    QVERIFY(openLine(0, MainPort));

    // Nothing comes: false once the time is up, and the processor is left
    // alone meanwhile.
    const qint64 pid = agent.processId();
    const qint64 ticksBefore = cpuTicks(pid);
    QElapsedTimer clock;
    clock.start();
    Answer a = ask(QStringLiteral("wait 0 500"));
    const qint64 wallMs = clock.elapsed();
    const qint64 ticks = cpuTicks(pid) - ticksBefore;
    QCOMPARE(a.word(1), QStringLiteral("0"));
    // The system tick may end the wait up to one tick (16 ms on Windows)
    // early.
    QVERIFY2(a.number(QStringLiteral("us")) >= (500 - 16) * 1000,
             qPrintable(a.words.join(QLatin1Char(' '))));
    QVERIFY(ticksBefore >= 0 && ticks >= 0);
    const qint64 cpuMs = ticks * 1000 / ::sysconf(_SC_CLK_TCK);
    qInfo("a wait of 500 ms with nothing coming used %lld ms of processor time in %lld ms", cpuMs,
          wallMs);
    QVERIFY2(cpuMs * 4 < wallMs, "the wait keeps the processor busy");

    // Bytes already waiting: at once.
    QVERIFY(m.send("x"));
    QVERIFY(line.waitForWaiting(1));
    a = ask(QStringLiteral("wait 0 10000"));
    QCOMPARE(a.word(1), QStringLiteral("1"));
    QCOMPARE(readAll(0, 1), QByteArray("x"));

    // Bytes that come while it waits end the wait.
    agent.write("wait 0 10000\n");
    QTest::qWait(200);
    QVERIFY(m.send("y"));
    a = ask(QString());
    QCOMPARE(a.word(0), QStringLiteral("wait"));
    QCOMPARE(a.word(1), QStringLiteral("1"));
    qInfo("a wait for bytes that came after about 200 ms took %lld ms",
          a.number(QStringLiteral("us")) / 1000);
    QCOMPARE(readAll(0, 1), QByteArray("y"));
    closePort(0);
}

void TestWin32Serial::lostDevice()
{
    PtyMeter &m = meter(LostPort);
    QVERIFY(openPort(4, LostPort));
    QVERIFY(configure(4));
    ReadResult r = readBytes(4, 100);
    QCOMPARE(r.count, 0);
    QVERIFY2(!r.gone, "a silent line read as gone");

    // The meter's end of the line closes.
    m.vanish();
    const Answer woke = ask(QStringLiteral("wait 4 10000"));
    QCOMPARE(woke.word(1), QStringLiteral("1"));
    r = readBytes(4, 100);
    QCOMPARE(r.count, 0);
    qInfo("%s: a read after the other end closed gives nothing, last error %lld", qPrintable(where),
          r.error);
    QVERIFY2(r.gone, "the read after the other end closed does not tell the device has gone");
    QVERIFY(writeBytes(4, "#v;") < 3);
    closePort(4);
}

#else

class TestWin32Serial : public QObject
{
    Q_OBJECT

private slots:
    void underWine() { QSKIP("runs on Linux, with Wine and pseudo-terminals"); }
};

#endif

QTEST_GUILESS_MAIN(TestWin32Serial)
#include "tst_win32serial.moc"

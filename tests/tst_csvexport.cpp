// "&Speichern": the save dialog as the user meets it, the bytes of the file
// it writes, and the remembered path ("pfad") after a save, a cancel and a
// failure. The real file dialog is driven: a name is typed into it and it is
// accepted, or it is cancelled.

#include "identity.h"
#include "filecontents.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "printfformat.h"
#include "recordformat.h"
#include "savedialogdriver.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QTimer>

#include <clocale>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using Access = MainWindowTestAccess;
using FileContents::contents;
using FileContents::writeFile;

namespace {

const QString Key = QStringLiteral("pfad");

QVariant storedPath()
{
    return QSettings(Identity::Organisation, Identity::Application).value(Key);
}

void setStoredPath(const QVariant &path)
{
    QSettings settings(Identity::Organisation, Identity::Application);
    if (path.isValid())
        settings.setValue(Key, path);
    else
        settings.remove(Key);
}

// A file-size limit for this process: writes past `bytes` fail (EFBIG)
// instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift()
    {
        if (active)
            ::setrlimit(RLIMIT_FSIZE, &old);
        active = false;
        if (oldHandler != SIG_ERR) {
            std::signal(SIGXFSZ, oldHandler);
            oldHandler = SIG_ERR;
        }
    }
    bool active = false;

private:
    rlimit old{};
    void (*oldHandler)(int) = SIG_ERR;
};

// The lines the file must hold, made with printf-style formatting.
QByteArray expectedFile(const QTime &start, int interval, const QList<int> &values, int lines)
{
    QByteArray bytes = "Datensatz;Zeit;RMS;PEP\r\n";
    QTime t = start;
    for (int i = 0; i < lines; ++i) {
        t = t.addSecs(interval);
        const int rms = 2 * i + 1 < values.size() ? values.at(2 * i) : 0;
        const int pep = 2 * i + 1 < values.size() ? values.at(2 * i + 1) : 0;
        bytes += PrintfFormat::csvLine(i + 1, t, rms, pep);
    }
    return bytes;
}

} // namespace

class TestCsvExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void fileBytes_data();
    void fileBytes();
    void decimalCommaLocale();
    void decimalCommaType_data();
    void decimalCommaType();
    void startLocation_data();
    void startLocation();
    void outcomes_data();
    void outcomes();
    void exportDuringDownload();
    void startTimeChangedAfterListing();
    void writeTargets_data();
    void writeTargets();

private:
    // Saves through the "&Speichern" action, answering its dialog.
    DialogSeen save(const QString &typedName, std::function<void()> whileOpen = {},
                    const QString &type = QString())
    {
        DialogDriver driver(typedName, std::move(whileOpen));
        driver.chooseType = type;
        QAction *action = window->findChild<QAction *>("action_Speichern");
        if (!action->isEnabled())
            qWarning("the save action is disabled");
        action->trigger();
        return driver.seen;
    }

    PortsSandbox *sandbox = nullptr;
    MainWindow *window = nullptr;
    QTemporaryDir *dir = nullptr;
};

void TestCsvExport::initTestCase()
{
    // Before any settings are touched, so that they live in the sandbox.
    sandbox = new PortsSandbox;
    const QString settingsFile =
        QSettings(Identity::Organisation, Identity::Application).fileName();
    QVERIFY2(settingsFile.startsWith(sandbox->configDir()), qPrintable(settingsFile));
}

void TestCsvExport::cleanupTestCase()
{
    delete sandbox;
    sandbox = nullptr;
}

void TestCsvExport::init()
{
    setStoredPath(QVariant());
    QSettings(Identity::Organisation, Identity::Application).remove(QStringLiteral("dezimalkomma"));
    dir = new QTemporaryDir;
    window = new MainWindow;
    Access::meterFound(*window);
    window->findChild<QTimeEdit *>("timeEdit")->setTime(QTime(12, 0));
    // A first listing enables the save action.
    Access::requestDownload(*window);
    Access::storeHeader(*window, QStringLiteral("1*10"));
    Access::storeDataSet(*window, QStringLiteral("-1234*-1000"));
    Access::storeDataSet(*window, QStringLiteral("-1200*-990"));
}

void TestCsvExport::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
    QLocale::setDefault(QLocale::c());
}

void TestCsvExport::fileBytes_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("lastIndex");
    QTest::addColumn<QList<int>>("values"); // rms, pep, rms, pep ...
    QTest::addColumn<QString>("name");      // as typed; used as it is
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("two data sets")
        << QTime(12, 0) << 10 << 1 << QList<int>{-1234, -1000, -1200, -990} << "out.csv"
        << QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                      "    1;12:00:10;-12.34;-10.00\r\n"
                      "    2;12:00:20;-12.00;-9.90\r\n");
    QTest::newRow("one data set") << QTime(0, 0) << 1 << 0 << QList<int>{550, 0} << "one.csv"
                                  << QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                                "    1;00:00:01;5.50;0.00\r\n");
    QTest::newRow("negative last index") << QTime(12, 0) << 10 << -5 << QList<int>{1, 1}
                                         << "none.csv" << QByteArray("Datensatz;Zeit;RMS;PEP\r\n");
    QTest::newRow("no suffix added") << QTime(12, 0) << 0 << 0 << QList<int>{1, 2} << "daten"
                                     << QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                                   "    1;12:00:00;0.01;0.02\r\n");
    QList<int> zeros(2 * 16000, 0);
    zeros[0] = 17;
    zeros[2 * 15999] = -42;
    QTest::newRow("beyond the store") << QTime(6, 0) << 3 << 25000 << zeros << "full.csv"
                                      << expectedFile(QTime(6, 0), 3, zeros, 16000);
}

void TestCsvExport::fileBytes()
{
    QFETCH(QTime, start);
    QFETCH(int, interval);
    QFETCH(int, lastIndex);
    QFETCH(QList<int>, values);
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    window->findChild<QTimeEdit *>("timeEdit")->setTime(start);
    Access::setStore(*window, lastIndex, interval, values);

    const QString fileName = dir->filePath(name);
    const DialogSeen seen = save(fileName);
    QVERIFY(seen.shown);
    QVERIFY(!seen.askedToReplace);
    QCOMPARE(contents(fileName), bytes);
    QCOMPARE(storedPath(), QVariant(fileName));
    // Nothing else is left in the folder (no temporary file, no added suffix).
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{name});
}

// Numbers in the file use '.' whatever the user's locale says.
void TestCsvExport::decimalCommaLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QByteArray oldNumeric = std::setlocale(LC_NUMERIC, nullptr);
    // Only present where the German locale is installed; Qt's own default is
    // set in any case.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    Access::setStore(*window, 1, 3600, {123456, -5, -1234567, 99});

    const QString fileName = dir->filePath(QStringLiteral("komma.csv"));
    save(fileName);
    std::setlocale(LC_NUMERIC, oldNumeric.constData());
    QCOMPARE(contents(fileName), QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                            "    1;13:00:00;1234.56;-0.05\r\n"
                                            "    2;14:00:00;-12345.67;0.99\r\n"));
}

// The second file type: the same file with ',' as decimal point, and the
// next dialog offers the type chosen last.
void TestCsvExport::decimalCommaType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("as always") << "CSV (*.csv)"
                               << QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                             "    1;13:00:00;1234.56;-0.05\r\n"
                                             "    2;14:00:00;-12345.67;0.99\r\n");
    QTest::newRow("decimal comma") << "CSV mit Dezimalkomma (*.csv)"
                                   << QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                                 "    1;13:00:00;1234,56;-0,05\r\n"
                                                 "    2;14:00:00;-12345,67;0,99\r\n");
}

void TestCsvExport::decimalCommaType()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, bytes);
    Access::setStore(*window, 1, 3600, {123456, -5, -1234567, 99});
    const QString fileName = dir->filePath(QStringLiteral("typ.csv"));
    save(fileName, {}, type);
    QCOMPARE(contents(fileName), bytes);
    QCOMPARE(save(QString()).type, type);
    save(QString(), {}, QStringLiteral("CSV (*.csv)")); // cancelled: remembers nothing
    QCOMPARE(save(QString()).type, type);
}

// Where the dialog opens: the home folder before the first export, else the
// remembered path (a file's folder with its name proposed).
void TestCsvExport::startLocation_data()
{
    QTest::addColumn<QString>("stored"); // "<none>": no setting; @ stands for the temp folder
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("selected"); // empty: not checked

    QTest::newRow("first export") << "<none>" << QDir::homePath() << "";
    QTest::newRow("a file") << "@/earlier.csv"
                            << "@"
                            << "@/earlier.csv";
    QTest::newRow("a folder") << "@/sub"
                              << "@/sub"
                              << "";
    QTest::newRow("relative to the working folder") << "sub/rel.csv"
                                                    << "@/sub"
                                                    << "@/sub/rel.csv";
}

void TestCsvExport::startLocation()
{
    QFETCH(QString, stored);
    QFETCH(QString, directory);
    QFETCH(QString, selected);
    const QString tmp = dir->path();
    QVERIFY(QDir(tmp).mkpath(QStringLiteral("sub")));
    const QString oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp));
    const QVariant before = stored == QLatin1String("<none>")
                                ? QVariant()
                                : QVariant(QString(stored).replace('@', tmp));
    setStoredPath(before);

    const DialogSeen seen = save(QString()); // cancel
    QDir::setCurrent(oldCurrent);

    QVERIFY(seen.shown);
    QCOMPARE(seen.caption, QString("Speicher der Daten"));
    QCOMPARE(seen.filters, (QStringList{"CSV (*.csv)", "CSV mit Dezimalkomma (*.csv)"}));
    QCOMPARE(seen.type, QStringLiteral("CSV (*.csv)"));
    QVERIFY(seen.confirmsOverwrite);
    QCOMPARE(seen.directory, directory.replace('@', tmp));
    if (!selected.isEmpty())
        QCOMPARE(seen.selected, QStringList{selected.replace('@', tmp)});
    // A cancel writes nothing and leaves the setting as it was.
    QCOMPARE(storedPath(), before);
    QCOMPARE(QDir(tmp).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// After a save the next dialog starts at the new file; after a cancel, a file
// that cannot be opened, or a write that fails, nothing changes: the setting
// keeps the earlier path and an existing file keeps its contents.
void TestCsvExport::outcomes_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::newRow("saved over a longer file") << "saved";
    QTest::newRow("cancelled") << "cancelled";
    QTest::newRow("cannot be opened") << "unopenable";
    QTest::newRow("write fails") << "write fails";
    QTest::newRow("write of a full store fails") << "big write fails";
}

void TestCsvExport::outcomes()
{
    QFETCH(QString, outcome);
    const QString earlier = dir->filePath(QStringLiteral("a/earlier.csv"));
    const QString target = dir->filePath(QStringLiteral("b/target.csv"));
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("a")));
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("b")));
    const QByteArray earlierBytes = "earlier export\r\n";
    QByteArray targetBytes;
    for (int i = 0; i < 200; ++i)
        targetBytes += "a longer file that was there before the export\r\n";
    QVERIFY(writeFile(earlier, earlierBytes));
    QVERIFY(writeFile(target, targetBytes));
    setStoredPath(earlier);
    const QByteArray newBytes = "Datensatz;Zeit;RMS;PEP\r\n"
                                "    1;12:00:10;-12.34;-10.00\r\n"
                                "    2;12:00:20;-12.00;-9.90\r\n";

    FileSizeLimit *limit = nullptr;
    DialogSeen seen;
    if (outcome == QLatin1String("saved")) {
        seen = save(target);
    } else if (outcome == QLatin1String("cancelled")) {
        seen = save(QString());
    } else if (outcome == QLatin1String("unopenable")) {
        seen = save(dir->filePath(QStringLiteral("missing/out.csv")));
    } else {
        // The limit is set while the dialog is open; anything the export
        // writes past it fails. A full store is written past the file's
        // buffer in one go, a small one only when the file is closed.
        const bool big = outcome.startsWith(QLatin1String("big"));
        if (big)
            Access::setStore(*window, 15999, 1, {});
        seen = save(target, [&] { limit = new FileSizeLimit(big ? 100000 : 64); });
        QVERIFY(limit && limit->active);
        delete limit;
    }
    QVERIFY(seen.shown);
    QCOMPARE(seen.directory, dir->filePath(QStringLiteral("a")));
    QCOMPARE(seen.selected, QStringList{earlier});
    QCOMPARE(seen.askedToReplace, outcome == "saved" || outcome.endsWith("write fails"));

    const bool saved = outcome == QLatin1String("saved");
    QCOMPARE(storedPath(), QVariant(saved ? target : earlier));
    // A save that fails says so.
    const QString message = window->statusBar()->currentMessage();
    QCOMPARE(message.startsWith(QStringLiteral("Nicht gespeichert: ")),
             !saved && outcome != QLatin1String("cancelled"));
    QCOMPARE(contents(target), saved ? newBytes : targetBytes);
    QCOMPARE(contents(earlier), earlierBytes);
    QCOMPARE(QDir(dir->filePath(QStringLiteral("b"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{"target.csv"});
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("missing"))));

    // The next dialog starts at the remembered place.
    const DialogSeen next = save(QString());
    QCOMPARE(next.selected, QStringList{saved ? target : earlier});
}

// An export while a download is still running writes the data sets that have
// arrived when the dialog closes, no rows for those still missing.
void TestCsvExport::exportDuringDownload()
{
    MainWindow &w = *window;
    Access::requestDownload(w);
    Access::storeHeader(w, QStringLiteral("5*60"));
    Access::storeDataSet(w, QStringLiteral("100*-100"));
    Access::storeDataSet(w, QStringLiteral("200*-200"));

    const QString fileName = dir->filePath(QStringLiteral("running.csv"));
    save(fileName, [&] { Access::storeDataSet(w, QStringLiteral("300*-300")); });
    QCOMPARE(contents(fileName), QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                            "    1;12:01:00;1.00;-1.00\r\n"
                                            "    2;12:02:00;2.00;-2.00\r\n"
                                            "    3;12:03:00;3.00;-3.00\r\n"));
    // The listing still shows the earlier, completed download.
    QCOMPARE(w.findChild<QTextBrowser *>("textBrowser")->toPlainText().count('\n'), 3);
}

// The file takes the start time now in the time edit, even when the listing
// has not been refreshed since.
void TestCsvExport::startTimeChangedAfterListing()
{
    MainWindow &w = *window;
    const QString listing = w.findChild<QTextBrowser *>("textBrowser")->toPlainText();
    QVERIFY(listing.contains(QStringLiteral("12:00:10")));
    w.findChild<QTimeEdit *>("timeEdit")->setTime(QTime(8, 30));

    const QString fileName = dir->filePath(QStringLiteral("later.csv"));
    save(fileName);
    QCOMPARE(contents(fileName), QByteArray("Datensatz;Zeit;RMS;PEP\r\n"
                                            "    1;08:30:10;-12.34;-10.00\r\n"
                                            "    2;08:30:20;-12.00;-9.90\r\n"));
    QCOMPARE(w.findChild<QTextBrowser *>("textBrowser")->toPlainText(), listing);
}

// What a save writes to: a regular file is replaced only once complete, in
// place where its folder takes no temporary file; a device or a FIFO is
// written to and stays what it is.
void TestCsvExport::writeTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("new file") << "new";
    QTest::newRow("longer file") << "longer";
    QTest::newRow("file in a folder that takes no new file") << "locked folder";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device node") << "device";
}

void TestCsvExport::writeTargets()
{
    QFETCH(QString, target);
    QTemporaryDir temp;
    QVERIFY(::chmod(QFile::encodeName(temp.path()).constData(), 0755) == 0);
    QString name = temp.filePath(QStringLiteral("out.csv"));
    const QByteArray bytes = "Datensatz;Zeit;RMS;PEP\r\n    1;00:00:01;0.01;0.02\r\n";
    const QByteArray path = QFile::encodeName(name);
    int reader = -1;
    if (target == QLatin1String("longer")) {
        QVERIFY(writeFile(name, QByteArray(4096, 'x')));
    } else if (target == QLatin1String("locked folder")) {
        QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("locked")));
        name = temp.filePath(QStringLiteral("locked/out.csv"));
        QVERIFY(writeFile(name, QByteArray(4096, 'x')));
        QVERIFY(::chmod(QFile::encodeName(name).constData(), 0666) == 0);
        QVERIFY(::chmod(QFile::encodeName(temp.filePath("locked")).constData(), 0555) == 0);
    } else if (target == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
    } else if (target == QLatin1String("device")) {
        if (::geteuid() != 0)
            QSKIP("a device node is made only as root");
        QVERIFY(::mknod(path.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0); // as /dev/null
    }

    // Root may write anywhere: the folder is locked for another user.
    const bool asOther = target == QLatin1String("locked folder") && ::geteuid() == 0;
    if (asOther)
        QVERIFY(::seteuid(65534) == 0);
    QString error;
    const bool ok = Records::writeFile(name, bytes, &error);
    if (asOther)
        QVERIFY(::seteuid(0) == 0);
    if (target == QLatin1String("locked folder"))
        ::chmod(QFile::encodeName(temp.filePath("locked")).constData(), 0755);

    QVERIFY2(ok, qPrintable(error));
    const QFileInfo info(name);
    if (target == QLatin1String("fifo")) {
        char buffer[256];
        const ssize_t got = ::read(reader, buffer, sizeof buffer);
        ::close(reader);
        QCOMPARE(QByteArray(buffer, int(qMax<ssize_t>(got, 0))), bytes);
    } else if (target == QLatin1String("device")) {
        struct stat st
        {
        };
        QVERIFY(::stat(path.constData(), &st) == 0 && S_ISCHR(st.st_mode));
    } else {
        QCOMPARE(contents(name), bytes);
    }
    QCOMPARE(info.isFile(), target != "fifo" && target != "device");
    QCOMPARE(QDir(info.absolutePath()).entryList(QDir::Files | QDir::System | QDir::Hidden).size(),
             1);
}

QTEST_MAIN(TestCsvExport)
#include "tst_csvexport.moc"

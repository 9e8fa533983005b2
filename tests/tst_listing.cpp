// The listing of the downloaded data sets on the "Daten" page: its rows and
// times, the refresh button, and the one-go build that must give the same
// document as appending the rows one by one.

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "printfformat.h"
#include "recordformat.h"
#include "rowbyrowlisting.h"

#include <QAction>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimeEdit>
#include <QTimer>

#include <climits>

using Access = MainWindowTestAccess;

namespace {

const QString HeaderLine = QStringLiteral("Datensatz \tZeitpunkt \tRMS \tPEP");
const QString RuleLine = QStringLiteral("============================================");

// A full store of varied levels.
void fillPattern(MainWindow &w, int lastIndex, int interval)
{
    Access::setStore(w, lastIndex, interval);
    for (int i = 0; i < DownloadSession::Capacity; ++i) {
        Access::rmsValues(w)[i] = (i * 7919) % 20001 - 10000;
        Access::pepValues(w)[i] = -(i * 104729) % 300007;
    }
}

QTextBrowser *browser(MainWindow &w)
{
    return w.findChild<QTextBrowser *>("textBrowser");
}

QAction *saveAction(MainWindow &w)
{
    return w.findChild<QAction *>("action_Speichern");
}

void setStart(MainWindow &w, const QTime &time)
{
    w.findChild<QTimeEdit *>("timeEdit")->setTime(time);
}

void refresh(MainWindow &w)
{
    QPushButton *button = w.findChild<QPushButton *>("Buttonrefresh");
    button->setEnabled(true);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList blockTexts(const QTextDocument *doc)
{
    QStringList texts;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        texts << b.text();
    return texts;
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rows_data();
    void rows();
    void refreshWithNewStart();
    void oneGoEqualsRowByRow_data();
    void oneGoEqualsRowByRow();
    void wholeRightAfterListing_data();
    void wholeRightAfterListing();
    void formatsMatchPrintf();
    void timesMatchStepping_data();
    void timesMatchStepping();

private:
    PortsSandbox *sandbox = nullptr;
    MainWindow *window = nullptr;
};

void TestListing::init()
{
    sandbox = new PortsSandbox;
    window = new MainWindow;
    Access::meterFound(*window);
}

void TestListing::cleanup()
{
    delete window;
    window = nullptr;
    delete sandbox;
    sandbox = nullptr;
}

// The listing in the browser; the times of every interval and the texts of
// every level are checked against QTime and printf further below.
void TestListing::rows_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("lastIndex");
    QTest::addColumn<QList<int>>("values"); // rms, pep, rms, pep ...
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("one data set") << QTime(12, 0) << 10 << 0 << QList<int>{-1234, -1000}
                                  << QStringList{"00001 \t12:00:10\t-12.34\t-10.00\t dBm "};
    QTest::newRow("negative last index")
        << QTime(12, 0) << 10 << -1 << QList<int>{1, 1} << QStringList();
    QTest::newRow("most negative last index")
        << QTime(12, 0) << 10 << INT_MIN << QList<int>{1, 1} << QStringList();
    QTest::newRow("past midnight") << QTime(23, 59, 50) << 20 << 1 << QList<int>{0, 0, 0, 0}
                                   << QStringList{"00001 \t00:00:10\t0.00\t0.00\t dBm ",
                                                  "00002 \t00:00:30\t0.00\t0.00\t dBm "};
}

void TestListing::rows()
{
    QFETCH(QTime, start);
    QFETCH(int, interval);
    QFETCH(int, lastIndex);
    QFETCH(QList<int>, values);
    QFETCH(QStringList, rows);
    MainWindow &w = *window;
    browser(w)->setPlainText(QStringLiteral("an older listing\nof two lines"));
    QVERIFY(!saveAction(w)->isEnabled());

    setStart(w, start);
    Access::setStore(w, lastIndex, interval, values);
    w.fuellentxt();

    QCOMPARE(browser(w)->toPlainText(), (QStringList{HeaderLine, RuleLine} + rows).join('\n'));
    QVERIFY(saveAction(w)->isEnabled());
}

void TestListing::refreshWithNewStart()
{
    MainWindow &w = *window;
    setStart(w, QTime(12, 0));
    Access::requestDownload(w);
    Access::storeHeader(w, QStringLiteral("2*90"));
    for (const char *d : {"100*-100", "-250*250", "0*1"})
        Access::storeDataSet(w, QString::fromLatin1(d));
    QCOMPARE(
        browser(w)->toPlainText().split('\n').mid(2),
        (QStringList{"00001 \t12:01:30\t1.00\t-1.00\t dBm ", "00002 \t12:03:00\t-2.50\t2.50\t dBm ",
                     "00003 \t12:04:30\t0.00\t0.01\t dBm "}));

    setStart(w, QTime(8, 0));
    // The listing keeps its times until refresh is pressed.
    QCOMPARE(browser(w)->toPlainText().split('\n').at(2),
             QString("00001 \t12:01:30\t1.00\t-1.00\t dBm "));
    QTest::mouseClick(w.findChild<QPushButton *>("Buttonrefresh"), Qt::LeftButton);
    QCOMPARE(
        browser(w)->toPlainText(),
        (QStringList{HeaderLine, RuleLine, "00001 \t08:01:30\t1.00\t-1.00\t dBm ",
                     "00002 \t08:03:00\t-2.50\t2.50\t dBm ", "00003 \t08:04:30\t0.00\t0.01\t dBm "})
            .join('\n'));
}

// The one-go build gives the very document that appending row by row gives:
// the same paragraphs with the same texts and formats.
void TestListing::oneGoEqualsRowByRow_data()
{
    QTest::addColumn<int>("lastIndex");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("before"); // what the browser showed

    QTest::newRow("no rows") << -1 << 10 << QString();
    QTest::newRow("one row") << 0 << 10 << QString();
    QTest::newRow("many rows") << 499 << 37 << QString();
    QTest::newRow("over an old listing") << 120 << -61 << QString("old\nlisting\n\nwith a gap");
    QTest::newRow("over rich text") << 3 << 1 << QString("<b>bold</b>");
}

void TestListing::oneGoEqualsRowByRow()
{
    QFETCH(int, lastIndex);
    QFETCH(int, interval);
    QFETCH(QString, before);
    MainWindow &w = *window;
    setStart(w, QTime(23, 0, 7));
    fillPattern(w, lastIndex, interval);
    QTextBrowser *view = browser(w);
    const auto showBefore = [&] {
        view->setPlainText(QString());
        if (!before.isEmpty())
            view->append(before);
    };

    showBefore();
    w.fuellentxt();
    const QString oneGoText = view->toPlainText();
    const QStringList oneGoBlocks = blockTexts(view->document());
    const QString oneGoHtml = view->document()->toHtml();

    // The obvious way, in the same browser from the same state.
    showBefore();
    appendListingRowByRow(view, QTime(23, 0, 7), interval, Access::rmsValues(w),
                          Access::pepValues(w),
                          lastIndex < 0 ? 0 : qMin(lastIndex + 1, DownloadSession::Capacity));

    QCOMPARE(oneGoText, view->toPlainText());
    QCOMPARE(oneGoBlocks.size(), view->document()->blockCount());
    QCOMPARE(oneGoBlocks, blockTexts(view->document()));
    QCOMPARE(oneGoHtml, view->document()->toHtml());
    QCOMPARE(oneGoBlocks.first(), HeaderLine);
}

// The listing's document is made ready in the background: whatever was made
// ready, for whichever start time and however many data sets, the whole
// listing of the store is in the browser the moment fuellentxt() returns.
void TestListing::wholeRightAfterListing_data()
{
    QTest::addColumn<int>("readyFor");
    QTest::newRow("nothing made ready") << 0;
    QTest::newRow("the same listing") << 1;
    QTest::newRow("another start time") << 2;
    QTest::newRow("fewer data sets") << 3;
}

void TestListing::wholeRightAfterListing()
{
    QFETCH(int, readyFor);
    MainWindow &w = *window;
    const int last = DownloadSession::Capacity - 1;
    fillPattern(w, last, 60);
    setStart(w, QTime(12, 0));
    if (readyFor == 1)
        w.fuellentxt();
    if (readyFor == 3)
        Access::setStore(w, 999, 60);
    if (readyFor >= 2) // a new start time makes the listing of it ready
        setStart(w, QTime(13, 0));
    if (readyFor == 3)
        setStart(w, QTime(12, 0));
    QTest::qWait(50);
    {
        const QSignalBlocker quiet(w.findChild<QTimeEdit *>("timeEdit"));
        setStart(w, QTime(12, 0));
    }
    Access::setStore(w, last, 60);

    w.fuellentxt();
    QCOMPARE(browser(w)->document()->blockCount(), DownloadSession::Capacity + 2);
    QCOMPARE(browser(w)->toPlainText(),
             Records::listingText(QTime(12, 0), 60, Access::rmsValues(w), Access::pepValues(w),
                                  DownloadSession::Capacity));
}

// The listing rows and the file lines are made without printf; they must
// say exactly what the printf formats say, for any stored value, number
// and time.
void TestListing::formatsMatchPrintf()
{
    QList<int> levels = {0,       1,       -1,          5,           -5,      9,
                         10,      -10,     99,          -99,         100,     -100,
                         101,     -101,    123456,      -123456,     -99999,  999999,
                         INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 1 << 24, -(1 << 24)};
    for (int v = -200000; v <= 200000; v += 13)
        levels << v;
    for (int v = 1000; v < INT_MAX / 3; v = v * 3 + 7)
        levels << v << -v;
    int checked = 0;
    for (int i = 0; i < levels.size(); ++i) {
        const int rms = levels.at(i);
        const int pep = levels.at((i * 7 + 3) % levels.size());
        // One data set at interval 0: the row and the line of data set 1
        // carry the start time itself.
        const QTime time = QTime::fromMSecsSinceStartOfDay((i * 37 % 86400) * 1000 + i % 1000);
        const QString row = Records::listingText(time, 0, &rms, &pep, 1).section('\n', 2);
        const QByteArray line = Records::csvFile(time, 0, &rms, &pep, 1).mid(24);
        if (row != PrintfFormat::listingRow(1, time, rms, pep) ||
            line != PrintfFormat::csvLine(1, time, rms, pep)) {
            QCOMPARE(row, PrintfFormat::listingRow(1, time, rms, pep));
            QCOMPARE(line, PrintfFormat::csvLine(1, time, rms, pep));
        }
        ++checked;
    }
    QVERIFY(checked > 30000);
    QCOMPARE(Records::listingText(QTime(), 0, levels.data(), levels.data(), 1)
                 .section('\n', 2)
                 .section('\t', 1, 1),
             QString());
}

// The times of a long listing are those of adding the interval once per data
// set, as QTime::addSecs counts them; a chart's go on past midnight.
void TestListing::timesMatchStepping_data()
{
    QTest::addColumn<int>("interval");
    for (int interval :
         {0, 1, -1, 59, 3600, 86399, 86400, 86401, -86401, 1234567, INT_MAX, INT_MIN, INT_MIN + 1})
        QTest::addRow("%d", interval) << interval;
}

void TestListing::timesMatchStepping()
{
    QFETCH(int, interval);
    static int zeros[3000] = {};
    for (const QTime &start : {QTime(0, 0), QTime(23, 59, 59, 500), QTime(13, 7, 1)}) {
        const QStringList lines =
            Records::listingText(start, interval, zeros, zeros, 3000).split('\n');
        QCOMPARE(lines.size(), 3002);
        QByteArray csv = Records::csvFile(start, interval, zeros, zeros, 3000);
        const QList<QByteArray> csvLines = csv.split('\n');
        QTime t = start;
        for (int i = 0; i < 3000; ++i) {
            t = t.addSecs(interval);
            // A chart's times go on by one interval each, past midnight too.
            const qint64 on =
                Records::recordTime(start, interval, i + 1, Records::TimeRun::Continue);
            if (on - Records::recordTime(start, interval, i, Records::TimeRun::Continue) !=
                    interval * 1000LL ||
                (on % 86400000 + 86400000) % 86400000 != t.msecsSinceStartOfDay())
                QFAIL(qPrintable(QStringLiteral("data set %1: %2 ms").arg(i + 1).arg(on)));
            const QString expected = t.toString(QStringLiteral("HH:mm:ss"));
            if (lines.at(i + 2).section('\t', 1, 1) != expected)
                QCOMPARE(lines.at(i + 2).section('\t', 1, 1), expected);
            if (csvLines.at(i + 1).mid(6, 8) != expected.toLatin1())
                QCOMPARE(csvLines.at(i + 1).mid(6, 8), expected.toLatin1());
        }
    }
}

QTEST_MAIN(TestListing)
#include "tst_listing.moc"

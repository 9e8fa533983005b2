// How long the listing of a full store (16000 data sets) takes: built in one
// go as the program does, against the obvious way of one append per row, in
// the same run on the same window. Run from the build folder:
//   QT_QPA_PLATFORM=offscreen tests/bench_listing
// Goals: the one-go build under 100 ms and at least 20 times faster than
// appending row by row (checked only in builds without sanitizers).

#include "benchmark.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "rowbyrowlisting.h"

#include <QElapsedTimer>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

using Access = MainWindowTestAccess;

namespace {

// A full store: the last index the last slot, a minute between data sets.
void fillStore(MainWindow &w)
{
    Access::setStore(w, MainWindow::RecordCapacity - 1, 60);
    for (int i = 0; i < MainWindow::RecordCapacity; ++i) {
        Access::rmsValues(w)[i] = Benchmark::rmsLevel(i);
        Access::pepValues(w)[i] = Benchmark::pepLevel(i);
    }
}

} // namespace

class BenchListing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void build_data();
    void build();
    void eventLoopAfterOneGo();

private:
    PortsSandbox *sandbox = nullptr;
    MainWindow *window = nullptr;
    QTextBrowser *view = nullptr;
    qint64 bestNs[2] = {-1, -1}; // one go, row by row
};

void BenchListing::initTestCase()
{
    sandbox = new PortsSandbox;
    window = new MainWindow;
    Access::scanTimer(*window)->stop();
    fillStore(*window);
    // The "Daten" page is the one shown while a download completes.
    QTabWidget *tabs = window->findChild<QTabWidget *>("tabWidget");
    QVERIFY(tabs);
    tabs->setEnabled(true);
    tabs->setCurrentIndex(1);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    view = window->findChild<QTextBrowser *>("textBrowser");
    QVERIFY(view);
}

void BenchListing::build_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("one go (fuellentxt)") << 0;
    QTest::newRow("row by row (append)") << 1;
}

void BenchListing::build()
{
    QFETCH(int, way);
    QElapsedTimer clock;
    QBENCHMARK
    {
        clock.start();
        if (way == 0)
            window->fuellentxt();
        else
            appendListingRowByRow(view, QTime(0, 0), 60, Access::rmsValues(*window),
                                  Access::pepValues(*window), MainWindow::RecordCapacity);
        const qint64 ns = clock.nsecsElapsed();
        bestNs[way] = bestNs[way] < 0 ? ns : std::min(bestNs[way], ns);
    }
    QCOMPARE(view->document()->blockCount(), MainWindow::RecordCapacity + 2);
}

// The one-go build leaves the layout of the rows below the visible part to
// the event loop, in steps; this is how long the longest step holds it up.
void BenchListing::eventLoopAfterOneGo()
{
    window->fuellentxt();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(1);
    QTest::qWait(3000);
    qInfo("longest pause of the event loop while the rest of the listing is laid out: %lld ms",
          longest);
}

void BenchListing::cleanupTestCase()
{
    delete window;
    delete sandbox;
    if (bestNs[0] <= 0 || bestNs[1] <= 0)
        return;
    const double oneGoMs = bestNs[0] / 1e6;
    const double rowByRowMs = bestNs[1] / 1e6;
    const double ratio = rowByRowMs / oneGoMs;
    qInfo("16000 rows: one go %.1f ms, row by row %.1f ms, ratio %.1f", oneGoMs, rowByRowMs, ratio);
#if TAVROLD_TIMING_CHECKS
    QVERIFY2(oneGoMs < 100.0, "the listing of a full store takes 100 ms or more");
    QVERIFY2(ratio >= 20.0, "the one-go listing is less than 20 times faster than appending");
#endif
}

QTEST_MAIN(BenchListing)
#include "bench_listing.moc"

// The window "Verlauf" against a meter on a pseudo-terminal, found by the
// program's own search: every reading arrives in the history, the saved
// history and picture, and the chart of a downloaded recording. Each test
// has a program and a meter of its own.

#include "mainwindow.h"
#include "readinghistory.h"
#include "sandboxedmeter.h"
#include "savedialogdriver.h"
#include "trendexport.h"

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>

namespace {

QWidget *trendWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("trendWindow"))
            return widget;
    return nullptr;
}

// The points of the lines of one kind ("RMS", "PEP") a chart draws.
QList<QPointF> drawnPoints(const char *chartName, const QString &kind)
{
    QList<QPointF> points;
    auto *view = trendWindow()->findChild<QChartView *>(chartName);
    for (QAbstractSeries *series : view->chart()->series())
        if (series->name() == kind)
            points += static_cast<QLineSeries *>(series)->points();
    return points;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTrendWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensFromTheOptionMenu();
    void everyReadingIsKeptAndSaved();
    void zoomStopsFollowing();
    void pictureIsSaved();
    void pictureThatCannotBeMade();
    void recordingChart();
    void closingOnlyHides();

private:
    void openTrendWindow()
    {
        window->findChild<QAction *>("actionVerlauf")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(trendWindow()));
    }
    void clickSaving(const char *button, const QString &fileName, const QString &type = QString())
    {
        DialogDriver driver(fileName);
        driver.chooseType = type;
        trendWindow()->findChild<QPushButton *>(button)->click();
        QVERIFY(driver.seen.shown);
    }

    SandboxedMeter *meter = nullptr;
    MainWindow *window = nullptr;
    QTemporaryDir dir;
};

void TestTrendWindow::init()
{
    meter = new SandboxedMeter(QStringLiteral("COM1"));
    QVERIFY(meter->meter.isValid());
    window = new MainWindow;
    window->show();
    QVERIFY(meter->meter.waitForReceived("#o;", 15000));
}

void TestTrendWindow::cleanup()
{
    delete window;
    window = nullptr;
    delete meter;
    meter = nullptr;
}

void TestTrendWindow::opensFromTheOptionMenu()
{
    auto *action = window->findChild<QAction *>("actionVerlauf");
    QVERIFY(action);
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    QVERIFY(!trendWindow()->isVisible());
    action->trigger();
    QVERIFY(trendWindow()->isVisible());
    QCOMPARE(trendWindow()->windowTitle(), QStringLiteral("Tavrolinde - Verlauf"));
    QVERIFY(trendWindow()->isWindow());
    QVERIFY(!trendWindow()->parentWidget());
}

void TestTrendWindow::everyReadingIsKeptAndSaved()
{
    openTrendWindow();
    // Four readings in one piece, taken in by one poll; then an audio head.
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(meter->meter.send("@a-10.0;@b-5.5;@a-20.0;@b-6.25;"));
    QTRY_COMPARE(drawnPoints("liveChart", "RMS").size(), 2);
    QCOMPARE(drawnPoints("liveChart", "PEP").size(), 2);
    QVERIFY(meter->meter.send("@s1*5*0.0*0.0*0;@a-30.0;"));
    QTRY_COMPARE(drawnPoints("liveChart", "RMS").size(), 3);

    // The power average of -10 and -20 dBm; the audio reading counts apart.
    auto *spans = trendWindow()->findChild<QComboBox *>("spanBox");
    spans->setCurrentIndex(4); // the whole run
    QTRY_VERIFY(trendWindow()->findChild<QLabel *>("statisticsLabel")->text().contains("dBV"));

    const QString path = dir.filePath("verlauf.csv");
    clickSaving("saveHistoryButton", path);
    const QList<QByteArray> lines = readFile(path).split('\n');
    QCOMPARE(lines.size(), 7); // header, five readings, the end of the last line
    QCOMPARE(lines[0], QByteArray("time;kind;level;unit;voltage_V;power_W;head;number;"
                                  "max_level_dBm;attenuator_dB;recording"));
    const QList<QByteArray> expected{";rms;-10;dBm;", ";pep;-5.5;dBm;", ";rms;-20;dBm;",
                                     ";pep;-6.25;dBm;", ";rms;-30;dBV;"};
    for (int i = 0; i < expected.size(); ++i) {
        const QByteArray &line = lines[i + 1];
        QVERIFY2(line.contains(expected[i]), line.constData());
        const QByteArray time = line.left(line.indexOf(';'));
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs);
        QVERIFY2(when.toMSecsSinceEpoch() >= before - 1, line.constData());
    }
    // The readings of one poll share its time.
    QCOMPARE(lines[1].left(lines[1].indexOf(';')), lines[4].left(lines[4].indexOf(';')));

    // With a decimal comma the numbers change, and nothing else: the time
    // stamps keep their milliseconds' point.
    const QString commaPath = dir.filePath("verlauf-komma.csv");
    clickSaving("saveHistoryButton", commaPath, QStringLiteral("CSV mit Dezimalkomma (*.csv)"));
    const QByteArray comma = readFile(commaPath);
    QVERIFY2(comma.contains(";pep;-5,5;dBm;") && comma.contains(";pep;-6,25;dBm;"),
             comma.constData());
    QCOMPARE(comma.count('.'), 5);
    QCOMPARE(QByteArray(comma).replace(',', '.'), readFile(path));
}

void TestTrendWindow::zoomStopsFollowing()
{
    openTrendWindow();
    QVERIFY(meter->meter.send("@a-10.0;@b-5.5;"));
    auto *view = trendWindow()->findChild<QChartView *>("liveChart");
    const auto shownEnd = [view] {
        return static_cast<QDateTimeAxis *>(view->chart()->axes(Qt::Horizontal).first())->max();
    };
    // Drag across the middle of the plot.
    const QRectF plot = view->chart()->plotArea();
    const QPoint from =
        view->mapFromScene(view->chart()->mapToScene(plot.center() - QPointF(100, 0)));
    const QPoint to =
        view->mapFromScene(view->chart()->mapToScene(plot.center() + QPointF(100, 0)));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(view->viewport(), to);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
    auto *back = trendWindow()->findChild<QPushButton *>("followButton");
    QTRY_VERIFY(back->isEnabled());
    const QDateTime zoomedEnd = shownEnd();

    // New readings do not move a zoomed chart; "Zoom zurueck" follows them again.
    QTest::qWait(1200);
    QVERIFY(meter->meter.send("@a-33.0;"));
    QTest::qWait(1200);
    QCOMPARE(shownEnd(), zoomedEnd);
    back->click();
    QTRY_VERIFY(shownEnd() > zoomedEnd);
    QVERIFY(!back->isEnabled());
}

void TestTrendWindow::pictureIsSaved()
{
    openTrendWindow();
    const QString path = dir.filePath("verlauf.png");
    clickSaving("saveImageButton", path);
    QImage image;
    QVERIFY(image.loadFromData(readFile(path), "PNG"));
    QVERIFY(image.width() >= trendWindow()->width());
    QVERIFY(image.height() >= trendWindow()->findChild<QTabWidget *>("chartTabs")->height());
}

// A chart area of no size gives no picture: nothing is written, and the
// window says so instead of "Gespeichert" over an empty file.
void TestTrendWindow::pictureThatCannotBeMade()
{
    QWidget emptyArea;
    emptyArea.resize(0, 0);
    QVERIFY(TrendExport::chartPng(&emptyArea).isEmpty());

    QLabel report;
    const QString path = dir.filePath("leer.png");
    DialogDriver driver(path);
    TrendExport::save(&report, &report, "Bild speichern", "leer.png", "PNG (*.png)",
                      [&] { return TrendExport::chartPng(&emptyArea); });
    QVERIFY(driver.seen.shown);
    QVERIFY(!QFile::exists(path));
    QVERIFY2(report.text().startsWith("Nicht gespeichert: " + path), qPrintable(report.text()));
}

void TestTrendWindow::recordingChart()
{
    // A recording that runs past midnight: its chart goes on into the next
    // day at the listing's times.
    const QTime start(23, 59, 30);
    window->findChild<QTimeEdit *>("timeEdit")->setTime(start);
    window->findChild<QAction *>("actiond_holen")->trigger();
    QVERIFY(meter->meter.waitForReceived("#d;"));
    QByteArray recording = "@k5*10;";
    for (int i = 0; i < 6; ++i)
        recording += QByteArray::number(i * -100 - 1234).prepend("@d") + '*' +
                     QByteArray::number(i * 50) + ';';
    QVERIFY(meter->meter.send(recording));
    QTRY_COMPARE(drawnPoints("recordingChart", "RMS").size(), 6);

    const QList<QPointF> rms = drawnPoints("recordingChart", "RMS");
    const QList<QPointF> pep = drawnPoints("recordingChart", "PEP");
    QCOMPARE(pep.size(), 6);
    for (int i = 0; i < rms.size(); ++i) {
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(qint64(rms[i].x()));
        QCOMPARE(when.time(), start.addSecs(10 * (i + 1))); // as the listing shows it
        QVERIFY(i == 0 || rms[i].x() > rms[i - 1].x());
        QCOMPARE(rms[i].y(), (i * -100 - 1234) / 100.0);
        QCOMPARE(pep[i].y(), i * 50 / 100.0);
    }

    // "Refresh" with a new start time moves the chart with the listing (a
    // pass of the event loop later, so that the listing never waits for it).
    window->findChild<QTimeEdit *>("timeEdit")->setTime(QTime(8, 0));
    window->findChild<QPushButton *>("Buttonrefresh")->click();
    QTRY_COMPARE(
        QDateTime::fromMSecsSinceEpoch(qint64(drawnPoints("recordingChart", "RMS")[0].x())).time(),
        QTime(8, 0, 10));
}

void TestTrendWindow::closingOnlyHides()
{
    openTrendWindow();
    QWidget *trend = trendWindow();
    QVERIFY(meter->meter.send("@a-30.0;@a-31.0;"));
    QTRY_VERIFY(trend->findChild<QLabel *>("statisticsLabel")->text().contains("2 Werte"));
    trend->close();
    QVERIFY(!trend->isVisible());
    QCOMPARE(trendWindow(), trend);

    // The history goes on filling while the window is closed.
    QVERIFY(meter->meter.send("@a-32.0;@a-33.0;"));
    QTest::qWait(300);
    window->findChild<QAction *>("actionVerlauf")->trigger();
    QVERIFY(trend->isVisible());
    QTRY_VERIFY(trend->findChild<QLabel *>("statisticsLabel")->text().contains("4 Werte"));
}

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"

// The window with limits against the simulated meter: the checked level's
// text red and the status field while out of limits, the tone at most once a
// second, the large readout following, and all of it gone once the meter is
// lost. The large readout's shades and its size.

#include "identity.h"
#include "largereadout.h"
#include "levellimits.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "simulatorprocess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace {

LargeReadout *findLargeReadout()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *readout = qobject_cast<LargeReadout *>(widget))
            return readout;
    return nullptr;
}

// The pixels of exactly this colour.
int pixelsOf(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

} // namespace

class TestLimitWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outOfLimits_data();
    void outOfLimits();
    void largeReadout_data();
    void largeReadout();
};

void TestLimitWindow::initTestCase()
{
    if (!QFileInfo(SimulatorProcess::program()).isExecutable())
        QSKIP("the simulated meter is not built here");
}

void TestLimitWindow::outOfLimits_data()
{
    // The limits as the last run left them (-999: none); the level text that
    // turns red (none: inside) and what the status field says.
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("tone");
    QTest::addColumn<QString>("red");
    QTest::addColumn<QString>("status");

    // The simulated RMS drifts some tenths of a dB around -20 dBm, its PEP
    // 2 to 8 dB above.
    const QString since = QStringLiteral(" seit \\d\\d:\\d\\d:\\d\\d \\(1x\\)$");
    QTest::newRow("RMS below the lower limit, with the tone")
        << -15.0 << -999.0 << int(Protocol::Rms) << true << "labelNdbmrms"
        << "^Grenzwert: RMS -\\d+\\.\\d dBm unter -15\\.0 dBm" + since;
    QTest::newRow("PEP above the upper limit")
        << -999.0 << -25.0 << int(Protocol::Pep) << false << "labelNdbmpep"
        << "^Grenzwert: PEP -\\d+\\.\\d dBm ueber -25\\.0 dBm" + since;
    QTest::newRow("inside both, with the tone")
        << -40.0 << 0.0 << int(Protocol::Rms) << true << QString() << QString();
}

void TestLimitWindow::outOfLimits()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, kind);
    QFETCH(bool, tone);
    QFETCH(QString, red);
    QFETCH(QString, status);

    PortsSandbox sandbox;
    LimitSettings limits;
    if (low > -999)
        limits.low = low;
    if (high > -999)
        limits.high = high;
    limits.kind = Protocol::LevelKind(kind);
    limits.tone = tone;
    {
        QSettings settings(Identity::Organisation, Identity::Application);
        limits.save(settings);
    }
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", "COM1", "--seed", "5", "--unplug-after", "4"}),
             qPrintable(sim.errors()));
    QElapsedTimer clock;
    clock.start();

    MainWindow window;
    window.show();
    const auto label = [&window](const char *name) { return window.findChild<QLabel *>(name); };
    QLabel *rms = label("labelNdbmrms");
    QLabel *pep = label("labelNdbmpep");
    QLabel *limitStatus = label("limitStatus");
    QTRY_VERIFY_WITH_TIMEOUT(rms->text() != "dBm" && pep->text() != "dBm", 15000);
    window.findChild<QAction *>("actionGrossanzeige")->trigger();
    LargeReadout *readout = findLargeReadout();
    QVERIFY(readout && readout->isVisible());

    // A second of readings, then out of limits or not.
    QTest::qWait(1000);
    QVERIFY(label("lossLabel")->text().isEmpty());
    QCOMPARE(limitStatus->isVisible(), !status.isEmpty());
    QVERIFY2(limitStatus->text().contains(QRegularExpression(status.isEmpty() ? "^$" : status)),
             qPrintable(limitStatus->text()));
    for (QLabel *level : {rms, pep}) {
        const bool isRed = level->objectName() == red;
        QCOMPARE(level->testAttribute(Qt::WA_SetPalette), isRed);
        QCOMPARE(level->palette().color(QPalette::WindowText).red() > 150, isRed);
    }
    QCOMPARE(readout->text(), (kind == Protocol::Pep ? pep : rms)->text());
    QCOMPARE(readout->shade(),
             red.isEmpty() ? LargeReadout::Shade::Inside : LargeReadout::Shade::Outside);

    // The meter is lost: nothing is known of the limits any more.
    QTRY_VERIFY_WITH_TIMEOUT(!label("lossLabel")->text().isEmpty(), 15000);
    QVERIFY(!limitStatus->isVisible() && limitStatus->text().isEmpty());
    QVERIFY(!rms->testAttribute(Qt::WA_SetPalette) && !pep->testAttribute(Qt::WA_SetPalette));
    QCOMPARE(readout->shade(), LargeReadout::Shade::NoReading);
    QVERIFY(readout->text().startsWith("---"));

    // The tone while out of limits, never more than once a second.
    const int beeps = MainWindowTestAccess::beepCount(window);
    QVERIFY2(beeps <= clock.elapsed() / 1000 + 1, qPrintable(QString::number(beeps)));
    QCOMPARE(beeps > 0, tone && !red.isEmpty());
}

void TestLimitWindow::largeReadout_data()
{
    QTest::addColumn<int>("shade");
    QTest::newRow("no reading: grey") << int(LargeReadout::Shade::NoReading);
    QTest::newRow("inside: green") << int(LargeReadout::Shade::Inside);
    QTest::newRow("outside: red") << int(LargeReadout::Shade::Outside);
}

// The level in its shade alone, larger in a larger window.
void TestLimitWindow::largeReadout()
{
    QFETCH(int, shade);
    const auto expected = LargeReadout::Shade(shade);
    LargeReadout readout;
    readout.resize(400, 150);
    readout.show();
    QVERIFY(QTest::qWaitForWindowExposed(&readout));
    if (expected == LargeReadout::Shade::NoReading)
        readout.showNoLevel("RMS");
    else
        readout.showLevel("PEP", "-23.4", "dBm", expected == LargeReadout::Shade::Outside);
    QCOMPARE(readout.shade(), expected);
    QCOMPARE(readout.text(), expected == LargeReadout::Shade::NoReading ? "--- dBm" : "-23.4 dBm");

    const QImage small = readout.grab().toImage();
    const int pixels = pixelsOf(small, LargeReadout::colour(expected));
    for (const auto other : {LargeReadout::Shade::NoReading, LargeReadout::Shade::Inside,
                             LargeReadout::Shade::Outside})
        QCOMPARE(pixelsOf(small, LargeReadout::colour(other)) > 0, other == expected);

    const int size = readout.levelPixelSize();
    readout.resize(1200, 450);
    QTRY_VERIFY(readout.levelPixelSize() > 2.5 * size);
    QVERIFY(pixelsOf(readout.grab().toImage(), LargeReadout::colour(expected)) > 5 * pixels);
}

QTEST_MAIN(TestLimitWindow)
#include "tst_limitwindow.moc"

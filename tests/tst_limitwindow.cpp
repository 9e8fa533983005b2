// The window with limits against the simulated meter: the checked level red
// and the status field while out of limits, the tone at most once a second,
// the large readout following; all of it gone once the meter is lost. And the
// large readout's shades and size.

#include "identity.h"
#include "largereadout.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "simulatorprocess.h"

#include <QAction>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using Shade = LargeReadout::Shade;

class TestLimitWindow : public QObject
{
    Q_OBJECT

private slots:
    void outOfLimits_data();
    void outOfLimits();
    void largeReadout_data();
    void largeReadout();
};

void TestLimitWindow::outOfLimits_data()
{
    // The limits as the last run left them (0: none), the level turning red
    // (none: inside) and what the status field says.
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<bool>("pep");
    QTest::addColumn<bool>("tone");
    QTest::addColumn<QString>("red");
    QTest::addColumn<QString>("status");

    // The simulated RMS drifts tenths of a dB around -20 dBm, PEP 2 to 8 dB above.
    const QString since = QStringLiteral(" seit \\d\\d:\\d\\d:\\d\\d \\(1x\\)$");
    QTest::newRow("RMS below the lower limit, with the tone")
        << -15.0 << 0.0 << false << true << "labelNdbmrms"
        << "^Grenzwert: RMS -\\d+\\.\\d dBm unter -15\\.0 dBm" + since;
    QTest::newRow("PEP above the upper limit")
        << 0.0 << -25.0 << true << false << "labelNdbmpep"
        << "^Grenzwert: PEP -\\d+\\.\\d dBm ueber -25\\.0 dBm" + since;
    QTest::newRow("inside both, with the tone") << -40.0 << -1.0 << false << true << ""
                                                << "^$";
}

void TestLimitWindow::outOfLimits()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(bool, pep);
    QFETCH(bool, tone);
    QFETCH(QString, red);
    QFETCH(QString, status);
    if (!QFileInfo(SimulatorProcess::program()).isExecutable())
        QSKIP("the simulated meter is not built here");

    PortsSandbox sandbox;
    LimitSettings limits;
    limits.low = low ? std::optional(low) : std::nullopt;
    limits.high = high ? std::optional(high) : std::nullopt;
    limits.kind = pep ? Protocol::Pep : Protocol::Rms;
    limits.tone = tone;
    QSettings settings(Identity::Organisation, Identity::Application);
    limits.save(settings);
    settings.sync();
    SimulatorProcess sim(sandbox);
    QVERIFY2(sim.start({"--port", "COM1", "--seed", "5", "--unplug-after", "4"}),
             qPrintable(sim.errors()));
    QElapsedTimer clock;
    clock.start();

    MainWindow window;
    window.show();
    const auto label = [&window](const char *name) { return window.findChild<QLabel *>(name); };
    QLabel *levels[] = {label("labelNdbmrms"), label("labelNdbmpep")};
    QLabel *field = label("limitStatus");
    QTRY_VERIFY_WITH_TIMEOUT(levels[0]->text() != "dBm" && levels[1]->text() != "dBm", 15000);
    window.findChild<QAction *>("actionGrossanzeige")->trigger();
    LargeReadout *readout = MainWindowTestAccess::largeReadout(window);
    QVERIFY(readout && readout->isVisible());

    QTest::qWait(1000); // a second of readings
    QVERIFY(label("lossLabel")->text().isEmpty());
    QCOMPARE(field->isVisible(), !red.isEmpty());
    QVERIFY2(field->text().contains(QRegularExpression(status)), qPrintable(field->text()));
    for (QLabel *level : levels) {
        QCOMPARE(level->testAttribute(Qt::WA_SetPalette), level->objectName() == red);
        QCOMPARE(level->palette().color(QPalette::WindowText).red() > 150,
                 level->objectName() == red);
    }
    QCOMPARE(readout->text(), levels[pep]->text());
    QCOMPARE(readout->shade(), red.isEmpty() ? Shade::Inside : Shade::Outside);

    // The meter is lost: nothing is known of the limits any more.
    QTRY_VERIFY_WITH_TIMEOUT(!label("lossLabel")->text().isEmpty(), 15000);
    QVERIFY(!field->isVisible() && field->text().isEmpty());
    for (QLabel *level : levels)
        QVERIFY(!level->testAttribute(Qt::WA_SetPalette));
    QCOMPARE(readout->shade(), Shade::NoReading);
    QCOMPARE(readout->text(), "--- dBm");

    // The tone out of limits, never more than once a second.
    const int beeps = MainWindowTestAccess::beepCount(window);
    QVERIFY2(beeps <= clock.elapsed() / 1000 + 1, qPrintable(QString::number(beeps)));
    QCOMPARE(beeps > 0, tone && !red.isEmpty());
}

void TestLimitWindow::largeReadout_data()
{
    QTest::addColumn<Shade>("shade");
    QTest::newRow("no reading: grey") << Shade::NoReading;
    QTest::newRow("inside: green") << Shade::Inside;
    QTest::newRow("outside: red") << Shade::Outside;
}

// The level in its colour alone, larger in a larger window.
void TestLimitWindow::largeReadout()
{
    QFETCH(Shade, shade);
    LargeReadout readout;
    readout.resize(400, 150);
    readout.show();
    QVERIFY(QTest::qWaitForWindowExposed(&readout));
    if (shade == Shade::NoReading)
        readout.showNoLevel("RMS");
    else
        readout.showLevel("PEP", "-23.4", "dBm", shade == Shade::Outside);

    // The pixels of each shade's colour in the picture.
    const auto pixels = [&readout](Shade of) {
        const QImage image = readout.grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y) == LargeReadout::colour(of);
        return count;
    };
    for (const Shade other : {Shade::NoReading, Shade::Inside, Shade::Outside})
        QCOMPARE(pixels(other) > 0, other == shade);
    const int before = pixels(shade);
    const int size = readout.levelPixelSize();
    readout.resize(1200, 450);
    QTRY_VERIFY(readout.levelPixelSize() > 2.5 * size);
    QVERIFY(pixels(shade) > 5 * before);
}

QTEST_MAIN(TestLimitWindow)
#include "tst_limitwindow.moc"

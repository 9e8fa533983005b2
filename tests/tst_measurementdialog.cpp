// The dialog "Messung" driven through its inputs' names as a user would, and
// the window's display of corrected readings.

#include "measurementdialog.h"
#include "meterline.h"

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class TestMeasurementDialog : public QObject
{
    Q_OBJECT

private slots:
    void editedSettingsComeBack_data();
    void editedSettingsComeBack();
    void windowShowsCorrectedReadings();
};

void TestMeasurementDialog::editedSettingsComeBack_data()
{
    // "objectName=text" typed, or a check box's or button's name: pressed; a
    // table file loaded for a head; then offset, frequency, average, step
    // detection, relative and the references (0 for none), and the limits:
    // lower, upper (0 for none), kind, hysteresis, tone, counter cleared and
    // whether OK takes them.
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<int>("head");
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QList<double>>("expected");

    // A reference set from a reading has more digits than its box shows.
    QTest::newRow("nothing typed keeps every digit; AD8362, a header line")
        << QStringList{} << 0 << QByteArray("frequency_MHz;correction_dB\n1;0\n2;1\n")
        << QList<double>{40.004,     145.0005, 1, 1,    1, -20.123456, 0,
                         -20.123456, -10,      1, 0.75, 1, 0,          1};
    QTest::newRow("an attenuator at 435 MHz, average 20, RMS up to -5.5 dB; AD8361 linear")
        << QStringList{"offsetBox=-10.5", "frequencyBox=435",  "averageBox=20",  "stepBox",
                       "limitLowCheck",   "limitHighBox=-5.5", "limitKindBox=R", "hysteresisBox=2",
                       "toneBox",         "clearCountButton"}
        << 5 << QByteArray("# sheet\n1,0\n2,0.5\n3,1\n")
        << QList<double>{-10.5, 435, 20, 0, 1, -20.123456, 0, 0, -5.5, 0, 2, 0, 1, 1};
    QTest::newRow("references typed, the lower limit above the upper; AD8307, not ascending")
        << QStringList{"referenceRmsBox=keine", "referencePepBox=-7.5", "relativeBox",
                       "limitLowBox=-9.99"}
        << 2 << QByteArray("100;0.5\n200;1\n150;1.5\n")
        << QList<double>{40.004, 145.0005, 1, 1, 0, 0, -7.5, -9.99, -10, 1, 0.75, 1, 0, 0};
}

void TestMeasurementDialog::editedSettingsComeBack()
{
    QFETCH(QStringList, typed);
    QFETCH(int, head);
    QFETCH(QByteArray, table);
    QFETCH(QList<double>, expected);

    MeasurementSettings given;
    given.offsetDb = 40.004;
    given.frequencyMhz = 145.0005;
    given.relative = true;
    given.reference[Protocol::Rms] = -20.123456;
    given.tables[head] = *CorrectionTable::parse("10;1\n20;2\n30;3\n40;4\n", nullptr);
    LimitSettings limits;
    limits.low = -20.123456;
    limits.high = -10.0;
    limits.kind = Protocol::Pep;
    limits.hysteresisDb = 0.75;
    limits.tone = true;
    MeasurementDialog dialog;
    dialog.setSettings(given);
    dialog.setLimits(limits);
    dialog.setViolationCount(3);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.findChild<QPushButton *>("loadTable4")); // the unknown head's code
    for (const QString &input : typed) {
        const QStringList nameText = input.split('=');
        auto *widget = dialog.findChild<QWidget *>(nameText[0]);
        QVERIFY2(widget && widget->isEnabled(), qPrintable(input));
        if (auto *box = qobject_cast<QAbstractSpinBox *>(widget))
            box->selectAll();
        QTest::keyClicks(widget, nameText.value(1, " ")); // a check box: the space bar
    }

    // The file as "Laden ..." takes it once chosen: a refused one is named
    // with its line and why, and nothing changes.
    QTemporaryDir dir;
    QFile file(dir.filePath("tabelle.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(table) == table.size());
    file.close();
    QString error, warning;
    const std::optional<CorrectionTable> loaded = CorrectionTable::parse(table, &error);
    QTimer::singleShot(0, &dialog, [&warning] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            warning = box->text(), box->close();
    });
    QCOMPARE(dialog.loadTable(head, file.fileName()), loaded.has_value());
    QVERIFY2(loaded || (warning.contains(error) && warning.contains("tabelle.csv") &&
                        error.contains("Zeile")),
             qPrintable(warning));

    const MeasurementSettings s = dialog.settings();
    const LimitSettings l = dialog.limits();
    QVERIFY(s.tables[head] == loaded.value_or(given.tables[head]));
    QCOMPARE(dialog.findChild<QLabel *>("tableText" + QString::number(head))->text(),
             QString("%1 Punkte").arg(s.tables[head].points().size()));
    QCOMPARE(
        (QList<double>{s.offsetDb, s.frequencyMhz, double(s.average), double(s.stepDetection),
                       double(s.relative), s.reference[0].value_or(0), s.reference[1].value_or(0),
                       l.low.value_or(0), l.high.value_or(0), double(l.kind), l.hysteresisDb,
                       double(l.tone), double(dialog.countCleared()), double(l.error().isEmpty())}),
        expected);
    // Limits that cannot be used are named, and OK does not take them.
    QCOMPARE(dialog.findChild<QLabel *>("limitError")->text(), l.error());
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, l.error().isEmpty());
    dialog.findChild<QPushButton *>("removeTable" + QString::number(head))->click();
    QVERIFY(dialog.settings().tables[head].isEmpty());
}

// An attenuator of 40 dB entered through "Messung ...": the display reads the
// level in front of it and says so; "Referenz setzen" turns the level to dB
// relative to it while voltage and power stay absolute; the settings come
// back at the next start.
void TestMeasurementDialog::windowShowsCorrectedReadings()
{
    const auto line = std::make_unique<MeterLine>();
    QVERIFY(line->connect());
    MainWindow &window = line->win();
    QVERIFY(line->feed("@s2*1*20*0*0;@a-20.0;"));
    QCOMPARE(line->text("labelNdbmrms"), QStringLiteral("-20.0 dBm"));
    QCOMPARE(line->text("labelKorrektur"), QString());

    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<MeasurementDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *offset = dialog->findChild<QDoubleSpinBox *>("offsetBox");
        offset->selectAll();
        QTest::keyClicks(offset, "40");
        dialog->accept();
    });
    window.findChild<QAction *>("actionMessung")->trigger();
    QVERIFY(line->feed("@a-20.0;@b-10.0;"));
    QCOMPARE(line->text("labelNdbmrms"), QStringLiteral("20.0 dBm"));
    QCOMPARE(line->text("labelNdbmpep"), QStringLiteral("30.0 dBm"));
    QCOMPARE(line->text("labelKorrektur"), QStringLiteral("Korrektur: Offset +40.00 dB"));

    window.findChild<QAction *>("actionReferenz")->trigger();
    QVERIFY(line->feed("@a-20.5;"));
    QCOMPARE(line->text("labelNdbmrms"), QStringLiteral("-0.50 dBr"));
    QCOMPARE(line->text("labelNvoltrms"), QStringLiteral("2.111 V")); // of +19.5 dBm
    QCOMPARE(line->text("labelKorrektur"), QStringLiteral("Korrektur: Offset +40.00 dB, relativ"));

    MainWindow next; // the program started again, with the same settings
    QCOMPARE(next.findChild<QLabel *>("labelKorrektur")->text(),
             QStringLiteral("Korrektur: Offset +40.00 dB, relativ"));
}

QTEST_MAIN(TestMeasurementDialog)
#include "tst_measurementdialog.moc"

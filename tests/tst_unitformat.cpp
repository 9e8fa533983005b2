#include "unitformat.h"

#include <QTest>
#include <QtNumeric>

#include <limits>

// The power and voltage texts of the live display: one prefix per tier, three
// number formats per tier chosen on the unrounded value.
class TestUnitFormat : public QObject
{
    Q_OBJECT

private slots:
    void formatPower_data();
    void formatPower();
    void formatVoltage_data();
    void formatVoltage();
    void ignoresLocale();
};

void TestUnitFormat::formatPower_data()
{
    QTest::addColumn<double>("watts");
    QTest::addColumn<QString>("text");

    // Kilowatts: no upper bound, always three decimals.
    QTest::newRow("25 kW") << 25000.0 << "25.000 kW";
    QTest::newRow("1.5 kW") << 1500.0 << "1.500 kW";
    QTest::newRow("1 kW exactly") << 1000.0 << "1.000 kW";
    QTest::newRow("infinite") << qInf() << "inf kW";
    // Watts, each boundary and the value just below it; the tier is chosen
    // before rounding, so a value just below a boundary prints as if at it.
    QTest::newRow("999.96 W") << 999.96 << "1000.0 W";
    QTest::newRow("100 W") << 100.0 << "100.0 W";
    QTest::newRow("99.999 W") << 99.999 << "100.00 W";
    QTest::newRow("10 W") << 10.0 << "10.00 W";
    QTest::newRow("9.9996 W") << 9.9996 << "10.000 W";
    QTest::newRow("1 W") << 1.0 << "1.000 W";
    // Milliwatts.
    QTest::newRow("0.99996 W") << 0.99996 << "1000.0 mW";
    QTest::newRow("500 mW") << 0.5 << "500.0 mW";
    QTest::newRow("19.95 mW") << 0.0199526 << "19.95 mW";
    QTest::newRow("1 mW") << 0.001 << "1.000 mW";
    // Micro-, nano-, picowatts.
    QTest::newRow("250 uW") << 250e-6 << "250.0 uW";
    QTest::newRow("4.571 uW") << 4.5709e-6 << "4.571 uW";
    QTest::newRow("33.3 nW") << 33.3e-9 << "33.30 nW";
    QTest::newRow("2.5 nW") << 2.5e-9 << "2.500 nW";
    QTest::newRow("750 pW") << 750e-12 << "750.0 pW";
    QTest::newRow("12.5 pW") << 12.5e-12 << "12.50 pW";
    QTest::newRow("1.25 pW") << 1.25e-12 << "1.250 pW";
    // Femtowatts: the last tier takes everything that is left.
    QTest::newRow("330 fW") << 330e-15 << "330.0 fW";
    QTest::newRow("12.5 fW") << 12.5e-15 << "12.50 fW";
    QTest::newRow("1.5 fW") << 1.5e-15 << "1.500 fW";
    QTest::newRow("below one fW") << 2.5e-16 << "0.250 fW";
    QTest::newRow("tiny") << 1e-30 << "0.000 fW";
    QTest::newRow("smallest double") << std::numeric_limits<double>::denorm_min() << "0.000 fW";
    QTest::newRow("zero") << 0.0 << "0.000 fW";
    QTest::newRow("negative") << -2e-15 << "-2.000 fW";
    QTest::newRow("NaN") << qQNaN() << "nan fW";
}

void TestUnitFormat::formatPower()
{
    QFETCH(double, watts);
    QFETCH(QString, text);
    QCOMPARE(UnitFormat::power(watts), text);
}

void TestUnitFormat::formatVoltage_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("text");

    // Volts: no kilovolts, one decimal from 100 V upwards.
    QTest::newRow("2500 V") << 2500.0 << "2500.0 V";
    QTest::newRow("100 V") << 100.0 << "100.0 V";
    QTest::newRow("99.996 V") << 99.996 << "100.00 V";
    QTest::newRow("10 V") << 10.0 << "10.00 V";
    QTest::newRow("9.9996 V") << 9.9996 << "10.000 V";
    QTest::newRow("1 V") << 1.0 << "1.000 V";
    QTest::newRow("infinite") << qInf() << "inf V";
    // Millivolts.
    QTest::newRow("998.8 mV") << 0.998815 << "998.8 mV";
    QTest::newRow("15.12 mV") << 0.0151177 << "15.12 mV";
    QTest::newRow("1 mV") << 0.001 << "1.000 mV";
    // Microvolts.
    QTest::newRow("0.99996 mV") << 0.99996e-3 << "1000.0 uV";
    QTest::newRow("47.5 uV") << 47.5e-6 << "47.50 uV";
    QTest::newRow("3.25 uV") << 3.25e-6 << "3.250 uV";
    // Nanovolts: the last tier takes everything that is left.
    QTest::newRow("500 nV") << 500e-9 << "500.0 nV";
    QTest::newRow("20 nV") << 20e-9 << "20.00 nV";
    QTest::newRow("2 nV") << 2e-9 << "2.000 nV";
    QTest::newRow("below one nV") << 0.5e-9 << "0.500 nV";
    QTest::newRow("tiny") << 1e-15 << "0.000 nV";
    QTest::newRow("zero") << 0.0 << "0.000 nV";
    QTest::newRow("negative") << -1.5e-9 << "-1.500 nV";
    QTest::newRow("NaN") << qQNaN() << "nan nV";
}

void TestUnitFormat::formatVoltage()
{
    QFETCH(double, volts);
    QFETCH(QString, text);
    QCOMPARE(UnitFormat::voltage(volts), text);
}

void TestUnitFormat::ignoresLocale()
{
    // A user whose locale writes a decimal comma still sees '.'.
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German));
    const QString power = UnitFormat::power(0.0199526);
    const QString voltage = UnitFormat::voltage(0.0151177);
    QLocale::setDefault(old);
    QCOMPARE(power, QStringLiteral("19.95 mW"));
    QCOMPARE(voltage, QStringLiteral("15.12 mV"));
}

QTEST_APPLESS_MAIN(TestUnitFormat)
#include "tst_unitformat.moc"

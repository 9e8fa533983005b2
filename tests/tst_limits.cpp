// The limits a result is checked against: the hysteresis both ways, a result
// equal to a limit, the counter and the kept settings.

#include "levellimits.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

LimitSettings limits(std::optional<double> low, std::optional<double> high, double hysteresis = 0.5)
{
    LimitSettings set;
    set.low = low;
    set.high = high;
    set.hysteresisDb = hysteresis;
    return set;
}

// "o", "l", "h" or "-" for each state.
QString states(Limits &check, const QList<double> &levels, Protocol::LevelKind kind = Protocol::Rms)
{
    QString text;
    qint64 time = 1000;
    for (double level : levels) {
        const LimitState state = check.take(kind, level, time += 1000);
        text += QLatin1String(state == LimitState::Ok     ? "o"
                              : state == LimitState::Low  ? "l"
                              : state == LimitState::High ? "h"
                                                          : "-");
    }
    return text;
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void counter();
    void violationText();
    void keptSettings();
};

void TestLimits::states_data()
{
    QTest::addColumn<LimitSettings>("settings");
    QTest::addColumn<QList<double>>("levels");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("violations");

    QTest::newRow("equal to each limit passes")
        << limits(-25, -15) << QList<double>{-25, -15, -20} << "ooo" << 0;
    QTest::newRow("back from low only by the hysteresis")
        << limits(-20, {}) << QList<double>{-20.1, -20, -19.6, -19.5, -20.01} << "lllol" << 2;
    QTest::newRow("back from high only by the hysteresis")
        << limits({}, -15) << QList<double>{-14.9, -15, -15.4, -15.5, -14} << "hhhoh" << 2;
    QTest::newRow("beyond the other limit at once is a new violation")
        << limits(-20, -19, 2) << QList<double>{-21, -18.5, -22} << "lhl" << 3;
    QTest::newRow("no hysteresis")
        << limits(-20, -10, 0) << QList<double>{-21, -20, -9, -10} << "loho" << 2;
    QTest::newRow("a NaN keeps the state")
        << limits(-20, {}) << QList<double>{-30, qQNaN(), -10} << "llo" << 1;
    QTest::newRow("no limit checks nothing")
        << limits({}, {}) << QList<double>{-300, 300} << "--" << 0;
}

void TestLimits::states()
{
    QFETCH(LimitSettings, settings);
    QFETCH(QList<double>, levels);
    QFETCH(QString, expected);
    QFETCH(int, violations);

    Limits check(settings);
    QCOMPARE(::states(check, levels), expected);
    QCOMPARE(check.violationCount(), violations);
    // The other kind is never checked and changes nothing.
    QCOMPARE(::states(check, {-300, 300}, Protocol::Pep), QStringLiteral("--"));
    QCOMPARE(check.violationCount(), violations);
}

void TestLimits::counter()
{
    Limits check(limits(-20, -10));
    ::states(check, {-21, -15, -9});
    QCOMPARE(check.violationCount(), 2);
    QCOMPARE(check.lastViolationMs(), qint64(4000));
    check.clearCount();
    QCOMPARE(check.violationCount(), 0);
    QCOMPARE(check.state(), LimitState::High); // the state itself stays
    // A lost meter: nothing known until the next result, which counts anew.
    check.restart();
    QCOMPARE(check.state(), LimitState::Unchecked);
    QVERIFY(!check.lastLevel());
    QCOMPARE(::states(check, {-5}), QStringLiteral("h"));
    QCOMPARE(check.violationCount(), 1);
    // New settings check afresh and keep the counter.
    check.setSettings(limits(-20, 0));
    QCOMPARE(check.state(), LimitState::Unchecked);
    QCOMPARE(::states(check, {-5}), QStringLiteral("o"));
    QCOMPARE(check.violationCount(), 1);
}

void TestLimits::violationText()
{
    Limits check(limits(-20, -10));
    QCOMPARE(check.violationText(QStringLiteral("dBm")), QString());
    const qint64 at = QDateTime(QDate(2026, 12, 9), QTime(14, 2, 11)).toMSecsSinceEpoch();
    for (int i = 0; i < 3; ++i) {
        check.take(Protocol::Rms, -15, at);
        check.take(Protocol::Rms, -23.44, at);
    }
    QCOMPARE(check.violationText(QStringLiteral("dBm")),
             QStringLiteral("Grenzwert: RMS -23.4 dBm unter -20.0 dBm seit 14:02:11 (3x)"));
    check.take(Protocol::Rms, -19.5, at);
    QCOMPARE(check.violationText(QStringLiteral("dBm")), QString());
}

void TestLimits::keptSettings()
{
    QTemporaryDir dir;
    QSettings file(dir.filePath("t.ini"), QSettings::IniFormat);
    QCOMPARE(LimitSettings::load(file), LimitSettings());

    LimitSettings set = limits({}, -3.5, 1.25);
    set.kind = Protocol::Pep;
    set.tone = true;
    set.save(file);
    QCOMPARE(LimitSettings::load(file), set);

    // Damaged values leave their defaults; a lower limit above the upper
    // leaves none.
    file.setValue("grenzwert/unten", 10);
    file.setValue("grenzwert/hysterese", "x");
    file.setValue("grenzwert/art", "avg");
    const LimitSettings loaded = LimitSettings::load(file);
    QVERIFY(!loaded.isSet());
    QCOMPARE(loaded.kind, Protocol::Rms);
    QCOMPARE(loaded.hysteresisDb, LimitSettings::DefaultHysteresisDb);
    QVERIFY(!limits(10, -3.5).error().isEmpty());
    QVERIFY(!limits(-300, {}).error().isEmpty());
    QVERIFY(!limits(-3, {}, -1).error().isEmpty());
    QVERIFY(limits(-3, -3, 0).error().isEmpty());
}

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"

// The main window's life: what it holds right after construction, the order
// of its slots, and the "#c;" it sends when it goes.

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "portssandbox.h"
#include "ptymeter.h"

#include <QAction>
#include <QMetaMethod>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using Access = MainWindowTestAccess;

namespace {

// What the window holds right after construction, by member name.
QVariantMap valuesAtStart(const MainWindow &m)
{
    bool storeClear = true;
    for (int i = 0; i < DownloadSession::Capacity; ++i)
        storeClear = storeClear && Access::rmsValues(m)[i] == 0 && Access::pepValues(m)[i] == 0;
    return {
        {"versionText", Access::versionText(m)},
        {"portIndex", Access::portIndex(m)},
        {"awaitingReply", Access::awaitingReply(m)},
        {"deviceFound", Access::deviceFound(m)},
        {"portName", Access::portName(m)},
        {"portOpen", Access::portOpen(m)},
        {"inMessage", Access::inMessage(m)},
        {"messageText", Access::messageText(m)},
        {"messageTypeHandled", Access::messageType(m) >= 0 && Access::messageType(m) <= 4},
        {"serialNumber", Access::meterStatus(m).serialNumber},
        {"headType", Access::meterStatus(m).headType},
        {"maxLevelDbm", Access::meterStatus(m).maxLevelDbm},
        {"attenuatorDb", Access::meterStatus(m).attenuatorDb},
        {"lastRecordIndex", Access::lastRecordIndex(m)},
        {"recordIntervalSec", Access::recordIntervalSec(m)},
        {"recordCount", Access::recordCount(m)},
        {"storeClear", storeClear},
    };
}

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void portList();
    void startValues_data();
    void startValues();
    void timers();
    void slotOrder();
    void metaCast();
    void closeBeforeMeterFound();
    void closeSendsStopLast();
};

void TestLifecycle::portList()
{
    PortsSandbox sandbox;
    MainWindow window;
    const QStringList ports = Access::portList(window);
    QCOMPARE(ports.size(), 20);
    for (int i = 0; i < ports.size(); ++i)
        QCOMPARE(ports.at(i), QStringLiteral("COM%1").arg(i + 1));
}

void TestLifecycle::startValues_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("versionText") << "versionText" << QVariant(QStringLiteral("V2.00"));
    QTest::newRow("portIndex") << "portIndex" << QVariant(0);
    QTest::newRow("awaitingReply") << "awaitingReply" << QVariant(false);
    QTest::newRow("deviceFound") << "deviceFound" << QVariant(false);
    QTest::newRow("portName") << "portName" << QVariant(QString());
    QTest::newRow("portOpen") << "portOpen" << QVariant(false);
    QTest::newRow("inMessage") << "inMessage" << QVariant(false);
    QTest::newRow("messageText") << "messageText" << QVariant(QString());
    // A message ending before any type letter must run no handler.
    QTest::newRow("messageType") << "messageTypeHandled" << QVariant(false);
    QTest::newRow("serialNumber") << "serialNumber" << QVariant(0);
    QTest::newRow("headType") << "headType" << QVariant(0);
    QTest::newRow("maxLevelDbm") << "maxLevelDbm" << QVariant(5.0);
    QTest::newRow("attenuatorDb") << "attenuatorDb" << QVariant(0.0);
    // The record store starts as a download request leaves it.
    QTest::newRow("lastRecordIndex") << "lastRecordIndex" << QVariant(0);
    QTest::newRow("recordIntervalSec") << "recordIntervalSec" << QVariant(1);
    QTest::newRow("recordCount") << "recordCount" << QVariant(0);
    QTest::newRow("store") << "storeClear" << QVariant(true);
}

void TestLifecycle::startValues()
{
    QFETCH(QString, member);
    QFETCH(QVariant, expected);
    PortsSandbox sandbox;
    MainWindow window;
    const QVariantMap values = valuesAtStart(window);
    QVERIFY2(values.contains(member), qPrintable(member));
    QCOMPARE(values.value(member), expected);
}

void TestLifecycle::timers()
{
    PortsSandbox sandbox;
    MainWindow window;
    QTimer *scan = Access::scanTimer(window);
    QTimer *poll = Access::pollTimer(window);
    QVERIFY(scan && poll && scan != poll);
    QVERIFY(scan->isActive());
    QCOMPARE(scan->interval(), 200);
    QVERIFY(!scan->isSingleShot());
    QCOMPARE(scan->parent(), &window);
    QVERIFY(!poll->isActive());
}

void TestLifecycle::slotOrder()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.className(), "MainWindow");
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());

    const QList<QPair<QByteArray, QMetaMethod::Access>> expected = {
        {"fuellentxt()", QMetaMethod::Public},
        {"on_Buttonrefresh_clicked()", QMetaMethod::Private},
        {"setAText(QString)", QMetaMethod::Private},
        {"getrs232()", QMetaMethod::Private},
        {"datenholen()", QMetaMethod::Private},
        {"fopentty()", QMetaMethod::Private},
        {"datenspeichern()", QMetaMethod::Private},
    };
    // Its signals (what it tells the window "Verlauf") stand apart.
    QList<QMetaMethod> slotMethods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() != QMetaMethod::Signal)
            slotMethods.append(meta.method(i));
    QCOMPARE(slotMethods.size(), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod &method = slotMethods.at(i);
        QCOMPARE(method.methodSignature(), expected.at(i).first);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), expected.at(i).second);
    }
}

void TestLifecycle::metaCast()
{
    PortsSandbox sandbox;
    MainWindow window;
    QCOMPARE(window.qt_metacast("MainWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("Modem"), nullptr);
}

void TestLifecycle::closeBeforeMeterFound()
{
    // No meter anywhere: closing still goes through the destructor's "#c;",
    // which reaches no device.
    PortsSandbox sandbox;
    auto *window = new MainWindow;
    window->show();
    QTest::qWait(50);
    window->findChild<QAction *>(QStringLiteral("action_Beenden"))->trigger();
    QVERIFY(!window->isVisible());
    delete window;
}

void TestLifecycle::closeSendsStopLast()
{
    PortsSandbox sandbox;
    PtyMeter meter(sandbox, QStringLiteral("COM1"));
    QVERIFY(meter.isValid());
    meter.setReply("#v;", QByteArray("M\x15", 2));

    auto *window = new MainWindow;
    window->show();
    QVERIFY(meter.waitForReceived("#v;#o;", 15000));
    QTRY_VERIFY(Access::deviceFound(*window));
    // The meter streams; the program listens.
    meter.send("@s0*7*12.5*20*1;@a-23.4;@b-20.0;");
    QTest::qWait(250);

    window->findChild<QAction *>(QStringLiteral("action_Beenden"))->trigger();
    QVERIFY(!window->isVisible());
    delete window;
    QVERIFY(meter.waitForReceived("#c;", 2000));
    QVERIFY(meter.received().endsWith("#c;"));
    QCOMPARE(meter.received(), QByteArray("#v;#o;#c;"));
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"

#include "mainwindow.h"
#include "portssandbox.h"

#include <QTest>

class TestLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void constructs();
};

void TestLifecycle::constructs()
{
    PortsSandbox sandbox;
    MainWindow window;
    QCOMPARE(window.metaObject()->className(), "MainWindow");
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"

// `tavrold-cli publish` as a bench user meets it: the built tool between a
// meter (a pseudo-terminal the test speaks for, or the simulated meter) and a
// real mosquitto broker started by the test, watched with mosquitto_sub.

#include "clitool.h"
#include "mqttbroker.h"
#include "portssandbox.h"
#include "sandboxedmeter.h"
#include "simulatorprocess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <csignal>

namespace {

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// The last message on a topic.
QByteArray lastOn(MqttSubscriber &subscriber, const QByteArray &topic)
{
    QByteArray payload;
    for (const MqttSubscriber::Message &m : subscriber.messages())
        if (m.topic == topic)
            payload = m.payload;
    return payload;
}

QStringList brokerArguments(const MqttBroker &broker)
{
    return {"--broker",        QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port()),
            "--user",          MqttBroker::User,
            "--password-file", broker.passwordFile()};
}

} // namespace

class TestCliPublish : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void statesAndDiscovery_data();
    void statesAndDiscovery();
    void availabilityFollowsTheMeter();
    void commandsFromHomeAssistant();
    void reconnectsToARestartedBroker();
    void login_data();
    void login();

private:
    MqttBroker broker;
};

void TestCliPublish::initTestCase()
{
    if (CliTool::program().isEmpty() || SimulatorProcess::program().isEmpty())
        QSKIP("tavrold-cli or tavrold-sim is not built here");
    for (const char *program : {"mosquitto", "mosquitto_sub", "mosquitto_passwd", "openssl"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty() &&
            !QFile::exists(QStringLiteral("/usr/sbin/") + QLatin1String(program)))
            QFAIL(qPrintable(QStringLiteral("%1 is missing (scripts/deps.sh installs it)")
                                 .arg(QLatin1String(program))));
    QVERIFY2(broker.start(), qPrintable(broker.error()));
}

void TestCliPublish::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    const QString longId(101, QLatin1Char('x'));
    QTest::newRow("'+' in the id") << QStringList{"--id", "a+b"} << QByteArray("--id");
    QTest::newRow("'#' in the prefix") << QStringList{"--topic-prefix", "t/#"} << QByteArray("'#'");
    QTest::newRow("'/' in the id") << QStringList{"--id", "a/b"} << QByteArray("'/'");
    QTest::newRow("'.' in the id") << QStringList{"--id", "a.b"} << QByteArray("A-Z, a-z");
    QTest::newRow("id of 101 bytes") << QStringList{"--id", longId} << QByteArray("100 Bytes");
    QTest::newRow("'+' in the discovery prefix")
        << QStringList{"--discovery-prefix", "h+"} << QByteArray("--discovery-prefix");
    QTest::newRow("not mqtt") << QStringList{"--broker", "http://host"} << QByteArray("mqtt://");
    QTest::newRow("login in the address")
        << QStringList{"--broker", "mqtt://u:pw@host"} << QByteArray("--password-file");
    QTest::newRow("no password file")
        << QStringList{"--user", "u", "--password-file", "/nix"} << QByteArray("/nix");
    QTest::newRow("TLS options without mqtts")
        << QStringList{"--insecure"} << QByteArray("mqtts://");
    QTest::newRow("negative interval")
        << QStringList{"--interval", "-1"} << QByteArray("--interval");
    QTest::newRow("option of live") << QStringList{"--count", "3"} << QByteArray("--count");
}

// Refused at once, with exit status 2, before any port is opened.
void TestCliPublish::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    SandboxedMeter meter(QStringLiteral("COM1"));
    CliTool tool;
    QVERIFY(tool.run(QStringList{"publish", "--port", "COM1"} + arguments, 10000));
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY2(tool.err.contains(message), tool.err.constData());
    QVERIFY(meter.meter.received().isEmpty());
}

void TestCliPublish::statesAndDiscovery_data()
{
    QTest::addColumn<int>("head");
    QTest::addColumn<int>("otherHead");
    QTest::addColumn<double>("offset"); // --offset, and the raw levels beside

    QTest::newRow("RF head, then an audio head") << 0 << 3 << 0.0;
    QTest::newRow("audio head, then an RF head") << 1 << 2 << 0.0;
    QTest::newRow("RF head behind a 40 dB attenuator") << 2 << 3 << 40.0;
}

// The state of an interval: RMS as the power average, PEP as the maximum of
// exactly what the meter sent; discovery retained and well formed, sent
// again for Home Assistant's "online" and when the head changes its unit.
void TestCliPublish::statesAndDiscovery()
{
    QFETCH(int, head);
    QFETCH(int, otherHead);
    QFETCH(double, offset);

    SandboxedMeter meter(QStringLiteral("COM4"));
    MqttSubscriber watcher(broker, {"tavrolinde/#", "homeassistant/#"});
    CliTool tool;
    const QStringList corrections =
        offset != 0 ? QStringList{"--offset", QString::number(offset)} : QStringList();
    QVERIFY(tool.start(QStringList{"publish", "--port", "COM4", "--interval", "1"} + corrections +
                       brokerArguments(broker)));
    QVERIFY(meter.meter.waitForReceived("#o;", 15000));
    meter.meter.send(QStringLiteral("@s%1*7*20*10*1;").arg(head).toLatin1());
    QVERIFY2(tool.waitForError("verbunden"), tool.err.constData());
    meter.meter.send("@a-10;@a-20;@b-5;@b -8.5;");
    QVERIFY(watcher.waitFor("tavrolinde/meter7/state"));

    const bool audio = head == 1 || head == 3;
    const QJsonObject state = json(lastOn(watcher, "tavrolinde/meter7/state"));
    const QJsonObject rms = state.value("rms").toObject();
    const QJsonObject pep = state.value("pep").toObject();
    // 10 log10((0.1 + 0.01) / 2), corrected, and the raw levels beside
    QCOMPARE(rms.value("level").toDouble(), -12.6 + offset);
    QCOMPARE(pep.value("level").toDouble(), -5.0 + offset);
    QCOMPARE(rms.value("raw_level").toDouble(offset == 0 ? 1 : 0), offset == 0 ? 1 : -12.6);
    QCOMPARE(pep.value("raw_level").toDouble(offset == 0 ? 1 : 0), offset == 0 ? 1 : -5.0);
    QCOMPARE(rms.value("unit").toString(), audio ? "dBV" : "dBm");
    QCOMPARE(rms.value("power_W").isNull(), audio);
    if (!audio)
        QVERIFY(
            std::abs(rms.value("power_W").toDouble() / (std::pow(10, (offset - 12.6) / 10) / 1000) -
                     1) < 1e-5);
    const QJsonObject status = state.value("status").toObject();
    QCOMPARE(status.value("number").toInt(), 7);
    QCOMPARE(status.value("attenuator_dB").toDouble(), 10.0);
    QCOMPARE(status.value("recording").toBool(), true);
    QVERIFY(state.value("time").toString().contains(QLatin1Char('.')));

    // Retained: a subscriber that comes later is told at once.
    MqttSubscriber later(broker, {"tavrolinde/meter7/availability", "homeassistant/+/meter7/#"});
    QVERIFY(later.waitFor("homeassistant/binary_sensor/meter7/recording/config"));
    QVERIFY(later.waitFor("tavrolinde/meter7/availability", "online"));
    int configs = 0;
    for (const MqttSubscriber::Message &m : later.messages()) {
        QVERIFY(m.retained);
        if (!m.topic.endsWith("/config"))
            continue;
        ++configs;
        const QJsonObject config = json(m.payload);
        const QJsonObject device = config.value("device").toObject();
        QCOMPARE(device.value("name").toString(), QStringLiteral("Tavrolinde 7"));
        QCOMPARE(device.value("sw_version").toString(), QStringLiteral("2.xx"));
        QCOMPARE(config.value("state_topic").toString(), QStringLiteral("tavrolinde/meter7/state"));
        QCOMPARE(config.value("availability_topic").toString(),
                 QStringLiteral("tavrolinde/meter7/availability"));
        QVERIFY(config.value("unique_id").toString().contains(QLatin1String("meter7")));
        QVERIFY(config.value("value_template").toString().contains(QLatin1String("value_json")));
        QVERIFY(config.value("expire_after").toInt() >= 3);
        if (m.topic.endsWith("_level/config")) {
            QCOMPARE(config.value("unit_of_measurement").toString(), audio ? "dBV" : "dBm");
            QCOMPARE(config.value("device_class").toString(), audio ? "" : "signal_strength");
            QCOMPARE(config.value("state_class").toString(), QStringLiteral("measurement"));
        } else if (m.topic.endsWith("_power/config")) {
            QCOMPARE(config.value("device_class").toString(), QStringLiteral("power"));
        }
    }
    QCOMPARE(configs, audio ? 4 : 6); // an audio head has no power

    // Home Assistant restarted, three times over: the discovery comes again,
    // once, when 10 s have passed since the last.
    qsizetype seen = watcher.messages().size();
    for (int i = 0; i < 3; ++i)
        QVERIFY(mqttPublish(broker, "homeassistant/status", "online"));
    const QByteArray rmsConfig = "homeassistant/sensor/meter7/rms_level/config";
    QVERIFY(watcher.waitFor(rmsConfig, {}, 30000, seen));
    QTest::qWait(3000);
    const QList<MqttSubscriber::Message> all = watcher.messages();
    QCOMPARE(std::count_if(all.cbegin() + seen, all.cend(),
                           [&](const auto &m) { return m.topic == rmsConfig; }),
             1);

    // Another head, another unit: the discovery follows, the state too.
    seen = watcher.messages().size();
    meter.meter.send(QStringLiteral("@s%1*7*20*10*0;@a-30;@b-25;").arg(otherHead).toLatin1());
    // The power configs come after the levels' in the burst (a removal, an
    // empty message, for an audio head): wait for the last one looked at.
    const QByteArray pepPowerConfig = "homeassistant/sensor/meter7/pep_power/config";
    QVERIFY(watcher.waitFor(rmsConfig, {}, 30000, seen));
    QVERIFY(watcher.waitFor(pepPowerConfig, {}, 30000, seen));
    QCOMPARE(json(lastOn(watcher, "homeassistant/sensor/meter7/rms_level/config"))
                 .value("unit_of_measurement")
                 .toString(),
             audio ? "dBm" : "dBV");
    QCOMPARE(lastOn(watcher, pepPowerConfig).isEmpty(), !audio);
    QVERIFY(QTest::qWaitFor([&] {
        return json(lastOn(watcher, "tavrolinde/meter7/state"))
                   .value("rms")
                   .toObject()
                   .value("level")
                   .toDouble() == -30.0 + offset;
    }));

    tool.signal(SIGTERM);
    QVERIFY(tool.waitForExit(10000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(watcher.waitFor("tavrolinde/meter7/availability", "offline", 5000));
}

// Unplugged: "offline" at once; plugged in again: found, "online".
void TestCliPublish::availabilityFollowsTheMeter()
{
    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY(sim.start({"--port", "COM2", "--unplug-after", "3", "--replug-after", "3"}));
    MqttSubscriber watcher(broker, {"tavrolinde/bench/availability"});
    CliTool tool;
    QVERIFY(tool.start(QStringList{"publish", "--id", "bench", "--interval", "0"} +
                       brokerArguments(broker)));
    QVERIFY(watcher.waitFor("tavrolinde/bench/availability", "online"));
    QVERIFY(watcher.waitFor("tavrolinde/bench/availability", "offline", 30000));
    QVERIFY(tool.err.contains("verloren") || tool.waitForError("verloren", 1000));
    const qsizetype seen = watcher.messages().size();
    QVERIFY(watcher.waitFor("tavrolinde/bench/availability", "online", 60000, seen));
    tool.signal(SIGINT);
    QVERIFY(tool.waitForExit(10000));
    QCOMPARE(tool.exitCode(), 0);
}

// With --commands, Home Assistant sees the limit, the count and the settings
// and sets them; what it may not set is said and changes nothing. A flood of
// commands and a message of 10 MB leave the states going and the memory as
// it was. The broker is down when publish starts.
void TestCliPublish::commandsFromHomeAssistant()
{
    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY(sim.start({"--port", "COM5"})); // about -20 dBm
    broker.kill();                          // down when publish starts: all comes once it is up
    CliTool tool;
    QVERIFY(tool.start(QStringList{"publish", "--id", "bench", "--commands"} +
                       brokerArguments(broker)));
    QVERIFY(tool.waitForError("Keine Verbindung zum Broker", 15000));
    QVERIFY(broker.restart());
    MqttSubscriber watcher(broker, {"tavrolinde/bench/state", "homeassistant/+/bench/#"});
    QVERIFY(watcher.waitFor("homeassistant/button/bench/clear/config"));

    // Every new config as a whole, its device aside (that of every entity).
    const QString state =
        QStringLiteral(R"("state_topic":"tavrolinde/bench/state","value_template":"{{ %1 }}")");
    const QString number =
        QStringLiteral(R"("command_topic":"tavrolinde/bench/set/%1","min":-%2,"max":%2,"step":0.1,)"
                       R"("unit_of_measurement":"dB","mode":"box",)") +
        state.arg("value_json.%1");
    const QString configs[][3] = {
        // topic, name, the keys of its kind
        {"binary_sensor/bench/limit", "Grenzwert",
         state.arg("'ON' if value_json.limit in ['low', 'high'] else 'OFF'") +
             R"(,"device_class":"problem","expire_after":5)"},
        {"sensor/bench/limit_count", "Grenzwertverletzungen",
         state.arg("value_json.limit_count") +
             R"(,"state_class":"total_increasing","expire_after":5)"},
        {"number/bench/limit_low", "Grenzwert unten", number.arg("limit_low").arg(200)},
        {"number/bench/limit_high", "Grenzwert oben", number.arg("limit_high").arg(200)},
        {"number/bench/offset", "Offset", number.arg("offset").arg(100)},
        {"button/bench/clear", "Zaehler loeschen",
         R"("command_topic":"tavrolinde/bench/set/clear")"}};
    for (const auto &[topic, name, keys] : configs) {
        QJsonObject config = json(lastOn(watcher, "homeassistant/" + topic.toUtf8() + "/config"));
        QVERIFY2(config.take("device").isObject(), qPrintable(topic));
        const QString expected =
            QStringLiteral(R"({"availability_topic":"tavrolinde/bench/availability","name":"%1",)"
                           R"("object_id":"bench_%2","unique_id":"tavrolinde_bench_%2",%3})")
                .arg(name, topic.section('/', 2), keys);
        QCOMPARE(QJsonDocument(config).toJson(QJsonDocument::Compact),
                 QJsonDocument(json(expected.toUtf8())).toJson(QJsonDocument::Compact));
    }

    qsizetype seen = 0;
    const auto nextState = [&] {
        seen = watcher.messages().size();
        return watcher.waitFor("tavrolinde/bench/state", {}, 15000, seen)
                   ? json(lastOn(watcher, "tavrolinde/bench/state"))
                   : QJsonObject();
    };
    // Out of limits within two states.
    QVERIFY(mqttPublish(broker, "tavrolinde/bench/set/limit_low", "-18"));
    QJsonObject now = nextState();
    if (now.value("limit") != "low")
        now = nextState();
    QCOMPARE(now.value("limit").toString(), QStringLiteral("low"));
    QCOMPARE(now.value("limit_count"), 1);

    // One line each; what is ignored changes nothing.
    const char *const commands[][3] = {{"offset", "3", "uebernommen"},
                                       {"limit_high", "laut", "ignoriert: keine Zahl"},
                                       {"limit_high", "-30", "ignoriert: Der untere"},
                                       {"limit_low", "-250", "ignoriert: Ein Grenzwert"},
                                       {"offset", "101", "ignoriert: Der Offset"},
                                       {"offset", "", "ignoriert"},
                                       {"clear", "PRESS", "uebernommen"},
                                       {"limit_low", "none", "uebernommen"}};
    for (const auto &[leaf, payload, said] : commands) {
        QVERIFY(mqttPublish(broker, "tavrolinde/bench/set/" + QLatin1String(leaf), payload));
        QVERIFY2(tool.waitForError(leaf + QByteArray(" \"") + payload + "\" " + said),
                 tool.err.constData());
    }
    QCOMPARE(tool.err.count('\n'), tool.err.count("tavrold-cli: "));
    nextState();
    now = nextState();
    QCOMPARE(now.value("offset"), 3);
    const QJsonObject rms = now.value("rms").toObject();
    QVERIFY(std::abs(rms.value("level").toDouble() - rms.value("raw_level").toDouble() - 3) < 0.02);
    QCOMPARE(now.value("limit_count"), 0);
    QCOMPARE(now.value("limit"), QJsonValue());

    // 10000 commands (most out of range) and a message of 10 MB.
    const auto rss = [&tool] {
        QFile status(QStringLiteral("/proc/%1/status").arg(tool.pid()));
        const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
        return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLongLong();
    };
    const qint64 before = rss();
    const QString flood =
        QStringLiteral("p='mosquitto_pub -h 127.0.0.1 -p %1 -u %2 -P %3 -t tavrolinde/bench/set/'; "
                       "seq -10029 -30 | $p'limit_low' -l && "
                       "head -c 10485760 /dev/zero | tr '\\0' 1 | $p'offset' -s");
    QCOMPARE(
        QProcess::execute(
            "bash", {"-c", flood.arg(broker.port()).arg(MqttBroker::User, MqttBroker::Password)}),
        0);
    QVERIFY(mqttPublish(broker, "tavrolinde/bench/set/limit_high", "-5"));
    QVERIFY(tool.waitForError("limit_high \"-5\" uebernommen"));
    nextState();
    QVERIFY(!nextState().isEmpty());
    const qint64 after = rss();
    qInfo("resident memory before the flood %lld kB, after %lld kB", before, after);
    QVERIFY(before > 0 && after > 0);
#ifndef __SANITIZE_ADDRESS__ // which holds freed memory back for a while
    QVERIFY2(after - before < 5 * 1024, qPrintable(QString::number(after - before)));
#endif
    QVERIFY(tool.err.count('\n') < 1000);                // the flood's values taken in batches
    QVERIFY(!tool.err.contains("Befehl offset \"1111")); // 10 MB never reach the program
    tool.signal(SIGTERM);
    QVERIFY(tool.waitForExit(10000));
    QCOMPARE(tool.exitCode(), 0);
}

// The broker killed while the tool publishes: retried within the back-off,
// and states come again.
void TestCliPublish::reconnectsToARestartedBroker()
{
    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY(sim.start({"--port", "COM3"}));
    CliTool tool;
    QVERIFY(tool.start(QStringList{"publish", "--id", "bench"} + brokerArguments(broker)));
    {
        MqttSubscriber watcher(broker, {"tavrolinde/bench/state"});
        QVERIFY(watcher.waitFor("tavrolinde/bench/state"));
    }
    broker.kill();
    QVERIFY(tool.waitForError("Keine Verbindung zum Broker", 5000));
    QTest::qWait(1500);
    QVERIFY(broker.restart());
    MqttSubscriber watcher(broker, {"tavrolinde/bench/#"});
    QVERIFY(watcher.waitFor("tavrolinde/bench/availability", "online", 60000));
    QVERIFY(watcher.waitFor("tavrolinde/bench/state", {}, 15000));
}

void TestCliPublish::login_data()
{
    QTest::addColumn<QString>("broker"); // %1 the plain port, %2 the TLS port
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("password"); // in the file; null: in the environment
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("publishes");

    const QString plain = QStringLiteral("mqtt://127.0.0.1:%1");
    const QString secure = QStringLiteral("mqtts://localhost:%2");
    QTest::newRow("wrong password") << plain << QStringList{} << QByteArray("wrong")
                                    << QByteArray("lehnt die Anmeldung ab") << false;
    QTest::newRow("password from the environment")
        << plain << QStringList{} << QByteArray() << QByteArray("verbunden") << true;
    QTest::newRow("mqtts, the right CA")
        << secure << QStringList{"--ca-file", "ca.crt"} << QByteArray(MqttBroker::Password)
        << QByteArray("Zertifikat geprueft") << true;
    QTest::newRow("mqtts, a wrong CA")
        << secure << QStringList{"--ca-file", "wrong-ca.crt"} << QByteArray(MqttBroker::Password)
        << QByteArray("Keine Verbindung zum Broker") << false;
    QTest::newRow("mqtts, another host name")
        << QStringLiteral("mqtts://127.0.0.1:%2") << QStringList{"--ca-file", "ca.crt"}
        << QByteArray(MqttBroker::Password) << QByteArray("Keine Verbindung zum Broker") << false;
    QTest::newRow("mqtts, a wrong CA, --insecure")
        << secure << QStringList{"--ca-file", "wrong-ca.crt", "--insecure"}
        << QByteArray(MqttBroker::Password) << QByteArray("NICHT geprueft") << true;
}

// Every outcome is said on standard error; the password is never on the
// command line nor in any output.
void TestCliPublish::login()
{
    QFETCH(QString, broker);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, message);
    QFETCH(bool, publishes);

    for (QString &a : arguments)
        if (a.endsWith(QLatin1String(".crt")))
            a = this->broker.folder() + QLatin1Char('/') + a;
    QTemporaryDir dir;
    QFile file(dir.filePath("password"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(password.isNull() ? QByteArray(MqttBroker::Password) : password + '\n');
    file.close();
    broker.replace(QLatin1String("%1"), QString::number(this->broker.port()))
        .replace(QLatin1String("%2"), QString::number(this->broker.tlsPort()));
    arguments << "--broker" << broker << "--user" << MqttBroker::User << "--id"
              << "bench";
    if (!password.isNull())
        arguments << "--password-file" << file.fileName();

    PortsSandbox sandbox;
    SimulatorProcess sim(sandbox);
    QVERIFY(sim.start({"--port", "COM6"}));
    MqttSubscriber watcher(this->broker, {"tavrolinde/bench/state"});
    if (password.isNull())
        qputenv("TAVROLD_MQTT_PASSWORD", MqttBroker::Password);
    CliTool tool;
    const bool started = tool.start(QStringList{"publish"} + arguments);
    qunsetenv("TAVROLD_MQTT_PASSWORD");
    QVERIFY(started);
    QVERIFY2(tool.waitForError(message, 15000), tool.err.constData());
    for (const char *file : {"cmdline", "environ"}) {
        QFile proc(QStringLiteral("/proc/%1/%2").arg(tool.pid()).arg(QLatin1String(file)));
        QVERIFY(proc.open(QIODevice::ReadOnly));
        QVERIFY2(!proc.readAll().contains(MqttBroker::Password), file);
    }
    QCOMPARE(watcher.waitFor("tavrolinde/bench/state", {}, publishes ? 15000 : 1500), publishes);
    tool.signal(SIGTERM);
    QVERIFY(tool.waitForExit(10000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(!(tool.out + tool.err).contains(MqttBroker::Password));
    QVERIFY(!(tool.out + tool.err).contains(password.isEmpty() ? QByteArray("\x01") : password));
}

QTEST_GUILESS_MAIN(TestCliPublish)
#include "tst_cli_publish.moc"

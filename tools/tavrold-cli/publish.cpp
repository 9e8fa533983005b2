#include "publish.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "meterconnection.h"
#include "meterpublisher.h"
#include "mqttclient.h"
#include "protocol.h"
#include "stopsignal.h"
#include "toolconnection.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QObject>
#include <QSysInfo>
#include <QTimer>

namespace {

// The broker settings of the command line, with what the topics add: the
// last will on the availability topic, and the discovery status to follow.
MqttClient::Settings clientSettings(const CliArguments &arguments, const MeterPublisher &publisher,
                                    const QString &portName)
{
    MqttClient::Settings settings = arguments.broker;
    if (settings.clientId.isEmpty())
        settings.clientId =
            QStringLiteral("tavrolinde-%1-%2").arg(QSysInfo::machineHostName(), portName);
    settings.willTopic = publisher.availabilityTopic();
    settings.willPayload = "offline";
    settings.subscription = publisher.discoveryStatusTopic();
    return settings;
}

} // namespace

int publish(const CliArguments &arguments)
{
    ToolConnection meter(arguments, true);
    if (!meter.find())
        return ExitNoMeter;
    MeterConnection &connection = meter.meter();

    MqttClient client;
    MeterPublisher::Settings settings = arguments.topics;
    settings.firmwareNumber = connection.firmwareNumber();
    settings.corrected = arguments.corrected;
    MeterPublisher publisher(settings, [&client](const MeterPublisher::Message &message) {
        client.publish(message.topic, message.payload, message.qos, message.retain);
    });

    QObject::connect(&client, &MqttClient::connected, &client, [&](const QString &where) {
        Console::message(Cli::tr("Mit dem Broker verbunden: %1").arg(where));
        publisher.brokerConnected();
    });
    // A lost or refused connection, and when it is tried again.
    const auto tell = [](const QString &text) {
        return [text](const QString &reason, int retrySec) {
            Console::message(text.arg(reason).arg(retrySec));
        };
    };
    QObject::connect(&client, &MqttClient::disconnected, &client,
                     tell(Cli::tr("Keine Verbindung zum Broker: %1 (neuer Versuch in %2 s)")));
    QObject::connect(
        &client, &MqttClient::refused, &client,
        tell(Cli::tr("Der Broker lehnt die Anmeldung ab: %1 (neuer Versuch in %2 s)")));
    QObject::connect(&client, &MqttClient::messageReceived, &client,
                     [&](const QByteArray &topic, const QByteArray &payload) {
                         publisher.takeMessage(topic, payload);
                     });

    QObject::connect(&connection, &MeterConnection::reading, &connection,
                     [&publisher](const MeterStream::Reading &r) { publisher.reading(r); });
    QObject::connect(&connection, &MeterConnection::statusReceived, &connection,
                     [&publisher](const MeterStream::Status &s) { publisher.status(s); });
    // The meter gone: "offline", and the search goes on until it is back.
    QObject::connect(
        &connection, &MeterConnection::meterLost, &connection, [&publisher](const QString &port) {
            Console::message(
                Cli::tr("Verbindung zum Messgeraet an %1 verloren; suche erneut.").arg(port));
            publisher.meterLost();
        });

    // The broker is asked for once the topics are known: the last will needs
    // the id, which may come from the meter's first status.
    bool clientStarted = false;
    int result = ExitOk;
    // After every poll, and while the meter is searched for, every tenth of
    // a second: the state when its interval is over, and the broker.
    const auto step = [&] {
        publisher.tick(QDateTime::currentDateTime());
        if (clientStarted || publisher.nodeId().isEmpty())
            return;
        QString error;
        clientStarted =
            client.start(clientSettings(arguments, publisher, connection.portName()), &error);
        if (!clientStarted) {
            Console::message(Cli::tr("Broker-Einstellungen nicht verwendbar: %1").arg(error));
            result = ExitBadUsage;
            meter.quit();
        }
    };
    QTimer tick;
    tick.setInterval(StopSignal::SliceMs);
    QObject::connect(&tick, &QTimer::timeout, &connection, step);
    QObject::connect(&connection, &MeterConnection::polled, &connection, step);
    tick.start();
    meter.run();
    publisher.stop();
    client.stop();
    return result;
}

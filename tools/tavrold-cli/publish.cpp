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
// last will on the availability topic, and the discovery status and the
// command topics to follow.
MqttClient::Settings clientSettings(const CliArguments &arguments, const MeterPublisher &publisher,
                                    const QString &portName)
{
    MqttClient::Settings settings = arguments.broker;
    if (settings.clientId.isEmpty())
        settings.clientId =
            QStringLiteral("tavrolinde-%1-%2").arg(QSysInfo::machineHostName(), portName);
    settings.willTopic = publisher.availabilityTopic();
    settings.willPayload = "offline";
    settings.subscriptions = publisher.subscriptions();
    return settings;
}

// A message from the broker; a command from Home Assistant changes the
// connection's settings, and what was done or refused is said.
void takeMessage(MeterPublisher &publisher, MeterConnection &connection, const QByteArray &topic,
                 const QByteArray &payload)
{
    QString error;
    const std::optional<MeterPublisher::Command> command =
        publisher.takeMessage(topic, payload, &error);
    if (!error.isEmpty())
        Console::message(error);
    if (!command)
        return;
    switch (command->kind) {
    case MeterPublisher::Command::SetLimits:
        connection.setLimits(command->limits);
        break;
    case MeterPublisher::Command::SetMeasurement:
        connection.setMeasurement(command->measurement);
        break;
    case MeterPublisher::Command::ClearCount:
        connection.clearLimitCount();
        break;
    }
    Console::message(command->description);
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
    // With commands the offset may change at any time: the raw level always
    // stands beside.
    settings.corrected = arguments.corrected || arguments.commands;
    settings.commands = arguments.commands;
    MeterPublisher publisher(settings, [&client](const MeterPublisher::Message &message) {
        client.publish(message.topic, message.payload, message.qos, message.retain);
    });
    publisher.setControls(&connection.limits(), &connection.measurementSettings());

    QObject::connect(&client, &MqttClient::connected, &client, [&](const QString &where) {
        Console::message(Cli::tr("Mit dem Broker verbunden: %1").arg(where));
        publisher.brokerConnected();
    });
    // A lost or refused connection, and when it is tried again.
    const auto tell = [&publisher](const QString &text) {
        return [text, &publisher](const QString &reason, int retrySec) {
            publisher.brokerLost();
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
                         takeMessage(publisher, connection, topic, payload);
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

#include "publish.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "meterpublisher.h"
#include "metersession.h"
#include "mqttclient.h"
#include "protocol.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QObject>
#include <QSysInfo>

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
    MeterSession session(arguments);
    if (!session.connect())
        return ExitNoMeter;

    MqttClient client;
    MeterPublisher::Settings settings = arguments.topics;
    settings.firmwareNumber = session.firmwareNumber();
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

    // The broker is asked for once the topics are known: the last will needs
    // the id, which may come from the meter's first status.
    bool clientStarted = false;
    const auto startClient = [&] {
        if (clientStarted || publisher.nodeId().isEmpty())
            return true;
        QString error;
        clientStarted =
            client.start(clientSettings(arguments, publisher, session.portName()), &error);
        if (!clientStarted)
            Console::message(Cli::tr("Broker-Einstellungen nicht verwendbar: %1").arg(error));
        return clientStarted;
    };

    session.betweenSteps = [] { QCoreApplication::processEvents(); };
    session.send(Protocol::StreamCommand);
    int result = ExitOk;
    while (!StopSignal::requested()) {
        if (session.read(StopSignal::SliceMs, publisher) == MeterSession::Read::Lost) {
            Console::message(Cli::tr("Verbindung zum Messgeraet an %1 verloren; suche erneut.")
                                 .arg(session.portName()));
            publisher.meterLost();
            if (!session.connect(true))
                break;
            session.send(Protocol::StreamCommand);
        }
        publisher.tick(QDateTime::currentDateTime());
        if (!startClient()) {
            result = ExitBadUsage;
            break;
        }
        QCoreApplication::processEvents();
    }
    publisher.stop();
    client.stop();
    return result;
}

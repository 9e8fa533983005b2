#include "publish.h"

#include "cliarguments.h"
#include "console.h"
#include "exitcode.h"
#include "livedisplay.h"
#include "messagestream.h"
#include "meterpublisher.h"
#include "metersession.h"
#include "mqttclient.h"
#include "protocol.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QObject>
#include <QSysInfo>

#include <memory>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("tavrold-cli", text);
}

// The meter's stream as typed readings and status for the publisher: the
// one place that reads the messages, so that another stream class only
// changes this.
class StreamReader
{
public:
    explicit StreamReader(MeterPublisher &publisher) : publisher(publisher) {}

    void take(int messageType, const QString &messageText, const QDateTime &when)
    {
        switch (messageType) {
        case Protocol::Status: {
            const Protocol::StatusReport status = Protocol::readStatus(messageText);
            headType = status.headType;
            publisher.takeStatus(status, when);
            break;
        }
        case Protocol::RmsLevel:
        case Protocol::PepLevel:
            // The head in force is that of the last status, an RF head before it.
            publisher.takeReading(
                messageType == Protocol::RmsLevel ? LiveLog::Kind::Rms : LiveLog::Kind::Pep,
                Protocol::readLevel(messageText), LiveDisplay::isAudioHead(headType), when);
            break;
        default:
            break;
        }
    }

private:
    MeterPublisher &publisher;
    int headType = 0;
};

MqttClient::Settings clientSettings(const CliArguments &arguments, const MeterPublisher &publisher,
                                    const QString &portName)
{
    MqttClient::Settings settings;
    settings.host = arguments.brokerHost;
    settings.port = arguments.brokerPort;
    settings.tls = arguments.tls;
    settings.caFile = arguments.caFile;
    settings.certFile = arguments.certFile;
    settings.keyFile = arguments.keyFile;
    settings.insecure = arguments.insecure;
    settings.user = arguments.user;
    settings.password = arguments.password;
    settings.clientId =
        arguments.clientId.isEmpty()
            ? QStringLiteral("tavrolinde-%1-%2").arg(QSysInfo::machineHostName(), portName)
            : arguments.clientId;
    settings.keepAliveSec = arguments.keepAliveSec;
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
    MeterPublisher::Settings settings;
    settings.topicPrefix = arguments.topicPrefix;
    settings.id = arguments.nodeId;
    settings.discoveryPrefix = arguments.discoveryPrefix;
    settings.discovery = arguments.discovery;
    settings.intervalMs = arguments.intervalMs;
    settings.firmwareNumber = session.firmwareNumber();
    MeterPublisher publisher(settings, [&client](const MeterPublisher::Message &message) {
        client.publish(message.topic, message.payload, message.qos, message.retain);
    });

    QObject::connect(&client, &MqttClient::connected, &client, [&](const QString &where) {
        Console::message(tr("Mit dem Broker verbunden: %1").arg(where));
        publisher.brokerConnected();
    });
    QObject::connect(&client, &MqttClient::disconnected, &client,
                     [](const QString &reason, int retrySec) {
                         Console::message(tr("Keine Verbindung zum Broker: %1 (neuer Versuch in "
                                             "%2 s)")
                                              .arg(reason)
                                              .arg(retrySec));
                     });
    QObject::connect(&client, &MqttClient::refused, &client,
                     [](const QString &reason, int retrySec) {
                         Console::message(tr("Der Broker lehnt die Anmeldung ab: %1 (neuer Versuch "
                                             "in %2 s)")
                                              .arg(reason)
                                              .arg(retrySec));
                     });
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
            Console::message(tr("Broker-Einstellungen nicht verwendbar: %1").arg(error));
        return clientStarted;
    };

    session.betweenSteps = [] { QCoreApplication::processEvents(); };
    session.channel().writeString(QString::fromLatin1(Protocol::StreamCommand));
    auto reader = std::make_unique<StreamReader>(publisher);
    auto stream = std::make_unique<MessageStream>(session.channel());
    const MessageStream::Handler onMessage = [&](int type, const QString &text) {
        reader->take(type, text, QDateTime::currentDateTime());
    };
    int result = ExitOk;
    while (!StopSignal::requested()) {
        if (stream->readFor(StopSignal::SliceMs, onMessage) == MessageStream::Read::Lost) {
            Console::message(tr("Verbindung zum Messgeraet an %1 verloren; suche erneut.")
                                 .arg(session.portName()));
            publisher.meterLost();
            if (!session.connect(true))
                break;
            session.channel().writeString(QString::fromLatin1(Protocol::StreamCommand));
            reader = std::make_unique<StreamReader>(publisher);
            stream = std::make_unique<MessageStream>(session.channel());
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

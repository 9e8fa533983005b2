#ifndef MQTTBROKER_H
#define MQTTBROKER_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real mosquitto broker for one test, on free loopback ports, with its own
// configuration in a temporary folder: no anonymous access, one user
// (User/Password) in a password file made with mosquitto_passwd, a plain
// listener and a TLS listener whose certificate, for the host name
// "localhost", is signed by a CA made here with openssl. A second CA that
// signed nothing serves as the wrong one.
class MqttBroker
{
public:
    static constexpr char User[] = "bench";
    static constexpr char Password[] = "s3cret-Pw";

    MqttBroker();
    ~MqttBroker();

    // Makes the certificates and the configuration and starts the broker;
    // false with the reason in error() when something is missing.
    bool start();
    // Ends it at once (SIGKILL), as a crash or a pulled cable would.
    void kill();
    // Starts it again on the same ports.
    bool restart();

    QString error() const { return why; }
    QString folder() const { return dir.path(); }
    int port() const { return plainPort; }
    int tlsPort() const { return securePort; }
    QString caFile() const { return dir.filePath(QStringLiteral("ca.crt")); }
    QString passwordFile() const { return dir.filePath(QStringLiteral("password")); }

private:
    bool run(const QString &program, const QStringList &arguments);
    bool launch();

    QTemporaryDir dir;
    QProcess broker;
    int plainPort = 0;
    int securePort = 0;
    QString why;
};

// What a subscriber sees: mosquitto_sub on the broker's plain port, one
// message per line with its retain flag.
class MqttSubscriber
{
public:
    struct Message
    {
        bool retained = false;
        QByteArray topic;
        QByteArray payload;
    };

    MqttSubscriber(const MqttBroker &broker, const QStringList &topics);
    ~MqttSubscriber();

    // Everything received so far.
    QList<Message> messages();
    // Waits, running the event loop, until a message on `topic` (with
    // `payload`, if not null) has come after the first `skip` messages.
    bool waitFor(const QByteArray &topic, const QByteArray &payload = QByteArray(),
                 int timeoutMs = 15000, qsizetype skip = 0);

private:
    QProcess process;
    QByteArray buffer;
    QList<Message> received;
};

// Publishes one message with mosquitto_pub, as Home Assistant would.
bool mqttPublish(const MqttBroker &broker, const QString &topic, const QString &payload);

#endif // MQTTBROKER_H

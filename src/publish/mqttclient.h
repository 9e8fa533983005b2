#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

struct mosquitto;

// A connection to an MQTT broker through libmosquitto, kept up for as long as
// the object runs: it connects, logs in, sets the last will, subscribes to its
// topics and, whenever the connection fails or goes away, tries again after a
// wait that doubles from 1 s up to 60 s (60 s at once after a refused login).
// The network runs on a thread of its own, so a slow or absent broker never
// holds up the caller; what happens there arrives as queued signals on the
// object's thread. publish() may be called at any time: while there is no
// connection the message is dropped, never queued.
//
// What others send is not trusted. The client speaks MQTT 5 and tells the
// broker the largest packet it takes (MaxPacketBytes), so the broker drops
// larger messages instead of sending them (a broker without MQTT 5 is spoken
// to in MQTT 3.1.1); a payload above MaxPayloadBytes is dropped all the same
// before it is handed on. At most ReceiveMaximum incoming and SendMaximum
// outgoing messages await their acknowledgement. Received messages wait for
// the object's thread in an inbox that keeps only the latest payload per
// topic, for at most InboxTopics topics: a flood takes no more memory than
// one message per topic.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString host;
        int port = 1883;
        bool tls = false;
        QString caFile;   // empty: the system's certificate authorities
        QString certFile; // client certificate and its key, both or neither
        QString keyFile;
        bool insecure = false; // TLS without checking the server's certificate
        QString user;
        QByteArray password;
        QString clientId;
        int keepAliveSec = 30;
        QByteArray willTopic; // retained with willPayload when the connection dies
        QByteArray willPayload;
        QList<QByteArray> subscriptions; // topics to follow
    };

    static constexpr int FirstRetrySec = 1;
    static constexpr int LastRetrySec = 60;
    static constexpr int MaxPacketBytes = 4096;
    static constexpr int MaxPayloadBytes = 1024;
    static constexpr int ReceiveMaximum = 10;
    static constexpr int SendMaximum = 20;
    static constexpr int InboxTopics = 16;

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts connecting in the background; false (with *error) when the
    // settings cannot be used (a certificate file libmosquitto refuses).
    bool start(const Settings &settings, QString *error);
    // Disconnects cleanly, after what was published before has gone out.
    // Waits at most timeoutMs for the network thread.
    void stop(int timeoutMs = 3000);

    bool isConnected() const;
    // Sends one message; false when it was dropped (no connection).
    bool publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);

signals:
    void connected(const QString &description);
    // The connection went away or could not be made; retrySec until the next try.
    void disconnected(const QString &reason, int retrySec);
    // The broker refused the login (or the client id).
    void refused(const QString &reason, int retrySec);
    void messageReceived(const QByteArray &topic, const QByteArray &payload);

private:
    // Hands the inbox's messages on, on the object's thread.
    void takeInbox();

    class Worker;
    std::unique_ptr<Worker> worker;
};

#endif // MQTTCLIENT_H

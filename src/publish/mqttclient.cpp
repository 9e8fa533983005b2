#include "mqttclient.h"

#include <QMetaObject>
#include <QPointer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// libmosquitto keeps global state of its own (OpenSSL): set up once for the
// process and never torn down, as other threads may still be in it.
void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString text(const char *chars)
{
    return QString::fromLocal8Bit(chars ? chars : "");
}

} // namespace

// Lives on the network thread: connects, runs libmosquitto's loop, waits
// between tries, and hands what happens to the client's thread.
class MqttClient::Worker
{
public:
    Worker(MqttClient *client, const Settings &settings) : client(client), settings(settings) {}

    ~Worker()
    {
        // Never while the network thread may still use it.
        if (mosq && (finished || !done.valid()))
            mosquitto_destroy(mosq);
        mosquitto_property_free_all(&connectProperties);
    }

    bool setUp(QString *error);
    void run();

    // Called on the client's thread.
    void requestStop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }

    struct mosquitto *mosq = nullptr;
    std::atomic<bool> connected{false};
    std::atomic<bool> stopping{false};
    std::atomic<bool> finished{false};
    std::future<void> done;

    // Received messages, the latest payload per topic, in the order their
    // topics first came; taken by the client's thread.
    using Inbox = QList<std::pair<QByteArray, QByteArray>>;
    Inbox takeInbox()
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        return std::exchange(inbox, Inbox());
    }

private:
    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(struct mosquitto *, void *self, int level, const char *line);

    QString errorText(int rc, int savedErrno) const;
    bool waitBeforeRetry(int seconds);
    // Nothing is handed on once the client stops: it may be gone by the
    // time a network thread that was let go comes back.
    template <typename Emit> void post(Emit &&emitSignal)
    {
        if (stopping)
            return;
        if (MqttClient *target = client)
            QMetaObject::invokeMethod(target, std::forward<Emit>(emitSignal), Qt::QueuedConnection);
    }

    QPointer<MqttClient> client;
    const Settings settings;
    std::mutex mutex;
    std::condition_variable wake;
    // Set by the callbacks during one connection, on the network thread.
    int refusal = 0;
    QString lastError;
    // MQTT 5 until a broker says it does not know it.
    bool mqtt5 = true;
    mosquitto_property *connectProperties = nullptr;
    std::mutex inboxMutex;
    Inbox inbox;
};

bool MqttClient::Worker::setUp(QString *error)
{
    initLibrary();
    const QByteArray id = settings.clientId.toUtf8();
    mosq = mosquitto_new(id.constData(), true, this);
    if (!mosq) {
        *error = text(std::strerror(errno));
        return false;
    }
    mosquitto_threaded_set(mosq, true);
    mosquitto_connect_callback_set(mosq, &Worker::onConnect);
    mosquitto_message_callback_set(mosq, &Worker::onMessage);
    mosquitto_log_callback_set(mosq, &Worker::onLog);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(mosq, MOSQ_OPT_RECEIVE_MAXIMUM, ReceiveMaximum);
    mosquitto_int_option(mosq, MOSQ_OPT_SEND_MAXIMUM, SendMaximum);
    mosquitto_max_inflight_messages_set(mosq, SendMaximum); // also for MQTT 3.1.1
    // The tries are paced here, not by libmosquitto's own reconnects.
    mosquitto_reconnect_delay_set(mosq, LastRetrySec, LastRetrySec, false);

    // The broker sends nothing larger than this (MQTT 5).
    int rc = mosquitto_property_add_int32(&connectProperties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                          MaxPacketBytes);
    if (rc == MOSQ_ERR_SUCCESS && !settings.user.isEmpty()) {
        const QByteArray user = settings.user.toUtf8();
        rc = mosquitto_username_pw_set(mosq, user.constData(),
                                       settings.password.isNull() ? nullptr
                                                                  : settings.password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !settings.willTopic.isEmpty())
        rc = mosquitto_will_set(mosq, settings.willTopic.constData(),
                                int(settings.willPayload.size()), settings.willPayload.constData(),
                                1, true);
    if (rc == MOSQ_ERR_SUCCESS && settings.tls) {
        const QByteArray ca = settings.caFile.toLocal8Bit();
        const QByteArray cert = settings.certFile.toLocal8Bit();
        const QByteArray key = settings.keyFile.toLocal8Bit();
        if (ca.isEmpty())
            mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        rc = mosquitto_tls_set(mosq, ca.isEmpty() ? nullptr : ca.constData(),
                               ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                               cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc == MOSQ_ERR_SUCCESS && settings.insecure) {
            mosquitto_tls_opts_set(mosq, 0 /* SSL_VERIFY_NONE */, nullptr, nullptr);
            mosquitto_tls_insecure_set(mosq, true);
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = text(mosquitto_strerror(rc));
        return false;
    }
    return true;
}

void MqttClient::Worker::run()
{
    const QByteArray host = settings.host.toUtf8();
    int retrySec = FirstRetrySec;
    while (!stopping) {
        refusal = 0;
        lastError.clear();
        int rc =
            mosquitto_connect_bind_v5(mosq, host.constData(), settings.port, settings.keepAliveSec,
                                      nullptr, mqtt5 ? connectProperties : nullptr);
        int savedErrno = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            bool disconnectSent = false;
            while ((rc = mosquitto_loop(mosq, 100, 1)) == MOSQ_ERR_SUCCESS) {
                if (connected)
                    retrySec = FirstRetrySec;
                if (stopping && !disconnectSent) {
                    // Queued after whatever was published before the stop.
                    mosquitto_disconnect(mosq);
                    disconnectSent = true;
                }
            }
            savedErrno = errno;
            if (stopping && disconnectSent)
                rc = MOSQ_ERR_SUCCESS;
        }
        connected = false;
        if (stopping)
            break;
        if (refusal == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION && mqtt5) {
            // An older broker: MQTT 3.1.1, and large payloads are dropped
            // here rather than by the broker.
            mqtt5 = false;
            mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            const QString reason = QStringLiteral("Broker ohne MQTT 5, weiter mit MQTT 3.1.1");
            const int wait = FirstRetrySec;
            post([c = client, reason, wait] {
                if (c)
                    emit c->disconnected(reason, wait);
            });
            if (!waitBeforeRetry(FirstRetrySec))
                break;
            continue;
        }
        if (refusal != 0) {
            const QString reason =
                text(mqtt5 ? mosquitto_reason_string(refusal) : mosquitto_connack_string(refusal));
            post([c = client, reason] {
                if (c)
                    emit c->refused(reason, LastRetrySec);
            });
            retrySec = LastRetrySec;
        } else {
            const QString reason = errorText(rc, savedErrno);
            const int wait = retrySec;
            post([c = client, reason, wait] {
                if (c)
                    emit c->disconnected(reason, wait);
            });
        }
        if (!waitBeforeRetry(retrySec))
            break;
        retrySec = std::min(retrySec * 2, int(LastRetrySec));
    }
    finished = true;
}

bool MqttClient::Worker::waitBeforeRetry(int seconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return bool(stopping); });
}

QString MqttClient::Worker::errorText(int rc, int savedErrno) const
{
    if (rc == MOSQ_ERR_ERRNO)
        return text(std::strerror(savedErrno));
    if (!lastError.isEmpty())
        return text(mosquitto_strerror(rc)) + QStringLiteral(" (") + lastError + QLatin1Char(')');
    return text(mosquitto_strerror(rc));
}

void MqttClient::Worker::onConnect(struct mosquitto *mosq, void *self, int rc)
{
    auto *worker = static_cast<Worker *>(self);
    if (rc != 0) {
        worker->refusal = rc;
        return;
    }
    for (const QByteArray &topic : worker->settings.subscriptions)
        mosquitto_subscribe(mosq, nullptr, topic.constData(), 1);
    worker->connected = true;
    QString description =
        QStringLiteral("%1:%2").arg(worker->settings.host).arg(worker->settings.port);
    if (worker->settings.tls)
        description += worker->settings.insecure
                           ? QStringLiteral(" (TLS, Zertifikat NICHT geprueft: --insecure)")
                           : QStringLiteral(" (TLS, Zertifikat geprueft)");
    worker->post([c = worker->client, description] {
        if (c)
            emit c->connected(description);
    });
}

void MqttClient::Worker::onMessage(struct mosquitto *, void *self,
                                   const struct mosquitto_message *message)
{
    auto *worker = static_cast<Worker *>(self);
    // The broker's message is not trusted: a payload larger than any the
    // program expects is dropped, not cut short (the rest of a cut payload
    // could still read as a value); topic and payload are copied with the
    // lengths it gave.
    if (!message->topic || message->payloadlen < 0 || message->payloadlen > MaxPayloadBytes)
        return;
    const QByteArray topic(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(worker->inboxMutex);
        wasEmpty = worker->inbox.isEmpty();
        const auto same = std::find_if(worker->inbox.begin(), worker->inbox.end(),
                                       [&](const auto &entry) { return entry.first == topic; });
        if (same != worker->inbox.end())
            same->second = payload;
        else if (worker->inbox.size() < InboxTopics)
            worker->inbox.append({topic, payload});
    }
    // One call on its way at a time: it takes whatever has come till then.
    if (wasEmpty)
        worker->post([c = worker->client] {
            if (c)
                c->takeInbox();
        });
}

void MqttClient::Worker::onLog(struct mosquitto *, void *self, int level, const char *line)
{
    if (level & MOSQ_LOG_ERR)
        static_cast<Worker *>(self)->lastError = text(line);
}

MqttClient::MqttClient(QObject *parent) : QObject(parent) {}

MqttClient::~MqttClient()
{
    stop();
}

bool MqttClient::start(const Settings &settings, QString *error)
{
    stop();
    auto next = std::make_unique<Worker>(this, settings);
    if (!next->setUp(error))
        return false;
    worker = std::move(next);
    Worker *w = worker.get();
    w->done = std::async(std::launch::async, [w] { w->run(); });
    return true;
}

void MqttClient::stop(int timeoutMs)
{
    if (!worker)
        return;
    worker->requestStop();
    if (worker->done.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        // A broker that does not answer a connect in time: the thread and its
        // connection are let go with the process rather than waited for.
        Worker *stuck = worker.release();
        std::thread([stuck] {
            stuck->done.wait();
            delete stuck;
        }).detach();
        return;
    }
    worker.reset();
}

void MqttClient::takeInbox()
{
    if (!worker)
        return;
    for (const auto &[topic, payload] : worker->takeInbox())
        emit messageReceived(topic, payload);
}

bool MqttClient::isConnected() const
{
    return worker && worker->connected;
}

bool MqttClient::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    if (!isConnected())
        return false;
    return mosquitto_publish(worker->mosq, nullptr, topic.constData(), int(payload.size()),
                             payload.constData(), qos, retain) == MOSQ_ERR_SUCCESS;
}

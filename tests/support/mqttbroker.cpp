#include "mqttbroker.h"

#include <QFile>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port nobody listens on now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool accepting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool ok =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

QStringList login(const MqttBroker &broker)
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"), QString::number(broker.port()),
            QStringLiteral("-u"), QString::fromLatin1(MqttBroker::User),
            QStringLiteral("-P"), QString::fromLatin1(MqttBroker::Password)};
}

} // namespace

MqttBroker::MqttBroker() = default;

MqttBroker::~MqttBroker()
{
    kill();
}

bool MqttBroker::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        why = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll()) +
              process.errorString();
        return false;
    }
    return true;
}

bool MqttBroker::start()
{
    const auto sh = [this](const QString &script) {
        return run(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    };
    // Two CAs; the server's certificate for "localhost" signed by the first.
    if (!sh(QStringLiteral(
            "set -e; for ca in ca wrong-ca; do "
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj \"/CN=Test $ca\" "
            "-keyout $ca.key -out $ca.crt 2>/dev/null; done; "
            "openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key "
            "-out server.csr 2>/dev/null; "
            "printf 'subjectAltName=DNS:localhost\\n' > san.ext; "
            "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
            "-days 2 -extfile san.ext -out server.crt 2>/dev/null")) ||
        !run(QStringLiteral("mosquitto_passwd"),
             {QStringLiteral("-c"), QStringLiteral("-b"), dir.filePath(QStringLiteral("users")),
              QString::fromLatin1(User), QString::fromLatin1(Password)}))
        return false;
    QFile password(passwordFile());
    if (!password.open(QIODevice::WriteOnly) || password.write(Password) < 0)
        return false;
    password.close();
    plainPort = freePort();
    securePort = freePort();
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("user root\n"
                                "persistence false\n"
                                "per_listener_settings false\n"
                                "allow_anonymous false\n"
                                "password_file %1/users\n"
                                "log_dest stderr\n"
                                "listener %2 127.0.0.1\n"
                                "listener %3 127.0.0.1\n"
                                "cafile %1/ca.crt\n"
                                "certfile %1/server.crt\n"
                                "keyfile %1/server.key\n")
                     .arg(dir.path())
                     .arg(plainPort)
                     .arg(securePort)
                     .toUtf8());
    config.close();
    return launch();
}

bool MqttBroker::launch()
{
    broker.setProcessChannelMode(QProcess::MergedChannels);
    broker.setStandardOutputFile(dir.filePath(QStringLiteral("broker.log")), QIODevice::Append);
    broker.start(QStringLiteral("mosquitto"),
                 {QStringLiteral("-c"), dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!broker.waitForStarted(5000)) {
        why = QStringLiteral("mosquitto did not start: ") + broker.errorString();
        return false;
    }
    if (!QTest::qWaitFor([this] { return accepting(plainPort) && accepting(securePort); }, 10000)) {
        why =
            QStringLiteral("mosquitto does not listen on %1 and %2").arg(plainPort).arg(securePort);
        return false;
    }
    return true;
}

void MqttBroker::kill()
{
    if (broker.state() != QProcess::NotRunning) {
        broker.kill();
        broker.waitForFinished(5000);
    }
}

bool MqttBroker::restart()
{
    kill();
    return launch();
}

MqttSubscriber::MqttSubscriber(const MqttBroker &broker, const QStringList &topics)
{
    QStringList arguments = login(broker);
    arguments << QStringLiteral("-F") << QStringLiteral("%r %t %p");
    for (const QString &topic : topics)
        arguments << QStringLiteral("-t") << topic;
    process.start(QStringLiteral("mosquitto_sub"), arguments);
    process.waitForStarted(5000);
}

MqttSubscriber::~MqttSubscriber()
{
    process.kill();
    process.waitForFinished(5000);
}

QList<MqttSubscriber::Message> MqttSubscriber::messages()
{
    buffer += process.readAllStandardOutput();
    qsizetype end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 1);
        const qsizetype space = line.indexOf(' ', 2);
        Message message;
        message.retained = line.startsWith('1');
        message.topic = line.mid(2, space < 0 ? -1 : space - 2);
        message.payload = space < 0 ? QByteArray() : line.mid(space + 1);
        received.append(message);
    }
    return received;
}

bool MqttSubscriber::waitFor(const QByteArray &topic, const QByteArray &payload, int timeoutMs,
                             qsizetype skip)
{
    return QTest::qWaitFor(
        [&] {
            const QList<Message> all = messages();
            for (qsizetype i = skip; i < all.size(); ++i)
                if (all[i].topic == topic && (payload.isNull() || all[i].payload == payload))
                    return true;
            return false;
        },
        timeoutMs);
}

bool mqttPublish(const MqttBroker &broker, const QString &topic, const QString &payload)
{
    QStringList arguments = login(broker);
    arguments << QStringLiteral("-t") << topic << QStringLiteral("-m") << payload;
    return QProcess::execute(QStringLiteral("mosquitto_pub"), arguments) == 0;
}

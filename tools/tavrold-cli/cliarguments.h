#ifndef CLIARGUMENTS_H
#define CLIARGUMENTS_H

#include "levellimits.h"
#include "livelog.h"
#include "measurement.h"
#ifdef TAVROLD_PUBLISH
#include "meterpublisher.h"
#include "mqttclient.h"
#endif

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTime>

// The tool's command line: one command (probe, live, download, publish,
// check) and its
// options, checked before anything touches a port.
struct CliArguments
{
    Q_DECLARE_TR_FUNCTIONS(CliArguments)

public:
    enum class Command { None, Probe, Live, Download, Publish, Check, Help, Version };
    // check: the results taken when --count is not given.
    static constexpr qint64 DefaultCheckCount = 10;
    using Format = LiveLog::Format;

    Command command = Command::None;
    QString port;         // empty: search COM1 to COM20
    qint64 timeoutMs = 0; // 0: one pass over the ports
    bool quiet = false;   // no messages but errors
    Format format = Format::Csv;
    qint64 durationMs = 0;     // 0: no time limit
    qint64 count = 0;          // 0: no line limit (check: the results to take)
    QString output;            // the CSV file of a download; "-" for standard output
    QTime start{0, 0, 0};      // the recording's start time
    bool partial = false;      // an incomplete download is saved all the same
    bool decimalComma = false; // CSV numbers with ',' as decimal point

    // live and publish: offset, head tables, average and reference. A table
    // given without a head is in every head's place: the head in force is
    // known only from the meter's first status.
    MeasurementSettings measurement;
    // A correction option was given: the live log carries the raw level.
    bool corrected = false;
    // live, publish and check: the limits the results of one kind are
    // checked against; none set: nothing is checked.
    LimitSettings limits;
    // publish: Home Assistant may set the limits and the offset.
    bool commands = false;

#ifdef TAVROLD_PUBLISH
    // publish: the broker, the login (the password from --password-file or
    // TAVROLD_MQTT_PASSWORD, never the command line; an empty client id:
    // tavrolinde-<host>-<port>) and the topics (an empty id: meter<number>).
    MqttClient::Settings broker;
    MeterPublisher::Settings topics;
#endif
};

// `arguments` as main() gets them, the program's name first. False with a
// message naming what is wrong in *error.
bool parseArguments(const QStringList &arguments, CliArguments *parsed, QString *error);

QString helpText();
QString versionText();

#endif // CLIARGUMENTS_H

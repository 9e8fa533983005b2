#include "cliarguments.h"
#include "identity.h"

#include "livedisplay.h"
#include "portscan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// An option as the user wrote it: "-o", "--count".
QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Sets the message of a refused command line; false, for returning it.
bool fail(QString *error, const QString &text)
{
    *error = text;
    return false;
}

using Command = CliArguments::Command;

// Every option: its names, the name of its value (none: a switch) and the
// commands it belongs to (none: all of them).
struct Option
{
    QStringList names;
    QString valueName;
    QList<Command> commands;
};

const QList<Option> &options()
{
    constexpr Command Live = Command::Live, Download = Command::Download,
                      Publish = Command::Publish, Check = Command::Check;
    static const QList<Option> all = {{{"port"}, "COMn", {}},
                                      {{"timeout"}, "S", {}},
                                      {{"q", "quiet"}, "", {}},
                                      {{"h", "help"}, "", {}},
                                      {{"version"}, "", {}},
                                      {{"format"}, "csv|jsonl", {Live}},
                                      {{"duration"}, "S", {Live}},
                                      {{"count"}, "N", {Live, Check}},
                                      {{"offset"}, "DB", {Live, Publish, Check}},
                                      {{"correction"}, "[KOPF=]DATEI", {Live, Publish, Check}},
                                      {{"frequency"}, "MHZ", {Live, Publish, Check}},
                                      {{"average"}, "N", {Live, Publish, Check}},
                                      {{"reference"}, "DB", {Live, Check}},
                                      {{"relative"}, "", {Live, Check}},
                                      {{"limit-low"}, "DB", {Live, Publish, Check}},
                                      {{"limit-high"}, "DB", {Live, Publish, Check}},
                                      {{"limit-kind"}, "rms|pep", {Live, Publish, Check}},
                                      {{"hysteresis"}, "DB", {Live, Publish, Check}},
                                      {{"o", "output"}, "DATEI", {Download}},
                                      {{"start"}, "HH:MM:SS", {Download}},
                                      {{"partial"}, "", {Download}},
                                      {{"decimal-comma"}, "", {Live, Download, Publish}},
                                      {{"broker"}, "URL", {Publish}},
                                      {{"user"}, "NAME", {Publish}},
                                      {{"password-file"}, "FILE", {Publish}},
                                      {{"ca-file"}, "FILE", {Publish}},
                                      {{"cert"}, "FILE", {Publish}},
                                      {{"key"}, "FILE", {Publish}},
                                      {{"insecure"}, "", {Publish}},
                                      {{"client-id"}, "ID", {Publish}},
                                      {{"keepalive"}, "S", {Publish}},
                                      {{"topic-prefix"}, "PREFIX", {Publish}},
                                      {{"id"}, "ID", {Publish}},
                                      {{"discovery-prefix"}, "PREFIX", {Publish}},
                                      {{"no-discovery"}, "", {Publish}},
                                      {{"interval"}, "S", {Publish}},
                                      {{"commands"}, "", {Publish}}};
    return all;
}

// Whether an option belongs to a command.
bool belongsTo(const QString &name, Command command)
{
    for (const Option &option : options())
        if (option.names.contains(name))
            return option.commands.isEmpty() || option.commands.contains(command);
    return true;
}

// The options that correct the live levels.
const char *const MeasurementOptions[] = {"offset",  "correction", "frequency",
                                          "average", "reference",  "relative"};

// Greater than 0, for a range that leaves 0 out.
constexpr double AboveZero = std::numeric_limits<double>::denorm_min();

// How a number option is written and kept.
enum class NumberKind {
    Whole,   // a whole number
    Seconds, // seconds, kept as milliseconds rounded up
    Decimal  // a decimal such as dB or MHz, kept as it is
};

// A number option, when it is set, from least to most ('.' as decimal point,
// whatever the locale). Out of range it is refused with `message`, which
// names the value (%1) and the option (%2).
template <typename Number>
bool readNumber(const QCommandLineParser &parser, const char *name, NumberKind kind, double least,
                double most, Number *value, const QString &message, QString *error)
{
    if (!parser.isSet(name))
        return true;
    const QString text = parser.value(name);
    bool ok = false;
    const bool whole = kind == NumberKind::Whole;
    const qint64 integer = whole ? text.toLongLong(&ok, 10) : 0;
    const double number = whole ? double(integer) : text.toDouble(&ok);
    if (!ok || !(number >= least && number <= most)) // not a number fails too
        return fail(error, message.arg(text, dashed(name)));
    if (kind == NumberKind::Seconds)
        *value = Number(qint64(std::ceil(number * 1000.0)));
    else if (kind == NumberKind::Decimal)
        *value = Number(number);
    else
        *value = Number(integer);
    return true;
}

bool readCommand(const QStringList &words, CliArguments *parsed, QString *error)
{
    if (words.isEmpty())
        return fail(
            error, CliArguments::tr("Kein Befehl angegeben (probe, live, download oder publish)."));
    static const QHash<QString, Command> commands = {
        {"probe", Command::Probe},     {"live", Command::Live},   {"download", Command::Download},
        {"publish", Command::Publish}, {"check", Command::Check}, {"help", Command::Help}};
    const Command command = commands.value(words.first(), Command::None);
#ifndef TAVROLD_PUBLISH
    if (words.first() == QLatin1String("publish"))
        return fail(error,
                    CliArguments::tr(
                        "Dieses tavrold-cli ist ohne \"publish\" gebaut (ohne libmosquitto)."));
#endif
    if (command == Command::None)
        return fail(error, CliArguments::tr(
                               "Unbekannter Befehl \"%1\" (probe, live, download oder publish).")
                               .arg(words.first()));
    if (words.size() > 1)
        return fail(error, CliArguments::tr("Unerwartetes Argument \"%1\".").arg(words.at(1)));
    parsed->command = command;
    return true;
}

#ifdef TAVROLD_PUBLISH
// mqtt://host[:port] or mqtts://host[:port]; a login in the address would
// show in `ps`, so there is none.
bool readBroker(const QString &text, MqttClient::Settings *broker, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    QString why;
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty())
        why = CliArguments::tr("erwartet mqtt://HOST[:PORT] oder mqtts://HOST[:PORT]");
    else if (!url.userInfo().isEmpty())
        why = CliArguments::tr(
            "Name und Passwort gehoeren in --user und --password-file, nicht in die Adresse");
    else if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        why = CliArguments::tr("eine Adresse ohne Pfad");
    if (!why.isEmpty())
        return fail(error, CliArguments::tr("Ungueltiger Broker \"%1\": %2.").arg(text, why));
    broker->tls = scheme == QLatin1String("mqtts");
    broker->host = url.host();
    broker->port = url.port(broker->tls ? 8883 : 1883);
    return true;
}

// A file the program must read: there and readable, checked before anything
// is opened.
bool readableFile(const QCommandLineParser &parser, const char *name, QString *path, QString *error)
{
    if (!parser.isSet(name))
        return true;
    *path = parser.value(name);
    const QFileInfo info(*path);
    if (info.isFile() && info.isReadable())
        return true;
    *error = CliArguments::tr("Die Datei \"%1\" fuer %2 kann nicht gelesen werden.")
                 .arg(*path, dashed(name));
    return false;
}

// TAVROLD_MQTT_PASSWORD, taken once and then wiped and removed from the
// environment, whether it is used or not: no child and no reader of
// /proc/PID/environ finds it later. Null when it is not set.
QByteArray takeEnvironmentPassword()
{
    char *value = std::getenv("TAVROLD_MQTT_PASSWORD");
    if (!value)
        return QByteArray();
    const QByteArray password(value);
    std::memset(value, 0, std::strlen(value));
    qunsetenv("TAVROLD_MQTT_PASSWORD");
    return password;
}

// The password: the first line of --password-file, else the environment's
// TAVROLD_MQTT_PASSWORD. Never taken from the command line, never shown.
bool readPassword(const QCommandLineParser &parser, MqttClient::Settings *broker, QString *error)
{
    const QByteArray environment = takeEnvironmentPassword();
    QString file;
    if (!readableFile(parser, "password-file", &file, error))
        return false;
    if (!file.isEmpty()) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return fail(
                error,
                CliArguments::tr("Die Passwortdatei \"%1\" kann nicht gelesen werden.").arg(file));
        broker->password = in.readLine(4096);
        while (broker->password.endsWith('\n') || broker->password.endsWith('\r'))
            broker->password.chop(1);
    } else {
        broker->password = environment; // null: no password
    }
    if (!broker->password.isNull() && broker->user.isEmpty())
        return fail(error, CliArguments::tr("Ein Passwort braucht --user NAME."));
    return true;
}

bool readPublishValues(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    MqttClient::Settings &broker = parsed->broker;
    MeterPublisher::Settings &topics = parsed->topics;
    if (!readBroker(parser.isSet("broker") ? parser.value("broker") : "mqtt://localhost", &broker,
                    error))
        return false;
    broker.user = parser.value("user");
    if (!readPassword(parser, &broker, error) ||
        !readableFile(parser, "ca-file", &broker.caFile, error) ||
        !readableFile(parser, "cert", &broker.certFile, error) ||
        !readableFile(parser, "key", &broker.keyFile, error))
        return false;
    broker.insecure = parser.isSet("insecure");
    if (broker.certFile.isEmpty() != broker.keyFile.isEmpty())
        return fail(error, CliArguments::tr("--cert und --key gehoeren zusammen."));
    if (!broker.tls && (broker.insecure || !broker.caFile.isEmpty() || !broker.certFile.isEmpty()))
        return fail(
            error,
            CliArguments::tr("--ca-file, --cert, --key und --insecure gelten nur fuer mqtts://."));
    broker.clientId = parser.value("client-id");
    if (parser.isSet("client-id") &&
        (broker.clientId.isEmpty() || broker.clientId.toUtf8().size() > 100))
        return fail(error, CliArguments::tr("Ungueltige --client-id: 1 bis 100 Bytes."));
    if (!readNumber(parser, "keepalive", NumberKind::Whole, 5, 65535, &broker.keepAliveSec,
                    CliArguments::tr("Ungueltige Zeit \"%1\" fuer %2: erwartet 5 bis 65535 "
                                     "Sekunden."),
                    error) ||
        !readNumber(parser, "interval", NumberKind::Seconds, 0, 86400, &topics.intervalMs,
                    CliArguments::tr("Ungueltige Zeit \"%1\" fuer %2: erwartet 0 bis 86400 "
                                     "Sekunden."),
                    error))
        return false;
    topics.discovery = !parser.isSet("no-discovery");
    const std::pair<const char *, QString *> parts[] = {
        {"topic-prefix", &topics.topicPrefix},
        {"id", &topics.id},
        {"discovery-prefix", &topics.discoveryPrefix}};
    for (const auto &[name, part] : parts) {
        if (!parser.isSet(name))
            continue;
        const QString value = parser.value(name);
        const QString why = MeterPublisher::topicPartError(value, part == &topics.id);
        if (!why.isEmpty())
            return fail(error, CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: %3.")
                                   .arg(value, dashed(name), why));
        *part = value;
    }
    return true;
}
#endif

// A head as --correction names it: its code 0 to 5, or its name without
// blanks in any case ("ad8307nf"); -1 for anything else.
int headCode(const QString &text)
{
    bool number = false;
    const int code = text.toInt(&number, 10);
    if (number)
        return code >= 0 && code < MeasurementSettings::HeadCount ? code : -1;
    const QString name = text.toUpper();
    if (name == QLatin1String("AD8361"))
        return 5;
    for (int head : {0, 1, 2, 3, 5})
        if (Protocol::withoutBlanks(LiveDisplay::headName(head)).toUpper() == name)
            return head;
    return -1;
}

// Every --correction: "FILE" for every head (the head in force is not known
// before the meter's first status), "HEAD=FILE" for one, which wins over it.
bool readTables(const QCommandLineParser &parser, MeasurementSettings *measurement, QString *error)
{
    std::optional<CorrectionTable> everyHead;
    std::array<bool, MeasurementSettings::HeadCount> named{};
    for (const QString &value : parser.values("correction")) {
        int head = -1;
        QString path = value;
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        if (equals > 0 && !QFileInfo::exists(value)) {
            head = headCode(value.left(equals));
            if (head < 0)
                return fail(error,
                            CliArguments::tr("Unbekannter Messkopf \"%1\" fuer --correction: "
                                             "erwartet 0 bis 5 oder AD8362, AD8362NF, "
                                             "AD8307, AD8307NF, AD8361.")
                                .arg(value.left(equals)));
            path = value.mid(equals + 1);
        }
        if ((head < 0 && everyHead) || (head >= 0 && named[std::size_t(head)]))
            return fail(error,
                        CliArguments::tr("Zwei Tabellen fuer denselben Messkopf in --correction."));
        QString why;
        const std::optional<CorrectionTable> table = CorrectionTable::load(path, &why);
        if (!table)
            return fail(error, CliArguments::tr("Ungueltige Korrekturtabelle \"%1\" fuer "
                                                "--correction: %2.")
                                   .arg(path, why));
        if (head < 0) {
            everyHead = table;
            continue;
        }
        named[std::size_t(head)] = true;
        measurement->tables[std::size_t(head)] = *table;
    }
    for (int head = 0; head < MeasurementSettings::HeadCount; ++head)
        if (everyHead && !named[std::size_t(head)])
            measurement->tables[std::size_t(head)] = *everyHead;
    return true;
}

// The corrections of live and publish; nothing set: levels as the meter
// sends them.
bool readMeasurement(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    // The ranges the messages name.
    static_assert(MeasurementSettings::OffsetLimitDb == 100.0 &&
                  LiveDisplay::LevelLimitDb == 200.0 &&
                  MeasurementSettings::FrequencyLimitMhz == 100000.0 &&
                  MeasurementSettings::AverageLimit == 1000);
    MeasurementSettings &measurement = parsed->measurement;
    const double offset = MeasurementSettings::OffsetLimitDb;
    const double level = LiveDisplay::LevelLimitDb;
    double reference = 0.0;
    if (!readNumber(parser, "offset", NumberKind::Decimal, -offset, offset, &measurement.offsetDb,
                    CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: erwartet -100 bis +100 dB."),
                    error) ||
        !readNumber(parser, "frequency", NumberKind::Decimal, 0,
                    MeasurementSettings::FrequencyLimitMhz, &measurement.frequencyMhz,
                    CliArguments::tr("Ungueltige Frequenz \"%1\" fuer %2: erwartet 0 bis 100000 "
                                     "MHz."),
                    error) ||
        !readNumber(parser, "average", NumberKind::Whole, 1, MeasurementSettings::AverageLimit,
                    &measurement.average,
                    CliArguments::tr("Ungueltige Anzahl \"%1\" fuer %2: erwartet eine ganze Zahl "
                                     "von 1 bis 1000."),
                    error) ||
        !readNumber(parser, "reference", NumberKind::Decimal, -level, level, &reference,
                    CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: erwartet -200 bis +200 dB."),
                    error))
        return false;
    if (parser.isSet("correction") && !parser.isSet("frequency"))
        return fail(error, CliArguments::tr("--correction braucht die Frequenz: --frequency MHZ."));
    if (!readTables(parser, &measurement, error))
        return false;
    if (parser.isSet("reference"))
        measurement.reference.fill(reference);
    measurement.relative = parser.isSet("relative") || parser.isSet("reference");
    for (const char *name : MeasurementOptions)
        parsed->corrected = parsed->corrected || parser.isSet(name);
    return true;
}

// The limits of live, publish and check; none set: nothing is checked.
bool readLimits(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    static_assert(LimitSettings::LevelLimitDb == 200.0 && LimitSettings::HysteresisLimitDb == 20.0);
    LimitSettings &limits = parsed->limits;
    const double level = LimitSettings::LevelLimitDb;
    const QString levelMessage =
        CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: erwartet -200 bis +200 dB.");
    double low = 0.0;
    double high = 0.0;
    if (!readNumber(parser, "limit-low", NumberKind::Decimal, -level, level, &low, levelMessage,
                    error) ||
        !readNumber(parser, "limit-high", NumberKind::Decimal, -level, level, &high, levelMessage,
                    error) ||
        !readNumber(parser, "hysteresis", NumberKind::Decimal, 0.0,
                    LimitSettings::HysteresisLimitDb, &limits.hysteresisDb,
                    CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: erwartet 0 bis 20 dB."),
                    error))
        return false;
    if (parser.isSet("limit-low"))
        limits.low = low;
    if (parser.isSet("limit-high"))
        limits.high = high;
    if (parser.isSet("limit-kind")) {
        const QString value = parser.value("limit-kind");
        const std::optional<Protocol::LevelKind> kind = LimitSettings::kindFromName(value);
        if (!kind)
            return fail(
                error,
                CliArguments::tr("Ungueltige Art \"%1\" fuer --limit-kind: erwartet rms oder pep.")
                    .arg(value));
        limits.kind = *kind;
    }
    if (limits.low && limits.high && *limits.low > *limits.high)
        return fail(error, CliArguments::tr("--limit-low %1 liegt ueber --limit-high %2.")
                               .arg(parser.value("limit-low"), parser.value("limit-high")));
    if (parsed->command == Command::Check) {
        if (!limits.isSet())
            return fail(error,
                        CliArguments::tr("\"check\" braucht einen Grenzwert: --limit-low oder "
                                         "--limit-high."));
        if (parsed->count == 0)
            parsed->count = CliArguments::DefaultCheckCount;
    }
    return true;
}

bool readValues(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    if (parser.isSet("port")) {
        const QString value = parser.value("port");
        const QStringList ports = PortScan::portNames();
        const qsizetype at = ports.indexOf(value.toUpper());
        if (at < 0)
            return fail(error,
                        CliArguments::tr("Ungueltiger Port \"%1\": erlaubt sind COM1 bis COM20.")
                            .arg(value));
        parsed->port = ports.at(at);
    }
    const QString time =
        CliArguments::tr("Ungueltige Zeit \"%1\" fuer %2: erwartet Sekunden groesser 0.");
    if (!readNumber(parser, "timeout", NumberKind::Seconds, AboveZero, 1e9, &parsed->timeoutMs,
                    time, error) ||
        !readNumber(parser, "duration", NumberKind::Seconds, AboveZero, 1e9, &parsed->durationMs,
                    time, error) ||
        !readNumber(parser, "count", NumberKind::Whole, 1,
                    double(std::numeric_limits<qint64>::max()), &parsed->count,
                    CliArguments::tr("Ungueltige Anzahl \"%1\" fuer %2: erwartet eine ganze Zahl "
                                     "groesser 0."),
                    error))
        return false;
    if (parser.isSet("format")) {
        static const QHash<QString, CliArguments::Format> formats = {
            {"csv", CliArguments::Format::Csv},
            {"jsonl", CliArguments::Format::JsonLines},
            {"influx", CliArguments::Format::Influx}};
        const QString value = parser.value("format");
        const auto found = formats.constFind(value);
        if (found == formats.cend())
            return fail(error, CliArguments::tr(
                                   "Ungueltiges Format \"%1\": erwartet csv, jsonl oder influx.")
                                   .arg(value));
        parsed->format = *found;
    }
    if (parser.isSet("start")) {
        static const QRegularExpression shape(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
        const QString value = parser.value("start");
        parsed->start = QTime::fromString(value, QStringLiteral("HH:mm:ss"));
        if (!shape.match(value).hasMatch() || !parsed->start.isValid())
            return fail(error, CliArguments::tr(
                                   "Ungueltige Startzeit \"%1\": erwartet HH:MM:SS (00:00:00 bis "
                                   "23:59:59).")
                                   .arg(value));
    }
    if (parser.isSet("output")) {
        parsed->output = parser.value("output");
        if (parsed->output.isEmpty())
            return fail(error, CliArguments::tr("Leerer Dateiname fuer -o."));
    }
    parsed->quiet = parser.isSet("quiet");
    parsed->partial = parser.isSet("partial");
    parsed->decimalComma = parser.isSet("decimal-comma");
    parsed->commands = parser.isSet("commands");
    if (parsed->decimalComma && parsed->format != CliArguments::Format::Csv)
        return fail(error,
                    CliArguments::tr("--decimal-comma gilt nur fuer CSV, nicht fuer --format %1.")
                        .arg(parser.value("format")));
    if (parsed->command == Command::Download && parsed->output.isEmpty())
        return fail(error, CliArguments::tr("\"download\" braucht die Zieldatei: -o DATEI.csv"));
    if (!readMeasurement(parser, parsed, error) || !readLimits(parser, parsed, error))
        return false;
#ifdef TAVROLD_PUBLISH
    if (parsed->command == Command::Publish)
        return readPublishValues(parser, parsed, error);
#endif
    return true;
}

} // namespace

bool parseArguments(const QStringList &arguments, CliArguments *parsed, QString *error)
{
    *parsed = CliArguments();
    QCommandLineParser parser;
    for (const Option &option : options())
        parser.addOption(QCommandLineOption(option.names, QString(), option.valueName));
    if (!parser.parse(arguments)) {
        // Qt's own reasons are English; the tool speaks German.
        if (!parser.unknownOptionNames().isEmpty())
            return fail(error, CliArguments::tr("Unbekannte Option \"%1\".")
                                   .arg(dashed(parser.unknownOptionNames().first())));
        static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
        const QString name = quoted.match(parser.errorText()).captured(1);
        *error = parser.errorText().startsWith(QLatin1String("Missing"))
                     ? CliArguments::tr("Die Option %1 braucht einen Wert.").arg(name)
                     : CliArguments::tr("Die Option %1 nimmt keinen Wert.").arg(name);
        return false;
    }
    // Help and version win over everything else on the line.
    if (parser.isSet("help") || parser.isSet("version")) {
        parsed->command = parser.isSet("help") ? Command::Help : Command::Version;
        return true;
    }
    if (!readCommand(parser.positionalArguments(), parsed, error))
        return false;
    if (parsed->command == Command::Help)
        return true;
    for (const QString &name : parser.optionNames()) {
        if (belongsTo(name, parsed->command))
            continue;
        QString text = CliArguments::tr("Die Option %1 gilt nicht fuer \"%2\".")
                           .arg(dashed(name), parser.positionalArguments().first());
        if (parsed->command == Command::Publish &&
            (name == QLatin1String("relative") || name == QLatin1String("reference")))
            text += QLatin1Char(' ') + CliArguments::tr("Ein Dashboard braucht absolute Pegel.");
        return fail(error, text);
    }
    return readValues(parser, parsed, error);
}

QString versionText()
{
    return QStringLiteral("tavrold-cli ") + Identity::versionText();
}

QString helpText()
{
    return CliArguments::tr(
        "Aufruf: tavrold-cli BEFEHL [OPTIONEN]\n"
        "\n"
        "Tavrolinde ohne Fenster: sucht das Messgeraet an COM1 bis COM20, schreibt seine\n"
        "Messwerte mit und laedt seine Aufzeichnung als CSV-Datei herunter.\n"
        "\n"
        "Befehle:\n"
        "  probe                  Messgeraet suchen; gibt Port und Firmware aus\n"
        "                         (\"COM3 FW:2.xx\")\n"
        "  live                   laufende Messwerte zeilenweise auf die Standardausgabe\n"
        "  publish                laufende Messwerte an einen MQTT-Broker senden\n"
        "  check                  N Werte gegen die Grenzwerte pruefen: Rueckgabewert\n"
        "                         0, wenn alle innerhalb lagen, sonst 5\n"
        "  download -o DATEI.csv  Aufzeichnung herunterladen und als CSV speichern\n"
        "\n"
        "Optionen fuer alle Befehle:\n"
        "  --port COMn            nur diesen Port fragen (COM1 bis COM20)\n"
        "  --timeout S            S Sekunden lang suchen (Vorgabe: ein Durchgang)\n"
        "  -q, --quiet            keine Meldungen ausser Fehlern\n"
        "  -h, --help             diese Hilfe\n"
        "  --version              Version ausgeben\n"
        "\n"
        "live:\n"
        "  --format csv|jsonl|influx  Ausgabeformat (Vorgabe: csv; influx: InfluxDB-\n"
        "                         Zeilenprotokoll, Zeit in Nanosekunden seit 1970)\n"
        "  --duration S           nach S Sekunden enden\n"
        "  --count N              nach N Zeilen enden\n"
        "  --decimal-comma        CSV mit Dezimalkomma (fuer deutsche Tabellen)\n"
        "  Spalten: time;kind;level;unit;voltage_V;power_W;head;number;max_level_dBm;\n"
        "  attenuator_dB;recording (kind rms, pep oder status; unit dBm oder dBV;\n"
        "  power_W leer bei NF-Koepfen). Ctrl-C oder SIGTERM beenden sauber.\n"
        "\n"
        "Korrekturen (live und publish; Reihenfolge: Tabelle und Offset, Mittel, Bezug):\n"
        "  --offset DB            zu jedem Pegel addieren, -100 bis +100 (z.B. 40 fuer\n"
        "                         ein 40-dB-Daempfungsglied vor dem Messkopf)\n"
        "  --correction [KOPF=]DATEI  Korrekturtabelle (Zeilen MHz;dB) fuer KOPF: 0 bis 5\n"
        "                         oder AD8362, AD8362NF, AD8307, AD8307NF, AD8361;\n"
        "                         mehrfach fuer mehrere Koepfe. Ohne KOPF gilt sie fuer\n"
        "                         jeden Kopf, denn welcher steckt, sagt erst die erste\n"
        "                         Statusmeldung.\n"
        "  --frequency MHZ        Messfrequenz fuer die Tabelle (noetig mit --correction)\n"
        "  --average N            Leistungsmittel der letzten N Werte je Art (1 bis\n"
        "                         1000); ein Sprung um mehr als 3 dB beginnt es neu\n"
        "  --reference DB         nur live: Pegel in dBr relativ zu DB (RMS und PEP)\n"
        "  --relative             nur live: der erste Wert jeder Art ist der Bezug\n"
        "  Mit einer dieser Optionen bekommt die Ausgabe von live das Feld raw_level,\n"
        "  den Pegel, wie ihn das Messgeraet sendet (in CSV die letzte Spalte); publish\n"
        "  sendet ihn als raw_level neben dem korrigierten Pegel.\n"
        "\n"
        "Grenzwerte (live, publish und check; in der Einheit des Pegels: dBm, dBV,\n"
        "dBr mit Bezug; ein Wert gleich dem Grenzwert ist innerhalb):\n"
        "  --limit-low DB         unterer Grenzwert\n"
        "  --limit-high DB        oberer Grenzwert\n"
        "  --limit-kind rms|pep   welche Art geprueft wird (Vorgabe: rms)\n"
        "  --hysteresis DB        zurueck auf ok erst so weit innerhalb (0 bis 20,\n"
        "                         Vorgabe: 0.5)\n"
        "  Mit einem Grenzwert bekommt die Ausgabe von live das Feld limit (ok, low\n"
        "  oder high; leer fuer die andere Art) nach raw_level, publish sendet es im\n"
        "  Zustand.\n"
        "\n"
        "check (braucht einen Grenzwert):\n"
        "  --count N              N Werte der geprueften Art nehmen (Vorgabe: 10)\n"
        "  Gibt eine Zeile mit Minimum, Maximum und Leistungsmittel aus.\n"
        "\n"
        "download:\n"
        "  -o, --output DATEI     Zieldatei (noetig; - fuer die Standardausgabe)\n"
        "  --start HH:MM:SS       Startzeit der Aufzeichnung (Vorgabe: 00:00:00)\n"
        "  --partial              unvollstaendigen Download trotzdem speichern\n"
        "  --decimal-comma        CSV mit Dezimalkomma (fuer deutsche Tabellen)\n"
        "  Kommt 5 s lang kein Datensatz, endet der Download unvollstaendig.\n"
        "\n"
        "publish (bis Ctrl-C oder SIGTERM):\n"
        "  --broker URL           mqtt://HOST[:PORT] oder mqtts://HOST[:PORT]\n"
        "                         (Vorgabe: mqtt://localhost; Port 1883 bzw. 8883)\n"
        "  --user NAME            Anmeldename beim Broker\n"
        "  --password-file DATEI  Passwort aus der ersten Zeile der Datei; sonst aus\n"
        "                         der Umgebungsvariablen TAVROLD_MQTT_PASSWORD\n"
        "  --ca-file DATEI        Zertifizierungsstelle des Brokers (Vorgabe: die des\n"
        "                         Systems); Zertifikat und Hostname werden geprueft\n"
        "  --cert DATEI, --key DATEI  Client-Zertifikat und sein Schluessel\n"
        "  --insecure             Zertifikat des Brokers NICHT pruefen\n"
        "  --client-id ID         Vorgabe: tavrolinde-<Rechner>-<Port>\n"
        "  --keepalive S          Vorgabe: 30\n"
        "  --topic-prefix P       Vorgabe: tavrolinde\n"
        "  --id ID                Vorgabe: meter<Nummer> aus der Statusmeldung\n"
        "  --interval S           ein Zustand alle S Sekunden (Vorgabe: 1; 0: jeder\n"
        "                         Messwert). RMS ist der Leistungsmittelwert der RMS-\n"
        "                         Werte des Intervalls, PEP das Maximum seiner PEP-Werte.\n"
        "  --discovery-prefix P   Home-Assistant-Discovery (Vorgabe: homeassistant)\n"
        "  --no-discovery         keine Discovery senden\n"
        "  --commands             Home Assistant darf Grenzwerte und Offset setzen und\n"
        "                         den Zaehler loeschen (Themen P/ID/set/limit_low,\n"
        "                         limit_high, offset, clear)\n"
        "  Themen: P/ID/state (JSON), P/ID/availability (online/offline, gehalten).\n"
        "  Ist der Broker fort, wird es nach 1 s bis 60 s wieder versucht; die Zustaende\n"
        "  dieser Zeit entfallen. Geht das Messgeraet verloren, wird es wieder gesucht.\n"
        "\n"
        "Rueckgabewerte:\n"
        "  0  in Ordnung\n"
        "  1  kein Messgeraet gefunden oder Verbindung verloren\n"
        "  2  falscher Aufruf\n"
        "  3  Download unvollstaendig\n"
        "  4  Datei nicht geschrieben\n"
        "  5  check: ein Wert lag ausserhalb der Grenzwerte\n");
}

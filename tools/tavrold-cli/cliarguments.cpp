#include "cliarguments.h"

#include "portscan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#ifdef TAVROLD_PUBLISH
#include "meterpublisher.h"
#endif

#include <cmath>

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

// Seconds greater than 0 and at most a bit over 30 years, as milliseconds.
bool readSeconds(const QString &text, qint64 *msecs)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok); // '.' as decimal point, whatever the locale
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e9)
        return false;
    *msecs = qMax<qint64>(1, qint64(std::ceil(seconds * 1000.0)));
    return true;
}

// Which command an option belongs to; None: to all of them.
CliArguments::Command commandOf(const QString &name)
{
    static const QStringList live = {"format", "duration", "count"};
    static const QStringList download = {"o", "output", "start", "partial", "decimal-comma"};
    static const QStringList publish = {
        "broker",       "user",      "password-file", "ca-file",      "cert", "key",
        "insecure",     "client-id", "keepalive",     "topic-prefix", "id",   "discovery-prefix",
        "no-discovery", "interval"};
    if (live.contains(name))
        return CliArguments::Command::Live;
    if (publish.contains(name))
        return CliArguments::Command::Publish;
    if (download.contains(name))
        return CliArguments::Command::Download;
    return CliArguments::Command::None;
}

bool readCommand(const QStringList &words, CliArguments *parsed, QString *error)
{
    if (words.isEmpty())
        return fail(
            error, CliArguments::tr("Kein Befehl angegeben (probe, live, download oder publish)."));
    static const QStringList names = {"probe", "live", "download", "publish", "help"};
    static const CliArguments::Command commands[] = {
        CliArguments::Command::Probe, CliArguments::Command::Live, CliArguments::Command::Download,
        CliArguments::Command::Publish, CliArguments::Command::Help};
    const qsizetype at = names.indexOf(words.first());
#ifndef TAVROLD_PUBLISH
    if (words.first() == QLatin1String("publish"))
        return fail(error,
                    CliArguments::tr(
                        "Dieses tavrold-cli ist ohne \"publish\" gebaut (ohne libmosquitto)."));
#endif
    if (at < 0)
        return fail(error, CliArguments::tr(
                               "Unbekannter Befehl \"%1\" (probe, live, download oder publish).")
                               .arg(words.first()));
    if (words.size() > 1)
        return fail(error, CliArguments::tr("Unerwartetes Argument \"%1\".").arg(words.at(1)));
    parsed->command = commands[at];
    return true;
}

// mqtt://host[:port] or mqtts://host[:port]; a login in the address would
// show in `ps`, so there is none.
bool readBroker(const QString &text, CliArguments *parsed, QString *error)
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
    parsed->tls = scheme == QLatin1String("mqtts");
    parsed->brokerHost = url.host();
    parsed->brokerPort = url.port(parsed->tls ? 8883 : 1883);
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

// The password: the first line of --password-file, else the environment's
// TAVROLD_MQTT_PASSWORD. Never taken from the command line, never shown.
bool readPassword(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    QString file;
    if (!readableFile(parser, "password-file", &file, error))
        return false;
    if (!file.isEmpty()) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return fail(
                error,
                CliArguments::tr("Die Passwortdatei \"%1\" kann nicht gelesen werden.").arg(file));
        parsed->password = in.readLine(4096);
        while (parsed->password.endsWith('\n') || parsed->password.endsWith('\r'))
            parsed->password.chop(1);
    } else if (qEnvironmentVariableIsSet("TAVROLD_MQTT_PASSWORD")) {
        parsed->password = qgetenv("TAVROLD_MQTT_PASSWORD");
    } else {
        parsed->password = QByteArray(); // null: no password
    }
    if (!parsed->password.isNull() && parsed->user.isEmpty())
        return fail(error, CliArguments::tr("Ein Passwort braucht --user NAME."));
    return true;
}

bool readPublishValues(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    if (parser.isSet("broker") && !readBroker(parser.value("broker"), parsed, error))
        return false;
    parsed->user = parser.value("user");
    if (!readPassword(parser, parsed, error) ||
        !readableFile(parser, "ca-file", &parsed->caFile, error) ||
        !readableFile(parser, "cert", &parsed->certFile, error) ||
        !readableFile(parser, "key", &parsed->keyFile, error))
        return false;
    parsed->insecure = parser.isSet("insecure");
    if (parsed->certFile.isEmpty() != parsed->keyFile.isEmpty())
        return fail(error, CliArguments::tr("--cert und --key gehoeren zusammen."));
    if (!parsed->tls &&
        (parsed->insecure || !parsed->caFile.isEmpty() || !parsed->certFile.isEmpty()))
        return fail(
            error,
            CliArguments::tr("--ca-file, --cert, --key und --insecure gelten nur fuer mqtts://."));
    parsed->clientId = parser.value("client-id");
    if (parser.isSet("client-id") &&
        (parsed->clientId.isEmpty() || parsed->clientId.toUtf8().size() > 100))
        return fail(error, CliArguments::tr("Ungueltige --client-id: 1 bis 100 Bytes."));
    if (parser.isSet("keepalive")) {
        bool ok = false;
        parsed->keepAliveSec = parser.value("keepalive").toInt(&ok, 10);
        if (!ok || parsed->keepAliveSec < 5 || parsed->keepAliveSec > 65535)
            return fail(error, CliArguments::tr(
                                   "Ungueltige Zeit \"%1\" fuer --keepalive: erwartet 5 bis 65535 "
                                   "Sekunden.")
                                   .arg(parser.value("keepalive")));
    }
    if (parser.isSet("interval")) {
        bool ok = false;
        const double seconds = parser.value("interval").toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400)
            return fail(error, CliArguments::tr(
                                   "Ungueltige Zeit \"%1\" fuer --interval: erwartet 0 bis 86400 "
                                   "Sekunden.")
                                   .arg(parser.value("interval")));
        parsed->intervalMs = qint64(std::ceil(seconds * 1000.0));
    }
    parsed->discovery = !parser.isSet("no-discovery");
#ifdef TAVROLD_PUBLISH
    for (const char *name : {"topic-prefix", "id", "discovery-prefix"}) {
        if (!parser.isSet(name))
            continue;
        const QString value = parser.value(name);
        const QString why = MeterPublisher::topicPartError(value, qstrcmp(name, "id") == 0);
        if (!why.isEmpty())
            return fail(error, CliArguments::tr("Ungueltiger Wert \"%1\" fuer %2: %3.")
                                   .arg(value, dashed(name), why));
        *(qstrcmp(name, "topic-prefix") == 0 ? &parsed->topicPrefix
          : qstrcmp(name, "id") == 0         ? &parsed->nodeId
                                             : &parsed->discoveryPrefix) = value;
    }
#endif
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
    for (const char *name : {"timeout", "duration"}) {
        qint64 *msecs = qstrcmp(name, "timeout") == 0 ? &parsed->timeoutMs : &parsed->durationMs;
        if (parser.isSet(name) && !readSeconds(parser.value(name), msecs))
            return fail(error, CliArguments::tr(
                                   "Ungueltige Zeit \"%1\" fuer %2: erwartet Sekunden groesser 0.")
                                   .arg(parser.value(name), dashed(name)));
    }
    if (parser.isSet("count")) {
        bool ok = false;
        parsed->count = parser.value("count").toLongLong(&ok, 10);
        if (!ok || parsed->count <= 0)
            return fail(
                error,
                CliArguments::tr("Ungueltige Anzahl \"%1\" fuer --count: erwartet eine ganze Zahl "
                                 "groesser 0.")
                    .arg(parser.value("count")));
    }
    if (parser.isSet("format")) {
        const QString value = parser.value("format");
        static const QStringList names = {"csv", "jsonl", "influx"};
        static const CliArguments::Format formats[] = {CliArguments::Format::Csv,
                                                       CliArguments::Format::JsonLines,
                                                       CliArguments::Format::Influx};
        const qsizetype at = names.indexOf(value);
        if (at < 0)
            return fail(error, CliArguments::tr(
                                   "Ungueltiges Format \"%1\": erwartet csv, jsonl oder influx.")
                                   .arg(value));
        parsed->format = formats[at];
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
    if (parsed->decimalComma && parsed->format != CliArguments::Format::Csv)
        return fail(error,
                    CliArguments::tr("--decimal-comma gilt nur fuer CSV, nicht fuer --format %1.")
                        .arg(parser.value("format")));
    if (parsed->command == CliArguments::Command::Download && parsed->output.isEmpty())
        return fail(error, CliArguments::tr("\"download\" braucht die Zieldatei: -o DATEI.csv"));
    return parsed->command != CliArguments::Command::Publish ||
           readPublishValues(parser, parsed, error);
}

} // namespace

bool parseArguments(const QStringList &arguments, CliArguments *parsed, QString *error)
{
    *parsed = CliArguments();
    QCommandLineParser parser;
    parser.addOptions({{"port", "", "COMn"},
                       {"timeout", "", "S"},
                       {{"q", "quiet"}, ""},
                       {{"h", "help"}, ""},
                       {"version", ""},
                       {"format", "", "csv|jsonl"},
                       {"duration", "", "S"},
                       {"count", "", "N"},
                       {{"o", "output"}, "", "DATEI"},
                       {"start", "", "HH:MM:SS"},
                       {"partial", ""},
                       {"decimal-comma", ""},
                       {"broker", "", "URL"},
                       {"user", "", "NAME"},
                       {"password-file", "", "FILE"},
                       {"ca-file", "", "FILE"},
                       {"cert", "", "FILE"},
                       {"key", "", "FILE"},
                       {"insecure", ""},
                       {"client-id", "", "ID"},
                       {"keepalive", "", "S"},
                       {"topic-prefix", "", "PREFIX"},
                       {"id", "", "ID"},
                       {"discovery-prefix", "", "PREFIX"},
                       {"no-discovery", ""},
                       {"interval", "", "S"}});
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
    if (parser.isSet("help")) {
        parsed->command = CliArguments::Command::Help;
        return true;
    }
    if (parser.isSet("version")) {
        parsed->command = CliArguments::Command::Version;
        return true;
    }
    if (!readCommand(parser.positionalArguments(), parsed, error))
        return false;
    if (parsed->command == CliArguments::Command::Help)
        return true;
    for (const QString &name : parser.optionNames()) {
        const CliArguments::Command owner = commandOf(name);
        // The CSV of both "live" and "download" may have a decimal comma.
        const bool csvOption = name == QLatin1String("decimal-comma") &&
                               parsed->command != CliArguments::Command::Probe;
        if (owner != CliArguments::Command::None && owner != parsed->command && !csvOption)
            return fail(error, CliArguments::tr("Die Option %1 gilt nicht fuer \"%2\".")
                                   .arg(dashed(name), parser.positionalArguments().first()));
    }
    return readValues(parser, parsed, error);
}

QString versionText()
{
    return QStringLiteral("tavrold-cli V2.00");
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
        "  Themen: P/ID/state (JSON), P/ID/availability (online/offline, gehalten).\n"
        "  Ist der Broker fort, wird es nach 1 s bis 60 s wieder versucht; die Zustaende\n"
        "  dieser Zeit entfallen. Geht das Messgeraet verloren, wird es wieder gesucht.\n"
        "\n"
        "Rueckgabewerte:\n"
        "  0  in Ordnung\n"
        "  1  kein Messgeraet gefunden oder Verbindung verloren\n"
        "  2  falscher Aufruf\n"
        "  3  Download unvollstaendig\n"
        "  4  Datei nicht geschrieben\n");
}

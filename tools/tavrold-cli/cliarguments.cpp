#include "cliarguments.h"

#include "portscan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cmath>

namespace {

// An option as the user wrote it: "-o", "--count".
QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
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
    if (live.contains(name))
        return CliArguments::Command::Live;
    if (download.contains(name))
        return CliArguments::Command::Download;
    return CliArguments::Command::None;
}

bool readCommand(const QStringList &words, CliArguments *parsed, QString *error)
{
    if (words.isEmpty()) {
        *error = CliArguments::tr("Kein Befehl angegeben (probe, live oder download).");
        return false;
    }
    static const QStringList names = {"probe", "live", "download", "help"};
    static const CliArguments::Command commands[] = {
        CliArguments::Command::Probe, CliArguments::Command::Live, CliArguments::Command::Download,
        CliArguments::Command::Help};
    const qsizetype at = names.indexOf(words.first());
    if (at < 0) {
        *error = CliArguments::tr("Unbekannter Befehl \"%1\" (probe, live oder download).")
                     .arg(words.first());
        return false;
    }
    if (words.size() > 1) {
        *error = CliArguments::tr("Unerwartetes Argument \"%1\".").arg(words.at(1));
        return false;
    }
    parsed->command = commands[at];
    return true;
}

bool readValues(const QCommandLineParser &parser, CliArguments *parsed, QString *error)
{
    const auto fail = [error](const QString &text) {
        *error = text;
        return false;
    };
    if (parser.isSet("port")) {
        const QString value = parser.value("port");
        const QStringList ports = PortScan::portNames();
        const qsizetype at = ports.indexOf(value.toUpper());
        if (at < 0)
            return fail(CliArguments::tr("Ungueltiger Port \"%1\": erlaubt sind COM1 bis COM20.")
                            .arg(value));
        parsed->port = ports.at(at);
    }
    for (const char *name : {"timeout", "duration"}) {
        qint64 *msecs = qstrcmp(name, "timeout") == 0 ? &parsed->timeoutMs : &parsed->durationMs;
        if (parser.isSet(name) && !readSeconds(parser.value(name), msecs))
            return fail(
                CliArguments::tr("Ungueltige Zeit \"%1\" fuer %2: erwartet Sekunden groesser 0.")
                    .arg(parser.value(name), dashed(name)));
    }
    if (parser.isSet("count")) {
        bool ok = false;
        parsed->count = parser.value("count").toLongLong(&ok, 10);
        if (!ok || parsed->count <= 0)
            return fail(
                CliArguments::tr("Ungueltige Anzahl \"%1\" fuer --count: erwartet eine ganze Zahl "
                                 "groesser 0.")
                    .arg(parser.value("count")));
    }
    if (parser.isSet("format")) {
        const QString value = parser.value("format");
        if (value != QLatin1String("csv") && value != QLatin1String("jsonl"))
            return fail(
                CliArguments::tr("Ungueltiges Format \"%1\": erwartet csv oder jsonl.").arg(value));
        parsed->format = value == QLatin1String("csv") ? CliArguments::Format::Csv
                                                       : CliArguments::Format::JsonLines;
    }
    if (parser.isSet("start")) {
        static const QRegularExpression shape(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
        const QString value = parser.value("start");
        parsed->start = QTime::fromString(value, QStringLiteral("HH:mm:ss"));
        if (!shape.match(value).hasMatch() || !parsed->start.isValid())
            return fail(
                CliArguments::tr("Ungueltige Startzeit \"%1\": erwartet HH:MM:SS (00:00:00 bis "
                                 "23:59:59).")
                    .arg(value));
    }
    if (parser.isSet("output")) {
        parsed->output = parser.value("output");
        if (parsed->output.isEmpty())
            return fail(CliArguments::tr("Leerer Dateiname fuer -o."));
    }
    parsed->quiet = parser.isSet("quiet");
    parsed->partial = parser.isSet("partial");
    parsed->decimalComma = parser.isSet("decimal-comma");
    if (parsed->decimalComma && parsed->format != CliArguments::Format::Csv)
        return fail(
            CliArguments::tr("--decimal-comma gilt nur fuer CSV, nicht fuer --format jsonl."));
    if (parsed->command == CliArguments::Command::Download && parsed->output.isEmpty())
        return fail(CliArguments::tr("\"download\" braucht die Zieldatei: -o DATEI.csv"));
    return true;
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
                       {"decimal-comma", ""}});
    if (!parser.parse(arguments)) {
        // Qt's own reasons are English; the tool speaks German.
        if (!parser.unknownOptionNames().isEmpty()) {
            *error = CliArguments::tr("Unbekannte Option \"%1\".")
                         .arg(dashed(parser.unknownOptionNames().first()));
            return false;
        }
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
        if (owner != CliArguments::Command::None && owner != parsed->command && !csvOption) {
            *error = CliArguments::tr("Die Option %1 gilt nicht fuer \"%2\".")
                         .arg(dashed(name), parser.positionalArguments().first());
            return false;
        }
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
        "  --format csv|jsonl     Ausgabeformat (Vorgabe: csv)\n"
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
        "Rueckgabewerte:\n"
        "  0  in Ordnung\n"
        "  1  kein Messgeraet gefunden oder Verbindung verloren\n"
        "  2  falscher Aufruf\n"
        "  3  Download unvollstaendig\n"
        "  4  Datei nicht geschrieben\n");
}

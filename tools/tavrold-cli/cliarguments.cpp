#include "cliarguments.h"

#include "portscan.h"

#include <QRegularExpression>

#include <cmath>

namespace {

// Options that take a value, by every name they go by.
const QStringList &valueOptions()
{
    static const QStringList names = {QStringLiteral("--port"),   QStringLiteral("--timeout"),
                                      QStringLiteral("--format"), QStringLiteral("--duration"),
                                      QStringLiteral("--count"),  QStringLiteral("--output"),
                                      QStringLiteral("-o"),       QStringLiteral("--start")};
    return names;
}

const QStringList &switchOptions()
{
    static const QStringList names = {QStringLiteral("--quiet"),   QStringLiteral("-q"),
                                      QStringLiteral("--partial"), QStringLiteral("--help"),
                                      QStringLiteral("-h"),        QStringLiteral("--version")};
    return names;
}

// The longest time an option may give: a bit over 30 years.
constexpr double MaxSeconds = 1e9;

} // namespace

bool CliArguments::parse(const QStringList &arguments)
{
    *this = CliArguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            Option option;
            if (!readOption(arguments, &i, &option))
                return false;
            options.append(option);
        } else if (!takeCommand(word)) {
            return false;
        }
    }
    // Help and version win over everything else on the line.
    for (const Option &option : std::as_const(options)) {
        if (option.name == QLatin1String("--help") || option.name == QLatin1String("-h")) {
            command = Command::Help;
            return true;
        }
    }
    for (const Option &option : std::as_const(options)) {
        if (option.name == QLatin1String("--version")) {
            command = Command::Version;
            return true;
        }
    }
    if (command == Command::None)
        return fail(tr("Kein Befehl angegeben (probe, live oder download)."));
    for (const Option &option : std::as_const(options)) {
        if (!allowedFor(option.name))
            return fail(tr("Die Option %1 gilt nicht fuer \"%2\".").arg(option.name, commandWord));
        if (!applyOption(option))
            return false;
    }
    if (command == Command::Download && output.isEmpty())
        return fail(tr("\"download\" braucht die Zieldatei: -o DATEI.csv"));
    return true;
}

bool CliArguments::takeCommand(const QString &word)
{
    if (command != Command::None)
        return fail(tr("Unerwartetes Argument \"%1\".").arg(word));
    if (word == QLatin1String("probe"))
        command = Command::Probe;
    else if (word == QLatin1String("live"))
        command = Command::Live;
    else if (word == QLatin1String("download"))
        command = Command::Download;
    else if (word == QLatin1String("help"))
        command = Command::Help;
    else
        return fail(tr("Unbekannter Befehl \"%1\" (probe, live oder download).").arg(word));
    commandWord = word;
    return true;
}

// "--name value", "--name=value", "-o value" or a switch.
bool CliArguments::readOption(const QStringList &arguments, int *index, Option *option)
{
    const QString &word = arguments.at(*index);
    const qsizetype equals =
        word.startsWith(QLatin1String("--")) ? word.indexOf(QLatin1Char('=')) : -1;
    option->name = equals >= 0 ? word.left(equals) : word;
    option->hasValue = false;
    if (switchOptions().contains(option->name)) {
        if (equals >= 0)
            return fail(tr("Die Option %1 nimmt keinen Wert.").arg(option->name));
        return true;
    }
    if (!valueOptions().contains(option->name))
        return fail(tr("Unbekannte Option \"%1\".").arg(option->name));
    option->hasValue = true;
    if (equals >= 0) {
        option->value = word.mid(equals + 1);
        return true;
    }
    if (*index + 1 >= arguments.size())
        return fail(tr("Die Option %1 braucht einen Wert.").arg(option->name));
    option->value = arguments.at(++*index);
    return true;
}

bool CliArguments::allowedFor(const QString &name) const
{
    if (name == QLatin1String("--port") || name == QLatin1String("--timeout") ||
        name == QLatin1String("--quiet") || name == QLatin1String("-q"))
        return true;
    if (name == QLatin1String("--format") || name == QLatin1String("--duration") ||
        name == QLatin1String("--count"))
        return command == Command::Live;
    return command == Command::Download; // -o, --output, --start, --partial
}

bool CliArguments::applyOption(const Option &option)
{
    const QString &name = option.name;
    const QString &value = option.value;
    if (name == QLatin1String("--port")) {
        const QStringList ports = PortScan::portNames();
        const qsizetype at = ports.indexOf(value.toUpper());
        if (at < 0)
            return fail(tr("Ungueltiger Port \"%1\": erlaubt sind COM1 bis COM20.").arg(value));
        port = ports.at(at);
    } else if (name == QLatin1String("--timeout") || name == QLatin1String("--duration")) {
        if (!readSeconds(value, name == QLatin1String("--timeout") ? &timeoutMs : &durationMs))
            return fail(tr("Ungueltige Zeit \"%1\" fuer %2: erwartet Sekunden groesser 0.")
                            .arg(value, name));
    } else if (name == QLatin1String("--count")) {
        bool ok = false;
        count = value.toLongLong(&ok, 10);
        if (!ok || count <= 0)
            return fail(tr("Ungueltige Anzahl \"%1\" fuer --count: erwartet eine ganze Zahl "
                           "groesser 0.")
                            .arg(value));
    } else if (name == QLatin1String("--format")) {
        if (value == QLatin1String("csv"))
            format = Format::Csv;
        else if (value == QLatin1String("jsonl"))
            format = Format::JsonLines;
        else
            return fail(tr("Ungueltiges Format \"%1\": erwartet csv oder jsonl.").arg(value));
    } else if (name == QLatin1String("--start")) {
        static const QRegularExpression shape(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
        start = QTime::fromString(value, QStringLiteral("HH:mm:ss"));
        if (!shape.match(value).hasMatch() || !start.isValid())
            return fail(tr("Ungueltige Startzeit \"%1\": erwartet HH:MM:SS (00:00:00 bis "
                           "23:59:59).")
                            .arg(value));
    } else if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
        if (value.isEmpty())
            return fail(tr("Leerer Dateiname fuer %1.").arg(name));
        output = value;
    } else if (name == QLatin1String("--partial")) {
        partial = true;
    } else if (name == QLatin1String("--quiet") || name == QLatin1String("-q")) {
        quiet = true;
    }
    return true;
}

bool CliArguments::readSeconds(const QString &text, qint64 *msecs)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok); // '.' as decimal point, whatever the locale
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > MaxSeconds)
        return false;
    *msecs = qMax<qint64>(1, qint64(std::ceil(seconds * 1000.0)));
    return true;
}

bool CliArguments::fail(const QString &text)
{
    error = text;
    return false;
}

QString CliArguments::versionText()
{
    return QStringLiteral("tavrold-cli V2.00");
}

QString CliArguments::helpText()
{
    return tr("Aufruf: tavrold-cli BEFEHL [OPTIONEN]\n"
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
              "  Spalten: time;kind;level;unit;voltage_V;power_W;head;number;max_level_dBm;\n"
              "  attenuator_dB;recording (kind rms, pep oder status; unit dBm oder dBV;\n"
              "  power_W leer bei NF-Koepfen). Ctrl-C oder SIGTERM beenden sauber.\n"
              "\n"
              "download:\n"
              "  -o, --output DATEI     Zieldatei (noetig)\n"
              "  --start HH:MM:SS       Startzeit der Aufzeichnung (Vorgabe: 00:00:00)\n"
              "  --partial              unvollstaendigen Download trotzdem speichern\n"
              "  Kommt 5 s lang kein Datensatz, endet der Download unvollstaendig.\n"
              "\n"
              "Rueckgabewerte:\n"
              "  0  in Ordnung\n"
              "  1  kein Messgeraet gefunden oder Verbindung verloren\n"
              "  2  falscher Aufruf\n"
              "  3  Download unvollstaendig\n"
              "  4  Datei nicht geschrieben\n");
}

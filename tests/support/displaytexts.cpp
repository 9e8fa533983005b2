#include "displaytexts.h"

#include <QHash>
#include <QRegularExpression>

namespace DisplayTexts {

const QStringList &liveNames()
{
    static const QStringList names = {
        "labelNdbmrms",  "labelNvoltrms", "labelNwattrms", "labelNdbmpep", "labelNvoltpep",
        "labelNwattpep", "labeladxx",     "labelmknr",     "labeldbm",     "labelattdb",
        "labelzsatz",    "groupBoxrms",   "groupBoxpep"};
    return names;
}

const QStringList &downloadNames()
{
    static const QStringList names = {"labelsek", "labelanzahl"};
    return names;
}

bool isWellFormed(const QString &objectName, const QString &text)
{
    // Levels stay within +-200.0 dB, so at most three digits before the
    // point; the voltage of +200 dBV is 10^10 V (eleven digits), the power of
    // +200 dBm 10^14 kW (fifteen). Never "inf" or "nan".
    static const QString level = QStringLiteral(R"(^(dBm|-?\d{1,3}\.\d dB[mV])$)");
    static const QString voltage = QStringLiteral(R"(^(V|\d{1,11}\.\d{1,3} [mun]?V)$)");
    static const QString power = QStringLiteral(R"(^(W|(\d{1,15}\.\d{1,3} [kmunpf]?W)?)$)");
    static const QHash<QString, QRegularExpression> patterns = {
        {"labelNdbmrms", QRegularExpression(level)},
        {"labelNvoltrms", QRegularExpression(voltage)},
        {"labelNwattrms", QRegularExpression(power)},
        {"labelNdbmpep", QRegularExpression(level)},
        {"labelNvoltpep", QRegularExpression(voltage)},
        {"labelNwattpep", QRegularExpression(power)},
        {"labeladxx",
         QRegularExpression(
             R"(^(ADxxxx|AD8362|AD8362 NF|AD8307|AD8307 NF|AD8361 linear|Unbekannt)$)")},
        {"labelmknr", QRegularExpression(R"(^(xx| \d|-\d{1,10}|\d{2,10})$)")},
        {"labeldbm", QRegularExpression(R"(^(xx|-?\d{1,3}\.\d) dBm$)")},
        {"labelattdb", QRegularExpression(R"(^(xx|-?\d{1,3}\.\d) dB$)")},
        {"labelzsatz", QRegularExpression(R"(^(|Funktion "Aufzeichnung" laeuft)$)")},
        {"groupBoxrms", QRegularExpression(R"(^(AVG/RMS|Audio)$)")},
        {"groupBoxpep", QRegularExpression(R"(^(PEP|Audio/Peak)$)")},
        {"labelsek", QRegularExpression(R"(^(|Zwischenzeit -?\d{1,10} Sek\.)$)")},
        {"labelanzahl",
         QRegularExpression(R"(^(|\d{1,10} Datensaetze(, Anzahl unbekannt)?|\d{1,5} von )"
                            R"(\d{1,10} Datensaetzen)$)")},
    };
    if (text.size() > MaxLength)
        return false;
    const auto it = patterns.constFind(objectName);
    return it != patterns.constEnd() && it->match(text).hasMatch();
}

} // namespace DisplayTexts

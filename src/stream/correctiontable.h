#ifndef CORRECTIONTABLE_H
#define CORRECTIONTABLE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <optional>
#include <vector>

// A detector head's correction over frequency, as its calibration sheet
// gives it: points of frequency in MHz and correction in dB, added to the
// level. Between two points the correction is interpolated linearly; below
// the first and above the last the end value holds.
//
// As a file: text, one point per line, "frequency_MHz;correction_dB" or
// "frequency_MHz,correction_dB" (with ';' a decimal comma is read too);
// lines starting with '#' and one header line are skipped; frequencies
// strictly ascending; 2 to 1000 points.
class CorrectionTable
{
    Q_DECLARE_TR_FUNCTIONS(CorrectionTable)

public:
    static constexpr int MinPoints = 2;
    static constexpr int MaxPoints = 1000;

    struct Point
    {
        double frequencyMhz = 0.0;
        double correctionDb = 0.0;
    };

    bool isEmpty() const { return table.empty(); }
    const std::vector<Point> &points() const { return table; }
    // The correction at a frequency: O(log n); 0 for an empty table.
    double correctionAt(double frequencyMhz) const;

    // A table from the text of a file; nullopt with *error naming the line
    // and why ("Zeile 4: Frequenz nicht aufsteigend") when it breaks a rule.
    static std::optional<CorrectionTable> parse(const QByteArray &text, QString *error);
    // The file's text: a comment, the header line and one point per line.
    QByteArray toText() const;
    static std::optional<CorrectionTable> load(const QString &path, QString *error);
    bool save(const QString &path, QString *error) const;

    bool operator==(const CorrectionTable &other) const;

private:
    std::vector<Point> table;
};

#endif // CORRECTIONTABLE_H

#ifndef DISPLAYTEXTS_H
#define DISPLAYTEXTS_H

#include <QString>
#include <QStringList>

// What the labels of the live display and of the download may show: the
// form's placeholder or a text the program makes, each of bounded length.
namespace DisplayTexts {

// No text the program makes is longer than this ("Funktion "Aufzeichnung"
// laeuft" is the longest, with 30 characters).
inline constexpr int MaxLength = 32;

// The labels (and group box titles) that the meter's messages write.
const QStringList &liveNames();
// The labels that a completed download writes.
const QStringList &downloadNames();

// True when `text` is one the label or group box `objectName` may show.
bool isWellFormed(const QString &objectName, const QString &text);

} // namespace DisplayTexts

#endif // DISPLAYTEXTS_H

#ifndef FILECONTENTS_H
#define FILECONTENTS_H

#include <QByteArray>
#include <QFile>
#include <QString>

// A file's bytes for a test to compare, and a file of given bytes to start
// from.
namespace FileContents {

// "<missing>" when the file cannot be read.
inline QByteArray contents(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace FileContents

#endif // FILECONTENTS_H

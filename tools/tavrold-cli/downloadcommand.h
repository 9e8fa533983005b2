#ifndef DOWNLOADCOMMAND_H
#define DOWNLOADCOMMAND_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

class CliArguments;
class RecordDownload;

// "download": asks the meter for its recording ("#d;"), takes the header
// and the data sets by the window's rules and writes the CSV file the
// window's "Speichern" writes, atomically. A download that stops (no data
// set for five seconds, the meter gone, a stop signal) writes nothing,
// unless --partial asks for what came.
class DownloadCommand
{
    Q_DECLARE_TR_FUNCTIONS(DownloadCommand)

public:
    static int run(const CliArguments &arguments);

    // No data set (nor header) for this long ends the download as incomplete.
    static constexpr int StallMs = 5000;

    // Whether `fileName` can be written, tried before the download starts so
    // that a bad path costs no wait; false with the reason in *reason.
    static bool canWrite(const QString &fileName, QString *reason);

private:
    static int save(const CliArguments &arguments, const RecordDownload &download);
    static int saveIncomplete(const CliArguments &arguments, const RecordDownload &download,
                              const QString &why);
    static bool writeFile(const QString &fileName, const QByteArray &bytes);
};

#endif // DOWNLOADCOMMAND_H

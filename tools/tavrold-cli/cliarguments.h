#ifndef CLIARGUMENTS_H
#define CLIARGUMENTS_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTime>

// The tool's command line: one command (probe, live, download) and its
// options, checked before anything touches a port. A value that is wrong is
// refused with a message that names it.
class CliArguments
{
    Q_DECLARE_TR_FUNCTIONS(CliArguments)

public:
    enum class Command { None, Probe, Live, Download, Help, Version };
    enum class Format { Csv, JsonLines };

    // `arguments` as main() gets them, the program's name first. False with
    // errorText() set when they are wrong.
    bool parse(const QStringList &arguments);
    QString errorText() const { return error; }

    static QString helpText();
    static QString versionText();

    Command command = Command::None;
    QString port;         // empty: search COM1 to COM20
    qint64 timeoutMs = 0; // 0: one pass over the ports
    bool quiet = false;   // no messages but errors
    Format format = Format::Csv;
    qint64 durationMs = 0; // 0: no time limit
    qint64 count = 0;      // 0: no line limit
    QString output;        // the CSV file of a download
    QTime start{0, 0, 0};  // the recording's start time
    bool partial = false;  // an incomplete download is saved all the same

private:
    struct Option
    {
        QString name; // as given: "--port", "-o"
        QString value;
        bool hasValue;
    };

    bool takeCommand(const QString &word);
    bool readOption(const QStringList &arguments, int *index, Option *option);
    bool applyOption(const Option &option);
    bool allowedFor(const QString &name) const;
    bool fail(const QString &text);

    static bool readSeconds(const QString &text, qint64 *msecs);

    QList<Option> options;
    QString commandWord;
    QString error;
};

#endif // CLIARGUMENTS_H

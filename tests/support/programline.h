#ifndef PROGRAMLINE_H
#define PROGRAMLINE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTest>

// The program's end of a meter's line, opened as the program opens it: raw
// bytes, reads that never wait. What arrives is kept, and each read as it
// came.
class ProgramLine
{
public:
    ProgramLine() = default;
    ~ProgramLine();

    ProgramLine(const ProgramLine &) = delete;
    ProgramLine &operator=(const ProgramLine &) = delete;

    bool open(const QString &path);
    void close();
    bool write(const QByteArray &bytes);

    // Takes in what has arrived.
    void poll();
    // Keeps reading for a while (the event loop runs meanwhile).
    void pump(int ms);
    // Reads, running the event loop, until `done` holds.
    template <typename Predicate> bool waitFor(Predicate done, int timeoutMs)
    {
        return QTest::qWaitFor(
            [&] {
                poll();
                return done();
            },
            timeoutMs);
    }

    void clear();

    QByteArray received;
    QList<QByteArray> reads;

private:
    int fd = -1;
};

#endif // PROGRAMLINE_H

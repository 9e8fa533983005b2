#ifndef LINEWRITER_H
#define LINEWRITER_H

#include "protocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

class QSocketNotifier;

// The meter's transmitter: an output queue on the non-blocking master side of
// the pseudo-terminal. Paced, it lets out no more bytes than a 9600-baud line
// with 8N2 framing carries (11 bits a byte, about 873 bytes a second), a
// budget of bytes every 20 ms; at full speed it writes whatever the
// pseudo-terminal takes and waits for it to become writable again. Never
// blocks, never spins.
class LineWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr double PacedBytesPerSecond =
        double(Protocol::LineBaud) / Protocol::LineBitsPerByte;

    LineWriter(int fd, bool paced, QObject *parent = nullptr);

    // Queues bytes for one write of their own. A pause holds the line still
    // after them; endsMessage false marks the first pieces of a message that
    // is sent in several writes.
    void send(const QByteArray &bytes, int pauseAfterMs = 0, bool endsMessage = true);
    // Drops what has not gone out yet, except the rest of a message that has
    // begun: the line never carries a message cut short.
    void dropQueued();

    qsizetype pendingBytes() const { return queued; }
    // True while the queue is short enough to take more bulk data.
    bool wantsMore() const { return queued < lowMark; }
    bool isPaced() const { return paced; }

signals:
    // The queue has run low: whoever has bulk data to send may add some.
    void needMore();

private:
    struct Segment
    {
        QByteArray bytes;
        int pauseAfterMs;
        bool endsMessage;
    };

    void service();
    qsizetype writeSome(qsizetype limit);
    void scheduleFullSpeed();

    int fd;
    bool paced;
    qsizetype lowMark;
    std::deque<Segment> queue;
    qsizetype headOffset = 0; // bytes of queue.front() already written
    qsizetype queued = 0;     // bytes not yet written
    bool midMessage = false;  // the last piece written did not end its message
    bool blocked = false;     // the last write found the line full
    bool failing = false;     // the last write failed for another reason

    QElapsedTimer clock;
    qint64 lastTickNs = 0;
    qint64 pauseUntilNs = 0;
    double credit = 0.0; // bytes the paced line may let out now
    QTimer paceTimer;    // paced: every 20 ms
    QTimer flushTimer;   // full speed: next write pass
    QSocketNotifier *writable;
};

#endif // LINEWRITER_H

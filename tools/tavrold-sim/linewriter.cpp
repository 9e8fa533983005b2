#include "linewriter.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <unistd.h>

namespace {
constexpr int TickMs = 20;
// A late tick may catch up on two ticks' worth of bytes, never more: the line
// never bursts above its rate.
constexpr double MaxCredit = 2 * TickMs * LineWriter::PacedBytesPerSecond / 1000.0;
// Paced, bulk data (a download) is queued only a little ahead, so that live
// messages still find their place between the data sets.
constexpr qsizetype PacedLowMark = 48;
constexpr qsizetype FullSpeedLowMark = 4096;
constexpr int RetryAfterErrorMs = 100;
} // namespace

LineWriter::LineWriter(int fd, bool paced, QObject *parent)
    : QObject(parent), fd(fd), paced(paced), lowMark(paced ? PacedLowMark : FullSpeedLowMark),
      writable(new QSocketNotifier(fd, QSocketNotifier::Write, this))
{
    clock.start();
    writable->setEnabled(false);
    connect(writable, &QSocketNotifier::activated, this, [this] {
        writable->setEnabled(false);
        service();
    });
    paceTimer.setTimerType(Qt::PreciseTimer);
    paceTimer.setInterval(TickMs);
    connect(&paceTimer, &QTimer::timeout, this, &LineWriter::service);
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &LineWriter::service);
}

void LineWriter::send(const QByteArray &bytes, int pauseAfterMs, bool endsMessage)
{
    if (bytes.isEmpty())
        return;
    queue.push_back({bytes, pauseAfterMs, endsMessage});
    queued += bytes.size();
    if (paced) {
        if (!paceTimer.isActive()) {
            lastTickNs = clock.nsecsElapsed();
            credit = 0.0;
            paceTimer.start();
        }
    } else {
        scheduleFullSpeed();
    }
}

void LineWriter::dropQueued()
{
    // Keep the pieces of a message that has begun on the line, up to its end.
    std::size_t keep = 0;
    bool inMessage = headOffset > 0 || midMessage;
    while (keep < queue.size() && inMessage) {
        inMessage = !queue[keep].endsMessage;
        ++keep;
    }
    queue.erase(queue.begin() + std::ptrdiff_t(keep), queue.end());
    queued = 0;
    for (const Segment &segment : queue)
        queued += segment.bytes.size();
    queued -= headOffset;
}

void LineWriter::scheduleFullSpeed()
{
    if (writable->isEnabled() || flushTimer.isActive())
        return; // the notifier or the timer brings the next pass
    const qint64 wait = pauseUntilNs - clock.nsecsElapsed();
    flushTimer.start(wait > 0 ? int(wait / 1000000) + 1 : 0);
}

void LineWriter::service()
{
    const qint64 now = clock.nsecsElapsed();
    if (paced) {
        credit = std::min(credit + double(now - lastTickNs) * PacedBytesPerSecond / 1e9, MaxCredit);
        lastTickNs = now;
    }
    if (now >= pauseUntilNs && !queue.empty()) {
        if (paced) {
            credit -= double(writeSome(qsizetype(credit)));
        } else {
            writeSome(std::numeric_limits<qsizetype>::max());
        }
    }

    if (queue.empty()) {
        paceTimer.stop();
    } else if (!paced) {
        if (blocked) {
            writable->setEnabled(true);
        } else if (failing) {
            flushTimer.start(RetryAfterErrorMs);
        } else {
            scheduleFullSpeed(); // a pause between pieces of a message
        }
    }
    if (wantsMore())
        emit needMore();
}

qsizetype LineWriter::writeSome(qsizetype limit)
{
    qsizetype total = 0;
    while (!queue.empty() && total < limit) {
        const Segment &segment = queue.front();
        const qsizetype count = std::min(segment.bytes.size() - headOffset, limit - total);
        const ssize_t written = ::write(fd, segment.bytes.constData() + headOffset, size_t(count));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            blocked = errno == EAGAIN || errno == EWOULDBLOCK;
            failing = !blocked;
            break;
        }
        blocked = false;
        failing = false;
        headOffset += written;
        queued -= written;
        total += written;
        if (headOffset == segment.bytes.size()) {
            midMessage = !segment.endsMessage;
            const int pause = segment.pauseAfterMs;
            queue.pop_front();
            headOffset = 0;
            if (pause > 0) {
                pauseUntilNs = clock.nsecsElapsed() + qint64(pause) * 1000000;
                break;
            }
        }
    }
    return total;
}

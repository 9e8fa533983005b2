#include "simulatedmeter.h"

#include "protocol.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace {
// Live messages are skipped, as samples a busy meter does not send, while
// this much output waits: nothing piles up when nobody reads the line.
constexpr qsizetype PacedLiveBacklog = 512;
constexpr qsizetype FullSpeedLiveBacklog = 16384;
constexpr int ReadRetryMs = 100;

QByteArray level(double value)
{
    return QByteArray::number(value, 'f', 1); // always '.', never an exponent
}

// The fields of a message's value, in the order the meter sends them.
QByteArray sections(const QByteArrayList &fields)
{
    return fields.join(Protocol::SectionSeparator);
}
} // namespace

SimulatedMeter::SimulatedMeter(int masterFd, const MeterSettings &settings, QObject *parent)
    : QObject(parent), masterFd(masterFd), settings(settings),
      random(settings.hasSeed ? settings.seed : QRandomGenerator::global()->generate()),
      writer(masterFd, !settings.fullSpeed),
      readable(new QSocketNotifier(masterFd, QSocketNotifier::Read, this)), rms(settings.level)
{
    connect(readable, &QSocketNotifier::activated, this, &SimulatedMeter::readLine);
    readRetry.setSingleShot(true);
    connect(&readRetry, &QTimer::timeout, this, [this] { readable->setEnabled(true); });

    streamTimer.setInterval(StreamTickMs);
    connect(&streamTimer, &QTimer::timeout, this, &SimulatedMeter::streamTick);
    replyTimer.setSingleShot(true);
    connect(&replyTimer, &QTimer::timeout, this, &SimulatedMeter::sendReply);
    connect(&writer, &LineWriter::needMore, this, &SimulatedMeter::topUpDownload);

    makeRecording();
}

void SimulatedMeter::makeRecording()
{
    // A slow walk around the live level, as a recording of a steady
    // transmitter would be; PEP a few dB above RMS.
    const double centre = settings.level * 100.0;
    double value = centre;
    double peak = 450.0;
    recorded.reserve(settings.records);
    for (int i = 0; i < settings.records; ++i) {
        value += 0.05 * (centre - value) + (random.generateDouble() - 0.5) * 80.0;
        peak += 0.05 * (450.0 - peak) + (random.generateDouble() - 0.5) * 40.0;
        const int rmsValue = int(std::lround(value));
        recorded.append({rmsValue, rmsValue + int(std::lround(peak))});
    }
}

void SimulatedMeter::readLine()
{
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            for (ssize_t i = 0; i < count; ++i)
                take(buffer[i]);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The line reports an error or its end (not expected while we hold
        // the program's end open): look again later instead of spinning.
        readable->setEnabled(false);
        readRetry.start(ReadRetryMs);
        return;
    }
}

// Commands are "#", a letter, ";", possibly split over several reads. Any
// other byte is ignored; a "#" always starts a command afresh.
void SimulatedMeter::take(char c)
{
    const char start = Protocol::IdentifyCommand[0];
    const char end = Protocol::IdentifyCommand[2];
    switch (parse) {
    case Parse::Idle:
        if (c == start)
            parse = Parse::Letter;
        break;
    case Parse::Letter:
        if (c != start) {
            letter = c;
            parse = Parse::End;
        }
        break;
    case Parse::End:
        if (c == end) {
            parse = Parse::Idle;
            runCommand(letter);
        } else {
            parse = c == start ? Parse::Letter : Parse::Idle;
        }
        break;
    }
}

void SimulatedMeter::runCommand(char command)
{
    if (command == Protocol::IdentifyCommand[1]) {
        identify();
    } else if (command == Protocol::StreamCommand[1]) {
        startStreaming();
    } else if (command == Protocol::DownloadCommand[1]) {
        startDownload();
    } else if (command == Protocol::StopCommand[1]) {
        stop();
    } else {
        const QString shown =
            command >= 0x20 && command < 0x7f
                ? QString(QLatin1Char(command))
                : QStringLiteral("\\x%1").arg(uchar(command), 2, 16, QLatin1Char('0'));
        emit report(tr("#%1; unknown command, ignored").arg(shown));
    }
}

void SimulatedMeter::identify()
{
    // The reply goes out between two messages, after what the line already
    // carries: streaming and a download go on, and whatever waits unread on
    // the program's side stays there, as with a real meter.
    const QString reply = tr("\"%1\" %2").arg(QLatin1Char(replyMark())).arg(settings.firmware);
    if (settings.lateReply) {
        emit report(tr("#v; identification, answering %1 in %2 ms").arg(reply).arg(LateReplyMs));
        replyTimer.start(LateReplyMs);
    } else {
        emit report(tr("#v; identification, answering %1").arg(reply));
        sendReply();
    }
}

void SimulatedMeter::sendReply()
{
    QByteArray reply;
    reply.append(replyMark());
    reply.append(char(settings.firmware));
    sendInPieces(reply);
}

// A faulty meter answers with "X" instead of "M".
char SimulatedMeter::replyMark() const
{
    return settings.wrongReply ? 'X' : Protocol::ReplyMark;
}

void SimulatedMeter::startStreaming()
{
    emit report(tr("#o; streaming on"));
    streaming = true;
    tick = 0;
    // The status first, so that the program knows the head before the first
    // level arrives.
    sendMessage(Protocol::Status, statusText());
    streamTimer.start();
    emit streamingStarted();
}

void SimulatedMeter::startDownload()
{
    emit report(tr("#d; download of %1 data sets, interval %2 s")
                    .arg(settings.records)
                    .arg(settings.interval));
    // A download that still runs starts again from its header.
    writer.dropQueued();
    sendMessage(Protocol::DownloadHeader, sections({QByteArray::number(settings.records - 1),
                                                    QByteArray::number(settings.interval)}));
    downloading = true;
    nextRecord = 0;
    topUpDownload();
}

void SimulatedMeter::stop()
{
    emit report(tr("#c; streaming off"));
    streaming = false;
    downloading = false;
    streamTimer.stop();
    replyTimer.stop();
    writer.dropQueued();
}

void SimulatedMeter::streamTick()
{
    if (!streaming)
        return;
    // Slow drift: pulled back towards the set level, a little noise on top.
    rms += 0.1 * (settings.level - rms) + (random.generateDouble() - 0.5) * 0.6;
    crest += 0.05 * (4.5 - crest) + (random.generateDouble() - 0.5) * 0.3;
    crest = std::clamp(crest, 2.0, 8.0);
    if (liveRoom()) {
        sendMessage(Protocol::RmsLevel, level(rms));
        sendMessage(Protocol::PepLevel, level(rms + crest));
    }
    if (++tick % StatusEveryTicks == 0 && liveRoom())
        sendMessage(Protocol::Status, statusText());
}

bool SimulatedMeter::liveRoom() const
{
    return writer.pendingBytes() < (writer.isPaced() ? PacedLiveBacklog : FullSpeedLiveBacklog);
}

void SimulatedMeter::topUpDownload()
{
    while (downloading && writer.wantsMore()) {
        if (nextRecord >= recorded.size()) {
            downloading = false;
            emit report(tr("download sent: %1 data sets").arg(recorded.size()));
            break;
        }
        if (nextRecord == settings.stallAfter) {
            // A download that breaks off: the data sets stop, live
            // messages go on.
            downloading = false;
            emit report(tr("download stalled after %1 of %2 data sets")
                            .arg(nextRecord)
                            .arg(recorded.size()));
            break;
        }
        const std::pair<int, int> &record = recorded.at(nextRecord++);
        sendMessage(Protocol::DataSet, sections({QByteArray::number(record.first),
                                                 QByteArray::number(record.second)}));
    }
}

QByteArray SimulatedMeter::statusText() const
{
    return sections({QByteArray::number(settings.head), QByteArray::number(settings.number),
                     level(settings.maxLevel), level(settings.attenuator),
                     settings.recording ? "1" : "0"});
}

void SimulatedMeter::sendMessage(Protocol::MessageType type, const QByteArray &value)
{
    if (settings.noise)
        writer.send(noise());
    QByteArray message;
    message.reserve(value.size() + 3);
    message.append(Protocol::MessageStart)
        .append(Protocol::TypeLetters[type])
        .append(value)
        .append(Protocol::MessageEnd);
    sendInPieces(message);
}

// With --split a message goes out in two or three writes at random cut
// points, with short pauses between them; otherwise in one.
void SimulatedMeter::sendInPieces(const QByteArray &bytes)
{
    if (!settings.split || bytes.size() < 2) {
        writer.send(bytes);
        return;
    }
    QList<int> cuts;
    const int count = bytes.size() >= 3 ? 1 + int(random.bounded(2)) : 1;
    while (cuts.size() < count) {
        const int cut = 1 + int(random.bounded(bytes.size() - 1));
        if (!cuts.contains(cut))
            cuts.append(cut);
    }
    std::sort(cuts.begin(), cuts.end());
    int from = 0;
    for (int cut : cuts) {
        writer.send(bytes.mid(from, cut - from), 5 + int(random.bounded(36)), false);
        from = cut;
    }
    writer.send(bytes.mid(from));
}

// Line noise between messages: never "@" or ";", so it never starts or ends
// a message.
QByteArray SimulatedMeter::noise()
{
    QByteArray bytes;
    if (random.bounded(2) == 0)
        return bytes;
    const int count = 1 + int(random.bounded(4));
    while (bytes.size() < count) {
        const char c = char(random.bounded(256));
        if (c != Protocol::MessageStart && c != Protocol::MessageEnd)
            bytes.append(c);
    }
    return bytes;
}

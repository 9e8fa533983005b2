#include "streammodel.h"

#include "livedisplay.h"
#include "mainwindow.h"
#include "protocol.h"

#include <algorithm>
#include <climits>

StreamModel::StreamModel(const QHash<QString, QString> &shown)
    : rms(DownloadSession::Capacity), pep(DownloadSession::Capacity), shown(shown)
{
}

void StreamModel::feed(const QByteArray &bytes)
{
    pending += bytes;
    for (;;) {
        if (!inMessage) {
            const qsizetype start = pending.indexOf('@');
            if (start < 0) {
                pending.clear();
                return;
            }
            pending.remove(0, start + 1);
            inMessage = true;
            openType = Protocol::NoMessageType;
            scanned = 0;
        }
        const qsizetype end = pending.indexOf(';', scanned);
        if (end < 0) {
            for (; scanned < pending.size(); ++scanned) {
                const int t = Protocol::messageTypeOf(pending.at(scanned));
                if (t != Protocol::NoMessageType)
                    openType = t;
            }
            return;
        }
        message(pending.left(end));
        pending.remove(0, end + 1);
        inMessage = false;
    }
}

int StreamModel::decoderType() const
{
    return inMessage && openType != Protocol::NoMessageType ? openType : type;
}

void StreamModel::requestDownload()
{
    lastIndex = 0;
    interval = 1;
    std::fill(rms.begin(), rms.begin() + storedHigh, 0);
    std::fill(pep.begin(), pep.begin() + storedHigh, 0);
    storedHigh = 0;
    count = 0;
    complete = false;
    headerSeen = false;
}

void StreamModel::buildListing()
{
    ++listings;
    const int upToLastIndex =
        lastIndex < 0 ? 0 : int(qMin<qint64>(qint64(lastIndex) + 1, qint64(rms.size())));
    // A complete download lists up to its last index, any other what arrived.
    listedRows = complete ? upToLastIndex : qMin(upToLastIndex, qMin(count, int(rms.size())));
    listedInterval = interval;
    saveEnabled = true;
    intervalText = QStringLiteral("Zwischenzeit %1 Sek.").arg(interval);
    if (complete)
        countText = QStringLiteral("%1 Datensaetze").arg(qMax<qint64>(0, qint64(lastIndex) + 1));
    else if (headerSeen)
        countText = QStringLiteral("%1 von %2 Datensaetzen")
                        .arg(qMin<qint64>(qMin(count, int(rms.size())), qint64(lastIndex) + 1))
                        .arg(qMax<qint64>(0, qint64(lastIndex) + 1));
    else
        countText =
            QStringLiteral("%1 Datensaetze, Anzahl unbekannt").arg(qMin(count, int(rms.size())));
}

void StreamModel::message(const QByteArray &body)
{
    ++messages;
    // The value text never grows past the bound: a character that finds it
    // full squeezes its blanks out first, and a blank is not kept then. A
    // text that is full all the same is overlong: a data set with it still
    // takes its place, with no levels; any other message is dropped.
    constexpr int Bound = Protocol::MaxValueTextLength;
    QString text;
    for (const char c : body) {
        const int t = Protocol::messageTypeOf(c);
        if (t != Protocol::NoMessageType)
            type = t;
        else if (text.size() < Bound)
            text += QChar(uchar(c));
        else if (text.size() == Bound && c != ' ')
            text = Protocol::withoutBlanks(text) + QChar(uchar(c));
    }
    if (text.size() > Bound && type == Protocol::DataSet)
        text.clear();
    if (text.size() > Bound)
        return;
    switch (type) {
    case Protocol::RmsLevel:
    case Protocol::PepLevel: {
        Level &level = levels[type == Protocol::RmsLevel ? 0 : 1];
        level.seen = true;
        level.value = Protocol::readDecimal(Protocol::withoutBlanks(text));
        level.audio = LiveDisplay::isAudioHead(head);
        break;
    }
    case Protocol::Status: {
        statusSeen = true;
        head = Protocol::readInteger(Protocol::section(text, 0));
        serialNumber = Protocol::readInteger(Protocol::section(text, 1));
        maxLevel = Protocol::readDecimal(Protocol::section(text, 2));
        attenuator = Protocol::readDecimal(Protocol::section(text, 3));
        const int state = Protocol::readInteger(Protocol::section(text, 4));
        if (state == 0)
            recording = QString();
        else if (state == 1)
            recording = QStringLiteral("Funktion \"Aufzeichnung\" laeuft");
        break;
    }
    case Protocol::DownloadHeader:
        lastIndex = Protocol::readInteger(Protocol::section(text, 0));
        interval = Protocol::readInteger(Protocol::section(text, 1));
        headerSeen = true;
        // An empty memory (a negative last index) completes the download.
        if (!complete && lastIndex < 0) {
            complete = true;
            ++completions;
            buildListing();
            refreshEnabled = true;
        }
        break;
    case Protocol::DataSet:
        dataSet(text);
        break;
    default:
        break;
    }
}

void StreamModel::dataSet(const QString &text)
{
    if (count < 0 || count == INT_MAX)
        return;
    if (count < int(rms.size())) {
        rms[count] = Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 0)));
        pep[count] = Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 1)));
        storedHigh = qMax(storedHigh, count + 1);
    }
    if (count != lastIndex) {
        ++count;
        return;
    }
    complete = true;
    ++completions;
    buildListing();
    refreshEnabled = true;
    ++count;
}

QString StreamModel::text(const QString &objectName) const
{
    const auto levelText = [&](int which, int part) {
        const Level &level = levels[which];
        if (!level.seen)
            return shown.value(objectName);
        const LiveDisplay::LevelTexts texts = LiveDisplay::levelTexts(level.value, level.audio);
        return part == 0 ? texts.level : part == 1 ? texts.voltage : texts.power;
    };
    static const QStringList levelNames = {"labelNdbmrms", "labelNvoltrms", "labelNwattrms",
                                           "labelNdbmpep", "labelNvoltpep", "labelNwattpep"};
    const qsizetype levelName = levelNames.indexOf(objectName);
    if (levelName >= 0)
        return levelText(int(levelName / 3), int(levelName % 3));

    if (objectName == QLatin1String("labelzsatz"))
        return recording ? *recording : shown.value(objectName);
    if (objectName == QLatin1String("labelsek"))
        return intervalText ? *intervalText : shown.value(objectName);
    if (objectName == QLatin1String("labelanzahl"))
        return countText ? *countText : shown.value(objectName);
    if (!statusSeen)
        return shown.value(objectName);
    const bool audio = LiveDisplay::isAudioHead(head);
    if (objectName == QLatin1String("labeladxx"))
        return LiveDisplay::headName(head);
    if (objectName == QLatin1String("labelmknr"))
        return QString::asprintf("%2i", serialNumber);
    if (objectName == QLatin1String("labeldbm"))
        return LiveDisplay::maxLevelText(maxLevel);
    if (objectName == QLatin1String("labelattdb"))
        return LiveDisplay::attenuatorText(attenuator);
    if (objectName == QLatin1String("groupBoxrms"))
        return audio ? QStringLiteral("Audio") : QStringLiteral("AVG/RMS");
    if (objectName == QLatin1String("groupBoxpep"))
        return audio ? QStringLiteral("Audio/Peak") : QStringLiteral("PEP");
    return shown.value(objectName);
}

// The meter's identification reply and the reading of its numbers, under
// the fuzzer. Every input is all of these at once: the bytes of a reply to
// "#v;", the value text of a message (each byte a Latin-1 character, as the
// decoder takes it), and the text of a data set stored by a download near
// the ends of its store.

#include "downloadsession.h"
#include "fuzzrun.h"
#include "protocol.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>

namespace {

constexpr char Target[] = "fuzz_protocol";

#define CHECK(condition, what) FUZZ_CHECK(Target, condition, what)

QString shown(const QString &text)
{
    QString s = text.left(80);
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
            c = QLatin1Char('?');
    return QLatin1Char('"') + s + QLatin1Char('"');
}

void checkReply(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const int count = int(qMin<std::size_t>(size, 16));
    int firmware = INT_MIN;
    const int end = Protocol::findIdentificationReply(bytes, count, &firmware);
    // The first "M" followed by a firmware number above 10, the byte read as
    // signed.
    int wanted = -1;
    for (int i = 0; i + 1 < count && wanted < 0; ++i)
        if (data[i] == 'M' && std::int8_t(data[i + 1]) > 10)
            wanted = i + 2;
    CHECK(end == wanted, QStringLiteral("the reply %1 ends at %2")
                             .arg(shown(QString::fromLatin1(bytes, count)))
                             .arg(end));
    CHECK(firmware == (end >= 0 ? std::int8_t(data[end - 1]) : 0),
          QStringLiteral("firmware %1 from the reply ending at %2").arg(firmware).arg(end));
    if (end >= 0) {
        const QString text = Protocol::firmwareText(firmware);
        CHECK(text == QStringLiteral("FW:%1.xx").arg(firmware / 10),
              QStringLiteral("firmware %1 shown as %2").arg(firmware).arg(shown(text)));
    }
    CHECK(Protocol::findIdentificationReply(nullptr, count, &firmware) < 0,
          QStringLiteral("a reply without bytes is accepted"));
}

bool isAsciiSpace(QChar c)
{
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

// The value of a text of an optional sign and decimal digits, if it fits in
// an int; white space around it (ASCII white space, as the meter may send a
// line end) is allowed.
std::optional<int> plainInteger(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isAsciiSpace(text.at(from)))
        ++from;
    while (to > from && isAsciiSpace(text.at(to - 1)))
        --to;
    const QString t = text.mid(from, to - from);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-')))
        negative = t.at(i++) == QLatin1Char('-');
    if (i == t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return int(value);
}

bool hasDigit(const QString &text)
{
    for (const QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            return true;
    return false;
}

void checkNumbers(const QString &text)
{
    const double decimal = Protocol::readDecimal(text);
    const int integer = Protocol::readInteger(text);
    const int truncated = Protocol::readTruncated(text);
    CHECK(std::isfinite(decimal), QStringLiteral("%1 reads as %2").arg(shown(text)).arg(decimal));
    CHECK(decimal == 0.0 || hasDigit(text),
          QStringLiteral("%1, without a digit, reads as %2").arg(shown(text)).arg(decimal));

    // Integers: exactly the texts of sign and digits that fit, all else 0.
    const std::optional<int> plain = plainInteger(text);
    CHECK(integer == plain.value_or(0), QStringLiteral("%1 reads as the integer %2, not %3")
                                            .arg(shown(text))
                                            .arg(integer)
                                            .arg(plain.value_or(0)));

    // A data-set level: the decimal cut toward zero, 0 when it does not fit.
    const double cut = std::trunc(decimal);
    const int wantedCut = cut >= double(INT_MIN) && cut <= double(INT_MAX) ? int(cut) : 0;
    CHECK(truncated == wantedCut, QStringLiteral("%1 is stored as %2, not %3")
                                      .arg(shown(text))
                                      .arg(truncated)
                                      .arg(wantedCut));

    // A German user reads the meter's numbers just the same.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double decimalDe = Protocol::readDecimal(text);
    const int integerDe = Protocol::readInteger(text);
    QLocale::setDefault(QLocale::c());
    CHECK((decimalDe == decimal || (std::isnan(decimalDe) && std::isnan(decimal))) &&
              integerDe == integer,
          QStringLiteral("%1 reads differently in a German locale").arg(shown(text)));

    // A minus sign before a number that starts with a digit negates it.
    if (!text.isEmpty() && text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9')) {
        const double negated = Protocol::readDecimal(QLatin1Char('-') + text);
        CHECK(
            negated == -decimal,
            QStringLiteral("-%1 reads as %2, not %3").arg(shown(text)).arg(negated).arg(-decimal));
    }
}

void checkSections(const QString &text)
{
    const qsizetype separators = text.count(QLatin1Char(Protocol::SectionSeparator));
    QString joined;
    for (qsizetype i = 0; i <= qMin<qsizetype>(separators, 64); ++i) {
        const QString section = Protocol::section(text, int(i));
        CHECK(!section.contains(QLatin1Char(Protocol::SectionSeparator)),
              QStringLiteral("section %1 of %2 holds a '*'").arg(i).arg(shown(text)));
        if (i > 0)
            joined += QLatin1Char(Protocol::SectionSeparator);
        joined += section;
    }
    if (separators <= 64) {
        CHECK(joined == text,
              QStringLiteral("the sections of %1 do not make it up again").arg(shown(text)));
        CHECK(Protocol::section(text, int(separators) + 1).isEmpty(),
              QStringLiteral("%1 has a section past its last '*'").arg(shown(text)));
    }
    CHECK(Protocol::section(text, -1).isEmpty(),
          QStringLiteral("%1 has a section -1").arg(shown(text)));

    const QString bare = Protocol::withoutBlanks(text);
    QString wanted;
    for (const QChar c : text)
        if (c != QLatin1Char(' '))
            wanted += c;
    CHECK(bare == wanted, QStringLiteral("%1 without blanks is %2").arg(shown(text), shown(bare)));
}

// Round trips: what the meter prints, the program reads back.
void checkRoundTrips(const std::uint8_t *data, std::size_t size)
{
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        if (std::isfinite(value)) {
            const QString text = QString::number(value, 'g', 17);
            CHECK(Protocol::readDecimal(text) == value,
                  QStringLiteral("%1 does not read back").arg(shown(text)));
        }
    }
    if (size >= sizeof(std::int32_t)) {
        std::int32_t value;
        std::memcpy(&value, data, sizeof value);
        const QString text = QString::number(value);
        CHECK(Protocol::readInteger(text) == value,
              QStringLiteral("%1 does not read back").arg(shown(text)));
    }
}

// A data set stored by a download at counts around the store's capacity and
// the ends of the range: only its own slot is written, the count moves on by
// one, and only the data set at the last index completes the download.
void checkDataSet(const std::uint8_t *data, std::size_t size, const QString &text)
{
    static DownloadSession *const session = new DownloadSession;
    DownloadSession &s = *session;
    constexpr int Sentinel = 0x5a5a5a5a;
    constexpr int Last = DownloadSession::Capacity - 1;
    const int starts[] = {-1, 0, Last, Last + 1, Last + 2, INT_MAX - 1, INT_MAX};
    s.recordCount = starts[(size > 1 ? data[1] : 0) % std::size(starts)];
    s.lastRecordIndex =
        int(qBound(qint64(INT_MIN), qint64(s.recordCount) + (size > 2 ? int(data[2] % 4) - 1 : 0),
                   qint64(INT_MAX)));
    const int wantedRms =
        Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 0)));
    const int wantedPep =
        Protocol::readTruncated(Protocol::withoutBlanks(Protocol::section(text, 1)));

    for (int step = 0; step < 3; ++step) {
        const int index = s.recordCount;
        s.rmsValues[0] = s.pepValues[0] = s.rmsValues[Last] = s.pepValues[Last] = Sentinel;
        int completions = 0;
        s.takeDataSet(text, 0, [&] { ++completions; });
        const bool counted = index >= 0 && index != INT_MAX;
        CHECK(s.recordCount == (counted ? index + 1 : index),
              QStringLiteral("count %1 became %2").arg(index).arg(s.recordCount));
        CHECK(completions == (counted && index == s.lastRecordIndex ? 1 : 0),
              QStringLiteral("data set %1 of a download up to %2 completed it %3 times")
                  .arg(index)
                  .arg(s.lastRecordIndex)
                  .arg(completions));
        for (const int slot : {0, Last}) {
            const bool own = counted && index == slot;
            CHECK(own ? s.rmsValues[slot] == wantedRms && s.pepValues[slot] == wantedPep
                      : s.rmsValues[slot] == Sentinel && s.pepValues[slot] == Sentinel,
                  QStringLiteral("slot %1 is %2/%3 after data set %4")
                      .arg(slot)
                      .arg(s.rmsValues[slot])
                      .arg(s.pepValues[slot])
                      .arg(index));
        }
    }

    s.takeHeader(text, 0);
    CHECK(s.lastRecordIndex == Protocol::readInteger(Protocol::section(text, 0)) &&
              s.recordIntervalSec == Protocol::readInteger(Protocol::section(text, 1)),
          QStringLiteral("the header %1 reads as %2*%3")
              .arg(shown(text))
              .arg(s.lastRecordIndex)
              .arg(s.recordIntervalSec));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale::c());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkReply(data, size);
    // A value text is never longer than the decoder keeps.
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data),
                                             qsizetype(qMin<std::size_t>(size, 4096)));
    checkNumbers(text);
    checkNumbers(Protocol::withoutBlanks(text));
    for (int i = 0; i < 5; ++i)
        checkNumbers(Protocol::section(text, i));
    checkSections(text);
    checkRoundTrips(data, size);
    checkDataSet(data, size, text);
    FuzzRun::count(Target, size);
    return 0;
}

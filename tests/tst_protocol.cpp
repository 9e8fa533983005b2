#include "protocol.h"

#include <QLocale>
#include <QTest>

// The meter's side of the conversation as the program reads it: the
// identification reply and the numbers in the value texts.
class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void identificationReply_data();
    void identificationReply();
    void readDecimal_data();
    void readDecimal();
    void readDecimalIgnoresLocale();
    void readInteger_data();
    void readInteger();
    void readTruncated_data();
    void readTruncated();
    void section_data();
    void section();
    void withoutBlanks_data();
    void withoutBlanks();
};

void TestProtocol::identificationReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("end"); // where the stream goes on; -1: no reply
    QTest::addColumn<int>("firmware");

    QTest::newRow("M 21") << QByteArray("M\x15", 2) << 2 << 21;
    QTest::newRow("M 11, the lowest accepted") << QByteArray("M\x0b", 2) << 2 << 11;
    QTest::newRow("M 127") << QByteArray("M\x7f", 2) << 2 << 127;
    QTest::newRow("M 10 refused") << QByteArray("M\x0a", 2) << -1 << 0;
    QTest::newRow("M 0 refused") << QByteArray("M\x00", 2) << -1 << 0;
    QTest::newRow("M 0x80 is negative") << QByteArray("M\x80", 2) << -1 << 0;
    QTest::newRow("M 0xff is negative") << QByteArray("M\xff", 2) << -1 << 0;
    QTest::newRow("lone M") << QByteArray("M") << -1 << 0;
    QTest::newRow("nothing") << QByteArray() << -1 << 0;
    QTest::newRow("lower-case m") << QByteArray("m\x15", 2) << -1 << 0;
    QTest::newRow("other mark") << QByteArray("N\x15", 2) << -1 << 0;
    QTest::newRow("stream bytes behind the reply") << QByteArray("M\x15@a-23.4;") << 2 << 21;
    QTest::newRow("stream bytes before the reply") << QByteArray("3.4;@b-20.0;M\x15@a") << 14 << 21;
    QTest::newRow("M 10, then the reply") << QByteArray("M\x0aM\x23") << 4 << 35;
    QTest::newRow("stream without a reply") << QByteArray("@a-23.4;@b-20.0;") << -1 << 0;
}

void TestProtocol::identificationReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, end);
    QFETCH(int, firmware);

    int firmwareNumber = -1;
    QCOMPARE(
        Protocol::findIdentificationReply(bytes.constData(), int(bytes.size()), &firmwareNumber),
        end);
    QCOMPARE(firmwareNumber, firmware);
}

namespace {

// A text with a NUL character between two parts.
QString withNul(const char *before, const char *after)
{
    return QLatin1String(before) + QChar(u'\0') + QLatin1String(after);
}

} // namespace

void TestProtocol::readDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("negative") << "-23.4" << -23.4;
    QTest::newRow("positive") << "12.5" << 12.5;
    QTest::newRow("plus sign") << "+3" << 3.0;
    QTest::newRow("no leading digit") << ".5" << 0.5;
    QTest::newRow("no decimals") << "5." << 5.0;
    QTest::newRow("exponent") << "-2.5e1" << -25.0;
    QTest::newRow("largest double") << "1.7976931348623157e308" << 1.7976931348623157e308;
    // Not numbers: 0, no error.
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("second @") << "@-10" << 0.0;
    QTest::newRow("trailing text") << "12.5x" << 0.0;
    QTest::newRow("inner blank") << "1 2.5" << 0.0;
    QTest::newRow("decimal comma") << "12,5" << 0.0;
    QTest::newRow("group separator") << "1,000" << 0.0;
    QTest::newRow("hexadecimal") << "0x10" << 0.0;
    // Not finite: 0, in every spelling the parser takes.
    QTest::newRow("nan") << "nan" << 0.0;
    QTest::newRow("NaN") << "NaN" << 0.0;
    QTest::newRow("NAN") << "NAN" << 0.0;
    QTest::newRow("-nan") << "-nan" << 0.0;
    QTest::newRow("inf") << "inf" << 0.0;
    QTest::newRow("Inf") << "Inf" << 0.0;
    QTest::newRow("INF") << "INF" << 0.0;
    QTest::newRow("+inf") << "+inf" << 0.0;
    QTest::newRow("-inf") << "-inf" << 0.0;
    QTest::newRow("-INF") << "-INF" << 0.0;
    QTest::newRow("infinity") << "infinity" << 0.0;
    QTest::newRow("-Infinity") << "-Infinity" << 0.0;
    // Beyond the range of a double.
    QTest::newRow("overflow") << "1e309" << 0.0;
    QTest::newRow("negative overflow") << "-1e309" << 0.0;
    QTest::newRow("long digit string") << QString(400, QLatin1Char('9')) << 0.0;
    // A NUL byte (line noise) ends no number: the text is not one.
    QTest::newRow("NUL inside") << withNul("1.5", "7") << 0.0;
    QTest::newRow("NUL after") << withNul("-23.4", "") << 0.0;
    QTest::newRow("NUL before") << withNul("", "12") << 0.0;
}

void TestProtocol::readDecimal()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(Protocol::readDecimal(text), value);
}

void TestProtocol::readDecimalIgnoresLocale()
{
    // A user with a decimal comma: the meter still writes '.'.
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German));
    const double withPoint = Protocol::readDecimal(QStringLiteral("-12.5"));
    const double withComma = Protocol::readDecimal(QStringLiteral("-12,5"));
    const double grouped = Protocol::readDecimal(QStringLiteral("1.000,5"));
    const int truncated = Protocol::readTruncated(QStringLiteral("-2345.9"));
    QLocale::setDefault(old);
    QCOMPARE(withPoint, -12.5);
    QCOMPARE(withComma, 0.0);
    QCOMPARE(grouped, 0.0);
    QCOMPARE(truncated, -2345);
}

void TestProtocol::readInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << "17" << 17;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("plus sign") << "+5" << 5;
    QTest::newRow("leading zeros are decimal") << "0010" << 10;
    QTest::newRow("surrounding white space") << " 42 " << 42;
    QTest::newRow("largest int") << "2147483647" << 2147483647;
    QTest::newRow("smallest int") << "-2147483648" << int(-2147483647 - 1);
    // Not integers, or too large: 0.
    QTest::newRow("one beyond the largest") << "2147483648" << 0;
    QTest::newRow("one beyond the smallest") << "-2147483649" << 0;
    QTest::newRow("twenty digits") << "99999999999999999999" << 0;
    QTest::newRow("decimal") << "12.5" << 0;
    QTest::newRow("exponent") << "1e3" << 0;
    QTest::newRow("hexadecimal") << "0x10" << 0;
    QTest::newRow("inner blank") << "1 7" << 0;
    QTest::newRow("trailing letter") << "12x" << 0;
    QTest::newRow("nan") << "nan" << 0;
    QTest::newRow("inf") << "inf" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("NUL inside") << withNul("214", "7") << 0;
    QTest::newRow("NUL after") << withNul("15", "") << 0;
    QTest::newRow("NUL before") << withNul("", "15") << 0;
}

void TestProtocol::readInteger()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(Protocol::readInteger(text), value);
}

void TestProtocol::readTruncated_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");

    QTest::newRow("toward zero, negative") << "-2345.9" << -2345;
    QTest::newRow("toward zero, positive") << "123.9" << 123;
    QTest::newRow("minus one half") << "-0.5" << 0;
    QTest::newRow("99.99") << "99.99" << 99;
    QTest::newRow("whole") << "-1200" << -1200;
    QTest::newRow("largest int with decimals") << "2147483647.9" << 2147483647;
    QTest::newRow("smallest int with decimals") << "-2147483648.9" << int(-2147483647 - 1);
    // Values that do not fit an int never reach the conversion: 0.
    QTest::newRow("one beyond the largest") << "2147483648" << 0;
    QTest::newRow("one beyond the smallest") << "-2147483649" << 0;
    QTest::newRow("1e10") << "1e10" << 0;
    QTest::newRow("-1e300") << "-1e300" << 0;
    QTest::newRow("overflow") << "1e309" << 0;
    QTest::newRow("nan") << "nan" << 0;
    QTest::newRow("inf") << "inf" << 0;
    QTest::newRow("-inf") << "-inf" << 0;
    QTest::newRow("not a number") << "abc" << 0;
}

void TestProtocol::readTruncated()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(Protocol::readTruncated(text), value);
}

void TestProtocol::section_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("section");

    const QString status = QStringLiteral("2*17*20.0*10.0*1");
    QTest::newRow("first") << status << 0 << "2";
    QTest::newRow("middle") << status << 2 << "20.0";
    QTest::newRow("last") << status << 4 << "1";
    QTest::newRow("missing") << status << 5 << "";
    QTest::newRow("no separator") << "abc" << 0 << "abc";
    QTest::newRow("no separator, second") << "abc" << 1 << "";
    QTest::newRow("empty between") << "a**b" << 1 << "";
    QTest::newRow("after empty") << "a**b" << 2 << "b";
    QTest::newRow("leading separator") << "*x" << 0 << "";
    QTest::newRow("trailing separator") << "x*" << 1 << "";
    QTest::newRow("empty text") << "" << 0 << "";
    QTest::newRow("blanks kept") << " 1 * 2 " << 1 << " 2 ";
    QTest::newRow("negative index") << status << -1 << "";
}

void TestProtocol::section()
{
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(QString, section);
    QCOMPARE(Protocol::section(text, index), section);
}

void TestProtocol::withoutBlanks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");

    QTest::newRow("spread out") << " 1 2 . 5 "
                                << "12.5";
    QTest::newRow("no blanks") << "-23.4"
                               << "-23.4";
    QTest::newRow("only blanks") << "   "
                                 << "";
    // Only the space character goes; other white space stays.
    QTest::newRow("tab and line end") << "\t1\r\n"
                                      << "\t1\r\n";
    QTest::newRow("no-break space") << QString::fromLatin1("1\xa0"
                                                           "2")
                                    << QString::fromLatin1("1\xa0"
                                                           "2");
}

void TestProtocol::withoutBlanks()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(Protocol::withoutBlanks(text), result);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"

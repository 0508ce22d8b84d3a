// Text as messages show it: numbers written as they always were, values put
// into sentences whole, long values cut without breaking a character, and
// text from outside made valid UTF-8 the way readers decode it.

#include "common/Text.h"
#include "tests/support/StdText.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestText : public QObject {
    Q_OBJECT
private slots:
    void numbers_data();
    void numbers();
    void valuesGoInWhole();
    void quoted_data();
    void quoted();
    void decoding_data();
    void decoding();
    void numbersFromText_data();
    void numbersFromText();
};

void TestText::numbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("general"); // six significant digits
    QTest::addColumn<QString>("fixed");   // one decimal
    QTest::newRow("tenth") << 0.1 << "0.1"
                           << "0.1";
    QTest::newRow("a third") << 1.0 / 3 << "0.333333"
                             << "0.3";
    QTest::newRow("whole") << 2540.0 << "2540"
                           << "2540.0";
    QTest::newRow("exponent above") << 123456789.0 << "1.23457e+08"
                                    << "123456789.0";
    QTest::newRow("exponent below") << 1e-5 << "1e-05"
                                    << "0.0";
    QTest::newRow("large") << 1e22 << "1e+22"
                           << "10000000000000000000000.0";
    QTest::newRow("three-digit exponent") << 1e-300 << "1e-300"
                                          << "0.0";
    // Exact halves round away from zero, not to even.
    QTest::newRow("half at the last digit") << 1234565.0 << "1.23457e+06"
                                            << "1234565.0";
    QTest::newRow("half at the decimal") << 0.25 << "0.25"
                                         << "0.3";
    QTest::newRow("carried into a new digit") << 999999.5 << "1e+06"
                                              << "999999.5";
    QTest::newRow("negative zero") << -0.0 << "0"
                                   << "0.0";
    QTest::newRow("small negative") << -0.04 << "-0.04"
                                    << "-0.0";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "inf"
                              << "inf";
}

void TestText::numbers()
{
    QFETCH(double, value);
    QFETCH(QString, general);
    QFETCH(QString, fixed);
    QCOMPARE(Number(value), general);
    QCOMPARE(Format("%1", value), general);
    QCOMPARE(FixedNumber(value, 1), fixed);
}

void TestText::valuesGoInWhole()
{
    // The lowest marker takes the first value, wherever the markers stand.
    QCOMPARE(Format("%2 then %1, %2", "a", "b"), "b then a, b");
    QCOMPARE(Format("%1 %3", 7, 'c'), "7 c");
    // A marker inside a value stays as the user wrote it.
    QCOMPARE(Format("\"%1\" is not a position; use 0 to %2", "50%2", 8), "\"50%2\" is not a position; use 0 to 8");
    QCOMPARE(Format("%1 % to %2 %", 25.0, 400.0), "25 % to 400 %");
    QCOMPARE(Format("no value for %1"), "no value for %1");
}

void TestText::quoted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quoted");
    const QString ellipsis(QChar(0x2026));
    QTest::newRow("64 characters whole") << QString(64, u'a') << QString(64, u'a');
    QTest::newRow("65 cut") << QString(65, u'a') << QString(64, u'a') + ellipsis;
    // Counted in characters, not bytes.
    QTest::newRow("two-byte characters") << QString(64, QChar(0xE9)) << QString(64, QChar(0xE9));
    QTest::newRow("never half a pair") << QString(63, u'a') + QStringLiteral("\U0001F600b")
                                       << QString(63, u'a') + ellipsis;
}

void TestText::quoted()
{
    QFETCH(QString, text);
    QFETCH(QString, quoted);
    QCOMPARE(Quoted(StdStr(text)), quoted);
}

void TestText::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("units"); // UTF-16 units, as columns are counted
    const QString bad(QChar(0xFFFD));
    QTest::newRow("valid") << QByteArray("a\xC3\xA9\xF0\x9F\x98\x80") << QStringLiteral("a\u00E9\U0001F600") << 4;
    QTest::newRow("a mark is dropped") << QByteArray("\xEF\xBB\xBFx") << QStringLiteral("x") << 1;
    // Each byte that starts nothing valid stands for itself.
    QTest::newRow("overlong") << QByteArray("\xC0\x80x") << bad + bad + "x" << 3;
    QTest::newRow("cut short") << QByteArray("\xE2\x82") << bad + bad << 2;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << bad + bad + bad << 3;
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QString(4, QChar(0xFFFD)) << 4;
}

void TestText::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, units);
    const std::string valid = ValidUtf8(Bytes(bytes), true);
    QCOMPARE(valid, text);
    QCOMPARE(int(Utf16Length(valid)), units);
    QCOMPARE(Utf8FromUtf16(text.toStdU16String()), text);
}

void TestText::numbersFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isInt");
    QTest::addColumn<bool>("isDouble");
    QTest::addColumn<double>("value");
    QTest::newRow("blanks around") << " 5\t" << true << true << 5.0;
    QTest::newRow("plus") << "+5" << true << true << 5.0;
    QTest::newRow("two signs") << "+-5" << false << false << 0.0;
    QTest::newRow("hex") << "0x10" << false << false << 0.0;
    QTest::newRow("decimal") << ".5" << false << true << 0.5;
    QTest::newRow("exponent") << "1e3" << false << true << 1000.0;
    // A no-break space is white space to a decimal only.
    QTest::newRow("no-break space") << QStringLiteral("\u00A08") << false << true << 8.0;
    QTest::newRow("beyond int") << "2147483648" << false << true << 2147483648.0;
    QTest::newRow("infinity spelled out") << "infinity" << false << false << 0.0;
}

void TestText::numbersFromText()
{
    QFETCH(QString, text);
    QFETCH(bool, isInt);
    QFETCH(bool, isDouble);
    QFETCH(double, value);
    const std::optional<int> i = IntFromText(StdStr(text));
    QCOMPARE(i.has_value(), isInt);
    if (i)
        QCOMPARE(double(*i), value);
    const std::optional<double> d = DoubleFromText(StdStr(text));
    QCOMPARE(d.has_value(), isDouble);
    if (d)
        QCOMPARE(*d, value);
}

QTEST_APPLESS_MAIN(TestText)
#include "test_text.moc"

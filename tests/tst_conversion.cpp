#include "test_support.h"

#include <QTest>


class tst_Conversion : public QObject
{
    Q_OBJECT
private slots:
    void textToInteger_data();
    void textToInteger();
};

void tst_Conversion::textToInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("error"); // 0: converts to expected

    const auto row = [](const char *name, const QString &text, int expected, int error = 0) {
        QTest::newRow(name) << text << expected << error;
    };
    row("plain", u"100"_s, 100);
    row("zero", u"0"_s, 0);
    row("leading zeros", u"007"_s, 7);
    row("blanks around", u" \t100 \t"_s, 100);
    row("plus sign and blanks", u" +250 "_s, 250);
    row("negative", u"-5"_s, -5);
    row("negative zero", u"-0"_s, 0);
    row("largest", u"2147483647"_s, 2147483647);
    row("smallest", u"-2147483648"_s, -2147483647 - 1);

    const int mismatch = ErrorNumber::TypeMismatch;
    const int overflow = ErrorNumber::Overflow;
    row("one above largest", u"2147483648"_s, 0, overflow);
    row("one below smallest", u"-2147483649"_s, 0, overflow);
    row("twenty digits", u"99999999999999999999"_s, 0, overflow);
    row("empty", QString(), 0, mismatch);
    row("blanks only", u"   "_s, 0, mismatch);
    row("letters", u"abc"_s, 0, mismatch);
    row("digits then letter", u"12a"_s, 0, mismatch);
    row("exponent", u"1e2"_s, 0, mismatch);
    row("fraction", u"12.5"_s, 0, mismatch);
    row("hexadecimal", u"0x10"_s, 0, mismatch);
    row("sign alone", u"+"_s, 0, mismatch);
    row("minus alone", u"-"_s, 0, mismatch);
    row("double sign", u"--5"_s, 0, mismatch);
    row("blank inside", u" 5 5 "_s, 0, mismatch);
    row("sign apart from digits", u"- 5"_s, 0, mismatch);
    row("arabic-indic digits", u"١٠٠"_s, 0, mismatch);
    row("full-width digits", u"１００"_s, 0, mismatch);
    row("no-break space", u"\u00a0100"_s, 0, mismatch);
    row("embedded NUL", QString::fromUtf16(u"10\0" "0", 4), 0, mismatch);
    row("overflowing digits then a letter", u"99999999999999999999x"_s, 0, mismatch);
    row("megabyte of digits", QString(1 << 20, u'7'), 0, overflow);
    row("megabyte of blanks around a number", QString(1 << 19, u' ') + u"42"_s + QString(1 << 19, u' '), 42);
}

void tst_Conversion::textToInteger()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QFETCH(int, error);
    try {
        const std::int32_t value = ::textToInteger(text);
        QCOMPARE(error, 0);
        QCOMPARE(value, expected);
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), error);
        QVERIFY(!e.description().isEmpty());
    }
}

QTEST_APPLESS_MAIN(tst_Conversion)
#include "tst_conversion.moc"

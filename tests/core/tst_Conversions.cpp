#include <QDate>

#include "core/Conversions.h"
#include "platform/db/Connection.h"
#include "tests/support/TestMain.h"

class TestConversions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nullToString_data()
    {
        QTest::addColumn<QVariant>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("null") << db::Null() << "";
        QTest::newRow("typed null") << QVariant(QMetaType(QMetaType::QString)) << "";
        QTest::newRow("empty") << QVariant() << "";
        QTest::newRow("trailing blanks") << QVariant("abc   ") << "abc";
        QTest::newRow("leading blanks kept") << QVariant("  abc") << "  abc";
        QTest::newRow("number") << QVariant(12) << "12";
        QTest::newRow("negative") << QVariant(qlonglong(-1)) << "-1";
        QTest::newRow("bool") << QVariant(true) << "True";
    }
    void nullToString()
    {
        QFETCH(QVariant, in);
        const QVariant r = NullToString(in);
        QCOMPARE(r.typeId(), int(QMetaType::QString));
        QTEST(r.toString(), "out");
    }

    void datesAndTimesNameNoZone()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale("en_US"));
        const QString both = VariantText(QDateTime(QDate(2001, 8, 2), QTime(9, 3, 7)));
        const QString time = VariantText(QTime(21, 3, 7));
        QLocale::setDefault(saved);
        QCOMPARE(both, QString("8/2/01 9:03:07 AM"));
        QCOMPARE(time, QString("9:03:07 PM"));
    }

    void nullToZero_data()
    {
        QTest::addColumn<QVariant>("in");
        QTest::addColumn<QVariant>("out");
        QTest::newRow("null") << db::Null() << QVariant(0);
        QTest::newRow("empty text") << QVariant("") << QVariant(0);
        QTest::newRow("x1") << QVariant("x1") << QVariant(0);
        QTest::newRow("text 42 stays text") << QVariant("42") << QVariant("42");
        QTest::newRow("number") << QVariant(7) << QVariant(7);
        QTest::newRow("bool stays") << QVariant(true) << QVariant(true);
        QTest::newRow("date") << QVariant(QDate(2001, 1, 1)) << QVariant(0);
        QTest::newRow("Empty stays Empty") << QVariant() << QVariant();
    }
    void nullToZero()
    {
        QFETCH(QVariant, in);
        QFETCH(QVariant, out);
        const QVariant r = NullToZero(in);
        QCOMPARE(r.typeId(), out.typeId());
        QCOMPARE(r, out);
    }

    void checkValues_data()
    {
        QTest::addColumn<QVariant>("in");
        QTest::addColumn<int>("toCheck");
        QTest::addColumn<int>("toBool");
        QTest::newRow("-1") << QVariant(-1) << 1 << 0;
        QTest::newRow("0") << QVariant(0) << 0 << 0;
        QTest::newRow("1") << QVariant(1) << 0 << -1;
        QTest::newRow("null") << db::Null() << 0 << 0;
        QTest::newRow("True") << QVariant(true) << 1 << 0;
        QTest::newRow("text -1") << QVariant("-1") << 1 << 0;
        QTest::newRow("text 1") << QVariant("1") << 0 << -1;
        QTest::newRow("other text") << QVariant("yes") << 0 << 0;
    }
    void checkValues()
    {
        QFETCH(QVariant, in);
        QTEST(BoolToCheckValue(in).toInt(), "toCheck");
        QTEST(CheckValueToBool(in).toInt(), "toBool");
    }

    void checkRoundTrip()
    {
        QCOMPARE(CheckValueToBool(BoolToCheckValue(-1)).toInt(), -1);
        QCOMPARE(CheckValueToBool(BoolToCheckValue(db::Null())).toInt(), 0);
    }

    void val_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<double>("out");
        QTest::newRow("plain") << "12" << 12.0;
        QTest::newRow("trailing text") << "12abc" << 12.0;
        QTest::newRow("blanks inside") << " 1 2 3" << 123.0;
        QTest::newRow("decimal") << "-3.5x" << -3.5;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("hex") << "&HFF" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        // Cells may hold any text: a hex run past 64 bits keeps its low word, never overflows.
        QTest::newRow("hex full word") << "&HFFFFFFFFFFFFFFFF" << -1.0;
        QTest::newRow("hex past a word") << ("&H" + QString(40, QLatin1Char('F'))) << -1.0;
        QTest::newRow("octal past a word") << ("&O" + QString(40, QLatin1Char('7'))) << -1.0;
        QTest::newRow("none") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("dot only") << "." << 0.0;
    }
    void val()
    {
        QFETCH(QString, in);
        QTEST(Val(in), "out");
    }
};

FERROWYN_TEST_MAIN(TestConversions)
#include "tst_Conversions.moc"

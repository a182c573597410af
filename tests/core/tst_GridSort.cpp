#include <QDateTime>
#include <QElapsedTimer>

#include "core/GridSort.h"
#include "platform/ui/XArrayDB.h"
#include "tests/support/TestMain.h"

namespace {
// Rows 1..n of (key, tag); row 0 holds a marker that must never move.
ui::XArrayDB make(const QVariantList& keys)
{
    ui::XArrayDB xa;
    xa.ReDim(0, int(keys.size()), 0, 1);
    xa.SetValue(0, 0, QString("row0"));
    for (int i = 0; i < keys.size(); ++i) {
        xa.SetValue(i + 1, 0, keys.at(i));
        xa.SetValue(i + 1, 1, i + 1);
    }
    return xa;
}
QList<int> tags(const ui::XArrayDB& xa)
{
    QList<int> out;
    for (int r = 1; r <= xa.UpperBound(1); ++r) out << xa.Value(r, 1).toInt();
    return out;
}
} // namespace

class TestGridSort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sorts_data()
    {
        QTest::addColumn<QVariantList>("keys");
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("ascending");
        QTest::addColumn<QList<int>>("descending");
        const QDateTime d(QDate(2001, 3, 4), QTime(9, 0));
        QTest::newRow("text ignores case") << QVariantList{"cherry", "Banana", "apple"} << 0 << QList<int>{3, 2, 1} << QList<int>{1, 2, 3};
        QTest::newRow("equal text keeps order both ways") << QVariantList{"Smith", "Jones", "smith"} << 0 << QList<int>{2, 1, 3}
                                                          << QList<int>{1, 3, 2};
        QTest::newRow("numbers by Val") << QVariantList{"10", "9", "100", "12abc", "abc"} << 1 << QList<int>{5, 2, 1, 4, 3}
                                        << QList<int>{3, 4, 1, 2, 5};
        QTest::newRow("dates by day") << QVariantList{d.addDays(1), d, QDateTime(d.date(), QTime(17, 0))} << 2 << QList<int>{2, 3, 1}
                                      << QList<int>{1, 2, 3};
        QTest::newRow("unknown type leaves order") << QVariantList{"b", "a"} << 3 << QList<int>{1, 2} << QList<int>{1, 2};
        QTest::newRow("one row") << QVariantList{"a"} << 0 << QList<int>{1} << QList<int>{1};
        QTest::newRow("accented letters among their own")
            << QVariantList{"Zoe", QString::fromUtf8("Émile"), "Eve", "adam", QString::fromUtf8("émile")} << 0
            << QList<int>{4, 2, 5, 3, 1} << QList<int>{1, 3, 2, 5, 4};
    }
    void sorts()
    {
        QFETCH(QVariantList, keys);
        QFETCH(int, type);
        ui::XArrayDB a = make(keys);
        SortArrayAscending(a, 0, type);
        QTEST(tags(a), "ascending");
        QCOMPARE(a.Value(0, 0).toString(), QString("row0"));
        ui::XArrayDB b = make(keys);
        SortArrayDescending(b, 0, type);
        QTEST(tags(b), "descending");
    }

    void textFollowsTheUsersLanguage()
    {
        const QVariantList keys{"Zorn", QString::fromUtf8("Öberg"), "Olsen"};
        ui::XArrayDB a = make(keys);
        SortArrayAscending(a, 0, 0);
        QCOMPARE(tags(a), (QList<int>{2, 3, 1}));
        QVERIFY(CompareLess(QString::fromUtf8("Öberg"), "Zorn", 0));
        // Swedish puts Ö after Z.
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
        ui::XArrayDB b = make(keys);
        SortArrayAscending(b, 0, 0);
        const bool greater = CompareGreater(QString::fromUtf8("Öberg"), "Zorn", 0);
        QLocale::setDefault(before);
        QCOMPARE(tags(b), (QList<int>{3, 1, 2}));
        QVERIFY(greater);
    }

    void comparisons()
    {
        QVERIFY(CompareGreater("b", "A", 0));
        QVERIFY(!CompareGreater("a", "A", 0));
        QVERIFY(CompareLess("9", "10", 1));
        QVERIFY(!CompareLess(QDateTime(QDate(2001, 1, 1), QTime(9, 0)), QDateTime(QDate(2001, 1, 1), QTime(17, 0)), 2));
        QVERIFY(!CompareGreater("b", "a", 7));
    }

    void largeTextSortStaysOrdered()
    {
        ui::XArrayDB xa;
        const int n = 100000;
        xa.ReDim(1, n, 0, 7);
        for (int r = 1; r <= n; ++r) {
            xa.SetValue(r, 1, QString("name%1@example.org").arg((r * 7919) % n, 6, 10, QChar('0')));
            xa.SetValue(r, 0, r);
        }
        QElapsedTimer t;
        t.start();
        SortArrayAscending(xa, 1, 0);
        const qint64 ms = t.elapsed();
        qInfo("sorted %d rows by text in %lld ms", n, ms);
        for (int r = 2; r <= n; ++r) QVERIFY(xa.Value(r - 1, 1).toString() <= xa.Value(r, 1).toString());
    }
};

FERROWYN_TEST_MAIN(TestGridSort)
#include "tst_GridSort.moc"

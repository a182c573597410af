#include <stdexcept>

#include "platform/ui/XArrayDB.h"
#include "tests/support/TestMain.h"

using ui::XArrayDB;

namespace {
// Row r, column c holds "r:c".
void fill(XArrayDB& a)
{
    for (int r = a.LowerBound(1); r <= a.UpperBound(1); ++r)
        for (int c = a.LowerBound(2); c <= a.UpperBound(2); ++c)
            a.SetValue(r, c, QStringLiteral("%1:%2").arg(r).arg(c));
}

QString cellText(const XArrayDB& a, int r, int c) { return a.Value(r, c).toString(); }

// The first column of every row, joined: the order of the rows at a glance.
QString rows(const XArrayDB& a)
{
    QStringList out;
    for (int r = a.LowerBound(1); r <= a.UpperBound(1); ++r)
        out << (a.Value(r, a.LowerBound(2)).isNull() ? QStringLiteral("-") : a.Value(r, a.LowerBound(2)).toString());
    return out.join(QLatin1Char(' '));
}
} // namespace

class TestXArrayDB : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyArrayHasUpperBelowLower()
    {
        XArrayDB a;
        QCOMPARE(a.LowerBound(1), 0);
        QCOMPARE(a.UpperBound(1), -1);
        QCOMPARE(a.UpperBound(2), -1);
        QCOMPARE(a.Count(1), 0);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.Value(0, 0));

        a.ReDim(1, 0, 0, 7); // no rows, eight columns: what a load of an empty folder makes
        QCOMPARE(a.UpperBound(1), 0);
        QCOMPARE(a.LowerBound(1), 1);
        QCOMPARE(a.Count(1), 0);
        QCOMPARE(a.UpperBound(2), 7);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.Value(1, 0));
    }

    void boundsAndAccessOutsideThem()
    {
        XArrayDB a;
        a.ReDim(1, 3, 0, 2);
        QCOMPARE(a.UpperBound(1), 3);
        QCOMPARE(a.UpperBound(2), 2);
        QVERIFY(a.Value(2, 1).isNull());
        a(2, 1) = 42;
        QCOMPARE(a(2, 1).toInt(), 42);
        a.SetValue(3, 2, QStringLiteral("x"));
        QCOMPARE(cellText(a, 3, 2), QStringLiteral("x"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.Value(0, 0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.Value(4, 0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.SetValue(1, 3, 1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.UpperBound(3));
        // ReDim without Preserve drops every value.
        a.ReDim(1, 3, 0, 2);
        QVERIFY(a.Value(2, 1).isNull());
    }

    void reDimPreserve_data()
    {
        QTest::addColumn<int>("lb1");
        QTest::addColumn<int>("ub1");
        QTest::addColumn<int>("lb2");
        QTest::addColumn<int>("ub2");
        QTest::addColumn<QString>("firstColumn");
        // Starting from rows 1..4, columns 0..2, each row's column 0 reading "r:0".
        QTest::newRow("grow rows") << 1 << 6 << 0 << 2 << "1:0 2:0 3:0 4:0 - -";
        QTest::newRow("shrink rows") << 1 << 2 << 0 << 2 << "1:0 2:0";
        QTest::newRow("shrink to none") << 1 << 0 << 0 << 2 << "";
        QTest::newRow("lower bound moves") << 0 << 3 << 0 << 2 << "- 1:0 2:0 3:0";
        QTest::newRow("grow columns") << 1 << 4 << 0 << 5 << "1:0 2:0 3:0 4:0";
        QTest::newRow("shrink rows and columns") << 1 << 3 << 0 << 0 << "1:0 2:0 3:0";
    }

    void reDimPreserve()
    {
        QFETCH(int, lb1);
        QFETCH(int, ub1);
        QFETCH(int, lb2);
        QFETCH(int, ub2);
        QFETCH(QString, firstColumn);
        XArrayDB a;
        a.ReDim(1, 4, 0, 2);
        fill(a);
        a.ReDimPreserve(lb1, ub1, lb2, ub2);
        QCOMPARE(a.LowerBound(1), lb1);
        QCOMPARE(a.UpperBound(1), ub1);
        QCOMPARE(a.UpperBound(2), ub2);
        QCOMPARE(rows(a), firstColumn);
        // Every surviving cell keeps its value; every new cell is empty.
        for (int r = lb1; r <= ub1; ++r)
            for (int c = lb2; c <= ub2; ++c) {
                const bool existed = r >= 1 && r <= 4 && c <= 2;
                QCOMPARE(cellText(a, r, c), existed ? QStringLiteral("%1:%2").arg(r).arg(c) : QString());
            }
    }

    void rowsFreedByShrinkingComeBackEmpty()
    {
        XArrayDB a;
        a.ReDim(1, 5, 0, 1);
        fill(a);
        a.ReDimPreserve(1, 2, 0, 1);
        a.ReDimPreserve(1, 5, 0, 1);
        QCOMPARE(rows(a), QStringLiteral("1:0 2:0 - - -"));
        QVERIFY(a.Value(5, 1).isNull());
    }

    void deleteAndInsertRowsMoveTheRowsBelow()
    {
        XArrayDB a;
        a.ReDim(1, 6, 0, 1);
        fill(a);
        a.DeleteRows(3);
        QCOMPARE(rows(a), QStringLiteral("1:0 2:0 4:0 5:0 6:0"));
        QCOMPARE(cellText(a, 3, 1), QStringLiteral("4:1"));
        a.DeleteRows(4, 2);
        QCOMPARE(rows(a), QStringLiteral("1:0 2:0 4:0"));
        QCOMPARE(a.UpperBound(1), 3);

        a.InsertRows(2);
        QCOMPARE(rows(a), QStringLiteral("1:0 - 2:0 4:0"));
        QVERIFY(a.Value(2, 1).isNull()); // a reused row holds nothing of the deleted ones
        a.InsertRows(5, 2); // after the last row
        QCOMPARE(rows(a), QStringLiteral("1:0 - 2:0 4:0 - -"));
        a.InsertRows(1);
        QCOMPARE(rows(a), QStringLiteral("- 1:0 - 2:0 4:0 - -"));

        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.DeleteRows(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.DeleteRows(7, 2));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.InsertRows(9));
        QCOMPARE(a.UpperBound(1), 7); // a refused delete removed nothing

        a.DeleteRows(1, 7);
        QCOMPARE(a.UpperBound(1), 0);
        QCOMPARE(a.Count(1), 0);
    }

    void manyMiddleDeletesKeepOrder()
    {
        XArrayDB a;
        a.ReDim(1, 2000, 0, 0);
        for (int r = 1; r <= 2000; ++r)
            a.SetValue(r, 0, r);
        for (int i = 0; i < 1000; ++i)
            a.DeleteRows(a.UpperBound(1) / 2);
        QCOMPARE(a.UpperBound(1), 1000);
        for (int r = 2; r <= 1000; ++r)
            QVERIFY(a.Value(r, 0).toInt() > a.Value(r - 1, 0).toInt());
        QCOMPARE(a.Value(1, 0).toInt(), 1);
        QCOMPARE(a.Value(1000, 0).toInt(), 2000);
    }
};

FERROWYN_TEST_MAIN(TestXArrayDB)
#include "tst_XArrayDB.moc"

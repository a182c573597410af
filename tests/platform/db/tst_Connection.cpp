#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "tests/support/TestMain.h"

class TestConnection : public QObject {
    Q_OBJECT
    db::Connection c;

    int count()
    {
        db::Recordset rs;
        rs.Open("SELECT count(*) AS n FROM t", c);
        return rs.Fields("N").toInt();
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        c.Open(testsupport::TestHome::path() + "/t.db");
        c.Execute("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)");
    }
    void cleanup() { c.Close(); }

    void nestedTransactions()
    {
        {
            auto outer = c.BeginTrans();
            c.Execute("INSERT INTO t (v) VALUES ('a')");
            {
                auto inner = c.BeginTrans();
                c.Execute("INSERT INTO t (v) VALUES ('b')");
            } // rolled back: not committed
            QCOMPARE(count(), 1);
            outer.Commit();
        }
        QCOMPARE(count(), 1);
        {
            auto t = c.BeginTrans();
            c.Execute("INSERT INTO t (v) VALUES ('c')");
        }
        QCOMPARE(count(), 1);
    }

    // A commit the database refuses (here a deferred constraint) must leave nothing open behind:
    // the work is undone and later transactions commit for real.
    void refusedCommitUndoesTheWork()
    {
        c.Execute("PRAGMA foreign_keys=ON");
        c.Execute("CREATE TABLE child (id INTEGER PRIMARY KEY, "
                  "p INTEGER REFERENCES t(id) DEFERRABLE INITIALLY DEFERRED)");
        {
            auto t = c.BeginTrans();
            c.Execute("INSERT INTO t (v) VALUES ('lost')");
            c.Execute("INSERT INTO child (p) VALUES (999)");
            QVERIFY_THROWS_EXCEPTION(db::DbError, t.Commit());
        }
        QCOMPARE(count(), 0);
        {
            auto t = c.BeginTrans();
            c.Execute("INSERT INTO t (v) VALUES ('kept')");
            t.Commit();
        }
        c.Close();
        c.Open();
        QCOMPARE(count(), 1);
    }

    void recordsetReadsAtOpenSoWritesMayFollow()
    {
        c.Execute("INSERT INTO t (v) VALUES ('a')");
        c.Execute("INSERT INTO t (v) VALUES ('b')");
        db::Recordset rs;
        rs.Open("SELECT * FROM t ORDER BY id", c);
        QCOMPARE(rs.RecordCount(), 2L);
        QStringList seen;
        for (; !rs.Eof(); rs.MoveNext()) {
            seen << rs.Fields("V").toString();
            c.Execute("INSERT INTO t (v) VALUES ('new')");
        }
        QCOMPARE(seen, QStringList({"a", "b"}));
        QVERIFY_THROWS_EXCEPTION(db::DbError, rs.MoveNext());
        QVERIFY_THROWS_EXCEPTION(db::DbError, rs.Fields("nosuch"));
        rs.Close();
        QCOMPARE(rs.State(), 0);
    }

    void recordsetKeepsTypesAndRefusesSecondStatement()
    {
        c.Execute("CREATE TABLE k (i INTEGER, r REAL, t TEXT, b BLOB, n TEXT)");
        c.Execute("INSERT INTO k VALUES (-7, 2.5, 'Grüße ☃', x'00FF', NULL)");
        db::Recordset rs;
        rs.Open("SELECT * FROM k;  ", c);
        QCOMPARE(rs.Fields("i"), QVariant(qlonglong(-7)));
        QCOMPARE(rs.Fields("R").toDouble(), 2.5);
        QCOMPARE(rs.Fields("t").toString(), QString("Grüße ☃"));
        QCOMPARE(rs.Fields("b").toByteArray(), QByteArray("\x00\xff", 2));
        QVERIFY(db::IsNull(rs.Fields("n")));
        QVERIFY_THROWS_EXCEPTION(db::DbError, rs.Open("SELECT * FROM k; DELETE FROM k", c));
        QCOMPARE(rs.State(), 0);
        rs.Open("SELECT count(*) AS n FROM k", c);
        QCOMPARE(rs.Fields("n").toInt(), 1);
    }

    void preparedStatementsBindValues()
    {
        auto t = c.BeginTrans();
        auto ins = c.Prepare("INSERT INTO t (v) VALUES (?)");
        for (const char* v : {"x'; DROP TABLE t; --", "y"}) ins.Bind(0, QString(v)).Exec();
        t.Commit();
        QCOMPARE(count(), 2);
        auto sel = c.Prepare("SELECT v FROM t WHERE v = ?");
        sel.Bind(0, QString("y")).Exec();
        QVERIFY(sel.Next());
        QCOMPARE(sel.Value(0).toString(), QString("y"));
    }

    void closedConnectionRefuses()
    {
        c.Close();
        try {
            c.Execute("SELECT 1");
            QFAIL("no error");
        } catch (const db::DbError& e) {
            QCOMPARE(e.number(), long(db::errConnectionClosed));
        }
    }
};

FERROWYN_TEST_MAIN(TestConnection)
#include "tst_Connection.moc"

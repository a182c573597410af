#include <functional>

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

    // Values go in and come back as Qt's driver stores and reads them.
    void preparedValuesRoundTrip_data()
    {
        QTest::addColumn<QVariant>("in");
        QTest::addColumn<QVariant>("out");
        QTest::addColumn<QString>("type");
        QTest::newRow("text") << QVariant(QString("Grüße ☃")) << QVariant(QString("Grüße ☃")) << "text";
        QTest::newRow("empty text") << QVariant(QString("")) << QVariant(QString("")) << "text";
        QTest::newRow("null text") << QVariant(QString()) << db::Null() << "null";
        QTest::newRow("no value") << QVariant() << db::Null() << "null";
        QTest::newRow("null") << db::Null() << db::Null() << "null";
        QTest::newRow("int") << QVariant(-7) << QVariant(qlonglong(-7)) << "integer";
        QTest::newRow("bool") << QVariant(true) << QVariant(qlonglong(1)) << "integer";
        QTest::newRow("int64") << QVariant(qlonglong(1) << 40) << QVariant(qlonglong(1) << 40) << "integer";
        QTest::newRow("double") << QVariant(2.5) << QVariant(2.5) << "real";
        QTest::newRow("bytes") << QVariant(QByteArray("\x00\xff", 2)) << QVariant(QByteArray("\x00\xff", 2)) << "blob";
        QTest::newRow("empty bytes") << QVariant(QByteArray("")) << QVariant(QByteArray()) << "blob";
        QTest::newRow("date") << QVariant(QDate(2001, 8, 2)) << QVariant(QString("2001-08-02")) << "text";
        QTest::newRow("date and time") << QVariant(QDateTime(QDate(2001, 1, 5), QTime(9, 3, 7)))
                                       << QVariant(QString("2001-01-05T09:03:07.000")) << "text";
    }
    void preparedValuesRoundTrip()
    {
        QFETCH(QVariant, in);
        QFETCH(QVariant, out);
        QFETCH(QString, type);
        c.Execute("CREATE TABLE x (v)");
        auto ins = c.Prepare("INSERT INTO x (v) VALUES (:v)");
        ins.Bind(":v", in).Exec();
        QCOMPARE(ins.NumRowsAffected(), 1);
        QCOMPARE(ins.LastInsertId(), 1);
        auto sel = c.Prepare("SELECT v, typeof(v) FROM x");
        sel.Exec();
        QVERIFY(sel.Next());
        const QVariant v = sel.Value(0);
        QCOMPARE(db::IsNull(v), db::IsNull(out));
        if (!db::IsNull(out)) QCOMPARE(v, out);
        QCOMPARE(sel.Value("TYPEOF(V)").toString(), type);
        QVERIFY(!sel.Next());
        // The same through the bulk bindings: text, its UTF-8 bytes, a number.
        const QByteArray utf8 = in.toString().toUtf8();
        std::vector<std::function<void(db::Statement&)>> binds;
        if (in.typeId() == QMetaType::QString) {
            binds.push_back([&](db::Statement& st) { st.BindText(0, in.toString()); });
            binds.push_back([&](db::Statement& st) {
                st.BindUtf8(0, in.toString().isNull() ? QByteArrayView() : QByteArrayView(utf8.constData(), utf8.size()));
            });
        }
        if (in.typeId() == QMetaType::Int || in.typeId() == QMetaType::LongLong)
            binds.push_back([&](db::Statement& st) { st.BindInt64(0, in.toLongLong()); });
        for (const auto& bind : binds) {
            c.Execute("DELETE FROM x");
            auto text = c.Prepare("INSERT INTO x (v) VALUES (?)");
            bind(text);
            text.Exec();
            sel.Exec();
            QVERIFY(sel.Next());
            QCOMPARE(sel.Value(1).toString(), type);
            if (!db::IsNull(out)) QCOMPARE(sel.Value(0), out);
        }
    }

    // A statement runs again and again with new values; what is wrong with it is refused.
    void preparedStatementRefusals()
    {
        QVERIFY_THROWS_EXCEPTION(db::DbError, c.Prepare("SELECT 1; DELETE FROM t"));
        QVERIFY_THROWS_EXCEPTION(db::DbError, c.Prepare("SELECT nothing FROM nowhere"));
        auto ins = c.Prepare("INSERT INTO t (id, v) VALUES (?, ?)");
        ins.Bind(1, QString("unbound id"));
        QVERIFY_THROWS_EXCEPTION(db::DbError, ins.Exec());  // a placeholder left unbound
        ins.Bind(5, 1);
        ins.Bind(0, 1);
        QVERIFY_THROWS_EXCEPTION(db::DbError, ins.Exec());  // a placeholder that is not there
        ins.Bind(0, 1).Bind(1, QString("a"));
        ins.Exec();
        QVERIFY_THROWS_EXCEPTION(db::DbError, ins.Exec());  // the same id again: refused, and then
        ins.Bind(0, 2);                                     // it runs again with a new one
        ins.Exec();
        QCOMPARE(count(), 2);
        auto sel = c.Prepare("SELECT v FROM t ORDER BY id");
        sel.Exec();
        QVERIFY(sel.Next());
        // Closing the connection finalizes its statements: they refuse from then on.
        c.Close();
        QVERIFY(!sel.Next());
        QVERIFY_THROWS_EXCEPTION(db::DbError, ins.Exec());
        QVERIFY_THROWS_EXCEPTION(db::DbError, ins.Bind(0, 3));
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

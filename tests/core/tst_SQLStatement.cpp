#include <QDate>
#include <QDateTime>

#include "core/Database.h"
#include "core/SQLStatement.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "tests/support/TestMain.h"

using Setter = std::function<void(SQLStatement&)>;
Q_DECLARE_METATYPE(Setter)

class TestSQLStatement : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void finishedText_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<Setter>("set");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("kind");

        QTest::newRow("insert") << "INSERT INTO MasterList (?) VALUES (?);"
                                << Setter([](SQLStatement& s) { s.SetString("Email", "x"); s.SetInteger("Status", 0); })
                                << "INSERT INTO MasterList (Email, Status) VALUES ('x', 0);" << 1;
        QTest::newRow("update") << "UPDATE MailFolders SET ? WHERE RecID = 7"
                                << Setter([](SQLStatement& s) { s.SetString("FolderName", "X"); s.SetLong("ParentFolderRecID", 3); })
                                << "UPDATE MailFolders SET FolderName = 'X', ParentFolderRecID = 3 WHERE RecID = 7" << 2;
        QTest::newRow("same field other case keeps first place and name")
            << "INSERT INTO MasterList (?) VALUES (?);"
            << Setter([](SQLStatement& s) { s.SetString("Email", "a"); s.SetInteger("Status", 1); s.SetString("eMail", "b"); })
            << "INSERT INTO MasterList (Email, Status) VALUES ('b', 1);" << 1;
        QTest::newRow("quote doubled") << "INSERT INTO t (?) VALUES (?)"
                                       << Setter([](SQLStatement& s) { s.SetString("n", "O'Brien"); })
                                       << "INSERT INTO t (n) VALUES ('O''Brien')" << 1;
        QTest::newRow("empty string and NZ") << "UPDATE t SET ?"
                                             << Setter([](SQLStatement& s) { s.SetString("a", ""); s.SetStringNZ("b", "   "); s.SetStringNZ("c", " x "); })
                                             << "UPDATE t SET a = '', b = NULL, c = ' x '" << 2;
        QTest::newRow("update without placeholder unchanged") << "UPDATE t SET a = 1"
                                                              << Setter([](SQLStatement& s) { s.SetInteger("b", 2); })
                                                              << "UPDATE t SET a = 1" << 2;
        QTest::newRow("update without fields") << "UPDATE t SET ? WHERE RecID = 1" << Setter([](SQLStatement&) {})
                                               << "UPDATE t SET  WHERE RecID = 1" << 2;
        QTest::newRow("select keeps ?") << "SELECT * FROM t WHERE a = '?'"
                                        << Setter([](SQLStatement& s) { s.SetInteger("a", 1); })
                                        << "SELECT * FROM t WHERE a = '?'" << 3;
        QTest::newRow("lower-case and padded kinds") << "   Insert into t (?) Values (?)   "
                                                     << Setter([](SQLStatement& s) { s.SetLong("a", -1); })
                                                     << "Insert into t (a) Values (-1)" << 1;
        QTest::newRow("short text") << "UPD" << Setter([](SQLStatement&) {}) << "UPD" << 3;
        QTest::newRow("numbers") << "UPDATE t SET ?"
                                 << Setter([](SQLStatement& s) { s.SetDouble("d", -2.5); s.SetSingle("f", 0.25f); s.SetCurrency("c", 12); })
                                 << "UPDATE t SET d = -2.5, f = 0.25, c = 12" << 2;
        QTest::newRow("variant by type")
            << "UPDATE t SET ?"
            << Setter([](SQLStatement& s) {
                   s.SetVariant("s", QString("  it's  "));
                   s.SetVariant("n", 42);
                   s.SetVariant("b", true);
                   s.SetVariant("z", db::Null());
                   s.SetVariant("d", QDateTime(QDate(2001, 1, 5), QTime(9, 3, 7)));
               })
            << "UPDATE t SET s = 'it''s', n = 42, b = , z = , d = '2001-01-05 09:03:07'" << 2;
        QTest::newRow("dates")
            << "UPDATE t SET ?"
            << Setter([](SQLStatement& s) {
                   s.SetDate("a", QDate(2001, 8, 2));
                   s.SetDate("b", QString("not a date"));
                   s.SetTime("c", QTime(9, 3, 7));
                   s.SetTimeStamp("d", QDateTime(QDate(2001, 1, 5), QTime(9, 3, 7)));
                   s.SetDate("e", QString("2001-08-02"));
                   s.SetTimeStamp("f", 5);
               })
            << "UPDATE t SET a = '2001-08-02', b = NULL, c = '09:03:07', d = '2001-01-05 09:03:07', e = '2001-08-02', f = NULL"
            << 2;
    }

    void finishedText()
    {
        QFETCH(QString, sql);
        QFETCH(Setter, set);
        SQLStatement s;
        s.SetSql(sql);
        set(s);
        QTEST(s.Sql(), "expected");
        QTEST(s.Kind(), "kind");
    }

    void assigningSqlDropsFields()
    {
        SQLStatement s;
        s.SetSql("UPDATE t SET ?");
        s.SetInteger("a", 1);
        s.SetSql("UPDATE t SET ?");
        QCOMPARE(int(s.Fields().size()), 0);
        QCOMPARE(s.ClassName(), QString("SQLStatement Class"));
    }

    void executeAndErrors()
    {
        db::Connection c;
        OpenDatabase(c, testsupport::TestHome::path() + "/x.db");
        SQLStatement s;
        // No connection given: an unopened one of its own, so the send fails and is recorded.
        s.SetSql("INSERT INTO MailFolders (?) VALUES (?);");
        s.SetString("FolderName", "A");
        s.Execute();
        QVERIFY(s.Error());
        QCOMPARE(s.ErrorCode(), long(db::errConnectionClosed));
        QCOMPARE(s.ErrorMessage(), QString("INSERT INTO MailFolders (FolderName) VALUES ('A');.....(SysCode: 3709). "));
        QCOMPARE(s.ErrorSource(), QString("SQLStatement Class"));
        QCOMPARE(int(s.Fields().size()), 1);
        // Fields survive the failure: a second send after fixing the connection works.
        s.SetConnection(&c);
        s.Execute();
        QVERIFY(!s.Error());
        QCOMPARE(s.ErrorMessage(), QString());
        QCOMPARE(int(s.Fields().size()), 0);

        // A missing INSERT placeholder fails before the text is finished: the message carries
        // the previous text.
        s.SetSql("INSERT INTO MailFolders VALUES (?)");
        s.SetString("FolderName", "B");
        s.Execute();
        QCOMPARE(s.ErrorCode(), long(db::errInvalidArgument));
        QVERIFY(s.ErrorMessage().startsWith("INSERT INTO MailFolders (FolderName) VALUES ('A');....."));

        // A refused statement is recorded, not raised; a recordset read returns false.
        db::Recordset rs;
        s.SetSql("SELECT * FROM NoSuchTable");
        QVERIFY(!s.GetRecordsetFO(rs));
        QVERIFY(s.Error());
        QCOMPARE(s.LastSQLExecuted(), QString("SELECT * FROM NoSuchTable"));
        QVERIFY(s.ErrorMessage().endsWith("). "));

        // One statement per call: a second statement is never run.
        s.SetSql("DELETE FROM MailFolders; DROP TABLE MasterList;");
        s.Execute();
        QVERIFY(s.Error());
        s.SetSql("SELECT * FROM MasterList");
        QVERIFY(s.GetRecordsetFO(rs));
        s.SetSql("SELECT * FROM MailFolders");
        QVERIFY(s.GetRecordsetRO(rs));
        QCOMPARE(rs.RecordCount(), 1L);

        // An open recordset is closed and opened again with the new text.
        s.SetSql("SELECT FolderName AS N FROM MailFolders WHERE 1 = 0");
        QVERIFY(s.GetRecordset(rs));
        QVERIFY(rs.Eof());
        QVERIFY(rs.HasField("n"));
        c.Close();
    }
};

FERROWYN_TEST_MAIN(TestSQLStatement)
#include "tst_SQLStatement.moc"

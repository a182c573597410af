#include <QFile>

#include <sys/stat.h>

#include "core/Database.h"
#include "core/SQLStatement.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/ui/DataFolder.h"
#include "tests/support/TestMain.h"

class TestDatabase : public QObject {
    Q_OBJECT
    db::Connection c;

    QVariant one(const QString& sql, const QString& field)
    {
        SQLStatement s;
        s.SetConnection(&c);
        s.SetSql(sql);
        db::Recordset rs;
        if (!s.GetRecordsetFO(rs) || rs.Eof()) return QVariant();
        return rs.Fields(field);
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        OpenDatabase(c, DatabasePath());
    }
    void cleanup() { c.Close(); }

    void schemaIsComplete()
    {
        QVERIFY(QFile::exists(testsupport::TestHome::path() + "/dv.db"));
        for (const char* t : {"MasterList", "ListMembers", "MailFolders", "MailFolderProperties", "Profiles", "ProfileDetails",
                              "Config", "ConfigCombo"})
            QCOMPARE(one(QString("SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' AND name = '%1'").arg(t), "n").toInt(), 1);
        QCOMPARE(one("PRAGMA journal_mode", "journal_mode").toString(), QString("wal"));
        // Check columns default to 0; a new row's Status is settled, never a marker.
        SQLStatement s;
        s.SetConnection(&c);
        s.SetSql("INSERT INTO MasterList (?) VALUES (?);");
        s.SetString("Email", "a@x");
        s.Execute();
        QVERIFY(!s.Error());
        QCOMPARE(one("SELECT * FROM MasterList", "chkHot5").toInt(), 0);
        QCOMPARE(one("SELECT * FROM MasterList", "chk14").toInt(), 0);
        QCOMPARE(one("SELECT * FROM MasterList", "Disabled").toInt(), 0);
        QVERIFY(db::IsNull(one("SELECT * FROM MasterList", "combo14")));
        // Config's check columns hold captions.
        s.SetSql("INSERT INTO Config (?) VALUES (?);");
        s.SetString("chkHot0", "Customer");
        s.SetInteger("combofieldtype3", 2);
        s.Execute();
        QVERIFY(!s.Error());
        QCOMPARE(one("SELECT * FROM config;", "CHKHOT0").toString(), QString("Customer"));
    }

    // The data folder and the database are the user's alone.
    void privateToTheUser()
    {
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(DatabasePath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        c.Execute("INSERT INTO MasterList (Email) VALUES ('a@x')");
        QCOMPARE(::stat(QFile::encodeName(DatabasePath() + "-wal").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        const QString fresh = testsupport::TestHome::path() + "/not/yet/there";
        qputenv("FERROWYN_HOME", fresh.toUtf8());
        QCOMPARE(ui::DataFolder(), fresh);
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        qputenv("FERROWYN_HOME", testsupport::TestHome::path().toUtf8());
    }

    void emailMatchesWithoutCaseAndOrders()
    {
        SQLStatement s;
        s.SetConnection(&c);
        for (const char* e : {"b@x.org", "A@x.org", "c@x.org", "O'Neil@x.org"}) {
            s.SetSql("INSERT INTO MasterList (?) VALUES (?);");
            s.SetString("Email", e);
            s.Execute();
            QVERIFY(!s.Error());
        }
        QCOMPARE(one("SELECT RecID FROM MasterList WHERE Email = 'a@X.ORG';", "RecID").toInt(), 2);
        // A value with a quote, joined through the one escaping helper, finds its row.
        QCOMPARE(one("SELECT * FROM MasterList WHERE Email = '" + EscapeSQL("o'neil@x.org") + "';", "Email").toString(),
                 QString("O'Neil@x.org"));
        s.SetSql("SELECT * FROM MasterList ORDER By Email;");
        db::Recordset rs;
        QVERIFY(s.GetRecordsetFO(rs));
        QStringList order;
        for (; !rs.Eof(); rs.MoveNext()) order << rs.Fields("email").toString();
        QCOMPARE(order, QStringList({"A@x.org", "b@x.org", "c@x.org", "O'Neil@x.org"}));
    }

    void markerIdsInOneTransaction()
    {
        // Ids of new rows are read back by their marker and the marker is cleared, as one unit.
        QList<int> ids;
        for (const char* name : {"Friends", "Customers"}) {
            auto t = c.BeginTrans();
            SQLStatement s;
            s.SetConnection(&c);
            s.SetSql("INSERT INTO MailFolders (?) VALUES (?);");
            s.SetString("FolderName", name);
            s.SetLong("ParentFolderRecID", 1);
            s.SetLong("FolderType", 1);
            s.SetInteger("Status", 0);
            s.Execute();
            ids << one(QString("SELECT * FROM MailFolders WHERE FolderName = '%1' AND Status = 0;").arg(name), "RecID").toInt();
            s.SetSql("UPDATE MailFolders SET Status = -1;");
            s.Execute();
            t.Commit();
        }
        QCOMPARE(ids, QList<int>({1, 2}));

        // A failure between insert and clearing leaves no marker row behind.
        {
            auto t = c.BeginTrans();
            SQLStatement s;
            s.SetConnection(&c);
            s.SetSql("INSERT INTO MailFolders (?) VALUES (?);");
            s.SetLong("FolderType", -1);
            s.Execute();
            QVERIFY(one("SELECT RecID FROM MailFolders WHERE FolderType = -1;", "RecID").isValid());
        }
        QVERIFY(!one("SELECT RecID FROM MailFolders WHERE FolderType = -1;", "RecID").isValid());
    }

    void halfMadeFileFromACrashIsReplaced()
    {
        c.Close();
        const QString path = testsupport::TestHome::path() + "/fresh.db";
        QFile stale(path + ".new");
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("not a database");
        stale.close();
        OpenDatabase(c, path);
        QVERIFY(!QFile::exists(path + ".new"));
        QVERIFY(one("SELECT count(*) AS n FROM sqlite_master WHERE type = 'table'", "n").toInt() >= 8);
    }

    void unreadableFileIsAnError()
    {
        c.Close();
        const QString path = testsupport::TestHome::path() + "/garbage.db";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        QVERIFY_THROWS_EXCEPTION(db::DbError, OpenDatabase(c, path));
        QCOMPARE(c.State(), 0);
        QCOMPARE(QFile(path).size(), qint64(4096));
    }
};

FERROWYN_TEST_MAIN(TestDatabase)
#include "tst_Database.moc"

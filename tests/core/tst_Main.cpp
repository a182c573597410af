#include <QLockFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSysInfo>
#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/Main.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "platform/db/Recordset.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

namespace {
QVariantList rootRows()
{
    QVariantList out;
    QSqlQuery q(DBConnection().database());
    q.exec(QStringLiteral("SELECT FolderName, ParentFolderRecID, FolderType, Status FROM MailFolders"));
    while (q.next()) out << QVariant(QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A folder nothing can be written in, as a home remounted read-only is. Write permission is
// taken off it and, since root passes over permissions, this thread's effective capabilities
// are dropped meanwhile (the permitted ones stay, so they come back). The kernel then refuses a
// new file or a removal there with EACCES where a read-only mount says EROFS; an existing file's
// O_CREAT|O_EXCL still meets EEXIST first in both.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString& folder) : folder_(folder)
    {
        QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
        capabilities(SYS_capget, saved_);
        __user_cap_data_struct none[2] = {saved_[0], saved_[1]};
        none[0].effective = none[1].effective = 0;
        capabilities(SYS_capset, none);
    }
    ~UnwritableFolder()
    {
        capabilities(SYS_capset, saved_);
        QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

private:
    static void capabilities(long call, __user_cap_data_struct* data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(call, &header, data) != 0) qFatal("capabilities: %s", strerror(errno));
    }
    QString folder_;
    __user_cap_data_struct saved_[2] = {};
};

// The lock file a process of that pid and program leaves behind when it is killed.
void writeLockOf(qint64 pid, const QString& program)
{
    writeFile(InstanceLockPath(),
              QByteArray::number(pid) + '\n' + QFileInfo(program).fileName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
}
} // namespace

class TestMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { end(); }

    void startsWithWindowRootRowAndArrow()
    {
        Form1* f = start();
        QVERIFY(f);
        QVERIFY(f->isVisible());
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(rootRows(), (QVariantList{QStringList{"Master List", "0", "0", "-1"}}));
        QVERIFY(OLAPPObject && OutlookApp && MAPINameSpace);
        // The first node is the default store's root, and it is the current folder.
        QCOMPARE(CurrentFolderNode, f->TreeView1->Nodes(1)->Key());
        QCOMPARE(f->TreeView1->Nodes(1)->Text(), QStringLiteral("Personal Folders"));
        QVERIFY(ui::GetMousePointer() == ui::vbHourglass || ui::GetMousePointer() == ui::vbArrow);
        f->Form_Activate();
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));

        // A later start in the same folder adds no second root row.
        const QString home = testsupport::TestHome::path();
        f->close();
        delete Form1::Instance();
        ReleaseInstanceLock();
        QVERIFY(Main());
        QCOMPARE(rootRows().size(), 1);
        QCOMPARE(testsupport::TestHome::path(), home);
    }

    void secondInstanceEndsSilentlyTouchingNothing()
    {
        end();
        const QString home = testsupport::TestHome::reset();
        scripted().clear();
        QLockFile other(InstanceLockPath());
        QVERIFY(other.tryLock(0));
        int code = -1;
        QVERIFY(!Main(&code));
        QCOMPARE(code, 0);
        QVERIFY(scripted().boxes.isEmpty());
        QVERIFY(!Form1::Instance());
        QVERIFY(!OLAPPObject);
        QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QFileInfo(InstanceLockPath()).fileName()});
    }

    // A lock that names no process is what a crash or power loss leaves before its holder wrote
    // it: once a few seconds old it is taken over; newer, another start may still be writing it,
    // and the start says so rather than ending in silence.
    void lockNamingNoProcess_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("age");  // seconds; negative: stamped in the future
        QTest::addColumn<bool>("takenOver");
        QTest::newRow("empty, a minute old") << QByteArray() << 60 << true;
        QTest::newRow("empty, from the future") << QByteArray() << -3600 << true;
        QTest::newRow("no pid in it, a minute old") << QByteArray("\nferrowyn\n") << 60 << true;
        QTest::newRow("empty, just made") << QByteArray() << 0 << false;
        QTest::newRow("empty, a second old") << QByteArray() << 1 << false;
    }
    void lockNamingNoProcess()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, age);
        QFETCH(bool, takenOver);
        end();
        const QString home = testsupport::TestHome::reset();
        scripted().clear();
        writeFile(InstanceLockPath(), contents);
        {
            QFile lock(InstanceLockPath());
            QVERIFY(lock.open(QIODevice::ReadWrite));
            QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
        }
        int code = -1;
        const bool started = Main(&code);
        QCOMPARE(started, takenOver);
        if (takenOver) {
            QCOMPARE(code, 0);
            QVERIFY(scripted().boxes.isEmpty());
            QVERIFY(Form1::Instance());
            // The lock is this instance's now.
            QLockFile other(InstanceLockPath());
            qint64 pid = 0;
            QString host, program;
            QVERIFY(other.getLockInfo(&pid, &host, &program));
            QCOMPARE(pid, QCoreApplication::applicationPid());
            QVERIFY(!other.tryLock(0));
            QVERIFY(!QFile::exists(InstanceLockPath() + ".rmlock"));
            return;
        }
        QCOMPARE(code, 1);
        QVERIFY(!Form1::Instance());
        QVERIFY(!OLAPPObject);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QCOMPARE(scripted().boxes[0].prompt,
                 "Error Initializing the Data Folder.  Please ensure the data folder " + home +
                     " can be created and written on this computer.  The lock file " + InstanceLockPath() +
                     " names no running Ferrowyn: another one may be starting.  If none is, start Ferrowyn again in a few seconds.");
        QCOMPARE(QFile(InstanceLockPath()).size(), qint64(contents.size()));
    }

    // In a folder that takes no writes a lock cannot be taken over: only a running holder ends
    // the start silently; a lock whose holder is gone is the folder's fault.
    void lockInUnwritableFolder_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<bool>("silent");
        QTest::newRow("held in this process") << "this" << true;
        QTest::newRow("held by a running instance") << "running" << true;
        QTest::newRow("its process is gone") << "gone" << false;
        QTest::newRow("its pid is another program's now") << "reused" << false;
        QTest::newRow("it names no process") << "nobody" << false;
    }
    void lockInUnwritableFolder()
    {
        QFETCH(QString, holder);
        QFETCH(bool, silent);
        end();
        const QString home = testsupport::TestHome::reset();
        scripted().clear();
        QLockFile ours(InstanceLockPath());
        QProcess other;
        if (holder == "this") {
            QVERIFY(ours.tryLock(0));
        } else if (holder == "gone") {
            // Beyond the kernel's largest pid.
            writeLockOf((1 << 22) + 1, QCoreApplication::applicationFilePath());
        } else if (holder == "nobody") {
            writeFile(InstanceLockPath(), QByteArray());
            QFile lock(InstanceLockPath());
            QVERIFY(lock.open(QIODevice::ReadWrite));
            QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        } else {
            // A stand-in process: an instance when the lock names its program.
            other.start("sleep", {"60"});
            QVERIFY(other.waitForStarted());
            writeLockOf(other.processId(), holder == "running" ? "sleep" : QCoreApplication::applicationFilePath());
        }
        int code = -1;
        bool started = true;
        {
            UnwritableFolder readOnly(home);
            QVERIFY(!QFile(home + "/probe").open(QIODevice::WriteOnly));
            started = Main(&code);
        }
        other.kill();
        other.waitForFinished();
        QVERIFY(!started);
        QVERIFY(!Form1::Instance());
        QVERIFY(!OLAPPObject);
        QVERIFY(QFile::exists(InstanceLockPath()));
        if (silent) {
            QCOMPARE(code, 0);
            QVERIFY(scripted().boxes.isEmpty());
            return;
        }
        QCOMPARE(code, 1);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QCOMPARE(scripted().boxes[0].prompt, "Error Initializing the Data Folder.  Please ensure the data folder " + home +
                                                 " can be created and written on this computer.  Permission denied");
    }

    // Root writes through permissions, so a regular file stands in the folder's way.
    void unusableDataFolderShowsItsTrap_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("a file where the folder should be") << "taken";
        QTest::newRow("a folder that cannot be made") << "taken/data";
    }
    void unusableDataFolderShowsItsTrap()
    {
        QFETCH(QString, folder);
        end();
        const QString home = testsupport::TestHome::reset();
        scripted().clear();
        writeFile(home + "/taken", "not a folder");
        const QString path = home + "/" + folder;
        qputenv("FERROWYN_HOME", QFile::encodeName(path));
        int code = -1;
        const bool started = Main(&code);
        testsupport::TestHome::reset();
        QVERIFY(!started);
        QCOMPARE(code, 1);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QVERIFY2(scripted().boxes[0].prompt.startsWith("Error Initializing the Data Folder.  Please ensure the data folder " + path +
                                                       " can be created and written on this computer.  "),
                 qPrintable(scripted().boxes[0].prompt));
        // The system's reason follows.
        QVERIFY(scripted().boxes[0].prompt.contains("Not a directory"));
        QVERIFY(!Form1::Instance());
        QVERIFY(!OLAPPObject);
    }

    void secondStartInSameProcessIsRefused()
    {
        QVERIFY(start());
        QVERIFY(!Main());
        QVERIFY(scripted().boxes.isEmpty());
    }

    void unopenableDatabaseShowsTrapBAndReleasesMailHost()
    {
        QVERIFY(!start([](const QString& home) { writeFile(home + "/dv.db", QByteArray(4096, 'x')); }));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].prompt,
                 "Error Initializing the Database.  Please ensure the database file " + testsupport::TestHome::path() +
                     "/dv.db can be read and written and is a Ferrowyn database.  "
                     "Refer to the README (README.md in Ferrowyn's source folder) for more information.");
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QVERIFY(!OLAPPObject);
        QVERIFY(!Form1::Instance());
    }

    void mailStoreThatCannotBeCreatedShowsTrapA()
    {
        // A file where the store's folder should be.
        QVERIFY(!start([](const QString& home) { writeFile(home + "/Mail", "not a folder"); }));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].prompt, "Error Initializing Outlook.  Please ensure the mail store folder " +
                                                 testsupport::TestHome::path() + "/Mail can be created and written on this computer");
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        // Nothing after the mail host was started.
        QVERIFY(!QFile::exists(testsupport::TestHome::path() + "/dv.db"));
    }

    void unreadableFolderTableShowsTrapC()
    {
        QVERIFY(!start([](const QString& home) {
            db::Connection c;
            c.Open(home + "/dv.db");
            c.Execute("CREATE TABLE Other (x)");
            c.Close();
        }));
        const QString home = testsupport::TestHome::path();
        QCOMPARE(scripted().lastPrompt(), "There was an error in initialization.  Please check to see if the mail store folder " +
                                              home + "/Mail and the database file " + home + "/dv.db can be read.");
        QVERIFY(!Form1::Instance());
    }

    void storeWithoutMailRootLeavesListRootFirst()
    {
        Form1* f = start([](const QString& home) {
            QDir().mkpath(home + "/Mail");
            writeFile(home + "/Mail/.ferrowyn-folder", "id=00AA11BB22CC33DD44EE55FF66778899\nkind=contacts\n");
        });
        QVERIFY(f);
        ui::TreeNode* first = f->TreeView1->Nodes(1);
        QVERIFY(first);
        QCOMPARE(first->Text(), QStringLiteral("Master List"));
        QVERIFY(IsDravonelFolderNode(first));
        QCOMPARE(CurrentFolderNode, first->Key());
        QCOMPARE(f->TreeView1->Nodes().Count(), 1);
    }

    void mailAccounts_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no file") << QByteArray() << QStringList();
        QTest::newRow("file order") << QByteArray("[Work]\nAddress=a@x\n\n[Home]\nDefault=true\n[Club]\n")
                                    << QStringList{"Work", "Home", "Club"};
    }
    void mailAccounts()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, names);
        QVERIFY(start([&](const QString& home) {
            if (!ini.isEmpty()) writeFile(home + "/accounts.ini", ini);
        }));
        QCOMPARE(MailAccountCount, names.size());
        QVERIFY(MailAccounts.at(0).isNull() || MailAccounts.at(0).toString().isEmpty());
        for (int i = 0; i < names.size(); ++i) QCOMPARE(MailAccounts.at(i + 1).toString(), names.at(i));
    }

    void atMostHundredAccounts()
    {
        QByteArray ini;
        for (int i = 1; i <= 105; ++i) ini += "[A" + QByteArray::number(i) + "]\n";
        QVERIFY(start([&](const QString& home) { writeFile(home + "/accounts.ini", ini); }));
        QCOMPARE(MailAccountCount, 100);
        QCOMPARE(MailAccounts.at(100).toString(), QStringLiteral("A100"));
    }

    void closingDeletesPreviewFileClosesDatabaseAndReleasesHost()
    {
        Form1* f = start();
        QVERIFY(f);
        writeFile(ui::DataPath("~tmp.htm"), "<p>x</p>");
        f->close();
        QVERIFY(!QFile::exists(ui::DataPath("~tmp.htm")));
        QCOMPARE(DBConnection().State(), 0);
        QVERIFY(!OLAPPObject && !OutlookApp && !MAPINameSpace);
        // Again with no preview file: no message.
        f = start();
        f->close();
        QVERIFY(scripted().boxes.isEmpty());
    }
};

FERROWYN_TEST_MAIN(TestMain)
#include "tst_Main.moc"

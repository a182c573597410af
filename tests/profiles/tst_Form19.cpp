#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>

#include "core/Database.h"
#include "core/TreeKeys.h"
#include "platform/db/Recordset.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/Application.h"
#include "core/ValueRules.h"
#include "profiles/AddressImport.h"
#include "profiles/DelimitedReader.h"
#include "profiles/Form19.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

namespace {

QVariant scalar(const QString& text)
{
    db::Statement st = DBConnection().Prepare(text);
    st.Exec();
    return st.Next() ? st.Value(0) : QVariant();
}
int count(const QString& text) { return scalar("SELECT COUNT(*) FROM " + text).toInt(); }

QStringList emails()
{
    QStringList out;
    db::Statement st = DBConnection().Prepare("SELECT Email FROM MasterList ORDER BY Email");
    st.Exec();
    while (st.Next()) out << st.Value(0).toString();
    return out;
}

qint64 addFolder(const QString& name, int type = 1)
{
    db::Statement st = DBConnection().Prepare("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES (?, 1, ?)");
    st.Bind(0, name).Bind(1, type);
    st.Exec();
    return scalar("SELECT MAX(RecID) FROM MailFolders").toLongLong();
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = testsupport::TestHome::path() + "/" + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

QByteArray message(const QByteArray& headers, const QByteArray& type = "text/plain")
{
    return headers + "Subject: s\r\nDate: Tue, 2 Jan 2001 10:00:00 +0000\r\nContent-Type: " + type + "\r\n\r\nbody\r\n";
}

void fileMessage(const QString& maildir, const QString& name, const QByteArray& bytes)
{
    writeFile(QDir(testsupport::TestHome::path()).relativeFilePath(maildir) + "/cur/" + name + ":2,S", bytes);
}

QByteArray vcard(const QByteArray& name, const QByteArray& lines)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n" + lines + "END:VCARD\r\n";
}

// The dialog in a mode, with the named list folders selected.
std::unique_ptr<Form19> dialog(int mode, const QStringList& selected = {})
{
    auto d = std::make_unique<Form19>();
    d->SetMode(mode);
    for (int i = 0; i < d->List1->count(); ++i)
        d->List1->item(i)->setSelected(selected.contains(d->List1->item(i)->text()));
    return d;
}

// Runs the file import of path and returns the message boxes' prompts.
QStringList importFile(const QString& path, bool includeNames = false, const QStringList& folders = {})
{
    auto d = dialog(Form19::ModeFile, folders);
    d->Check1->setChecked(includeNames);
    scripted().clear();
    scripted().fileAnswers.enqueue(path);
    d->Command1_Click();
    QStringList prompts;
    for (const auto& b : scripted().boxes) prompts << b.prompt;
    return prompts;
}

} // namespace

class TestForm19 : public QObject {
    Q_OBJECT
    QString inboxPath, sentPath, contactsPath;

private Q_SLOTS:
    void init()
    {
        QVERIFY(start([](const QString& home) {
            QFile ini(home + "/stores.ini");
            ini.open(QIODevice::WriteOnly);
            ini.write("[Archive]\nPath=Archive\n[Book]\nPath=Book\n");
            QDir().mkpath(home + "/Archive/Old/cur");
            QDir().mkpath(home + "/Book");
            QFile card(home + "/Book/k.vcf");
            card.open(QIODevice::WriteOnly);
            card.write(vcard("Kim", "EMAIL:kim@book.org\r\n"));
        }));
        inboxPath = MAPINameSpace->GetDefaultFolder(mail::olFolderInbox)->Path();
        sentPath = MAPINameSpace->GetDefaultFolder(mail::olFolderSentMail)->Path();
        contactsPath = MAPINameSpace->GetDefaultFolder(mail::olFolderContacts)->Path();
    }
    void cleanupTestCase() { end(); }

    void modes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("label1");
        QTest::addColumn<QString>("label2End");
        QTest::addColumn<bool>("checkShown");
        QTest::addColumn<bool>("checked");
        QTest::newRow("mail") << 1 << "Import From Outlook Folders" << "found in all of your Outlook Mail Folders." << false << false;
        QTest::newRow("contacts") << 2 << "Import From Contact Folders (Address Book)"
                                  << "found in the Contact Folders (Address Book)." << true << true;
        QTest::newRow("file") << 4 << "Import From Comma Delimited File" << "imported from a comma delimited file." << true << false;
        QTest::newRow("other") << 3 << "Import Utility" << "" << false << false;
    }
    void modes()
    {
        QFETCH(int, mode);
        QFETCH(QString, label1);
        QFETCH(QString, label2End);
        QFETCH(bool, checkShown);
        QFETCH(bool, checked);
        Form19 d;
        QCOMPARE(d.windowTitle(), QString("Import Utility"));
        d.SetMode(mode);
        QCOMPARE(d.Mode(), mode);
        QCOMPARE(d.Label1->text(), label1);
        QVERIFY(label2End.isEmpty() ? d.Label2->text().isEmpty() : d.Label2->text().endsWith(label2End));
        QCOMPARE(!d.Check1->isHidden(), checkShown);
        QCOMPARE(d.Check1->isChecked(), checked);
        if (mode == 3) {
            // Continue does nothing in an unknown mode.
            d.Command1_Click();
            QVERIFY(scripted().boxes.isEmpty() && scripted().files.isEmpty());
        }
    }

    void targetListLeavesOutTheRootByItsType()
    {
        sql("UPDATE MailFolders SET FolderName = 'Everyone' WHERE FolderType = 0");
        const qint64 zeta = addFolder("Zeta");
        const qint64 alpha = addFolder("alpha");
        addFolder("Master List");  // a list folder may carry the root's old name
        addFolder("Being copied", -1);
        Form19 d;
        QStringList names;
        for (int i = 0; i < d.List1->count(); ++i) names << d.List1->item(i)->text();
        QCOMPARE(names, (QStringList{"alpha", "Master List", "Zeta"}));
        QVERIFY(d.List1->selectedItems().isEmpty());
        d.List1->item(2)->setSelected(true);
        d.List1->item(0)->setSelected(true);
        QCOMPARE(d.SelectedFolders(), (QList<qint64>{alpha, zeta}));
    }

    void importAddress()
    {
        const qint64 f1 = addFolder("One"), f2 = addFolder("Two");
        sql("INSERT INTO MasterList (Email, First) VALUES ('Ann@X.org', 'Ann')");
        const qint64 ann = scalar("SELECT RecID FROM MasterList").toLongLong();
        sql(QString("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(ann).arg(f1));
        const QStringList record{"Acme", "Fn", "Ln", "Mn", "A1", "A2", "City", "ST", "UK", "Z9", "P1", "P2", "Fx", "Cl"};
        {
            AddressImport imp(DBConnection(), {f1, f2});
            // Another letter case, blanks around it: the same address, kept as it was.
            QCOMPARE(imp.ImportAddress("  ann@x.org ", record), AddressImport::Existing);
            QCOMPARE(imp.ImportAddress("Bob Smith"), AddressImport::Skipped);
            QCOMPARE(imp.ImportAddress("@x.org"), AddressImport::Skipped);
            QCOMPARE(imp.ImportAddress("   "), AddressImport::Skipped);
            QCOMPARE(imp.SkippedCount(), 2);
            QCOMPARE(imp.ImportAddress("o'neil@x.org"), AddressImport::Added);
            QCOMPARE(imp.ImportAddress("new@x.org", record), AddressImport::Added);
            QCOMPARE(imp.ImportAddress("NEW@x.org"), AddressImport::Existing);
        }
        QCOMPARE(emails(), (QStringList{"Ann@X.org", "new@x.org", "o'neil@x.org"}));
        QCOMPARE(scalar("SELECT First FROM MasterList WHERE RecID = " + QString::number(ann)).toString(), QString("Ann"));
        db::Statement st = DBConnection().Prepare(
            "SELECT Company, First, Last, Middle, Address1, Address2, City, State, Country, Zip, Phone1, Phone2, Fax, Cell, "
            "Website FROM MasterList WHERE Email = 'new@x.org'");
        st.Exec();
        QVERIFY(st.Next());
        for (int i = 0; i < record.size(); ++i) QCOMPARE(st.Value(i).toString(), record[i]);
        QVERIFY(st.Value(14).isNull());
        // One membership per address and folder, the one already there included.
        QCOMPARE(count("ListMembers"), 6);
        QCOMPARE(count(QString("ListMembers WHERE MasterRecID = %1 AND FolderRecID = %2").arg(ann).arg(f1)), 1);
        QCOMPARE(scalar("SELECT COUNT(*) FROM (SELECT DISTINCT MasterRecID, FolderRecID FROM ListMembers)").toInt(), 6);
    }

    void refusedInsertGoesOn()
    {
        const qint64 f1 = addFolder("One");
        sql("CREATE TRIGGER refuse BEFORE INSERT ON MasterList WHEN NEW.Email = 'bad@x.org' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        {
            AddressImport imp(DBConnection(), {f1}, 2);
            QCOMPARE(imp.ImportAddress("a@x.org"), AddressImport::Added);
            QCOMPARE(imp.ImportAddress("bad@x.org"), AddressImport::Failed);
            QVERIFY(imp.LastError().contains("refused"));
            QCOMPARE(imp.ImportAddress("b@x.org"), AddressImport::Added);
        }
        sql("DROP TRIGGER refuse");
        QCOMPARE(emails(), (QStringList{"a@x.org", "b@x.org"}));
        QCOMPARE(count("ListMembers"), 2);
    }

    // The queued import writes many rows a statement; what it leaves must be what importing the
    // addresses one by one leaves, ids and the order of memberships included: twins in other
    // letter cases, addresses already there (one already in a folder), a refused one inside a
    // full statement, and addresses without their records.
    void queuedImportAsOneByOne()
    {
        const qint64 f1 = addFolder("One"), f2 = addFolder("Two");
        const QStringList record{"Acme", "Fn", "Ln", "Mn", "A1", "A2", "City", "ST", "UK", "Z9", "P1", "P2", "Fx", "Cl"};
        // Long runs of new addresses (whole statements, one of them with the refused address),
        // then twins and old addresses among them.
        QStringList addresses;
        QList<bool> withRecord;
        auto add = [&](const QString& a, bool record) {
            addresses << a;
            withRecord << record;
        };
        for (int i = 0; i < 420; ++i) {
            add(QString("a%1@x.org").arg(i), i < 300);
            if (i == 150) add("bad@x.org", true);
            if (i == 0 || i == 390) {
                add(QString("old%1@x.org").arg(i % 5), false);
                add("not an address", false);
            }
            if (i == 320 || i == 333 || i == 350) {
                add(QString("A%1@X.ORG").arg(i - 3), false);
                add(QString("a%1@x.org").arg(i), false);
            }
        }
        sql("CREATE TRIGGER refuse BEFORE INSERT ON MasterList WHEN NEW.Email = 'bad@x.org' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        auto state = [&](bool queued) {
            sql("DELETE FROM ListMembers");
            sql("DELETE FROM MasterList");
            sql("DELETE FROM sqlite_sequence WHERE name IN ('MasterList', 'ListMembers')");
            for (int k = 0; k < 6; ++k) sql(QString("INSERT INTO MasterList (Email) VALUES ('Old%1@x.org')").arg(k));
            sql(QString("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (2, %1)").arg(f2));
            QStringList counts;
            {
                AddressImport imp(DBConnection(), {f1, f2}, 1000);
                for (int i = 0; i < addresses.size(); ++i) {
                    const QStringList others = withRecord[i] ? record : QStringList();
                    if (queued) imp.QueueAddress(addresses[i], others);
                    else imp.ImportAddress(addresses[i], others);
                }
                imp.Commit();
                counts << QString::number(imp.AddedCount()) << QString::number(imp.SkippedCount())
                       << QString::number(imp.FailedCount()) << imp.LastError().section(" [", 0, 0);
            }
            QStringList rows;
            db::Statement st = DBConnection().Prepare("SELECT RecID, Email, Company, SortName FROM MasterList ORDER BY RecID");
            st.Exec();
            while (st.Next()) rows << st.Value(0).toString() + " " + st.Value(1).toString() + " " + st.Value(2).toString() + " " + st.Value(3).toString();
            db::Statement m = DBConnection().Prepare("SELECT RecID, MasterRecID, FolderRecID FROM ListMembers ORDER BY RecID");
            m.Exec();
            while (m.Next()) rows << m.Value(0).toString() + ":" + m.Value(1).toString() + ">" + m.Value(2).toString();
            return counts + rows;
        };
        const QStringList oneByOne = state(false);
        const QStringList queued = state(true);
        sql("DROP TRIGGER refuse");
        QCOMPARE(queued.mid(0, 4), oneByOne.mid(0, 4));
        QCOMPARE(oneByOne.at(2), QString("1"));  // bad@x.org
        QCOMPARE(queued.size(), oneByOne.size());
        for (int i = 4; i < queued.size(); ++i) QCOMPARE(queued.at(i), oneByOne.at(i));
    }

    void importCommitsInBatches()
    {
        AddressImport imp(DBConnection(), {}, 2);
        for (int i = 0; i < 5; ++i) imp.ImportAddress(QString("b%1@x.org").arg(i));
        // Another connection sees what the finished batches hold while the import goes on.
        db::Connection other;
        other.Open(DatabasePath());
        db::Statement st = other.Prepare("SELECT COUNT(*) FROM MasterList");
        st.Exec();
        QVERIFY(st.Next());
        QCOMPARE(st.Value(0).toInt(), 4);
    }

    void fileImport_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("closing");
        QTest::newRow("empty file") << QByteArray() << QStringList{} << "Total Addresses Processed: 0";
        QTest::newRow("values, empty line, two on a line")
            << QByteArray("a@x.org,b@x.org\n\nc@x.org\n") << QStringList{"a@x.org", "b@x.org", "c@x.org"}
            << "Total Addresses Processed: 4";
        QTest::newRow("export read back") << QByteArray("\"a@x.org\"\r\n\"b@x.org\"\r\n\"a@x.org\"\r\n")
                                          << QStringList{"a@x.org", "b@x.org"} << "Total Addresses Processed: 3";
        QTest::newRow("header line") << QByteArray("\xEF\xBB\xBF" "Email\r\nc@x.org\r\n") << QStringList{"c@x.org"}
                                     << "Total Addresses Processed: 2\nSkipped (not an email address): 1";
        // Only what a send can use is stored; a valid quoted local part is one of them.
        QTest::newRow("addresses no send could use")
            << QByteArray("a@x.org\nb@c@x.org\n\"=HYPERLINK(\"\"http://x\"\")@x.org\"\n\"\"\"j s\"\"@x.org\"\n")
            << QStringList{"\"j s\"@x.org", "a@x.org"}
            << "Total Addresses Processed: 4\nSkipped (not an email address): 2";
    }
    void fileImport()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QFETCH(QString, closing);
        const qint64 list = addFolder("List");
        const QString path = writeFile("in.csv", bytes);
        QCOMPARE(importFile(path, false, {"List"}), QStringList{closing});
        QCOMPARE(scripted().boxes.last().style, int(ui::vbInformation));
        QCOMPARE(scripted().files.size(), 1);
        QCOMPARE(scripted().files[0].filter, QString("CSV Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*"));
        QCOMPARE(emails(), expected);
        QCOMPARE(count(QString("ListMembers WHERE FolderRecID = %1").arg(list)), expected.size());

        // A second run adds nothing.
        QCOMPARE(importFile(path, false, {"List"}), QStringList{closing});
        QCOMPARE(emails(), expected);
        QCOMPARE(count("ListMembers"), expected.size());
    }

    // Addresses copied from a web page bring invisible characters and stray punctuation along;
    // none of them is stored, and the closing message counts them.
    void fileImportRefusesPastedAddresses()
    {
        addFolder("List");
        const QByteArray bytes = "a@x.org\n"
                                 "b\xE2\x80\x8B@x.org\n"        // zero-width space
                                 "\xE2\x80\x8E" "c@x.org\n"      // left-to-right mark
                                 "\"d@x.org'\"\n"
                                 "e@x.org?subject=hi\n"
                                 "f@localhost\n";
        QCOMPARE(importFile(writeFile("in.csv", bytes), false, {"List"}),
                 QStringList{"Total Addresses Processed: 6\nSkipped (not an email address): 5"});
        QCOMPARE(emails(), QStringList{"a@x.org"});
    }

    // Addresses the database refused are counted in the closing message, not passed over.
    void fileImportReportsRefusedAddresses()
    {
        addFolder("List");
        sql("CREATE TRIGGER refuse BEFORE INSERT ON MasterList WHEN NEW.Email = 'bad@x.org' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        const QStringList prompts = importFile(writeFile("in.csv", "a@x.org\nbad@x.org\nb@x.org\n"), false, {"List"});
        sql("DROP TRIGGER refuse");
        QCOMPARE(prompts.size(), 1);
        QVERIFY2(prompts.first().startsWith("Total Addresses Processed: 3\nRefused by the database: 1\n"),
                 qPrintable(prompts.first()));
        QVERIFY(prompts.first().section('\n', -1).contains("refused"));
        QCOMPARE(emails(), (QStringList{"a@x.org", "b@x.org"}));
    }

    void fileImportWithNames()
    {
        // Quoted values hold commas, line breaks and quotes; the second record is Windows-1252,
        // the others UTF-8.
        const QByteArray bytes = "x@y.org,\"Acme, \"\"Best\"\"\",J\xC3\xB6rg,Lee,M,\"1 Road\r\nFlat 2\",,Town,ST,UK,Z1,p1,p2,f,c\n"
                                 "w@y.org,,Ren\xE9,,,,,,,,,,,,\r\n"
                                 "z@y.org,,,,,,,,,,,,,,\n";
        QCOMPARE(importFile(writeFile("names.csv", bytes), true), QStringList{"Total Addresses Processed: 3"});
        QCOMPARE(emails(), (QStringList{"w@y.org", "x@y.org", "z@y.org"}));
        db::Statement st = DBConnection().Prepare("SELECT Company, First, Last, Middle, Address1, Address2, City, State, Cell FROM MasterList WHERE Email = 'x@y.org'");
        st.Exec();
        QVERIFY(st.Next());
        const QStringList want{"Acme, \"Best\"", QString::fromUtf8("Jörg"), "Lee", "M", "1 Road\r\nFlat 2", "", "Town", "ST", "c"};
        for (int i = 0; i < want.size(); ++i) QCOMPARE(st.Value(i).toString(), want[i]);
        QCOMPARE(scalar("SELECT First FROM MasterList WHERE Email = 'w@y.org'").toString(), QString::fromUtf8("René"));
    }

    // A record is a line: a short one shifts nothing into the records after it.
    void fileImportWithNamesShortAndLongLines()
    {
        const QByteArray bytes = "a@y.org,Acme,Ann\n"                            // short: no Last and on
                                 "b@y.org,Bell,Bob,Brown,,,,,,,,,,,,surplus,more\n" // long: surplus ignored
                                 "\n"                                              // empty: counted, nothing else
                                 "c@y.org,Cox,Cy,Carr,,,,,,,,,,,\n";
        QCOMPARE(importFile(writeFile("short.csv", bytes), true),
                 QStringList{"Total Addresses Processed: 4\n"
                             "Records with fewer than 15 values (the missing ones left empty): 1\n"
                             "Records with more than 15 values (the extra ones ignored): 1"});
        QCOMPARE(emails(), (QStringList{"a@y.org", "b@y.org", "c@y.org"}));
        db::Statement st = DBConnection().Prepare("SELECT Email, Company, First, Last, Cell FROM MasterList ORDER BY Email");
        st.Exec();
        const QList<QStringList> want{{"a@y.org", "Acme", "Ann", "", ""}, {"b@y.org", "Bell", "Bob", "Brown", ""},
                                      {"c@y.org", "Cox", "Cy", "Carr", ""}};
        for (const QStringList& row : want) {
            QVERIFY(st.Next());
            for (int i = 0; i < row.size(); ++i) QCOMPARE(st.Value(i).toString(), row[i]);
        }

        // The one-value form keeps its rule: every value is an address.
        sql("DELETE FROM MasterList");
        QCOMPARE(importFile(writeFile("one.csv", "a@y.org,b@y.org\nc@y.org\n"), false),
                 QStringList{"Total Addresses Processed: 3"});
        QCOMPARE(emails(), (QStringList{"a@y.org", "b@y.org", "c@y.org"}));
    }

    // New rows get the sort name their names give, so they show a Name in the address grid;
    // an address already there keeps its own.
    void fileImportWithNamesFillsSortName()
    {
        sql("INSERT INTO MasterList (Email, Last, SortName) VALUES ('old@y.org', 'Old', 'Old, Kept')");
        const QByteArray bytes = "n@y.org,Acme,Ann,Lee,B,,,,,,,,,,\n"
                                 "c@y.org,  Acme Ltd ,,,,,,,,,,,,,\n"
                                 "f@y.org,Acme,Ann,,,,,,,,,,,,\n"
                                 "old@y.org,New Co,New,Name,,,,,,,,,,,\n";
        importFile(writeFile("sortnames.csv", bytes), true);
        db::Statement st = DBConnection().Prepare("SELECT Email, SortName FROM MasterList ORDER BY Email");
        st.Exec();
        QStringList got;
        while (st.Next()) got << st.Value(0).toString() + "=" + st.Value(1).toString();
        QCOMPARE(got, (QStringList{"c@y.org=Acme Ltd", "f@y.org=", "n@y.org=Lee, Ann, B", "old@y.org=Old, Kept"}));
    }

    // A record stores the text its values read as, and the sort name SortNameOf gives them: an
    // empty value is empty, a value a short record lacks is NULL, blanks at the ends of a name
    // do not reach the sort name, and Windows-1252 and byte-order marks read as they do in text.
    void fileImportWithNamesStoresTheValuesText()
    {
        const QList<QByteArray> lines{
            "a@y.org,Acme,Ann,Lee,B,1 Road,,Town,ST,UK,Z1,p1,p2,f,c",
            "b@y.org,Acme",
            "i@y.org",
            "c@y.org,,Fn",
            "d@y.org,,,,,,,,,,,,,,",
            "e@y.org,\" Acme \",\" Ann\",\"Lee \",\"\tB\",,",
            "f@y.org,Zo\xC3\xAB,J\xC3\xB6rg,\xC3\x91o\xC3\xB1o,\xC3\x89,,",
            "g@y.org,\xEF\xBB\xBF" "Co,\xEF\xBB\xBF\xEF\xBB\xBF" "Fn,Ln,\xC2\xA0M",
            "h@y.org,J\xF6rg,,L\xE9" "e,\xA0",
        };
        importFile(writeFile("text.csv", lines.join("\r\n")), true);
        const QStringList columns = QStringList(AddressImport::RecordColumns()) << "SortName";
        for (const QByteArray& line : lines) {
            DelimitedReader r;
            r.SetBytes(line);
            QStringList v;
            r.ReadLine(v);
            v.resize(15);
            QStringList want = v.mid(1);
            want << SortNameOf(v[2], v[3], v[4], v[1]);
            for (int i = 0; i < columns.size(); ++i) {
                db::Statement st = DBConnection().Prepare(QString("SELECT %1 IS NULL, hex(%1) FROM MasterList WHERE Email = ?").arg(columns[i]));
                st.Bind(0, v[0]).Exec();
                QVERIFY2(st.Next(), line.constData());
                QVERIFY2(st.Value(0).toBool() == want[i].isNull() && st.Value(1).toString() == QString(want[i].toUtf8().toHex().toUpper()),
                         qPrintable(v[0] + " " + columns[i] + ": " + st.Value(1).toString()));
            }
        }
    }

    void fileThatStopsEarlyOrCannotBeRead()
    {
        // The second record's quoted value never closes.
        const QString cut = writeFile("cut.csv", "a@x.org,,,,,,,,,,,,,,\nb@x.org,\"Co\n");
        const QStringList prompts = importFile(cut, true);
        QCOMPARE(prompts, QStringList{"The file ends inside record 2. The records before it were imported."});
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QCOMPARE(emails(), QStringList{"a@x.org"});

        const QString missing = testsupport::TestHome::path() + "/none.csv";
        const QStringList p2 = importFile(missing);
        QCOMPARE(p2.size(), 1);
        QVERIFY(p2[0].startsWith("The file could not be read: " + missing + "\n"));
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));

        // Cancel in the file dialog ends the import silently.
        QCOMPARE(importFile(QString()), QStringList{});
        QCOMPARE(emails(), QStringList{"a@x.org"});
    }

    void fileImportReloadsTheListShown()
    {
        Form1* f = Form1::Instance();
        const qint64 list = addFolder("Shown");
        f->LoadFolders();
        CurrentFolderNode = ListFolderKey(list);
        f->LoadEmailAddresses(f->TreeView1->Nodes(CurrentFolderNode));
        QCOMPARE(f->ex->UpperBound(1), 0);
        importFile(writeFile("s.csv", "s1@x.org\ns2@x.org\n"), false, {"Shown"});
        QCOMPARE(f->ex->UpperBound(1), 2);
    }

    void mailFolders()
    {
        const qint64 list = addFolder("List");
        const QString home = testsupport::TestHome::path();
        fileMessage(inboxPath, "1.a", message("From: Ann <ann@x.org>\r\nTo: me@here.org\r\n"));
        fileMessage(inboxPath, "2.b", message("From: Bob <bob@x.org>\r\nReply-To: bob.list@x.org\r\nTo: me@here.org\r\n"));
        fileMessage(inboxPath, "3.c", message("From: carol@x.org\r\nTo: me@here.org\r\n", "text/calendar; method=REQUEST"));
        fileMessage(sentPath, "4.d", message("From: me@here.org\r\nTo: Dave <dave@x.org>, eve@x.org\r\n"));
        // A contact folder inside a mail folder, and a mail folder inside that.
        writeFile(QDir(home).relativeFilePath(inboxPath) + "/Cards/c.vcf", vcard("Cy", "EMAIL:cy@x.org\r\n"));
        fileMessage(inboxPath + "/Cards/Deep", "5.e", message("From: erin@x.org\r\n"));
        // The second store: a repeat and a sender with no address.
        fileMessage(home + "/Archive/Old", "6.f", message("From: ANN@x.org\r\n"));
        fileMessage(home + "/Archive/Old", "7.g", message("From: Frank\r\n"));

        for (int run = 0; run < 2; ++run) {
            auto d = dialog(Form19::ModeMailFolders, {"List"});
            scripted().clear();
            d->Command1_Click();
            QCOMPARE(scripted().lastPrompt(), QString("Total Messages Scanned: 7\nSkipped (not an email address): 1"));
            QCOMPARE(scripted().boxes.size(), 1);
            QCOMPARE(d->ImportItemCounter, 7);
            QCOMPARE(d->ProgressBar1->maximum(), 8);
            QCOMPARE(d->ProgressBar1->value(), 7);
            QCOMPARE(emails(), (QStringList{"ann@x.org", "bob.list@x.org", "dave@x.org", "erin@x.org"}));
            QCOMPARE(count(QString("ListMembers WHERE FolderRecID = %1").arg(list)), 4);
            QCOMPARE(count("ListMembers"), 4);
            QCOMPARE(scripted().pointerHistory.first(), int(ui::vbHourglass));
            QCOMPARE(scripted().mousePointer(), int(ui::vbDefault));
        }
    }

    void noItemsLeavesTheScanOut()
    {
        auto d = dialog(Form19::ModeMailFolders);
        d->ProgressBar1->setValue(50);
        d->Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QString("Total Messages Scanned: 0"));
        QCOMPARE(d->ProgressBar1->value(), 50);
    }

    void contactFolders()
    {
        addFolder("List");
        const QString home = testsupport::TestHome::path();
        const QString contacts = QDir(home).relativeFilePath(contactsPath);
        writeFile(contacts + "/a.vcf", vcard("Al", "EMAIL:al@x.org\r\nEMAIL:al2@x.org\r\n"));
        writeFile(contacts + "/n.vcf", vcard("Nobody", ""));
        writeFile(contacts + "/g.vcf", vcard("Group", "KIND:group\r\nEMAIL:group@x.org\r\n"));
        writeFile(QDir(home).relativeFilePath(inboxPath) + "/Cards/c.vcf", vcard("Cy", "EMAIL:cy@x.org\r\n"));
        fileMessage(inboxPath, "1.a", message("From: ann@x.org\r\n"));

        for (int run = 0; run < 2; ++run) {
            auto d = dialog(Form19::ModeContactFolders, {"List"});
            scripted().clear();
            d->Command1_Click();
            // The store that is itself a contact folder is named first, in a plain box.
            QCOMPARE(scripted().boxes.size(), 2);
            QCOMPARE(scripted().boxes[0].prompt, QString("Book"));
            QCOMPARE(scripted().boxes[0].style, int(ui::vbOKOnly));
            QCOMPARE(scripted().boxes[1].prompt, QString("Total Contact Items Scanned: 5"));
            QCOMPARE(scripted().boxes[1].style, int(ui::vbInformation));
            QCOMPARE(emails(), (QStringList{"al@x.org", "cy@x.org", "kim@book.org"}));
            QCOMPARE(count("ListMembers"), 3);
        }
    }

    void contactFileOfSeveralCards()
    {
        addFolder("List");
        QVERIFY(QFile::copy(FERROWYN_FIXTURES "/mail/addressbook.vcf", contactsPath + "/addressbook.vcf"));
        auto d = dialog(Form19::ModeContactFolders, {"List"});
        scripted().clear();
        d->Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QString("Total Contact Items Scanned: 4"));
        QCOMPARE(d->ImportItemCounter, 4);
        QCOMPARE(d->ProgressBar1->maximum(), 5);
        QCOMPARE(emails(), (QStringList{"kim@book.org", "kwame.osei@accra-trading.example", "maja.lindqvist@nordhavn.example",
                                        "z.fairweather@kestrel-books.example"}));
        QCOMPARE(count("ListMembers"), 4);
    }

    void setupMenuOpensItsDialog_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("mode");
        QTest::newRow("mail") << "mnuSetupImportFromOutlook" << "Form19" << 1;
        QTest::newRow("contacts") << "mnuSetupImportFromContacts" << "Form19" << 2;
        QTest::newRow("file") << "mnuSetupImportCommaDelimited" << "Form19" << 4;
        QTest::newRow("accounts") << "mnuSetupMailAccounts" << "mail::AccountsDialog" << 0;
        QTest::newRow("options") << "mnuSetupOptions" << "mail::OptionsDialog" << 0;
    }
    void setupMenuOpensItsDialog()
    {
        QFETCH(QString, action);
        QFETCH(QString, dialog);
        QFETCH(int, mode);
        Form1* f = Form1::Instance();
        int shownMode = 0;
        scripted().dialogHandlers["Form19"] = [&](QDialog* dlg) {
            shownMode = static_cast<Form19*>(dlg)->Mode();
            return 0;
        };
        f->findChild<QAction*>(action)->trigger();
        scripted().dialogHandlers.remove("Form19");
        QCOMPARE(scripted().dialogsShown, QStringList{dialog});
        QCOMPARE(shownMode, mode);
        if (mode) QCOMPARE(scripted().pointerHistory.last(), int(ui::vbHourglass));
    }

    void mainWindowExportReadsBack()
    {
        Form1* f = Form1::Instance();
        sql("INSERT INTO MasterList (Email) VALUES ('b@x.org'), ('o''neil@x.org'), ('a@x.org')");
        f->LoadFolders();
        const QString root = ListFolderKey(scalar("SELECT RecID FROM MailFolders WHERE FolderType = 0").toLongLong());
        f->TreeView1->Nodes(root)->SetSelected(true);
        const QString path = testsupport::TestHome::path() + "/export.txt";
        QVERIFY(f->ExportAddressesBulkFolderPopup(path));
        sql("DELETE FROM MasterList");
        QCOMPARE(importFile(path), QStringList{"Total Addresses Processed: 3"});
        QCOMPARE(emails(), (QStringList{"a@x.org", "b@x.org", "o'neil@x.org"}));
    }
};

FERROWYN_TEST_MAIN(TestForm19)
#include "tst_Form19.moc"

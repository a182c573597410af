#include <QAction>

#include "core/TreeKeys.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

void select(ui::DataGrid* g, const QList<int>& rows)
{
    g->SelBookmarks().Clear();
    for (int r : rows) g->SelBookmarks().Add(r);
}
} // namespace

class TestForm1Export : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox, alpha, master, out;

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            seedInbox(home, 10);
            // A second message from s5.
            writeMessage(home + "/Mail/Inbox", 11, "Same <s5@example.org>", "Message 11");
        });
        QVERIFY(f);
        // a01..a10, sorted as loaded; a02 holds a quote, a03 a letter outside ASCII.
        for (int i = 1; i <= 10; ++i) {
            QString e = QStringLiteral("a%1@example.org").arg(i, 2, 10, QLatin1Char('0'));
            if (i == 2) e = QStringLiteral("a02\"q@example.org");
            if (i == 3) e = QStringLiteral("a03-j\u00f6rg@example.org");
            sql(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(e));
        }
        alpha = addListFolder(f, "alpha");
        inbox = keyOf(f, "Inbox");
        master = keyOf(f, "Master List");
        out = testsupport::TestHome::path() + "/export.csv";
    }
    void cleanupTestCase() { end(); }
    void init()
    {
        QFile::remove(out);
        scripted().clear();
    }

    void selectedAddresses()
    {
        click(f, inbox);
        click(f, master);
        QCOMPARE(f->ex->Value(2, 1).toString(), QStringLiteral("a02\"q@example.org"));
        select(f->TDBGrid2, {5, 2, 9, 3});
        scripted().fileAnswers.enqueue(out);
        f->mnuBulkPopExport->trigger();
        QCOMPARE(readAll(out), QByteArray("\"a05@example.org\"\r\n\"a02\"\"q@example.org\"\r\n\"a09@example.org\"\r\n"
                                          "\"a03-j\xc3\xb6rg@example.org\"\r\n"));
        // The save dialog as the command prepares it.
        QCOMPARE(scripted().files.size(), 1);
        QCOMPARE(scripted().files.first().kind, 1);
        QCOMPARE(scripted().files.first().fileName, QStringLiteral("export.csv"));
        QCOMPARE(scripted().files.first().filter,
                 QStringLiteral("CSV Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*"));
        // Nothing was changed by it.
        QCOMPARE(f->ex->UpperBound(1), 10);
        QCOMPARE(selection(f->TDBGrid2), (QList<int>{5, 2, 9, 3}));
    }

    void selectedMessages()
    {
        click(f, master);
        click(f, inbox);
        QCOMPARE(f->xa->UpperBound(1), 11);
        select(f->TDBGrid1, {5, 11, 2});
        scripted().fileAnswers.enqueue(out);
        f->mnuEmailPopExport->trigger();
        // The same correspondent twice is written twice.
        QCOMPARE(readAll(out), QByteArray("\"s5@example.org\"\r\n\"s5@example.org\"\r\n\"s2@example.org\"\r\n"));
    }

    void folderAddresses()
    {
        const long id = FolderRecIDFromKey(alpha);
        // a09 twice (two membership rows), a01 once: sorted by address, duplicates kept.
        for (int m : {9, 1, 9}) sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(m).arg(id));
        f->TreeView1->Nodes(alpha)->SetSelected(true);
        scripted().fileAnswers.enqueue(out);
        f->mnuFolderPopExport->trigger();
        QCOMPARE(readAll(out), QByteArray("\"a01@example.org\"\r\n\"a09@example.org\"\r\n\"a09@example.org\"\r\n"));

        f->TreeView1->Nodes(master)->SetSelected(true);
        scripted().fileAnswers.enqueue(out);
        f->mnuFolderPopExport->trigger();
        const QList<QByteArray> lines = readAll(out).split('\n');
        QCOMPARE(lines.size(), 11);
        QCOMPARE(lines.first(), QByteArray("\"a01@example.org\"\r"));
        QCOMPARE(lines.at(1), QByteArray("\"a02\"\"q@example.org\"\r"));
        QCOMPARE(lines.at(9), QByteArray("\"a10@example.org\"\r"));
        sql("DELETE FROM ListMembers");
    }

    void emptySelectionAndEmptyFolder()
    {
        click(f, inbox);
        click(f, master);
        f->TDBGrid2->SelBookmarks().Clear();
        writeFile(out, "old");
        scripted().fileAnswers.enqueue(out);
        f->ExportAddresses(1);
        QCOMPARE(readAll(out), QByteArray());

        f->TreeView1->Nodes(alpha)->SetSelected(true);
        writeFile(out, "old");
        scripted().fileAnswers.enqueue(out);
        f->ExportAddresses(3);
        QCOMPARE(readAll(out), QByteArray());
        QCOMPARE(scripted().boxes.size(), 0);
    }

    void cancelWritesNothing()
    {
        writeFile(out, "old");
        scripted().fileAnswers.enqueue(QString());
        f->ExportAddresses(1);
        QCOMPARE(readAll(out), QByteArray("old"));
    }

    // A file that cannot be written is reported; an earlier file of the name is kept whole.
    void failuresKeepTheOldFile()
    {
        click(f, inbox);
        click(f, master);
        select(f->TDBGrid2, {1});
        const QString nowhere = testsupport::TestHome::path() + "/no such folder/export.csv";
        scripted().fileAnswers.enqueue(nowhere);
        f->ExportAddresses(1);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.first().style, int(ui::vbCritical));
        QVERIFY(scripted().boxes.first().prompt.contains(nowhere));
        QVERIFY(!QFile::exists(nowhere));

        // The folder's rows cannot be read.
        writeFile(out, "old");
        f->TreeView1->Nodes(alpha)->SetSelected(true);
        sql("ALTER TABLE ListMembers RENAME TO ListMembersAway");
        scripted().fileAnswers.enqueue(out);
        f->ExportAddresses(3);
        sql("ALTER TABLE ListMembersAway RENAME TO ListMembers");
        QCOMPARE(readAll(out), QByteArray("old"));
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }
};

FERROWYN_TEST_MAIN(TestForm1Export)
#include "tst_Form1Export.moc"

#include <QLabel>

#include "core/OLAPP.h"
#include "mainwindow/Form16.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

class TestForm16 : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox;

    void exitDialog()
    {
        Form16 dlg(f);
        bool closed = false;
        connect(&dlg, &QDialog::finished, [&closed] { closed = true; });
        dlg.Command2_Click();
        QVERIFY(closed);
    }

private Q_SLOTS:
    void init()
    {
        f = start([](const QString& home) {
            seedInbox(home, 2);
            maildir(home + "/Mail/Other");
        });
        QVERIFY(f);
        inbox = keyOf(f, "Inbox");
    }
    void cleanupTestCase() { end(); }

    void exitListsNewMailOfTheShownInbox()
    {
        click(f, inbox);
        QCOMPARE(f->xa->UpperBound(1), 2);
        // Mail arrives while the dialog is open.
        writeMessage(testsupport::TestHome::path() + "/Mail/Inbox", 3, "New <n@example.org>", "Message 3", QString(),
                     QByteArray(), "new");
        exitDialog();
        QCOMPARE(f->xa->UpperBound(1), 3);
        QCOMPARE(f->xa->Value(3, 5).toString(), QStringLiteral("Message 3"));
        QCOMPARE(previewedRow(f), f->TDBGrid1->Bookmark().toInt());
        QCOMPARE(previewedRow(f), 1);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void exitWithAnotherFolderShown()
    {
        click(f, keyOf(f, "Other"));
        writeMessage(testsupport::TestHome::path() + "/Mail/Inbox", 3, "New <n@example.org>", "Message 3");
        exitDialog();
        QCOMPARE(f->xa->UpperBound(1), 0);
        QCOMPARE(f->MessageListFolderKey(), keyOf(f, "Other"));
    }

    void exitWithTheInboxNowEmpty()
    {
        click(f, inbox);
        QCOMPARE(previewedRow(f), 1);
        QDir cur(testsupport::TestHome::path() + "/Mail/Inbox/cur");
        for (const QString& name : cur.entryList(QDir::Files)) QVERIFY(cur.remove(name));
        exitDialog();
        QCOMPARE(f->xa->UpperBound(1), 0);
        QCOMPARE(f->lblMessageHeaderSubject->text(), QString());
    }

    void continueHandsTheInboxToTheCheck()
    {
        Form16 dlg(f);
        QVERIFY(dlg.Label1->text().startsWith("Warning: This process will check only the accounts specified as Include"));
        dlg.Command1_Click();
        QVERIFY(OLAPPObject->CurrentFolder);
        QCOMPARE(OLAPPObject->CurrentFolder->EntryID(), inbox);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }
};

FERROWYN_TEST_MAIN(TestForm16)
#include "tst_Form16.moc"

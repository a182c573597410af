#include <QAction>
#include <QMenu>

#include "core/TreeKeys.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

namespace {
void maildir(const QString& path)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(path + "/" + sub);
}

QStringList texts(Form1* f, int from = 1)
{
    QStringList out;
    for (int i = from; i <= f->TreeView1->Nodes().Count(); ++i) out << f->TreeView1->Nodes(i)->Text();
    return out;
}

QString keyOf(Form1* f, const QString& text)
{
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
        if (f->TreeView1->Nodes(i)->Text() == text) return f->TreeView1->Nodes(i)->Key();
    return QString();
}
} // namespace

class TestForm1Tree : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            maildir(home + "/Mail/Inbox");
            maildir(home + "/Mail/Inbox/Projects");
            // A contact folder inside a mail folder, with a mail folder below it: both left out.
            QDir().mkpath(home + "/Mail/Inbox/Cards");
            QFile card(home + "/Mail/Inbox/Cards/a.vcf");
            QVERIFY(card.open(QIODevice::WriteOnly));
            card.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nEND:VCARD\r\n");
            card.close();
            maildir(home + "/Mail/Inbox/Cards/Deep");
        });
        QVERIFY(f);
        // List folders: children sorted by name; an orphan and a row being allocated never show.
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Zeta & Co', 1, 1, 0)");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('alpha', 1, 1, 0)");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Child', 3, 1, 0)");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Orphan', 99, 1, 0)");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Pending', 1, -1, 0)");
        f->LoadFolders();
    }
    void cleanupTestCase() { end(); }

    void treeHoldsMailFoldersThenListFolders()
    {
        const QStringList all = texts(f);
        QCOMPARE(all.first(), QStringLiteral("Personal Folders"));
        for (const char* shown : {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Projects"})
            QVERIFY2(all.contains(QString::fromLatin1(shown)), shown);
        for (const char* hidden : {"Contacts", "Cards", "Deep", "Orphan", "Pending"})
            QVERIFY2(!all.contains(QString::fromLatin1(hidden)), hidden);
        const int root = all.indexOf("Master List");
        QCOMPARE(all.mid(root), (QStringList{"Master List", "alpha", "Child", "Zeta & Co"}));
        // Keys: entry ids for mail folders, Chr(4) and the row id for list folders.
        QCOMPARE(keyOf(f, "alpha"), ListFolderKey(3));
        QCOMPARE(keyOf(f, "Inbox"), f->InboxFolder->EntryID());
        QCOMPARE(f->TreeView1->Nodes(keyOf(f, "Projects"))->Parent()->Key(), keyOf(f, "Inbox"));
        // Roots expanded, the rest collapsed.
        QVERIFY(f->TreeView1->Nodes(1)->Expanded());
        QVERIFY(f->TreeView1->Nodes(keyOf(f, "Master List"))->Expanded());
        QVERIFY(!f->TreeView1->Nodes(keyOf(f, "Inbox"))->Expanded());
        QVERIFY(!f->TreeView1->Nodes(keyOf(f, "alpha"))->Expanded());
        // Special folder nodes are found.
        QCOMPARE(SentItemsNode, keyOf(f, "Sent Items"));
        QCOMPARE(OutboxNode, keyOf(f, "Outbox"));
        QCOMPARE(DraftsNode, keyOf(f, "Drafts"));
        // Folder names are plain text.
        QVERIFY(f->TreeView1->Nodes(keyOf(f, "Zeta & Co"))->item()->text(0) == "Zeta & Co");
    }

    void popupEnablementByNodeKind_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("listPopup");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("list root") << "Master List" << true << false;
        QTest::newRow("list folder") << "alpha" << true << true;
        QTest::newRow("list sub-folder") << "Child" << true << true;
        QTest::newRow("store root") << "Personal Folders" << false << false;
        QTest::newRow("Inbox") << "Inbox" << false << false;
        QTest::newRow("Outbox") << "Outbox" << false << false;
        QTest::newRow("Sent Items") << "Sent Items" << false << false;
        QTest::newRow("Drafts") << "Drafts" << false << false;
        QTest::newRow("Deleted Items") << "Deleted Items" << false << false;
        QTest::newRow("other mail folder") << "Projects" << false << true;
    }
    void popupEnablementByNodeKind()
    {
        QFETCH(QString, node);
        QFETCH(bool, listPopup);
        QFETCH(bool, enabled);
        const QString key = keyOf(f, node);
        QVERIFY(!key.isEmpty());
        f->LastPopup = nullptr;
        click(f, key, 2);
        QCOMPARE(CurrentFolderNode, key);
        QVERIFY(f->LastPopup);
        QCOMPARE(f->LastPopup, listPopup ? f->mnuFolderPop : f->mnuFolderEmailPop);
        const QList<QAction*> ruled = listPopup
            ? QList<QAction*>{f->mnuFolderPopMove, f->mnuFolderPopRename, f->mnuFolderPopDelete, f->mnuFolderPopProperties, f->mnuFolderPopRefresh}
            : QList<QAction*>{f->mnuFolderEmailPopMove, f->mnuFolderEmailPopRename, f->mnuFolderEmailPopDelete};
        for (QAction* a : ruled) QVERIFY2(a->isEnabled() == enabled, qPrintable(a->objectName()));
        // Every other item of the popup is always enabled.
        for (QAction* a : f->LastPopup->actions())
            if (!a->isSeparator() && !ruled.contains(a)) QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        f->LastPopup->close();
        QCOMPARE(f->AddressListMode, listPopup ? 1 : 0);
    }

    void clickOnCurrentNodeReloadsNothingButStillShowsPopup()
    {
        const QString key = keyOf(f, "alpha");
        click(f, key);
        f->lblRightPane->setText("marker");
        click(f, key);
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("marker"));
        f->LastPopup = nullptr;
        click(f, key, 2);
        QCOMPARE(f->LastPopup, f->mnuFolderPop);
        f->LastPopup->close();
    }

    void emptySpaceDoesNothing()
    {
        const QString before = CurrentFolderNode;
        f->TreeView1_MouseUp(1, 0, 5, f->TreeView1->viewport()->height() * 15.0 - 15);
        QCOMPARE(CurrentFolderNode, before);
    }

    // Keys pressed in the tree move nothing, open and close nothing, find nothing by typing.
    void keysDoNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Down") << int(Qt::Key_Down) << 0;
        QTest::newRow("Up") << int(Qt::Key_Up) << 0;
        QTest::newRow("End") << int(Qt::Key_End) << 0;
        QTest::newRow("Home") << int(Qt::Key_Home) << 0;
        QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 0;
        QTest::newRow("Right opens") << int(Qt::Key_Right) << 0;
        QTest::newRow("Left closes") << int(Qt::Key_Left) << 0;
        QTest::newRow("* opens all") << int(Qt::Key_Asterisk) << 0;
        QTest::newRow("- closes") << int(Qt::Key_Minus) << 0;
        QTest::newRow("a letter searches") << int(Qt::Key_Z) << 0;
        QTest::newRow("Shift+Down extends") << int(Qt::Key_Down) << int(Qt::ShiftModifier);
        QTest::newRow("Enter") << int(Qt::Key_Return) << 0;
        QTest::newRow("Space") << int(Qt::Key_Space) << 0;
    }
    void keysDoNothing()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        const QString alpha = keyOf(f, "alpha");
        click(f, alpha);
        f->TreeView1->Nodes(alpha)->SetSelected(true);
        f->TreeView1->setCurrentItem(f->TreeView1->Nodes(alpha)->item());
        const QString current = CurrentFolderNode;
        const QString pane = f->lblRightPane->text();
        QStringList expanded;
        for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
            expanded << QString::number(f->TreeView1->Nodes(i)->item()->isExpanded());
        f->TreeView1->setFocus();
        QTest::keyClick(f->TreeView1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f->TreeView1->SelectedItem()->Key(), alpha);
        QCOMPARE(f->TreeView1->currentItem(), f->TreeView1->Nodes(alpha)->item());
        QCOMPARE(f->TreeView1->selectedItems().size(), 1);
        QCOMPARE(CurrentFolderNode, current);
        QCOMPARE(f->lblRightPane->text(), pane);
        QStringList after;
        for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
            after << QString::number(f->TreeView1->Nodes(i)->item()->isExpanded());
        QCOMPARE(after, expanded);
    }

    void mailFolderClickShowsMessageGridAndEmptyPreview()
    {
        click(f, keyOf(f, "Projects"));
        QCOMPARE(f->AddressListMode, 0);
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Message List (Projects)"));
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
        QVERIFY(!f->msgPaneHeader->isHidden());
        QVERIFY(f->msgPane->toPlainText().isEmpty());
        QVERIFY(f->TDBGrid1->isVisible());
        QVERIFY(!f->TDBGrid2->isVisible());
    }

    void busyWindowTakesNoClicks()
    {
        click(f, keyOf(f, "Inbox"));
        const QString before = CurrentFolderNode;
        {
            BusyScope busy(f);
            const QPointF p = nodePoint(f, keyOf(f, "alpha"));
            const QPoint px(int(p.x() / 15), int(p.y() / 15));
            QTest::mouseClick(f->TreeView1->viewport(), Qt::LeftButton, {}, px);
            QCOMPARE(CurrentFolderNode, before);
        }
        const QPointF p = nodePoint(f, keyOf(f, "alpha"));
        QTest::mouseClick(f->TreeView1->viewport(), Qt::LeftButton, {}, QPoint(int(p.x() / 15), int(p.y() / 15)));
        QCOMPARE(CurrentFolderNode, keyOf(f, "alpha"));
    }

    void mailFolderThatCannotBeReadLeavesNothingOfTheListFolder()
    {
        const QString home = testsupport::TestHome::path();
        maildir(home + "/Mail/Inbox/Gone");
        f->LoadFolders();
        const QString gone = keyOf(f, "Gone");
        click(f, keyOf(f, "alpha"));
        QCOMPARE(f->AddressListMode, 1);
        // The folder goes behind the program's back, a file left in its place.
        QVERIFY(QDir(home + "/Mail/Inbox/Gone").removeRecursively());
        QFile file(home + "/Mail/Inbox/Gone");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        scripted().clear();
        click(f, gone);
        QCOMPARE(CurrentFolderNode, gone);
        QCOMPARE(f->AddressListMode, 0);
        QVERIFY(f->TDBGrid1->isVisible());
        QVERIFY(!f->TDBGrid2->isVisible());
        QVERIFY(f->xa->UpperBound(1) < 1);
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Message List (Gone)"));
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("The folder could not be read.  The folder could not be found."));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
        QFile::remove(home + "/Mail/Inbox/Gone");
        f->LoadFolders();
    }
};

FERROWYN_TEST_MAIN(TestForm1Tree)
#include "tst_Form1Tree.moc"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

#include "core/TreeKeys.h"
#include "mainwindow/Form23.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/MaildirWriter.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

namespace {
int rowOf(const ui::XArrayDB& a, int col, const QString& value)
{
    for (int r = 1; r <= a.UpperBound(1); ++r)
        if (a.Value(r, col).toString() == value) return r;
    return -1;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Form23* visibleProgress()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<Form23*>(w); p && p->isVisible()) return p;
    return nullptr;
}
} // namespace

class TestForm1Lists : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

    QString inboxKey() const { return f->InboxFolder->EntryID(); }
    ui::TreeNode* node(const QString& key) const { return f->TreeView1->Nodes(key); }
    ui::TreeNode* listNode(int recId) const { return node(ListFolderKey(recId)); }

    int showRow(const QString& subject)
    {
        const int r = rowOf(*f->xa, 5, subject);
        if (r > 0) f->LoadMessageFromBookmark(QString::number(r));
        return r;
    }

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            copyDir(fixture("mail/inbox"), home + "/Mail/Inbox");
            copyDir(fixture("mainwindow/preview"), home + "/Mail/Inbox");
        });
        QVERIFY(f);
        // Master List rows: RecIDs 1..7.
        sql("INSERT INTO MasterList (Email, Disabled, SortName, City, State, Country, Zip) VALUES ('a@x.org', -1, 'Able, Ann', 'Paris', NULL, 'France', '75001')");
        sql("INSERT INTO MasterList (Email, City) VALUES ('b@x.org', 'Rome')");
        sql("INSERT INTO MasterList (Email) VALUES ('c@x.org')");
        sql("INSERT INTO MasterList (Email, City, State, Country, Zip) VALUES ('d@x.org', '  Oslo', '   ', 'NO', '  0150')");
        sql("INSERT INTO MasterList (Email, City, State, Zip) VALUES ('e@x.org', 'Lyon', 'RH', '69000')");
        sql("INSERT INTO MasterList (Email, SortName) VALUES (NULL, '<b>no address</b>')");
        sql("INSERT INTO MasterList (Email) VALUES ('B@x.org')");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Friends', 1, 1)");
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Empty', 1, 1)");
        // Friends (2): a@x twice, b@x once.
        sql("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (1, 2)");
        sql("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (2, 2)");
        sql("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (1, 2)");
        f->LoadFolders();
    }
    void cleanupTestCase() { end(); }

    // ---- address list ----
    void masterListRows_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("disabled");
        QTest::addColumn<QString>("sortName");
        QTest::addColumn<QString>("place");
        QTest::newRow("city, no state, country, zip") << "a@x.org" << "-1" << "Able, Ann" << "Paris France 75001";
        QTest::newRow("city only ends in a blank") << "b@x.org" << "0" << "" << "Rome ";
        QTest::newRow("nothing but the address") << "c@x.org" << "0" << "" << "";
        QTest::newRow("leading and blank parts") << "d@x.org" << "0" << "" << "Oslo NO 0150";
        QTest::newRow("no country") << "e@x.org" << "0" << "" << "Lyon RH 69000";
        QTest::newRow("Null address") << "" << "0" << "<b>no address</b>" << "";
    }
    void masterListRows()
    {
        QFETCH(QString, email);
        QFETCH(QString, disabled);
        QFETCH(QString, sortName);
        QFETCH(QString, place);
        f->LoadEmailAddresses(listNode(1));
        const int r = rowOf(*f->ex, 1, email);
        QVERIFY(r > 0);
        QCOMPARE(f->ex->Value(r, 0).toString(), disabled);
        QCOMPARE(f->ex->Value(r, 2).toString(), sortName);
        QCOMPARE(f->ex->Value(r, 3).toString(), place);
        // Root view: the record id as text in column 5, the integer 0 in column 6.
        QCOMPARE(f->ex->Value(r, 5).toString(), f->ex->Value(r, 4).toString());
        QCOMPARE(f->ex->Value(r, 5).typeId(), QMetaType::QString);
        QCOMPARE(f->ex->Value(r, 6).toInt(), 0);
    }

    void masterListIsWholeAndSortedByAddress()
    {
        click(f, ListFolderKey(1));
        QCOMPARE(f->AddressListMode, 1);
        QCOMPARE(f->AddressListView(), int(Form1::MasterListView));
        QCOMPARE(f->ex->UpperBound(1), 7);
        QStringList order;
        for (int r = 1; r <= 7; ++r) order << f->ex->Value(r, 1).toString();
        QCOMPARE(order.first(), QString());
        QCOMPARE(order.mid(1, 2).join(',').toLower(), QStringLiteral("a@x.org,b@x.org"));
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Email Addresses (Master List)"));
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("7 Items."));
        QVERIFY(f->TDBGrid2->isVisible() && !f->TDBGrid1->isVisible());
        QVERIFY(f->msgPane->isHidden() && f->WebBrowser1->isHidden() && f->msgPaneHeader->isHidden());
        // The tree's click selects row 1.
        QCOMPARE(f->TDBGrid2->Bookmark().toInt(), 1);
        QCOMPARE(f->TDBGrid2->SelBookmarks().Count(), 1);
        QCOMPARE(f->TDBGrid2->Columns(1).Caption(), QStringLiteral("EMail Address"));
        QCOMPARE(f->TDBGrid2->Columns(2).Caption(), QStringLiteral("Name"));
        QCOMPARE(f->TDBGrid2->Columns(3).Caption(), QStringLiteral("City/State"));
    }

    void listFolderShowsMembersTwiceWhenListedTwice()
    {
        // Rows selected in the Master List must not survive into the folder's list.
        f->TDBGrid2->SelBookmarks().Add(5);
        f->TDBGrid2->SelBookmarks().Add(6);
        f->AddressSortState = {0, 0, 0};
        f->LoadEmailAddresses(listNode(2));
        QCOMPARE(f->AddressListView(), int(Form1::ListFolderView));
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(2));
        QCOMPARE(f->ex->UpperBound(1), 3);
        QCOMPARE(f->ex->Value(1, 1).toString(), QStringLiteral("a@x.org"));
        QCOMPARE(f->ex->Value(2, 1).toString(), QStringLiteral("a@x.org"));
        QCOMPARE(f->ex->Value(3, 1).toString(), QStringLiteral("b@x.org"));
        // Membership row ids differ; the folder id is the folder's.
        QVERIFY(f->ex->Value(1, 5).toInt() != f->ex->Value(2, 5).toInt());
        QCOMPARE(f->ex->Value(1, 4).toInt(), 1);
        QCOMPARE(f->ex->Value(1, 6).toInt(), 2);
        QCOMPARE(f->ex->Value(3, 3).toString(), QStringLiteral("Rome "));
        QCOMPARE(f->TDBGrid2->SelBookmarks().Count(), 0);
        QVERIFY(f->TDBGrid2->Bookmark().isNull());
        QCOMPARE(f->AddressSortState, (QVariantList{1, 1, 1}));
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Email Addresses (Friends)"));
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("3 Items."));
    }

    void emptyFolder()
    {
        f->LoadEmailAddresses(listNode(3));
        QCOMPARE(f->ex->UpperBound(1), 0);
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Email Addresses (Empty)"));
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
    }

    void failedReadShowsEmptyList()
    {
        f->LoadEmailAddresses(listNode(1));
        QVERIFY(f->ex->UpperBound(1) > 0);
        scripted().clear();
        sql("ALTER TABLE MasterList RENAME TO MasterListAway");
        f->LoadEmailAddresses(listNode(2));
        sql("ALTER TABLE MasterListAway RENAME TO MasterList");
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].style, int(ui::vbOKOnly));
        QCOMPARE(f->ex->UpperBound(1), 0);
        QCOMPARE(f->TDBGrid2->model()->rowCount(), 0);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(2));
    }

    // ---- message list ----
    void inboxRows()
    {
        click(f, inboxKey());
        QCOMPARE(f->AddressListMode, 0);
        QCOMPARE(f->MessageListFolderKey(), inboxKey());
        // Eight files, one a delivery report: seven mail rows.
        QCOMPARE(f->xa->UpperBound(1), 7);
        QCOMPARE(f->xa->UpperBound(2), 14);
        QVERIFY(rowOf(*f->xa, 5, "Undelivered Mail Returned to Sender") < 0);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("7 Items."));
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Message List (Inbox)"));
        QCOMPARE(f->TDBGrid1->Columns(4).Caption(), QStringLiteral("From"));
        QCOMPARE(f->TDBGrid1->Columns(5).Caption(), QStringLiteral("Subject"));
        QCOMPARE(f->TDBGrid1->Columns(6).Caption(), QStringLiteral("Received"));
        QCOMPARE(f->MessageSortState, (QVariantList{1, 1, 1}));
        // Row 1 selected; the tree's click previews it.
        QCOMPARE(f->TDBGrid1->SelBookmarks().Count(), 1);
        QCOMPARE(f->LastMessageBookmark.toInt(), 1);
        for (int r = 1; r <= 7; ++r) {
            QCOMPARE(f->xa->Value(r, 1).toString(), QStringLiteral("-1"));
            QVERIFY(!f->xa->Value(r, 8).toString().isEmpty());
            QCOMPARE(f->xa->Value(r, 6).typeId(), QMetaType::QDateTime);
        }
    }

    void messageFlags_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("high");
        QTest::addColumn<QString>("receipt");
        QTest::addColumn<QString>("attachments");
        QTest::addColumn<QString>("from");
        QTest::newRow("high importance, receipt") << "Quarterly figures" << "-1" << "-1" << "" << "alice@example.org";
        QTest::newRow("low importance, reply-to") << "Autumn offers" << "0" << "0" << "" << "replies@shop.example";
        QTest::newRow("attachments") << "Report and notes" << "0" << "0" << "-1" << "carol@example.net";
        QTest::newRow("read receipt") << "HTML with three files" << "0" << "-1" << "-1" << "ann@example.org";
    }
    void messageFlags()
    {
        QFETCH(QString, subject);
        QFETCH(QString, high);
        QFETCH(QString, receipt);
        QFETCH(QString, attachments);
        QFETCH(QString, from);
        f->LoadMessages(node(inboxKey()), 1);
        const int r = rowOf(*f->xa, 5, subject);
        QVERIFY(r > 0);
        QCOMPARE(f->xa->Value(r, 0).toString(), high);
        QCOMPARE(f->xa->Value(r, 2).toString(), receipt);
        QCOMPARE(f->xa->Value(r, 3).typeId(), QMetaType::QString);
        QCOMPARE(f->xa->Value(r, 3).toString(), attachments);
        QCOMPARE(f->xa->Value(r, 4).toString(), from);
        QVERIFY(!f->xa->Value(r, 7).isValid());
        QVERIFY(f->MessageBody(r).size() > 0);
        QCOMPARE(f->xa->Value(r, 7).toString(), f->MessageBody(r));
    }

    void sentItemsShowSentToAndRecipient()
    {
        const QByteArray msg = "From: Bob <bob@example.net>\r\nTo: Zed Zane <zed@example.com>\r\nSubject: Sent one\r\n"
                               "Date: Tue, 05 Dec 2023 10:00:00 +0000\r\n\r\nHello\r\n";
        f->SentItemsFolder->AddMessageFile(msg);
        // Only Send queues into the Outbox; a file put there by other means is listed all the same.
        QVERIFY(!mail::send::WriteToMaildir(f->OutboxFolder->Path(), msg, mail::send::MaildirSub::Cur, QStringLiteral("S")).isEmpty());
        click(f, SentItemsNode);
        QCOMPARE(f->TDBGrid1->Columns(4).Caption(), QStringLiteral("Sent To"));
        QCOMPARE(f->xa->Value(1, 4).toString(), QStringLiteral("zed@example.com"));
        click(f, OutboxNode);
        QCOMPARE(f->TDBGrid1->Columns(4).Caption(), QStringLiteral("From"));
        QCOMPARE(f->xa->Value(1, 4).toString(), QStringLiteral("zed@example.com"));
    }

    void progressWindowShownOnlyWhileLoadingWithDisplay()
    {
        QString label, title;
        int max = -1;
        QTimer::singleShot(0, [&] {
            if (Form23* p = visibleProgress()) {
                label = p->LabelText();
                title = p->windowTitle();
                max = p->ProgressBar1->maximum();
            }
        });
        f->LoadMessages(node(inboxKey()));
        QCOMPARE(label, QStringLiteral("Scanning Outlook Folder: Inbox"));
        QCOMPARE(title, QStringLiteral("Loading Messages"));
        QCOMPARE(max, 8);
        QVERIFY(!visibleProgress());

        bool seen = false;
        QTimer::singleShot(0, [&] { seen = visibleProgress() != nullptr; });
        f->LoadMessages(node(inboxKey()), QVariant(false));
        QVERIFY(!seen);
        QCoreApplication::processEvents();
    }

    void clicksWaitingWhileLoadingAreDropped()
    {
        click(f, inboxKey());
        QWidget* vp = f->TreeView1->viewport();
        const QPointF t = nodePoint(f, ListFolderKey(2));
        const QPointF px(t.x() / 15, t.y() / 15);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(vp, new QMouseEvent(type, px, vp->mapToGlobal(px), Qt::LeftButton,
                                                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {}));
        // The load lets events run so its progress window paints; the click must not land.
        f->LoadMessages(node(inboxKey()));
        QCoreApplication::processEvents();
        QCOMPARE(CurrentFolderNode, inboxKey());
        QCOMPARE(f->AddressListMode, 0);
        QCOMPARE(f->xa->UpperBound(1), 7);
    }

    void failedLoadEmptiesGridAndClosesProgress()
    {
        const mail::FolderPtr gone = f->InboxFolder->Folders()->Add("Gone");
        gone->AddMessageFile("From: x@y\r\nSubject: s\r\n\r\nb\r\n");
        f->LoadFolders();
        click(f, inboxKey());
        QVERIFY(f->xa->UpperBound(1) > 0);
        f->TDBGrid1->SelBookmarks().Add(2);
        QVERIFY(QDir(gone->Path()).removeRecursively());
        click(f, gone->EntryID());
        QCOMPARE(CurrentFolderNode, gone->EntryID());
        QCOMPARE(f->xa->UpperBound(1), 0);
        QCOMPARE(f->TDBGrid1->model()->rowCount(), 0);
        QCOMPARE(f->TDBGrid1->SelBookmarks().Count(), 0);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
        QVERIFY(!visibleProgress());
        QVERIFY(!f->Busy());
        f->LoadFolders();
    }

    // ---- preview ----
    void preview_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("html");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("plain, none") << "Quarterly figures" << false << QStringList();
        QTest::newRow("plain, one") << "Plain with one file" << false << QStringList{"a&&b.txt"};
        QTest::newRow("plain, two") << "Report and notes" << false << QStringList{"report.pdf", "*"};
        QTest::newRow("html, none") << "Autumn offers" << true << QStringList();
        QTest::newRow("html, one") << "HTML with one file" << true << QStringList{"data.bin"};
        QTest::newRow("html, three") << "HTML with three files" << true << QStringList{"same.txt", "same.txt", "third.txt"};
    }
    void preview()
    {
        QFETCH(QString, subject);
        QFETCH(bool, html);
        QFETCH(QStringList, files);
        click(f, inboxKey());
        // A previous preview with attachments, so its items must all go.
        showRow("HTML with three files");
        QFile::remove(ui::DataPath("~tmp.htm"));
        if (!html) {
            QFile marker(ui::DataPath("~tmp.htm"));
            QVERIFY(marker.open(QIODevice::WriteOnly));
            marker.write("left alone");
        }
        scripted().clear();
        const int r = showRow(subject);
        QVERIFY(r > 0);
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
        QVERIFY(!f->msgPaneHeader->isHidden());
        QCOMPARE(f->lblMessageHeaderSubject->text(), subject);
        QCOMPARE(f->lblMessageHeaderFrom->text(), f->xa->Value(r, 4).toString());
        QCOMPARE(f->lblMessageHeaderTo->text(), f->CurrentMailItem->ReceivedByName());
        QCOMPARE(f->lblMessageHeaderSubject->textFormat(), Qt::PlainText);
        QCOMPARE(f->WebBrowser1->isHidden(), !html);
        QCOMPARE(f->msgPane->isHidden(), html);
        if (html) {
            QVERIFY(f->msgPane->toPlainText().isEmpty());
            QVERIFY(QFile::exists(ui::DataPath("~tmp.htm")));
        } else {
            QCOMPARE(f->msgPane->toPlainText(), f->CurrentMailItem->Body());
            QCOMPARE(readFile(ui::DataPath("~tmp.htm")), QByteArray("left alone"));
        }
        QCOMPARE(f->AttachmentMenuCount, files.size());
        QCOMPARE(f->mnuAtt.size(), files.size() + 1);
        QCOMPARE(f->mnuAtt[0]->isVisible(), files.isEmpty());
        QCOMPARE(f->Toolbar2->isHidden(), files.isEmpty());
        QCOMPARE(f->mnuAttachments->actions().size(), files.size() + 1);
        for (int i = 0; i < files.size(); ++i)
            if (files[i] != "*") QCOMPARE(f->mnuAtt[i + 1]->text(), files[i]);
    }

    void htmlPreviewIsUtf8AndLoadsNothingElse()
    {
        click(f, inboxKey());
        showRow("HTML with one file");
        const QByteArray bytes = readFile(ui::DataPath("~tmp.htm"));
        QVERIFY(bytes.contains("charset=utf-8"));
        QVERIFY(!bytes.contains("windows-1252"));
        QVERIFY(bytes.contains(QString::fromUtf8("Καλημέρα κόσμε").toUtf8()));
        QVERIFY2(f->WebBrowser1->toPlainText().contains(QString::fromUtf8("Καλημέρα κόσμε")), qPrintable(f->WebBrowser1->toPlainText() + "|" + f->WebBrowser1->source().toString()));
        // Both images were asked for and refused; the script is never run.
        QVERIFY(f->WebBrowser1->RefusedResources() >= 2);
        QVERIFY(f->WebBrowser1->documentTitle() != QStringLiteral("ran"));
        QVERIFY(!f->WebBrowser1->openLinks());
    }

    void clearingPaneAndVanishedMessage()
    {
        click(f, inboxKey());
        const int r = showRow("HTML with three files");
        f->ClearMessagePane();
        QCOMPARE(f->mnuAtt.size(), 1);
        QVERIFY(f->mnuAtt[0]->isVisible());
        QCOMPARE(f->AttachmentMenuCount, 0);
        QVERIFY(f->Toolbar2->isHidden() && f->WebBrowser1->isHidden() && !f->msgPane->isHidden());
        QVERIFY(f->CurrentMailItem);

        // A message removed behind the list's back empties the pane, silently.
        showRow("Plain with one file");
        QVERIFY(QFile::remove(f->CurrentMailItem->FilePath()));
        scripted().clear();
        f->LoadMessageFromBookmark(rowOf(*f->xa, 5, "Plain with one file"));
        QVERIFY(scripted().boxes.isEmpty());
        QVERIFY(f->msgPane->toPlainText().isEmpty());
        QVERIFY(f->lblMessageHeaderSubject->text().isEmpty());
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
        f->LoadMessageFromBookmark("999");
        QVERIFY(f->lblMessageHeaderSubject->text().isEmpty());
        Q_UNUSED(r);
    }

    void previewSwitchedOffStillFillsTexts()
    {
        click(f, inboxKey());
        f->mnuViewMessagePane_Click();
        QVERIFY(!f->mnuViewMessagePane->isChecked());
        f->msgPaneHeader->hide();
        showRow("HTML with three files");
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("HTML with three files"));
        QCOMPARE(f->AttachmentMenuCount, 3);
        QVERIFY(!f->msgPaneHeader->isHidden());
        QVERIFY(f->WebBrowser1->isHidden() && f->msgPane->isHidden());
        f->mnuViewMessagePane_Click();
        QVERIFY(f->mnuViewMessagePane->isChecked());
    }

    void attachmentButtonOpensMenu()
    {
        click(f, inboxKey());
        showRow("Report and notes");
        f->LastPopup = nullptr;
        f->Toolbar2_ButtonClick();
        QCOMPARE(f->LastPopup, f->mnuAttachments);
        f->mnuAttachments->close();
    }

    void smallFirstWindowKeepsColumnWidthsNonNegative()
    {
        Form1 small;
        small.resize(120, 90);
        small.Form_Load();
        for (int c = 0; c < 7; ++c) QVERIFY(small.TDBGrid1->Columns(c).Width() >= 0);
        QCOMPARE(small.TDBGrid1->Columns(0).Width(), 360.0);
        QCOMPARE(small.windowTitle(), QStringLiteral("Ferrowyn - by Vostrelle"));
        QCOMPARE(small.helpm_about->text(), QStringLiteral("About Ferrowyn"));
        QVERIFY(small.mnuViewFolderList->isChecked() && small.mnuViewMessagePane->isChecked());
        QCOMPARE(Form1::Instance(), &small);
    }
};

FERROWYN_TEST_MAIN(TestForm1Lists)
#include "tst_Form1Lists.moc"

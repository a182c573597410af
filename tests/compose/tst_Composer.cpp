#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <QRegularExpression>

#include "compose/Form15.h"
#include "compose/Form18.h"
#include "compose/Form24.h"
#include "compose/qelPopup.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/UiServices.h"
#include "tests/compose/ComposeTestUtil.h"
#include "tests/support/ProbeIconTheme.h"

using namespace composetest;

namespace {
const QString kSubjectQ = QStringLiteral("Warning.  Subject Line Is Blank.  Do You Wish To Send Anyways?");
const QString kBlankBody = QStringLiteral("Error.  Cannot Send Message.  The Message Text Is Blank.");
const QString kNoRecipients = QStringLiteral("Error.  Cannot Send Message.  There are no Recipients.");

QStringList prompts()
{
    QStringList out;
    for (const auto& b : scripted().boxes) out << b.prompt;
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Pages of a PDF written by the printer, counted by their page objects.
int printedPages(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(f.readAll()).count(page));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class TestComposer : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString&) {
            QList<mail::send::Account> accounts(2);
            accounts[0].name = QStringLiteral("Work");
            accounts[0].address = QStringLiteral("me@work.example");
            accounts[0].transport = QStringLiteral("smtp://127.0.0.1:1");
            accounts[0].isDefault = true;
            accounts[1].name = QStringLiteral("Home");
            accounts[1].address = QStringLiteral("me@home.example");
            accounts[1].transport = QStringLiteral("smtp://127.0.0.1:1");
            QVERIFY(mail::send::SaveAccounts(accounts));
        });
        QVERIFY(f);
        QList<Person> people;
        for (int i = 1; i <= 10; ++i)
            people << Person{QStringLiteral("p%1@example.org").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("F%1").arg(i),
                             QStringLiteral("L%1").arg(i), QString(), QStringLiteral("Town%1").arg(i)};
        addPeople(people);
        showMasterList(f);
        QCOMPARE(f->ex->UpperBound(1), 10);
    }
    void cleanupTestCase() { end(); }
    void init() { scripted().clear(); }

    void sendToListFollowsSelectionOrder()
    {
        select(f, {5, 2, 9});
        frmCompose c;
        QCOMPARE(c.ex->UpperBound(1), 3);
        QCOMPARE(c.SendToCount(), 3);
        const int order[] = {5, 2, 9};
        for (int n = 1; n <= 3; ++n) {
            const int r = order[n - 1];
            QCOMPARE(c.ex->Value(n, 0).toString(), QStringLiteral("-1"));
            QCOMPARE(c.ex->Value(n, 4).toString(), QStringLiteral("-1"));
            for (int col = 1; col <= 3; ++col) QCOMPARE(c.ex->Value(n, col), f->ex->Value(r, col));
            QCOMPARE(c.ex->Value(n, 5), f->ex->Value(r, 4));
        }
    }

    void composeCommandsOfTheMainWindow()
    {
        QString to;
        qint64 count = -1;
        QString first;
        scripted().dialogHandlers[QStringLiteral("frmCompose")] = [&](QDialog* d) {
            auto* c = static_cast<frmCompose*>(d);
            to = c->txtTo->text();
            count = c->SendToCount();
            first = c->ex->Value(1, 1).toString();
            return 0;
        };
        select(f, {7, 3});
        f->mnuBulkPop->findChild<QAction*>(QStringLiteral("mnuBulkPopComposeMailMerge"))->trigger();
        QCOMPARE(to, QStringLiteral("Selected List Members"));
        QCOMPARE(count, 2);
        QCOMPARE(first, f->ex->Value(7, 1).toString());

        // The folder command selects every row first, in grid order, and leaves them selected.
        f->TreeView1->Nodes(QString(QChar(4)) + QStringLiteral("1"))->SetSelected(true);
        f->mnuFolderPopComposeMailMerge->trigger();
        QCOMPARE(to, QStringLiteral("Folder Master List Members"));
        QCOMPARE(count, 10);
        QCOMPARE(first, f->ex->Value(1, 1).toString());
        QCOMPARE(f->TDBGrid2->SelBookmarks().Count(), 10);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("recipients");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("confirms");
        QTest::newRow("blank subject, No stops") << "" << "" << true << int(ui::vbNo) << QStringList{kSubjectQ} << false;
        QTest::newRow("blank subject, Yes, blank body") << "" << "" << true << int(ui::vbYes) << QStringList{kSubjectQ, kBlankBody} << false;
        QTest::newRow("white-space subject, Yes") << " \t " << "Hi" << true << int(ui::vbYes) << QStringList{kSubjectQ} << true;
        QTest::newRow("white-space body") << "S" << " \t\n \r\n" << true << 0 << QStringList{kBlankBody} << false;
        QTest::newRow("no recipients") << "S" << "Hi" << false << 0 << QStringList{kNoRecipients} << false;
        QTest::newRow("all present") << "S" << "Hi" << true << 0 << QStringList{} << true;
    }
    void validation()
    {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(bool, recipients);
        QFETCH(int, answer);
        QFETCH(QStringList, expected);
        QFETCH(bool, confirms);
        select(f, recipients ? QList<int>{1} : QList<int>{});
        frmCompose c;
        c.txtSubject->setText(subject);
        c.txtMsg->setPlainText(body);
        if (answer) scripted().boxAnswers.enqueue(answer);
        // The confirmation answers No: the send dialog never opens.
        scripted().dialogHandlers[QStringLiteral("Form24")] = [](QDialog* d) {
            static_cast<Form24*>(d)->Command2_Click();
            return 0;
        };
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(prompts(), expected);
        QCOMPARE(scripted().dialogsShown.contains(QStringLiteral("Form24")), confirms);
        QVERIFY(!scripted().dialogsShown.contains(QStringLiteral("Form20")));
        QCOMPARE(c.mi->Subject(), subject);
    }

    void copyAndReplyLinesMustBeAddresses_data()
    {
        QTest::addColumn<QString>("cc");
        QTest::addColumn<QString>("bcc");
        QTest::addColumn<QString>("replyTo");
        QTest::addColumn<QString>("refusal");  // empty: the confirmation comes up
        const QString error = QStringLiteral("Error.  Cannot Send Message.  \"%1\" In The %2 Line Is Not An Email Address.");
        QTest::newRow("all addresses") << "\"Office, Main\" <office@example.org>; b@example.org" << "c@example.org"
                                       << "r1@example.org, \"R, Two\" <r2@example.org>" << "";
        QTest::newRow("a name among the CC") << "a@example.org, Joe Smith" << "" << "" << error.arg("Joe Smith", "CC");
        QTest::newRow("half an address in the BCC") << "" << "boss@" << "" << error.arg("boss@", "BCC");
        QTest::newRow("hidden character in the BCC") << "" << QStringLiteral("hidden@example.com\u200b") << ""
                                                     << error.arg("hidden@example.com<U+200B>", "BCC");
        QTest::newRow("second Reply To entry") << "" << "" << "r@example.org; not an address" << error.arg("not an address", "Reply To");
    }
    void copyAndReplyLinesMustBeAddresses()
    {
        QFETCH(QString, cc);
        QFETCH(QString, bcc);
        QFETCH(QString, replyTo);
        QFETCH(QString, refusal);
        select(f, {1, 2});
        frmCompose c;
        c.txtSubject->setText(QStringLiteral("S"));
        c.txtMsg->setPlainText(QStringLiteral("Hi"));
        c.txtCC->setText(cc);
        c.txtBCC->setText(bcc);  // checked while hidden too: it is sent
        c.viewmReplyTo_Click();
        c.txtReplyTo->setText(replyTo);
        scripted().dialogHandlers[QStringLiteral("Form24")] = [](QDialog* d) {
            static_cast<Form24*>(d)->Command2_Click();
            return 0;
        };
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(prompts(), refusal.isEmpty() ? QStringList{} : QStringList{refusal});
        if (!refusal.isEmpty()) QCOMPARE(scripted().boxes.first().style, int(ui::vbCritical));
        QCOMPARE(scripted().dialogsShown.contains(QStringLiteral("Form24")), refusal.isEmpty());
    }

    void strayKeysNeitherCloseNorOpenAnything()
    {
        select(f, {1});
        frmCompose c;
        c.show();
        QVERIFY(QTest::qWaitForWindowActive(&c));
        c.txtSubject->setText(QStringLiteral("Keep"));
        for (QWidget* w : {static_cast<QWidget*>(c.txtSubject), static_cast<QWidget*>(c.txtCC), static_cast<QWidget*>(c.txtMsg)}) {
            w->setFocus();
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(w, key);
        }
        QVERIFY(c.isVisible());
        QCOMPARE(c.result(), 0);
        QVERIFY2(scripted().dialogsShown.isEmpty(), qPrintable(scripted().dialogsShown.join(',')));
        QCOMPARE(c.txtSubject->text(), QStringLiteral("Keep"));
        // Enter on the focused button still presses it.
        c.CommandTo->setFocus();
        QTest::keyClick(c.CommandTo, Qt::Key_Return);
        QCOMPARE(scripted().dialogsShown, QStringList{QStringLiteral("Form18")});
        // The close box still closes.
        c.close();
        QVERIFY(!c.isVisible());
    }

    void rightPressOnTheBodyShowsOnlyThePopupList()
    {
        select(f, {1});
        frmCompose c;
        c.show();
        QVERIFY(QTest::qWaitForWindowActive(&c));
        QWidget* viewport = c.txtMsg->viewport();
        const QPoint at(20, 20);
        // What the window system delivers for a right press: the press, then a context menu event.
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &menuEvent);
        QStringList menus;
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menus << QString::fromLatin1(popup->metaObject()->className());
            popup->close();
        }
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
        QVERIFY2(menus.isEmpty(), qPrintable(menus.join(',')));
        QVERIFY(c.qelPopup1->isVisible());
        QCOMPARE(c.qelPopup1->ListCount(), 8);
        c.qelPopup1->hide();
        c.hide();
    }

    void textFilesInWindows1252()
    {
        select(f, {1});
        frmCompose c;
        const QString dir = testsupport::TestHome::path();
        // Not UTF-8: the code page of files written on Windows.
        writeFile(dir + "/cp1252.txt", "Caf\xe9 \x93quoted\x94 \x80 5");
        writeFile(dir + "/utf8.txt", "Gr\xc3\xbc\xc3\x9f");
        scripted().fileAnswers.enqueue(dir + "/cp1252.txt");
        c.filemOpen_Click();
        QCOMPARE(c.txtMsg->toPlainText(), QStringLiteral("Caf\u00e9 \u201cquoted\u201d \u20ac 5"));
        QTextCursor cur = c.txtMsg->textCursor();
        cur.movePosition(QTextCursor::End);
        c.txtMsg->setTextCursor(cur);
        scripted().fileAnswers.enqueue(dir + "/utf8.txt");
        c.editmInsertText_Click();
        scripted().fileAnswers.enqueue(dir + "/cp1252.txt");
        c.editmInsertText_Click();
        QCOMPARE(c.txtMsg->toPlainText(), QStringLiteral("Caf\u00e9 \u201cquoted\u201d \u20ac 5Gr\u00fc\u00dfCaf\u00e9 \u201cquoted\u201d \u20ac 5"));
    }

    void bccCopiedWhileHidden()
    {
        select(f, {1});
        frmCompose c;
        c.viewmBCC_Click();
        c.txtBCC->setText(QStringLiteral("Boss <boss@example.org>"));
        c.viewmBCC_Click();
        QVERIFY(c.txtBCC->isHidden());
        QCOMPARE(c.txtBCC->text(), QStringLiteral("Boss <boss@example.org>"));
        c.txtSubject->setText(QStringLiteral("S"));
        c.Toolbar1_ButtonClick(0);  // blank body stops after the copy
        QCOMPARE(c.mi->Recipients().Item(1)->Address(), QStringLiteral("boss@example.org"));
        QCOMPARE(c.mi->Recipients().Item(1)->Type(), int(mail::olBCC));
    }

    void toggleGroups()
    {
        select(f, {1});
        frmCompose c;
        auto click = [&](int index, int button, bool pressed) {
            c.Toolbar1(index, button)->setChecked(pressed);
            c.Toolbar1_ButtonClick(index, button);
        };
        QVERIFY(c.Toolbar1(12, 1)->isChecked());
        click(12, 2, true);
        QCOMPARE(c.MessageFormat(), 1);
        QVERIFY(!c.Toolbar1(12, 1)->isChecked());
        click(12, 2, false);
        QCOMPARE(c.MessageFormat(), 0);
        QVERIFY(c.Toolbar1(12, 1)->isChecked());

        click(14, 1, true);
        QVERIFY(c.mi->ReadReceiptRequested());
        click(14, 1, false);
        QVERIFY(!c.mi->ReadReceiptRequested());
        QCOMPARE(c.MessageReadReceipt(), 0);

        click(16, 1, true);
        QCOMPARE(c.mi->Importance(), 2);
        click(16, 2, true);
        QCOMPARE(c.mi->Importance(), 0);
        QVERIFY(!c.Toolbar1(16, 1)->isChecked());
        click(16, 2, false);
        QCOMPARE(c.mi->Importance(), 1);
        QCOMPARE(c.MessageImportance(), 1);
    }

    void toolbarShowsThemePicturesAndWords()
    {
        testsupport::ProbeIconTheme theme(QStringLiteral("mail-send"));
        select(f, {1});
        frmCompose c;
        QCOMPARE(c.Toolbar1(0)->icon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
        const struct {
            int index, button;
            const char* tip;
            const char* label;
        } buttons[] = {
            {0, 1, "Send Mail", "Send"}, {1, 1, "Save Message", "Save"}, {2, 1, "Print Message", "Print"}, {3, 1, "Cut", "Cut"},
            {4, 1, "Copy", "Copy"}, {5, 1, "Paste", "Paste"}, {7, 1, "Insert Signature", "Signature"},
            {8, 1, "Insert Attachment", "Attach"}, {9, 1, "Insert File", "Insert File"},
            {10, 1, "Message Properties", "Properties"}, {12, 1, "Set Message Format", "Text"},
            {12, 2, "Set Message Format", "HTML"}, {14, 1, "Message Properties", "Read Receipt"},
            {16, 1, "Set Message Format", "High"}, {16, 2, "Set Message Format", "Low"},
        };
        for (const auto& b : buttons) {
            QAction* a = c.Toolbar1(b.index, b.button);
            QVERIFY(a);
            QCOMPARE(a->toolTip(), QString::fromLatin1(b.tip));
            // What the button shows: its picture, else its word; the toggles both.
            QCOMPARE(a->text(), QString::fromLatin1(b.label));
            auto* tb = qobject_cast<QToolButton*>(c.toolbar->widgetForAction(a));
            QVERIFY(tb);
            if (a->isCheckable()) QCOMPARE(tb->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
            else QCOMPARE(tb->toolButtonStyle(), Qt::ToolButtonIconOnly);
        }
    }

    void propertiesRoundTrip()
    {
        select(f, {1});
        frmCompose c;
        QStringList comboItems;
        scripted().dialogHandlers[QStringLiteral("Form15")] = [&](QDialog* d) {
            auto* p = static_cast<Form15*>(d);
            for (int i = 0; i < p->cmbSendUsing->count(); ++i) comboItems << p->cmbSendUsing->itemText(i);
            p->chkFormat[1]->setChecked(true);
            p->chkImportance[2]->setChecked(true);
            p->chkSensitivity[3]->setChecked(true);
            p->chkReadReceipt->setChecked(true);
            p->cmbSendUsing->setEditText(QStringLiteral("Home"));
            p->Command1_Click();
            return 1;
        };
        c.editmProperties_Click();
        QCOMPARE(comboItems, (QStringList{QStringLiteral("Work"), QStringLiteral("Home")}));
        QCOMPARE(c.MessageFormat(), 1);
        QCOMPARE(c.mi->Importance(), 2);
        QCOMPARE(c.mi->Sensitivity(), 3);
        QVERIFY(c.mi->ReadReceiptRequested());
        QCOMPARE(c.MessageSendUsing(), QStringLiteral("Home"));
        QVERIFY(c.Toolbar1(12, 2)->isChecked() && !c.Toolbar1(12, 1)->isChecked());
        QVERIFY(c.Toolbar1(16, 1)->isChecked() && !c.Toolbar1(16, 2)->isChecked());
        QVERIFY(c.Toolbar1(14)->isChecked());

        // Reopened it shows what was applied; Cancel after changes keeps it all.
        c.mi->SetImportance(7);
        scripted().dialogHandlers[QStringLiteral("Form15")] = [&](QDialog* d) {
            auto* p = static_cast<Form15*>(d);
            [&] {
                QVERIFY(p->chkFormat[1]->isChecked());
                QVERIFY(p->chkImportance[0]->isChecked());  // out of range shows Low
                QVERIFY(p->chkSensitivity[3]->isChecked());
                QCOMPARE(p->cmbSendUsing->currentText(), QStringLiteral("Home"));
            }();
            p->chkFormat[0]->setChecked(true);
            p->cmbSendUsing->setEditText(QStringLiteral("Nobody"));
            p->Command2_Click();
            return 0;
        };
        c.editmProperties_Click();
        QCOMPARE(c.MessageFormat(), 1);
        QCOMPARE(c.mi->Importance(), 7);
        QCOMPARE(c.MessageSendUsing(), QStringLiteral("Home"));
    }

    void confirmationValues_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("importance");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<QString>("sendUsing");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("defaults, one recipient") << 0 << 1 << 0 << false << "Ann Example" << QList<int>{1}
                                                 << QStringList{"TEXT", "NORMAL", "NORMAL", "NO", "Work", "1 RECIPIENTS"};
        QTest::newRow("html high personal receipt") << 1 << 2 << 1 << true << "Home" << QList<int>{1, 2, 3}
                                                    << QStringList{"HTML", "HIGH", "PERSONAL", "YES", "Home", "3 RECIPIENTS"};
        QTest::newRow("low private") << 0 << 0 << 2 << false << "" << QList<int>{1, 2}
                                     << QStringList{"TEXT", "LOW", "PRIVATE", "NO", "Work", "2 RECIPIENTS"};
        QTest::newRow("odd values") << 0 << 9 << 3 << false << "work" << QList<int>{4}
                                    << QStringList{"TEXT", "LOW", "CONFIDENTIAL", "NO", "Work", "1 RECIPIENTS"};
        QTest::newRow("sensitivity out of range") << 0 << 1 << 8 << false << "Home" << QList<int>{4}
                                                  << QStringList{"TEXT", "NORMAL", "NORMAL", "NO", "Home", "1 RECIPIENTS"};
    }
    void confirmationValues()
    {
        QFETCH(int, format);
        QFETCH(int, importance);
        QFETCH(int, sensitivity);
        QFETCH(bool, receipt);
        QFETCH(QString, sendUsing);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, shown);
        select(f, rows);
        frmCompose c;
        c.SetMessageFormat(format);
        c.mi->SetImportance(importance);
        c.mi->SetSensitivity(sensitivity);
        c.mi->SetReadReceiptRequested(receipt);
        c.SetMessageSendUsing(sendUsing);
        Form24 d(c);
        QCOMPARE(d.Cancelled, -1);
        // "Send Using" names the account that really sends: a name that is no account shows the default.
        const QStringList got{d.ctlMessageFormat->text(), d.ctlMessageImportance->text(), d.ctlMessageSensitivity->text(),
                              d.ctlRequestReadReceipt->text(), d.ctlSendUsing->text(), d.ctlSentTo->text()};
        QCOMPARE(got, shown);
        QCOMPARE(c.SendingAccount(), shown[4]);
    }

    void confirmationAnswers()
    {
        select(f, {1});
        frmCompose c;
        Form24 d(c);
        d.Command1_Click();
        QCOMPARE(d.Cancelled, 0);
        d.close();  // the close box answers No and only hides
        QCOMPARE(d.Cancelled, -1);
        QVERIFY(d.isHidden());
    }

    void recipientListApplyCancel()
    {
        select(f, {1, 2, 3});
        frmCompose c;
        scripted().dialogHandlers[QStringLiteral("Form18")] = [](QDialog* d) {
            auto* g = static_cast<Form18*>(d);
            g->show();
            // A real click on row 2's check switches it off.
            QAbstractItemModel* m = g->TDBGrid1->model();
            const QRect cell = g->TDBGrid1->visualRect(m->index(1, 1));
            QTest::mouseClick(g->TDBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
            g->CommandApply_Click();
            return 1;
        };
        c.CommandTo_Click();
        QCOMPARE(c.ex->Value(2, 4).toString(), QStringLiteral("0"));
        QCOMPARE(c.ex->Value(1, 4).toString(), QStringLiteral("-1"));
        QCOMPARE(c.ex->Value(2, 1), f->ex->Value(2, 1));
        QCOMPARE(c.SendToCount(), 2);

        scripted().dialogHandlers[QStringLiteral("Form18")] = [](QDialog* d) {
            auto* g = static_cast<Form18*>(d);
            for (int i = 1; i <= 3; ++i) g->GridArray->SetValue(i, 1, QStringLiteral("0"));
            g->CommandCancel_Click();
            return 0;
        };
        c.viewm_sendtolist_Click();
        QCOMPARE(c.SendToCount(), 2);
        QCOMPARE(c.ex->Value(1, 4).toString(), QStringLiteral("-1"));

        // Everything unticked: the composer refuses for want of recipients.
        scripted().dialogHandlers[QStringLiteral("Form18")] = [](QDialog* d) {
            auto* g = static_cast<Form18*>(d);
            for (int i = 1; i <= 3; ++i) g->GridArray->SetValue(i, 1, QStringLiteral("0"));
            g->CommandApply_Click();
            return 1;
        };
        c.viewm_sendtolist_Click();
        QCOMPARE(c.SendToCount(), 0);
        c.txtSubject->setText(QStringLiteral("S"));
        c.txtMsg->setPlainText(QStringLiteral("Hi"));
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(scripted().lastPrompt(), kNoRecipients);
    }

    void recipientListTakesOnlyTheSendClick()
    {
        select(f, {1, 2});
        frmCompose c;
        Form18 d(c);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QAbstractItemModel* m = d.TDBGrid1->model();
        for (int col = 0; col < m->columnCount(); ++col)
            QVERIFY2(!(m->flags(m->index(0, col)) & Qt::ItemIsEditable), qPrintable(QString::number(col)));
        // Neither a double-click nor typing on an address opens an editor.
        const QRect address = d.TDBGrid1->visualRect(m->index(0, 2));
        QTest::mouseDClick(d.TDBGrid1->viewport(), Qt::LeftButton, {}, address.center());
        QTest::keyClicks(d.TDBGrid1, QStringLiteral("typed@example.org"));
        for (const QWidget* editor : d.TDBGrid1->viewport()->findChildren<QWidget*>()) QVERIFY(!editor->isVisible());
        QCOMPARE(d.GridArray->Value(1, 2), f->ex->Value(1, 1));
        // The Send click still switches the row.
        const QRect send = d.TDBGrid1->visualRect(m->index(1, 1));
        QTest::mouseClick(d.TDBGrid1->viewport(), Qt::LeftButton, {}, send.center());
        QCOMPARE(d.GridArray->Value(2, 1).toString(), QStringLiteral("0"));
        d.CommandApply_Click();
        QCOMPARE(c.ex->Value(1, 1), f->ex->Value(1, 1));
        QCOMPARE(c.SendToCount(), 1);
    }

    void recipientListLayout()
    {
        select(f, {1});
        frmCompose c;
        Form18 d(c);
        d.resize(700, 500);
        d.Form_Resize();
        QCOMPARE(d.CommandCancel->geometry().right() + 1, 700 - 10);
        QCOMPARE(d.CommandCancel->geometry().bottom() + 1, 500 - 10);
        QCOMPARE(d.CommandApply->geometry().right() + 1 + 3, d.CommandCancel->x());
        QCOMPARE(d.Label1->y(), d.TDBGrid1->geometry().bottom() + 1 + 5);
    }

    void filesRoundTrip()
    {
        select(f, {1});
        frmCompose c;
        const QString dir = testsupport::TestHome::path();
        const QString body = QStringLiteral("Dear <%$FIRST>,\nCaf\u00e9 & <b>tea</b>\n\n  end");
        c.txtMsg->setPlainText(body);
        c.txtSubject->setText(QStringLiteral("Keep me"));

        // No name yet: Save asks where, with the overwrite prompt.
        scripted().fileAnswers.enqueue(dir + "/one.txt");
        c.filemSave_Click();
        QCOMPARE(scripted().files.last().kind, 1);
        QCOMPARE(c.CommonDialog1.Flags, int(ui::CommonDialog::cdlOFNOverwritePrompt));
        QCOMPARE(readFile(dir + "/one.txt"), body.toUtf8());
        QCOMPARE(c.MessageFileName(), dir + "/one.txt");

        // A failed Save As keeps the name and the file.
        scripted().fileAnswers.enqueue(dir + "/no/such/dir/two.txt");
        c.filemSaveAs_Click();
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(c.MessageFileName(), dir + "/one.txt");

        c.filemNew_Click();
        QVERIFY(c.txtMsg->toPlainText().isEmpty());
        QVERIFY(c.MessageFileName().isEmpty());
        QCOMPARE(c.txtSubject->text(), QStringLiteral("Keep me"));
        QCOMPARE(c.SendToCount(), 1);

        // Open brings the text back exactly; an unreadable file changes nothing.
        scripted().fileAnswers.enqueue(dir + "/one.txt");
        c.filemOpen_Click();
        QCOMPARE(c.txtMsg->toPlainText(), body);
        QCOMPARE(c.MessageFileName(), dir + "/one.txt");
        scripted().fileAnswers.enqueue(dir + "/missing.txt");
        c.filemOpen_Click();
        QCOMPARE(c.MessageFileName(), dir + "/one.txt");
        QCOMPARE(c.txtMsg->toPlainText(), body);

        // Insert a file at the caret, then Save writes to the opened file; the inserted one is untouched.
        writeFile(dir + "/insert.rtf", "{\\rtf1 X}");
        QTextCursor cur = c.txtMsg->textCursor();
        cur.movePosition(QTextCursor::Start);
        c.txtMsg->setTextCursor(cur);
        scripted().fileAnswers.enqueue(dir + "/insert.rtf");
        c.editmInsertText_Click();
        c.filemSave_Click();
        QCOMPARE(readFile(dir + "/one.txt"), QByteArray("{\\rtf1 X}") + body.toUtf8());
        QCOMPARE(readFile(dir + "/insert.rtf"), QByteArray("{\\rtf1 X}"));

        // The preview holds the body as it stands, tokens included.
        c.filemPreview_Click();
        const QString preview = ui::DataPath(QStringLiteral("BulkPreview.htm"));
        QCOMPARE(readFile(preview), c.txtMsg->toPlainText().toUtf8());
        QCOMPARE(scripted().openedDocuments, QStringList{preview});
        // With no program for it the user is told.
        scripted().openDocumentResult = false;
        c.filemPreview_Click();
        QCOMPARE(scripted().lastPrompt(), "The file " + preview + " could not be opened.  " + scripted().openDocumentReason);
    }

    // The composer takes the screen, frame included, and no more than windows may take of it:
    // its frame guessed from the main window's, or fitted once it is framed.
    void frameFitsTheScreen_data()
    {
        QTest::addColumn<bool>("mainWindowShown");
        QTest::newRow("main window shown") << true;
        QTest::newRow("no framed window") << false;
    }
    void frameFitsTheScreen()
    {
        QFETCH(bool, mainWindowShown);
        select(f, {1});
        f->setVisible(mainWindowShown);
        frmCompose c;
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));
        QVERIFY(c.frameGeometry() != c.geometry());
        QTRY_COMPARE(c.frameGeometry(), c.screen()->availableGeometry());
        c.hide();
        f->show();
    }

    // Each attachment's name shows whole under its icon, the next slot 3 pixels further on; a
    // name too long for a slot three times the usual width is shortened in its middle and told
    // whole in its tooltip.
    void attachmentNamesShowWhole()
    {
        select(f, {1});
        frmCompose c;
        const QString dir = testsupport::TestHome::path();
        const QStringList names{"brochure.pdf", "a.txt", QString(150, QLatin1Char('n')) + ".pdf"};
        for (const QString& name : names) {
            writeFile(dir + "/" + name, "x");
            scripted().fileAnswers.enqueue(dir + "/" + name);
            c.editmInsertAttachment_Click();
        }
        QCOMPARE(c.mi->Attachments().Count(), 3);
        for (int i = 0; i < 3; ++i) {
            QLabel* label = c.AttachmentLabel[size_t(i)];
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
            QCOMPARE(c.Attachment[size_t(i)]->width(), label->width());
            QCOMPARE(label->x(), c.Attachment[size_t(i)]->x());
            QCOMPARE(label->toolTip(), names.at(i));
            if (i > 0) QCOMPARE(c.Attachment[size_t(i)]->x(), c.Attachment[size_t(i - 1)]->geometry().right() + 1 + 3);
        }
        QCOMPARE(c.AttachmentLabel[0]->text(), names.at(0));
        QCOMPARE(c.AttachmentLabel[1]->width(), 72);  // a short name keeps the usual slot
        QCOMPARE(c.AttachmentLabel[2]->width(), 3 * 72);
        QVERIFY(c.AttachmentLabel[2]->text().contains(QChar(0x2026)));
        QVERIFY(c.AttachmentLabel[2]->text().endsWith(".pdf"));
    }

    // A window made narrower than its toolbar keeps every command in reach: the toolbar takes
    // the window's width and offers the rest behind its extension button.
    void aNarrowWindowKeepsEveryToolbarCommand()
    {
        select(f, {1});
        frmCompose c;
        c.show();
        c.resize(480, 400);
        QTest::qWait(0);
        QVERIFY2(c.toolbar->x() + c.toolbar->width() <= c.client->width(),
                 qPrintable(QStringLiteral("%1 of %2").arg(c.toolbar->x() + c.toolbar->width()).arg(c.client->width())));
        auto* more = c.toolbar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
        QVERIFY(more && more->isVisible());
        c.resize(1200, 600);
        QTest::qWait(0);
        QVERIFY(!more->isVisible());
        c.hide();
    }

    void layoutStacksHeaderRows()
    {
        select(f, {1});
        frmCompose c;
        c.show();
        c.resize(800, 600);
        QTest::qWait(0);
        auto gap = [](QWidget* upper, QWidget* lower) { return lower->y() - (upper->y() + upper->height()); };
        QCOMPARE(gap(c.txtTo, c.txtCC), 3);
        QCOMPARE(gap(c.txtCC, c.txtSubject), 3);
        QCOMPARE(c.txtSubject->width(), c.client->width() - 4 - c.txtTo->x());
        QCOMPARE(c.picA->y() + c.picA->height(), c.client->height());
        QCOMPARE(c.txtMsg->y() + c.txtMsg->height(), c.picA->y());
        c.viewmBCC_Click();
        c.viewmReplyTo_Click();
        QCOMPARE(gap(c.txtCC, c.txtBCC), 3);
        QCOMPARE(gap(c.txtBCC, c.txtReplyTo), 3);
        QCOMPARE(gap(c.txtReplyTo, c.txtSubject), 3);
        QCOMPARE(c.CommandReplyTo->y(), c.txtReplyTo->y());
        QCOMPARE(gap(c.txtSubject, c.txtMsg), 3);
        c.hide();
    }

    void printSendsNothing()
    {
        select(f, {1});
        frmCompose c;
        c.txtMsg->setPlainText(QStringLiteral("Body <%$FIRST>"));
        scripted().fileAnswers.enqueue(QString());  // printer dialog cancelled
        c.filemPrint_Click();
        const QString pdf = ui::Printer().outputFileName();
        QFile::remove(pdf);
        QVERIFY(!QFile::exists(pdf));
        scripted().fileAnswers.enqueue(QStringLiteral("printer"));
        c.filemPrint_Click();  // blank subject prints as it is
        QCOMPARE(scripted().files.size(), 2);
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox)->Items()->Count(), 0);
        QCOMPARE(printedPages(pdf), 1);

        // A body longer than a page goes on over more pages.
        QString longBody;
        for (int i = 0; i < 150; ++i) longBody += QStringLiteral("Line %1 of a long letter\n").arg(i);
        c.txtMsg->setPlainText(longBody);
        QFile::remove(pdf);
        scripted().fileAnswers.enqueue(QStringLiteral("printer"));
        c.filemPrint_Click();
        QVERIFY(printedPages(pdf) >= 2);
    }

    void newEmptiesAttachmentsAndLimitsTen()
    {
        select(f, {1});
        frmCompose c;
        const QString dir = testsupport::TestHome::path();
        for (int i = 1; i <= 10; ++i) {
            writeFile(dir + QStringLiteral("/a%1.txt").arg(i), QByteArray::number(i));
            scripted().fileAnswers.enqueue(dir + QStringLiteral("/a%1.txt").arg(i));
            c.editmInsertAttachment_Click();
        }
        QCOMPARE(c.mi->Attachments().Count(), 10);
        QVERIFY(!c.AttachmentLabel[9]->isHidden());
        // The paper clip is the same command; the signature, which has nothing to insert, is shown off.
        c.Toolbar1(8)->trigger();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Add Anymore Attachments.  The Maximum of 10 Has Already Been Reached."));
        QVERIFY(!c.Toolbar1(7)->isEnabled());
        QVERIFY(!c.editmInsertSignature->isEnabled());
        scripted().clear();
        const int dialogs = scripted().files.size();
        c.editmInsertAttachment_Click();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Add Anymore Attachments.  The Maximum of 10 Has Already Been Reached."));
        QCOMPARE(scripted().files.size(), dialogs);

        // Deleting slot 3 moves the later ones down.
        c.Attachment_MouseUp(3, 2);
        QVERIFY(c.AttachmentMenuOpen());
        QCOMPARE(c.qelPopup2->ListCount(), 1);
        c.qelPopup2_SelectionMade(0);
        QCOMPARE(c.mi->Attachments().Count(), 9);
        QCOMPARE(c.AttachmentLabel[3]->text(), QStringLiteral("a5.txt"));
        QVERIFY(c.AttachmentLabel[9]->isHidden());

        c.filemNew_Click();
        QCOMPARE(c.mi->Attachments().Count(), 0);
        QVERIFY(c.AttachmentLabel[0]->isHidden());
        QVERIFY(c.Toolbar1(12, 1)->isChecked());
    }

    void editCommands()
    {
        select(f, {1});
        frmCompose c;
        c.show();
        QVERIFY(QTest::qWaitForWindowActive(&c));
        c.SetMailMessageTo(QStringLiteral("Selected List Members"));
        QGuiApplication::clipboard()->setText(QStringLiteral("clip"));

        c.txtSubject->setText(QStringLiteral("subject"));
        c.txtSubject->setFocus();
        QCOMPARE(c.EditTarget(), c.txtSubject);
        c.editmCut_Click();  // no selection: nothing changes
        c.editmCopy_Click();
        c.filemDelete_Click();
        QCOMPARE(c.txtSubject->text(), QStringLiteral("subject"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("clip"));

        c.txtSubject->setSelection(0, 3);
        c.editmCut_Click();
        QCOMPARE(c.txtSubject->text(), QStringLiteral("ject"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("sub"));
        c.editmPaste_Click();
        QCOMPARE(c.txtSubject->text(), QStringLiteral("subject"));

        // The To box takes no keys and no edit command reaches it.
        QTest::keyClicks(c.txtTo, QStringLiteral("xyz"));
        c.txtTo->setFocus();
        c.editmSelectAll_Click();
        c.editmPaste_Click();
        c.filemDelete_Click();
        QCOMPARE(c.txtTo->text(), QStringLiteral("Selected List Members"));
        c.hide();
    }
};

FERROWYN_TEST_MAIN(TestComposer)
#include "tst_Composer.moc"

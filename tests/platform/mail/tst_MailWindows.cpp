// The mail host's windows and dialogs, driven headless through their public procedures.
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Spooler.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/ScriptedUi.h"
#include "tests/platform/mail/MailTestUtil.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/send/AioSmtpServer.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {
ui::ScriptedUi& scripted() { return static_cast<ui::ScriptedUi&>(ui::services()); }

// Pending activation requests (a window just shown) run first, so that only w's turn counts.
void activate(QWidget* w)
{
    QCoreApplication::processEvents();
    QApplication::setActiveWindow(w);
    QCoreApplication::processEvents();
}
} // namespace

class TestMailWindows : public QObject {
    Q_OBJECT
    std::shared_ptr<Application> app;
    NameSpacePtr ns;
    std::unique_ptr<QWidget> elsewhere;  // another window to switch to

    int count(int folder) { return ns->GetDefaultFolder(folder)->Items()->Count(); }

    MailItemPtr received(const QByteArray& message)
    {
        return ns->GetDefaultFolder(olFolderInbox)->AddMessageFile(message);
    }

    ComposeWindow* composeFor(const MailItemPtr& mi)
    {
        mi->Display();
        return qobject_cast<ComposeWindow*>(WindowOf(*mi->GetInspector()));
    }

    // A message to bob@example.net sent through "Authd" (ann@authd.example, at authdUrl), which
    // leaves it in the Outbox as `expected`; then "Authd" is removed, "Work" (at workUrl) left
    // as the default account.
    MailItemPtr leftByAGoneAccount(const QString& authdUrl, const QString& workUrl, const QString& subject,
                                   send::QueueState expected)
    {
        send::Account authd = sendtest::smtpAccount("Authd", authdUrl);
        authd.address = QStringLiteral("ann@authd.example");
        send::Account work = sendtest::smtpAccount("Work", workUrl);
        work.isDefault = true;
        if (!send::SaveAccounts({work, authd}))
            return nullptr;
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(subject);
        mi->SetSendUsingAccount(QStringLiteral("Authd"));
        mi->Send();
        app->spooler()->setPaused(false);
        if (!app->spooler()->waitUntilIdle(20000))
            return nullptr;
        MailItemPtr left = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        if (left->SendingStatus().state != expected || !send::SaveAccounts({work}))
            return nullptr;
        return left;
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        scripted().clear();
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
        app->spooler()->setPaused(true);
        elsewhere = std::make_unique<QWidget>();
        elsewhere->show();
    }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<ComposeWindow*>(w) || qobject_cast<MessageWindow*>(w))
                delete w;
        elsewhere.reset();
        ns.reset();
        app.reset();
    }

    void composeKeepsItsTextAcrossDeactivation()
    {
        MailItemPtr mi = app->CreateItem(olMailItem);
        ComposeWindow* w = composeFor(mi);
        QVERIFY(w);
        QSignalSpy deactivated(mi->GetInspector().get(), &Inspector::Deactivate);
        activate(w);
        QTest::keyClicks(w->txtBody, QStringLiteral("Half a thought"));
        activate(elsewhere.get());
        activate(w);
        activate(elsewhere.get());
        QCOMPARE(deactivated.count(), 0);
        QCOMPARE(WindowOf(*mi->GetInspector()), w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->txtBody->toPlainText(), QStringLiteral("Half a thought"));
    }

    // A saved subject names the window, as it names the draft.
    void savingRenamesTheComposeWindow()
    {
        MailItemPtr mi = app->CreateItem(olMailItem);
        ComposeWindow* w = composeFor(mi);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - Message"));
        QTest::keyClicks(w->txtSubject, QStringLiteral("Spring fair"));
        QVERIFY(w->Save_Click());
        QCOMPARE(w->windowTitle(), QStringLiteral("Spring fair - Message"));
        w->close();
    }

    // Every way of closing a compose window asks about what was typed, attached or taken off.
    void closingComposeWithChangesAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("stillOpen");
        QTest::addColumn<int>("drafts");
        for (const char* how : {"inspector", "escape", "close box"}) {
            const QString h = QString::fromLatin1(how);
            QTest::addRow("%s, cancel", how) << h << "typed" << int(ui::vbCancel) << true << 0;
            QTest::addRow("%s, no", how) << h << "typed" << int(ui::vbNo) << false << 0;
            QTest::addRow("%s, yes", how) << h << "typed" << int(ui::vbYes) << false << 1;
        }
        QTest::newRow("escape, attached, cancel") << "escape" << "attached" << int(ui::vbCancel) << true << 0;
        QTest::newRow("escape, attached, yes") << "escape" << "attached" << int(ui::vbYes) << false << 1;
        QTest::newRow("close box, attachment removed, no") << "close box" << "removed" << int(ui::vbNo) << false << 0;
    }

    void closingComposeWithChangesAsks()
    {
        QFETCH(QString, how);
        QFETCH(QString, change);
        QFETCH(int, answer);
        QFETCH(bool, stillOpen);
        QFETCH(int, drafts);
        // As the user or the program closes it: Esc, the window's close box, or its inspector.
        auto close = [&](ComposeWindow* w, const MailItemPtr& mi) {
            if (how == QLatin1String("escape"))
                QTest::keyClick(w->txtBody, Qt::Key_Escape);
            else if (how == QLatin1String("close box"))
                w->windowHandle()->close();
            else
                mi->GetInspector()->Close(olDiscard);  // the program asks; the user decides
        };
        const QString file = testsupport::TestHome::path() + QStringLiteral("/notes.txt");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("notes");
        f.close();

        MailItemPtr mi = app->CreateItem(olMailItem);
        if (change == QLatin1String("removed"))
            mi->Attachments().Add(file);
        QPointer<ComposeWindow> w = composeFor(mi);
        QVERIFY(w);
        if (change == QLatin1String("typed")) {
            QTest::keyClicks(w->txtSubject, QStringLiteral("Plans"));
        } else if (change == QLatin1String("attached")) {
            QVERIFY(w->AttachFile(file));
        } else {
            w->lstAttachments->setCurrentRow(0);
            w->RemoveAttachment_Click();
        }
        scripted().boxAnswers.enqueue(answer);
        close(w, mi);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes[0].prompt, QStringLiteral("Do you want to save changes?"));
        QCOMPARE(scripted().boxes[0].style, ui::vbYesNoCancel | ui::vbQuestion);
        QCOMPARE(w && w->isVisible(), stillOpen);
        QCOMPARE(count(olFolderDrafts), drafts);
        if (stillOpen) {
            QCOMPARE(WindowOf(*mi->GetInspector()), w.data());
            QCOMPARE(w->txtSubject->text(), change == QLatin1String("typed") ? QStringLiteral("Plans") : QString());
            QCOMPARE(w->lstAttachments->count(), change == QLatin1String("attached") ? 1 : 0);
        }
        if (drafts) {
            MailItemPtr saved = AsMailItem(ns->GetDefaultFolder(olFolderDrafts)->Items()->Item(1));
            QCOMPARE(saved->Subject(), change == QLatin1String("typed") ? QStringLiteral("Plans") : QString());
            QCOMPARE(saved->Attachments().Count(), change == QLatin1String("attached") ? 1 : 0);
        }

        // Without changes, it closes at once without asking.
        MailItemPtr other = app->CreateItem(olMailItem);
        QPointer<ComposeWindow> quiet = composeFor(other);
        close(quiet, other);
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(!quiet || !quiet->isVisible());
    }

    // Enter in a header box presses no button: the message goes by Send only.
    void enterInAHeaderBoxSendsNothing_data()
    {
        QTest::addColumn<int>("box");
        QTest::addColumn<int>("key");
        const char* names[] = {"To", "Cc", "Bcc", "Subject"};
        for (int box = 0; box < 4; ++box) {
            QTest::addRow("%s, Return", names[box]) << box << int(Qt::Key_Return);
            QTest::addRow("%s, Enter", names[box]) << box << int(Qt::Key_Enter);
        }
    }

    void enterInAHeaderBoxSendsNothing()
    {
        QFETCH(int, box);
        QFETCH(int, key);
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", QStringLiteral("smtp://127.0.0.1:1"))}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        QPointer<ComposeWindow> w = composeFor(mi);
        activate(w);
        QTest::keyClicks(w->txtTo, QStringLiteral("bob@example.net"));
        QTest::keyClicks(w->txtSubject, QStringLiteral("Plans"));
        QTest::keyClicks(w->txtBody, QStringLiteral("Hi"));
        QList<std::shared_ptr<QSignalSpy>> pressed;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            pressed << std::make_shared<QSignalSpy>(b, &QPushButton::clicked);
        QLineEdit* edit = QList<QLineEdit*>{w->txtTo, w->txtCC, w->txtBCC, w->txtSubject}[box];
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(count(olFolderOutbox), 0);
        QVERIFY(w && w->isVisible());
        for (const auto& spy : pressed)
            QCOMPARE(spy->count(), 0);
        QVERIFY(scripted().boxes.isEmpty());
        QVERIFY(w->Send_Click());  // the button still sends
        QCOMPARE(count(olFolderOutbox), 1);
    }

    void composeSendsQueuesAndCloses()
    {
        send::Account a;
        a.name = QStringLiteral("Work");
        a.address = QStringLiteral("ann@example.org");
        a.transport = QStringLiteral("smtp://127.0.0.1:1");
        QVERIFY(send::SaveAccounts({a}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        ComposeWindow* w = composeFor(mi);
        QTest::keyClicks(w->txtTo, QStringLiteral("Bob Smith"));
        QVERIFY(!w->Send_Click());  // not an address: told, kept open, nothing queued
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("\"Bob Smith\" is not an e-mail address."));
        QVERIFY(w->isVisible());
        QCOMPARE(count(olFolderOutbox), 0);

        QVERIFY(!w->AttachFile(QStringLiteral("/no/such/file")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("/no/such/file")));

        w->txtTo->clear();
        QTest::keyClicks(w->txtTo, QStringLiteral("Bob <bob@example.net>"));
        QTest::keyClicks(w->txtBCC, QStringLiteral("hidden@example.net"));
        QTest::keyClicks(w->txtBody, QStringLiteral("Hi"));
        QVERIFY(w->Send_Click());
        QCOMPARE(count(olFolderOutbox), 1);
        MailItemPtr queued = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QCOMPARE(queued->BCC(), QStringLiteral("hidden@example.net"));
        QCOMPARE(queued->Body().trimmed(), QStringLiteral("Hi"));
        QCOMPARE(scripted().boxes.size(), 2);  // closed without asking
    }

    // An address pasted with an invisible character: the refusal shows it as the address editor
    // does, whichever line it is in.
    void composeRefusalShowsHiddenCharacters_data()
    {
        QTest::addColumn<int>("line");  // To, CC, BCC
        QTest::addColumn<QString>("pasted");
        const QString address = QStringLiteral("bob@exam\u200bple.net");
        QTest::newRow("To") << 0 << address;
        QTest::newRow("BCC, named") << 2 << "Bob <" + address + ">";
    }
    void composeRefusalShowsHiddenCharacters()
    {
        QFETCH(int, line);
        QFETCH(QString, pasted);
        ComposeWindow* w = composeFor(app->CreateItem(olMailItem));
        if (line != 0)
            QTest::keyClicks(w->txtTo, QStringLiteral("ann@example.org"));
        QGuiApplication::clipboard()->setText(pasted);
        QList<QLineEdit*>{w->txtTo, w->txtCC, w->txtBCC}[line]->paste();
        QVERIFY(!w->Send_Click());
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("\"bob@exam<U+200B>ple.net\" is not an e-mail address."));
        QVERIFY(w->isVisible());
        QCOMPARE(count(olFolderOutbox), 0);
    }

    void replyAndForwardOpenInCompose()
    {
        const QString file = testsupport::TestHome::path() + QStringLiteral("/notes.txt");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("notes");
        f.close();
        MailItemPtr draft = app->CreateItem(olMailItem);
        draft->SetTo(QStringLiteral("me@example.org"));
        draft->Attachments().Add(file);
        QByteArray bytes = draft->MimeContent();
        bytes.prepend("From: Carol Jones <carol@example.net>\n");
        MailItemPtr mi = received(bytes);

        ComposeWindow* reply = composeFor(mi->Reply());
        QVERIFY(reply);
        QCOMPARE(reply->txtTo->text(), QStringLiteral("Carol Jones <carol@example.net>"));
        QVERIFY(!reply->isModified());
        ComposeWindow* fwd = composeFor(mi->Forward());
        QCOMPARE(fwd->lstAttachments->count(), 1);
        QCOMPARE(fwd->lstAttachments->item(0)->text(), QStringLiteral("notes.txt"));
    }

    void messageWindowShowsTextPlainlyAndOpensAttachments()
    {
        MailItemPtr draft = app->CreateItem(olMailItem);
        draft->SetTo(QStringLiteral("me@example.org"));
        draft->SetSubject(QStringLiteral("<b>&Offer</b>"));
        draft->SetHTMLBody(QStringLiteral("<p>Hello</p><script>document.write('scripted')</script><img src=\"http://example.com/x.png\">"));
        const QString file = testsupport::TestHome::path() + QStringLiteral("/price list.csv");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a,b\n1,2\n");
        f.close();
        draft->Attachments().Add(file);
        MailItemPtr mi = received("From: Shop <shop@example.com>\n" + draft->MimeContent());

        mi->Display();
        auto* w = qobject_cast<MessageWindow*>(WindowOf(*mi->GetInspector()));
        QVERIFY(w);
        QCOMPARE(w->lblSubject->textFormat(), Qt::PlainText);
        QCOMPARE(w->lblSubject->text(), QStringLiteral("<b>&Offer</b>"));
        QVERIFY(w->htmlBody);
        QVERIFY(w->htmlBody->toPlainText().contains(QStringLiteral("Hello")));
        QVERIFY(!w->htmlBody->toPlainText().contains(QStringLiteral("scripted")));

        QVERIFY(w->OpenAttachment(1));
        QCOMPARE(scripted().openedDocuments.size(), 1);
        const QFileInfo opened(scripted().openedDocuments.first());
        QCOMPARE(opened.fileName(), QStringLiteral("price list.csv"));
        QCOMPARE(mailtest::readAll(opened.filePath()), QByteArray("a,b\n1,2\n"));
        QCOMPARE(QFileInfo(opened.path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
        QVERIFY(!w->OpenAttachment(2));
        // No program for it: which file and why.
        scripted().clear();
        scripted().openDocumentResult = false;
        QVERIFY(!w->OpenAttachment(1));
        QCOMPARE(scripted().lastPrompt(), "The file " + scripted().openedDocuments.value(0) + " could not be opened.  " +
                                              scripted().openDocumentReason);
    }

    // A box the message window shows comes up over it and takes activation: the window, which
    // closes when it loses activation, is not closed from under the box or the command that showed
    // it, and the box tells its message. Activation that goes elsewhere just before the box takes
    // it, and stays there after it, closes the window once the box is gone.
    void messageWindowOutlivesItsBoxes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("told");  // the end of the prompt
        QTest::addColumn<bool>("left");     // activation went elsewhere as the box came up
        const QList<std::pair<const char*, QString>> commands = {
            {"open", " could not be opened.  No program to open files of this type was found."},
            {"open, fails later", " could not be opened.  It failed."},
            {"send again", "There is no mail account \"Work\"."},
            {"delete", "The item could not be moved."},
        };
        for (const auto& [command, told] : commands) {
            QTest::addRow("%s", command) << QString::fromLatin1(command) << told << false;
            QTest::addRow("%s, left meanwhile", command) << QString::fromLatin1(command) << told << true;
        }
    }
    void messageWindowOutlivesItsBoxes()
    {
        QFETCH(QString, command);
        QFETCH(QString, told);
        QFETCH(bool, left);
        MailItemPtr mi;
        if (command.startsWith(QLatin1String("open"))) {
            const QString file = testsupport::TestHome::path() + QStringLiteral("/odd.qqz");
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("?");
            f.close();
            MailItemPtr draft = app->CreateItem(olMailItem);
            draft->SetTo(QStringLiteral("me@example.org"));
            draft->SetSubject(QStringLiteral("Odd"));
            draft->Attachments().Add(file);
            mi = received("From: Ann <ann@example.org>\n" + draft->MimeContent());
        } else {
            QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", QStringLiteral("smtp://127.0.0.1:1"))}));
            MailItemPtr draft = app->CreateItem(olMailItem);
            draft->SetTo(QStringLiteral("bob@example.net"));
            draft->SetSubject(QStringLiteral("Waiting"));
            draft->SetSendUsingAccount(QStringLiteral("Work"));
            draft->Send();
            mi = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        }
        // As the program does: a message window that loses activation is closed.
        QObject guard;
        connect(mi->GetInspector().get(), &Inspector::Deactivate, &guard, [mi] { mi->GetInspector()->Close(olDiscard); });
        mi->Display();
        QPointer<MessageWindow> w = qobject_cast<MessageWindow*>(WindowOf(*mi->GetInspector()));
        QVERIFY(w);
        activate(w);
        QVERIFY(w->isActiveWindow());
        QSignalSpy deactivated(mi->GetInspector().get(), &Inspector::Deactivate);

        scripted().boxesTakeActivation = true;
        // Posted just before the box comes up: runs in its event loop before it takes activation.
        bool wentElsewhere = false;
        auto showsBox = [&] {
            if (left)
                QMetaObject::invokeMethod(elsewhere.get(), [&] {
                    QApplication::setActiveWindow(elsewhere.get());
                    wentElsewhere = true;
                }, Qt::QueuedConnection);
        };
        if (command.startsWith(QLatin1String("open"))) {
            scripted().openDocumentResult = command == QLatin1String("open, fails later");
            QListWidget* list = w->lstAttachments;
            const QPoint at = list->visualItemRect(list->item(0)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            if (!scripted().openDocumentResult)
                showsBox();
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            QCOMPARE(scripted().openedDocuments.size(), 1);
            // The opener's end comes through the event loop while the window is the active one.
            if (scripted().openDocumentResult) {
                showsBox();
                scripted().openDocumentFailedLater(QStringLiteral("It failed."));
            }
        } else if (command == QLatin1String("send again")) {
            QVERIFY(send::SaveAccounts({}));
            showsBox();
            w->cmdSendAgain->click();
        } else {
            QVERIFY(QFile::remove(mi->FilePath()));
            showsBox();
            w->cmdDelete->click();
        }
        QCOMPARE(wentElsewhere, left);
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY2(scripted().boxes[0].prompt.endsWith(told), qPrintable(scripted().boxes[0].prompt));
        QCOMPARE(scripted().boxes[0].style, int(ui::vbCritical));
        QCOMPARE(scripted().boxes[0].over, mi->Subject());
        QVERIFY(w && w->isVisible());
        QCOMPARE(deactivated.count(), 0);

        if (!left) {
            QVERIFY(w->isActiveWindow());
            activate(elsewhere.get());
        }
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(deactivated.count(), 1);
        QVERIFY(!w);
        QVERIFY(!WindowOf(*mi->GetInspector()));
    }

    void aMessageShownOverAModalDialogTakesInput()
    {
        QDialog dialog;
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        MailItemPtr mi = received("From: Ann <ann@example.org>\nSubject: Hello\n\nHi\n");
        mi->Display();
        QWidget* w = WindowOf(*mi->GetInspector());
        QVERIFY(w && w->isVisible());
        // On top of the modal stack: the dialog under it waits, the message can be read and closed.
        QCOMPARE(QApplication::activeModalWidget(), w);
        w->close();
        QCOMPARE(QApplication::activeModalWidget(), &dialog);
    }

    void printOutRendersTheMessage()
    {
        MailItemPtr mi = received("From: Carol <carol@example.net>\nTo: me@example.org\nSubject: Invoice 7\n\nPlease pay.\n");
        QPrinter& printer = ui::Printer();
        QFile::remove(printer.outputFileName());
        mi->PrintOut();
        QVERIFY(QFileInfo(printer.outputFileName()).size() > 0);
    }

    void accountsDialogEditsAccountsFile()
    {
        scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [](QDialog* d) {
            auto* dlg = static_cast<AccountsDialog*>(d);
            dlg->Add_Click();
            dlg->txtName->setText(QStringLiteral("Work"));
            dlg->txtDisplayName->setText(QStringLiteral("Ann"));
            dlg->txtTransport->setText(QStringLiteral("smtp://mail.example.org:587"));
            if (dlg->OK_Click())  // no address: refused
                return int(QDialog::Accepted);
            dlg->txtAddress->setText(QStringLiteral("ann@example.org"));
            dlg->Add_Click();
            dlg->txtName->setText(QStringLiteral("Home"));
            dlg->txtAddress->setText(QStringLiteral("ann@home.example"));
            dlg->txtTransport->setText(QStringLiteral("sendmail -t"));
            dlg->chkDefault->setChecked(true);
            return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        QCOMPARE(ShowAccountsDialog(nullptr), int(QDialog::Accepted));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().boxes[0].prompt.contains(QStringLiteral("no e-mail address")));
        QCOMPARE(send::AccountNames(), QStringList({"Work", "Home"}));
        const QList<send::Account> saved = send::LoadAccounts();
        QCOMPARE(send::DefaultAccount(saved)->name, QStringLiteral("Home"));
        QCOMPARE(QFileInfo(send::AccountsFile()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());

        scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [](QDialog* d) {
            auto* dlg = static_cast<AccountsDialog*>(d);
            dlg->SelectAccount(0);
            dlg->Remove_Click();
            return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        QCOMPARE(ShowAccountsDialog(nullptr), int(QDialog::Accepted));
        QCOMPARE(send::AccountNames(), QStringList({"Home"}));
    }

    // The list shows an account by the name being typed for it, not the one it had.
    void accountsDialogListFollowsTheNameTyped()
    {
        QString listed;
        scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [&listed](QDialog* d) {
            auto* dlg = static_cast<AccountsDialog*>(d);
            dlg->Add_Click();
            dlg->txtName->selectAll();
            QTest::keyClicks(dlg->txtName, QStringLiteral("Work"));
            listed = dlg->lstAccounts->currentItem() ? dlg->lstAccounts->currentItem()->text() : QString();
            return int(QDialog::Rejected);
        };
        ShowAccountsDialog(nullptr);
        QCOMPARE(listed, QStringLiteral("Work"));
    }

    // A renamed account keeps the name it had for the messages queued under it.
    void accountsDialogRenameKeepsTheFormerName()
    {
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Authd", "smtp://127.0.0.1:1")}));
        scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [](QDialog* d) {
            auto* dlg = static_cast<AccountsDialog*>(d);
            dlg->txtName->setText(QStringLiteral("Temp"));
            dlg->Add_Click();   // a new account's names before the one it is saved with are no one's
            dlg->txtName->setText(QStringLiteral("Home"));
            dlg->txtAddress->setText(QStringLiteral("ann@home.example"));
            dlg->txtTransport->setText(QStringLiteral("sendmail -t"));
            dlg->SelectAccount(0);
            dlg->txtName->setText(QStringLiteral("Work"));
            return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        QCOMPARE(ShowAccountsDialog(nullptr), int(QDialog::Accepted));
        const QList<send::Account> saved = send::LoadAccounts();
        QCOMPARE(send::AccountNames(), QStringList({"Work", "Home"}));
        QCOMPARE(saved[0].formerNames, QStringList({"Authd"}));
        QVERIFY(saved[1].formerNames.isEmpty());
        QCOMPARE(send::FindAccount(saved, QStringLiteral("Authd"))->name, QStringLiteral("Work"));
        QVERIFY(!send::FindAccount(saved, QStringLiteral("Temp")));
    }

    // Former names are each account's own: only a name it was saved under, and one account's at
    // most. A message an older version queued under a name (by name alone) never goes through an
    // account that had that name only in the dialog, or took it after another account had it.
    void accountsDialogFormerNamesAreEachAccountsOwn()
    {
        AioSmtpServer server;
        QVERIFY(server.ok());
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        const auto session = [](const std::function<void(AccountsDialog*)>& edit) {
            scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [edit](QDialog* d) {
                auto* dlg = static_cast<AccountsDialog*>(d);
                edit(dlg);
                return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
            };
            QCOMPARE(ShowAccountsDialog(nullptr), int(QDialog::Accepted));
        };
        const auto newAccount = [&server](AccountsDialog* dlg, const QString& name) {
            dlg->Add_Click();
            dlg->txtName->setText(name);
            dlg->txtAddress->setText(QStringLiteral("ann@home.example"));
            dlg->txtTransport->setText(server.url());
        };
        // Work becomes Office; a new account is Work for a while, then Home, in the same dialog.
        session([&](AccountsDialog* dlg) {
            dlg->txtName->setText(QStringLiteral("Office"));
            newAccount(dlg, QStringLiteral("Work"));
            dlg->SelectAccount(0);
            dlg->SelectAccount(1);
            dlg->txtName->setText(QStringLiteral("Home"));
        });
        // A new account saved as Work, then renamed: Office had that name first.
        session([&](AccountsDialog* dlg) { newAccount(dlg, QStringLiteral("Work")); });
        session([](AccountsDialog* dlg) {
            dlg->SelectAccount(2);
            dlg->txtName->setText(QStringLiteral("Spare"));
        });
        QList<QStringList> formerNames;
        for (const send::Account& a : send::LoadAccounts())
            formerNames << QStringList(a.name) + a.formerNames;
        QCOMPARE(formerNames, QList<QStringList>({{"Office", "Work"}, {"Home"}, {"Spare"}}));

        // Office goes: its messages wait for the user, through no other account.
        session([](AccountsDialog* dlg) {
            dlg->SelectAccount(0);
            dlg->Remove_Click();
        });
        QByteArray old = sendtest::message("bob@example.net", "X-Ferrowyn-Account: Work\n");
        old.replace("ann@example.org", "work@example.org");
        const QString file = send::QueueMessage(ui::DataPath(QStringLiteral("Mail/Outbox")), old);
        QVERIFY(!file.isEmpty());
        app->spooler()->setPaused(false);
        app->spooler()->deliver();
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.transactions().size(), 0);
        const send::QueueStatus st = sendtest::queued(ui::DataPath(QStringLiteral("Mail/Outbox")), file);
        QCOMPARE(st.state, send::QueueState::Waiting);
        QCOMPARE(st.answer, QStringLiteral("There is no mail account \"Work\" any more."));
    }

    // A message that may have been delivered through an account since removed: what Send Again
    // does is told with the outcome, before the transport's own words, which end the text.
    void theAccountGoneIsToldBeforeTheDetails()
    {
        SmtpTestServer gone;
        gone.dropConnection("Dropped", SmtpTestServer::Drop::AfterData, 1);
        AioSmtpServer fallback;
        QVERIFY(fallback.ok());
        MailItemPtr maybe = leftByAGoneAccount(gone.url(), fallback.url(), QStringLiteral("Dropped"), send::QueueState::MaybeDelivered);
        QVERIFY(maybe);
        QVERIFY(maybe->SendingStatus().answer.contains(QStringLiteral("\nDetails: ")));

        maybe->Display();
        auto* w = qobject_cast<MessageWindow*>(WindowOf(*maybe->GetInspector()));
        QVERIFY(w);
        const QString text = w->lblSending->text();
        const qsizetype details = text.indexOf(QStringLiteral("\nDetails: "));
        QVERIFY2(details > 0 && !text.mid(details + 1).contains(QLatin1Char('\n')), qPrintable(text));
        QVERIFY2(text.left(details).endsWith(QStringLiteral("It will then be sent from work@example.org instead of ann@authd.example.")),
                 qPrintable(text));
        w->close();
    }

    // A refused message whose account is gone: its window says what Send Again does, from which
    // address; after it, the window shows the sender the message now goes from, the user is told
    // so, and the default account's server gets it from that address.
    void sendAgainThroughTheDefaultAccountShowsTheNewSender()
    {
        AioSmtpServer gone({"--refuse", "bob@example.net"}), fallback;
        QVERIFY(gone.ok() && fallback.ok());
        MailItemPtr refused = leftByAGoneAccount(gone.url(), fallback.url(), QStringLiteral("Refused"), send::QueueState::Refused);
        QVERIFY(refused);

        refused->Display();
        auto* w = qobject_cast<MessageWindow*>(WindowOf(*refused->GetInspector()));
        QVERIFY(w);
        QVERIFY2(w->lblSending->text().endsWith(QStringLiteral(
                     "\nThere is no mail account \"Authd\" any more. It waits for you: to send it through \"Work\", your default "
                     "account, open it in the Outbox and choose Send Again (or Edit, then Send). It will then be sent from "
                     "work@example.org instead of ann@authd.example.")),
                 qPrintable(w->lblSending->text()));
        QVERIFY(w->lblFrom->text().contains(QStringLiteral("ann@authd.example")));

        QVERIFY(w->SendAgain_Click());
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("This message now goes through \"Work\", your default account, and is sent "
                                                         "from work@example.org instead of ann@authd.example."));
        QCOMPARE(w->lblFrom->text(), QStringLiteral("Work <work@example.org>"));
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(fallback.transactions().size(), 1);
        QCOMPARE(fallback.transactions()[0].sender, QStringLiteral("work@example.org"));
        QCOMPARE(fallback.transactions()[0].accepted, QStringList{"bob@example.net"});
        QVERIFY(fallback.transactions()[0].from.contains(QStringLiteral("work@example.org")));
        QCOMPARE(gone.transactions().size(), 1);
        w->close();
    }

    // A refused login waits on the account: its window says so, and saving the account again
    // sends it at once.
    void aRefusedLoginGoesOnceTheAccountIsSaved()
    {
        SmtpTestServer server;
        server.requireAuth("work", "right");
        send::Account a = sendtest::smtpAccount("Work", server.url());
        a.user = QStringLiteral("work");
        a.password = QStringLiteral("wrong");
        QVERIFY(send::SaveAccounts({a}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Login"));
        mi->Send();
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        {
            MessageWindow w(waiting);
            const QString text = w.lblSending->text();
            QVERIFY2(text.startsWith(QStringLiteral("This message was not sent: Could not log in to \"Work\" (535 5.7.8 "
                                                    "Authentication credentials invalid): check the user name and password "
                                                    "in Setup > Mail Accounts.\nIt will be tried again at ")),
                     qPrintable(text));
        }
        scripted().dialogHandlers[QStringLiteral("mail::AccountsDialog")] = [](QDialog* d) {
            auto* dlg = static_cast<AccountsDialog*>(d);
            dlg->txtPassword->setText(QStringLiteral("right"));
            return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        QCOMPARE(ShowAccountsDialog(nullptr), int(QDialog::Accepted));
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 1, 10000);
    }

    // Quitting while a message is being sent asks: Cancel stays, Yes waits for the transfer to
    // end (no other message starts), No quits at once.
    void quittingWhileSendingAsks()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Held", "HOLD", 1);
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        for (const QString& subject : {QStringLiteral("Held"), QStringLiteral("Next")}) {
            MailItemPtr mi = app->CreateItem(olMailItem);
            mi->SetTo(QStringLiteral("bob@example.net"));
            mi->SetSubject(subject);
            mi->Send();
        }
        QVERIFY(app->MayQuit());    // nothing is being sent: nothing to ask
        QCOMPARE(scripted().boxes.size(), 0);
        app->spooler()->setPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 20000);

        scripted().boxAnswers.enqueue(ui::vbCancel);
        QVERIFY(!app->MayQuit());
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("A message is being sent at this moment.")));
        // No's words cover both ends of a break-off: before all of the text went, and after.
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("before all of it had gone stays in the Outbox and is sent when you "
                                                                "next start the program")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("after all of it had gone, before the answer came, may have been "
                                                                "delivered: it waits in the Outbox")));
        scripted().boxAnswers.enqueue(ui::vbNo);
        QVERIFY(app->MayQuit());
        QCOMPARE(server.messageCount(), 0);
        scripted().boxAnswers.enqueue(ui::vbYes);
        QTimer::singleShot(300, [&server] { server.releaseHeld(); });
        QVERIFY(app->MayQuit());
        QCOMPARE(server.messageCount(), 1);
        QCOMPARE(scripted().boxes.size(), 3);
        QTest::qWait(200);
        QCOMPARE(server.dataSeen(), 1);    // the next one waits for the next start
    }

    // Once quitting is decided no transfer starts, so none is broken off unasked; Cancel lets
    // sending go on.
    void nothingStartsOnceQuittingIsDecided()
    {
        SmtpTestServer server;
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        app->spooler()->setPaused(false);
        QVERIFY(app->MayQuit());
        QCOMPARE(scripted().boxes.size(), 0);
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Late"));
        mi->Send();
        QTest::qWait(500);
        QCOMPARE(server.connections(), 0);

        // Asked while a transfer goes, Cancel: the rest is sent as before.
        app->spooler()->setPaused(false);
        server.refuseMessage("Subject: Held", "HOLD", 1);
        MailItemPtr held = app->CreateItem(olMailItem);
        held->SetTo(QStringLiteral("bob@example.net"));
        held->SetSubject(QStringLiteral("Held"));
        held->Send();
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 2, 20000);
        scripted().boxAnswers.enqueue(ui::vbCancel);
        QVERIFY(!app->MayQuit());
        QVERIFY(!app->spooler()->isPaused());
        server.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 2, 20000);
    }

    void optionsDialogListsStores()
    {
        const QString archive = testsupport::TestHome::path() + QStringLiteral("/archive");
        QDir().mkpath(archive + QStringLiteral("/cur"));
        QDir().mkpath(archive + QStringLiteral("/new"));
        QDir().mkpath(archive + QStringLiteral("/tmp"));
        scripted().dialogHandlers[QStringLiteral("mail::OptionsDialog")] = [&](QDialog* d) {
            auto* dlg = static_cast<OptionsDialog*>(d);
            dlg->txtStoreName->setText(QStringLiteral("Archive"));
            dlg->txtStorePath->setText(QStringLiteral("/no/such/folder"));
            if (dlg->Add_Click())
                return int(QDialog::Rejected);
            dlg->txtStorePath->setText(archive);
            if (!dlg->Add_Click())
                return int(QDialog::Rejected);
            dlg->txtStoreName->setText(QStringLiteral("archive"));  // a name in use
            if (dlg->Add_Click())
                return int(QDialog::Rejected);
            return dlg->OK_Click() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        QCOMPARE(ShowOptionsDialog(nullptr), int(QDialog::Accepted));
        QCOMPARE(scripted().boxes.size(), 2);

        Application next;
        FoldersPtr stores = next.GetNamespace(QStringLiteral("MAPI"))->Folders();
        QCOMPARE(stores->Count(), 2);
        QCOMPARE(stores->Item(2)->Name(), QStringLiteral("Archive"));
    }

    // A message waiting in the Outbox: its window tells where it stands and offers Send Again,
    // Edit and Delete; none of them acts while its transfer is under way.
    void outboxMessageWindowWhileItIsBeingSent()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Held", "HOLD", 1);
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Held"));
        mi->Send();
        app->spooler()->setPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 20000);

        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        MessageWindow w(waiting);
        QCOMPARE(w.lblSending->text(), QStringLiteral("This message is being sent at this moment."));
        QVERIFY(!w.cmdSendAgain->isEnabled() && !w.cmdEdit->isEnabled() && !w.cmdDelete->isEnabled());
        const QString busy = QStringLiteral("The message is being sent at this moment. Try again when this attempt has ended.");
        QVERIFY(!w.Edit_Click());
        QCOMPARE(scripted().lastPrompt(), busy);
        QVERIFY(!w.Delete_Click());
        QCOMPARE(scripted().lastPrompt(), busy);
        waiting->SetSubject(QStringLiteral("Changed"));
        QVERIFY_THROWS_EXCEPTION(MailError, waiting->Send());
        QVERIFY_THROWS_EXCEPTION(MailError, waiting->Save());

        server.releaseHeld();
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(server.messages()[0].data.contains("Subject: Held"));
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderSentMail), 1);
        w.ShowSendingStatus();
        QCOMPARE(w.lblSending->text(), QStringLiteral("This message is no longer in the Outbox."));
    }

    // Edit takes a waiting message into the compose window, whose Send replaces it in the queue:
    // only the edited message goes.
    void editingAWaitingMessageReplacesIt()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: First", "554 5.7.1 Rejected", 1);
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("First"));
        mi->Send();
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 1);

        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        auto* w = new MessageWindow(waiting);
        w->setAttribute(Qt::WA_DeleteOnClose);
        // As the program does: a message window that loses activation is closed.
        QObject guard;
        connect(waiting->GetInspector().get(), &Inspector::Deactivate, &guard, [waiting] { waiting->GetInspector()->Close(olDiscard); });
        w->show();
        activate(w);
        QCOMPARE(w->lblSending->text(), QStringLiteral("This message was not sent: 554 5.7.1 Rejected\n"
                                                        "It will not be tried again unless you send it again."));
        QVERIFY(w->cmdSendAgain->isEnabled() && w->cmdEdit->isEnabled() && w->cmdDelete->isEnabled());
        QVERIFY(w->Edit_Click());
        auto* compose = qobject_cast<ComposeWindow*>(WindowOf(*waiting->GetInspector()));
        QVERIFY(compose);
        activate(compose);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(compose->isVisible());    // the message window going does not take it along
        QCOMPARE(waiting->SendingStatus().held, true);
        app->spooler()->deliver(true);    // held: not tried while the user edits it
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 1);
        compose->txtSubject->clear();
        QTest::keyClicks(compose->txtSubject, QStringLiteral("Second"));
        QVERIFY(compose->Send_Click());
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(server.messages()[0].data.contains("Subject: Second"));
        QCOMPARE(count(olFolderOutbox), 0);
    }

    // A message the server took for one recipient, refused for good for another and deferred
    // for the third: its window tells each; sent again, who has it already and who still waits.
    void outboxMessageWindowTellsEachRecipient()
    {
        SmtpTestServer server;
        server.refuseRecipient("gone@example.net", "550 5.1.1 No such user");
        server.refuseRecipient("grey3@example.net", "450 4.7.1 Greylisted, try again later");
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("alice@example.net; gone@example.net"));
        mi->SetBCC(QStringLiteral("grey3@example.net"));
        mi->SetSubject(QStringLiteral("Partly"));
        mi->Send();
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        app->spooler()->setPaused(true);
        QCOMPARE(server.messageCount(), 1);

        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        const QDateTime next = waiting->SendingStatus().nextTry;
        QVERIFY(next.isValid());
        MessageWindow w(waiting);
        const QString sent = QStringLiteral("Sent to alice@example.net. It will not be sent to that address again.");
        QCOMPARE(w.lblSending->text().split(QLatin1Char('\n')),
                 (QStringList{sent,
                              "The server refused gone@example.net for good: 550 5.1.1 No such user. It will not be sent to that "
                              "address unless you send it again.",
                              "The server refused grey3@example.net for now: 450 4.7.1 Greylisted, try again later. It will be "
                              "tried again for that address at " + send::WhenText(next) + "."}));
        QVERIFY(w.cmdSendAgain->isEnabled() && w.cmdEdit->isEnabled());
        w.show();
        testsupport::SaveShot(&w, QStringLiteral("outbox-partly-delivered"));

        QVERIFY(w.SendAgain_Click());
        QCOMPARE(w.lblSending->text().split(QLatin1Char('\n')),
                 (QStringList{sent, "It waits in the Outbox to be sent to gone@example.net and grey3@example.net."}));
    }

    // A bulk message whose recipients fared every way, the server answering each in its own
    // words: its window says it in a few lines, naming a few recipients of each outcome.
    void outboxMessageWindowWithManyRecipients()
    {
        const QDateTime next = QDateTime::currentDateTime().addSecs(3600);
        QStringList to;
        QList<send::RecipientStatus> known;
        for (int i = 0; i < 5000; ++i) {
            const QString a = QStringLiteral("r%1@example.net").arg(i);
            to << a;
            if (i % 4 == 0)
                known.append({a, send::RecipientState::Accepted, {}, {}});
            else if (i % 4 == 1)
                known.append({a, send::RecipientState::Refused, {}, QStringLiteral("550 5.1.1 <%1>: No such user").arg(a)});
            else if (i % 4 == 2)
                known.append({a, send::RecipientState::Deferred, next, QStringLiteral("450 4.7.1 Greylisted")});
        }
        const QString outbox = ns->GetDefaultFolder(olFolderOutbox)->Path();
        const QString path = send::QueueMessage(outbox, sendtest::message(to.join(QStringLiteral(", ")).toUtf8()));
        QVERIFY(!path.isEmpty());
        QVERIFY(send::OutboxQueue::Of(outbox)->settle(send::MaildirUniquePart(path), {send::QueueState::Waiting, true, next, {}, known, {}}));

        MessageWindow w(AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1)));
        const QStringList lines = w.lblSending->text().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() <= 10, qPrintable(QString::number(lines.size())));
        QCOMPARE(lines.first(), QStringLiteral("Sent to r0@example.net, r4@example.net, r8@example.net and 1247 others. It will not be "
                                               "sent to those addresses again."));
        QVERIFY(lines.contains("The server refused r2@example.net, r6@example.net, r10@example.net and 1247 others for now: 450 4.7.1 "
                               "Greylisted. It will be tried again for those addresses at " + send::WhenText(next) + "."));
        QVERIFY(lines.contains(QStringLiteral("It waits in the Outbox to be sent to r3@example.net, r7@example.net, r11@example.net and "
                                              "1247 others.")));
        QVERIFY(lines.contains(QStringLiteral("The server refused r1@example.net for good: 550 5.1.1 <r1@example.net>: No such user. It "
                                              "will not be sent to that address unless you send it again.")));
        QVERIFY2(lines.last().endsWith(QStringLiteral(" more recipients with other answers.")), qPrintable(lines.last()));
        w.show();
        // The To line ends at the window's edge rather than widening it past the screen.
        QCOMPARE(w.width(), 640);
        QVERIFY(w.lblSending->height() < w.height() / 2);
        testsupport::SaveShot(&w, QStringLiteral("outbox-many-recipients"));
    }

    // Send Again puts a refused message back in the queue; Delete takes it out.
    void sendAgainAndDeleteFromTheWindow()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: One", "554 5.7.1 Rejected", 1);
        server.refuseMessage("Subject: Two", "554 5.7.1 Rejected");
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        for (const char* subject : {"One", "Two"}) {
            MailItemPtr mi = app->CreateItem(olMailItem);
            mi->SetTo(QStringLiteral("bob@example.net"));
            mi->SetSubject(QString::fromLatin1(subject));
            mi->Send();
        }
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        ItemsPtr items = ns->GetDefaultFolder(olFolderOutbox)->Items();
        QCOMPARE(items->Count(), 2);
        MessageWindow one(AsMailItem(items->Item(1)));
        QVERIFY(one.SendAgain_Click());
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 1);
        MessageWindow two(AsMailItem(items->Item(2)));
        QVERIFY(two.Delete_Click());
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderDeletedItems), 1);
        app->spooler()->deliver(true);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 3);    // Two was tried once only
    }

    // Sent again and refused again in the same words: the open window tells the new answer with
    // its time, so the user sees that it was tried.
    void sendAgainShowsTheNewAnswerAndItsTime()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Refused", "554 5.7.1 Rejected");
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Refused"));
        mi->Send();
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        MessageWindow w(AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1)));
        const QString before = w.lblSending->text();
        QVERIFY(before.startsWith(QStringLiteral("This message was not sent: 554 5.7.1 Rejected\n")));

        const QTime from = QTime::currentTime().addSecs(-1);
        QVERIFY(w.SendAgain_Click());
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(w.lblSending->text() != before && w.lblSending->text().startsWith(before.section('\n', 0, 0)), 5000);
        const QString text = w.lblSending->text();
        const qsizetype at = text.indexOf(QStringLiteral("That answer came at "));
        QVERIFY2(at > 0, qPrintable(text));
        const QTime when = QTime::fromString(text.mid(at + 20, 8), QStringLiteral("HH:mm:ss"));
        QVERIFY2(when.isValid() && when >= from && when <= QTime::currentTime(), qPrintable(text));
        QVERIFY(w.cmdSendAgain->isEnabled());
    }

    // Enter in the message window of a waiting message presses none of its buttons.
    void enterInTheMessageWindowPressesNothing()
    {
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", QStringLiteral("smtp://127.0.0.1:1"))}));
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Waiting"));
        mi->Send();
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        waiting->Display();
        QPointer<QWidget> w = WindowOf(*waiting->GetInspector());
        auto* message = qobject_cast<MessageWindow*>(w.data());
        QVERIFY(message && message->txtBody);
        activate(w);
        QVERIFY(message->cmdSendAgain->isEnabled() && message->cmdDelete->isEnabled());
        QList<std::shared_ptr<QSignalSpy>> pressed;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            pressed << std::make_shared<QSignalSpy>(b, &QPushButton::clicked);
        message->txtBody->setFocus();
        QTest::keyClick(message->txtBody, Qt::Key_Return);
        QTest::keyClick(message->txtBody, Qt::Key_Enter, Qt::KeypadModifier);
        for (const auto& spy : pressed)
            QCOMPARE(spy->count(), 0);
        QVERIFY(w && w->isVisible());
        QCOMPARE(count(olFolderOutbox), 1);
        QCOMPARE(count(olFolderDeletedItems), 0);
    }

    // A file put in the Outbox by other means is listed, never sent, and says so.
    void foreignFileInTheOutboxIsNeverSent()
    {
        SmtpTestServer server;
        QVERIFY(send::SaveAccounts({sendtest::smtpAccount("Work", server.url())}));
        app->spooler()->setPaused(false);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        const QString outbox = ns->GetDefaultFolder(olFolderOutbox)->Path();
        QVERIFY(!send::WriteToMaildir(outbox, sendtest::message("stranger@example.net"), send::MaildirSub::Cur, "S").isEmpty());
        app->spooler()->deliver(true);
        QVERIFY(app->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.connections(), 0);
        QCOMPARE(count(olFolderOutbox), 1);
        MessageWindow w(AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1)));
        QVERIFY(w.lblSending->text().startsWith(QStringLiteral("This message was put in the Outbox by other means and will not be sent.")));
        QVERIFY(!w.cmdSendAgain->isEnabled());
    }
};

FERROWYN_TEST_MAIN(TestMailWindows)
#include "tst_MailWindows.moc"

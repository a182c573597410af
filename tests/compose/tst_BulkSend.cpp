#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <csignal>
#include <sys/resource.h>

#include "compose/Form20.h"
#include "compose/Form24.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Spooler.h"
#include "tests/compose/ComposeTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"

using namespace composetest;

class TestBulkSend : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    std::unique_ptr<SmtpTestServer> server;

    qint64 recIdOf(const QString& email) { return f->ex->Value(rowOf(f, email), 4).toLongLong(); }

private Q_SLOTS:
    void initTestCase()
    {
        server = std::make_unique<SmtpTestServer>();
        f = start([this](const QString&) {
            mail::send::Account a;
            a.name = QStringLiteral("Work");
            a.displayName = QStringLiteral("Bulk Sender");
            a.address = QStringLiteral("sender@example.org");
            a.transport = server->url();
            a.isDefault = true;
            QVERIFY(mail::send::SaveAccounts({a}));
        });
        QVERIFY(f);
        sql("INSERT INTO Config (combo0, chk0) VALUES ('Region', 'Member')");
        sql("INSERT INTO MasterList (Email, First, Middle, Last, Company, Address1, City, State, Zip, Website, Phone1, combo0, chk0, SortName) "
            "VALUES ('ann@example.org', 'Ann', '', 'Lee', 'AT&T <b>', '1 Main St', 'Springfield', 'IL', '62701', 'www.example.org', '555-1', 'North', -1, 'Lee Ann')");
        sql("INSERT INTO MasterList (Email, First, Company, SortName) VALUES ('bo@example.org', 'Bo', '<%$FIRST> & <%$COMPANY>', 'Bo')");
        sql("INSERT INTO MasterList (Email, First, SortName) VALUES ('cy@example.org', 'Cy', 'Cy')");
        sql("INSERT INTO MasterList (Email, First, SortName) VALUES ('dee@example.org', 'Dee', 'Dee')");
        sql("INSERT INTO MasterList (Email, First, SortName) VALUES ('not an address', 'Bad', 'Bad')");
        showMasterList(f);
        QCOMPARE(f->ex->UpperBound(1), 5);
    }
    void cleanupTestCase()
    {
        end();
        server.reset();
    }
    void init() { scripted().clear(); }

    void merge_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("templ");
        QTest::addColumn<QString>("expected");
        const QString ann = QStringLiteral("ann@example.org");
        QTest::newRow("standard tokens") << ann << 0
                                         << "<%$FIRST>|<%$LAST>|<%$COMPANY>|<%$ADDRESS1>|<%$CITY>|<%$STATE>|<%$ZIP>|<%WEBSITE>|<%$EMAIL>|<%$PHONE1>"
                                         << "Ann|Lee|AT&T <b>|1 Main St|Springfield|IL|62701|www.example.org|ann@example.org|555-1";
        QTest::newRow("custom fields by caption") << ann << 0 << "<%REGION>/<%member>" << "North/CHECKED";
        QTest::newRow("formatted") << ann << 0 << "<%$FORMATTED_NAME>|<%$FORMATTED_CSZ>" << "Ann Lee|Springfield IL 62701";
        QTest::newRow("name in any case") << ann << 0 << "Dear <%$first>, <%$First>" << "Dear Ann, Ann";
        QTest::newRow("unknown names vanish") << ann << 0 << "a<%NOPE>b<% $FIRST>c<%>d" << "abcd";
        QTest::newRow("unclosed tag left as written") << ann << 0 << "Hi <%$FIRST>, <%$LAST and more" << "Hi Ann, <%$LAST and more";
        QTest::newRow("lone opener at the end") << ann << 0 << "x<%" << "x<%";
        QTest::newRow("no tags") << ann << 0 << "plain > text % <" << "plain > text % <";
        QTest::newRow("value holding tags is not merged again") << "bo@example.org" << 0 << "[<%$COMPANY>] <%$FIRST>"
                                                                 << "[<%$FIRST> & <%$COMPANY>] Bo";
        QTest::newRow("html escapes values, not the template") << ann << 1 << "<p><%$COMPANY></p>" << "<p>AT&amp;T &lt;b&gt;</p>";
        QTest::newRow("html line breaks") << ann << 1 << "<%$FORMATTED_NAMEADDRESS>" << "Ann Lee<br>1 Main St<br>Springfield IL 62701";
        QTest::newRow("text keeps line breaks") << ann << 0 << "<%$FORMATTED_NAMEADDRESS>" << "Ann Lee\r\n1 Main St\r\nSpringfield IL 62701";
    }
    void merge()
    {
        QFETCH(QString, email);
        QFETCH(int, format);
        QFETCH(QString, templ);
        QFETCH(QString, expected);
        frmCompose c;
        c.SetMessageFormat(format);
        Form20 d(c);
        QCOMPARE(d.BuildMessage(recIdOf(email), templ), expected);
    }

    void mergeWithoutRow()
    {
        frmCompose c;
        Form20 d(c);
        QVERIFY_THROWS_EXCEPTION(std::exception, d.BuildMessage(99999, QStringLiteral("<%$FIRST>")));
        // Names that need no row still merge.
        QVERIFY(!d.BuildMessage(99999, QStringLiteral("<%$DATE>")).isEmpty());
    }

    void progressForEmptyList()
    {
        frmCompose c;
        Form20 d(c);
        d.SendMessages();
        QCOMPARE(d.ProgressBar1->minimum(), 0);
        QCOMPARE(d.ProgressBar1->maximum(), 1);
        QCOMPARE(d.ProgressBar1->value(), 1);
        QCOMPARE(d.SentCount, 0);
        QVERIFY(scripted().boxes.isEmpty());
    }

    void deliveredMessagesCarryTheMessageProperties_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("importance");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<QString>("bcc");
        QTest::addColumn<bool>("doNotSave");
        QTest::newRow("html high confidential receipt bcc, not saved") << 1 << 2 << 3 << true << "Boss <boss@example.org>" << true;
        QTest::newRow("text low personal, saved") << 0 << 0 << 1 << false << "" << false;
        QTest::newRow("text normal private, saved, bcc") << 0 << 1 << 2 << false << "audit@example.org" << false;
    }
    void deliveredMessagesCarryTheMessageProperties()
    {
        QFETCH(int, format);
        QFETCH(int, importance);
        QFETCH(int, sensitivity);
        QFETCH(bool, receipt);
        QFETCH(QString, bcc);
        QFETCH(bool, doNotSave);
        const mail::FolderPtr sent = MAPINameSpace->GetDefaultFolder(mail::olFolderSentMail);
        const int sentBefore = sent->Items()->Count();
        const int before = server->messageCount();
        select(f, {rowOf(f, QStringLiteral("ann@example.org")), rowOf(f, QStringLiteral("bo@example.org")),
                   rowOf(f, QStringLiteral("cy@example.org")), rowOf(f, QStringLiteral("dee@example.org"))});
        frmCompose c;
        c.txtSubject->setText(QStringLiteral("Props"));
        c.txtMsg->setPlainText(format == 1 ? QStringLiteral("<p>Dear <b><%$FIRST></b></p>") : QStringLiteral("Dear <%$FIRST>"));
        c.SetMessageFormat(format);
        c.mi->SetImportance(importance);
        c.mi->SetSensitivity(sensitivity);
        c.mi->SetReadReceiptRequested(receipt);
        c.txtBCC->setText(bcc);
        c.viewmReplyTo_Click();
        c.txtReplyTo->setText(QStringLiteral("r1@example.org; \"Desk, Two\" <r2@example.org>, r3@example.org"));
        c.ex->SetValue(2, 4, QStringLiteral("0"));  // Bo excluded
        c.SetSendToCount(3);

        scripted().dialogHandlers[QStringLiteral("Form24")] = [](QDialog* d) {
            static_cast<Form24*>(d)->Command1_Click();
            return 1;
        };
        QList<int> progress;
        int maximum = -1;
        scripted().dialogHandlers[QStringLiteral("Form20")] = [&](QDialog* d) {
            auto* s = static_cast<Form20*>(d);
            s->chkDoNotStoreToSentItems->setChecked(doNotSave);
            connect(s->ProgressBar1, &QProgressBar::valueChanged, s, [&, s](int v) {
                progress << v;
                maximum = s->ProgressBar1->maximum();
            });
            s->Command1_Click();
            return 1;
        };
        c.Toolbar1_ButtonClick(0);
        // The bar goes through every row, the excluded one included.
        QCOMPARE(maximum, 4);
        QCOMPARE(progress, (QList<int>{1, 2, 3, 4}));
        QVERIFY(scripted().boxes.isEmpty());
        QVERIFY(OutlookApp->spooler()->waitUntilIdle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), before + 3, 10000);

        QStringList to;
        const QList<SmtpTestServer::Message> messages = server->messages().mid(before);
        for (const SmtpTestServer::Message& m : messages) {
            const int split = int(m.data.indexOf("\r\n\r\n"));
            const mail::mime::HeaderSummary h = mail::mime::parseHeaders(m.data.left(split + 4));
            const mail::mime::Structure body = mail::mime::parseStructure(m.data);
            QCOMPARE(h.to.size(), 1);
            const QString address = h.to.first().address;
            to << address;
            const QString first = address == QStringLiteral("ann@example.org") ? "Ann" : address == QStringLiteral("cy@example.org") ? "Cy" : "Dee";
            QCOMPARE(h.subject, QStringLiteral("Props"));
            QCOMPARE(h.importance, importance);
            QCOMPARE(h.sensitivity, sensitivity);
            QCOMPARE(h.readReceipt, receipt);
            QStringList replyTo;
            for (const auto& a : h.replyTo) replyTo << a.address;
            QCOMPARE(replyTo, (QStringList{"r1@example.org", "r2@example.org", "r3@example.org"}));
            QCOMPARE(h.replyTo.at(1).name, QStringLiteral("Desk, Two"));
            // A blind copy goes to its address but never shows in the message.
            QVERIFY(h.bcc.isEmpty());
            QVERIFY(!m.data.contains("boss@") && !m.data.contains("audit@"));
            QStringList envelope;
            for (const QByteArray& r : m.recipients) envelope << QString::fromUtf8(r);
            QStringList expected{address};
            if (!bcc.isEmpty()) expected << bcc.section(QLatin1Char('<'), -1).remove(QLatin1Char('>'));
            envelope.sort();
            expected.sort();
            QCOMPARE(envelope, expected);
            if (format == 1) {
                QCOMPARE(body.html.trimmed(), QStringLiteral("<p>Dear <b>%1</b></p>").arg(first));
                QCOMPARE(body.body.trimmed(), QStringLiteral("Dear %1").arg(first));
            } else {
                QVERIFY(body.html.isEmpty());
                QCOMPARE(body.body.trimmed(), QStringLiteral("Dear %1").arg(first));
            }
            QVERIFY(!m.data.contains(mail::mime::kDeleteAfterSubmitHeader));
        }
        to.sort();
        QCOMPARE(to, (QStringList{"ann@example.org", "cy@example.org", "dee@example.org"}));
        // "Do Not Save To Sent Items": the delivered messages leave no copy; cleared, each is filed.
        QTRY_COMPARE_WITH_TIMEOUT(sent->Items()->Count(), sentBefore + (doNotSave ? 0 : 3), 10000);
        QCOMPARE(MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox)->Items()->Count(), 0);
    }

    void endToEnd()
    {
        const QString dir = testsupport::TestHome::path();
        const QByteArray bytes("\x00\x01\x02terms\xff", 9);
        {
            QFile att(dir + "/terms.bin");
            QVERIFY(att.open(QIODevice::WriteOnly));
            att.write(bytes);
        }
        const QStringList order{QStringLiteral("ann@example.org"), QStringLiteral("bo@example.org"), QStringLiteral("not an address"),
                                QStringLiteral("cy@example.org"), QStringLiteral("dee@example.org")};
        QList<int> rows;
        for (const QString& e : order) rows << rowOf(f, e);
        select(f, rows);

        const int before = server->messageCount();
        frmCompose c;
        c.txtSubject->setText(QStringLiteral("News"));
        c.txtCC->setText(QStringLiteral("\"Office, Main\" <office@example.org>"));
        c.txtMsg->setPlainText(QStringLiteral("Dear <%$FIRST>,\nsee the terms."));
        c.viewmReplyTo_Click();
        c.txtReplyTo->setText(QStringLiteral("replies@example.org"));
        scripted().fileAnswers.enqueue(dir + "/terms.bin");
        c.editmInsertAttachment_Click();
        // The file changes after it was attached: every message still carries the bytes attached.
        {
            QFile att(dir + "/terms.bin");
            QVERIFY(att.open(QIODevice::WriteOnly));
            att.write("changed");
        }
        c.ex->SetValue(2, 4, QStringLiteral("0"));  // Bo excluded
        c.SetSendToCount(4);

        scripted().dialogHandlers[QStringLiteral("Form24")] = [](QDialog* d) {
            static_cast<Form24*>(d)->Command1_Click();
            return 1;
        };
        int sent = -1;
        scripted().dialogHandlers[QStringLiteral("Form20")] = [&](QDialog* d) {
            auto* s = static_cast<Form20*>(d);
            [&] { QVERIFY(s->chkDoNotStoreToSentItems->isChecked()); }();
            s->Command1_Click();
            sent = s->SentCount;
            return 1;
        };
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(sent, 3);
        QVERIFY(OutlookApp->spooler()->waitUntilIdle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), before + 3, 10000);

        QStringList to;
        for (const SmtpTestServer::Message& m : server->messages().mid(before)) {
            QStringList rcpt;
            for (const QByteArray& r : m.recipients) rcpt << QString::fromUtf8(r);
            QVERIFY2(rcpt.contains(QStringLiteral("office@example.org")), qPrintable(rcpt.join(',')));
            rcpt.removeAll(QStringLiteral("office@example.org"));
            QCOMPARE(rcpt.size(), 1);
            to << rcpt.first();
            const QString first = rcpt.first().section('@', 0, 0);
            const QByteArray expectedFirst = first == QStringLiteral("ann") ? "Ann" : first == QStringLiteral("cy") ? "Cy" : "Dee";
            QVERIFY2(m.data.contains("Dear " + expectedFirst + ","), m.data.constData());
            QVERIFY(m.data.contains("Subject: News"));
            QVERIFY(m.data.contains("replies@example.org"));
            QVERIFY(m.data.contains("terms.bin"));
            QVERIFY(m.data.contains(bytes.toBase64()));
            QVERIFY(m.data.contains("sender@example.org"));
        }
        to.sort();
        QCOMPARE(to, (QStringList{QStringLiteral("ann@example.org"), QStringLiteral("cy@example.org"), QStringLiteral("dee@example.org")}));

        // One closing message names the refused row.
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("1 of the recipients were skipped")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("not an address (row 3)")));

        // The composer is unchanged, so the message goes again; full success adds no message.
        QCOMPARE(c.ex->Value(2, 4).toString(), QStringLiteral("0"));
        QCOMPARE(c.mi->Subject(), QStringLiteral("News"));
        c.ex->SetValue(3, 4, QStringLiteral("0"));
        c.SetSendToCount(3);
        scripted().boxes.clear();
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(sent, 3);
        QVERIFY(OutlookApp->spooler()->waitUntilIdle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), before + 6, 10000);
        QVERIFY(scripted().boxes.isEmpty());
    }

    // A message that cannot be written (here: larger than the process may write) is reported
    // for its row; the rows before and after it are queued and counted, and the count is what
    // the Outbox holds.
    void writeFailurePartwayIsReported()
    {
        OutlookApp->spooler()->setPaused(true);
        sql(QStringLiteral("INSERT INTO MasterList (Email, First, Company, SortName) VALUES ('big@example.org', 'Big', '%1', 'Big')")
                .arg(QString(300 * 1024, QLatin1Char('x'))));
        showMasterList(f);
        select(f, {rowOf(f, QStringLiteral("ann@example.org")), rowOf(f, QStringLiteral("big@example.org")),
                   rowOf(f, QStringLiteral("cy@example.org")), rowOf(f, QStringLiteral("dee@example.org"))});
        const mail::FolderPtr outbox = MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox);
        const int before = outbox->Items()->Count();
        const int delivered = server->messageCount();

        frmCompose c;
        c.txtSubject->setText(QStringLiteral("Limits"));
        c.txtMsg->setPlainText(QStringLiteral("Dear <%$FIRST> of <%$COMPANY>"));
        scripted().dialogHandlers[QStringLiteral("Form24")] = [](QDialog* d) {
            static_cast<Form24*>(d)->Command1_Click();
            return 1;
        };
        int sent = -1;
        QList<Form20::SkippedRow> skipped;
        scripted().dialogHandlers[QStringLiteral("Form20")] = [&](QDialog* d) {
            auto* s = static_cast<Form20*>(d);
            rlimit saved{};
            ::getrlimit(RLIMIT_FSIZE, &saved);
            rlimit low = saved;
            low.rlim_cur = 200 * 1024;
            const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &low);
            s->Command1_Click();
            ::setrlimit(RLIMIT_FSIZE, &saved);
            ::signal(SIGXFSZ, oldHandler);
            sent = s->SentCount;
            skipped = s->SkippedRows;
            return 1;
        };
        c.Toolbar1_ButtonClick(0);

        QCOMPARE(sent, 3);
        QCOMPARE(outbox->Items()->Count(), before + 3);
        QCOMPARE(skipped.size(), 1);
        QCOMPARE(skipped.first().row, 2);
        QCOMPARE(skipped.first().address, QStringLiteral("big@example.org"));
        QVERIFY2(skipped.first().reason.startsWith(QStringLiteral("The message could not be put in the Outbox: ")), qPrintable(skipped.first().reason));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("1 of the recipients were skipped")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("big@example.org (row 2): The message could not be put in the Outbox")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("3 messages were queued for sending.")));
        // Nothing half-written is left behind.
        QVERIFY(QDir(OutlookApp->spooler()->outbox() + QStringLiteral("/tmp")).isEmpty());

        OutlookApp->spooler()->setPaused(false);
        QVERIFY(OutlookApp->spooler()->waitUntilIdle(30000));
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), delivered + 3, 10000);
        sql("DELETE FROM MasterList WHERE Email = 'big@example.org'");
        showMasterList(f);
    }

    // After Continue the composer says how many messages went to the Outbox and that another Send
    // queues them all again; the confirmation of that Send says so too, and No is its default.
    // File > New begins another message: nothing more is said.
    void theComposerTellsWhatItQueued()
    {
        OutlookApp->spooler()->setPaused(true);
        select(f, {rowOf(f, QStringLiteral("ann@example.org")), rowOf(f, QStringLiteral("cy@example.org")),
                   rowOf(f, QStringLiteral("dee@example.org"))});
        const mail::FolderPtr outbox = MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox);
        const int before = outbox->Items()->Count();
        frmCompose c;
        c.txtSubject->setText(QStringLiteral("Twice"));
        c.txtMsg->setPlainText(QStringLiteral("Dear <%$FIRST>"));
        QVERIFY(c.lblSendOutcome->text().isEmpty());

        QStringList warnings, questions;
        bool noIsDefault = false;
        int answer = 1;    // Yes
        scripted().dialogHandlers[QStringLiteral("Form24")] = [&](QDialog* d) {
            auto* confirm = static_cast<Form24*>(d);
            warnings << (confirm->lblAgain->isVisibleTo(confirm) ? confirm->lblAgain->text() : QString());
            questions << confirm->Label7->text();
            noIsDefault = confirm->Command2->isDefault() && !confirm->Command1->isDefault();
            answer == 1 ? confirm->Command1_Click() : confirm->Command2_Click();
            return 1;
        };
        scripted().dialogHandlers[QStringLiteral("Form20")] = [](QDialog* d) {
            static_cast<Form20*>(d)->Command1_Click();
            return 1;
        };
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(outbox->Items()->Count(), before + 3);
        QCOMPARE(warnings, QStringList{QString()});
        QVERIFY(!noIsDefault);
        const QString told = c.lblSendOutcome->text();
        QVERIFY2(told.startsWith(QStringLiteral("3 messages went to the Outbox at ")) && told.contains(QStringLiteral("Another Send")),
                 qPrintable(told));
        QVERIFY(c.lblSendOutcome->isVisibleTo(&c));

        answer = 0;    // No
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(outbox->Items()->Count(), before + 3);
        QCOMPARE(warnings.size(), 2);
        QVERIFY2(warnings[1].contains(QStringLiteral("already went to the Outbox")) && warnings[1].contains(QStringLiteral("all 3 recipients")),
                 qPrintable(warnings[1]));
        QVERIFY(noIsDefault);
        QCOMPARE(c.lblSendOutcome->text(), told);

        answer = 1;
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(outbox->Items()->Count(), before + 6);
        QVERIFY2(c.lblSendOutcome->text().startsWith(QStringLiteral("6 messages went to the Outbox in 2 sends, the last at ")),
                 qPrintable(c.lblSendOutcome->text()));

        c.filemNew_Click();
        QVERIFY(!c.lblSendOutcome->isVisibleTo(&c));
        c.txtMsg->setPlainText(QStringLiteral("Other"));
        answer = 0;
        c.Toolbar1_ButtonClick(0);
        QCOMPARE(warnings.last(), QString());
        QCOMPARE(questions, QStringList(4, QStringLiteral("Do You Wish To Continue?")));
        for (int i = outbox->Items()->Count(); i > before; --i) outbox->Items()->Item(i)->Delete();
        OutlookApp->spooler()->setPaused(false);
    }
};

FERROWYN_TEST_MAIN(TestBulkSend)
#include "tst_BulkSend.moc"

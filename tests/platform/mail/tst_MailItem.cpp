#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeUtil.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/MailTestUtil.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {
QDateTime utc(const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate); }
} // namespace

class TestMailItem : public QObject {
    Q_OBJECT
    std::shared_ptr<Application> app;
    NameSpacePtr ns;
    FolderPtr inbox;

    MailItemPtr item(const ItemsPtr& items, int i) { return AsMailItem(items->Item(i)); }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        Hooks() = MailHostHooks();
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
        inbox = ns->GetDefaultFolder(olFolderInbox);
        mailtest::copyTree(mailtest::fixture(QStringLiteral("inbox")), inbox->Path());
    }

    void cleanup()
    {
        ns.reset();
        app.reset();
        inbox.reset();
    }

    void listedMembers_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("cls");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("cc");
        QTest::addColumn<QString>("receivedBy");
        QTest::addColumn<int>("importance");
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<int>("attachments");
        QTest::addColumn<int>("editor");
        QTest::addColumn<QDateTime>("received");
        QTest::addColumn<QDateTime>("sent");
        QTest::addColumn<bool>("unread");
        // Rows come in delivery order: the newest Received header, not the Date header, decides.
        QTest::newRow("plain") << 1 << 43 << "Quarterly figures" << "Alice Archer" << "Bob Baker; carol@example.net" << "Dan Dyer" << "Bob Baker"
                               << 2 << 0 << true << 0 << 1 << utc("2023-11-14T22:13:20Z") << utc("2023-11-14T22:09:00Z") << false;
        QTest::newRow("html") << 2 << 43 << "Autumn offers" << "Newsletter" << "bob@example.net" << "" << "bob@example.net" << 0 << 3 << false << 0 << 2
                              << utc("2023-11-15T08:00:00Z") << utc("2023-11-15T07:59:00Z") << false;
        QTest::newRow("attachments") << 3 << 43 << "Report and notes" << "Carol Cook" << "Bob Baker" << "" << "Bob Baker" << 1 << 0 << false << 2 << 1
                                     << utc("2023-11-16T09:30:00Z") << utc("2023-11-16T09:29:00Z") << false;
        QTest::newRow("delivery report") << 4 << 46 << "Undelivered Mail Returned to Sender" << "Mail Delivery System" << "bob@example.net" << ""
                                         << "bob@example.net" << 1 << 0 << false << 1 << 1 << utc("2023-11-17T10:00:00Z") << utc("2023-11-17T10:00:00Z")
                                         << false;
        QTest::newRow("non-ascii, unread") << 5 << 43 << QStringLiteral("Grüße aus München — Übersicht") << QStringLiteral("Jörg Müller")
                                           << QStringLiteral("Böb Bäker") << "" << QStringLiteral("Böb Bäker") << 1 << 2 << false << 0 << 1
                                           << utc("2023-11-18T11:00:00Z") << utc("2023-11-18T09:58:00Z") << true;
    }

    void listedMembers()
    {
        QFETCH(int, row);
        const ItemsPtr items = inbox->Items();
        QCOMPARE(items->Count(), 5);
        QCOMPARE(items->Skipped(), 0);
        const MailItemPtr mi = item(items, row);
        QVERIFY(mi);
        QTEST(mi->Class(), "cls");
        QTEST(mi->Subject(), "subject");
        QTEST(mi->SenderName(), "sender");
        QTEST(mi->To(), "to");
        QTEST(mi->CC(), "cc");
        QTEST(mi->ReceivedByName(), "receivedBy");
        QTEST(mi->Importance(), "importance");
        QTEST(mi->Sensitivity(), "sensitivity");
        QTEST(mi->ReadReceiptRequested(), "receipt");
        QTEST(mi->Attachments().Count(), "attachments");
        QTEST(mi->GetInspector()->EditorType(), "editor");
        QTEST(mi->ReceivedTime().toUTC(), "received");
        QTEST(mi->SentOn().toUTC(), "sent");
        QTEST(mi->UnRead(), "unread");
        QCOMPARE(mi->Parent()->EntryID(), inbox->EntryID());
    }

    void bodiesAndCharsets()
    {
        const ItemsPtr items = inbox->Items();
        QVERIFY(item(items, 1)->Body().contains(QStringLiteral("the figures are attached to the next mail.")));
        QCOMPARE(item(items, 1)->HTMLBody(), QString());
        QCOMPARE(item(items, 2)->Body().trimmed(), QStringLiteral("Autumn offers: see the web page."));
        QVERIFY(item(items, 2)->HTMLBody().contains(QStringLiteral("Autumn <b>offers</b> &amp; more")));
        QCOMPARE(item(items, 5)->Body().trimmed(), QStringLiteral("Schöne Grüße"));

        // An HTML-only message still has a text Body.
        const QByteArray htmlOnly = "From: a@example.org\nSubject: h\nContent-Type: text/html; charset=utf-8\n\n"
                                    "<html><head><style>p{}</style></head><body><p>One &lt;two&gt;</p><p>Three&nbsp;&#169;</p>"
                                    "<script>alert(1)</script></body></html>\n";
        const MailItemPtr mi = inbox->AddMessageFile(htmlOnly);
        QCOMPARE(mi->Body(), QStringLiteral("One <two>\n\nThree\u00a0\u00a9"));
        QCOMPARE(mi->GetInspector()->EditorType(), int(olEditorHTML));
    }

    void htmlToTextTakesTimeInLineWithLength_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::newRow("unclosed script elements") << QStringLiteral("<script>x");
        QTest::newRow("unclosed comments") << QStringLiteral("<!--x");
        QTest::newRow("tags without an end") << QStringLiteral("<a x");
        QTest::newRow("line tags without an end") << QStringLiteral("<br ");
        QTest::newRow("blank runs") << QStringLiteral("      x\n");
    }
    void htmlToTextTakesTimeInLineWithLength()
    {
        QFETCH(QString, unit);
        QString html;
        while (html.size() < 360 * 1024)
            html += unit;
        QElapsedTimer t;
        t.start();
        const QString text = mime::htmlToText(html);
        // A scan that goes back over the text for every tag took many seconds here.
        QVERIFY2(t.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
        QVERIFY(!text.isEmpty());
    }

    void htmlToTextCases_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("elements dropped whole") << "a<SCRIPT type=x>b<p>c</script >d<style>e</STYLE>f<head><title>t</title></head>g" << "adfg";
        QTest::newRow("unclosed element stays") << "a<script>b" << "ab";
        QTest::newRow("header is no head") << "<header>a</header>b" << "ab";
        QTest::newRow("comments") << "a<!-- <p> -->b<!--c" << "ab<!--c";
        QTest::newRow("line tags") << "a<br>b< p class=x>c</h3>d<pre>e" << "a\nb\nc\nde";
        QTest::newRow("stray < before a line tag") << "a <<br>b" << "a <\nb";
        QTest::newRow("blank runs") << "a \t\r\n b<br><br><br><br>c" << "a b\n\nc";
        QTest::newRow("entities") << "&lt;b&gt; &amp;amp; &#65;&#x42;&#X43; &#0; &#12a; &bogus; &NBSP;." << "<b> &amp; ABC &#0; &#12a; &bogus; \u00a0.";
    }
    void htmlToTextCases()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(mime::htmlToText(html), text);
    }

    void manyAttachmentsReadFromOneParse()
    {
        constexpr int kParts = 600;
        QByteArray m = "From: a@example.org\nSubject: parts\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"xx\"\n\n"
                       "--xx\nContent-Type: text/plain\n\nSee the files.\n";
        for (int i = 0; i < kParts; ++i) {
            const QByteArray n = QByteArray::number(i);
            m += "--xx\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"f" + n
                 + ".bin\"\nContent-Transfer-Encoding: base64\n\n" + (QByteArray(300, 'z') + n).toBase64() + "\n";
        }
        m += "--xx--\n";
        inbox->AddMessageFile(m);
        const MailItemPtr mi = item(inbox->Items(), inbox->Items()->Count());
        QCOMPARE(mi->Attachments().Count(), kParts);
        QTemporaryDir dir;
        QElapsedTimer t;
        t.start();
        for (int i = 1; i <= kParts; ++i)
            mi->Attachments().Item(i)->SaveAsFile(dir.filePath(mi->Attachments().Item(i)->FileName()));
        // Parsing the whole message again for each attachment took tens of seconds here.
        QVERIFY2(t.elapsed() < 10000, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
        for (int i : {0, 1, 417, kParts - 1}) {
            QFile f(dir.filePath(QStringLiteral("f%1.bin").arg(i)));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray(300, 'z') + QByteArray::number(i));
        }
    }

    void addressLinesSplit_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("entries");  // name|address
        QTest::newRow("both separators") << "a@x.org; b@y.org , c@z.org" << QStringList{"|a@x.org", "|b@y.org", "|c@z.org"};
        QTest::newRow("separators inside quotes and brackets") << "\"Lee, Ann\" <ann@x.org>; <bo@y.org>"
                                                               << QStringList{"Lee, Ann|ann@x.org", "|bo@y.org"};
        QTest::newRow("escaped quote") << "\"Q \\\" , q\" <q@x.org>" << QStringList{"Q \" , q|q@x.org"};
        QTest::newRow("a name is kept as typed") << "x@y.org, Joe Smith ;" << QStringList{"|x@y.org", "|Joe Smith"};
        QTest::newRow("nothing") << " ; ,, " << QStringList{};
    }
    void addressLinesSplit()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, entries);
        QStringList got;
        for (const AddressEntry& a : SplitAddressLine(line))
            got << a.Name() + QLatin1Char('|') + a.Address();
        QCOMPARE(got, entries);
        // Copy lines keep every entry.
        const MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetCC(line);
        QCOMPARE(mi->Recipients().Count(), entries.size());
    }

    void replyAddressing()
    {
        const ItemsPtr items = inbox->Items();
        // Reply goes to Reply-To when there is one, else to From.
        const MailItemPtr r1 = item(items, 1)->Reply();
        QCOMPARE(r1->Recipients().Count(), 1);
        QCOMPARE(r1->Recipients().Item(1)->AddressEntry().Address(), QStringLiteral("alice@example.org"));
        QCOMPARE(r1->Recipients().Item(1)->Type(), int(olTo));
        QCOMPARE(r1->Subject(), QStringLiteral("RE: Quarterly figures"));
        QVERIFY(r1->EntryID().isEmpty());
        QVERIFY(!r1->Parent());
        QVERIFY(r1->Body().contains(QStringLiteral("> Hello Bob,")));
        const MailItemPtr r2 = item(items, 2)->Reply();
        QCOMPARE(r2->Recipients().Count(), 1);
        QCOMPARE(r2->Recipients().Item(1)->Address(), QStringLiteral("replies@shop.example"));
        QCOMPARE(item(items, 2)->ReplyRecipients().Item(1)->Address(), QStringLiteral("replies@shop.example"));
        // Sent-side reading: the first recipient of the message itself.
        QCOMPARE(item(items, 1)->Recipients().Item(1)->Address(), QStringLiteral("bob@example.net"));
        QCOMPARE(item(items, 1)->Recipients().Item(3)->Type(), int(olCC));
        QVERIFY_THROWS_EXCEPTION(MailError, item(items, 1)->Recipients().Item(4));

        // No From and no Reply-To: the reply has no recipient, so the caller falls back to SenderName.
        const MailItemPtr anon = inbox->AddMessageFile("Subject: anonymous\n\nbody\n");
        QCOMPARE(anon->Reply()->Recipients().Count(), 0);
        QCOMPARE(anon->SenderName(), QString());
    }

    void attachmentsSavedUnderSafeNames()
    {
        const MailItemPtr mi = item(inbox->Items(), 3);
        Attachments& atts = mi->Attachments();
        QCOMPARE(atts.Count(), 2);
        QCOMPARE(atts.Item(1)->FileName(), QStringLiteral("report.pdf"));
        // "../../.bashrc" in the message: no folders, not hidden.
        QCOMPARE(atts.Item(2)->FileName(), QStringLiteral("bashrc"));
        QTemporaryDir out;
        const QString path = out.path() + QStringLiteral("/~report.pdf");
        atts.Item(1)->SaveAsFile(path);
        QCOMPARE(mailtest::readAll(path), QByteArray::fromBase64("JVBERi0xLjQKJcOkw7zDtsOfCg=="));
        atts.Item(2)->SaveAsFile(out.path() + QStringLiteral("/n.txt"));
        QCOMPARE(mailtest::readAll(out.path() + QStringLiteral("/n.txt")), QByteArray("echo notes"));
        QVERIFY_THROWS_EXCEPTION(MailError, atts.Item(1)->SaveAsFile(out.path() + QStringLiteral("/no/such/dir/x")));
        QVERIFY_THROWS_EXCEPTION(MailError, atts.Item(3));

        // Forward carries the attachments and quotes the original.
        const MailItemPtr fw = mi->Forward();
        QCOMPARE(fw->Subject(), QStringLiteral("FW: Report and notes"));
        QCOMPARE(fw->Recipients().Count(), 0);
        QCOMPARE(fw->Attachments().Count(), 2);
        QCOMPARE(fw->Attachments().Item(1)->content(), QByteArray::fromBase64("JVBERi0xLjQKJcOkw7zDtsOfCg=="));
        QVERIFY(fw->Body().contains(QStringLiteral("Two files attached.")));
    }

    void malformedMessagesStillList()
    {
        const FolderPtr f = inbox->Folders()->Add(QStringLiteral("Broken"));
        mailtest::copyTree(mailtest::fixture(QStringLiteral("malformed")), f->Path());
        // A file whose reading fails, whoever runs the test: reading this address space at 0 gives EIO.
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), f->Path() + QStringLiteral("/cur/1700000199.unreadable:2,S")));
        const ItemsPtr items = f->Items();
        QCOMPARE(items->Count(), 5);
        QCOMPARE(items->Skipped(), 1);
        QHash<QString, MailItemPtr> byFile;
        for (int i = 1; i <= items->Count(); ++i) {
            const MailItemPtr mi = item(items, i);
            QCOMPARE(mi->Class(), int(olMail));
            QVERIFY(mi->ReceivedTime().isValid());
            byFile.insert(QFileInfo(mi->FilePath()).fileName().section(QLatin1Char('.'), 2, 2).section(QLatin1Char(':'), 0, 0), mi);
        }
        QCOMPARE(byFile.value(QStringLiteral("noheaders"))->Subject(), QString());
        QVERIFY(byFile.value(QStringLiteral("noheaders"))->Body().contains(QStringLiteral("just some text")));
        QCOMPARE(byFile.value(QStringLiteral("empty"))->Body(), QString());
        QCOMPARE(byFile.value(QStringLiteral("empty"))->Attachments().Count(), 0);
        const MailItemPtr cut = byFile.value(QStringLiteral("unterminated"));
        QCOMPARE(cut->Subject(), QStringLiteral("Cut off"));
        QCOMPARE(cut->Attachments().Count(), 1);
        QCOMPARE(cut->Attachments().Item(1)->FileName(), QStringLiteral("data.bin"));
        QCOMPARE(cut->Attachments().Item(1)->content(), QByteArray("\x00\x01\x02\x03\x04", 5));
        QCOMPARE(byFile.value(QStringLiteral("charset"))->Body().trimmed(), QStringLiteral("Café au lait"));
        const MailItemPtr raw = byFile.value(QStringLiteral("raw8bit"));
        QCOMPARE(raw->Subject(), QStringLiteral("Café crème"));
        QCOMPARE(raw->SenderName(), QStringLiteral("René Roux"));
        QVERIFY(!raw->SentOn().isValid());
    }

    void classesOfOtherItems_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("cls");
        QTest::newRow("calendar request") << QByteArray("Subject: Meet\nContent-Type: text/calendar; method=REQUEST\n\nBEGIN:VCALENDAR\nEND:VCALENDAR\n")
                                          << 53;
        QTest::newRow("calendar inside") << QByteArray("Subject: Meet\nContent-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
                                                       "--b\nContent-Type: text/calendar; method=request\n\nBEGIN:VCALENDAR\nEND:VCALENDAR\n--b--\n")
                                         << 53;
        QTest::newRow("calendar reply") << QByteArray("Subject: Re\nContent-Type: text/calendar; method=REPLY\n\nBEGIN:VCALENDAR\nEND:VCALENDAR\n") << 43;
        QTest::newRow("read report") << QByteArray("Subject: Read\nContent-Type: multipart/report; report-type=disposition-notification; boundary=b\n\n--b\n"
                                                   "Content-Type: text/plain\n\nread\n--b--\n")
                                     << 46;
    }

    void classesOfOtherItems()
    {
        QFETCH(QByteArray, message);
        QTEST(inbox->AddMessageFile(message)->Class(), "cls");
    }

    void savedMessageReadsBackThroughGMime()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/Preis liste.csv");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a;b\n1;2\n");
        f.close();

        const MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetSubject(QStringLiteral("Größen — 5 € offer"));
        mi->Recipients().Add(QStringLiteral("Zoë Zander <zoe@example.org>"));
        mi->Recipients().Add(QStringLiteral("yann@example.org"));
        mi->SetCC(QStringLiteral("Xavier <x@example.org>"));
        mi->SetBCC(QStringLiteral("hidden@example.org"));
        mi->ReplyRecipients().Add(QStringLiteral("replies@example.org"));
        mi->SetBody(QStringLiteral("Plain text\nline two"));
        mi->SetHTMLBody(QStringLiteral("<p>Plain <b>text</b></p>"));
        mi->SetImportance(olImportanceHigh);
        mi->SetSensitivity(olPrivate);
        mi->SetReadReceiptRequested(true);
        mi->SetDeleteAfterSubmit(true);
        mi->Attachments().Add(file, olByValue);
        QVERIFY_THROWS_EXCEPTION(MailError, mi->Attachments().Add(dir.path() + QStringLiteral("/missing.txt")));
        QVERIFY(mi->EntryID().isEmpty());
        mi->Save();
        QVERIFY(!mi->EntryID().isEmpty());
        QCOMPARE(mi->Parent()->EntryID(), ns->GetDefaultFolder(olFolderDrafts)->EntryID());
        QVERIFY(QFileInfo(mi->FilePath()).path().endsWith(QStringLiteral("/Drafts/cur")));

        // GMime alone reads what was written.
        const QByteArray bytes = mailtest::readAll(mi->FilePath());
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
        QVERIFY(msg);
        QCOMPARE(QString::fromUtf8(g_mime_message_get_subject(msg)), mi->Subject());
        auto list = [&](GMimeAddressType t) {
            char* s = internet_address_list_to_string(g_mime_message_get_addresses(msg, t), nullptr, FALSE);
            const QString out = QString::fromUtf8(s ? s : "");
            g_free(s);
            return out;
        };
        QCOMPARE(list(GMIME_ADDRESS_TYPE_TO), QStringLiteral("Zoë Zander <zoe@example.org>, yann@example.org"));
        QCOMPARE(list(GMIME_ADDRESS_TYPE_CC), QStringLiteral("Xavier <x@example.org>"));
        QCOMPARE(list(GMIME_ADDRESS_TYPE_BCC), QStringLiteral("hidden@example.org"));
        QCOMPARE(list(GMIME_ADDRESS_TYPE_REPLY_TO), QStringLiteral("replies@example.org"));
        GMimeObject* top = g_mime_message_get_mime_part(msg);
        QVERIFY(GMIME_IS_MULTIPART(top));
        GMimeObject* att = g_mime_multipart_get_part(GMIME_MULTIPART(top), 1);
        QCOMPARE(QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(att))), QStringLiteral("Preis liste.csv"));
        g_object_unref(msg);
        g_object_unref(parser);
        g_object_unref(stream);

        // And the store reads back every member.
        const MailItemPtr back = AsMailItem(ns->GetItemFromID(mi->EntryID()));
        QVERIFY(back);
        QCOMPARE(back->Subject(), mi->Subject());
        QCOMPARE(back->To(), QStringLiteral("Zoë Zander; yann@example.org"));
        QCOMPARE(back->CC(), QStringLiteral("Xavier"));
        QCOMPARE(back->BCC(), QStringLiteral("hidden@example.org"));
        QCOMPARE(back->Body(), QStringLiteral("Plain text\nline two"));
        QCOMPARE(back->HTMLBody(), QStringLiteral("<p>Plain <b>text</b></p>"));
        QCOMPARE(back->Importance(), int(olImportanceHigh));
        QCOMPARE(back->Sensitivity(), int(olPrivate));
        QVERIFY(back->ReadReceiptRequested());
        QVERIFY(back->DeleteAfterSubmit());
        QVERIFY(!back->UnRead());
        QCOMPARE(back->Attachments().Count(), 1);
        QCOMPARE(back->Attachments().Item(1)->content(), QByteArray("a;b\n1;2\n"));
        QCOMPARE(back->MimeContent(), bytes);
    }

    void changedReceivedMessageKeepsIdAndDelivery()
    {
        const MailItemPtr mi = item(inbox->Items(), 3);
        const QString id = mi->EntryID();
        const QDateTime received = mi->ReceivedTime();
        mi->SetSubject(QStringLiteral("Report and notes (filed)"));
        mi->Attachments().Remove(2);
        mi->Save();
        const MailItemPtr back = AsMailItem(ns->GetItemFromID(id));
        QCOMPARE(back->Subject(), QStringLiteral("Report and notes (filed)"));
        QCOMPARE(back->ReceivedTime(), received);
        QCOMPARE(back->SenderName(), QStringLiteral("Carol Cook"));
        QCOMPARE(back->Attachments().Count(), 1);
        QCOMPARE(back->Attachments().Item(1)->content(), QByteArray::fromBase64("JVBERi0xLjQKJcOkw7zDtsOfCg=="));
        QCOMPARE(inbox->Items()->Count(), 5);

        // Delivery headers stay as they were, folding included.
        const MailItemPtr first = item(inbox->Items(), 1);
        first->SetImportance(olImportanceNormal);
        first->Save();
        const QByteArray bytes = mailtest::readAll(first->FilePath());
        QVERIFY(bytes.startsWith("Return-Path: <alice@example.org>\nReceived: from mx.example.org (mx.example.org [192.0.2.1])\n"
                                 "\tby mail.example.net with ESMTP id 4F2A; Tue, 14 Nov 2023 22:13:20 +0000\nReceived: from laptop"));
        QVERIFY(!bytes.contains("X-Priority"));
        QCOMPARE(AsMailItem(ns->GetItemFromID(first->EntryID()))->Importance(), int(olImportanceNormal));
    }

    void copyMoveDelete()
    {
        const ItemsPtr items = inbox->Items();
        const MailItemPtr mi = item(items, 1);
        const QString id = mi->EntryID();
        const QByteArray bytes = mailtest::readAll(mi->FilePath());

        // Copy: same folder, same bytes, its own id.
        const MailItemPtr copy = mi->Copy();
        QVERIFY(copy->EntryID() != id);
        QCOMPARE(copy->Parent()->EntryID(), inbox->EntryID());
        QCOMPARE(mailtest::readAll(copy->FilePath()), bytes);
        QCOMPARE(inbox->Items()->Count(), 6);

        // Moving into the folder it is in does nothing.
        copy->Move(inbox);
        QCOMPARE(copy->Parent()->EntryID(), inbox->EntryID());

        const FolderPtr archive = inbox->Folders()->Add(QStringLiteral("Archive"));
        // A copy filed straight into another folder: same bytes and flags, nothing more in the
        // source; refused as a move is, leaving nothing behind.
        const MailItemPtr filed = mi->Copy(archive);
        QVERIFY(filed->EntryID() != id);
        QCOMPARE(filed->Parent()->EntryID(), archive->EntryID());
        QCOMPARE(mailtest::readAll(filed->FilePath()), bytes);
        QCOMPARE(filed->FilePath().section(QStringLiteral(":2,"), 1), mi->FilePath().section(QStringLiteral(":2,"), 1));
        QCOMPARE(inbox->Items()->Count(), 6);
        QVERIFY_THROWS_EXCEPTION(MailError, mi->Copy(ns->GetDefaultFolder(olFolderContacts)));
        QCOMPARE(inbox->Items()->Count(), 6);
        QCOMPARE(archive->Items()->Count(), 1);
        filed->Delete();
        filed->Delete();
        mi->Move(archive);
        QCOMPARE(mi->Parent()->EntryID(), archive->EntryID());
        QCOMPARE(mailtest::readAll(mi->FilePath()), bytes);
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetItemFromID(id));
        QCOMPARE(AsMailItem(ns->GetItemFromID(mi->EntryID()))->Subject(), QStringLiteral("Quarterly figures"));
        QVERIFY_THROWS_EXCEPTION(MailError, mi->Move(ns->GetDefaultFolder(olFolderContacts)));

        // Delete: into Deleted Items, and from there for good.
        const FolderPtr deleted = ns->GetDefaultFolder(olFolderDeletedItems);
        mi->Delete();
        QCOMPARE(mi->Parent()->EntryID(), deleted->EntryID());
        QCOMPARE(deleted->Items()->Count(), 1);
        const QString path = mi->FilePath();
        mi->Delete();
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!mi->Parent());
        QCOMPARE(deleted->Items()->Count(), 0);
        QCOMPARE(archive->Items()->Count(), 0);

        // An unsaved item moved into a folder is written there.
        const MailItemPtr fresh = app->CreateItem(olMailItem);
        fresh->SetSubject(QStringLiteral("fresh"));
        fresh->Move(archive);
        QCOMPARE(AsMailItem(archive->Items()->Item(1))->Subject(), QStringLiteral("fresh"));
    }

    // A listed folder answers from what it knows, but a file another program put there since
    // under the same name is never overwritten by a move.
    void moveNeverOverwritesAFileAddedMeanwhile()
    {
        const FolderPtr archive = inbox->Folders()->Add(QStringLiteral("Archive"));
        QCOMPARE(archive->Items()->Count(), 0);
        const MailItemPtr mi = item(inbox->Items(), 1);
        const QByteArray bytes = mailtest::readAll(mi->FilePath());
        const QString intruder = archive->Path() + QLatin1Char('/') + mi->FilePath().section(QLatin1Char('/'), -2);
        QVERIFY(QFile::copy(mi->FilePath(), intruder));
        QFile f(intruder);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("Subject: other\n\nother\n");
        f.close();

        mi->Move(archive);
        QVERIFY(mi->FilePath() != intruder);
        QCOMPARE(mailtest::readAll(mi->FilePath()), bytes);
        QCOMPARE(mailtest::readAll(intruder), QByteArray("Subject: other\n\nother\n"));
        QCOMPARE(archive->Items()->Count(), 2);
    }

    void unreadFlagKeepsId()
    {
        const MailItemPtr mi = item(inbox->Items(), 5);
        const QString id = mi->EntryID();
        QVERIFY(mi->UnRead());
        mi->SetUnRead(false);
        QVERIFY(!mi->UnRead());
        QCOMPARE(mi->EntryID(), id);
        QVERIFY(mi->FilePath().endsWith(QStringLiteral("/cur/1700000005.M5P1.fixture:2,S")));
        QVERIFY(!AsMailItem(ns->GetItemFromID(id.toLower()))->UnRead());
        mi->SetUnRead(true);
        QVERIFY(mi->FilePath().endsWith(QStringLiteral(":2,")));
        QCOMPARE(AsMailItem(ns->GetItemFromID(id))->Subject(), mi->Subject());
    }

    void flagsInNewDecideUnread_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unread");
        QTest::newRow("no flags") << "1700000006.M6P1.other" << true;
        QTest::newRow("seen") << "1700000006.M6P1.other:2,S" << false;
        QTest::newRow("seen and replied") << "1700000006.M6P1.other:2,RS" << false;
        QTest::newRow("flagged only") << "1700000006.M6P1.other:2,F" << true;
    }
    void flagsInNewDecideUnread()
    {
        // Another mail program may leave a message it has shown in new/ with its S flag.
        QFETCH(QString, name);
        QVERIFY(QFile::copy(inbox->Path() + "/new/1700000005.M5P1.fixture", inbox->Path() + "/new/" + name));
        const ItemsPtr items = inbox->Items();
        QCOMPARE(items->Count(), 6);
        int found = 0;
        for (int i = 1; i <= items->Count(); ++i) {
            const MailItemPtr mi = item(items, i);
            if (!mi->FilePath().endsWith("/new/" + name)) continue;
            ++found;
            QTEST(mi->UnRead(), "unread");
        }
        QCOMPARE(found, 1);
    }

    void windowsGoThroughHooks()
    {
        Hooks() = MailHostHooks();  // the Application installed its windows
        const MailItemPtr mi = item(inbox->Items(), 2);
        QVERIFY_THROWS_EXCEPTION(MailError, mi->Display());
        QVERIFY_THROWS_EXCEPTION(MailError, mi->PrintOut());
        mi->GetInspector()->Close(olDiscard);  // nothing open: nothing happens
        QStringList calls;
        Hooks().display = [&](const MailItemPtr& m, bool modal) { calls << m->Subject() + (modal ? QStringLiteral(" modal") : QString()); };
        Hooks().closeInspector = [&](Inspector& ins, int mode) { calls << ins.CurrentItem()->Subject() + QStringLiteral(" closed %1").arg(mode); };
        const InspectorPtr ins = mi->GetInspector();
        QCOMPARE(mi->GetInspector(), ins);
        ins->Display();
        ins->Close(olDiscard);
        QCOMPARE(calls, QStringList({QStringLiteral("Autumn offers"), QStringLiteral("Autumn offers closed 1")}));
    }
};

FERROWYN_TEST_MAIN(TestMailItem)
#include "tst_MailItem.moc"

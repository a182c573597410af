#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <gmime/gmime.h>
#include <sys/stat.h>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/mail/send/Spooler.h"
#include "platform/mail/MimeUtil.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/send/AioSmtpServer.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail::send;
using namespace sendtest;

Q_DECLARE_METATYPE(mail::send::QueueState)

namespace {

// A message as the composer writes it: encoded subject, an HTML-free text part and a binary
// attachment whose lines may start with a dot.
QByteArray richMessage(const QByteArray& attachment)
{
    GMimeMessage* m = g_mime_message_new(TRUE);
    internet_address_list_add(g_mime_message_get_from(m), internet_address_mailbox_new("Ann Ærøe", "ann@example.org"));
    internet_address_list_add(g_mime_message_get_addresses(m, GMIME_ADDRESS_TYPE_TO),
                              internet_address_mailbox_new("Bob", "bob@example.net"));
    internet_address_list_add(g_mime_message_get_addresses(m, GMIME_ADDRESS_TYPE_BCC),
                              internet_address_mailbox_new("Hidden", "hidden@example.net"));
    g_mime_message_set_subject(m, "Grüße, señor", "utf-8");
    g_mime_object_set_header(GMIME_OBJECT(m), "X-Ferrowyn-Account", "Work", nullptr);

    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
    g_mime_text_part_set_text(text, ".leading dot\nÜmlaut line\n");
    g_mime_multipart_add(mixed, GMIME_OBJECT(text));

    GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
    g_mime_part_set_filename(part, "data ü.bin");
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(attachment.constData(), size_t(attachment.size()));
    GMimeDataWrapper* w = g_mime_data_wrapper_new_with_stream(s, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, w);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(mixed, GMIME_OBJECT(part));
    g_mime_message_set_mime_part(m, GMIME_OBJECT(mixed));

    gchar* str = g_mime_object_to_string(GMIME_OBJECT(m), nullptr);
    QByteArray out(str);
    g_free(str);
    g_object_unref(w);
    g_object_unref(s);
    g_object_unref(part);
    g_object_unref(text);
    g_object_unref(mixed);
    g_object_unref(m);
    return out;
}

GMimeMessage* parse(const QByteArray& bytes)
{
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeParser* p = g_mime_parser_new_with_stream(s);
    GMimeMessage* m = g_mime_parser_construct_message(p, nullptr);
    g_object_unref(p);
    g_object_unref(s);
    return m;
}




// A script standing in for sendmail: records its arguments and standard input.
QString writeScript(const QString& dir, const QByteArray& tail)
{
    const QString path = dir + QStringLiteral("/fake-sendmail");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/argv\"\ncat > \"$(dirname \"$0\")/stdin\"\n" + tail);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

class TestSending : public QObject {
    Q_OBJECT

    QString m_outbox, m_sent;

    void queue(const QByteArray& bytes) { QVERIFY(!QueueMessage(m_outbox, bytes).isEmpty()); }

private Q_SLOTS:
    void initTestCase() { mail::mime::ensureInit(); }

    void init()
    {
        testsupport::TestHome::reset();
        m_outbox = ui::DataPath(QStringLiteral("Mail/Outbox"));
        m_sent = ui::DataPath(QStringLiteral("Mail/Sent Items"));
    }

    void accountsKeepFileOrderAndDefault()
    {
        QVERIFY(LoadAccounts().isEmpty());
        QVERIFY(AccountNames().isEmpty());
        QVERIFY(!DefaultAccount(LoadAccounts()));

        QFile f(AccountsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("; mail accounts\n[Zeta]\nAddress=z@example.org\nTransport=smtps://mail.example.org\n"
                "User=z\nPasswordCommand=echo secret\nSendReceive=no\n\n"
                "[Alpha]\nDisplayName=Al Pha\nAddress = a@example.org\nTransport=/usr/sbin/sendmail -oi\n"
                "ReceiveCommand=mbsync inbox\nDefault=true\n[Middle]\nAddress=m@example.org\n");
        f.close();
        QCOMPARE(AccountNames(), QStringList({"Zeta", "Alpha", "Middle"}));
        const QList<Account> accounts = LoadAccounts();
        QCOMPARE(DefaultAccount(accounts)->name, QStringLiteral("Alpha"));
        QCOMPARE(FindAccount(accounts, "zeta")->passwordCommand, QStringLiteral("echo secret"));
        QVERIFY(!FindAccount(accounts, "zeta")->sendReceive);
        QVERIFY(FindAccount(accounts, "Zeta")->isSmtp());
        QVERIFY(!FindAccount(accounts, "Alpha")->isSmtp());
        QCOMPARE(FindAccount(accounts, "Alpha")->address, QStringLiteral("a@example.org"));
        QVERIFY(FindAccount(accounts, "Alpha")->problem().isEmpty());
        QVERIFY(FindAccount(accounts, "Middle")->problem().contains("no way to send"));
        QVERIFY(!FindAccount(accounts, "Nobody"));

        // Without a marked default the first account sends; writing keeps order and is owner-only.
        QList<Account> saved = accounts;
        saved[1].isDefault = false;
        saved[2].displayName = QStringLiteral("Two\nlines");
        QVERIFY(SaveAccounts(saved));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(AccountsFile()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(AccountNames(), QStringList({"Zeta", "Alpha", "Middle"}));
        QCOMPARE(DefaultAccount(LoadAccounts())->name, QStringLiteral("Zeta"));
        QCOMPARE(FindAccount(LoadAccounts(), "Middle")->displayName, QStringLiteral("Two lines"));
        QCOMPARE(FindAccount(LoadAccounts(), "Alpha")->receiveCommand, QStringLiteral("mbsync inbox"));

        // What would not read back is refused, and the file stays as it was.
        QString err;
        QVERIFY(!SaveAccounts({saved[0], saved[0]}, AccountsFile(), &err));
        QVERIFY(err.contains("already"));
        QVERIFY(!SaveAccounts({Account{}}, AccountsFile(), &err));
        QCOMPARE(AccountNames().size(), 3);
    }

    // A password is kept exactly as typed, blanks and quotes at its ends included.
    void passwordsReadBackAsWritten_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "s3cret";
        QTest::newRow("blank at the end") << "s3cret ";
        QTest::newRow("blanks at both ends") << "  s3cret  ";
        QTest::newRow("quotes around") << "\"s3cret\"";
        QTest::newRow("one quote") << "\"";
        QTest::newRow("empty") << "";
    }
    void passwordsReadBackAsWritten()
    {
        QFETCH(QString, password);
        Account a;
        a.name = QStringLiteral("Work");
        a.password = password;
        QVERIFY(SaveAccounts({a}));
        QCOMPARE(FindAccount(LoadAccounts(), "Work")->password, password);
    }

    void preparedForTheWire_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("recipients");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QStringList>("envelope");
        QTest::newRow("to cc bcc, once each")
            << QByteArray("To: A <a@x.org>, b@x.org\nCc: \"Last, First\" <c@x.org>, A@X.org\nBcc: d@x.org\n\nbody\n")
            << QStringList{"a@x.org", "b@x.org", "c@x.org", "d@x.org"} << QString() << QStringList{};
        QTest::newRow("folded, encoded name, group")
            << QByteArray("To: =?utf-8?q?J=C3=B6rg?= <j@x.org>,\n\tfriends: e@x.org, f@x.org;\n\nbody\n")
            << QStringList{"j@x.org", "e@x.org", "f@x.org"} << QString() << QStringList{};
        QTest::newRow("not an address") << QByteArray("To: a@x.org, nobody\n\nbody\n") << QStringList{"a@x.org"}
                                        << QStringLiteral("\"nobody\" is not an e-mail address") << QStringList{};
        QTest::newRow("hidden character") << QByteArray("To: a@x.org, b@x\u200b.org\n\nbody\n") << QStringList{"a@x.org"}
                                          << QStringLiteral("\"b@x<U+200B>.org\" is not an e-mail address") << QStringList{};
        // One address key everywhere: a final sigma and a capital one are one letter, letter case ignored.
        QTest::newRow("one recipient however its letters are cased")
            << QByteArray("To: \xce\xb1\xcf\x82@x.org, \xce\x91\xce\xa3@x.org\n\nbody\n") << QStringList{QString::fromUtf8("\xce\xb1\xcf\x82@x.org")}
            << QString() << QStringList{};
        QTest::newRow("one recipient at an international domain however it is written")
            << QByteArray("To: ida@b\xc3\xbc" "cher.example, IDA@xn--bcher-kva.example\n\nbody\n")
            << QStringList{QString::fromUtf8("ida@b\xc3\xbc" "cher.example")} << QString() << QStringList{};
        QTest::newRow("quoted local part") << QByteArray("To: \"john smith\"@x.org\n\nbody\n")
                                           << QStringList{"\"john smith\"@x.org"} << QString() << QStringList{};
        // A retry copy an earlier version queued, and a copy of that copy with its newer line on
        // top: its envelope is read (for taking that version's queue over), only the newest line,
        // no one twice; the message goes to whom its header names.
        QTest::newRow("retry copy") << QByteArray("X-Ferrowyn-Envelope-To: b@x.org, c@x.org\nTo: a@x.org, b@x.org, c@x.org\n\nbody\n")
                                    << QStringList{"a@x.org", "b@x.org", "c@x.org"} << QString() << QStringList{"b@x.org", "c@x.org"};
        QTest::newRow("copy of a copy")
            << QByteArray("X-Ferrowyn-Envelope-To: c@x.org\nX-Ferrowyn-Delete-After-Submit: 1\n"
                          "X-Ferrowyn-Envelope-To: b@x.org, c@x.org\nTo: a@x.org, b@x.org, c@x.org\n\nbody\n")
            << QStringList{"a@x.org", "b@x.org", "c@x.org"} << QString() << QStringList{"c@x.org"};
        QTest::newRow("one envelope naming someone twice")
            << QByteArray("X-Ferrowyn-Envelope-To: b@x.org, c@x.org, B@x.org\nTo: b@x.org\n\nbody\n")
            << QStringList{"b@x.org"} << QString() << QStringList{"b@x.org", "c@x.org"};
        QTest::newRow("option-like address") << QByteArray("To: -oQ/tmp@x.org\n\nbody\n") << QStringList{}
                                             << QStringLiteral("is not an e-mail address") << QStringList{};
        QTest::newRow("no recipients") << QByteArray("Subject: x\n\nbody\n") << QStringList{}
                                       << QStringLiteral("no recipients") << QStringList{};
    }
    void preparedForTheWire()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, recipients);
        QFETCH(QString, problem);
        QFETCH(QStringList, envelope);
        const Outgoing out = PrepareOutgoing(stored);
        QCOMPARE(out.recipients, recipients);
        QCOMPARE(out.envelope, envelope);
        QVERIFY(!out.wire.contains("X-Ferrowyn"));
        if (problem.isEmpty())
            QVERIFY2(out.problem.isEmpty(), qPrintable(out.problem));
        else
            QVERIFY2(out.problem.contains(problem), qPrintable(out.problem));
    }

    // The one check every stored and every sent address passes.
    void sendableAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("sendable");
        const auto u = [](char16_t c) { return QString(QChar(c)); };
        const QString label63(63, QLatin1Char('a'));
        const QString domain255 = QStringList{label63, label63, label63, label63}.join(QLatin1Char('.'));
        QTest::newRow("plain") << "ann@example.org" << true;
        QTest::newRow("dots, plus, apostrophe, subdomain") << "o'brien.x+tag@mail.sub.example.org" << true;
        QTest::newRow("hyphen and digits inside labels") << "ann@my-host2.ex-ample.org" << true;
        QTest::newRow("beyond ASCII") << QString::fromUtf8("jörg@bücher.example") << true;
        QTest::newRow("punycode") << "jorg@xn--bcher-kva.example" << true;
        QTest::newRow("IPv4 literal") << "ann@[192.0.2.1]" << true;
        QTest::newRow("IPv6 literal") << "ann@[IPv6:2001:db8::1]" << true;
        QTest::newRow("IPv6 literal, IPv4 tail") << "ann@[IPv6:::ffff:192.0.2.1]" << true;
        QTest::newRow("quoted local part") << "\"john smith\"@example.com" << true;
        QTest::newRow("quoted @ and escaped quote") << "\"a@b \\\"c\\\"\"@example.com" << true;
        QTest::newRow("64-octet local part") << QString(64, QLatin1Char('a')) + "@example.org" << true;
        QTest::newRow("255-octet domain") << "ann@" + domain255 << true;
        // International labels count in the ASCII form a server gets: this one is
        // "xn--" + 55 letters + "-oxf", 63 octets, 57 in UTF-8.
        const QString ace63 = QString::fromUtf8("ü") + QString(55, QLatin1Char('a'));
        const QString aceDomain255 = QStringList{ace63, ace63, ace63, ace63}.join(QLatin1Char('.'));
        QTest::newRow("63-octet international label") << "ann@" + ace63 + ".example" << true;
        QTest::newRow("255-octet international domain") << "ann@" + aceDomain255 << true;
        QTest::newRow("all-numeric label below the top") << "ann@123.example.org" << true;
        QTest::newRow("digits in the top-level label") << "ann@example.x12" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("no @") << "ann.example.org" << false;
        QTest::newRow("nothing before @") << "@example.org" << false;
        QTest::newRow("no domain") << "ann@" << false;
        QTest::newRow("no dot in domain") << "a@b" << false;
        QTest::newRow("two @") << "ann@b@example.org" << false;
        QTest::newRow("@@") << "bob@@example.net" << false;
        QTest::newRow("formula") << "=HYPERLINK(\"http://x\")@example.com" << false;
        QTest::newRow("parentheses") << "ann(x)@example.org" << false;
        QTest::newRow("quote inside unquoted") << "an\"n@example.org" << false;
        QTest::newRow("quote in domain") << "ann@exa\"mple.org" << false;
        QTest::newRow("apostrophe after domain") << "ann@example.com'" << false;
        QTest::newRow("query after domain") << "ann@example.com?subject=x" << false;
        QTest::newRow("slash after domain") << "ann@example.com/" << false;
        QTest::newRow("underscore in domain") << "ann@ex_ample.com" << false;
        QTest::newRow("label starts and ends with hyphen") << "ann@-x-.com" << false;
        QTest::newRow("label ends with hyphen") << "ann@x-.example.com" << false;
        QTest::newRow("punctuation beyond ASCII in domain") << "ann@example.com" + u(0x2019) << false;
        QTest::newRow("space") << "ann smith@example.org" << false;
        QTest::newRow("space in domain") << "ann@example .org" << false;
        QTest::newRow("tab") << "ann@exa\tmple.org" << false;
        QTest::newRow("no-break space") << "ann" + u(0xa0) + "@example.org" << false;
        QTest::newRow("zero-width space") << "ann@exam" + u(0x200b) + "ple.org" << false;
        QTest::newRow("soft hyphen") << "an" + u(0xad) + "n@example.org" << false;
        QTest::newRow("left-to-right mark") << u(0x200e) + "ann@example.org" << false;
        QTest::newRow("right-to-left override") << "ann@example.org" + u(0x202e) << false;
        QTest::newRow("format character in quotes") << "\"ann" + u(0x200b) + "\"@example.org" << false;
        QTest::newRow("format character beyond the BMP") << "ann" + QString::fromUcs4(U"\U000E0041") + "@example.org" << false;
        QTest::newRow("lone surrogate") << "ann" + u(0xd800) + "@example.org" << false;
        QTest::newRow("escaped control in quotes") << "\"a\\\x01\"@example.com" << false;
        QTest::newRow("unclosed quote") << "\"john smith@example.com" << false;
        QTest::newRow("text after quoted part") << "\"john\"x@example.com" << false;
        QTest::newRow("empty quotes") << "\"\"@example.com" << false;
        QTest::newRow("comma inside quotes") << "\"a,b\"@example.com" << false;
        QTest::newRow("angle brackets") << "<ann@example.org>" << false;
        QTest::newRow("option-like") << "-oQ/tmp@x.org" << false;
        QTest::newRow("domain dots") << "ann@example..org" << false;
        QTest::newRow("domain starts with dot") << "ann@.example.org" << false;
        QTest::newRow("domain ends with dot") << "ann@example.org." << false;
        QTest::newRow("65-octet local part") << QString(65, QLatin1Char('a')) + "@example.org" << false;
        QTest::newRow("local part over 64 octets in UTF-8") << QString(33, QChar(0xf6)) + "@example.org" << false;
        QTest::newRow("quoted local part over 64 octets") << "\"" + QString(63, QLatin1Char('a')) + "\"@example.org" << false;
        QTest::newRow("256-octet domain") << "ann@a" + domain255 << false;
        QTest::newRow("64-octet label") << "ann@a" + label63 + ".example.org" << false;
        QTest::newRow("international label of 64 octets in ASCII") << "ann@a" + ace63 + ".example" << false;
        QTest::newRow("international domain of 259 octets in ASCII") << "ann@" + aceDomain255 + ".org" << false;
        QTest::newRow("international label without an ASCII form") << "ann@a" + u(0x10a0) + "b.example" << false;
        QTest::newRow("all-numeric top-level label") << "user@example.123" << false;
        QTest::newRow("IPv4 address without brackets") << "ann@192.0.2.1" << false;
        QTest::newRow("top-level label of full-width digits, sent as digits") << "ann@example." + QString::fromUtf8("１２３") << false;
        QTest::newRow("a megabyte of local part") << QString(1 << 20, QLatin1Char('a')) + "@example.org" << false;
        QTest::newRow("literal quote") << "ann@[a\"b]" << false;
        QTest::newRow("literal, not an address") << "ann@[example.org]" << false;
        QTest::newRow("IPv4 literal, octet over 255") << "ann@[192.0.2.256]" << false;
        QTest::newRow("IPv4 literal, three parts") << "ann@[192.0.2]" << false;
        QTest::newRow("IPv6 literal without its tag") << "ann@[2001:db8::1]" << false;
        QTest::newRow("IPv6 literal, not hexadecimal") << "ann@[IPv6:2001:db8::g]" << false;
        QTest::newRow("IPv6 literal, two gaps") << "ann@[IPv6:1::2::3]" << false;
        QTest::newRow("IPv6 literal, nine groups") << "ann@[IPv6:1:2:3:4:5:6:7:8:9]" << false;
        QTest::newRow("IPv6 tag, IPv4 address") << "ann@[IPv6:192.0.2.1]" << false;
        QTest::newRow("empty literal") << "ann@[]" << false;
    }
    void sendableAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, sendable);
        QCOMPARE(IsSendableAddress(address), sendable);
    }

    void privateHeadersAndBccNeverSent()
    {
        const Outgoing out = PrepareOutgoing("From: a@x.org\nTo: b@x.org\nBCC: secret@x.org,\n more@x.org\n"
                                             "X-Ferrowyn-Account:  Work \nX-Ferrowyn-Delete-After-Submit: 1\n"
                                             "Subject: s\n\nline1\nline2\n");
        QCOMPARE(out.account, QStringLiteral("Work"));
        QVERIFY(out.deleteAfterSubmit);
        QCOMPARE(out.recipients, QStringList({"b@x.org", "secret@x.org", "more@x.org"}));
        QCOMPARE(out.wire, QByteArray("From: a@x.org\r\nTo: b@x.org\r\nSubject: s\r\n\r\nline1\r\nline2\r\n"));
        QVERIFY(!PrepareOutgoing("To: b@x.org\nX-Ferrowyn-Delete-After-Submit: no\n\nx").deleteAfterSubmit);
    }

    void maildirWritesAreWholeAndUnique()
    {
        const QString dir = ui::DataPath(QStringLiteral("Mail/Box"));
        const QString a = WriteToMaildir(dir, "one\n");
        const QString b = WriteToMaildir(dir, "two\n", MaildirSub::Cur, QStringLiteral("SF"));
        QVERIFY(a.startsWith(dir + "/new/"));
        QVERIFY(b.startsWith(dir + "/cur/") && b.endsWith(":2,FS"));
        QVERIFY(MaildirUniquePart(a) != MaildirUniquePart(b));
        QCOMPARE(readFile(a), QByteArray("one\n"));
        QVERIFY(QDir(dir + "/tmp").isEmpty());

        const QString moved = MoveToMaildir(a, ui::DataPath(QStringLiteral("Mail/Other")), QStringLiteral("S"));
        QVERIFY(moved.endsWith(MaildirUniquePart(a) + ":2,S"));
        QVERIFY(!QFile::exists(a));
        QCOMPARE(readFile(moved), QByteArray("one\n"));

        QString err;
        QVERIFY(WriteToMaildir(QStringLiteral("/proc/none"), "x", MaildirSub::New, {}, &err).isEmpty());
        QVERIFY(!err.isEmpty());
    }

    // One run over one connection: Sent Items or deletion, BCC only in the envelope and the
    // stored copy, encodings and attachment bytes as written.
    void deliversThroughSmtp()
    {
        SmtpTestServer server;
        Account work = smtpAccount("Work", server.url());
        work.address = QStringLiteral("ann@example.org");    // the sender of the messages that name it
        QVERIFY(SaveAccounts({smtpAccount("Home", "smtp://127.0.0.1:1"), work}));
        QByteArray blob;
        for (int i = 0; i < 5000; ++i)
            blob += char(i * 7 % 256);
        blob += "\n.\r\n..\n";
        const QByteArray rich = richMessage(blob);
        queue(rich);
        queue(message("c@example.net", "X-Ferrowyn-Account: Work\nX-Ferrowyn-Delete-After-Submit: 1\n"));
        queue(message("d@example.net", "X-Ferrowyn-Account: Work\n", ".starts with a dot\n.\nend\n"));

        Spooler spooler(m_outbox, m_sent);
        QSignalSpy finished(&spooler, &Spooler::runFinished);
        QSignalSpy delivered(&spooler, &Spooler::messageDelivered);
        spooler.deliver();
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().at(0).toInt(), 3);
        QCOMPARE(finished.first().at(1).toInt(), 0);
        QCOMPARE(delivered.size(), 3);

        const QList<SmtpTestServer::Message> got = server.messages();
        QCOMPARE(got.size(), 3);
        QCOMPARE(server.connections(), 1);
        QCOMPARE(got[0].from, QByteArray("ann@example.org"));
        QCOMPARE(got[0].recipients, QList<QByteArray>({"bob@example.net", "hidden@example.net"}));
        QVERIFY(!got[0].data.contains("hidden@"));
        QVERIFY(!got[0].data.toLower().contains("bcc:"));
        QVERIFY(!got[0].data.contains("X-Ferrowyn"));
        QVERIFY(got[0].data.contains("Subject: =?"));
        QVERIFY(got[2].data.endsWith("\r\n.starts with a dot\r\n.\r\nend\r\n"));

        GMimeMessage* arrived = parse(got[0].data);
        QVERIFY(arrived);
        QCOMPARE(QString::fromUtf8(g_mime_message_get_subject(arrived)), QStringLiteral("Grüße, señor"));
        GMimeObject* body = g_mime_message_get_mime_part(arrived);
        QVERIFY(GMIME_IS_MULTIPART(body));
        GMimePart* att = GMIME_PART(g_mime_multipart_get_part(GMIME_MULTIPART(body), 1));
        QCOMPARE(QString::fromUtf8(g_mime_part_get_filename(att)), QStringLiteral("data ü.bin"));
        GMimeStream* out = g_mime_stream_mem_new();
        g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(att), out);
        GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len)), blob);
        g_object_unref(out);
        g_object_unref(arrived);

        // Outbox empty; two copies in Sent Items (seen), the first still with its BCC.
        QVERIFY(filesIn(m_outbox).isEmpty());
        QStringList sent = filesIn(m_sent);
        sent.sort();
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent[0].contains("/cur/") && sent[0].endsWith(":2,S"));
        QCOMPARE(readFile(sent[0]), rich);
        QVERIFY(readFile(sent[0]).contains("hidden@example.net"));
        QVERIFY(readFile(sent[1]).contains("d@example.net"));
    }

    // Refusals: temporary ones stay and go next time, permanent ones stay with the server's
    // answer until sent again; a refused recipient stops only itself, and a message every
    // recipient of which is refused stays. A connection lost after the whole message went leaves
    // it waiting for the user (the server may have it) and the rest for the next run.
    void refusalsKeepMessagesInTheOutbox()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Busy", "451 4.3.0 Try again later", 1);
        server.refuseMessage("Subject: Spam", "554 5.7.1 Message rejected as spam");
        server.refuseRecipient("nobody@example.net", "550 5.1.1 <nobody@example.net>: Recipient unknown");
        server.refuseRecipient("gone@example.net", "550 5.1.1 <gone@example.net>: Recipient unknown");
        server.dropConnection("Subject: Drop", SmtpTestServer::Drop::AfterData, 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QByteArray spam = message("a@example.net", "Subject: Spam\n");
        queue(message("a@example.net", "Subject: Busy\n"));
        queue(spam);
        queue(message("ok@example.net, nobody@example.net"));
        queue(message("gone@example.net"));
        queue(message("fine@example.net"));
        queue(message("a@example.net", "Subject: Drop\n"));
        queue(message("after@example.net"));

        RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 2);
        QCOMPARE(r.temporary, 1);
        QCOMPARE(r.maybeDelivered, 1);
        QCOMPARE(r.permanent, 2);
        QCOMPARE(r.refusedRecipients, 1);
        QCOMPARE(r.notTried, 1);
        const QStringList lines = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts()).lines;
        QCOMPARE(lines.size(), 6);    // and one for the message not tried after the lost connection
        QVERIFY(lines.join('\n').contains("451 4.3.0 Try again later"));
        QVERIFY(lines.join('\n').contains("refused nobody@example.net: 550 5.1.1"));
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(server.messages()[0].recipients, QList<QByteArray>{"ok@example.net"});
        QCOMPARE(server.messages()[1].recipients, QList<QByteArray>{"fine@example.net"});
        QCOMPARE(filesIn(m_outbox).size(), 5);

        QString spamFile, unknownFile, droppedFile;
        for (const QString& f : filesIn(m_outbox)) {
            const QueueStatus st = queued(m_outbox, f);
            if (readFile(f).contains("after@"))
                continue;    // not tried
            QVERIFY(!st.answer.isEmpty());
            if (st.answer == "554 5.7.1 Message rejected as spam")
                spamFile = f;
            else if (st.answer.contains("Recipient unknown"))
                unknownFile = f;
            else if (st.answer.contains("the server may have received it"))
                droppedFile = f;
            else
                QVERIFY2(!forTheUser(st), qPrintable(st.answer));
        }
        QVERIFY(!spamFile.isEmpty() && forTheUser(queued(m_outbox, spamFile)));
        QVERIFY(!unknownFile.isEmpty() && forTheUser(queued(m_outbox, unknownFile)));
        QVERIFY(!droppedFile.isEmpty() && forTheUser(queued(m_outbox, droppedFile)));
        QCOMPARE(readFile(spamFile), spam);

        // Next run: the temporary ones go, the permanent ones and the one that may have gone wait
        // untouched.
        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 2);
        QCOMPARE(waitingForTheUser(m_outbox), 3);
        QCOMPARE(server.messageCount(), 4);
        QCOMPARE(filesIn(m_outbox).size(), 3);
        QCOMPARE(filesIn(m_sent).size(), 4);

        // The user sends one again: it is tried (and refused) once more.
        QVERIFY(OutboxQueue::Of(m_outbox)->requeue(MaildirUniquePart(spamFile)));
        QVERIFY(queued(m_outbox, spamFile).answer.isEmpty());
        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.permanent, 1);
        QCOMPARE(waitingForTheUser(m_outbox), 3);
        QVERIFY(forTheUser(queued(m_outbox, spamFile)));
    }

    // Faults of set-up and input: each leaves the message in the Outbox with a clear reason.
    void badSetupNeverLosesMessages_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no accounts") << "none" << QByteArray("a@example.net") << false << "No mail account is set up.";
        QTest::newRow("unknown account") << "unknown" << QByteArray("a@example.net") << false
                                         << "There is no mail account \"Gone\" any more.";
        QTest::newRow("no address") << "noaddress" << QByteArray("a@example.net") << false << "has no e-mail address";
        QTest::newRow("no transport") << "notransport" << QByteArray("a@example.net") << false << "no way to send";
        QTest::newRow("unreachable") << "unreachable" << QByteArray("a@example.net") << false << "onnect";
        // The account's fault, not the recipients': they are owed still, and told why.
        QTest::newRow("login refused") << "badlogin" << QByteArray("a@example.net") << false << "535 5.7.8";
        QTest::newRow("encryption required, not offered") << "starttls" << QByteArray("a@example.net") << false
                                                          << "STARTTLS";
        QTest::newRow("password command fails") << "badcommand" << QByteArray("a@example.net") << false
                                                << "password command";
        QTest::newRow("bad recipient") << "ok" << QByteArray("not an address") << true << "is not an e-mail address";
    }
    void badSetupNeverLosesMessages()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, to);
        QFETCH(bool, permanent);
        QFETCH(QString, reason);
        SmtpTestServer server;
        server.requireAuth("work", "right");
        Account a = smtpAccount("Work", server.url());
        a.user = QStringLiteral("work");
        a.password = QStringLiteral("right");
        if (setup == "noaddress")
            a.address.clear();
        else if (setup == "notransport")
            a.transport.clear();
        else if (setup == "unreachable")
            a.transport = QStringLiteral("smtp://127.0.0.1:%1").arg(SmtpTestServer().port());    // closed again
        else if (setup == "badlogin")
            a.password = QStringLiteral("wrong");
        else if (setup == "starttls")
            a.requireStartTls = true;
        else if (setup == "badcommand")
            a.passwordCommand = QStringLiteral("echo locked >&2; exit 1");
        if (setup != "none")
            QVERIFY(SaveAccounts({a}));
        queue(message(to, setup == "unknown" ? "X-Ferrowyn-Account: Gone\n" : ""));

        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 0);
        QCOMPARE(server.messageCount(), 0);
        QCOMPARE(filesIn(m_outbox).size(), 1);
        QVERIFY(filesIn(m_sent).isEmpty());
        const QueueStatus st = queued(m_outbox, filesIn(m_outbox).first());
        QCOMPARE(forTheUser(st), permanent);
        QVERIFY2(st.answer.contains(reason), qPrintable(st.answer));
        // A missing account is told from the accounts as they are now.
        const QString missing = TellAccountMissing(filesIn(m_outbox).first(), LoadAccounts());
        QCOMPARE(missing.isEmpty(), setup != "none" && setup != "unknown");
        // The transport's own details close the line.
        const QString line = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts()).lines.first();
        const QString ours = WithoutDetails(st.answer);
        QVERIFY2(missing.isEmpty() ? line.contains(ours) && line.endsWith(st.answer.mid(ours.size())) : line.contains(missing),
                 qPrintable(line));
        if (!permanent)
            QVERIFY2(st.recipients.isEmpty(), "a recipient's state changed for a fault of the set-up");
    }

    // A refused login, or a server silent at the login, is the account's: told in our words
    // naming the account (the server's answer after them, curl's words in the details only),
    // never under a recipient, and tried again on doubling waits.
    void aFailedLoginIsTheAccounts_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong password") << false
                                        << "Could not log in to \"Work\" (535 5.7.8 Authentication credentials invalid): "
                                           "check the user name and password in Setup > Mail Accounts.";
        QTest::newRow("silent at login") << true << "Could not log in to \"Work\": its server did not answer.";
    }
    void aFailedLoginIsTheAccounts()
    {
        QFETCH(bool, silent);
        QFETCH(QString, said);
        SmtpTestServer server;
        server.requireAuth("work", "right");
        server.setSilentAtLogin(silent);
        Account a = smtpAccount("Work", server.url());
        a.user = QStringLiteral("work");
        a.password = QStringLiteral("wrong");
        QVERIFY(SaveAccounts({a}));
        queue(message("a@example.net"));
        QDateTime clock = QDateTime::currentDateTimeUtc();
        DeliveryOptions o;
        o.dueOnly = true;
        o.firstRetrySeconds = 60;
        o.lastRetrySeconds = 3600;
        o.timeoutSeconds = 1;
        o.clock = [&] { return clock; };

        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        const QString file = filesIn(m_outbox).first();
        QueueStatus st = queued(m_outbox, file);
        QCOMPARE(st.state, QueueState::Waiting);
        QVERIFY2(WithoutDetails(st.answer) == said, qPrintable(st.answer));
        QVERIFY(st.recipients.isEmpty());
        QCOMPARE(st.nextTry, clock.addSecs(60));
        const DeliveryNews news = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts());
        QCOMPARE(news.summary, QStringLiteral("Sending: 1 message waiting for a retry. ") + said);
        QVERIFY2(!news.summary.contains("a@example.net:") && !news.summary.contains("refused"), qPrintable(news.summary));
        QVERIFY(TellWaiting(st, file, LoadAccounts()).startsWith("This message was not sent: " + said + "\n"));

        // Not before its time; then after twice the wait.
        clock = clock.addSecs(30);
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QCOMPARE(queued(m_outbox, file).nextTry, st.nextTry);
        clock = clock.addSecs(31);
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        st = queued(m_outbox, file);
        QCOMPARE(st.nextTry, clock.addSecs(120));
        QCOMPARE(server.messageCount(), 0);
    }

    // A message whose account is gone is told as that, from the accounts as they are, and never
    // as a server's refusal: it waits for the user, who can send it through the default account,
    // from that account's address. Once an account has that name (a former one too) and sends as
    // its sender, it goes through it.
    void aMessageWhoseAccountIsGoneSaysSo()
    {
        SmtpTestServer server;
        Account work = smtpAccount("Work", server.url());
        QVERIFY(SaveAccounts({work}));
        const QString file = QueueMessage(m_outbox, message("a@example.net", "X-Ferrowyn-Account: Authd\n"));
        QVERIFY(!file.isEmpty());
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        const QueueStatus st = queued(m_outbox, file);
        QCOMPARE(st.state, QueueState::Waiting);
        const QString gone = QStringLiteral("There is no mail account \"Authd\" any more.");
        const QString way = QStringLiteral(" It waits for you: to send it through \"Work\", your default account, open it in the Outbox and "
                                           "choose Send Again (or Edit, then Send). It will then be sent from work@example.org "
                                           "instead of ann@example.org.");
        const DeliveryNews news = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts());
        QCOMPARE(news.lines, QStringList{"A message to a@example.net (\"Test\") was not sent. " + gone + way});
        QCOMPARE(news.summary, "Sending: 1 message waiting for you. " + gone);
        QCOMPARE(TellWaiting(st, file, LoadAccounts()), "This message was not sent. " + gone + way);

        // Renamed from it: the message goes through the account it became.
        work.formerNames = QStringList{"Authd"};
        work.address = QStringLiteral("ann@example.org");
        QVERIFY(SaveAccounts({work}));
        QCOMPARE(FindAccount(LoadAccounts(), "authd")->name, QStringLiteral("Work"));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(server.messages().value(0).from, QByteArray("ann@example.org"));

        // A former name another account has now stays: the sender tells their messages apart.
        Account authd = smtpAccount("Authd", server.url());
        QVERIFY(SaveAccounts({work, authd}));
        QCOMPARE(FindAccount(LoadAccounts(), "Authd")->name, QStringLiteral("Authd"));
        QCOMPARE(LoadAccounts().first().formerNames, QStringList{"Authd"});
    }

    // More messages whose account is gone than the status line lists one by one: every one of
    // them waits for the user, none for a retry.
    void manyMessagesWhoseAccountIsGoneAllWaitForYou()
    {
        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const int n = int(kListedWaiting) + 2;
        for (int k = 0; k < n; ++k)
            QVERIFY(!QueueMessage(m_outbox, message("a" + QByteArray::number(k) + "@example.net", "X-Ferrowyn-Account: Gone\n")).isEmpty());
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(server.messageCount(), 0);
        const DeliveryNews news = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts());
        QVERIFY2(news.summary.startsWith(QStringLiteral("Sending: %1 messages waiting for you.").arg(n)), qPrintable(news.summary));
    }

    // Which account a queued message goes through, with two real servers: "corp" and "home".
    // Queued by an older version, a message names its account by name alone; one queued now
    // names it by its id too.
    void aQueuedMessageGoesThroughItsOwnAccount_data()
    {
        QTest::addColumn<QByteArray>("headers");   // of the queued message
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<bool>("corpHadWork");     // Corp was Work before
        QTest::addColumn<QString>("server");       // "corp", "home" or "" (it waits for the user)
        QTest::addColumn<QString>("told");         // why it waits
        QTest::newRow("by name, unchanged") << QByteArray("X-Ferrowyn-Account: Work\n") << QByteArray("me@home.example") << true
                                            << "home" << "";
        QTest::newRow("renamed, its name taken by another")
            << QByteArray("X-Ferrowyn-Account: Work\n") << QByteArray("me@corp.example") << true << "corp" << "";
        QTest::newRow("its name another identity's")
            << QByteArray("X-Ferrowyn-Account: Work\n") << QByteArray("me@corp.example") << false << ""
            << "The mail account \"Work\" is another one now: it sends as me@home.example, and this message is from me@corp.example.";
        QTest::newRow("by its id, whatever it is called")
            << QByteArray("X-Ferrowyn-Account: Work\nX-Ferrowyn-Account-Id: corp-id\n") << QByteArray("me@home.example") << false
            << "corp" << "";
        QTest::newRow("its id gone, its name and sender there")
            << QByteArray("X-Ferrowyn-Account: Work\nX-Ferrowyn-Account-Id: gone-id\n") << QByteArray("me@home.example") << false
            << "home" << "";
    }
    void aQueuedMessageGoesThroughItsOwnAccount()
    {
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, from);
        QFETCH(bool, corpHadWork);
        QFETCH(QString, server);
        QFETCH(QString, told);
        AioSmtpServer corpServer, homeServer;
        QVERIFY(corpServer.ok() && homeServer.ok());
        Account corp = smtpAccount("Corp", corpServer.url());
        corp.id = QStringLiteral("corp-id");
        corp.address = QStringLiteral("me@corp.example");
        if (corpHadWork)
            corp.formerNames = QStringList{"Work"};
        else if (headers.contains("corp-id"))
            corp.address = QStringLiteral("me@home.example");    // one address, two accounts: the id decides
        Account home = smtpAccount("Work", homeServer.url());
        home.id = QStringLiteral("home-id");
        home.address = QStringLiteral("me@home.example");
        home.isDefault = true;
        QVERIFY(SaveAccounts({corp, home}));
        QByteArray bytes = message("a@example.net", headers);
        bytes.replace("From: Ann <ann@example.org>", "From: Me <" + from + ">");
        const QString file = QueueMessage(m_outbox, bytes);
        QVERIFY(!file.isEmpty());

        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, server.isEmpty() ? 0 : 1);
        const QList<AioSmtpServer::Transaction> atCorp = corpServer.transactions(), atHome = homeServer.transactions();
        QCOMPARE(atCorp.size() + atHome.size(), server.isEmpty() ? 0 : 1);
        if (!server.isEmpty()) {
            const AioSmtpServer::Transaction got = (server == "corp" ? atCorp : atHome).value(0);
            QCOMPARE(got.accepted, QStringList{"a@example.net"});
            QCOMPARE(got.sender, (server == "corp" ? corp : home).address);
            QVERIFY2(got.from.contains(QString::fromLatin1(from)), qPrintable(got.from));
            return;
        }
        // It waits for the user, told why and what Send Again does.
        const QueueStatus st = queued(m_outbox, file);
        QCOMPARE(st.state, QueueState::Waiting);
        QCOMPARE(st.answer, told);
        const DeliveryNews news = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts());
        QCOMPARE(news.summary, "Sending: 1 message waiting for you. " + told);
        QVERIFY2(news.lines.value(0).contains(told + " It waits for you: to send it through \"Work\", your default account"),
                 qPrintable(news.lines.value(0)));
        QVERIFY2(news.lines.value(0).endsWith("It will then be sent from me@home.example instead of me@corp.example."),
                 qPrintable(news.lines.value(0)));
    }

    // Refused, or possibly delivered, a message waits for the user anyway: when its account is
    // gone, what Send Again does is told with it.
    void anAccountGoneIsToldWhateverItWaitsFor_data()
    {
        QTest::addColumn<QueueState>("state");
        QTest::newRow("refused") << QueueState::Refused;
        QTest::newRow("may have been delivered") << QueueState::MaybeDelivered;
    }
    void anAccountGoneIsToldWhateverItWaitsFor()
    {
        QFETCH(QueueState, state);
        SmtpTestServer server;
        if (state == QueueState::Refused)
            server.refuseRecipient("a@example.net", "550 5.1.1 No such user");
        else
            server.refuseMessage("Subject: Test", "STALL");
        Account authd = smtpAccount("Authd", server.url());
        authd.address = QStringLiteral("ann@example.org");
        const Account work = smtpAccount("Work", server.url());
        QVERIFY(SaveAccounts({authd, work}));
        const QString file = QueueMessage(m_outbox, message("a@example.net", "X-Ferrowyn-Account: Authd\n"));
        if (state == QueueState::Refused) {
            DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        } else {
            Spooler spooler(m_outbox, m_sent);
            spooler.deliver();
            QTRY_VERIFY_WITH_TIMEOUT(spooler.isBusy() && server.connections() == 1, 10000);
            QTest::qWait(200);
            spooler.stop();
        }
        QCOMPARE(queued(m_outbox, file).state, state);
        QVERIFY(SaveAccounts({work}));
        const QString missing = "There is no mail account \"Authd\" any more. It waits for you: to send it through \"Work\", your "
                                "default account, open it in the Outbox and choose Send Again (or Edit, then Send). It will then be "
                                "sent from work@example.org instead of ann@example.org.";
        const QStringList lines = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts()).lines;
        QVERIFY2(WithoutDetails(lines.value(0)).endsWith(missing), qPrintable(lines.join('\n')));
    }

    void authenticatesWithPasswordCommand()
    {
        SmtpTestServer server;
        server.requireAuth("work", "s3cret");
        Account a = smtpAccount("Work", server.url());
        a.user = QStringLiteral("work");
        a.passwordCommand = QStringLiteral("printf 's3cret\\n'");
        QVERIFY(SaveAccounts({a}));
        queue(message("a@example.net"));
        queue(message("b@example.net"));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 2);
        QCOMPARE(server.connections(), 1);
    }

    void sendsThroughACommand_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("delivered");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QString>("answer");
        QTest::newRow("accepted") << QByteArray("exit 0\n") << 1 << false << QString();
        QTest::newRow("refused") << QByteArray("echo 'no such user here' >&2\nexit 67\n") << 0 << true
                                 << "no such user here";
        QTest::newRow("try later") << QByteArray("echo 'queue full' >&2\nexit 75\n") << 0 << false << "queue full";
        QTest::newRow("silent failure") << QByteArray("exit 1\n") << 0 << true << "ended with code 1";
        QTest::newRow("cannot run") << QByteArray("/nonexistent/sendmail\n") << 0 << false << "not found";
    }
    void sendsThroughACommand()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, delivered);
        QFETCH(bool, permanent);
        QFETCH(QString, answer);
        const QString dir = testsupport::TestHome::path();
        Account a = smtpAccount("Local", {});
        a.transport = writeScript(dir, tail) + QStringLiteral(" -oi");
        QVERIFY(SaveAccounts({a}));
        const QByteArray stored = message("\"Bob B\" <bob@example.net>", "Cc: carol@example.net\nBcc: dave@example.net\n");
        queue(stored);

        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, delivered);
        QCOMPARE(readFile(dir + "/argv"), QByteArray("-oi\nbob@example.net\ncarol@example.net\ndave@example.net\n"));
        const QByteArray input = readFile(dir + "/stdin");
        QVERIFY(!input.contains('\r'));
        QVERIFY(!input.contains("dave@"));
        QVERIFY(input.contains("Cc: carol@example.net\n"));
        if (delivered) {
            QCOMPARE(filesIn(m_sent).size(), 1);
            QCOMPARE(readFile(filesIn(m_sent).first()), stored);
        } else {
            QCOMPARE(filesIn(m_outbox).size(), 1);
            const QueueStatus st = queued(m_outbox, filesIn(m_outbox).first());
            QCOMPARE(forTheUser(st), permanent);
            QVERIFY2(st.answer.contains(answer), qPrintable(st.answer));
        }
    }

    // A command that fails before reading a large message must not take the program down.
    void commandThatIgnoresItsInput()
    {
        Account a = smtpAccount("Local", {});
        a.transport = QStringLiteral("/bin/sh -c 'echo refused >&2; exit 1'");
        QVERIFY(SaveAccounts({a}));
        queue(message("bob@example.net", {}, QByteArray(4 << 20, 'x') + "\n"));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.permanent, 1);
        QCOMPARE(queued(m_outbox, filesIn(m_outbox).first()).answer, QStringLiteral("refused"));
    }

    // Paused, the spooler only queues; stopping keeps what waits; resuming sends it.
    void pauseAndStopKeepTheQueue()
    {
        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        for (int i = 0; i < 3; ++i)
            queue(message("a@example.net"));
        {
            Spooler spooler(m_outbox, m_sent);
            spooler.setPaused(true);
            spooler.deliver();
            QVERIFY(spooler.waitUntilIdle(5000));
            QTest::qWait(100);
            QCOMPARE(server.messageCount(), 0);
            QVERIFY(spooler.isBusy());    // the request waits for the resume
            spooler.stop();
        }
        QCOMPARE(filesIn(m_outbox).size(), 3);

        Spooler spooler(m_outbox, m_sent);
        QSignalSpy finished(&spooler, &Spooler::runFinished);
        spooler.setPaused(true);
        spooler.deliver();
        spooler.setPaused(false);
        QVERIFY(finished.wait(20000));
        QCOMPARE(server.messageCount(), 3);
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // A server that stops answering must not hold up stopping. It had the whole message, so the
    // message waits for the user: the server may have taken it.
    void stopBreaksOffAStalledTransfer()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Stall", "STALL");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QByteArray stalled = message("a@example.net", "Subject: Stall\n");
        queue(stalled);
        Spooler spooler(m_outbox, m_sent);
        spooler.deliver();
        QTRY_VERIFY_WITH_TIMEOUT(spooler.isBusy() && server.connections() == 1, 10000);
        QTest::qWait(200);
        QElapsedTimer t;
        t.start();
        spooler.stop();
        QVERIFY(t.elapsed() < 5000);
        QCOMPARE(filesIn(m_outbox).size(), 1);
        QCOMPARE(readFile(filesIn(m_outbox).first()), stalled);
        QCOMPARE(spooler.queue()->status(MaildirUniquePart(filesIn(m_outbox).first())).state, QueueState::MaybeDelivered);
    }

    // Held while the user edits it, a message whose retry time passes goes within seconds of
    // being released, by the spooler's own timer.
    void releasedMessageGoesWhenDue()
    {
        AioSmtpServer server({"--delay-for", "late@example.net=1"});
        QVERIFY(server.ok());
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("late@example.net"));
        const QString unique = MaildirUniquePart(filesIn(m_outbox).first());
        Spooler spooler(m_outbox, m_sent);
        DeliveryOptions options;
        options.firstRetrySeconds = 2;
        spooler.setOptions(options);
        QSignalSpy finished(&spooler, &Spooler::runFinished);
        QSignalSpy delivered(&spooler, &Spooler::messageDelivered);
        spooler.deliver();
        QVERIFY(finished.wait(20000));
        const std::shared_ptr<OutboxQueue> q = spooler.queue();
        QCOMPARE(q->status(unique).state, QueueState::Waiting);
        QVERIFY(q->hold(unique));
        const QDateTime retry = q->status(unique).nextTry;
        QVERIFY(retry.isValid());
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTimeUtc() > retry.addSecs(1), 10000);
        QTest::qWait(200);
        QCOMPARE(delivered.size(), 0);
        QCOMPARE(q->status(unique).attempts, 1);

        q->release(unique);
        QElapsedTimer t;
        t.start();
        QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 1, 10000);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(server.deliveries(), QStringList{"late@example.net"});
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // Stopped while the text is still going: it never went whole, so it waits to go again, told
    // in our words; curl's own stay out of the summary.
    void stopInTheTextIsToldPlainly()
    {
        SmtpTestServer server;
        server.stallInData("Stall here");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net", {}, "Stall here\n" + QByteArray(32 << 20, 'x') + "\n"));
        Spooler spooler(m_outbox, m_sent);
        spooler.deliver();
        const QString file = filesIn(m_outbox).first();
        QTRY_VERIFY_WITH_TIMEOUT(queued(m_outbox, file).state == QueueState::Sending, 10000);
        QTest::qWait(500);
        spooler.stop();
        const QueueStatus st = queued(m_outbox, file);
        QCOMPARE(st.state, QueueState::Waiting);
        QVERIFY2(WithoutDetails(st.answer).startsWith("Sending was broken off before the whole message had gone to the server."),
                 qPrintable(st.answer));
        QVERIFY(!st.answer.contains("may have received it"));
        const QString summary = TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts()).summary;
        QVERIFY2(summary.contains("Sending was broken off") && !summary.contains("Callback") && !summary.contains("errno")
                     && !summary.contains("Details"),
                 qPrintable(summary));
    }

    // Quitting breaks a transfer off before the whole text went: that is no attempt. The message
    // waits as if never tried (no retry time, no wait on its account), so the next delivery,
    // timed or at start-up, sends it.
    void aStopBeforeTheEndIsNoAttempt_data()
    {
        QTest::addColumn<bool>("command");
        QTest::newRow("smtp") << false;
        QTest::newRow("command") << true;
    }
    void aStopBeforeTheEndIsNoAttempt()
    {
        QFETCH(bool, command);
        SmtpTestServer stalling;
        stalling.stallInData("Stall here");
        Account a = smtpAccount("Work", stalling.url());
        if (command)
            a.transport = QStringLiteral("sleep 60;:");    // never reads the text
        QVERIFY(SaveAccounts({a}));
        queue(message("a@example.net", {}, "Stall here\n" + QByteArray(32 << 20, 'x') + "\n"));
        const QString file = filesIn(m_outbox).first();
        {
            Spooler spooler(m_outbox, m_sent);
            spooler.deliver();
            QTRY_VERIFY_WITH_TIMEOUT(queued(m_outbox, file).state == QueueState::Sending, 10000);
            QTest::qWait(300);
            spooler.stop();
        }
        const QueueStatus st = queued(m_outbox, file);
        QCOMPARE(st.state, QueueState::Waiting);
        QCOMPARE(st.attempts, 0);
        QVERIFY2(!st.nextTry.isValid(), qPrintable(st.nextTry.toString()));
        QVERIFY(!OutboxQueue::Of(m_outbox)->accountWait(QStringLiteral("Work")));

        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        DeliveryOptions timed;
        timed.dueOnly = true;
        QCOMPARE(DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, timed).delivered, 1);
        QCOMPARE(server.messageCount(), 1);
    }

    void sendReceiveRunsTakingPartAccounts()
    {
        SmtpTestServer server;
        const QString dir = testsupport::TestHome::path();
        Account a = smtpAccount("Work", server.url());
        a.receiveCommand = QStringLiteral("touch '%1/work-received'").arg(dir);
        Account b = smtpAccount("Off", server.url());
        b.sendReceive = false;
        b.receiveCommand = QStringLiteral("touch '%1/off-received'").arg(dir);
        Account c = smtpAccount("Broken", server.url());
        c.receiveCommand = QStringLiteral("echo 'mailbox locked' >&2; exit 3");
        QVERIFY(SaveAccounts({a, b, c}));
        queue(message("a@example.net"));

        Spooler spooler(m_outbox, m_sent);
        QSignalSpy done(&spooler, &Spooler::sendReceiveFinished);
        spooler.sendReceive();
        QVERIFY(done.wait(20000));
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(QFile::exists(dir + "/work-received"));
        QVERIFY(!QFile::exists(dir + "/off-received"));
        QCOMPARE(done.first().at(0).toStringList(),
                 QStringList{"Receiving mail for \"Broken\" failed: mailbox locked"});
    }
};

FERROWYN_TEST_MAIN(TestSending)
#include "tst_Sending.moc"

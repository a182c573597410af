// The quick readers a listing uses must give exactly what GMime gives: each table row is read
// both ways and compared, plain forms (which the quick readers take) and awkward ones (which
// they must leave to GMime) alike.
#include "platform/mail/MimeQuick.h"
#include "platform/mail/MimeUtil.h"
#include "tests/support/TestMain.h"

using namespace mail::mime;

namespace {

QString addresses(const QList<Address>& list)
{
    QStringList out;
    for (const Address& a : list)
        out << a.name + QLatin1Char('|') + a.address;
    return out.join(QStringLiteral("; "));
}

QString summary(const HeaderSummary& h)
{
    return QStringList{h.subject,
                       addresses(h.from),
                       addresses(h.to),
                       addresses(h.cc),
                       addresses(h.bcc),
                       addresses(h.replyTo),
                       h.date.isValid() ? QString::number(h.date.toSecsSinceEpoch()) : QStringLiteral("no date"),
                       h.received.isValid() ? QString::number(h.received.toSecsSinceEpoch()) : QStringLiteral("no received"),
                       QString::number(h.importance),
                       QString::number(h.sensitivity),
                       QString::number(h.readReceipt),
                       QString::number(h.deleteAfterSubmit),
                       h.account,
                       h.mediaType + QLatin1Char('/') + h.subType,
                       h.calendarMethod,
                       QString::number(h.calendarClass),
                       QString::number(h.topLevelAttachment),
                       h.messageId}
        .join(QLatin1Char('\n'));
}

QString structure(const Structure& s)
{
    QStringList out;
    for (const AttachmentInfo& a : s.attachments)
        out << a.fileName + QLatin1Char(' ') + a.mimeType;
    return out.join(QStringLiteral(", ")) + (s.meetingRequest ? QStringLiteral(" [meeting]") : QString());
}

// Read both ways; the quick readers are on again afterwards, whatever happens.
template <class F>
auto bothWays(F read)
{
    struct Restore {
        ~Restore() { useQuickReaders(true); }
    } restore;
    useQuickReaders(false);
    const auto gmime = read();
    useQuickReaders(true);
    return std::make_pair(read(), gmime);
}

const QByteArray kMixed = "From: a@example.org\nContent-Type: multipart/mixed; boundary=\"b1\"\n\n"
                          "--b1\nContent-Type: text/plain; charset=utf-8\n\nHello\n"
                          "--b1\nContent-Type: application/pdf; name=\"r.pdf\"\nContent-Disposition: attachment; filename=\"r.pdf\"\n"
                          "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n--b1--\n";

} // namespace

class TestMimeQuick : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void headersAsGMimeReadsThem_data()
    {
        QTest::addColumn<QByteArray>("block");
        auto row = [](const char* name, const QByteArray& headers) { QTest::newRow(name) << headers + "\n"; };
        // Addresses.
        const char* const addressValues[] = {
            "bob@example.net", "Bob Baker <bob@example.net>", "<bob@example.net>", "Bob  Baker <bob@example.net>",
            "Bob Baker<bob@example.net>", "bob@example.net, Carol <carol@example.org>", "\"Baker, Bob\" <bob@example.net>",
            "=?UTF-8?Q?Gr=C3=BC=C3=9Fe?= <g@example.org>", "bob@example.net,", ",bob@example.net", "undisclosed-recipients:;",
            "Bob (the boss) <bob@example.net>", "O'Brien <ob@example.ie>", "a.b+tag@sub.example.co.uk",
            "Bob <bob@example.net> , carol@x.org", "bob", "Bob <bob>", "J. Smith <j@x.org>", "bob@example.net carol@example.net",
            "Bob <bob@example.net>, <>", "\xC3\x9cnic\xC3\xB8" "de <u@example.org>", "first.last@[192.168.0.1]", "-bob@example.net",
            "bob@-example.net", "bob@example..net", ".bob@example.net", "Bob_Baker <bob@ex.net>", "123 <n@x.org>",
            "Bob <bob@example.net> trailing", "<bob@example.net> Bob", "Bob <<bob@example.net>>", "Bob\t<bob@example.net>",
            "bob@EXAMPLE.NET", "B\xE9" "b <b@example.org>"};
        int i = 0;
        for (const char* v : addressValues) {
            const QByteArray value(v);
            QTest::addRow("address %d: %s", i++, v) << "From: " + value + "\nTo: " + value + "\nCc: " + value + "\nReply-To: " + value + "\n\n";
        }
        // Dates, in Date and at the end of Received.
        const char* const dates[] = {
            "Tue, 14 Nov 2023 09:00:00 +0000", "14 Nov 2023 09:00:00 +0100", "Tue, 4 Nov 2023 09:00:00 -0530",
            "Tue, 14 Nov 2023 09:00:00 +0000 (UTC)", "Tue, 14 Nov 2023 09:00 +0000", "Tue, 14 Nov 2023 09:00:00 GMT",
            "Tue, 14 nov 2023 09:00:00 +0000", "Tue, 31 Feb 2023 09:00:00 +0000", "Tue, 14 Nov 23 09:00:00 +0000",
            "Tue,14 Nov 2023 09:00:00 +0000", "Tue, 14 Nov 2023 24:00:00 +0000", "Tue, 14 Nov 2023 23:59:60 +0000",
            "Thu, 29 Feb 2024 12:00:00 +1400", "Thu, 29 Feb 2023 12:00:00 +0000", "Mon, 1 Jan 1900 00:00:00 +0000",
            "Fri, 31 Dec 9999 23:59:59 -1200", "Thu, 1 Jan 1970 00:00:00 +0000", "Wed, 31 Dec 1969 23:59:59 +0000",
            "Thu, 1 Jan 1970 00:30:00 +0100", "Thu, 1 Jan 1970 00:00:00 -0100", "Sat, 1 Jan 1910 00:00:00 +0000", "Mon, 1 Jan 1968 00:00:00 +0000", "Wed, 1 Jan 1969 00:00:00 +0000", "garbage", "  Tue,   14  Nov  2023  09:00:00  +0000  ",
            "Tue, 14 Nov 2023 09:00:00 +0000 (Coordinated (Universal) Time)", "Sun, 06 Nov 1994 08:49:37 +0000",
            "Xyz, 06 Nov 1994 08:49:37 +0000", "Sun, 06 Nov 1994 08:49:37 +0000 extra", "Sun, 06 Nov 1994 08:49:37 +2400",
            "Sun, 006 Nov 1994 08:49:37 +0000", "Sun, 06 Nov 1994 8:49:37 +0000", "Sat, 1 Jan 2000 00:00:00 +0001"};
        i = 0;
        for (const char* d : dates) {
            const QByteArray v(d);
            QTest::addRow("date %d: %s", i++, d) << "Received: from a by b; " + v + "\nDate: " + v + "\n\n";
        }
        // Header text.
        const char* const texts[] = {
            "Message number 5 about =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", "=?utf-8?b?R3LDvMOfZQ==?=", "=?UTF-8?Q?a?= =?UTF-8?Q?b?=",
            "=?UTF-8?Q?a?=  plain  =?ISO-8859-1?Q?=E9?=", "=?ISO-8859-1?Q?caf=E9?= =?UTF-8?Q?_ok?=", "x=?UTF-8?Q?a?=",
            "=?UTF-8?Q?=C3?= =?UTF-8?Q?=BC?=", "=?UTF-8?Q?=FF?=", "=?UTF-8*en?Q?hi?=", "=?UTF-8?Q?a b?=", "=?windows-1252?Q?=80?=",
            "=?UTF-8?B?invalid?=", "=?US-ASCII?Q?plain_text?=", "=?UTF-8?Q?tab=09here?=", "Re: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= und  so",
            "=?utf-8?q?" "?=", "==?UTF-8?Q?a?=", "=?UTF-8?Q?a?==?UTF-8?Q?b?=", "=?UTF-8?B?YWJj?= =?UTF-8?B?ZA==?=", "=?UTF-8?B?YW=j?=",
            "=?UTF-8?Q?=3f?=", "=?UTF-8?Q?=e2=82=ac?= 5", "=?UTF-8?X?abc?=", "a =?UTF-8?Q?b?=c", "=?iso-8859-1?b?6Q==?="};
        i = 0;
        for (const char* t : texts)
            QTest::addRow("text %d: %s", i++, t) << "Subject: " + QByteArray(t) + "\nX-Ferrowyn-Account: " + QByteArray(t) + "\n\n";
        // Content types.
        const char* const types[] = {
            "text/plain; charset=utf-8", "TEXT/Plain; Charset=\"UTF-8\"", "multipart/mixed; boundary=\"b1\"",
            "text/calendar; method=REQUEST; charset=utf-8", "application/pdf; name=\"r.pdf\"", "text/plain; charset=utf-8;",
            "text/plain (comment)", "text", "text/plain; name*=utf-8''r%C3%A9.pdf", "text/plain; name=\"=?utf-8?q?r=C3=A9.pdf?=\"",
            "image/svg+xml", "text/plain;charset=us-ascii;format=flowed", "text/plain; charset = utf-8",
            "multipart/alternative; boundary=----=_Part_0_123.456", "text/calendar; method=request; method=cancel",
            "text/plain; name=\"\"", "text/plain; name=\"a\\\"b\"", "text/html; charset=\"utf-8\" ; name=x.htm", "/plain", "text/",
            "text/plain; =x", "text/plain; name", "multipart/mixed;\n\tboundary=\"b1\"",
            "text/plain; a=1; b=2; c=3; d=4; e=5; f=6; g=7; h=8; i=9; j=10; b=11", "text/plain; a=1; b=2; c=3; d=4; e=5; f=6; g=7; h=8; i=9; j=10"};
        i = 0;
        for (const char* t : types)
            QTest::addRow("type %d: %s", i++, t) << "Content-Type: " + QByteArray(t) + "\n\n";
        // The rest of the summary, and how the block is cut into headers.
        row("flags", "Importance: high\nX-Priority: 5\nSensitivity: Private\nDisposition-Notification-To: a@b.c\n"
                     "X-Ferrowyn-Delete-After-Submit: YES\nMessage-ID: <1@x>\nContent-Class: urn:content-classes:calendarmessage\n");
        row("folded", "Subject: one\n two\n\tthree\nFrom: Bob\n <bob@example.net>\n");
        row("mbox line", "From bob@example.net Tue Nov 14 09:00:00 2023\nSubject: after the mbox line\n");
        row("bad line", "Subject: kept\nnot a header\nFrom: bob@example.net\n");
        row("crlf", "Subject: crlf\r\nFrom: Bob <bob@example.net>\r\nDate: Tue, 14 Nov 2023 09:00:00 +0000\r\n");
        row("disposition", "Content-Type: text/plain\nContent-Disposition: attachment; filename=a.txt\n");
        row("name before colon", "Subject : spaced\nX Bad: no\nTo: bob@example.net\n");
    }

    void headersAsGMimeReadsThem()
    {
        QFETCH(QByteArray, block);
        const auto [quickly, gmime] = bothWays([&] { return summary(parseHeaders(block)); });
        QCOMPARE(quickly, gmime);
    }

    void structuresAsGMimeReadsThem_data()
    {
        QTest::addColumn<QByteArray>("message");
        auto mixed = [](const QByteArray& parts, const QByteArray& type = "multipart/mixed; boundary=\"b1\"") {
            return "From: a@example.org\nSubject: s\nContent-Type: " + type + "\n\n" + parts;
        };
        QTest::newRow("text and a file") << kMixed;
        QTest::newRow("alternative") << mixed("--b1\nContent-Type: text/plain\n\nplain\n--b1\nContent-Type: text/html\n\n<p>html</p>\n--b1--\n",
                                              "multipart/alternative; boundary=b1");
        QTest::newRow("nested, inline picture")
            << mixed("--b1\nContent-Type: multipart/alternative; boundary=\"b2\"\n\n--b2\nContent-Type: text/plain\n\nplain\n"
                     "--b2\nContent-Type: text/html\n\n<p>x</p>\n--b2--\n\n--b1\nContent-Type: image/png\n"
                     "Content-Disposition: inline; filename=\"pic.png\"\n\nPNG\n--b1--\nepilogue\n");
        QTest::newRow("two plain texts") << mixed("--b1\n\nfirst\n--b1\nContent-Type: text/plain\n\nsecond\n--b1--\n");
        QTest::newRow("related, nameless picture")
            << mixed("--b1\nContent-Type: text/html\n\n<img>\n--b1\nContent-Type: image/png\n\nPNG\n--b1--\n", "multipart/related; boundary=b1");
        QTest::newRow("invitation")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: text/html\n\n<p>x</p>\n"
                     "--b1\nContent-Type: text/calendar; method=REQUEST; charset=utf-8\n\nBEGIN:VCALENDAR\n--b1--\n",
                     "multipart/alternative; boundary=b1");
        QTest::newRow("cancelled invitation")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: text/calendar; method=CANCEL\n\nBEGIN\n--b1--\n");
        QTest::newRow("forwarded message")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: message/rfc822\n\nSubject: Inner\n\nbody\n--b1--\n");
        QByteArray crlf = kMixed;
        QTest::newRow("crlf") << crlf.replace("\n", "\r\n");
        QTest::newRow("boundary a prefix of the inner one")
            << mixed("--b\nContent-Type: multipart/mixed; boundary=b1\n\n--b1\nContent-Type: text/plain\n\nx\n--b1\n"
                     "Content-Type: image/gif\n\nGIF\n--b1--\n--b--\n",
                     "multipart/mixed; boundary=b");
        QTest::newRow("blank after boundary") << mixed("--b1 \nContent-Type: text/plain\n\nx\n--b1\nContent-Type: image/gif\n\nG\n--b1--\n");
        QTest::newRow("never closed") << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: image/gif\n\nGIF\n");
        QTest::newRow("preamble") << mixed("This is a multi-part message.\n-- \n--b1\nContent-Type: text/plain\n\nx\n--b1\n"
                                           "Content-Type: image/gif; name=g.gif\n\nG\n--b1--\n");
        QTest::newRow("attachment without a name")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: application/pdf\nContent-Disposition: attachment\n\nP\n--b1--\n");
        QTest::newRow("name with folders")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Disposition: attachment; filename=\"../../etc/passwd\"\n\nP\n--b1--\n");
        QTest::newRow("encoded name")
            << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: application/pdf\n"
                     "Content-Disposition: attachment; filename*=utf-8''r%C3%A9sum%C3%A9.pdf\n\nP\n--b1--\n");
        QTest::newRow("digest") << mixed("--b1\n\nSubject: in a digest\n\nx\n--b1--\n", "multipart/digest; boundary=b1");
        QTest::newRow("three deep")
            << mixed("--b1\nContent-Type: multipart/related; boundary=b2\n\n--b2\nContent-Type: multipart/alternative; boundary=b3\n\n"
                     "--b3\nContent-Type: text/plain\n\np\n--b3\nContent-Type: text/html\n\nh\n--b3--\n--b2\nContent-Type: image/jpeg\n\nJ\n"
                     "--b2--\n--b1\nContent-Type: application/zip; name=z.zip\n\nZ\n--b1--\n");
        QTest::newRow("empty part") << mixed("--b1\n--b1\nContent-Type: text/plain\n\nx\n--b1--\n");
        QTest::newRow("line like a boundary") << mixed("--b1\nContent-Type: text/plain\n\n--b1x is not one\n--b1\nContent-Type: image/gif\n\nG\n--b1--\n");
        QTest::newRow("upper case") << mixed("--b1\nContent-Type: TEXT/PLAIN\n\nx\n--b1\nContent-Type: Application/PDF\n"
                                             "Content-Disposition: ATTACHMENT; FILENAME=\"A.PDF\"\n\nP\n--b1--\n");
        QTest::newRow("folded type") << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: image/gif;\n\tname=\"g.gif\"\n\nG\n--b1--\n",
                                              "multipart/mixed;\n\tboundary=\"b1\"");
        QTest::newRow("no end, inner closed")
            << mixed("--b1\nContent-Type: multipart/alternative; boundary=b2\n\n--b2\nContent-Type: text/plain\n\np\n--b1--\n");
        QTest::newRow("part without blank line") << mixed("--b1\nContent-Type: text/plain\n--b1--\n");
        QTest::newRow("no boundary") << mixed("just text\n", "multipart/mixed");
        QTest::newRow("dash lines in text")
            << mixed("--b1\nContent-Type: text/plain\n\n-- \nsig\n---\n--b2\n--b1\nContent-Type: image/gif\n\nG\n--b1--\n");
        QTest::newRow("second content type") << mixed("--b1\nContent-Type: text/plain\nContent-Type: image/gif\n\nx\n--b1--\n");
        QTest::newRow("signed") << mixed("--b1\nContent-Type: text/plain\n\nx\n--b1\nContent-Type: application/pgp-signature; name=\"signature.asc\"\n\nSIG\n--b1--\n",
                                         "multipart/signed; micalg=pgp-sha256; protocol=\"application/pgp-signature\"; boundary=\"b1\"");
    }

    void structuresAsGMimeReadsThem()
    {
        QFETCH(QByteArray, message);
        const auto [quickly, gmime] = bothWays([&] { return structure(scanStructure(message)); });
        QCOMPARE(quickly, gmime);
        // And what the message's own full read finds.
        QCOMPARE(quickly, structure(parseStructure(message)));
    }

    // The plain forms must be taken by the quick readers, or a listing is slow again.
    void plainFormsReadQuickly()
    {
        QList<Address> a;
        QVERIFY(quick::addresses("Bob Baker <bob@example.net>, carol@example.net", a));
        QCOMPARE(a.size(), 2);
        qint64 secs = 0;
        QVERIFY(quick::date("Tue, 14 Nov 2023 09:00:00 +0100", secs));
        QCOMPARE(secs, QDateTime(QDate(2023, 11, 14), QTime(8, 0), Qt::UTC).toSecsSinceEpoch());
        QString text;
        QVERIFY(quick::text("About =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", text));
        QCOMPARE(text, QStringLiteral("About Grüße"));
        quick::Params p;
        QVERIFY(quick::contentType("multipart/mixed; boundary=\"b1\"", p));
        Structure s;
        QVERIFY(quick::structure(kMixed, s));
        QCOMPARE(structure(s), QStringLiteral("r.pdf application/pdf"));
    }
};

FERROWYN_TEST_MAIN(TestMimeQuick)
#include "tst_MimeQuick.moc"

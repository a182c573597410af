// Anyone can send a message whose one name, header or structure is megabytes long. Every reader
// must take time in line with the length of what it reads, and stay within its stack.
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeQuick.h"
#include "platform/mail/MimeUtil.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {

double msOf(const std::function<void()>& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

// Empty when the milliseconds run(n) measures grow in line with n, for n of 10^3 to 10^6;
// else what was measured. Each tenfold length may cost at most 30 times as much: a linear cost
// takes about 10 times, a quadratic one 100, and the margin leaves room for sanitizers and a
// loaded machine. The fastest of three runs counts (a run far over the limit ends them, and at
// 10^6 so does one in time), and the first length that fails ends the trial. With a floor, a
// cost of at most three times floor(n) passes too: what GMime itself takes is not ours to mend.
constexpr double kNoiseMs = 100;

QString growth(const std::function<double(qsizetype)>& run, const std::function<double(qsizetype)>& floor = {})
{
    double before = 0;
    for (qsizetype n = 1000; n <= 1000000; n *= 10) {
        // Under a tenth of a second a loaded machine's pauses outweigh the work; a cost that grows
        // with the square of the length passes that long before a million characters.
        double limit = std::max(30 * std::max(before, 0.5), kNoiseMs);
        if (floor && n > 1000)
            limit = std::max(limit, 3 * floor(n));
        double best = 1e18;
        for (int i = 0; i < 3; ++i) {
            best = std::min(best, run(n));
            if (best > 3 * limit || (n == 1000000 && best <= limit))
                break;
        }
        if (n > 1000 && best > limit)
            return QStringLiteral("%1 ms at %2 characters against %3 ms at a tenth of that").arg(best, 0, 'f', 1).arg(n).arg(before, 0, 'f', 1);
        before = best;
    }
    return {};
}

// Milliseconds GMime alone takes to parse the message and read each part's file name and
// content: the floor for any reader built on it. (It grows a long header's buffer by a fixed
// step, which costs the square of the header's length where memory cannot grow in place, as
// under AddressSanitizer.)
double gmimeFloor(const QByteArray& whole)
{
    mime::ensureInit();
    return msOf([&] {
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(whole.constData(), size_t(whole.size()));
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
        GMimeMultipart* mp = GMIME_MULTIPART(g_mime_message_get_mime_part(msg));
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
            GMimePart* part = GMIME_PART(g_mime_multipart_get_part(mp, i));
            const char* fn = g_mime_part_get_filename(part);
            GMimeStream* mem = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), mem);
            g_object_unref(mem);
            (void)fn;
        }
        g_object_unref(msg);
        g_object_unref(parser);
        g_object_unref(stream);
    });
}

QByteArray repeated(const QByteArray& unit, qsizetype size)
{
    QByteArray s;
    s.reserve(size + unit.size());
    while (s.size() < size)
        s += unit;
    return s;
}

// A message with a text and one attachment whose part carries the given headers.
QByteArray withAttachment(const QByteArray& partHeaders)
{
    return "From: a@example.org\nTo: b@example.org\nSubject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b1\"\n\n"
           "--b1\nContent-Type: text/plain\n\nSee the file.\n--b1\n"
           + partHeaders + "\nContent-Transfer-Encoding: base64\n\nQUJD\n--b1--\n";
}

// The file name as RFC 2231 continuations in UTF-8, about size bytes of them. One line: GMime
// takes the square of the line count of a folded header under AddressSanitizer.
QByteArray continuedName(const QByteArray& param, qsizetype size)
{
    QByteArray h;
    for (int i = 0; h.size() < size; ++i)
        h += "; " + param + '*' + QByteArray::number(i) + (i == 0 ? "*=utf-8''" : "*=") + "%C3%A9" + QByteArray(56, 'a');
    return h;
}

} // namespace

class TestHostileMail : public QObject {
    Q_OBJECT
    std::shared_ptr<Application> app;
    NameSpacePtr ns;
    FolderPtr inbox;

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
        inbox = ns->GetDefaultFolder(olFolderInbox);
    }

    void cleanup()
    {
        inbox.reset();
        ns.reset();
        app.reset();
    }

    void namesCutToWholeCharacters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        const QString a198(198, QLatin1Char('a'));
        QTest::newRow("plain") << QString(300, QLatin1Char('a')) << QString(200, QLatin1Char('a'));
        QTest::newRow("two-byte characters") << QString(150, QChar(0xE9)) << QString(100, QChar(0xE9));
        QTest::newRow("two bytes that fit") << a198 + QChar(0xE9) + QStringLiteral("b") << a198 + QChar(0xE9);
        QTest::newRow("two bytes that do not fit") << a198 + QStringLiteral("a") + QChar(0xE9) << a198 + QStringLiteral("a");
        QTest::newRow("three bytes that fit") << a198.left(197) + QStringLiteral("€b") << a198.left(197) + QStringLiteral("€");
        QTest::newRow("three bytes that do not fit") << a198 + QStringLiteral("€") << a198;
        QTest::newRow("a pair that fits") << a198.left(196) + QStringLiteral("😀b") << a198.left(196) + QStringLiteral("😀");
        QTest::newRow("a pair that does not fit") << a198.left(197) + QStringLiteral("😀") << a198.left(197);
        // A lone surrogate is written as the replacement character, three bytes.
        QTest::newRow("a lone surrogate that fits") << a198.left(197) + QChar(0xD800) + QStringLiteral("b") << a198.left(197) + QChar(0xD800);
        QTest::newRow("a lone surrogate that does not fit") << a198 + QChar(0xDC00) << a198;
        QTest::newRow("pairs only") << QString(QStringLiteral("😀")).repeated(60) << QString(QStringLiteral("😀")).repeated(50);
        QTest::newRow("folders, controls, colons, leading dots") << QStringLiteral("../x\\. .a\tb:c\u007f") << QStringLiteral("abc");
        QTest::newRow("nothing left") << QStringLiteral("/tmp/. . .") << QStringLiteral("attachment");
    }
    void namesCutToWholeCharacters()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QCOMPARE(mime::safeFileName(name), safe);
    }

    // A name whose every character took a new encoding of the whole name froze the folder.
    void longNamesCostTimeInLineWithLength_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::newRow("plain") << QStringLiteral("a");
        QTest::newRow("control characters between") << QStringLiteral("\ta");
        QTest::newRow("surrogate pairs") << QStringLiteral("😀");
        QTest::newRow("a lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("é");
        QTest::newRow("leading dots") << QStringLiteral(". ");
    }
    void longNamesCostTimeInLineWithLength()
    {
        QFETCH(QString, unit);
        const QString failure = growth([&](qsizetype n) {
            QString name;
            name.reserve(n + unit.size());
            while (name.size() < n)
                name += unit;
            name += QStringLiteral("x");
            QString safe;
            const double ms = msOf([&] { safe = mime::safeFileName(name); });
            [&] {
                QVERIFY(!safe.isEmpty());
                QVERIFY(safe.toUtf8().size() <= 200);
            }();
            return ms;
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // Listing, reading and saving a message with such a name, through the quick readers and
    // through GMime.
    void messagesWithLongNames_data()
    {
        QTest::addColumn<QByteArray>("param");  // filename: in the disposition; name: in the type
        QTest::addColumn<bool>("continued");
        QTest::newRow("name in the disposition") << QByteArray("filename") << false;
        QTest::newRow("name in the type") << QByteArray("name") << false;
        QTest::newRow("continued name in the disposition") << QByteArray("filename") << true;
        QTest::newRow("continued name in the type") << QByteArray("name") << true;
    }
    void messagesWithLongNames()
    {
        QFETCH(QByteArray, param);
        QFETCH(bool, continued);
        auto message = [&](qsizetype n) {
            const QByteArray name = continued ? continuedName(param, n) : "; " + param + "=\"" + repeated("a", n) + ".pdf\"";
            return withAttachment(param == "name" ? "Content-Type: application/pdf" + name
                                                  : "Content-Type: application/pdf\nContent-Disposition: attachment" + name);
        };
        QTemporaryDir saved;
        QVERIFY(saved.isValid());
        // Each step timed on its own, the message stored once for each length.
        QByteArray stored;
        MailItemPtr kept;
        auto store = [&](qsizetype n) {
            const QByteArray m = message(n);
            if (m == stored)
                return;
            if (kept) {
                kept->Delete();
                ns->GetDefaultFolder(olFolderDeletedItems)->Items()->Item(1)->Delete();
            }
            kept = inbox->AddMessageFile(m);
            stored = m;
        };
        auto fileNameIsSafe = [](const QString& name) { return !name.isEmpty() && name.toUtf8().size() <= 200; };
        auto floor = [&](qsizetype n) {
            store(n);
            return gmimeFloor(stored);
        };
        const QString listing = growth([&](qsizetype n) {
            store(n);
            QString name;
            const double ms = msOf([&] { name = AsMailItem(inbox->Items()->Item(1))->Attachments().Item(1)->FileName(); });
            [&] { QVERIFY(fileNameIsSafe(name)); }();
            return ms;
        }, floor);
        QVERIFY2(listing.isEmpty(), qPrintable(QStringLiteral("listing: ") + listing));
        const QString body = growth([&](qsizetype n) {
            store(n);
            const MailItemPtr mi = AsMailItem(inbox->Items()->Item(1));
            QString text;
            const double ms = msOf([&] { text = mi->Body(); });
            [&] { QCOMPARE(text.trimmed(), QStringLiteral("See the file.")); }();
            return ms;
        }, floor);
        QVERIFY2(body.isEmpty(), qPrintable(QStringLiteral("body: ") + body));
        const QString saving = growth([&](qsizetype n) {
            store(n);
            const MailItemPtr mi = AsMailItem(inbox->Items()->Item(1));
            const AttachmentPtr a = mi->Attachments().Item(1);
            const double ms = msOf([&] { a->SaveAsFile(saved.filePath(QStringLiteral("f"))); });
            [&] {
                QVERIFY(fileNameIsSafe(a->FileName()));
                QFile f(saved.filePath(QStringLiteral("f")));
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), QByteArray("ABC"));
            }();
            return ms;
        }, floor);
        QVERIFY2(saving.isEmpty(), qPrintable(QStringLiteral("saving: ") + saving));
    }

    // A type of a great many parameters, in a message's header and in a part's.
    void manyParametersCostTimeInLineWithCount()
    {
        auto type = [](qsizetype n) {
            QByteArray v = "application/pdf";
            for (int i = 0; v.size() < n; ++i)
                v += "; p" + QByteArray::number(i) + "=v";
            return v + "; name=a.pdf";
        };
        const QString header = growth([&](qsizetype n) {
            const QByteArray block = "Content-Type: " + type(n) + "\n\n";
            mime::HeaderSummary h;
            const double ms = msOf([&] { h = mime::parseHeaders(block); });
            [&] {
                QCOMPARE(h.mediaType, QStringLiteral("application"));
                QVERIFY(h.topLevelAttachment);
            }();
            return ms;
        });
        QVERIFY2(header.isEmpty(), qPrintable(QStringLiteral("header: ") + header));
        const QString part = growth([&](qsizetype n) {
            const QByteArray m = withAttachment("Content-Type: " + type(n));
            mime::Structure s;
            const double ms = msOf([&] { s = mime::scanStructure(m); });
            [&] {
                QCOMPARE(s.attachments.size(), 1);
                QCOMPARE(s.attachments.at(0).fileName, QStringLiteral("a.pdf"));
            }();
            return ms;
        });
        QVERIFY2(part.isEmpty(), qPrintable(QStringLiteral("part: ") + part));
    }

    // Multiparts nested in multiparts: each level's boundary is looked for through all the
    // levels inside it.
    void deepNestingCostsTimeInLineWithLength()
    {
        auto nested = [](int depth) {
            QByteArray m = "From: a@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=x0x\n\n";
            QByteArray tail;
            for (int d = 1; d <= depth; ++d) {
                const QByteArray outer = "--x" + QByteArray::number(d - 1) + 'x';
                m += outer + "\nContent-Type: multipart/mixed; boundary=x" + QByteArray::number(d) + "x\n\n";
                tail = outer + "--\n" + tail;
            }
            const QByteArray inner = "--x" + QByteArray::number(depth) + 'x';
            return m + inner + "\nContent-Type: application/pdf; name=a.pdf\n\nPDF\n" + inner + "--\n" + tail;
        };
        // What real mail nests stays the quick reader's.
        mime::Structure s;
        QVERIFY(mime::quick::structure(nested(4), s));
        QCOMPARE(s.attachments.size(), 1);
        const QString failure = growth([&](qsizetype n) {
            const QByteArray m = nested(int(n / 64));
            return msOf([&] { mime::quick::structure(m, s); });
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // Address groups opened inside groups, never closed: GMime reads each by recursion.
    void nestedGroupsCostTimeInLineWithLength()
    {
        auto addresses = [](const QList<mime::Address>& list) {
            return qsizetype(std::count_if(list.begin(), list.end(), [](const mime::Address& a) { return a.address == QLatin1String("a@example.org"); }));
        };
        // A few, as a careless sender may write them, read as GMime reads them.
        QCOMPARE(addresses(mime::parseHeaders("To: g: a@example.org, h: a@example.org; a@example.org\n\n").to), 3);
        const QString failure = growth([&](qsizetype n) {
            const QByteArray unit = "g: a@example.org, ";
            const QByteArray block = "To: " + repeated(unit, n) + "\n\n";
            mime::HeaderSummary h;
            const double ms = msOf([&] { h = mime::parseHeaders(block); });
            [&] { QCOMPARE(addresses(h.to), (n + unit.size() - 1) / unit.size()); }();
            return ms;
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
};

FERROWYN_TEST_MAIN(TestHostileMail)
#include "tst_HostileMail.moc"

// Mail content on hostile shapes.
// 1. HTML to text (the plain part of an HTML message, the preview of an HTML-only message) on
//    360 KB bodies built to make a backtracking scan quadratic, against an ordinary newsletter
//    body of the same size: a linear conversion takes about the same time on both.
// 2. Saving every attachment of a 2,500-part message through the mail host, against GMime alone
//    parsing the message once and writing each part: the floor for any GMime-based reader.
// 3. Every reader of what a stranger can send, and the CSV and vCard readers, on one input built
//    to grow (a name, a header, a list, a structure, a field) at 10^3 to 10^6 characters: the
//    time at each length, and its growth over the last tenfold step (about 10 when linear, 100
//    when quadratic). Run with a word to time only the rows whose name holds it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeUtil.h"
#include "profiles/DelimitedReader.h"

namespace {

constexpr int kHtmlSize = 360 * 1024;
constexpr int kParts = 2500;

QString repeatTo(const QString& unit, int size)
{
    QString s;
    s.reserve(size + unit.size());
    while (s.size() < size) s += unit;
    return s;
}

double msFor(const QString& html, int* chars)
{
    QElapsedTimer t;
    t.start();
    *chars = int(mail::mime::htmlToText(html).size());
    return double(t.nsecsElapsed()) / 1e6;
}

QByteArray bigMessage()
{
    QByteArray m = "From: a@example.org\nTo: b@example.org\nSubject: parts\nMIME-Version: 1.0\n"
                   "Content-Type: multipart/mixed; boundary=\"xx\"\n\n--xx\nContent-Type: text/plain\n\nSee the files.\n";
    for (int i = 0; i < kParts; ++i) {
        const QByteArray n = QByteArray::number(i);
        m += "--xx\nContent-Type: application/octet-stream; name=\"f" + n + ".bin\"\nContent-Disposition: attachment; filename=\"f" + n
            + ".bin\"\nContent-Transfer-Encoding: base64\n\n" + QByteArray(200, char('a' + i % 26)).append(n).toBase64() + "\n";
    }
    return m + "--xx--\n";
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

double gmimeAlone(const QByteArray& whole, const QString& dir, int* count)
{
    QElapsedTimer t;
    t.start();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(whole.constData(), size_t(whole.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    GMimeMultipart* mp = GMIME_MULTIPART(g_mime_message_get_mime_part(msg));
    int n = 0;
    for (int i = 1; i < g_mime_multipart_get_count(mp); ++i) {
        GMimePart* part = GMIME_PART(g_mime_multipart_get_part(mp, i));
        GMimeStream* mem = g_mime_stream_mem_new();
        g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), mem);
        GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
        writeFile(dir + QLatin1Char('/') + QString::fromUtf8(g_mime_part_get_filename(part)),
                  QByteArray(reinterpret_cast<const char*>(arr->data), int(arr->len)));
        g_object_unref(mem);
        ++n;
    }
    g_object_unref(msg);
    g_object_unref(parser);
    g_object_unref(stream);
    *count = n;
    return double(t.nsecsElapsed()) / 1e6;
}

double saveAll(const mail::MailItemPtr& stored, const QString& dir, int* count)
{
    QElapsedTimer t;
    t.start();
    // A fresh read of the message, as when the user opens it.
    const mail::MailItemPtr mi = mail::AsMailItem(stored->Parent()->Items()->Item(1));
    int n = 0;
    for (int i = 1; i <= mi->Attachments().Count(); ++i) {
        const mail::AttachmentPtr a = mi->Attachments().Item(i);
        a->SaveAsFile(dir + QLatin1Char('/') + a->FileName());
        ++n;
    }
    *count = n;
    return double(t.nsecsElapsed()) / 1e6;
}

QByteArray repeated(const QByteArray& unit, qsizetype size)
{
    QByteArray s;
    s.reserve(size + unit.size());
    while (s.size() < size) s += unit;
    return s;
}

volatile qsizetype sink;

// One row of section 3: make(n) builds the input outside the timing, read(input) is timed, the
// fastest of five runs at each length (one run when it takes over a second). After a length
// that took over half a second the longer ones are left out, and growth is that of the last
// tenfold step measured.
void growthRow(const QString& only, const char* name, const std::function<QByteArray(qsizetype)>& make,
               const std::function<qsizetype(const QByteArray&)>& read)
{
    if (!only.isEmpty() && !QString::fromLatin1(name).contains(only, Qt::CaseInsensitive)) return;
    std::printf("%-56s", name);
    double last = 0, before = 0;
    for (qsizetype n = 1000; n <= 1000000; n *= 10) {
        if (last > 500) {
            std::printf(" %9s", "-");
            continue;
        }
        const QByteArray input = make(n);
        double best = 1e18;
        for (int round = 0; round < 5 && (round == 0 || best <= 1000); ++round) {
            QElapsedTimer t;
            t.start();
            sink = read(input);
            best = std::min(best, double(t.nsecsElapsed()) / 1e6);
        }
        before = last;
        last = best;
        std::printf(" %9.2f", best);
        std::fflush(stdout);
    }
    // Memory first touched at 10^6 can lift a linear row to 30 or more; quadratic ones show 70 to 120.
    const double growth = last / std::max(before, 0.001);
    std::printf(" %7.1f%s\n", growth, growth > 50 ? "  super-linear" : "");
}

QByteArray withAttachment(const QByteArray& partHeaders, const QByteArray& boundary = "b1")
{
    return "From: a@example.org\nTo: b@example.org\nSubject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + boundary
           + "\"\n\n--" + boundary + "\nContent-Type: text/plain\n\nSee the file.\n--" + boundary + "\n" + partHeaders
           + "\nContent-Transfer-Encoding: base64\n\nQUJD\n--" + boundary + "--\n";
}

// RFC 2231 continuations of a file name, about size bytes of them, each on a line of its own or
// all on one.
QByteArray continued(const QByteArray& param, qsizetype size, bool folded)
{
    QByteArray h;
    for (int i = 0; h.size() < size; ++i)
        h += (folded ? ";\n " : "; ") + param + '*' + QByteArray::number(i) + (i == 0 ? "*=utf-8''" : "*=") + "%C3%A9" + QByteArray(56, 'a');
    return h;
}

// Multiparts nested in multiparts, about size bytes of them.
QByteArray nested(qsizetype size)
{
    QByteArray m = "From: a@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=x0x\n\n";
    QByteArray tail;
    int d = 0;
    while (m.size() * 2 < size) {
        ++d;
        const QByteArray outer = "--x" + QByteArray::number(d - 1) + 'x';
        m += outer + "\nContent-Type: multipart/mixed; boundary=x" + QByteArray::number(d) + "x\n\n";
        tail = outer + "--\n" + tail;
    }
    const QByteArray inner = "--x" + QByteArray::number(d) + 'x';
    return m + inner + "\nContent-Type: application/pdf; name=a.pdf\n\nPDF\n" + inner + "--\n" + tail;
}

void readerGrowth(const QString& only, const mail::NameSpacePtr& ns, const QString& home)
{
    using namespace mail;
    namespace mm = mail::mime;
    std::printf("\nreaders on growing input, ms (fastest of 5)              %9s %9s %9s %9s %7s\n", "10^3", "10^4", "10^5", "10^6", "growth");
    auto text = [](const QByteArray& b) { return QString::fromUtf8(b); };
    growthRow(only, "file name, plain", [](qsizetype n) { return repeated("a", n); }, [&](const QByteArray& b) { return mm::safeFileName(text(b)).size(); });
    growthRow(only, "file name, control characters between", [](qsizetype n) { return repeated("\ta", n); }, [&](const QByteArray& b) { return mm::safeFileName(text(b)).size(); });
    growthRow(only, "file name, four-byte characters", [](qsizetype n) { return repeated("\xF0\x9F\x98\x80", n); }, [&](const QByteArray& b) { return mm::safeFileName(text(b)).size(); });
    growthRow(only, "header text, encoded words (quick)", [](qsizetype n) { return repeated("=?utf-8?q?Gr=C3=BC=C3=9Fe?= ", n); }, [](const QByteArray& b) { return mm::decodeHeaderText(b).size(); });
    growthRow(only, "header text, windows-1252 words (GMime)", [](qsizetype n) { return repeated("=?windows-1252?q?Gr=FC=DFe?= ", n); }, [](const QByteArray& b) { return mm::decodeHeaderText(b).size(); });
    growthRow(only, "header text, one encoded word", [](qsizetype n) { return "=?utf-8?b?" + repeated("QUJD", n) + "?="; }, [](const QByteArray& b) { return mm::decodeHeaderText(b).size(); });
    auto headers = [](const QByteArray& b) { return mm::parseHeaders(b).subject.size(); };
    auto to = [](const QByteArray& b) { return mm::parseHeaders(b).to.size(); };
    growthRow(only, "Subject, one line", [](qsizetype n) { return "Subject: " + repeated("word ", n) + "\n\n"; }, headers);
    growthRow(only, "Subject, folded", [](qsizetype n) { return "Subject: " + repeated("word word word\n ", n) + "\n\n"; }, headers);
    growthRow(only, "To, plain addresses (quick)", [](qsizetype n) { return "To: " + repeated("a@example.org, ", n) + "z@example.org\n\n"; }, to);
    growthRow(only, "To, quoted names (GMime)", [](qsizetype n) { return "To: " + repeated("\"A, B\" <a@example.org>, ", n) + "z@example.org\n\n"; }, to);
    growthRow(only, "To, groups in groups (GMime)", [](qsizetype n) { return "To: " + repeated("g: a@example.org, ", n) + "\n\n"; }, to);
    growthRow(only, "To, comments (GMime)", [](qsizetype n) { return "To: " + repeated("(c) a@example.org, ", n) + "\n\n"; }, to);
    growthRow(only, "Date, not a date", [](qsizetype n) { return "Date: " + repeated("Tue 14 Nov ", n) + "\n\n"; }, headers);
    growthRow(only, "Content-Type, many parameters", [](qsizetype n) {
        QByteArray v = "Content-Type: text/plain";
        for (int i = 0; v.size() < n; ++i) v += "; p" + QByteArray::number(i) + "=v";
        return v + "\n\n";
    }, headers);
    growthRow(only, "many headers", [](qsizetype n) { return repeated("X-A: b\n", n) + "Subject: x\n\n"; }, headers);
    growthRow(only, "headers kept on saving, folded", [](qsizetype n) { return "X-Long: " + repeated("word\n ", n) + "\n\n"; }, [](const QByteArray& b) { return mm::preservedHeaders(b).size(); });
    growthRow(only, "typed address line", [](qsizetype n) { return repeated("Ann <a@example.org>; ", n); }, [&](const QByteArray& b) { return SplitAddressLine(text(b)).size(); });
    growthRow(only, "typed address line, '<' without '>'", [](qsizetype n) { return repeated("<a; ", n); }, [&](const QByteArray& b) { return SplitAddressLine(text(b)).size(); });

    struct Shape {
        const char* name;
        std::function<QByteArray(qsizetype)> make;
    };
    const Shape shapes[] = {
        {"name in the disposition", [](qsizetype n) { return withAttachment("Content-Type: application/pdf\nContent-Disposition: attachment; filename=\"" + repeated("a", n) + ".pdf\""); }},
        {"name in the type", [](qsizetype n) { return withAttachment("Content-Type: application/pdf; name=\"" + repeated("a", n) + ".pdf\""); }},
        {"name continued (2231) on one line", [](qsizetype n) { return withAttachment("Content-Type: application/pdf\nContent-Disposition: attachment" + continued("filename", n, false)); }},
        {"name continued (2231), folded", [](qsizetype n) { return withAttachment("Content-Type: application/pdf" + continued("name", n, true)); }},
        {"name of encoded words", [](qsizetype n) { return withAttachment("Content-Type: application/pdf\nContent-Disposition: attachment; filename=\"" + repeated("=?utf-8?q?=C3=A9abc?= ", n) + "\""); }},
        {"boundary", [](qsizetype n) { return withAttachment("Content-Type: application/pdf; name=a.pdf", repeated("b", n)); }},
        {"parameters of a part", [](qsizetype n) {
             QByteArray d = "Content-Type: application/pdf";
             for (int i = 0; d.size() < n; ++i) d += "; p" + QByteArray::number(i) + "=v";
             return withAttachment(d);
         }},
        {"parts", [](qsizetype n) {
             QByteArray m = "From: a@example.org\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n";
             while (m.size() < n) m += "--b\nContent-Type: application/pdf; name=a.pdf\n\nx\n";
             return m + "--b--\n";
         }},
        {"nesting (GMime's)", [](qsizetype n) { return nested(n); }},
    };
    for (const Shape& shape : shapes) {
        growthRow(only, qPrintable(QStringLiteral("listing scan, ") + shape.name), shape.make, [](const QByteArray& b) { return mm::scanStructure(b).attachments.size(); });
        growthRow(only, qPrintable(QStringLiteral("body parse, ") + shape.name), shape.make, [](const QByteArray& b) { return mm::parseStructure(b).attachments.size(); });
        growthRow(only, qPrintable(QStringLiteral("attachment contents, ") + shape.name), shape.make, [](const QByteArray& b) {
            bool ok = false;
            return mm::attachmentContents(b, &ok).size();
        });
    }
    // Through the folder: listing it, reading the body, saving the attachment.
    const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
    const QString saved = home + QStringLiteral("/growth.bin");
    for (const Shape& shape : {shapes[0], shapes[3]}) {
        auto store = [&](qsizetype n) {
            const ItemsPtr old = inbox->Items();
            for (int i = old->Count(); i >= 1; --i) QFile::remove(AsMailItem(old->Item(i))->FilePath());
            inbox->AddMessageFile(shape.make(n));
            return QByteArray();
        };
        growthRow(only, qPrintable(QStringLiteral("folder listing, ") + shape.name), store, [&](const QByteArray&) { return AsMailItem(inbox->Items()->Item(1))->Attachments().Count(); });
        growthRow(only, qPrintable(QStringLiteral("folder body, ") + shape.name), store, [&](const QByteArray&) { return AsMailItem(inbox->Items()->Item(1))->Body().size(); });
        growthRow(only, qPrintable(QStringLiteral("folder saving, ") + shape.name), store, [&](const QByteArray&) {
            AsMailItem(inbox->Items()->Item(1))->Attachments().Item(1)->SaveAsFile(saved);
            return 1;
        });
    }
    growthRow(only, "HTML to text", [](qsizetype n) { return repeated("<p>a&amp;b</p>", n); }, [&](const QByteArray& b) { return mm::htmlToText(text(b)).size(); });
    growthRow(only, "HTML to text, '<' without '>'", [](qsizetype n) { return repeated("< ", n); }, [&](const QByteArray& b) { return mm::htmlToText(text(b)).size(); });

    auto csv = [](const QByteArray& b) {
        DelimitedReader r;
        r.SetBytes(b);
        QStringList values;
        qsizetype count = 0;
        while (!r.AtEnd()) {
            r.ReadLine(values);
            count += values.size();
        }
        return count;
    };
    growthRow(only, "CSV, one quoted field of doubled quotes", [](qsizetype n) { return "a,\"" + repeated("x\"\"", n) + "\",b\n"; }, csv);
    growthRow(only, "CSV, one unquoted field", [](qsizetype n) { return "a," + repeated("x", n) + ",b\n"; }, csv);
    growthRow(only, "CSV, one record of many fields", [](qsizetype n) { return repeated("a,", n) + "b\n"; }, csv);
    growthRow(only, "CSV, text after closing quotes", [](qsizetype n) { return repeated("\"a\"b,", n); }, csv);
    growthRow(only, "CSV, an unclosed quote", [](qsizetype n) { return "\"" + repeated("a,\n", n); }, csv);

    // A contact file is read up to its first megabyte.
    const FolderPtr contacts = ns->GetDefaultFolder(olFolderContacts);
    auto card = [&](const QByteArray& body) {
        QFile f(contacts->Path() + QStringLiteral("/growth.vcf"));
        if (f.open(QIODevice::WriteOnly)) f.write("BEGIN:VCARD\nVERSION:3.0\n" + body + "\nEND:VCARD\n");
        return QByteArray();
    };
    auto listContacts = [&](const QByteArray&) { return contacts->Items()->Count(); };
    growthRow(only, "vCard, one long name", [&](qsizetype n) { return card("FN:" + repeated("a", n)); }, listContacts);
    growthRow(only, "vCard, a name folded", [&](qsizetype n) { return card("FN:" + repeated("a\n ", n)); }, listContacts);
    growthRow(only, "vCard, many components", [&](qsizetype n) { return card("ADR:" + repeated("a;", n)); }, listContacts);
    growthRow(only, "vCard, many types", [&](qsizetype n) { return card("TEL;TYPE=" + repeated("home,", n) + ":1"); }, listContacts);
    growthRow(only, "vCard, many properties", [&](qsizetype n) { return card(repeated("EMAIL:a@example.org\n", n)); }, listContacts);
    QFile::remove(contacts->Path() + QStringLiteral("/growth.vcf"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    auto app = std::make_shared<mail::Application>();
    mail::NameSpacePtr ns = app->GetNamespace(QStringLiteral("MAPI"));
    if (argc > 1) {
        readerGrowth(QString::fromLocal8Bit(argv[1]), ns, home.path());
        return 0;
    }

    const QString ordinary = repeatTo(QStringLiteral("<tr><td class=\"c\"><p>Autumn <b>offers</b> &amp; more for our "
                                                     "members.<br>See you soon!</p></td></tr>\n"),
                                      kHtmlSize);
    int refChars = 0;
    double ref = 1e18;
    for (int round = 0; round < 3; ++round) ref = std::min(ref, msFor(ordinary, &refChars));
    std::printf("HTML to text, ordinary %d KB body: %.1f ms (%d characters)\n", kHtmlSize / 1024, ref, refChars);
    const struct {
        const char* name;
        QString unit;
    } shapes[] = {
        {"unclosed <script> tags", QStringLiteral("<script>x")},
        {"unclosed comments", QStringLiteral("<!--x")},
        {"'<' without '>'", QStringLiteral("<a x")},
        {"'<br' without '>'", QStringLiteral("<br ")},
        {"blank runs", QStringLiteral("      x")},
        {"entity-like runs", QStringLiteral("&abcdefghijklmnopqrstuvwxyz#")},
    };
    double worst = 0;
    for (const auto& shape : shapes) {
        int chars = 0;
        const double ms = msFor(repeatTo(shape.unit, kHtmlSize), &chars);
        worst = std::max(worst, ms);
        std::printf("HTML to text, %d KB of %s: %.1f ms, ratio to ordinary %.2f\n", kHtmlSize / 1024, shape.name, ms, ms / ref);
    }
    std::printf("worst ratio to ordinary: %.2f (aim: at most 3)\n", worst / ref);

    const QByteArray whole = bigMessage();
    const mail::MailItemPtr stored = ns->GetDefaultFolder(mail::olFolderInbox)->AddMessageFile(whole);
    QDir(home.path()).mkpath(QStringLiteral("ref"));
    QDir(home.path()).mkpath(QStringLiteral("ours"));
    int refCount = 0, ours = 0;
    const double gm = gmimeAlone(whole, home.path() + QStringLiteral("/ref"), &refCount);
    const double our = saveAll(stored, home.path() + QStringLiteral("/ours"), &ours);
    std::printf("message of %d attachments (%d KB): GMime alone, one parse and write each: %.1f ms (%d files)\n", kParts,
                int(whole.size() / 1024), gm, refCount);
    std::printf("message of %d attachments: SaveAsFile of each through the mail host: %.1f ms (%d files)\n", kParts, our, ours);
    std::printf("ratio ours / GMime alone: %.2f (aim: at most 3)\n", our / gm);
    readerGrowth(QString(), ns, home.path());
    return ours == kParts && refCount == kParts ? 0 : 2;
}

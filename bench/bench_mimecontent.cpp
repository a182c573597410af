// Mail content on hostile shapes.
// 1. HTML to text (the plain part of an HTML message, the preview of an HTML-only message) on
//    360 KB bodies built to make a backtracking scan quadratic, against an ordinary newsletter
//    body of the same size: a linear conversion takes about the same time on both.
// 2. Saving every attachment of a 2,500-part message through the mail host, against GMime alone
//    parsing the message once and writing each part: the floor for any GMime-based reader.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeUtil.h"

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());

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

    auto app = std::make_shared<mail::Application>();
    mail::NameSpacePtr ns = app->GetNamespace(QStringLiteral("MAPI"));
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
    return ours == kParts && refCount == kParts ? 0 : 2;
}

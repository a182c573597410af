#include "platform/mail/MimeUtil.h"

#include <QMimeDatabase>

#include "platform/mail/MimeQuick.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <QStringDecoder>

#include <QFile>
#include <QHash>

#include <fcntl.h>
#include <functional>
#include <gmime/gmime.h>
#include <mutex>
#include <unistd.h>

namespace mail::mime {

namespace {
std::atomic<bool> quickReaders{true};
} // namespace

void useQuickReaders(bool on) { quickReaders = on; }

void ensureInit()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

QString hostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0])
        return QStringLiteral("localhost");
    return QString::fromLocal8Bit(buf);
}

namespace {

bool isValidUtf8(const QByteArray& bytes)
{
    return g_utf8_validate(bytes.constData(), bytes.size(), nullptr);
}

// Bytes to UTF-8 for GMime: raw 8-bit text that is not UTF-8 is taken as Latin-1.
QByteArray toUtf8(const QByteArray& raw)
{
    if (isValidUtf8(raw))
        return raw;
    return QString::fromLatin1(raw).toUtf8();
}

QString fromCharset(const QByteArray& bytes, const char* charset)
{
    if (charset && *charset && g_ascii_strcasecmp(charset, "utf-8") != 0 && g_ascii_strcasecmp(charset, "us-ascii") != 0) {
        iconv_t cd = g_mime_iconv_open("UTF-8", charset);
        if (cd != (iconv_t)-1) {
            char* out = g_mime_iconv_strndup(cd, bytes.constData(), size_t(bytes.size()));
            g_mime_iconv_close(cd);
            if (out) {
                QString s = QString::fromUtf8(out);
                g_free(out);
                return s;
            }
        }
    }
    // Unknown or lying charsets: take the bytes as UTF-8 when they are, else Latin-1.
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QDateTime fromGDateTime(GDateTime* dt)
{
    if (!dt)
        return {};
    const qint64 secs = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    // Kept in UTC: local-time conversion is costly and only wanted when shown.
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

QDateTime parseDate(const QByteArray& raw)
{
    const QByteArray v = raw.trimmed();
    if (v.isEmpty())
        return {};
    qint64 secs = 0;
    if (quickReaders && quick::date(v, secs))
        return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
    return fromGDateTime(g_mime_utils_header_decode_date(toUtf8(v).constData()));
}

struct RawHeader {
    QByteArray name;   // lower case
    QByteArray value;  // unfolded, raw
    QByteArray lines;  // the header as it stands in the file, line breaks included
};

// Splits a header block into headers. Stops at the blank line, or at the first line that is
// neither a header nor a continuation (a file without headers has none).
QList<RawHeader> splitHeaders(const QByteArray& block)
{
    QList<RawHeader> out;
    int pos = 0;
    const int n = block.size();
    if (block.startsWith("From ")) {  // an mbox separator line left in front
        const int nl = block.indexOf('\n');
        pos = nl < 0 ? n : nl + 1;
    }
    while (pos < n) {
        int nl = block.indexOf('\n', pos);
        if (nl < 0)
            nl = n;
        QByteArray line = block.mid(pos, nl - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = nl + 1;
        if (line.isEmpty())
            break;
        if ((line.at(0) == ' ' || line.at(0) == '\t')) {
            if (out.isEmpty())
                break;
            out.last().value += line;
            out.last().lines += '\n' + line;
            continue;
        }
        const int colon = line.indexOf(':');
        if (colon <= 0)
            break;
        QByteArray name = line.left(colon).trimmed().toLower();
        if (name.contains(' ') || name.contains('\t'))
            break;
        out.append({name, line.mid(colon + 1), line});
    }
    return out;
}

// The mailboxes of list, those of its groups in their place, appended to out.
void addressesFrom(InternetAddressList* list, QList<Address>& out)
{
    if (!list)
        return;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            addressesFrom(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            const char* name = internet_address_get_name(ia);
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
            Address a{QString::fromUtf8(name ? name : "").trimmed(), QString::fromUtf8(addr ? addr : "").trimmed()};
            if (!a.address.isEmpty() || !a.name.isEmpty())
                out.append(a);
        }
    }
}

// GMime reads a group opened inside a group by recursion, a level for each ':' not yet closed:
// a header of a great many would overflow the stack. Past any real header's count, every ':'
// and ';' separates addresses as a comma does, so no group is read at all.
constexpr qsizetype kMaxGroupMarks = 1000;

QList<Address> parseAddressBytes(const QByteArray& raw)
{
    QByteArray v = toUtf8(raw.trimmed());
    if (v.isEmpty())
        return {};
    QList<Address> quickly;
    if (quickReaders && quick::addresses(v, quickly))
        return quickly;
    if (v.count(':') > kMaxGroupMarks)
        v.replace(':', ',').replace(';', ',');
    ensureInit();
    InternetAddressList* list = internet_address_list_parse(nullptr, v.constData());
    QList<Address> out;
    addressesFrom(list, out);
    if (list)
        g_object_unref(list);
    return out;
}

int importanceOf(const QByteArray& importance, const QByteArray& priority)
{
    const QByteArray imp = importance.trimmed().toLower();
    if (imp == "high")
        return 2;
    if (imp == "low")
        return 0;
    if (imp == "normal")
        return 1;
    const QByteArray p = priority.trimmed();
    if (!p.isEmpty()) {
        const char c = p.at(0);
        if (c == '1' || c == '2')
            return 2;
        if (c == '4' || c == '5')
            return 0;
    }
    return 1;
}

int sensitivityOf(const QByteArray& raw)
{
    const QByteArray v = raw.trimmed().toLower();
    if (v == "personal")
        return 1;
    if (v == "private")
        return 2;
    if (v == "company-confidential" || v == "confidential")
        return 3;
    return 0;
}

QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    QByteArray out(reinterpret_cast<const char*>(arr->data), int(arr->len));
    g_object_unref(mem);
    return out;
}

QByteArray serialized(GMimeObject* obj)
{
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(obj, nullptr, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    QByteArray out(reinterpret_cast<const char*>(arr->data), int(arr->len));
    g_object_unref(mem);
    return out;
}

QString partText(GMimePart* part)
{
    return fromCharset(decodedContent(part), g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset"));
}

GMimeMessage* parseMessage(const QByteArray& whole)
{
    ensureInit();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(whole.constData(), size_t(whole.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    return msg;
}

// Walks a message in document order: the first plain and the first HTML text that are not
// files make the body; every other leaf is an attachment. visit gets each attachment's leaf.
struct Walker {
    Structure* out = nullptr;
    std::function<void(GMimeObject*, const AttachmentInfo&)> visit;
    int attachmentCount = 0;
    bool decodeText = true;  // false: the body's parts are recognised but not read

    void addAttachment(GMimeObject* obj, const QString& name, const QString& mimeType)
    {
        AttachmentInfo info{attachmentName(++attachmentCount, name, mimeType), mimeType};
        if (out)
            out->attachments.append(info);
        if (visit)
            visit(obj, info);
    }

    void walk(GMimeObject* obj)
    {
        if (!obj)
            return;
        if (GMIME_IS_MULTIPART(obj)) {
            GMimeMultipart* mp = GMIME_MULTIPART(obj);
            const int n = g_mime_multipart_get_count(mp);
            for (int i = 0; i < n; ++i)
                walk(g_mime_multipart_get_part(mp, i));
            return;
        }
        GMimeContentType* ct = g_mime_object_get_content_type(obj);
        char* mt = ct ? g_mime_content_type_get_mime_type(ct) : nullptr;
        const QString mimeType = QString::fromUtf8(mt ? mt : "application/octet-stream").toLower();
        g_free(mt);
        if (GMIME_IS_MESSAGE_PART(obj)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
            const char* subj = inner ? g_mime_message_get_subject(inner) : nullptr;
            QString name = QString::fromUtf8(subj ? subj : "").trimmed();
            name = name.isEmpty() ? QStringLiteral("message") : name;
            addAttachment(obj, name + QStringLiteral(".eml"), mimeType);
            return;
        }
        if (!GMIME_IS_PART(obj))
            return;
        GMimePart* part = GMIME_PART(obj);
        GMimeContentDisposition* disp = g_mime_object_get_content_disposition(obj);
        const bool isFile = (disp && g_mime_content_disposition_is_attachment(disp)) || g_mime_part_get_filename(part);
        if (out && ct && g_mime_content_type_is_type(ct, "text", "calendar")) {
            const char* method = g_mime_content_type_get_parameter(ct, "method");
            if (method && g_ascii_strcasecmp(method, "request") == 0)
                out->meetingRequest = true;
        }
        const bool plain = ct && g_mime_content_type_is_type(ct, "text", "plain");
        const bool html = ct && g_mime_content_type_is_type(ct, "text", "html");
        if (!isFile && (plain || html)) {
            bool& seen = plain ? bodySeen : htmlSeen;
            if (!seen) {
                seen = true;
                if (out && decodeText)
                    (plain ? out->body : out->html) = partText(part);
                return;
            }
        }
        const char* fn = g_mime_part_get_filename(part);
        addAttachment(obj, QString::fromUtf8(fn ? fn : ""), mimeType);
    }
    bool bodySeen = false;
    bool htmlSeen = false;
};

} // namespace

QString attachmentName(int ordinal, const QString& raw, const QString& mimeType)
{
    const QString name = safeFileName(raw);
    if (name != QLatin1String("attachment") && !name.isEmpty())
        return name;
    QString suffix = QMimeDatabase().mimeTypeForName(mimeType).preferredSuffix();
    if (suffix.isEmpty())
        suffix = QStringLiteral("dat");
    return QStringLiteral("attachment%1.%2").arg(ordinal).arg(suffix);
}

MessageFile::MessageFile(const QString& path) : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}

MessageFile::~MessageFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool MessageFile::readMore(qsizetype chunk)
{
    const qsizetype old = buf_.size();
    buf_.resize(old + chunk);
    ssize_t got;
    do
        got = ::read(fd_, buf_.data() + old, size_t(chunk));
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        failed_ = true;
        buf_.resize(old);
        return false;
    }
    buf_.resize(old + qsizetype(got));
    atEnd_ = got == 0;
    return got > 0;
}

QByteArray MessageFile::headerBlock(bool* ok)
{
    *ok = false;
    if (fd_ < 0)
        return {};
    constexpr qsizetype kChunk = 16384;
    constexpr qsizetype kLimit = 4 * 1024 * 1024;  // a "header" beyond this is not one
    qsizetype scanFrom = 0;
    for (;;) {
        if (!readMore(kChunk)) {
            if (failed_)
                return {};
            break;
        }
        // The blank line ends the header block.
        if (buf_.startsWith('\n') || buf_.startsWith("\r\n")) {
            *ok = true;
            return {};
        }
        const char* data = buf_.constData();
        for (qsizetype i = std::max<qsizetype>(0, scanFrom - 2); i < buf_.size() - 1; ++i) {
            const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', size_t(buf_.size() - 1 - i)));
            if (!nl)
                break;
            i = nl - data;
            if (data[i + 1] == '\n' || (data[i + 1] == '\r' && i + 2 < buf_.size() && data[i + 2] == '\n')) {
                *ok = true;
                return buf_.left(i + 1);
            }
        }
        scanFrom = buf_.size();
        if (buf_.size() >= kLimit)
            break;
    }
    *ok = true;
    return buf_;
}

QByteArray MessageFile::whole(bool* ok)
{
    *ok = false;
    if (fd_ < 0)
        return {};
    while (!atEnd_ && !failed_)
        readMore(std::max<qsizetype>(65536, buf_.size()));
    if (failed_)
        return {};
    *ok = true;
    return buf_;
}

QByteArray readHeaderBlock(const QString& path, bool* ok)
{
    MessageFile f(path);
    return f.headerBlock(ok);
}

QString decodeHeaderText(const QByteArray& raw)
{
    const QByteArray v = toUtf8(raw.trimmed());
    if (v.isEmpty())
        return {};
    if (!v.contains("=?"))
        return QString::fromUtf8(v);
    QString quickly;
    if (quickReaders && quick::text(v, quickly))
        return quickly;
    ensureInit();
    char* dec = g_mime_utils_header_decode_text(nullptr, v.constData());
    QString out = QString::fromUtf8(dec ? dec : v.constData());
    g_free(dec);
    return out;
}

QList<Address> parseAddressList(const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char(';'), QLatin1Char(','));
    return parseAddressBytes(t.toUtf8());
}

namespace {

bool isSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The headers of block as splitHeaders reads them, copying only what must be: f gets each name
// lower-cased (a name longer than any we read comes empty) and its value unfolded.
template <class F>
void forEachHeader(const QByteArray& block, F f)
{
    const char* p = block.constData();
    const qsizetype n = block.size();
    qsizetype pos = 0;
    if (block.startsWith("From ")) {  // an mbox separator line left in front
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(n)));
        pos = nl ? nl - p + 1 : n;
    }
    char name[64];
    qsizetype nameLength = -1;  // -1: no header yet
    QByteArray value;
    auto flush = [&] {
        if (nameLength >= 0)
            f(QByteArrayView(name, nameLength), value);
    };
    while (pos < n) {
        const char* nlp = static_cast<const char*>(std::memchr(p + pos, '\n', size_t(n - pos)));
        const qsizetype nl = nlp ? nlp - p : n;
        qsizetype end = nl;
        if (end > pos && p[end - 1] == '\r')
            --end;
        const qsizetype start = pos;
        pos = nl + 1;
        if (end == start)
            break;
        if (p[start] == ' ' || p[start] == '\t') {
            if (nameLength < 0)
                break;
            value.append(p + start, end - start);
            continue;
        }
        const char* colonp = static_cast<const char*>(std::memchr(p + start, ':', size_t(end - start)));
        if (!colonp || colonp == p + start)
            break;
        qsizetype a = start, b = colonp - p;
        while (a < b && isSpaceByte(p[a]))
            ++a;
        while (b > a && isSpaceByte(p[b - 1]))
            --b;
        if (std::memchr(p + a, ' ', size_t(b - a)) || std::memchr(p + a, '\t', size_t(b - a)))
            break;
        flush();
        nameLength = b - a <= qsizetype(sizeof name) ? b - a : 0;
        for (qsizetype i = 0; i < nameLength; ++i)
            name[i] = (p[a + i] >= 'A' && p[a + i] <= 'Z') ? char(p[a + i] - 'A' + 'a') : p[a + i];
        value = QByteArray(colonp + 1, end - (colonp - p) - 1);
    }
    flush();
}

// The common type names are one shared string each, not one per message of a listing.
QString shared(const QByteArray& name)
{
    static const QString common[] = {QStringLiteral("text"), QStringLiteral("plain"), QStringLiteral("html"),
                                     QStringLiteral("multipart"), QStringLiteral("mixed"), QStringLiteral("alternative"),
                                     QStringLiteral("related")};
    for (const QString& c : common)
        if (QLatin1String(name) == c)
            return c;
    return QString::fromLatin1(name);
}

} // namespace

HeaderSummary parseHeaders(const QByteArray& block)
{
    HeaderSummary s;
    s.mediaType = QStringLiteral("text");
    s.subType = QStringLiteral("plain");
    QByteArray importance, priority, receivedRaw, deliveryDate;
    bool haveReceived = false;
    static const QByteArray deleteAfterSubmitName = QByteArray(kDeleteAfterSubmitHeader).toLower();
    static const QByteArray accountName = QByteArray(kAccountHeader).toLower();
    forEachHeader(block, [&](QByteArrayView n, const QByteArray& value) {
        if (n == "subject")
            s.subject = decodeHeaderText(value);
        else if (n == "from")
            s.from = parseAddressBytes(value);
        else if (n == "to")
            s.to += parseAddressBytes(value);
        else if (n == "cc")
            s.cc += parseAddressBytes(value);
        else if (n == "bcc")
            s.bcc += parseAddressBytes(value);
        else if (n == "reply-to")
            s.replyTo = parseAddressBytes(value);
        else if (n == "date")
            s.date = parseDate(value);
        else if (n == "received" && !haveReceived) {
            haveReceived = true;  // the newest hop is the first one
            const int semi = value.lastIndexOf(';');
            if (semi >= 0)
                receivedRaw = value.mid(semi + 1);
        } else if (n == "delivery-date")
            deliveryDate = value;
        else if (n == "importance")
            importance = value;
        else if (n == "x-priority")
            priority = value;
        else if (n == "sensitivity")
            s.sensitivity = sensitivityOf(value);
        else if (n == "disposition-notification-to")
            s.readReceipt = true;
        else if (n == deleteAfterSubmitName)
            s.deleteAfterSubmit = value.trimmed().toLower() == "yes";
        else if (n == accountName)
            s.account = decodeHeaderText(value.trimmed());
        else if (n == "message-id")
            s.messageId = QString::fromLatin1(value.trimmed()).remove(QLatin1Char('<')).remove(QLatin1Char('>'));
        else if (n == "content-class")
            s.calendarClass = value.toLower().contains("calendarmessage");
        else if (n == "content-type") {
            quick::Params p;
            if (quickReaders && quick::contentType(value, p)) {
                s.mediaType = shared(p.type);
                s.subType = shared(p.subtype);
                const QByteArray* method = p.value("method");
                s.calendarMethod = method ? QString::fromLatin1(*method).toLower() : QString();
                if (p.value("name"))
                    s.topLevelAttachment = true;
                return;
            }
            ensureInit();
            GMimeContentType* ct = g_mime_content_type_parse(nullptr, toUtf8(value.trimmed()).constData());
            if (ct) {
                const char* mt = g_mime_content_type_get_media_type(ct);
                const char* st = g_mime_content_type_get_media_subtype(ct);
                if (mt && st) {
                    s.mediaType = QString::fromUtf8(mt).toLower();
                    s.subType = QString::fromUtf8(st).toLower();
                }
                const char* method = g_mime_content_type_get_parameter(ct, "method");
                s.calendarMethod = QString::fromUtf8(method ? method : "").toLower();
                if (g_mime_content_type_get_parameter(ct, "name"))
                    s.topLevelAttachment = true;
                g_object_unref(ct);
            }
        } else if (n == "content-disposition") {
            const QByteArray v = value.trimmed().toLower();
            if (v.startsWith("attachment") || v.contains("filename"))
                s.topLevelAttachment = true;
        }
    });
    s.importance = importanceOf(importance, priority);
    s.received = parseDate(receivedRaw);
    if (!s.received.isValid())
        s.received = parseDate(deliveryDate);
    if (s.mediaType != QLatin1String("text") && s.mediaType != QLatin1String("multipart"))
        s.topLevelAttachment = true;
    return s;
}

QByteArray preservedHeaders(const QByteArray& block)
{
    static const QList<QByteArray> written = {
        "from", "to", "cc", "bcc", "reply-to", "subject", "date", "importance", "x-priority", "sensitivity",
        "disposition-notification-to", "mime-version", "message-id", "in-reply-to",
        QByteArray(kDeleteAfterSubmitHeader).toLower(), QByteArray(kAccountHeader).toLower(),
        QByteArray(kAccountIdHeader).toLower(),
    };
    QByteArray out;
    for (const RawHeader& h : splitHeaders(block)) {
        if (written.contains(h.name) || h.name.startsWith("content-"))
            continue;
        out += h.lines + '\n';
    }
    return out;
}

Structure parseStructure(const QByteArray& whole)
{
    Structure s;
    GMimeMessage* msg = parseMessage(whole);
    if (!msg) {
        s.body = isValidUtf8(whole) ? QString::fromUtf8(whole) : QString::fromLatin1(whole);
        return s;
    }
    s.parsed = true;
    Walker w;
    w.out = &s;
    w.walk(g_mime_message_get_mime_part(msg));
    g_object_unref(msg);
    return s;
}

Structure scanStructure(const QByteArray& whole)
{
    Structure s;
    if (quickReaders && quick::structure(whole, s))
        return s;
    GMimeMessage* msg = parseMessage(whole);
    if (!msg)
        return s;
    s.parsed = true;
    Walker w;
    w.out = &s;
    w.decodeText = false;
    w.walk(g_mime_message_get_mime_part(msg));
    g_object_unref(msg);
    return s;
}

QList<QByteArray> attachmentContents(const QByteArray& whole, bool* ok)
{
    *ok = false;
    GMimeMessage* msg = parseMessage(whole);
    if (!msg)
        return {};
    QList<QByteArray> result;
    Walker w;
    w.visit = [&](GMimeObject* obj, const AttachmentInfo&) {
        if (GMIME_IS_MESSAGE_PART(obj)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(obj));
            result.append(inner ? serialized(GMIME_OBJECT(inner)) : QByteArray());
        } else {
            result.append(decodedContent(GMIME_PART(obj)));
        }
    };
    w.walk(g_mime_message_get_mime_part(msg));
    g_object_unref(msg);
    *ok = true;
    return result;
}

namespace {

void addAddresses(GMimeMessage* msg, GMimeAddressType type, const QList<Address>& list)
{
    InternetAddressList* l = g_mime_message_get_addresses(msg, type);
    for (const Address& a : list) {
        InternetAddress* ia = internet_address_mailbox_new(a.name.toUtf8().constData(), a.address.toUtf8().constData());
        internet_address_set_charset(ia, "utf-8");
        internet_address_list_add(l, ia);
        g_object_unref(ia);
    }
}

GMimeObject* textPart(const char* subtype, const QString& text)
{
    // Always UTF-8 (or plain ASCII): never a guessed legacy charset.
    GMimeTextPart* tp = g_mime_text_part_new_with_subtype(subtype);
    const QByteArray utf8 = text.toUtf8();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(utf8.constData(), size_t(utf8.size()));
    GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(GMIME_PART(tp), wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return (unsigned char)c < 0x80; });
    g_mime_text_part_set_charset(tp, ascii ? "us-ascii" : "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(tp), g_mime_part_get_best_content_encoding(GMIME_PART(tp), GMIME_ENCODING_CONSTRAINT_7BIT));
    return GMIME_OBJECT(tp);
}

QString attachmentType(const OutgoingAttachment& a)
{
    if (!a.mimeType.isEmpty() && a.mimeType.contains(QLatin1Char('/')))
        return a.mimeType;
    return QMimeDatabase().mimeTypeForFile(a.fileName, QMimeDatabase::MatchExtension).name();
}

// The content of an attachment part: its bytes, or the bytes already encoded as base64.
GMimeDataWrapper* attachmentContent(const OutgoingAttachment& a)
{
    const QByteArray& bytes = a.encoded.isEmpty() ? a.content : a.encoded;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(
        stream, a.encoded.isEmpty() ? GMIME_CONTENT_ENCODING_DEFAULT : GMIME_CONTENT_ENCODING_BASE64);
    g_object_unref(stream);
    return wrapper;
}

} // namespace

OutgoingAttachment encodeAttachment(const OutgoingAttachment& a)
{
    ensureInit();
    OutgoingAttachment out = a;
    out.mimeType = attachmentType(a);
    out.encoded.clear();
    GMimePart* part = g_mime_part_new();
    GMimeDataWrapper* wrapper = attachmentContent(out);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_object_write_content_to_stream(GMIME_OBJECT(part), nullptr, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    out.encoded = QByteArray(reinterpret_cast<const char*>(arr->data), qsizetype(arr->len));
    g_object_unref(mem);
    g_object_unref(part);
    return out;
}

QByteArray buildMessage(const OutgoingMessage& m)
{
    ensureInit();
    GMimeMessage* msg = g_mime_message_new(TRUE);
    if (!m.from.address.isEmpty() || !m.from.name.isEmpty())
        addAddresses(msg, GMIME_ADDRESS_TYPE_FROM, {m.from});
    addAddresses(msg, GMIME_ADDRESS_TYPE_TO, m.to);
    addAddresses(msg, GMIME_ADDRESS_TYPE_CC, m.cc);
    addAddresses(msg, GMIME_ADDRESS_TYPE_BCC, m.bcc);
    addAddresses(msg, GMIME_ADDRESS_TYPE_REPLY_TO, m.replyTo);
    g_mime_message_set_subject(msg, m.subject.toUtf8().constData(), "utf-8");
    const QDateTime when = m.date.isValid() ? m.date : QDateTime::currentDateTime();
    GDateTime* gdt = g_date_time_new_from_unix_local(when.toSecsSinceEpoch());
    g_mime_message_set_date(msg, gdt);
    g_date_time_unref(gdt);
    if (m.messageId.isEmpty()) {
        char* id = g_mime_utils_generate_message_id(hostName().toUtf8().constData());
        g_mime_message_set_message_id(msg, id);
        g_free(id);
    } else {
        g_mime_message_set_message_id(msg, m.messageId.toUtf8().constData());
    }
    GMimeObject* obj = GMIME_OBJECT(msg);
    if (!m.inReplyTo.isEmpty())
        g_mime_object_set_header(obj, "In-Reply-To", m.inReplyTo.constData(), nullptr);
    if (m.importance == 2) {
        g_mime_object_set_header(obj, "Importance", "high", nullptr);
        g_mime_object_set_header(obj, "X-Priority", "1", nullptr);
    } else if (m.importance == 0) {
        g_mime_object_set_header(obj, "Importance", "low", nullptr);
        g_mime_object_set_header(obj, "X-Priority", "5", nullptr);
    }
    static const char* const sensitivities[] = {nullptr, "Personal", "Private", "Company-Confidential"};
    if (m.sensitivity >= 1 && m.sensitivity <= 3)
        g_mime_object_set_header(obj, "Sensitivity", sensitivities[m.sensitivity], nullptr);
    if (m.readReceipt) {
        // The request stands even before a sender is known (an empty group until then).
        const QByteArray to = m.from.address.toUtf8();
        g_mime_object_set_header(obj, "Disposition-Notification-To", to.isEmpty() ? "undisclosed-recipients:;" : to.constData(), nullptr);
    }
    if (m.deleteAfterSubmit)
        g_mime_object_set_header(obj, kDeleteAfterSubmitHeader, "yes", nullptr);
    if (!m.account.isEmpty())
        g_mime_object_set_header(obj, kAccountHeader, m.account.toUtf8().constData(), "utf-8");
    if (!m.accountId.isEmpty())
        g_mime_object_set_header(obj, kAccountIdHeader, m.accountId.toUtf8().constData(), "utf-8");

    GMimeObject* body = nullptr;
    if (m.html.isEmpty()) {
        body = textPart("plain", m.body);
    } else {
        GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
        GMimeObject* plain = textPart("plain", m.body.isEmpty() ? htmlToText(m.html) : m.body);
        GMimeObject* html = textPart("html", m.html);
        g_mime_multipart_add(alt, plain);
        g_mime_multipart_add(alt, html);
        g_object_unref(plain);
        g_object_unref(html);
        body = GMIME_OBJECT(alt);
    }
    if (!m.attachments.isEmpty()) {
        GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
        g_mime_multipart_add(mixed, body);
        g_object_unref(body);
        for (const OutgoingAttachment& a : m.attachments) {
            const QStringList tp = attachmentType(a).split(QLatin1Char('/'));
            GMimePart* part = g_mime_part_new_with_type(tp.value(0).toUtf8().constData(), tp.value(1).toUtf8().constData());
            GMimeDataWrapper* wrapper = attachmentContent(a);
            g_mime_part_set_content(part, wrapper);
            g_object_unref(wrapper);
            // The file name in UTF-8 (RFC 2231 where it is not plain ASCII).
            const QByteArray name = a.fileName.toUtf8();
            GMimeContentDisposition* disp = g_mime_content_disposition_new();
            g_mime_content_disposition_set_disposition(disp, GMIME_DISPOSITION_ATTACHMENT);
            g_mime_content_disposition_set_parameter(disp, "filename", name.constData());
            g_mime_param_set_charset(g_mime_param_list_get_parameter(g_mime_content_disposition_get_parameters(disp), "filename"), "utf-8");
            g_mime_object_set_content_disposition(GMIME_OBJECT(part), disp);
            g_object_unref(disp);
            GMimeContentType* ct = g_mime_object_get_content_type(GMIME_OBJECT(part));
            g_mime_content_type_set_parameter(ct, "name", name.constData());
            g_mime_param_set_charset(g_mime_param_list_get_parameter(g_mime_content_type_get_parameters(ct), "name"), "utf-8");
            g_mime_object_set_content_type(GMIME_OBJECT(part), ct);
            g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
            g_mime_multipart_add(mixed, GMIME_OBJECT(part));
            g_object_unref(part);
        }
        body = GMIME_OBJECT(mixed);
    }
    g_mime_message_set_mime_part(msg, body);
    g_object_unref(body);
    QByteArray out = m.preserved + serialized(obj);
    g_object_unref(msg);
    return out;
}

namespace {

bool isWordChar(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
           || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
}

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\f')
           || c == QLatin1Char('\v');
}

// The first place at or after from where needle stands, remembered: the passes below ask with
// rising starts, so each answer is searched for once and the whole pass stays linear.
class Finder {
public:
    Finder(const QString& s, QStringView needle, Qt::CaseSensitivity cs = Qt::CaseSensitive) : s_(s), needle_(needle), cs_(cs) {}
    qsizetype from(qsizetype pos)
    {
        if (known_ && (found_ < 0 || pos <= found_) && pos >= asked_) return found_;
        asked_ = pos;
        found_ = s_.indexOf(needle_, pos, cs_);
        known_ = true;
        return found_;
    }

private:
    const QString& s_;
    QStringView needle_;
    Qt::CaseSensitivity cs_;
    bool known_ = false;
    qsizetype asked_ = 0, found_ = -1;
};

// A tag name (case ignored) at pos, ended by a character that cannot continue a word.
bool nameAt(const QString& s, qsizetype pos, QLatin1String name)
{
    if (pos + name.size() > s.size() || QStringView(s).mid(pos, name.size()).compare(name, Qt::CaseInsensitive) != 0) return false;
    return pos + name.size() == s.size() || !isWordChar(s.at(pos + name.size()));
}

// Script, style and head elements go whole: "<name ...>" up to the first "</name>" (blanks
// allowed before its ">"); an element that is never closed stays.
QString dropElements(const QString& s)
{
    static constexpr QLatin1String names[] = {QLatin1String("script"), QLatin1String("style"), QLatin1String("head")};
    Finder gt(s, u">");
    Finder closers[] = {{s, u"</script", Qt::CaseInsensitive}, {s, u"</style", Qt::CaseInsensitive}, {s, u"</head", Qt::CaseInsensitive}};
    // Where each name's next real closing tag ends; -2: not looked for yet.
    qsizetype closeStart[3] = {-2, -2, -2}, closeEnd[3] = {-2, -2, -2};
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0, copied = 0;
    while ((pos = s.indexOf(QLatin1Char('<'), pos)) >= 0) {
        int k = 0;
        while (k < 3 && !nameAt(s, pos + 1, names[k])) ++k;
        const qsizetype open = k < 3 ? gt.from(pos + 1 + names[k].size()) : -1;
        if (open < 0) {
            ++pos;
            continue;
        }
        if (closeStart[k] != -1 && closeStart[k] <= open) {
            // The answer kept is behind us: look again from here.
            qsizetype c = closers[k].from(open + 1);
            closeStart[k] = closeEnd[k] = -1;
            while (c >= 0) {
                qsizetype e = c + 2 + names[k].size();
                while (e < s.size() && isSpace(s.at(e))) ++e;
                if (e < s.size() && s.at(e) == QLatin1Char('>')) {
                    closeStart[k] = c;
                    closeEnd[k] = e + 1;
                    break;
                }
                c = closers[k].from(c + 1);
            }
        }
        if (closeStart[k] < 0) {
            ++pos;
            continue;
        }
        out += QStringView(s).mid(copied, pos - copied);
        pos = copied = closeEnd[k];
    }
    out += QStringView(s).mid(copied);
    return out;
}

// Drops every span from an opener to the first closer after it; an opener left unclosed stays.
template <typename Open, typename Close>
QString dropSpans(const QString& s, Open opener, qsizetype openerSize, Close closer, qsizetype closerSize)
{
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = s.indexOf(opener, pos);
        const qsizetype close = open < 0 ? -1 : s.indexOf(closer, open + openerSize);
        if (close < 0) break;
        out += QStringView(s).mid(pos, open - pos);
        pos = close + closerSize;
    }
    out += QStringView(s).mid(pos);
    return out;
}

QString dropComments(const QString& s)
{
    return dropSpans(s, QLatin1String("<!--"), 4, QLatin1String("-->"), 3);
}

// Tags that end a line become a line break, first, so that a stray "<" before one cannot swallow it.
QString breakTags(const QString& s)
{
    static constexpr QLatin1String breaking[] = {
        QLatin1String("br"), QLatin1String("/p"), QLatin1String("/div"), QLatin1String("/tr"), QLatin1String("/li"),
        QLatin1String("/h1"), QLatin1String("/h2"), QLatin1String("/h3"), QLatin1String("/h4"), QLatin1String("/h5"),
        QLatin1String("/h6"), QLatin1String("p"), QLatin1String("div"), QLatin1String("tr"), QLatin1String("li")};
    Finder gt(s, u">");
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0, copied = 0;
    while ((pos = s.indexOf(QLatin1Char('<'), pos)) >= 0) {
        qsizetype name = pos + 1;
        while (name < s.size() && isSpace(s.at(name))) ++name;
        const bool breaks = std::any_of(std::begin(breaking), std::end(breaking), [&](QLatin1String n) { return nameAt(s, name, n); });
        const qsizetype end = breaks ? gt.from(name) : -1;
        if (end < 0) {
            ++pos;
            continue;
        }
        out += QStringView(s).mid(copied, pos - copied);
        out += QLatin1Char('\n');
        pos = copied = end + 1;
    }
    out += QStringView(s).mid(copied);
    return out;
}

QString dropTags(const QString& s)
{
    return dropSpans(s, QLatin1Char('<'), 1, QLatin1Char('>'), 1);
}

// A run of blanks becomes one blank, or its line breaks (at most two) when it holds any.
QString squeezeBlanks(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s.at(i);
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            out += c;
            ++i;
            continue;
        }
        int breaks = 0;
        for (; i < s.size(); ++i) {
            const QChar b = s.at(i);
            if (b == QLatin1Char('\n')) ++breaks;
            else if (b != QLatin1Char(' ') && b != QLatin1Char('\t') && b != QLatin1Char('\r')) break;
        }
        if (breaks == 0) out += QLatin1Char(' ');
        else out += QString(std::min(breaks, 2), QLatin1Char('\n'));
    }
    return out;
}

QString decodeEntities(const QString& s)
{
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")}, {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")}, {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")}, {QStringLiteral("nbsp"), QString(QChar(0xA0))},
    };
    auto isDigit = [](QChar c, bool hex) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
               || (hex && ((c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))));
    };
    auto isLetter = [](QChar c) { return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')); };
    QString out;
    out.reserve(s.size());
    qsizetype pos = 0, copied = 0;
    while ((pos = s.indexOf(QLatin1Char('&'), pos)) >= 0) {
        // "&name;", "&#digits;" or "&#xhex;"
        qsizetype i = pos + 1;
        const bool numeric = i < s.size() && s.at(i) == QLatin1Char('#');
        const bool hex = numeric && i + 1 < s.size() && (s.at(i + 1) == QLatin1Char('x') || s.at(i + 1) == QLatin1Char('X'));
        i += numeric ? (hex ? 2 : 1) : 0;
        const qsizetype first = i;
        while (i < s.size() && (numeric ? isDigit(s.at(i), hex) : isLetter(s.at(i)))) ++i;
        if (i == first || i >= s.size() || s.at(i) != QLatin1Char(';')) {
            pos = std::max(pos + 1, i);
            continue;
        }
        const QString e = s.mid(first, i - first);
        QString rep = s.mid(pos, i + 1 - pos);
        bool ok = true;
        const uint code = numeric ? e.toUInt(&ok, hex ? 16 : 10) : 0;
        if (numeric && ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
            const char32_t c = char32_t(code);
            rep = QString::fromUcs4(&c, 1);
        } else if (!numeric) {
            rep = named.value(e.toLower(), rep);
        }
        out += QStringView(s).mid(copied, pos - copied);
        out += rep;
        pos = copied = i + 1;
    }
    out += QStringView(s).mid(copied);
    return out;
}

} // namespace

// Each pass is one scan from left to right, so the time grows with the text's length whatever
// the markup (unclosed elements and comments included).
QString htmlToText(const QString& html)
{
    QString s = dropComments(dropElements(html));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return decodeEntities(squeezeBlanks(dropTags(breakTags(s)))).trimmed();
}

namespace {

// How many UTF-16 units of s make at most maxBytes bytes of UTF-8, whole characters only: a
// surrogate pair is one character of four bytes, and a lone surrogate counts as the three
// bytes of the replacement character, the most an encoder writes for it.
qsizetype utf8Prefix(QStringView s, qsizetype maxBytes)
{
    qsizetype bytes = 0, i = 0;
    while (i < s.size()) {
        const char16_t c = s[i].unicode();
        qsizetype units = 1, length = 3;
        if (c < 0x80)
            length = 1;
        else if (c < 0x800)
            length = 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            units = 2;
            length = 4;
        }
        if (bytes + length > maxBytes)
            break;
        bytes += length;
        i += units;
    }
    return i;
}

} // namespace

QString safeFileName(const QString& name)
{
    QStringView s = name;
    const qsizetype cut = qMax(s.lastIndexOf(QLatin1Char('/')), s.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0)
        s = s.mid(cut + 1);
    QString clean;
    clean.reserve(s.size());
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char(':'))
            continue;
        clean += c;
    }
    clean = clean.trimmed();
    qsizetype hidden = 0;
    while (hidden < clean.size() && (clean.at(hidden) == QLatin1Char('.') || clean.at(hidden) == QLatin1Char(' ')))
        ++hidden;
    // One cut to at most 200 bytes, as the name is written: a name of any length costs one pass.
    clean = clean.mid(hidden, utf8Prefix(QStringView(clean).mid(hidden), 200));
    if (clean.isEmpty())
        clean = QStringLiteral("attachment");
    return clean;
}

} // namespace mail::mime

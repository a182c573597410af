#include "platform/mail/send/Outgoing.h"

#include <QSet>

#include <gmime/gmime.h>

#include "platform/mail/MimeUtil.h"

namespace mail::send {

namespace {

struct Field {
    QByteArray name;   // lower case
    QByteArray raw;    // the field's lines as stored, without the final line break
};

QByteArray unfold(const QByteArray& raw)
{
    const qsizetype colon = raw.indexOf(':');
    QByteArray v = raw.mid(colon + 1);
    v.replace("\r\n", " ");
    v.replace('\n', ' ');
    return v.trimmed();
}

void collectAddresses(InternetAddressList* list, QStringList& out)
{
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            collectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
            out << QString::fromUtf8(addr ? addr : "");
        }
    }
}

// Control characters, and blanks other than the ASCII space.
bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control
           || (c.unicode() > 0x7f && c.isSpace());
}

// What an unquoted local part or a domain may hold besides dots: no blank, no quote, no
// parenthesis or other special; letters beyond ASCII pass, as servers taking UTF-8 accept them.
bool isAtomChar(QChar c)
{
    if (c.unicode() <= 0x20 || isControl(c))
        return false;
    return !QStringView(u"()<>[]:;@\\,\".").contains(c);
}

// Lists of addresses (the envelope header among them) are split at these, quotes or not.
bool isListSeparator(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char(';') || c == QLatin1Char('<') || c == QLatin1Char('>');
}

} // namespace

bool IsSendableAddress(const QString& address)
{
    // "-" first would read as an option on a command line.
    if (address.isEmpty() || address.startsWith(QLatin1Char('-')))
        return false;
    qsizetype at = 0;
    if (address.startsWith(QLatin1Char('"'))) {
        qsizetype i = 1;
        for (; i < address.size() && address.at(i) != QLatin1Char('"'); ++i) {
            if (address.at(i) == QLatin1Char('\\'))
                ++i;
            if (i >= address.size() || isControl(address.at(i)) || isListSeparator(address.at(i)))
                return false;
        }
        if (i >= address.size() || i == 1)
            return false;    // unclosed, or nothing quoted
        at = i + 1;
        if (at >= address.size() || address.at(at) != QLatin1Char('@'))
            return false;
    } else {
        at = address.indexOf(QLatin1Char('@'));
        if (at <= 0)
            return false;
        for (qsizetype i = 0; i < at; ++i)
            if (address.at(i) != QLatin1Char('.') && !isAtomChar(address.at(i)))
                return false;
    }
    const QStringView domain = QStringView(address).mid(at + 1);
    if (domain.startsWith(QLatin1Char('[')) && domain.endsWith(QLatin1Char(']')) && domain.size() > 2) {
        for (const QChar c : domain.mid(1, domain.size() - 2))
            if (isControl(c) || c == QLatin1Char(' ') || c == QLatin1Char('[') || c == QLatin1Char(']')
                || c == QLatin1Char('\\'))
                return false;
        return true;
    }
    if (domain.isEmpty() || domain.startsWith(QLatin1Char('.')) || domain.endsWith(QLatin1Char('.'))
        || domain.contains(QLatin1String("..")))
        return false;
    for (const QChar c : domain)
        if (c != QLatin1Char('.') && !isAtomChar(c))
            return false;
    return true;
}

QByteArray ToCrlf(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 40 + 2);
    char prev = 0;
    for (const char c : bytes) {
        if (c == '\n' && prev != '\r')
            out += '\r';
        out += c;
        prev = c;
    }
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

Outgoing PrepareOutgoing(const QByteArray& stored)
{
    mime::ensureInit();
    Outgoing out;

    // The header block ends at the first empty line.
    qsizetype end = -1;
    qsizetype bodyStart = stored.size();
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored[i] != '\n')
            continue;
        if (i + 1 < stored.size() && stored[i + 1] == '\n') {
            end = i;
            bodyStart = i + 2;
            break;
        }
        if (i + 2 < stored.size() && stored[i + 1] == '\r' && stored[i + 2] == '\n') {
            end = i;
            bodyStart = i + 3;
            break;
        }
    }
    if (end < 0)
        end = stored.size();
    QByteArray head = stored.left(end);
    if (head.endsWith('\r'))
        head.chop(1);

    QList<Field> fields;
    for (QByteArray line : head.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if ((line.startsWith(' ') || line.startsWith('\t')) && !fields.isEmpty()) {
            fields.last().raw += "\r\n" + line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;    // not a header field; dropping it keeps the header block well formed
        fields.append({line.left(colon).trimmed().toLower(), line});
    }

    const QByteArray accountName = QByteArray(kAccountHeader).toLower();
    const QByteArray deleteName = QByteArray(kDeleteAfterSubmitHeader).toLower();
    const QByteArray envelopeName = QByteArray(kEnvelopeHeader).toLower();
    QByteArray wireHead;
    QStringList recipients;
    QStringList envelope;
    bool hasEnvelope = false;
    QSet<QString> seen;
    for (const Field& f : fields) {
        if (f.name == accountName) {
            char* text = g_mime_utils_header_decode_text(nullptr, unfold(f.raw).constData());
            out.account = QString::fromUtf8(text).trimmed();
            g_free(text);
            continue;
        }
        if (f.name == deleteName) {
            const QByteArray v = unfold(f.raw).toLower();
            out.deleteAfterSubmit = out.deleteAfterSubmit || v == "1" || v == "true" || v == "yes";
            continue;
        }
        if (f.name == envelopeName) {
            // A retry copy of a retry copy carries its newer line on top: that one names
            // exactly who is still owed.
            if (hasEnvelope)
                continue;
            hasEnvelope = true;
            QSet<QString> named;
            for (const QByteArray& a : unfold(f.raw).split(',')) {
                const QString address = QString::fromUtf8(a.trimmed());
                if (IsSendableAddress(address) && !named.contains(address.toLower())) {
                    named.insert(address.toLower());
                    envelope << address;
                }
            }
            continue;
        }
        if (f.name == "subject") {
            char* text = g_mime_utils_header_decode_text(nullptr, unfold(f.raw).constData());
            out.subject = QString::fromUtf8(text);
            g_free(text);
        }
        if (f.name == "from")
            out.hasFrom = !unfold(f.raw).isEmpty();
        if (f.name == "to" || f.name == "cc" || f.name == "bcc") {
            const QByteArray value = unfold(f.raw);
            QStringList addrs;
            if (InternetAddressList* list = internet_address_list_parse(nullptr, value.constData())) {
                collectAddresses(list, addrs);
                g_object_unref(list);
            }
            if (addrs.isEmpty() && !value.isEmpty() && out.problem.isEmpty())
                out.problem = QStringLiteral("The recipient address \"%1\" is not an e-mail address.")
                                  .arg(QString::fromUtf8(value));
            for (const QString& a : addrs) {
                if (!IsSendableAddress(a)) {
                    if (out.problem.isEmpty())
                        out.problem = QStringLiteral("The recipient address \"%1\" is not an e-mail address.").arg(a);
                    continue;
                }
                if (!seen.contains(a.toLower())) {
                    seen.insert(a.toLower());
                    recipients << a;
                }
            }
            if (f.name == "bcc")
                continue;    // envelope only
        }
        wireHead += f.raw;
        wireHead += "\r\n";
    }
    if (hasEnvelope)
        recipients = envelope;
    if (recipients.isEmpty() && out.problem.isEmpty())
        out.problem = QStringLiteral("The message has no recipients.");
    out.recipients = recipients;
    out.wire = wireHead + "\r\n" + (bodyStart < stored.size() ? ToCrlf(stored.mid(bodyStart)) : QByteArray());
    return out;
}

} // namespace mail::send

namespace mail::send {

QByteArray FromHeader(const QString& displayName, const QString& address)
{
    mime::ensureInit();
    InternetAddress* ia = internet_address_mailbox_new(displayName.toUtf8().constData(), address.toUtf8().constData());
    internet_address_set_charset(ia, "utf-8");
    char* text = internet_address_to_string(ia, nullptr, TRUE);
    const QByteArray out = "From: " + QByteArray(text) + "\r\n";
    g_free(text);
    g_object_unref(ia);
    return out;
}

} // namespace mail::send

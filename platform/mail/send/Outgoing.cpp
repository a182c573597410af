#include "platform/mail/send/Outgoing.h"

#include <QSet>
#include <QUrl>

#include <arpa/inet.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

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

// What each ASCII character may be in an address, one table look-up per character.
enum : unsigned char {
    kAtom = 1,    // an unquoted local part: letters, digits, dots and !#$%&'*+-/=?^_`{|}~
    kLabel = 2,   // a domain label: letters, digits and the hyphen
    kQuoted = 4,  // inside quotes, escaped or not: printable, but no list separator (see below)
};

constexpr std::array<unsigned char, 128> kAscii = [] {
    std::array<unsigned char, 128> t{};
    for (int c = 0x20; c < 0x7f; ++c)
        t[size_t(c)] = kQuoted;
    // Lists of addresses (the envelope header among them) are split at these, quotes or not.
    for (const char c : {',', ';', '<', '>'})
        t[size_t(c)] = 0;
    for (const char c : std::string_view(".!#$%&'*+-/=?^_`{|}~"))
        t[size_t(c)] |= kAtom;
    for (int c = 0; c < 128; ++c)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            t[size_t(c)] |= kAtom | kLabel;
    t[size_t('-')] |= kLabel;
    return t;
}();

// SMTP's limits, in octets of the address as sent: UTF-8, and for a domain its ASCII form too.
constexpr qsizetype kLocalPartOctets = 64;
constexpr qsizetype kDomainOctets = 255;
constexpr qsizetype kLabelOctets = 63;

// The code point at i, a surrogate pair read as one; i moves past it. A lone half comes back as
// itself, which the checks refuse.
char32_t nextCodePoint(QStringView s, qsizetype& i)
{
    const QChar c = s[i++];
    if (c.isHighSurrogate() && i < s.size() && s[i].isLowSurrogate())
        return QChar::surrogateToUcs4(c, s[i++]);
    return c.unicode();
}

qsizetype utf8Octets(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// Beyond ASCII, what no address holds: controls, format characters (invisible ones come along
// when an address is pasted from a web page), blanks, lone surrogate halves.
bool isHidden(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool isHiddenOrControl(char32_t c) { return c < 0x20 || c == 0x7f || (c >= 0x80 && isHidden(c)); }

// Beyond ASCII, what a label of an international domain holds: letters, marks and digits, and
// the few dots and signs that some scripts use inside words.
bool isLabelChar(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return c == 0xb7 || c == 0x375 || c == 0x5f3 || c == 0x5f4 || c == 0x30fb;
    }
}

// Takes the character at i of a local part when it is of asciiClass or, beyond ASCII, one that
// can be seen, adding its octets; false when it is refused.
bool takeLocalChar(QStringView s, qsizetype& i, qsizetype& octets, unsigned char asciiClass)
{
    const char16_t c = s[i].unicode();
    if (c < 0x80) {
        ++i;
        ++octets;
        return kAscii[c] & asciiClass;
    }
    const char32_t cp = nextCodePoint(s, i);
    octets += utf8Octets(cp);
    return !isHidden(cp);
}

// "[192.0.2.1]" or "[IPv6:2001:db8::1]", the only address literals a server takes.
bool isAddressLiteral(QStringView domain)
{
    if (domain.size() < 3 || domain.front() != QLatin1Char('[') || domain.back() != QLatin1Char(']'))
        return false;
    QStringView inner = domain.mid(1, domain.size() - 2);
    int family = AF_INET;
    if (inner.startsWith(QLatin1String("IPv6:"), Qt::CaseInsensitive)) {
        family = AF_INET6;
        inner = inner.mid(5);
    }
    // The longest IPv6 text ("ffff:...:255.255.255.255") has 45 characters.
    char text[48];
    if (inner.isEmpty() || inner.size() >= qsizetype(sizeof text))
        return false;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        const char16_t c = inner[i].unicode();
        if (c >= 0x80 || (!std::isxdigit(c) && c != u'.' && c != u':'))
            return false;
        text[i] = char(c);
    }
    text[inner.size()] = '\0';
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(family, text, address) == 1;
}

} // namespace

bool IsSendableAddress(const QString& address)
{
    const QStringView s(address);
    // "-" first would read as an option on a command line.
    if (s.isEmpty() || s.front() == QLatin1Char('-'))
        return false;

    // The local part: atoms and dots, or one quoted string. The limits cut every loop short, so
    // the check costs the same for a megabyte of text.
    qsizetype i = 0;
    qsizetype octets = 0;
    if (s.front() == QLatin1Char('"')) {
        ++i;
        bool closed = false;
        while (i < s.size() && octets <= kLocalPartOctets) {
            if (s[i] == QLatin1Char('"')) {
                closed = true;
                ++i;
                break;
            }
            if (s[i] == QLatin1Char('\\')) {
                ++i;
                ++octets;
                if (i >= s.size())
                    return false;
            }
            if (!takeLocalChar(s, i, octets, kQuoted))
                return false;
        }
        octets += 2;    // the quotes
        if (!closed || octets == 2 || i >= s.size() || s[i] != QLatin1Char('@'))
            return false;    // unclosed, nothing quoted, or not followed by the domain
    } else {
        while (i < s.size() && s[i] != QLatin1Char('@') && octets <= kLocalPartOctets)
            if (!takeLocalChar(s, i, octets, kAtom))
                return false;
        if (octets == 0 || i >= s.size() || s[i] != QLatin1Char('@'))
            return false;
    }
    if (octets > kLocalPartOctets)
        return false;

    // The domain: a literal, or two or more labels of letters, digits and inner hyphens. The cap
    // comes first: it bounds the conversions below.
    const QStringView domain = s.mid(i + 1);
    if (domain.size() > kDomainOctets)
        return false;
    if (domain.startsWith(QLatin1Char('[')))
        return isAddressLiteral(domain);
    qsizetype domainOctets = 0;    // in UTF-8, as a command line gets it
    qsizetype aceOctets = 0;       // in the ASCII form a server gets (libcurl converts the domain)
    qsizetype labelStart = 0;
    qsizetype label = 0;    // octets of the label so far
    bool asciiLabel = true;
    bool digitsOnly = true;
    bool hyphenLast = false;
    int labels = 0;
    auto endLabel = [&](qsizetype end) {
        ++labels;
        if (label == 0 || hyphenLast)
            return false;
        if (asciiLabel) {
            aceOctets += label;
            return label <= kLabelOctets;
        }
        // Measured as sent. No ASCII form (too long, or characters IDNA disallows) is refused:
        // libcurl's conversion would fail too.
        const QByteArray ace = QUrl::toAce(domain.mid(labelStart, end - labelStart).toString());
        aceOctets += ace.size();
        digitsOnly = std::all_of(ace.begin(), ace.end(), [](char c) { return c >= '0' && c <= '9'; });
        return !ace.isEmpty() && ace.size() <= kLabelOctets;
    };
    for (qsizetype j = 0; j < domain.size();) {
        const char16_t c = domain[j].unicode();
        if (c == u'.') {
            if (!endLabel(j))
                return false;
            ++j;
            ++domainOctets;
            ++aceOctets;
            labelStart = j;
            label = 0;
            asciiLabel = true;
            digitsOnly = true;
            continue;
        }
        if (c < 0x80) {
            if (!(kAscii[c] & kLabel) || (c == u'-' && label == 0))
                return false;
            hyphenLast = c == u'-';
            digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
            ++j;
            ++label;
            ++domainOctets;
        } else {
            const char32_t cp = nextCodePoint(domain, j);
            if (!isLabelChar(cp))
                return false;
            hyphenLast = false;
            asciiLabel = false;
            label += utf8Octets(cp);
            domainOctets += utf8Octets(cp);
        }
    }
    // No top-level label is all digits: such a domain reads as a bad IPv4 address.
    return endLabel(domain.size()) && !digitsOnly && labels >= 2 && domainOctets <= kDomainOctets &&
           aceOctets <= kDomainOctets;
}

QString ShowHiddenCharacters(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype from = i;
        const char32_t c = nextCodePoint(text, i);
        if (isHiddenOrControl(c))
            out += QStringLiteral("<U+%1>").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += QStringView(text).mid(from, i - from);
    }
    return out;
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
    const QByteArray accountIdName = QByteArray(kAccountIdHeader).toLower();
    const QByteArray deleteName = QByteArray(kDeleteAfterSubmitHeader).toLower();
    const QByteArray envelopeName = QByteArray(kEnvelopeHeader).toLower();
    QByteArray wireHead;
    QStringList recipients;
    bool hasEnvelope = false;
    QSet<QString> seen;
    for (const Field& f : fields) {
        if (f.name == accountName || f.name == accountIdName) {
            char* text = g_mime_utils_header_decode_text(nullptr, unfold(f.raw).constData());
            (f.name == accountName ? out.account : out.accountId) = QString::fromUtf8(text).trimmed();
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
            // exactly who was still owed.
            if (hasEnvelope)
                continue;
            hasEnvelope = true;
            QSet<QString> named;
            for (const QByteArray& a : unfold(f.raw).split(',')) {
                const QString address = QString::fromUtf8(a.trimmed());
                if (IsSendableAddress(address) && !named.contains(AddressKey(address))) {
                    named.insert(AddressKey(address));
                    out.envelope << address;
                }
            }
            continue;
        }
        if (f.name == "subject") {
            char* text = g_mime_utils_header_decode_text(nullptr, unfold(f.raw).constData());
            out.subject = QString::fromUtf8(text);
            g_free(text);
        }
        if (f.name == "from") {
            const QByteArray value = unfold(f.raw);
            out.hasFrom = !value.isEmpty();
            QStringList addrs;
            if (InternetAddressList* list = internet_address_list_parse(nullptr, value.constData())) {
                collectAddresses(list, addrs);
                g_object_unref(list);
            }
            out.sender = addrs.value(0);
        }
        if (f.name == "to" || f.name == "cc" || f.name == "bcc") {
            const QByteArray value = unfold(f.raw);
            QStringList addrs;
            if (InternetAddressList* list = internet_address_list_parse(nullptr, value.constData())) {
                collectAddresses(list, addrs);
                g_object_unref(list);
            }
            if (addrs.isEmpty() && !value.isEmpty() && out.problem.isEmpty())
                out.problem = QStringLiteral("The recipient address \"%1\" is not an e-mail address.")
                                  .arg(ShowHiddenCharacters(QString::fromUtf8(value)));
            for (const QString& a : addrs) {
                if (!IsSendableAddress(a)) {
                    if (out.problem.isEmpty())
                        out.problem = QStringLiteral("The recipient address \"%1\" is not an e-mail address.")
                                          .arg(ShowHiddenCharacters(a));
                    continue;
                }
                if (!seen.contains(AddressKey(a))) {
                    seen.insert(AddressKey(a));
                    recipients << a;
                }
            }
            if (f.name == "bcc")
                continue;    // envelope only
        }
        wireHead += f.raw;
        wireHead += "\r\n";
    }
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

namespace mail::send {

QString AddressKey(const QString& address)
{
    // An international domain is one domain in its own letters or in the ASCII form it is sent
    // in (a stored header may hold either).
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    const QStringView domain = QStringView(address).mid(at + 1);
    const bool international = at >= 0 && std::any_of(domain.begin(), domain.end(), [](QChar c) { return c.unicode() >= 0x80; });
    if (!international)
        return address.toCaseFolded();
    const QByteArray ace = QUrl::toAce(domain.toString());
    return address.left(at + 1).toCaseFolded() + (ace.isEmpty() ? domain.toString().toCaseFolded() : QString::fromLatin1(ace).toLower());
}

} // namespace mail::send

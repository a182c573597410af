#include "platform/mail/ContactItem.h"

#include <QFile>
#include <QStringList>

#include <glib.h>

#include "platform/mail/MailStore.h"

namespace mail {

namespace {

struct Property {
    QString name;                 // upper case, group prefix removed
    QStringList types;            // lower case TYPE values (and vCard 2.1 bare parameters)
    int pref = 100;               // PREF=n, or 1 for TYPE=pref
    QString value;                // raw (still escaped)
};

// "\n", "\,", "\;", "\\" as the vCard escapes them.
QString unescape(const QString& v)
{
    QString out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        const QChar c = v.at(i);
        if (c == QLatin1Char('\\') && i + 1 < v.size()) {
            const QChar n = v.at(++i);
            out += (n == QLatin1Char('n') || n == QLatin1Char('N')) ? QChar(QLatin1Char('\n')) : n;
        } else {
            out += c;
        }
    }
    return out;
}

// Splits a structured value at unescaped separators, then unescapes each part.
QStringList components(const QString& v, QChar sep = QLatin1Char(';'))
{
    QStringList parts;
    QString cur;
    for (qsizetype i = 0; i < v.size(); ++i) {
        const QChar c = v.at(i);
        if (c == QLatin1Char('\\') && i + 1 < v.size()) {
            cur += c;
            cur += v.at(++i);
        } else if (c == sep) {
            parts.append(unescape(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.append(unescape(cur));
    return parts;
}

// Splits the part before the value at semicolons outside double quotes.
QStringList splitParams(const QString& s)
{
    QStringList out;
    QString cur;
    bool quoted = false;
    for (const QChar c : s) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(';') && !quoted) {
            out.append(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    out.append(cur);
    return out;
}

bool parseLine(const QString& line, Property* p)
{
    // The name and parameters end at the first colon outside double quotes.
    bool quoted = false;
    qsizetype colon = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('"'))
            quoted = !quoted;
        else if (line.at(i) == QLatin1Char(':') && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon <= 0)
        return false;
    const QStringList head = splitParams(line.left(colon));
    QString name = head.first().trimmed().toUpper();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name = name.mid(dot + 1);
    p->name = name;
    p->value = line.mid(colon + 1);
    for (int i = 1; i < head.size(); ++i) {
        const QString param = head.at(i).trimmed();
        const qsizetype eq = param.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? QStringLiteral("TYPE") : param.left(eq).trimmed().toUpper();
        QString val = eq < 0 ? param : param.mid(eq + 1).trimmed();
        val.remove(QLatin1Char('"'));
        if (key == QLatin1String("TYPE")) {
            for (const QString& t : val.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QString lt = t.trimmed().toLower();
                p->types.append(lt);
                if (lt == QLatin1String("pref"))
                    p->pref = qMin(p->pref, 1);
            }
        } else if (key == QLatin1String("PREF")) {
            bool ok = false;
            const int n = val.toInt(&ok);
            if (ok)
                p->pref = qMin(p->pref, n);
        }
    }
    return true;
}

QStringList nonBlank(const QStringList& parts)
{
    QStringList out;
    for (const QString& p : parts)
        if (!p.trimmed().isEmpty())
            out.append(p);
    return out;
}

} // namespace

ContactItem::ContactItem(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel)
    : Item(std::move(session), std::move(node), std::move(rel))
{
}

ContactItemPtr ContactItem::fromFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel)
{
    QFile f(node->path + QLatin1Char('/') + rel);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    ContactItemPtr c(new ContactItem(std::move(session), std::move(node), rel));
    if (!c->parse(f.read(1024 * 1024)))
        return nullptr;
    return c;
}

bool ContactItem::parse(const QByteArray& bytes)
{
    const QString text = g_utf8_validate_len(bytes.constData(), bytes.size(), nullptr) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    // Unfold: a line break followed by a blank or a tab continues the line.
    QStringList lines;
    for (QString raw : text.split(QLatin1Char('\n'))) {
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
        if ((raw.startsWith(QLatin1Char(' ')) || raw.startsWith(QLatin1Char('\t'))) && !lines.isEmpty())
            lines.last() += raw.mid(1);
        else
            lines.append(raw);
    }
    bool begun = false;
    QList<Property> props;
    for (const QString& line : std::as_const(lines)) {
        Property p;
        if (!parseLine(line, &p))
            continue;
        if (p.name == QLatin1String("BEGIN") && p.value.trimmed().compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0) {
            if (begun)
                break;  // only the first card of a file
            begun = true;
            continue;
        }
        if (!begun)
            continue;
        if (p.name == QLatin1String("END"))
            break;
        props.append(p);
    }
    if (!begun)
        return false;

    QList<std::pair<int, QString>> emails;
    bool haveBusinessAddress = false;
    const Property* adr = nullptr;
    for (const Property& p : std::as_const(props)) {
        auto has = [&](const char* t) { return p.types.contains(QLatin1String(t)); };
        if (p.name == QLatin1String("FN")) {
            fullName_ = unescape(p.value).trimmed();
        } else if (p.name == QLatin1String("N")) {
            const QStringList n = components(p.value);
            lastName_ = n.value(0).trimmed();
            firstName_ = n.value(1).trimmed();
            middleName_ = n.value(2).trimmed();
        } else if (p.name == QLatin1String("ORG")) {
            companyName_ = components(p.value).value(0).trimmed();
        } else if (p.name == QLatin1String("EMAIL")) {
            const QString v = unescape(p.value).trimmed();
            if (!v.isEmpty())
                emails.append({p.pref, v});
        } else if (p.name == QLatin1String("KIND") || p.name == QLatin1String("X-ADDRESSBOOKSERVER-KIND")) {
            group_ = p.value.trimmed().compare(QLatin1String("group"), Qt::CaseInsensitive) == 0;
        } else if (p.name == QLatin1String("ADR")) {
            // The work address; else the first address that names no kind.
            if (has("work") ? !haveBusinessAddress : (p.types.isEmpty() && !adr))
                adr = &p;
            haveBusinessAddress = haveBusinessAddress || has("work");
        } else if (p.name == QLatin1String("TEL")) {
            QString v = unescape(p.value).trimmed();
            if (v.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
                v = v.mid(4);
            if (has("fax")) {
                if (has("work") && businessFax_.isEmpty())
                    businessFax_ = v;
            } else if (has("cell")) {
                if (mobilePhone_.isEmpty())
                    mobilePhone_ = v;
            } else if (has("home")) {
                if (homePhone_.isEmpty())
                    homePhone_ = v;
            } else if (businessPhone_.isEmpty()) {
                businessPhone_ = v;  // work, or no kind given
            }
        }
    }
    if (adr) {
        const QStringList a = components(adr->value);
        QStringList street;
        for (int i : {0, 1, 2})
            if (!a.value(i).trimmed().isEmpty())
                street.append(a.value(i).trimmed());
        street_ = street.join(QLatin1Char('\n'));
        city_ = a.value(3).trimmed();
        state_ = a.value(4).trimmed();
        postalCode_ = a.value(5).trimmed();
        country_ = a.value(6).trimmed();
        QStringList full;
        if (!street_.isEmpty())
            full.append(street_);
        const QString cityLine = nonBlank({city_, state_, postalCode_}).join(QLatin1Char(' '));
        if (!cityLine.isEmpty())
            full.append(cityLine);
        if (!country_.isEmpty())
            full.append(country_);
        businessAddress_ = full.join(QLatin1Char('\n'));
    }
    std::stable_sort(emails.begin(), emails.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : std::as_const(emails))
        emails_.append(e.second);
    if (fullName_.isEmpty())
        fullName_ = nonBlank({firstName_, middleName_, lastName_}).join(QLatin1Char(' '));
    return true;
}

ContactItemPtr ContactItem::Copy()
{
    if (!node_)
        throw MailError(QStringLiteral("The contact is no longer in a folder."));
    const QString rel = session_->writeNewFile(node_, fileBytes(), QString());
    ContactItemPtr c = fromFile(session_, node_, rel);
    if (!c)
        throw MailError(QStringLiteral("The copy could not be read."));
    return c;
}

} // namespace mail

#include "platform/mail/ContactItem.h"

#include <QFile>
#include <QStringList>

#include <glib.h>

#include "platform/mail/MAPIFolder.h"
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

// The lines of a file, a folded line joined up (a line break followed by a blank or a tab
// continues the line), each with the bytes it spans. Folds are undone before decoding, so a
// character split by a fold comes together again.
class LineReader {
public:
    explicit LineReader(const QByteArray& bytes) : bytes_(bytes)
    {
        if (bytes_.startsWith("\xEF\xBB\xBF"))
            pos_ = 3;
    }

    // False at the end of the file.
    bool next(QByteArray* line, qsizetype* begin, qsizetype* end)
    {
        if (pos_ >= bytes_.size())
            return false;
        *begin = pos_;
        line->resize(0);
        takePhysical(line, pos_);
        while (pos_ < bytes_.size() && (bytes_.at(pos_) == ' ' || bytes_.at(pos_) == '\t'))
            takePhysical(line, pos_ + 1);
        *end = pos_;
        return true;
    }

private:
    void takePhysical(QByteArray* line, qsizetype from)
    {
        qsizetype nl = bytes_.indexOf('\n', from);
        pos_ = nl < 0 ? bytes_.size() : nl + 1;
        if (nl < 0)
            nl = bytes_.size();
        if (nl > from && bytes_.at(nl - 1) == '\r')
            --nl;
        line->append(bytes_.constData() + from, nl - from);
    }

    const QByteArray& bytes_;
    qsizetype pos_ = 0;
};

// The name (group removed) and the value of a line, both trimmed; false for a line with no colon.
bool nameAndValue(QByteArrayView line, QByteArrayView* name, QByteArrayView* value)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == '"') {
            quoted = !quoted;
        } else if (line.at(i) == ':' && !quoted) {
            QByteArrayView head = line.first(i);
            if (const qsizetype semi = head.indexOf(';'); semi >= 0)
                head = head.first(semi);
            head = head.trimmed();
            *name = head.sliced(head.lastIndexOf('.') + 1);
            *value = line.sliced(i + 1).trimmed();
            return true;
        }
    }
    return false;
}

bool is(QByteArrayView a, const char* b) { return a.compare(QByteArrayView(b), Qt::CaseInsensitive) == 0; }

struct Card {
    qsizetype begin = 0, end = 0;  // in the file: its BEGIN line to its END line's break
    QList<QByteArray> lines;       // its own lines, unfolded, without BEGIN, END and embedded cards
};

// The cards of a vCard file, read in one pass. Text outside cards is passed over. A card whose
// END is missing ends where the next card begins, or at the end of the file; a card embedded
// as an AGENT's value (vCard 2.1) belongs to the card holding it.
class CardReader {
public:
    explicit CardReader(const QByteArray& bytes) : lines_(bytes) {}

    // The next card, its lines only when keepLines; false at the end of the file.
    bool next(Card* card, bool keepLines)
    {
        card->lines.clear();
        if (!beginPending_) {
            do {
                if (!lines_.next(&line_, &begin_, &end_))
                    return false;
            } while (!isBegin());
        }
        beginPending_ = false;
        card->begin = begin_;
        int depth = 0;       // inside embedded cards
        bool agent = false;  // the line before was an AGENT with no value: its card follows
        while (lines_.next(&line_, &begin_, &end_)) {
            QByteArrayView name, value;
            const bool property = nameAndValue(line_, &name, &value);
            const bool begins = property && is(name, "BEGIN") && is(value, "VCARD");
            const bool ends = property && is(name, "END") && is(value, "VCARD");
            if (depth > 0) {
                depth += begins ? 1 : ends ? -1 : 0;
                continue;
            }
            if (ends) {
                card->end = end_;
                return true;
            }
            if (begins && !agent) {
                card->end = begin_;
                beginPending_ = true;
                return true;
            }
            if (begins) {
                depth = 1;
                agent = false;
                continue;
            }
            agent = false;
            if (property && is(name, "AGENT")) {
                agent = value.isEmpty();
                depth = is(value, "BEGIN:VCARD") ? 1 : 0;
                continue;  // nothing of it is read
            }
            if (keepLines)
                card->lines.append(line_);
        }
        card->end = end_;
        return true;
    }

private:
    bool isBegin() const
    {
        QByteArrayView name, value;
        return nameAndValue(line_, &name, &value) && is(name, "BEGIN") && is(value, "VCARD");
    }

    LineReader lines_;
    QByteArray line_;
    qsizetype begin_ = 0, end_ = 0;
    bool beginPending_ = false;  // line_ begins the next card
};

bool readFile(const QString& path, QByteArray* bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *bytes = f.readAll();
    return true;
}

} // namespace

ContactItem::ContactItem(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel, int card)
    : Item(std::move(session), std::move(node), std::move(rel)), card_(card)
{
}

QList<ContactItemPtr> ContactItem::fromFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel)
{
    QList<ContactItemPtr> out;
    QByteArray bytes;
    if (!readFile(node->path + QLatin1Char('/') + rel, &bytes))
        return out;
    CardReader reader(bytes);
    Card card;
    while (reader.next(&card, true)) {
        ContactItemPtr c(new ContactItem(session, node, rel, int(out.size()) + 1));
        c->parse(card.lines);
        out.append(std::move(c));
    }
    return out;
}

ContactItemPtr ContactItem::find(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& unique)
{
    QString file = unique;
    int wanted = 1;
    if (const qsizetype slash = unique.indexOf(QLatin1Char('/')); slash >= 0) {
        const QStringView place = QStringView(unique).sliced(slash + 1);
        wanted = place.toInt();
        if (wanted < 2 || place != QString::number(wanted))
            return nullptr;  // one id per card
        file = unique.left(slash);
    }
    const QString rel = session->findFile(node, file);
    QByteArray bytes;
    if (rel.isEmpty() || !readFile(node->path + QLatin1Char('/') + rel, &bytes))
        return nullptr;
    CardReader reader(bytes);
    Card card;
    for (int n = 1; reader.next(&card, n == wanted); ++n) {
        if (n == wanted) {
            ContactItemPtr c(new ContactItem(std::move(session), std::move(node), rel, n));
            c->parse(card.lines);
            return c;
        }
    }
    return nullptr;
}

QString ContactItem::EntryID() const
{
    const QString id = Item::EntryID();
    if (id.isEmpty() || card_ == 1)
        return id;
    return id + QString::fromLatin1(('/' + QByteArray::number(card_)).toHex().toUpper());
}

void ContactItem::parse(const QList<QByteArray>& lines)
{
    // Each card is UTF-8 when all of it is, else Latin-1.
    bool utf8 = true;
    for (const QByteArray& l : lines)
        utf8 = utf8 && g_utf8_validate_len(l.constData(), l.size(), nullptr);
    QList<Property> props;
    props.reserve(lines.size());
    for (const QByteArray& l : lines) {
        Property p;
        if (parseLine(utf8 ? QString::fromUtf8(l) : QString::fromLatin1(l), &p))
            props.append(std::move(p));
    }
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
}

void ContactItem::checkAlone() const
{
    QByteArray bytes;
    if (!node_ || !readFile(FilePath(), &bytes))
        return;
    CardReader reader(bytes);
    Card card;
    int cards = 0;
    while (reader.next(&card, false))
        ++cards;
    if (card_ > cards)
        throw MailError(QStringLiteral("The contact is no longer in its file."));
    if (cards > 1)
        throw MailError(QStringLiteral("The contact shares its file with %1 other contacts, and cannot be deleted or moved alone.").arg(cards - 1));
}

void ContactItem::Delete()
{
    checkAlone();
    Item::Delete();
}

void ContactItem::Move(const FolderPtr& dest)
{
    if (dest && dest->node() == node_)
        return;
    checkDestination(dest);
    checkAlone();
    Item::Move(dest);
}

ContactItemPtr ContactItem::Copy()
{
    if (!node_)
        throw MailError(QStringLiteral("The contact is no longer in a folder."));
    const QByteArray bytes = fileBytes();
    // A card that shares its file is copied alone; a file of one card is copied whole.
    CardReader reader(bytes);
    Card card;
    QByteArray mine;
    int cards = 0;
    while (reader.next(&card, false))
        if (++cards == card_)
            mine = bytes.mid(card.begin, card.end - card.begin);
    if (card_ > cards)
        throw MailError(QStringLiteral("The contact is no longer in its file."));
    const QString rel = session_->writeNewFile(node_, cards == 1 ? bytes : mine, QString());
    const QList<ContactItemPtr> copy = fromFile(session_, node_, rel);
    if (copy.size() != 1)
        throw MailError(QStringLiteral("The copy could not be read."));
    return copy.first();
}

} // namespace mail

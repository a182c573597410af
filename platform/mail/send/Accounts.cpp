#include "platform/mail/send/Accounts.h"

#include <QFile>
#include <QUuid>
#include <cstdio>
#include <unistd.h>

#include "platform/mail/send/Outgoing.h"
#include "platform/ui/DataFolder.h"

namespace mail::send {

namespace {

bool parseBool(const QString& v, bool fallback)
{
    const QString s = v.trimmed().toLower();
    if (s == QLatin1String("true") || s == QLatin1String("yes") || s == QLatin1String("1"))
        return true;
    if (s == QLatin1String("false") || s == QLatin1String("no") || s == QLatin1String("0"))
        return false;
    return fallback;
}

// A password's blanks at either end are part of it, and lines are read trimmed: such a value
// is written between double quotes, and one pair of quotes around a value is taken off.
bool wrappedInQuotes(const QString& v)
{
    return v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'));
}

QString unquoted(const QString& v) { return wrappedInQuotes(v) ? v.mid(1, v.size() - 2) : v; }

QString quotedIfNeeded(const QString& v)
{
    return v != v.trimmed() || wrappedInQuotes(v) ? QLatin1Char('"') + v + QLatin1Char('"') : v;
}

void setKey(Account& a, const QString& key, const QString& value)
{
    const QString k = key.toLower();
    if (k == QLatin1String("id"))
        a.id = value;
    else if (k == QLatin1String("displayname"))
        a.displayName = value;
    else if (k == QLatin1String("address"))
        a.address = value;
    else if (k == QLatin1String("transport"))
        a.transport = value;
    else if (k == QLatin1String("user"))
        a.user = value;
    else if (k == QLatin1String("password"))
        a.password = unquoted(value);
    else if (k == QLatin1String("passwordcommand"))
        a.passwordCommand = value;
    else if (k == QLatin1String("starttls"))
        a.requireStartTls = value.trimmed().compare(QLatin1String("required"), Qt::CaseInsensitive) == 0;
    else if (k == QLatin1String("receivecommand"))
        a.receiveCommand = value;
    else if (k == QLatin1String("sendreceive"))
        a.sendReceive = parseBool(value, true);
    else if (k == QLatin1String("default"))
        a.isDefault = parseBool(value, false);
    else if (k == QLatin1String("formername") && !value.isEmpty() && !a.formerNames.contains(value, Qt::CaseInsensitive))
        a.formerNames << value;
}

// Values are kept on one line: a line break would start a new key.
QString oneLine(const QString& v)
{
    QString s = v;
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

} // namespace

bool Account::isSmtp() const
{
    const QString t = transport.trimmed().toLower();
    return t.startsWith(QLatin1String("smtp://")) || t.startsWith(QLatin1String("smtps://"));
}

QString Account::problem() const
{
    if (address.trimmed().isEmpty())
        return QStringLiteral("The account \"%1\" has no e-mail address.").arg(name);
    if (transport.trimmed().isEmpty())
        return QStringLiteral("The account \"%1\" has no way to send (no server or command).").arg(name);
    return {};
}

QString AccountsFile() { return ui::DataPath(QStringLiteral("accounts.ini")); }

QList<Account> LoadAccounts(const QString& file)
{
    QList<Account> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QString text = QString::fromUtf8(f.readAll());
    Account* current = nullptr;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            current = nullptr;
            if (name.isEmpty())
                continue;
            // A repeated section adds to the account it names (names are matched without case).
            for (Account& a : out)
                if (a.name.compare(name, Qt::CaseInsensitive) == 0)
                    current = &a;
            if (!current) {
                out.append(Account{});
                current = &out.last();
                current->name = name;
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!current || eq <= 0)
            continue;
        setKey(*current, line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    // A section copied by hand is another account: it gets an id of its own when next saved.
    QStringList ids;
    for (Account& a : out) {
        if (ids.contains(a.id, Qt::CaseInsensitive))
            a.id.clear();
        else if (!a.id.isEmpty())
            ids << a.id;
    }
    return out;
}

bool SaveAccounts(const QList<Account>& accounts, const QString& file, QString* error)
{
    // A nameless or repeated account would not read back as written.
    QStringList names;
    for (const Account& a : accounts) {
        const QString name = oneLine(a.name).trimmed();
        if (name.isEmpty() || names.contains(name, Qt::CaseInsensitive)) {
            if (error)
                *error = name.isEmpty() ? QStringLiteral("An account needs a name.")
                                        : QStringLiteral("There is already an account \"%1\".").arg(name);
            return false;
        }
        names << name;
    }
    QString text;
    QStringList claimed;    // former names, each kept by the first account that claims it
    QStringList ids;        // an account copied in memory is another one
    for (const Account& a : accounts) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("[%1]\n").arg(oneLine(a.name).trimmed());
        auto put = [&](const char* key, const QString& v) {
            if (!v.isEmpty())
                text += QLatin1String(key) + QLatin1Char('=') + oneLine(v) + QLatin1Char('\n');
        };
        QString id = oneLine(a.id).trimmed();
        if (id.isEmpty() || ids.contains(id, Qt::CaseInsensitive))
            id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        ids << id;
        put("Id", id);
        put("DisplayName", a.displayName);
        put("Address", a.address);
        put("Transport", a.transport);
        put("User", a.user);
        put("Password", quotedIfNeeded(a.password));
        put("PasswordCommand", a.passwordCommand);
        if (a.requireStartTls)
            put("StartTLS", QStringLiteral("required"));
        put("ReceiveCommand", a.receiveCommand);
        put("SendReceive", a.sendReceive ? QStringLiteral("true") : QStringLiteral("false"));
        put("Default", a.isDefault ? QStringLiteral("true") : QStringLiteral("false"));
        // A name another account has now stays: its messages are told apart by their sender.
        for (const QString& former : a.formerNames) {
            const QString f = oneLine(former).trimmed();
            if (f.isEmpty() || f.compare(oneLine(a.name).trimmed(), Qt::CaseInsensitive) == 0 || claimed.contains(f, Qt::CaseInsensitive))
                continue;
            claimed << f;
            put("FormerName", f);
        }
    }
    // It holds passwords: owner only from the first byte on, and replaced in one rename.
    const QString tmp = file + QStringLiteral(".new");
    QFile::remove(tmp);
    QFile f(tmp);
    const QByteArray bytes = text.toUtf8();
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || f.write(bytes) != bytes.size() || !f.flush() || ::fsync(f.handle()) != 0) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(file, f.errorString());
        f.close();
        QFile::remove(tmp);
        return false;
    }
    f.close();
    if (::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(file).constData()) != 0) {
        if (error)
            *error = QStringLiteral("Cannot replace %1").arg(file);
        QFile::remove(tmp);
        return false;
    }
    return true;
}

QStringList AccountNames(const QString& file)
{
    QStringList names;
    for (const Account& a : LoadAccounts(file))
        names << a.name;
    return names;
}

std::optional<Account> FindAccount(const QList<Account>& accounts, const QString& name)
{
    for (const Account& a : accounts)
        if (a.name.compare(name, Qt::CaseInsensitive) == 0)
            return a;
    for (const Account& a : accounts)
        if (a.formerNames.contains(name, Qt::CaseInsensitive))
            return a;
    return std::nullopt;
}

std::optional<Account> DefaultAccount(const QList<Account>& accounts)
{
    for (const Account& a : accounts)
        if (a.isDefault)
            return a;
    if (!accounts.isEmpty())
        return accounts.first();
    return std::nullopt;
}

std::optional<Account> QueuedAccount(const QList<Account>& accounts, const QString& name, const QString& id,
                                     const QString& sender, QString* why)
{
    if (!id.isEmpty())
        for (const Account& a : accounts)
            if (a.id.compare(id, Qt::CaseInsensitive) == 0)
                return a;
    if (name.isEmpty()) {
        if (std::optional<Account> a = DefaultAccount(accounts))
            return a;
        if (why)
            *why = QStringLiteral("No mail account is set up.");
        return std::nullopt;
    }
    // An account of that name (then one that had it) that still sends as the message's sender.
    // Queued by an older version, a message names its account by name alone: a name can pass to
    // an unrelated account, and the sender tells the two apart.
    const QString key = sender.isEmpty() ? QString() : AddressKey(sender);
    const auto sameSender = [&](const Account& a) { return key.isEmpty() || AddressKey(a.address) == key; };
    const Account* other = nullptr;
    for (const bool former : {false, true})
        for (const Account& a : accounts) {
            if (former ? !a.formerNames.contains(name, Qt::CaseInsensitive) : a.name.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (sameSender(a))
                return a;
            if (!other)
                other = &a;
        }
    if (why) {
        if (!other)
            *why = QStringLiteral("There is no mail account \"%1\" any more.").arg(name);
        else if (other->name.compare(name, Qt::CaseInsensitive) == 0)
            *why = QStringLiteral("The mail account \"%1\" is another one now: it sends as %2, and this message is from %3.")
                       .arg(other->name, other->address, sender);
        else
            *why = QStringLiteral("The mail account \"%1\", now \"%2\", sends as %3, and this message is from %4.")
                       .arg(name, other->name, other->address, sender);
    }
    return std::nullopt;
}

bool IsAccountMissingText(const QString& answer)
{
    if (answer.startsWith(QLatin1String("There is no mail account \"")))
        return answer.endsWith(QLatin1String("\" any more."));
    return answer.startsWith(QLatin1String("The mail account \"")) && answer.contains(QLatin1String("sends as "))
           && answer.endsWith(QLatin1Char('.')) && answer.contains(QLatin1String(", and this message is from "));
}

} // namespace mail::send

#include "platform/mail/send/Accounts.h"

#include <QFile>
#include <cstdio>
#include <unistd.h>

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
    if (k == QLatin1String("displayname"))
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
    for (const Account& a : accounts) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("[%1]\n").arg(oneLine(a.name).trimmed());
        auto put = [&](const char* key, const QString& v) {
            if (!v.isEmpty())
                text += QLatin1String(key) + QLatin1Char('=') + oneLine(v) + QLatin1Char('\n');
        };
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
        // A name another account (or this one again) has now is that account's.
        for (const QString& former : a.formerNames)
            if (!names.contains(oneLine(former).trimmed(), Qt::CaseInsensitive))
                put("FormerName", former.trimmed());
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

} // namespace mail::send

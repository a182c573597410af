#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace mail::send {

// One mail account as accounts.ini holds it: a section per account, in file order.
//   [Work]
//   DisplayName=Ann Example
//   Address=ann@example.org
//   Transport=smtp://mail.example.org:587      (or smtps://..., or a sendmail-compatible command)
//   User=ann
//   Password=...                                (or PasswordCommand=pass show mail; a password
//                                                that begins or ends with a blank stands in "")
//   StartTLS=required                           (smtp:// only; default: used when offered)
//   ReceiveCommand=mbsync inbox
//   SendReceive=true
//   Default=true
//   FormerName=Authd                            (one line each: names it was saved under, so that
//                                                messages queued under them go through it still)
//   Id=1b4e28ba-2fa1-11d2-883f-0016d3cca427     (written on the first save: queued messages name
//                                                their account by it, whatever it is called since)
struct Account {
    QString id;
    QString name;
    QString displayName;
    QString address;
    QString transport;
    QString user;
    QString password;
    QString passwordCommand;
    bool requireStartTls = false;
    QString receiveCommand;
    bool sendReceive = true;
    bool isDefault = false;
    QStringList formerNames;

    bool isSmtp() const;
    // Why this account cannot send, or empty when it can.
    QString problem() const;
};

QString AccountsFile();

// All accounts in file order; no file, no accounts.
QList<Account> LoadAccounts(const QString& file = AccountsFile());
// Writes the file (0600, replaced atomically). Returns false with *error set on failure.
bool SaveAccounts(const QList<Account>& accounts, const QString& file = AccountsFile(), QString* error = nullptr);

QStringList AccountNames(const QString& file = AccountsFile());
// The account of that name, else the one that had it before (renamed), letter case ignored.
std::optional<Account> FindAccount(const QList<Account>& accounts, const QString& name);
// The account marked default, else the first one.
std::optional<Account> DefaultAccount(const QList<Account>& accounts);

// The account a queued message goes through, from what it names: its account's id (written by
// this version), else its account's name (current, else former) where that account still sends
// as the message's sender. name empty: the default account. None when the account is gone, or
// when the name is another identity's now; *why then says which, in a sentence.
std::optional<Account> QueuedAccount(const QList<Account>& accounts, const QString& name, const QString& id,
                                     const QString& sender, QString* why = nullptr);
// The answer is one of QueuedAccount's reasons (kept with a message that waits for its account).
bool IsAccountMissingText(const QString& answer);

} // namespace mail::send

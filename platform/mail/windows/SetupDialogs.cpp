#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "platform/mail/MailItem.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"

namespace mail {

namespace {

QHBoxLayout* okCancel(QDialog* dlg, const std::function<void()>& ok, const std::function<void()>& cancel)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* cmdOK = new QPushButton(QStringLiteral("OK"), dlg);
    auto* cmdCancel = new QPushButton(QStringLiteral("Cancel"), dlg);
    cmdOK->setDefault(true);
    QObject::connect(cmdOK, &QPushButton::clicked, dlg, ok);
    QObject::connect(cmdCancel, &QPushButton::clicked, dlg, cancel);
    row->addWidget(cmdOK);
    row->addWidget(cmdCancel);
    return row;
}

QString storesFile() { return ui::DataPath(QStringLiteral("stores.ini")); }

// The stores' folder as the store list resolves it: "~/" is the home folder, a relative path
// lies in the data folder.
QString resolvedStorePath(const QString& path)
{
    QString p = path.trimmed();
    if (p.startsWith(QLatin1String("~/")))
        p = QDir::homePath() + p.mid(1);
    if (QDir::isRelativePath(p))
        p = ui::DataFolder() + QLatin1Char('/') + p;
    return p;
}

bool hasLineBreak(const QString& s) { return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')); }

} // namespace

// ---- accounts ----

AccountsDialog::AccountsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Mail Accounts"));
    accounts = send::LoadAccounts();
    lstAccounts = new QListWidget(this);
    txtName = new QLineEdit(this);
    txtDisplayName = new QLineEdit(this);
    txtAddress = new QLineEdit(this);
    txtTransport = new QLineEdit(this);
    txtTransport->setPlaceholderText(QStringLiteral("smtp://server:587, smtps://server or a command"));
    txtUser = new QLineEdit(this);
    txtPassword = new QLineEdit(this);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPasswordCommand = new QLineEdit(this);
    chkStartTls = new QCheckBox(QStringLiteral("Require an encrypted connection (STARTTLS)"), this);
    txtReceiveCommand = new QLineEdit(this);
    chkSendReceive = new QCheckBox(QStringLiteral("Include this account when sending and receiving"), this);
    chkDefault = new QCheckBox(QStringLiteral("Default account"), this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Account name:"), txtName);
    form->addRow(QStringLiteral("Your name:"), txtDisplayName);
    form->addRow(QStringLiteral("E-mail address:"), txtAddress);
    form->addRow(QStringLiteral("Outgoing server or command:"), txtTransport);
    form->addRow(QStringLiteral("User name:"), txtUser);
    form->addRow(QStringLiteral("Password:"), txtPassword);
    form->addRow(QStringLiteral("Password command:"), txtPasswordCommand);
    form->addRow(QString(), chkStartTls);
    form->addRow(QStringLiteral("Receive command:"), txtReceiveCommand);
    form->addRow(QString(), chkSendReceive);
    form->addRow(QString(), chkDefault);

    auto* cmdAdd = new QPushButton(QStringLiteral("&Add"), this);
    auto* cmdRemove = new QPushButton(QStringLiteral("&Remove"), this);
    connect(cmdAdd, &QPushButton::clicked, this, [this] { Add_Click(); });
    connect(cmdRemove, &QPushButton::clicked, this, [this] { Remove_Click(); });
    auto* side = new QVBoxLayout;
    side->addWidget(lstAccounts, 1);
    side->addWidget(cmdAdd);
    side->addWidget(cmdRemove);
    auto* top = new QHBoxLayout;
    top->addLayout(side);
    top->addLayout(form, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(okCancel(this, [this] { OK_Click(); }, [this] { Cancel_Click(); }));

    for (const send::Account& a : std::as_const(accounts)) {
        lstAccounts->addItem(a.name);
        savedAs_ << a.name;
    }
    // The list follows the name as it is typed.
    connect(txtName, &QLineEdit::textEdited, this, [this](const QString& name) {
        if (QListWidgetItem* it = lstAccounts->item(current_))
            it->setText(name.trimmed());
    });
    connect(lstAccounts, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row != current_)
            SelectAccount(row);
    });
    SelectAccount(accounts.isEmpty() ? -1 : 0);
}

void AccountsDialog::store()
{
    if (current_ < 0 || current_ >= accounts.size())
        return;
    send::Account& a = accounts[current_];
    a.name = txtName->text().trimmed();
    a.displayName = txtDisplayName->text().trimmed();
    a.address = txtAddress->text().trimmed();
    a.transport = txtTransport->text().trimmed();
    a.user = txtUser->text();
    a.password = txtPassword->text();
    a.passwordCommand = txtPasswordCommand->text().trimmed();
    a.requireStartTls = chkStartTls->isChecked();
    a.receiveCommand = txtReceiveCommand->text().trimmed();
    a.sendReceive = chkSendReceive->isChecked();
    a.isDefault = chkDefault->isChecked();
    // One default at most.
    if (a.isDefault)
        for (int i = 0; i < accounts.size(); ++i)
            if (i != current_)
                accounts[i].isDefault = false;
    if (QListWidgetItem* it = lstAccounts->item(current_))
        it->setText(a.name);
}

void AccountsDialog::load()
{
    const bool any = current_ >= 0 && current_ < accounts.size();
    const send::Account a = any ? accounts.at(current_) : send::Account();
    txtName->setText(a.name);
    txtDisplayName->setText(a.displayName);
    txtAddress->setText(a.address);
    txtTransport->setText(a.transport);
    txtUser->setText(a.user);
    txtPassword->setText(a.password);
    txtPasswordCommand->setText(a.passwordCommand);
    chkStartTls->setChecked(a.requireStartTls);
    txtReceiveCommand->setText(a.receiveCommand);
    chkSendReceive->setChecked(any && a.sendReceive);
    chkDefault->setChecked(a.isDefault);
    for (QWidget* w : std::initializer_list<QWidget*>{txtName, txtDisplayName, txtAddress, txtTransport, txtUser, txtPassword,
                                                      txtPasswordCommand, chkStartTls, txtReceiveCommand, chkSendReceive, chkDefault})
        w->setEnabled(any);
}

void AccountsDialog::SelectAccount(int row)
{
    store();
    current_ = row >= 0 && row < accounts.size() ? row : -1;
    {
        const QSignalBlocker block(lstAccounts);
        lstAccounts->setCurrentRow(current_);
    }
    load();
}

void AccountsDialog::Add_Click()
{
    store();
    send::Account a;
    int n = accounts.size() + 1;
    auto taken = [this](const QString& name) {
        for (const send::Account& x : std::as_const(accounts))
            if (x.name.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    do
        a.name = QStringLiteral("Account %1").arg(n++);
    while (taken(a.name));
    a.sendReceive = true;
    a.isDefault = accounts.isEmpty();
    accounts.append(a);
    savedAs_.append(QString());    // not saved under any name yet
    {
        const QSignalBlocker block(lstAccounts);
        lstAccounts->addItem(a.name);
    }
    current_ = -1;  // nothing to keep from the editors
    SelectAccount(accounts.size() - 1);
}

void AccountsDialog::Remove_Click()
{
    if (current_ < 0)
        return;
    const int row = current_;
    const bool wasDefault = accounts.at(row).isDefault;
    current_ = -1;  // the editors hold the removed account: nothing to keep
    accounts.removeAt(row);
    savedAs_.removeAt(row);
    {
        const QSignalBlocker block(lstAccounts);
        delete lstAccounts->takeItem(row);
    }
    if (wasDefault && !accounts.isEmpty())
        accounts.first().isDefault = true;
    SelectAccount(qMin(row, int(accounts.size()) - 1));
}

bool AccountsDialog::OK_Click()
{
    store();
    for (int i = 0; i < accounts.size(); ++i) {
        const send::Account& a = accounts.at(i);
        QString problem;
        if (a.name.isEmpty() || hasLineBreak(a.name) || a.name.contains(QLatin1Char('[')) || a.name.contains(QLatin1Char(']')))
            problem = QStringLiteral("Every account needs a name (without brackets).");
        for (int j = 0; j < i && problem.isEmpty(); ++j)
            if (accounts.at(j).name.compare(a.name, Qt::CaseInsensitive) == 0)
                problem = QStringLiteral("There are two accounts named \"%1\".").arg(a.name);
        if (problem.isEmpty())
            problem = a.problem();
        if (problem.isEmpty() && !a.address.contains(QLatin1Char('@')))
            problem = QStringLiteral("The address \"%1\" of the account \"%2\" is not an e-mail address.")
                          .arg(send::ShowHiddenCharacters(a.address), a.name);
        if (!problem.isEmpty()) {
            SelectAccount(i);
            ui::MsgBox(problem, ui::vbCritical);
            return false;
        }
    }
    // Renamed: the messages queued under the name it was saved with still go through it. Only
    // that name (one it had only in this dialog was never any message's), and only while no
    // other account claims it: the one that had it first keeps it.
    QList<send::Account> saved = accounts;
    QStringList claimed;
    for (const send::Account& a : std::as_const(accounts))
        claimed += a.formerNames;
    for (int i = 0; i < saved.size(); ++i) {
        send::Account& a = saved[i];
        const QString& was = savedAs_.value(i);
        if (!was.isEmpty() && was.compare(a.name, Qt::CaseInsensitive) != 0 && !claimed.contains(was, Qt::CaseInsensitive)) {
            a.formerNames << was;
            claimed << was;
        }
    }
    QString error;
    if (!send::SaveAccounts(saved, send::AccountsFile(), &error)) {
        ui::MsgBox(error, ui::vbCritical);
        return false;
    }
    // What waited on an account's set-up (a refused login) is tried with it at once.
    if (Hooks().accountsSaved)
        Hooks().accountsSaved();
    accept();
    return true;
}

int ShowAccountsDialog(QWidget* parent)
{
    AccountsDialog dlg(parent);
    return ui::ShowModal(&dlg);
}

// ---- options: the stores ----

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Options"));
    QFile ini(storesFile());
    if (ini.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString section;
        for (QString line : QString::fromUtf8(ini.readAll()).split(QLatin1Char('\n'))) {
            line = line.trimmed();
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
                section = line.mid(1, line.size() - 2).trimmed();
            else if (!section.isEmpty() && line.startsWith(QLatin1String("Path="), Qt::CaseInsensitive)) {
                stores.append({section, line.mid(5).trimmed()});
                section.clear();
            }
        }
    }
    lstStores = new QListWidget(this);
    for (const auto& [name, path] : std::as_const(stores))
        lstStores->addItem(QStringLiteral("%1 (%2)").arg(name, path));
    txtStoreName = new QLineEdit(this);
    txtStorePath = new QLineEdit(this);
    auto* cmdAdd = new QPushButton(QStringLiteral("&Add"), this);
    auto* cmdRemove = new QPushButton(QStringLiteral("&Remove"), this);
    connect(cmdAdd, &QPushButton::clicked, this, [this] { Add_Click(); });
    connect(cmdRemove, &QPushButton::clicked, this, [this] { Remove_Click(); });
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Store name:"), txtStoreName);
    form->addRow(QStringLiteral("Folder:"), txtStorePath);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdRemove);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstStores, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addLayout(okCancel(this, [this] { OK_Click(); }, [this] { Cancel_Click(); }));
}

bool OptionsDialog::Add_Click()
{
    const QString name = txtStoreName->text().trimmed();
    const QString path = txtStorePath->text().trimmed();
    QString problem;
    if (name.isEmpty() || hasLineBreak(name) || name.contains(QLatin1Char('[')) || name.contains(QLatin1Char(']')))
        problem = QStringLiteral("The store needs a name (without brackets).");
    else if (name.compare(QStringLiteral("Personal Folders"), Qt::CaseInsensitive) == 0)
        problem = QStringLiteral("There is a store named \"%1\" already.").arg(name);
    for (const auto& s : std::as_const(stores))
        if (problem.isEmpty() && s.first.compare(name, Qt::CaseInsensitive) == 0)
            problem = QStringLiteral("There is a store named \"%1\" already.").arg(name);
    if (problem.isEmpty() && (path.isEmpty() || hasLineBreak(path) || !QFileInfo(resolvedStorePath(path)).isDir()))
        problem = QStringLiteral("The folder \"%1\" does not exist.").arg(path);
    if (!problem.isEmpty()) {
        ui::MsgBox(problem, ui::vbCritical);
        return false;
    }
    stores.append({name, path});
    lstStores->addItem(QStringLiteral("%1 (%2)").arg(name, path));
    txtStoreName->clear();
    txtStorePath->clear();
    return true;
}

void OptionsDialog::Remove_Click()
{
    const int row = lstStores->currentRow();
    if (row < 0 || row >= stores.size())
        return;
    stores.removeAt(row);
    delete lstStores->takeItem(row);
}

bool OptionsDialog::OK_Click()
{
    QByteArray text;
    for (const auto& [name, path] : std::as_const(stores))
        text += "[" + name.toUtf8() + "]\nPath=" + path.toUtf8() + "\n\n";
    QSaveFile f(storesFile());
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
        ui::MsgBox(QStringLiteral("The list of stores could not be saved: %1").arg(f.errorString()), ui::vbCritical);
        return false;
    }
    accept();
    return true;
}

int ShowOptionsDialog(QWidget* parent)
{
    OptionsDialog dlg(parent);
    return ui::ShowModal(&dlg);
}

} // namespace mail

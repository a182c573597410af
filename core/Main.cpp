#include "core/Main.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>
#include <QSysInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <csignal>
#include <limits>
#include <memory>
#include <optional>

#include "core/Conversions.h"
#include "core/Database.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "core/OLAPP.h"
#include "core/SQLStatement.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Spooler.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"
#include "platform/ui/WindowPlacement.h"

namespace {
// The start-up messages name what to check on this platform: the data folder, the mail store
// folder and the database file.
QString TrapDataFolderMessage(const QString& folder, const QString& reason)
{
    return QStringLiteral("Error Initializing the Data Folder.  Please ensure the data folder ") + folder +
           QStringLiteral(" can be created and written on this computer.  ") + reason;
}

QString TrapAMessage()
{
    return QStringLiteral("Error Initializing Outlook.  Please ensure the mail store folder ") + ui::DataPath(QStringLiteral("Mail")) +
           QStringLiteral(" can be created and written on this computer");
}

QString TrapBMessage()
{
    return QStringLiteral("Error Initializing the Database.  Please ensure the database file ") + DatabasePath() +
           QStringLiteral(" can be read and written and is a Ferrowyn database.  ") +
           QStringLiteral("Refer to the README (README.md in Ferrowyn's source folder) for more information.");
}

QString TrapCMessage()
{
    return QStringLiteral("There was an error in initialization.  Please check to see if the mail store folder ") +
           ui::DataPath(QStringLiteral("Mail")) + QStringLiteral(" and the database file ") + DatabasePath() +
           QStringLiteral(" can be read.");
}

// Held for the life of the process; its destructor removes the lock file.
std::unique_ptr<QLockFile>& instanceLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

// Why nothing can be written in the folder, in the system's words; nothing when it can be.
std::optional<QString> WriteRefusal(const QString& folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.ferrowyn-XXXXXX"));
    if (!probe.open()) return probe.errorString();
    return std::nullopt;
}

// Whether the process named in a lock file is a running instance, as far as can be told: a lock
// of another machine, or a process whose program cannot be read, counts as running.
bool HolderIsRunning(qint64 pid, const QString& host, const QString& program)
{
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) return true;
    if (pid == QCoreApplication::applicationPid()) return true;
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) return false;
    // The pid may have passed to another program since the instance died. The program's file is
    // hidden for another user's process; its name, cut short by the kernel, is not.
    const QString name = QFileInfo(program).fileName();
    if (name.isEmpty()) return true;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString running = QFile::symLinkTarget(proc + QStringLiteral("exe"));
    if (!running.isEmpty()) {
        const QLatin1String replaced(" (deleted)");
        if (running.endsWith(replaced)) running.chop(replaced.size());
        return QFileInfo(running).fileName() == name;
    }
    QFile comm(proc + QStringLiteral("comm"));
    if (!comm.open(QIODevice::ReadOnly)) return true;
    constexpr int kCommLength = 15;
    return QString::fromUtf8(comm.readAll()).trimmed() == name.left(kCommLength);
}

// A starting instance writes its name into the lock file as it creates it. One that names no
// process and is older than this was left by an instance that ended before writing it (a crash,
// a power loss); a newer one may be another instance's that is still writing it.
constexpr qint64 kUnnamedLockStaleMs = 5000;

bool NamesNoProcess(const QLockFile& lock)
{
    qint64 pid = 0;
    QString host, program;
    return !lock.getLockInfo(&pid, &host, &program);
}

// Old either way from now: a clock set back since the crash leaves a stamp in the future.
bool IsStaleUnnamedLock(const QLockFile& lock)
{
    if (!NamesNoProcess(lock)) return false;
    const QDateTime modified = QFileInfo(InstanceLockPath()).lastModified();
    return modified.isValid() && qAbs(modified.msecsTo(QDateTime::currentDateTime())) > kUnnamedLockStaleMs;
}

// Removes a stale lock that names no process and takes the lock. Under a guard lock, as Qt's
// takeover of a dead holder's lock is, so that of two instances starting together only one
// removes it: the other finds it named afresh.
bool TakeOverUnnamedLock(QLockFile& lock)
{
    if (!IsStaleUnnamedLock(lock)) return false;
    QLockFile guard(InstanceLockPath() + QStringLiteral(".rmlock"));
    if (!guard.tryLock(0)) return false;
    return IsStaleUnnamedLock(lock) && lock.removeStaleLockFile() && lock.tryLock(0);
}

enum class InstanceLock { Taken, HeldElsewhere, Refused };

InstanceLock TakeInstanceLock(QString* reason)
{
    auto lock = std::make_unique<QLockFile>(InstanceLockPath());
    // Never stale by age alone: a lock whose process has died, or that names none and is not
    // new, is taken over; a running instance's lock never is.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0) || (lock->error() == QLockFile::LockFailedError && TakeOverUnnamedLock(*lock))) {
        instanceLock() = std::move(lock);
        return InstanceLock::Taken;
    }
    // Only a running instance ends the start silently. A lock whose holder is gone was left
    // standing because the folder refused its removal; a folder that can be written was only
    // raced by another instance starting. A lock that names no process is never taken for a
    // running instance's: that would end every start in silence.
    if (lock->error() == QLockFile::LockFailedError) {
        if (NamesNoProcess(*lock)) {
            const std::optional<QString> refusal = IsStaleUnnamedLock(*lock) ? WriteRefusal(ui::DataFolder()) : std::nullopt;
            *reason = refusal.value_or(QStringLiteral("The lock file ") + InstanceLockPath() +
                                       QStringLiteral(" names no running Ferrowyn: another one may be starting.  "
                                                      "If none is, start Ferrowyn again in a few seconds."));
            return InstanceLock::Refused;
        }
        qint64 pid = 0;
        QString host, program;
        if (lock->getLockInfo(&pid, &host, &program) && HolderIsRunning(pid, host, program)) return InstanceLock::HeldElsewhere;
        const std::optional<QString> refusal = WriteRefusal(ui::DataFolder());
        if (!refusal) return InstanceLock::HeldElsewhere;
        *reason = *refusal;
        return InstanceLock::Refused;
    }
    *reason = WriteRefusal(ui::DataFolder()).value_or(QStringLiteral("The lock file cannot be created there."));
    return InstanceLock::Refused;
}

void Fail(const QString& message, int* exitCode)
{
    ui::MsgBox(message, ui::vbCritical);
    if (exitCode) *exitCode = 1;
}
} // namespace

void ReleaseInstanceLock() { instanceLock().reset(); }

QString InstanceLockPath() { return ui::DataPath(QStringLiteral("ferrowyn.lock")); }

void LoadMailAccounts(QVariantList& accounts, int& count)
{
    count = 0;
    try {
        if (accounts.size() < 101) accounts.resize(101);
        for (const QString& name : mail::send::AccountNames()) {
            if (name.isEmpty()) continue;
            if (count >= 100) return;
            ++count;
            accounts[count] = name;
        }
    } catch (...) {
        // Names read so far stay.
    }
}

bool Main(int* exitCode)
{
    if (exitCode) *exitCode = 0;
    QString lockRefusal;
    switch (TakeInstanceLock(&lockRefusal)) {
    case InstanceLock::Taken:
        break;
    case InstanceLock::HeldElsewhere:
        return false;
    case InstanceLock::Refused:
        Fail(TrapDataFolderMessage(ui::DataFolder(), lockRefusal), exitCode);
        return false;
    }

    ui::SetMousePointer(ui::vbHourglass);
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/ferrowyn/icons/ferrowyn-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    ui::GuardModalWindows();
    const QString path = DatabasePath();

    try {
        OLAPPObject = std::make_shared<OLAPP>();
        // The host makes its default store lazily; a store that cannot be made is a host that
        // did not start, not a failure of the window later on.
        const mail::FolderPtr inbox =
            OLAPPObject->ol->GetNamespace(QStringLiteral("MAPI"))->GetDefaultFolder(mail::olFolderInbox);
        if (!QFileInfo(inbox->Path()).isDir()) throw mail::MailError(QStringLiteral("The mail store cannot be created."));
    } catch (...) {
        Fail(TrapAMessage(), exitCode);
        return false;
    }

    try {
        DBConnection().ConnectionString = path;
        OpenDatabase(DBConnection(), path);
        SQLStatement sql;
        sql.SetConnection(&DBConnection());
        sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderType = 0;"));
        db::Recordset rs;
        if (sql.GetRecordsetFO(rs)) {
            if (rs.Eof()) {
                SQLStatement ins;
                ins.SetConnection(&DBConnection());
                ins.SetSql(QStringLiteral("INSERT INTO MailFolders (?) VALUES (?);"));
                ins.SetString(QStringLiteral("FolderName"), QStringLiteral("Master List"));
                ins.SetLong(QStringLiteral("ParentFolderRecID"), 0);
                ins.SetLong(QStringLiteral("FolderType"), 0);
                ins.SetInteger(QStringLiteral("Status"), -1);
                ins.Execute();
            }
            rs.Close();
        }
        OutlookApp = OLAPPObject->ol;
        MAPINameSpace = OutlookApp->GetNamespace(QStringLiteral("MAPI"));
    } catch (...) {
        Fail(TrapBMessage(), exitCode);
        try {
            if (OLAPPObject && OLAPPObject->ol) OLAPPObject->ol->Quit();
        } catch (...) {
        }
        OLAPPObject.reset();
        OutlookApp.reset();
        try {
            DBConnection().Close();
        } catch (...) {
        }
        return false;
    }

    Form1* form = nullptr;
    try {
        LoadComboFieldTypes();
        form = new Form1;
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->Form_Load();
        form->LoadFolders();
        ui::TreeNode* first = form->TreeView1->Nodes(1);
        if (!first) throw std::runtime_error("The folder tree is empty.");
        CurrentFolderNode = first->Key();
        LoadMailAccounts(MailAccounts, MailAccountCount);
        form->show();
    } catch (...) {
        delete form;
        Fail(TrapCMessage(), exitCode);
        return false;
    }
    if (mail::send::Spooler* spooler = OutlookApp->spooler()) {
        // What opening the Outbox's queue found (its state lost or damaged, or unreadable), once.
        // Until its box has been closed, the next start tells it again.
        if (const QString found = spooler->queue()->takeFinding(); !found.isEmpty()) {
            ui::MsgBox(found, ui::vbCritical);
            spooler->queue()->findingSeen();
        }
        // What waits in the Outbox goes now, in the background.
        spooler->deliver(true);
    }
    return true;
}

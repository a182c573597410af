#include "platform/mail/send/MaildirWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

#include "platform/mail/send/QueueDatabase.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mail::send {

namespace {

// A full disk in the Outbox's one wording for it.
QString errnoText(const QString& what, const QString& path)
{
    const int error = errno;
    return QStringLiteral("%1 %2: %3")
        .arg(what, path, error == ENOSPC ? QString::fromLatin1(kDiskFullText) : QString::fromLocal8Bit(std::strerror(error)));
}

QString safeHost()
{
    // '/' and ':' would break the Maildir name.
    QString host = QSysInfo::machineHostName();
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    host.replace(QLatin1Char('/'), QStringLiteral("\\057"));
    host.replace(QLatin1Char(':'), QStringLiteral("\\072"));
    return host;
}

QString finalName(const QString& unique, MaildirSub sub, const QString& flags)
{
    if (sub == MaildirSub::New)
        return QStringLiteral("new/") + unique;
    QString sorted = flags;
    std::sort(sorted.begin(), sorted.end());
    return QStringLiteral("cur/") + unique + QStringLiteral(":2,") + sorted;
}

} // namespace

bool WriteAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

namespace {
std::mutex g_dirFaultMutex;
std::function<bool(const QString&)> g_dirFault;

bool syncPath(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}
} // namespace

void SetDirSyncFault(std::function<bool(const QString&)> fail)
{
    std::lock_guard lock(g_dirFaultMutex);
    g_dirFault = std::move(fail);
}

bool SyncDir(const QString& dir)
{
    {
        std::lock_guard lock(g_dirFaultMutex);
        if (g_dirFault && g_dirFault(dir))
            return false;
    }
    return syncPath(dir, O_DIRECTORY);
}

bool SyncFile(const QString& path) { return syncPath(path, 0); }

QString MaildirUniqueName()
{
    static std::atomic<quint64> counter{0};
    static const QString host = safeHost();
    static const qint64 pid = ::getpid();
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    // Fixed-width fields: the Outbox is delivered in name order, which must be queueing order.
    return QStringLiteral("%1.M%2P%3Q%4R%5.%6")
        .arg(ms / 1000)
        .arg((ms % 1000) * 1000, 6, 10, QLatin1Char('0'))
        .arg(pid)
        .arg(++counter, 12, 10, QLatin1Char('0'))
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
        .arg(host);
}

bool EnsureMaildir(const QString& dir, QString* error)
{
    for (const char* sub : {"cur", "new", "tmp"}) {
        const QString p = dir + QLatin1Char('/') + QLatin1String(sub);
        if (!QDir().mkpath(p)) {
            if (error)
                *error = QStringLiteral("Cannot create the folder %1").arg(p);
            return false;
        }
    }
    return true;
}

QString MaildirUniquePart(const QString& fileName)
{
    const QString base = QFileInfo(fileName).fileName();
    const qsizetype colon = base.indexOf(QLatin1Char(':'));
    return colon < 0 ? base : base.left(colon);
}

namespace {

// A file made without a name and named once written: the file system finds it an inode outside
// the directory's lock, so that many writers into one tmp/ do not wait on each other. -1 where
// the file system cannot (the caller makes the file by name instead).
int writeUnnamed(const QString& dir, const QByteArray& tmpName, const QByteArray& bytes, bool* written)
{
    *written = false;
    const int fd = ::open(QFile::encodeName(dir + QStringLiteral("/tmp")).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (!WriteAll(fd, bytes.constData(), bytes.size())) {
        ::close(fd);
        return -1;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, tmpName.constData(), AT_SYMLINK_FOLLOW) != 0) {
        ::close(fd);
        return -1;
    }
    *written = true;
    return fd;
}

} // namespace

bool WriteToMaildirTmp(const QString& dir, const QString& unique, const QByteArray& bytes, QString* error)
{
    QString err;
    const QString tmp = dir + QStringLiteral("/tmp/") + unique;
    const QByteArray tmpName = QFile::encodeName(tmp);

    bool written = false;
    int fd = writeUnnamed(dir, tmpName, bytes, &written);
    if (fd < 0)
        fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    // The folder is made on first need, not looked at on every write.
    if (fd < 0 && errno == ENOENT && EnsureMaildir(dir, &err))
        fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = err.isEmpty() ? errnoText(QStringLiteral("Cannot create"), tmp) : err;
        return false;
    }
    bool ok = written || WriteAll(fd, bytes.constData(), bytes.size());
    if (!ok)
        err = errnoText(QStringLiteral("Cannot write"), tmp);
    // Its name is flushed with it, as for any new file.
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errnoText(QStringLiteral("Cannot flush"), tmp);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errnoText(QStringLiteral("Cannot close"), tmp);
    }
    if (!ok) {
        ::unlink(tmpName.constData());
        if (error)
            *error = err;
    }
    return ok;
}

QString WriteToMaildir(const QString& dir, const QByteArray& bytes, MaildirSub sub, const QString& flags,
                       QString* error)
{
    QString err;
    const QString unique = MaildirUniqueName();
    const QString tmp = dir + QStringLiteral("/tmp/") + unique;
    const QString target = dir + QLatin1Char('/') + finalName(unique, sub, flags);
    const QByteArray tmpName = QFile::encodeName(tmp);

    bool ok = WriteToMaildirTmp(dir, unique, bytes, &err);
    if (!ok) {
        if (error)
            *error = err;
        return {};
    }
    if (ok && ::rename(tmpName.constData(), QFile::encodeName(target).constData()) != 0) {
        ok = false;
        err = errnoText(QStringLiteral("Cannot move into place"), target);
    }
    if (!ok) {
        ::unlink(tmpName.constData());
        if (error)
            *error = err;
        return {};
    }
    SyncDir(QFileInfo(target).absolutePath());
    return target;
}

QString MoveToMaildir(const QString& file, const QString& dir, const QString& flags, QString* error, bool syncDir)
{
    const QString target = dir + QLatin1Char('/') + finalName(MaildirUniquePart(file), MaildirSub::Cur, flags);
    const QByteArray from = QFile::encodeName(file);
    const QByteArray to = QFile::encodeName(target);
    int rc = ::rename(from.constData(), to.constData());
    int renameErrno = errno;
    // The folder is made on first need, not looked at on every move.
    if (rc != 0 && renameErrno == ENOENT && QFile::exists(file)) {
        QString err;
        if (!EnsureMaildir(dir, &err)) {
            if (error)
                *error = err;
            return {};
        }
        rc = ::rename(from.constData(), to.constData());
        renameErrno = errno;
    }
    if (rc == 0) {
        if (syncDir)
            SyncDir(QFileInfo(target).absolutePath());
        return target;
    }
    if (renameErrno != EXDEV) {
        errno = renameErrno;
        if (error)
            *error = errnoText(QStringLiteral("Cannot move"), file);
        return {};
    }
    // Another file system: the copy must be in place before the original goes.
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(file, in.errorString());
        return {};
    }
    const QString copied = WriteToMaildir(dir, in.readAll(), MaildirSub::Cur, flags, error);
    if (copied.isEmpty())
        return {};
    QFile::remove(file);
    return copied;
}

} // namespace mail::send

#include "platform/mail/send/QueueDatabase.h"
#include "platform/mail/send/MaildirWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <vector>
#include <mutex>
#include <new>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_map>

namespace mail::send {

struct QueueStatements {
    std::unordered_map<const char*, sqlite3_stmt*> prepared;
};

namespace {

constexpr char kVfsName[] = "ferrowyn-queue";

// ---- the file layer: SQLite's own files, with a lock around their flushes and a seam for tests ----

std::atomic_bool g_anyFault{false};
std::mutex g_faultMutex;
std::function<QueueFault(qint64)> g_fault;

QueueFault faultFor(qint64 bytes)
{
    if (!g_anyFault.load(std::memory_order_relaxed))
        return QueueFault::None;
    std::function<QueueFault(qint64)> f;
    {
        std::lock_guard lock(g_faultMutex);
        f = g_fault;
    }
    return f ? f(bytes) : QueueFault::None;
}

struct ShimFile {
    sqlite3_file base;        // must come first: SQLite sees this
    sqlite3_file* real = nullptr;
    bool wal = false;
    std::string name;
    dev_t dev = 0;            // the file, whatever its name is now
    ino_t ino = 0;
    std::mutex syncing;       // SQLite's flush and ours never run at once on one file
};

constexpr size_t kShimSize = (sizeof(ShimFile) + 15) & ~size_t(15);

sqlite3_vfs* g_real = nullptr;
std::mutex g_walMutex;
std::set<const ShimFile*> g_wals;   // the open write-ahead logs

ShimFile* shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }
sqlite3_file* real(sqlite3_file* f) { return shim(f)->real; }

// ---- for tests: what a power loss would take back ----
// Each change not durable yet, oldest first: a write not flushed, with what its place held
// before; a rename or removal whose folder was not flushed since, with what it replaced or
// removed kept under a link of its own.
struct Unflushed {
    enum Kind { Write, Rename, Remove } kind = Write;
    std::string name;          // the file written, a rename's new name, the file removed
    std::string from;          // a rename's old name
    std::string kept;          // what a rename replaced, or the file removed; empty: nothing
    std::string folder;        // a rename's or removal's
    dev_t dev = 0;             // the file written or renamed
    ino_t ino = 0;
    sqlite3_int64 offset = 0;
    std::string before;
    sqlite3_int64 sizeBefore = 0;
};
std::atomic_bool g_tracking{false};
std::mutex g_trackMutex;
std::vector<Unflushed> g_unflushed;

sqlite3_int64 sizeOf(sqlite3_file* f)
{
    sqlite3_int64 size = 0;
    return f->pMethods->xFileSize(f, &size) == SQLITE_OK ? size : 0;
}

// Called with g_trackMutex held: what [offset, end) held before it changes.
void remember(ShimFile* s, sqlite3_int64 offset, sqlite3_int64 end)
{
    if (s->name.empty())
        return;
    Unflushed u;
    u.name = s->name;
    u.dev = s->dev;
    u.ino = s->ino;
    u.offset = offset;
    u.sizeBefore = sizeOf(s->real);
    const sqlite3_int64 upTo = std::min(end, u.sizeBefore);
    if (upTo > offset) {
        u.before.resize(size_t(upTo - offset));
        if (s->real->pMethods->xRead(s->real, u.before.data(), int(upTo - offset), offset) != SQLITE_OK)
            u.before.clear();
    }
    g_unflushed.push_back(std::move(u));
}

void flushed(dev_t dev, ino_t ino)
{
    std::erase_if(g_unflushed, [&](const Unflushed& u) { return u.kind == Unflushed::Write && u.dev == dev && u.ino == ino; });
}

void flushed(const char* path)
{
    struct stat st {};
    if (::stat(path, &st) == 0)
        flushed(st.st_dev, st.st_ino);
}

int shimClose(sqlite3_file* f)
{
    ShimFile* s = shim(f);
    if (s->wal) {
        std::lock_guard lock(g_walMutex);
        g_wals.erase(s);
    }
    const int rc = s->real->pMethods ? s->real->pMethods->xClose(s->real) : SQLITE_OK;
    s->~ShimFile();
    return rc;
}

int shimRead(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset)
{
    return real(f)->pMethods->xRead(real(f), buf, amount, offset);
}

int realWrite(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset)
{
    if (!g_tracking.load())
        return real(f)->pMethods->xWrite(real(f), buf, amount, offset);
    std::lock_guard lock(g_trackMutex);
    remember(shim(f), offset, offset + amount);
    return real(f)->pMethods->xWrite(real(f), buf, amount, offset);
}

int shimWrite(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset)
{
    switch (faultFor(amount)) {
    case QueueFault::None: break;
    case QueueFault::Fail: return SQLITE_FULL;
    case QueueFault::Short:
        realWrite(f, buf, amount / 2, offset);
        return SQLITE_FULL;
    case QueueFault::Crash:
        realWrite(f, buf, amount / 2, offset);
        ::kill(::getpid(), SIGKILL);
        return SQLITE_FULL;
    case QueueFault::PowerLoss: LoseQueuePower();
    }
    return realWrite(f, buf, amount, offset);
}

int syncFile(ShimFile* s, int flags)
{
    switch (faultFor(0)) {
    case QueueFault::None: break;
    case QueueFault::Crash: ::kill(::getpid(), SIGKILL); return SQLITE_IOERR_FSYNC;
    case QueueFault::PowerLoss: LoseQueuePower();
    default: return SQLITE_IOERR_FSYNC;
    }
    std::lock_guard lock(s->syncing);
    if (!g_tracking.load())
        return s->real->pMethods->xSync(s->real, flags);
    // Held across the flush: a power loss staged meanwhile takes back only what it did not reach.
    std::lock_guard track(g_trackMutex);
    const int rc = s->real->pMethods->xSync(s->real, flags);
    if (rc == SQLITE_OK)
        flushed(s->dev, s->ino);
    return rc;
}

int shimTruncate(sqlite3_file* f, sqlite3_int64 size)
{
    if (!g_tracking.load())
        return real(f)->pMethods->xTruncate(real(f), size);
    std::lock_guard lock(g_trackMutex);
    remember(shim(f), size, sizeOf(real(f)));
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shimSync(sqlite3_file* f, int flags) { return syncFile(shim(f), flags); }
int shimFileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int shimLock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int shimUnlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int shimCheckReservedLock(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int shimFileControl(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int shimSectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int shimDeviceCharacteristics(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int shimShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** p)
{
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, p);
}
int shimShmLock(sqlite3_file* f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); }
void shimShmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int shimShmUnmap(sqlite3_file* f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }
int shimFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** p)
{
    return real(f)->pMethods->xFetch(real(f), offset, amount, p);
}
int shimUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) { return real(f)->pMethods->xUnfetch(real(f), offset, p); }

const sqlite3_io_methods kMethods = {
    3,
    shimClose,
    shimRead,
    shimWrite,
    shimTruncate,
    shimSync,
    shimFileSize,
    shimLock,
    shimUnlock,
    shimCheckReservedLock,
    shimFileControl,
    shimSectorSize,
    shimDeviceCharacteristics,
    shimShmMap,
    shimShmLock,
    shimShmBarrier,
    shimShmUnmap,
    shimFetch,
    shimUnfetch,
};

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags)
{
    ShimFile* s = new (f) ShimFile;
    s->base.pMethods = nullptr;
    s->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kShimSize);
    s->real->pMethods = nullptr;
    const int rc = g_real->xOpen(g_real, name, s->real, flags, outFlags);
    if (rc != SQLITE_OK || !s->real->pMethods) {
        if (s->real->pMethods)
            s->real->pMethods->xClose(s->real);
        s->~ShimFile();
        f->pMethods = nullptr;
        return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
    }
    s->base.pMethods = &kMethods;
    if (name) {
        s->name = name;
        struct stat st {};
        if (::stat(name, &st) == 0) {
            s->dev = st.st_dev;
            s->ino = st.st_ino;
        }
    }
    if ((flags & SQLITE_OPEN_WAL) && name) {
        s->wal = true;
        std::lock_guard lock(g_walMutex);
        g_wals.insert(s);
    }
    return SQLITE_OK;
}

int vfsDelete(sqlite3_vfs*, const char* name, int syncDir)
{
    if (g_tracking.load() && name) {
        // Taken as done for good: a log is removed only once what it held is in the database.
        std::lock_guard lock(g_trackMutex);
        flushed(name);
    }
    return g_real->xDelete(g_real, name, syncDir);
}
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int vfsFullPathname(sqlite3_vfs*, const char* name, int n, char* out) { return g_real->xFullPathname(g_real, name, n, out); }
void* vfsDlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void vfsDlError(sqlite3_vfs*, int n, char* out) { g_real->xDlError(g_real, n, out); }
void (*vfsDlSym(sqlite3_vfs*, void* h, const char* symbol))(void) { return g_real->xDlSym(g_real, h, symbol); }
void vfsDlClose(sqlite3_vfs*, void* h) { g_real->xDlClose(g_real, h); }
int vfsRandomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int vfsSleep(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int vfsCurrentTime(sqlite3_vfs*, double* t) { return g_real->xCurrentTime(g_real, t); }
int vfsGetLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) { return g_real->xCurrentTimeInt64(g_real, t); }

void registerVfs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_real = sqlite3_vfs_find(nullptr);
        static sqlite3_vfs v{};
        v.iVersion = 2;
        v.szOsFile = int(kShimSize) + g_real->szOsFile;
        v.mxPathname = g_real->mxPathname;
        v.zName = kVfsName;
        v.xOpen = vfsOpen;
        v.xDelete = vfsDelete;
        v.xAccess = vfsAccess;
        v.xFullPathname = vfsFullPathname;
        v.xDlOpen = vfsDlOpen;
        v.xDlError = vfsDlError;
        v.xDlSym = vfsDlSym;
        v.xDlClose = vfsDlClose;
        v.xRandomness = vfsRandomness;
        v.xSleep = vfsSleep;
        v.xCurrentTime = vfsCurrentTime;
        v.xGetLastError = vfsGetLastError;
        v.xCurrentTimeInt64 = vfsCurrentTimeInt64;
        sqlite3_vfs_register(&v, 0);
    });
}

QString systemError(int error)
{
    return error == ENOSPC ? QString::fromLatin1(kDiskFullText) : QString::fromLocal8Bit(std::strerror(error));
}

// Less room than the log's index grows by: what failed there failed for want of room.
bool noRoomBeside(const QString& path)
{
    struct statvfs fs {};
    const QByteArray folder = QFile::encodeName(path.left(std::max<qsizetype>(1, path.lastIndexOf(QLatin1Char('/')))));
    return ::statvfs(folder.constData(), &fs) == 0 && quint64(fs.f_bavail) * fs.f_frsize < 64 * 1024;
}

// SQLite's words, but a full disk in one wording: SQLite says "database or disk is full" for a
// short write and "disk I/O error" when the log or its index cannot grow.
QString sqliteError(sqlite3* db, int code, const QString& path)
{
    const int primary = code & 0xff;
    if (primary == SQLITE_FULL || (primary == SQLITE_IOERR && ((db && sqlite3_system_errno(db) == ENOSPC) || noRoomBeside(path))))
        return QString::fromLatin1(kDiskFullText);
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

// The fault seam for a step of the queue's own on its files: false (errno set) when it fails.
bool allowed(qint64 bytes)
{
    switch (faultFor(bytes)) {
    case QueueFault::None: return true;
    case QueueFault::Crash: ::kill(::getpid(), SIGKILL); break;
    case QueueFault::PowerLoss: LoseQueuePower();
    case QueueFault::Fail:
    case QueueFault::Short: break;
    }
    errno = EIO;
    return false;
}

std::string folderOf(const QString& path, bool isFolder)
{
    const QFileInfo info(path);
    return QFile::encodeName(QDir::cleanPath(isFolder ? info.absoluteFilePath() : info.absolutePath())).toStdString();
}

// Called with g_trackMutex held: a second name for what is at `path`, so that a power loss can
// bring it back; empty when there is nothing.
std::string keep(const std::string& path, const std::string& folder)
{
    static int kept = 0;
    const std::string name = folder + "/.power-kept-" + std::to_string(::getpid()) + '-' + std::to_string(++kept);
    return ::link(path.c_str(), name.c_str()) == 0 ? name : std::string();
}

} // namespace

bool SyncQueueFile(const QString& path)
{
    if (!allowed(0))
        return false;
    if (!g_tracking.load())
        return SyncFile(path);
    // Held across the flush: a power loss staged meanwhile takes back only what it did not reach.
    std::lock_guard lock(g_trackMutex);
    if (!SyncFile(path))
        return false;
    flushed(QFile::encodeName(path).constData());
    return true;
}

bool RenameQueueFile(const QString& from, const QString& to)
{
    if (!allowed(-1))
        return false;
    const QByteArray f = QFile::encodeName(from), t = QFile::encodeName(to);
    if (!g_tracking.load())
        return ::rename(f.constData(), t.constData()) == 0;
    std::lock_guard lock(g_trackMutex);
    Unflushed u;
    u.kind = Unflushed::Rename;
    u.name = t.toStdString();
    u.from = f.toStdString();
    u.folder = folderOf(to, false);
    if (struct stat st {}; ::stat(f.constData(), &st) == 0) {
        u.dev = st.st_dev;
        u.ino = st.st_ino;
    }
    u.kept = keep(u.name, u.folder);
    if (::rename(f.constData(), t.constData()) != 0) {
        const int error = errno;
        if (!u.kept.empty())
            ::unlink(u.kept.c_str());
        errno = error;
        return false;
    }
    g_unflushed.push_back(std::move(u));
    return true;
}

bool RemoveQueueFile(const QString& path)
{
    if (!allowed(-1))
        return false;
    const QByteArray p = QFile::encodeName(path);
    if (!g_tracking.load())
        return ::unlink(p.constData()) == 0 || errno == ENOENT;
    std::lock_guard lock(g_trackMutex);
    Unflushed u;
    u.kind = Unflushed::Remove;
    u.name = p.toStdString();
    u.folder = folderOf(path, false);
    u.kept = keep(u.name, u.folder);
    if (::unlink(p.constData()) != 0) {
        const int error = errno;
        if (!u.kept.empty())
            ::unlink(u.kept.c_str());
        errno = error;
        return error == ENOENT;
    }
    g_unflushed.push_back(std::move(u));
    return true;
}

bool SyncQueueFolder(const QString& dir)
{
    if (!allowed(-1))
        return false;
    if (!g_tracking.load())
        return SyncDir(dir);
    std::lock_guard lock(g_trackMutex);
    if (!SyncDir(dir))
        return false;
    // Its renames and removals are durable now: what was written under a name renamed is
    // taken back, if at all, under the new one.
    const std::string folder = folderOf(dir, true);
    for (size_t i = 0; i < g_unflushed.size();) {
        Unflushed& u = g_unflushed[i];
        if (u.kind == Unflushed::Write || u.folder != folder) {
            ++i;
            continue;
        }
        if (u.kind == Unflushed::Rename)
            for (size_t k = 0; k < i; ++k)
                if (Unflushed& w = g_unflushed[k]; w.kind == Unflushed::Write && w.dev == u.dev && w.ino == u.ino)
                    w.name = u.name;
        if (!u.kept.empty())
            ::unlink(u.kept.c_str());
        g_unflushed.erase(g_unflushed.begin() + std::ptrdiff_t(i));
    }
    return true;
}

void SetQueueFault(std::function<QueueFault(qint64)> fault)
{
    std::lock_guard lock(g_faultMutex);
    g_fault = std::move(fault);
    g_anyFault = bool(g_fault);
}

void TrackQueueFlushes() { g_tracking = true; }

void LoseQueuePower()
{
    // Held to the end: no write or flush of another thread comes between.
    g_trackMutex.lock();
    for (auto it = g_unflushed.rbegin(); it != g_unflushed.rend(); ++it) {
        if (it->kind != Unflushed::Write) {
            if (it->kind == Unflushed::Rename)
                ::rename(it->name.c_str(), it->from.c_str());
            if (!it->kept.empty())
                ::rename(it->kept.c_str(), it->name.c_str());
            continue;
        }
        // A write to a file removed since went with it.
        struct stat st {};
        if (::stat(it->name.c_str(), &st) != 0 || st.st_dev != it->dev || st.st_ino != it->ino)
            continue;
        const int fd = ::open(it->name.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (!it->before.empty())
            (void)!::pwrite(fd, it->before.data(), it->before.size(), it->offset);
        (void)!::ftruncate(fd, it->sizeBefore);
        ::close(fd);
    }
    ::kill(::getpid(), SIGKILL);
    std::abort();
}

QueueDatabase::Opening QueueDatabase::Open(const QString& path)
{
    registerVfs();
    Opening o;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno != ENOENT) {
            o.error = systemError(errno);
            return o;
        }
        // Created here, owner-only: SQLite gives its log and index files the same permissions.
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            o.error = systemError(errno);
            return o;
        }
        ::close(fd);
        o.created = true;
    } else if (S_ISDIR(st.st_mode)) {
        o.error = QStringLiteral("it is a folder");
        return o;
    }

    std::unique_ptr<QueueDatabase> db(new QueueDatabase(path));
    db->m_statements = std::make_unique<QueueStatements>();
    const int rc = sqlite3_open_v2(name.constData(), &db->m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
                                   kVfsName);
    auto refused = [&](int code) {
        const int primary = code & 0xff;
        o.damaged = primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
        // A full disk, a failed read, a lock held too long: it may pass by itself.
        o.passes = primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_BUSY || primary == SQLITE_LOCKED
                   || primary == SQLITE_NOMEM;
        o.error = sqliteError(db->m_db, code, path);
        return std::move(o);
    };
    if (rc != SQLITE_OK)
        return refused(rc);
    if (sqlite3_db_readonly(db->m_db, "main") == 1) {
        o.error = QStringLiteral("it cannot be written");
        return o;
    }
    sqlite3_busy_timeout(db->m_db, 10000);
    if (o.created)
        db->exec("PRAGMA page_size=1024");
    sqlite3_stmt* s = nullptr;
    int step = sqlite3_prepare_v2(db->m_db, "PRAGMA journal_mode=WAL", -1, &s, nullptr);
    if (step == SQLITE_OK)
        step = sqlite3_step(s);
    const bool wal = step == SQLITE_ROW && qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "wal") == 0;
    sqlite3_finalize(s);
    if (step != SQLITE_ROW)
        return refused(sqlite3_errcode(db->m_db));
    if (!wal) {
        o.error = QStringLiteral("it cannot be kept in the write-ahead mode");
        return o;
    }
    if (!db->exec("PRAGMA synchronous=NORMAL") || !db->exec("PRAGMA journal_size_limit=1048576"))
        return refused(sqlite3_errcode(db->m_db));
    if (!o.created) {
        // A file cut short or overwritten reads as damaged here, before anything trusts it.
        s = nullptr;
        step = sqlite3_prepare_v2(db->m_db, "PRAGMA quick_check", -1, &s, nullptr);
        if (step == SQLITE_OK)
            step = sqlite3_step(s);
        QString verdict;
        if (step == SQLITE_ROW)
            verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
        if (step != SQLITE_ROW)
            return refused(sqlite3_errcode(db->m_db));
        if (verdict != QLatin1String("ok")) {
            o.damaged = true;
            o.error = verdict;
            return o;
        }
    }
    o.db = std::move(db);
    return o;
}

QueueDatabase::QueueDatabase(const QString& path) : m_path(path) {}

QueueDatabase::~QueueDatabase()
{
    if (m_statements)
        for (auto& [sql, s] : m_statements->prepared)
            sqlite3_finalize(s);
    if (m_db)
        sqlite3_close(m_db);
}

void QueueDatabase::failed(const char* what)
{
    m_failed = true;
    m_error = m_db ? sqliteError(m_db, sqlite3_extended_errcode(m_db), m_path) : QString::fromLatin1(what);
}

QueueDatabase::Query QueueDatabase::query(const char* sql)
{
    sqlite3_stmt*& s = m_statements->prepared[sql];
    if (!s && sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        failed(sql);
        s = nullptr;
    }
    return Query(*this, s);
}

bool QueueDatabase::exec(const char* sql)
{
    if (m_inTransaction && m_failed)
        return false;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    failed(sql);
    return false;
}

bool QueueDatabase::begin()
{
    m_failed = false;
    m_inTransaction = false;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    m_failed = false;
    m_inTransaction = true;
    return true;
}

bool QueueDatabase::commit()
{
    // SQLite rolls the whole transaction back on some failures (a full disk while spilling its
    // cache) and goes on in autocommit: nothing may be committed as if it were still open.
    if (m_failed || sqlite3_get_autocommit(m_db) || !exec("COMMIT")) {
        if (!m_failed)
            m_error = QStringLiteral("the transaction was rolled back");
        const QString why = m_error;
        rollback();
        m_error = why;
        m_failed = true;
        return false;
    }
    m_inTransaction = false;
    ++m_commits;
    return true;
}

void QueueDatabase::rollback()
{
    m_inTransaction = false;
    // A full disk may have rolled it back already.
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

QueueDatabase::Log QueueDatabase::log() const
{
    Log l;
    sqlite3_file* f = nullptr;
    if (!m_db || sqlite3_file_control(m_db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &f) != SQLITE_OK) {
        l.reachable = false;
        return l;
    }

    if (!f || !f->pMethods)
        return l;
    // Ours, or a log SQLite opened otherwise, which we have no way to flush.
    l.reachable = f->pMethods == &kMethods;
    if (l.reachable)
        l.file = f;
    return l;
}

bool QueueDatabase::SyncLog(const Log& l)
{
    if (!l.reachable)
        return false;
    if (!l.file)
        return true;
    auto* s = static_cast<ShimFile*>(l.file);
    std::lock_guard lock(g_walMutex);
    // Closed meanwhile: what it held was not flushed by us.
    return g_wals.count(s) && syncFile(s, SQLITE_SYNC_NORMAL) == SQLITE_OK;
}

bool QueueDatabase::checkpoint()
{
    int frames = -1, done = -1;
    const int rc = sqlite3_wal_checkpoint_v2(m_db, "main", SQLITE_CHECKPOINT_TRUNCATE, &frames, &done);
    if (rc == SQLITE_OK && frames >= 0 && done == frames)
        return true;
    failed("checkpoint");
    if (rc == SQLITE_OK)
        m_error = QStringLiteral("not all of the log could be written back");
    return false;
}

QueueDatabase::Query::~Query()
{
    if (m_s) {
        sqlite3_reset(m_s);
        sqlite3_clear_bindings(m_s);
    }
}

QueueDatabase::Query& QueueDatabase::Query::bind(qint64 value)
{
    if (m_s)
        sqlite3_bind_int64(m_s, ++m_bound, value);
    return *this;
}

QueueDatabase::Query& QueueDatabase::Query::bind(const QString& value)
{
    if (!m_s)
        return *this;
    ++m_bound;
    if (value.isNull()) {
        sqlite3_bind_null(m_s, m_bound);
        return *this;
    }
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_s, m_bound, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

QueueDatabase::Query& QueueDatabase::Query::bind(const QDateTime& time)
{
    if (!m_s)
        return *this;
    ++m_bound;
    if (time.isValid())
        sqlite3_bind_int64(m_s, m_bound, time.toMSecsSinceEpoch());
    else
        sqlite3_bind_null(m_s, m_bound);
    return *this;
}

bool QueueDatabase::Query::next()
{
    if (!m_s || (m_db.m_inTransaction && m_db.m_failed))
        return false;
    const int rc = sqlite3_step(m_s);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_db.failed("step");
    return false;
}

bool QueueDatabase::Query::run()
{
    if (!m_s || (m_db.m_inTransaction && m_db.m_failed))
        return false;
    int rc;
    while ((rc = sqlite3_step(m_s)) == SQLITE_ROW) {
    }
    if (rc == SQLITE_DONE)
        return true;
    m_db.failed("step");
    return false;
}

qint64 QueueDatabase::Query::integer(int column) const { return sqlite3_column_int64(m_s, column); }

QString QueueDatabase::Query::text(int column) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_s, column));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_s, column)) : QString();
}

QDateTime QueueDatabase::Query::time(int column) const
{
    return isNull(column) ? QDateTime() : QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(m_s, column), Qt::UTC);
}

bool QueueDatabase::Query::isNull(int column) const { return sqlite3_column_type(m_s, column) == SQLITE_NULL; }

} // namespace mail::send

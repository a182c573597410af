#pragma once
// The database an Outbox's queue lives in: SQLite in WAL mode with synchronous=NORMAL, so that a
// commit is atomic, a torn write never passes for a record, a full disk rolls the transaction
// back and a second process waits its turn. A commit is written, not flushed: it survives any
// crash of the program. syncLog() makes every commit so far durable against a power loss too;
// it runs on any thread without holding the connection, through a thin file layer of our own
// over SQLite's, which tests also use to fail or cut writes as a full disk does.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace mail::send {

// How a write or an opening that met a full disk is told, whatever SQLite or the system said.
inline constexpr char kDiskFullText[] = "the disk is full";

// What a test makes of the next write or flush of a queue database file.
enum class QueueFault {
    None,
    Fail,    // nothing written: the disk is full
    Short,   // half of it written, then the disk is full
    Crash,   // half of it written, then the process is killed
    PowerLoss,   // nothing written, what was not flushed is lost, and the process is killed
};
// Asked before every write (bytes > 0) and every flush (bytes == 0) of a queue database file, and
// before every rename, removal and folder flush the queue makes itself (bytes < 0), on the thread
// that does it; empty: none. For tests.
void SetQueueFault(std::function<QueueFault(qint64 bytes)> fault);
// For tests: from now on, remember what each queue database file had before every write that is
// not flushed yet, and each rename and removal of the queue's files whose folder is not flushed
// yet, so that LoseQueuePower can put them back.
void TrackQueueFlushes();
// For tests: a power loss. Every queue database file is put back as it was at its last flush,
// every rename and removal not followed by a flush of its folder is undone, then the process is
// killed.
[[noreturn]] void LoseQueuePower();

// The queue's own steps on its files outside SQLite (putting a database in place, removing an
// earlier version's journal), through the fault seam and seen by the power-loss mode. False on
// a failure, errno set.
bool SyncQueueFile(const QString& path);
bool RenameQueueFile(const QString& from, const QString& to);
// True when the file is gone, or was not there.
bool RemoveQueueFile(const QString& path);
bool SyncQueueFolder(const QString& dir);

class QueueDatabase {
public:
    struct Opening {
        std::unique_ptr<QueueDatabase> db;
        bool created = false;    // there was no file: it is new and empty
        bool damaged = false;    // a file that is no sound database (empty, garbage, cut short)
        bool passes = false;     // not opened for a reason that may pass (a full disk, a lock)
        QString error;           // why there is no db
    };
    // Opens the file, or creates it owner-only when there is none. A file that cannot be read or
    // written is not touched (error); one that is no sound database comes back damaged.
    static Opening Open(const QString& path);
    ~QueueDatabase();
    QueueDatabase(const QueueDatabase&) = delete;
    QueueDatabase& operator=(const QueueDatabase&) = delete;

    QString path() const { return m_path; }

    // One statement, prepared once and kept; values bound in order. Reset when it goes.
    class Query {
    public:
        Query(QueueDatabase& db, sqlite3_stmt* statement) : m_db(db), m_s(statement) {}
        ~Query();
        Query(const Query&) = delete;
        Query& operator=(const Query&) = delete;
        Query& bind(qint64 value);
        Query& bind(const QString& value);    // a null QString binds NULL
        Query& bind(const QDateTime& time);   // ms since the epoch; invalid binds NULL
        // The next row; false at the end or on an error (which the transaction then fails on).
        bool next();
        // To the end; false on an error.
        bool run();
        qint64 integer(int column) const;
        QString text(int column) const;
        QDateTime time(int column) const;
        bool isNull(int column) const;

    private:
        QueueDatabase& m_db;
        sqlite3_stmt* m_s;
        int m_bound = 0;
    };
    Query query(const char* sql);
    bool exec(const char* sql);

    // A write transaction: whole or nothing. Once a statement in it fails (SQLite may have rolled
    // it all back already), none after it runs, and commit() fails.
    bool begin();
    bool commit();
    void rollback();
    // Rolls back on any way out but commit().
    class Transaction {
    public:
        explicit Transaction(QueueDatabase& db) : m_db(db), m_begun(db.begin()) {}
        ~Transaction()
        {
            if (m_begun && !m_done)
                m_db.rollback();
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        bool begun() const { return m_begun; }
        bool commit()
        {
            m_done = true;
            return m_begun && m_db.commit();
        }

    private:
        QueueDatabase& m_db;
        bool m_begun;
        bool m_done = false;
    };
    // The last failure in SQLite's words.
    QString error() const { return m_error; }
    // Commits made by this connection so far.
    quint64 commits() const { return m_commits; }
    // This connection's write-ahead log, as SQLite has it open, for SyncLog: taken under the lock
    // that guards the connection, flushed without it.
    struct Log {
        void* file = nullptr;      // none open: nothing was written through this connection
        bool reachable = true;     // false: there is a log, not one of ours to flush
    };
    Log log() const;
    // Makes every commit made so far through the log's connection (and any other, to the same
    // file) durable. Safe from any thread while the connection goes on. False when the log
    // cannot be flushed, or has been closed meanwhile.
    static bool SyncLog(const Log& log);
    // Hands the write-ahead log's content back to the database file and empties the log. False
    // when any of it could not be (a full disk, another connection reading).
    bool checkpoint();

private:
    explicit QueueDatabase(const QString& path);
    void failed(const char* what);

    QString m_path;
    sqlite3* m_db = nullptr;
    std::unique_ptr<struct QueueStatements> m_statements;
    bool m_failed = false;
    bool m_inTransaction = false;
    QString m_error;
    quint64 m_commits = 0;
};

} // namespace mail::send

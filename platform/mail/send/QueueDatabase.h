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

// What a test makes of the next write or flush of a queue database file.
enum class QueueFault {
    None,
    Fail,    // nothing written: the disk is full
    Short,   // half of it written, then the disk is full
    Crash,   // half of it written, then the process is killed
};
// Asked before every write (bytes > 0) and every flush (bytes == 0) of a queue database file, on
// the thread that does it; empty: none. For tests.
void SetQueueFault(std::function<QueueFault(qint64 bytes)> fault);

class QueueDatabase {
public:
    struct Opening {
        std::unique_ptr<QueueDatabase> db;
        bool created = false;    // there was no file: it is new and empty
        bool damaged = false;    // a file that is no sound database (empty, garbage, cut short)
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

    // A write transaction: whole or nothing. commit() fails, and rolls back, when any statement
    // since begin() failed.
    bool begin();
    bool commit();
    void rollback();
    // The last failure in SQLite's words.
    QString error() const { return m_error; }
    // Commits made by this connection so far.
    quint64 commits() const { return m_commits; }
    // Makes every commit made so far to the database at path, by any connection, durable. Safe
    // from any thread while the connections go on.
    static bool SyncLog(const QString& path);
    // Hands the write-ahead log's content back to the database file and empties the log.
    void checkpoint();

private:
    explicit QueueDatabase(const QString& path);
    void failed(const char* what);

    QString m_path;
    sqlite3* m_db = nullptr;
    std::unique_ptr<struct QueueStatements> m_statements;
    bool m_failed = false;
    QString m_error;
    quint64 m_commits = 0;
};

} // namespace mail::send

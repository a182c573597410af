#pragma once
// A database connection over Qt SQL's SQLite driver, shaped after what the system's data access
// needs: open/close/execute, scoped transactions and prepared statements for bulk loops.
// Failures are thrown as DbError; the data-access class turns them into its error properties.
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <memory>
#include <stdexcept>
#include <vector>

class QSqlQuery;
struct sqlite3;
struct sqlite3_stmt;

namespace db {

// Error numbers used where no database error number applies.
enum ErrorNumber : long {
    errInvalidArgument = 5,          // a malformed statement text (missing placeholder)
    errConnectionClosed = 3709,      // the connection is not open
    errUnspecified = -2147467259,    // any other failure of the provider
};

class DbError : public std::runtime_error {
public:
    DbError(long number, const QString& message);
    long number() const { return number_; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    long number_;
};

class Statement;
struct NativeStatement;

// The SQLite handle under a Qt connection; null when the driver gives none.
sqlite3* NativeHandle(const QSqlDatabase& d);

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The database file; Open() without an argument uses it.
    QString ConnectionString;

    // Opens the SQLite file (created empty when missing). Throws DbError when the file cannot be
    // opened or is not a database. WAL journal, synchronous NORMAL, foreign keys untouched.
    void Open(const QString& path = QString());
    void Close();
    // 1 when open, 0 when closed.
    int State() const;

    // Runs exactly one statement; a text holding a second statement is refused. Throws DbError.
    void Execute(const QString& sql);

    // Whole or not at all: commits on Commit(), rolls back when destroyed uncommitted.
    // Transactions nest (savepoints), so a caller's transaction may hold a callee's.
    class Transaction {
    public:
        explicit Transaction(Connection& c);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        Transaction(Transaction&& other) noexcept;
        void Commit();
        void Rollback();

    private:
        Connection* conn_;
        QString name_;
        bool open_;
    };
    Transaction BeginTrans() { return Transaction(*this); }

    // The same statement text run many times with bound values ('?' or ':name' placeholders).
    // One statement: a text holding a second one is refused.
    Statement Prepare(const QString& sql);

    QSqlDatabase database() const;
    const QString& connectionName() const { return name_; }

private:
    void ensureOpen() const;
    QString name_;
    bool open_ = false;
    int savepointDepth_ = 0;
    // Statements prepared on the SQLite handle; Close finalizes those still alive.
    std::vector<std::weak_ptr<NativeStatement>> statements_;
    friend class Transaction;
};

// A prepared statement with bound values. It runs on the SQLite handle itself, binding and
// reading values as Qt's driver does (a null QString binds NULL, text is UTF-8, a NULL reads
// as Null()), without the driver's per-call work, which dominated bulk loops; a driver that
// gives no handle is used through QSqlQuery.
class Statement {
public:
    Statement(Statement&&) noexcept;
    ~Statement();
    Statement& Bind(int index, const QVariant& value);
    Statement& Bind(const QString& name, const QVariant& value);
    // As Bind with a text (a null one binds NULL), encoded into the buffer this placeholder
    // already has: a bulk loop binds without a new allocation per value.
    Statement& BindText(int index, const QString& text);
    // As BindText with the UTF-8 bytes of a text (a null view binds NULL), copied into that
    // buffer: a bulk loop that has the bytes binds them without decoding and encoding them.
    Statement& BindUtf8(int index, QByteArrayView text);
    // As Bind with a number, without a variant: for bulk loops.
    Statement& BindInt64(int index, qint64 value);
    // Runs it; throws DbError (also for a placeholder left unbound). After a SELECT,
    // Next()/Value() walk the rows.
    void Exec();
    bool Next();
    QVariant Value(int index) const;
    QVariant Value(const QString& name) const;
    // The columns a SELECT gives, for reading its rows by name.
    int ColumnCount() const;
    QString ColumnName(int index) const;
    qint64 NumRowsAffected() const;
    // The rowid (an INTEGER PRIMARY KEY) of the row the last insert on the connection added.
    qint64 LastInsertId() const;

private:
    friend class Connection;
    friend class Recordset;
    explicit Statement(QSqlQuery* q);
    Statement(std::shared_ptr<NativeStatement> native, QString sql);
    sqlite3_stmt* handle() const;
    QByteArray* slot(int index);  // resets a run statement; null (and an error for Exec) when out of range
    void bindKept(int index, const QByteArray& keep);  // the text in a slot's buffer
    QSqlQuery* q_ = nullptr;
    std::shared_ptr<NativeStatement> native_;
    QString sql_;
    std::vector<QByteArray> kept_;  // per placeholder: the bytes of a bound text or blob, bound without a copy
    std::vector<bool> bound_;
    int unbound_ = 0;  // placeholders never bound
    QString bindError_;
    bool stepped_ = false;   // run since the last reset
    bool firstRow_ = false;  // Exec read a row Next has not handed out yet
    bool done_ = true;
    bool onRow_ = false;
    qint64 changes_ = 0;
};

// Null is a variant holding no value that is still valid; Empty is an invalid variant.
QVariant Null();
inline bool IsNull(const QVariant& v) { return v.isValid() && v.isNull(); }
inline bool IsEmpty(const QVariant& v) { return !v.isValid(); }

// A DbError from a Qt SQL error.
DbError ErrorFrom(const class QSqlError& e, const QString& sql);

} // namespace db

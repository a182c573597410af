#include "platform/db/Connection.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace db {

DbError::DbError(long number, const QString& message)
    : std::runtime_error(message.toStdString()), number_(number)
{
}

DbError ErrorFrom(const QSqlError& e, const QString& sql)
{
    bool ok = false;
    long n = e.nativeErrorCode().toLong(&ok);
    if (!ok || n == 0) n = errUnspecified;
    QString text = e.text();
    if (!sql.isEmpty()) text += QStringLiteral(" [") + sql + QLatin1Char(']');
    return DbError(n, text);
}

QVariant Null() { return QVariant(QMetaType(QMetaType::Nullptr)); }

namespace {
QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("ferrowyn-db-%1").arg(counter.fetchAndAddRelaxed(1));
}
} // namespace

Connection::Connection() : name_(nextConnectionName()) {}

Connection::~Connection() { Close(); }

void Connection::Open(const QString& path)
{
    if (!path.isEmpty()) ConnectionString = path;
    Close();
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        d.setDatabaseName(ConnectionString);
        if (!d.open()) {
            const DbError err = ErrorFrom(d.lastError(), QString());
            d = QSqlDatabase();
            QSqlDatabase::removeDatabase(name_);
            throw err;
        }
        open_ = true;
    }
    try {
        // Reading the schema proves the file is a database; the pragmas need that too.
        Execute(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        Execute(QStringLiteral("PRAGMA journal_mode=WAL"));
        Execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
        Execute(QStringLiteral("PRAGMA busy_timeout=5000"));
        // Large lists are read in address order through the index, one row seek each: keep
        // pages in memory rather than reading them again with a system call per page.
        Execute(QStringLiteral("PRAGMA cache_size=-65536"));
        Execute(QStringLiteral("PRAGMA mmap_size=268435456"));
    } catch (...) {
        Close();
        throw;
    }
}

void Connection::Close()
{
    if (!open_) return;
    {
        QSqlDatabase d = QSqlDatabase::database(name_, false);
        if (d.isOpen()) d.close();
    }
    QSqlDatabase::removeDatabase(name_);
    open_ = false;
    savepointDepth_ = 0;
}

int Connection::State() const { return open_ ? 1 : 0; }

void Connection::ensureOpen() const
{
    if (!open_) throw DbError(errConnectionClosed, QStringLiteral("Operation is not allowed when the object is closed."));
}

QSqlDatabase Connection::database() const
{
    ensureOpen();
    return QSqlDatabase::database(name_, false);
}

void Connection::Execute(const QString& sql)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(sql)) throw ErrorFrom(q.lastError(), sql);
}

Connection::Transaction::Transaction(Connection& c) : conn_(&c), open_(false)
{
    name_ = QStringLiteral("sp%1").arg(++conn_->savepointDepth_);
    try {
        conn_->Execute(QStringLiteral("SAVEPOINT ") + name_);
    } catch (...) {
        --conn_->savepointDepth_;
        throw;
    }
    open_ = true;
}

Connection::Transaction::Transaction(Transaction&& other) noexcept
    : conn_(other.conn_), name_(other.name_), open_(other.open_)
{
    other.open_ = false;
}

Connection::Transaction::~Transaction()
{
    try {
        Rollback();
    } catch (...) {
        // A failed rollback on a closed connection leaves nothing to undo.
    }
}

void Connection::Transaction::Commit()
{
    if (!open_) return;
    try {
        conn_->Execute(QStringLiteral("RELEASE ") + name_);
    } catch (...) {
        // A refused RELEASE leaves the savepoint open: undo it, or every later statement would
        // run inside a transaction nobody commits.
        try {
            Rollback();
        } catch (...) {
        }
        throw;
    }
    open_ = false;
    --conn_->savepointDepth_;
}

void Connection::Transaction::Rollback()
{
    if (!open_) return;
    open_ = false;
    --conn_->savepointDepth_;
    if (!conn_->open_) return;
    conn_->Execute(QStringLiteral("ROLLBACK TO ") + name_);
    conn_->Execute(QStringLiteral("RELEASE ") + name_);
}

Statement Connection::Prepare(const QString& sql)
{
    auto* q = new QSqlQuery(database());
    q->setForwardOnly(true);
    if (!q->prepare(sql)) {
        const DbError err = ErrorFrom(q->lastError(), sql);
        delete q;
        throw err;
    }
    return Statement(q);
}

Statement::Statement(QSqlQuery* q) : q_(q) {}
Statement::Statement(Statement&& o) noexcept : q_(o.q_) { o.q_ = nullptr; }
Statement::~Statement() { delete q_; }

Statement& Statement::Bind(int index, const QVariant& value)
{
    q_->bindValue(index, value);
    return *this;
}

Statement& Statement::Bind(const QString& name, const QVariant& value)
{
    q_->bindValue(name, value);
    return *this;
}

void Statement::Exec()
{
    if (!q_->exec()) throw ErrorFrom(q_->lastError(), q_->lastQuery());
}

bool Statement::Next() { return q_->next(); }
QVariant Statement::Value(int index) const { return q_->value(index); }
QVariant Statement::Value(const QString& name) const { return q_->value(name); }
qint64 Statement::NumRowsAffected() const { return q_->numRowsAffected(); }

} // namespace db

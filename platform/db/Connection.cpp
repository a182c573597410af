#include "platform/db/Connection.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace db {

// A statement on the SQLite handle, shared by its Statement and the Connection that closes it.
struct NativeStatement {
    NativeStatement(sqlite3* d, sqlite3_stmt* s) : db(d), stmt(s) {}
    ~NativeStatement();
    NativeStatement(const NativeStatement&) = delete;
    NativeStatement& operator=(const NativeStatement&) = delete;
    void finalize();
    sqlite3* db;
    sqlite3_stmt* stmt;
};

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
    // Unfinalized statements would keep SQLite from closing the file.
    for (const std::weak_ptr<NativeStatement>& w : statements_)
        if (const std::shared_ptr<NativeStatement> n = w.lock()) n->finalize();
    statements_.clear();
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

sqlite3* NativeHandle(const QSqlDatabase& d)
{
    if (!d.driver()) return nullptr;
    const QVariant handle = d.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

Statement Connection::Prepare(const QString& sql)
{
    if (sqlite3* db = NativeHandle(database())) {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, &tail);
        QString refusal;
        if (rc != SQLITE_OK) refusal = QString::fromUtf8(sqlite3_errmsg(db));
        else if (!stmt) refusal = QStringLiteral("No statement.");
        // One statement per call: anything after the first is refused, never run.
        else if (tail && !QByteArray(tail).trimmed().isEmpty()) refusal = QStringLiteral("Unable to execute multiple statements at a time");
        if (!refusal.isEmpty()) {
            if (stmt) sqlite3_finalize(stmt);
            throw DbError(rc != SQLITE_OK ? long(rc) : long(errUnspecified), refusal + QStringLiteral(" [") + sql + QLatin1Char(']'));
        }
        auto native = std::make_shared<NativeStatement>(db, stmt);
        statements_.erase(std::remove_if(statements_.begin(), statements_.end(), [](const auto& w) { return w.expired(); }),
                          statements_.end());
        statements_.push_back(native);
        return Statement(std::move(native), sql);
    }
    auto* q = new QSqlQuery(database());
    q->setForwardOnly(true);
    if (!q->prepare(sql)) {
        const DbError err = ErrorFrom(q->lastError(), sql);
        delete q;
        throw err;
    }
    return Statement(q);
}

namespace {

// As Qt's driver: a variant without a value, or a null text, blob, date or time, is NULL.
bool isNullValue(const QVariant& v)
{
    if (!v.isValid() || v.isNull()) return true;
    switch (v.typeId()) {
    case QMetaType::QString: return static_cast<const QString*>(v.constData())->isNull();
    case QMetaType::QByteArray: return static_cast<const QByteArray*>(v.constData())->isNull();
    case QMetaType::QDate: return static_cast<const QDate*>(v.constData())->isNull();
    case QMetaType::QTime: return static_cast<const QTime*>(v.constData())->isNull();
    case QMetaType::QDateTime: return static_cast<const QDateTime*>(v.constData())->isNull();
    default: return false;
    }
}

} // namespace

Statement::Statement(QSqlQuery* q) : q_(q) {}
Statement::Statement(std::shared_ptr<NativeStatement> native, QString sql) : native_(std::move(native)), sql_(std::move(sql))
{
    unbound_ = sqlite3_bind_parameter_count(native_->stmt);
    kept_.resize(size_t(unbound_));
    bound_.assign(size_t(unbound_), false);
}
Statement::Statement(Statement&& o) noexcept
    : q_(std::exchange(o.q_, nullptr)), native_(std::move(o.native_)), sql_(std::move(o.sql_)), kept_(std::move(o.kept_)),
      bound_(std::move(o.bound_)), unbound_(o.unbound_), bindError_(std::move(o.bindError_)), stepped_(o.stepped_),
      firstRow_(o.firstRow_), done_(o.done_), onRow_(o.onRow_), changes_(o.changes_)
{
}
Statement::~Statement() { delete q_; }

sqlite3_stmt* Statement::handle() const
{
    if (!native_->stmt) throw DbError(errConnectionClosed, QStringLiteral("Operation is not allowed when the object is closed."));
    return native_->stmt;
}

QByteArray* Statement::slot(int index)
{
    sqlite3_stmt* st = handle();
    if (stepped_) {
        sqlite3_reset(st);
        stepped_ = firstRow_ = onRow_ = false;
        done_ = true;
    }
    const size_t i = size_t(index);
    if (index < 0 || i >= kept_.size()) {
        bindError_ = QStringLiteral("Parameter count mismatch");
        return nullptr;
    }
    if (!bound_[i]) {
        bound_[i] = true;
        --unbound_;
    }
    return &kept_[i];
}

Statement& Statement::BindText(int index, const QString& text)
{
    if (q_ || text.isNull()) return Bind(index, QVariant(text));
    QByteArray* keep = slot(index);
    if (!keep) return *this;
    // UTF-8 takes at most three bytes for each UTF-16 unit.
    keep->resize(text.size() * 3);
    char* end = QStringEncoder(QStringEncoder::Utf8).appendToBuffer(keep->data(), text);
    keep->truncate(end - keep->constData());
    bindKept(index, *keep);
    return *this;
}

Statement& Statement::BindUtf8(int index, QByteArrayView text)
{
    if (q_ || text.isNull()) {
        QString s;
        if (!text.isNull()) {
            // A leading U+FEFF is text here, not a byte-order mark to drop.
            s = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)(text);
            if (s.isNull()) s = QStringLiteral("");  // empty text, not NULL
        }
        return Bind(index, QVariant(s));
    }
    QByteArray* keep = slot(index);
    if (!keep) return *this;
    keep->resize(text.size());
    if (!text.isEmpty()) std::memcpy(keep->data(), text.data(), size_t(text.size()));
    bindKept(index, *keep);
    return *this;
}

Statement& Statement::BindInt64(int index, qint64 value)
{
    if (q_) return Bind(index, QVariant(value));
    if (slot(index) && sqlite3_bind_int64(native_->stmt, index + 1, value) != SQLITE_OK)
        bindError_ = QString::fromUtf8(sqlite3_errmsg(native_->db));
    return *this;
}

void Statement::bindKept(int index, const QByteArray& keep)
{
    if (sqlite3_bind_text(native_->stmt, index + 1, keep.constData(), int(keep.size()), SQLITE_STATIC) != SQLITE_OK)
        bindError_ = QString::fromUtf8(sqlite3_errmsg(native_->db));
}

Statement& Statement::Bind(int index, const QVariant& value)
{
    if (q_) {
        q_->bindValue(index, value);
        return *this;
    }
    QByteArray* slotBytes = slot(index);
    if (!slotBytes) return *this;
    sqlite3_stmt* st = native_->stmt;
    QByteArray& keep = *slotBytes;
    const int at = index + 1;
    int rc;
    if (isNullValue(value)) {
        rc = sqlite3_bind_null(st, at);
    } else {
        switch (value.typeId()) {
        case QMetaType::QByteArray:
            keep = value.toByteArray();
            rc = sqlite3_bind_blob(st, at, keep.constData(), int(keep.size()), SQLITE_STATIC);
            break;
        case QMetaType::Int:
        case QMetaType::Bool:
            rc = sqlite3_bind_int(st, at, value.toInt());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(st, at, value.toDouble());
            break;
        case QMetaType::UInt:
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(st, at, value.toLongLong());
            break;
        case QMetaType::QDateTime:
            keep = value.toDateTime().toString(Qt::ISODateWithMs).toUtf8();
            rc = sqlite3_bind_text(st, at, keep.constData(), int(keep.size()), SQLITE_STATIC);
            break;
        case QMetaType::QTime:
            keep = value.toTime().toString(QStringLiteral("hh:mm:ss.zzz")).toUtf8();
            rc = sqlite3_bind_text(st, at, keep.constData(), int(keep.size()), SQLITE_STATIC);
            break;
        default:
            keep = value.toString().toUtf8();
            rc = sqlite3_bind_text(st, at, keep.constData(), int(keep.size()), SQLITE_STATIC);
            break;
        }
    }
    if (rc != SQLITE_OK) bindError_ = QString::fromUtf8(sqlite3_errmsg(native_->db));
    return *this;
}

Statement& Statement::Bind(const QString& name, const QVariant& value)
{
    if (q_) {
        q_->bindValue(name, value);
        return *this;
    }
    const QByteArray key = (name.startsWith(QLatin1Char(':')) ? name : QLatin1Char(':') + name).toUtf8();
    const int at = sqlite3_bind_parameter_index(handle(), key.constData());
    if (at <= 0) {
        bindError_ = QStringLiteral("Parameter count mismatch");
        return *this;
    }
    return Bind(at - 1, value);
}

void Statement::Exec()
{
    if (q_) {
        if (!q_->exec()) throw ErrorFrom(q_->lastError(), q_->lastQuery());
        return;
    }
    sqlite3_stmt* st = handle();
    if (stepped_) sqlite3_reset(st);
    stepped_ = firstRow_ = onRow_ = false;
    done_ = true;
    changes_ = 0;
    if (bindError_.isEmpty() && unbound_ > 0) bindError_ = QStringLiteral("Parameter count mismatch");
    if (!bindError_.isEmpty()) {
        const QString why = std::exchange(bindError_, QString());
        throw DbError(errUnspecified, why + QStringLiteral(" [") + sql_ + QLatin1Char(']'));
    }
    stepped_ = true;
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        firstRow_ = true;
        done_ = false;
        return;
    }
    if (rc == SQLITE_DONE) {
        changes_ = sqlite3_changes(native_->db);
        return;
    }
    const DbError err(rc, QString::fromUtf8(sqlite3_errmsg(native_->db)) + QStringLiteral(" [") + sql_ + QLatin1Char(']'));
    sqlite3_reset(st);
    stepped_ = false;
    throw err;
}

bool Statement::Next()
{
    if (q_) return q_->next();
    if (!native_->stmt) return false;
    if (firstRow_) {
        firstRow_ = false;
        onRow_ = true;
        return true;
    }
    onRow_ = false;
    if (done_) return false;
    const int rc = sqlite3_step(native_->stmt);
    if (rc == SQLITE_ROW) {
        onRow_ = true;
        return true;
    }
    // The end, or a failure: as QSqlQuery::next, no more rows either way.
    if (rc == SQLITE_DONE) changes_ = sqlite3_changes(native_->db);
    done_ = true;
    return false;
}

QVariant Statement::Value(int index) const
{
    if (q_) return q_->value(index);
    sqlite3_stmt* st = handle();
    if (!onRow_ || index < 0 || index >= sqlite3_column_count(st)) return QVariant();
    switch (sqlite3_column_type(st, index)) {
    case SQLITE_INTEGER: return QVariant(qlonglong(sqlite3_column_int64(st, index)));
    case SQLITE_FLOAT: return QVariant(sqlite3_column_double(st, index));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, index)), sqlite3_column_bytes(st, index)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(st, index)), sqlite3_column_bytes(st, index)));
    default: return Null();
    }
}

QVariant Statement::Value(const QString& name) const
{
    if (q_) return q_->value(name);
    sqlite3_stmt* st = handle();
    for (int i = 0; i < sqlite3_column_count(st); ++i)
        if (name.compare(QString::fromUtf8(sqlite3_column_name(st, i)), Qt::CaseInsensitive) == 0) return Value(i);
    return QVariant();
}

int Statement::ColumnCount() const { return q_ ? q_->record().count() : sqlite3_column_count(handle()); }

QString Statement::ColumnName(int index) const
{
    if (q_) return q_->record().fieldName(index);
    const char* name = sqlite3_column_name(handle(), index);
    return name ? QString::fromUtf8(name) : QString();
}

qint64 Statement::NumRowsAffected() const { return q_ ? q_->numRowsAffected() : changes_; }

qint64 Statement::LastInsertId() const { return q_ ? q_->lastInsertId().toLongLong() : sqlite3_last_insert_rowid(native_->db); }

NativeStatement::~NativeStatement() { finalize(); }

void NativeStatement::finalize()
{
    if (stmt) sqlite3_finalize(stmt);
    stmt = nullptr;
}

} // namespace db

#include "platform/db/Recordset.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "platform/db/Connection.h"

#include <sqlite3.h>

namespace db {

namespace {

// Reads every row through the SQLite handle under the Qt connection: one QVariant per cell,
// without the per-value work of QSqlQuery, which dominated reading large tables.
using Cell = Recordset::Cell;

void appendBytes(std::vector<Cell>* cells, QByteArray* arena, Cell::Kind kind, const char* p, qsizetype n)
{
    if (quint64(arena->size()) + quint64(n) > 0xFFFFFFFFull)
        throw DbError(errUnspecified, QStringLiteral("The result is too large to read at once."));
    Cell c;
    c.kind = kind;
    c.bytes.offset = quint32(arena->size());
    c.bytes.length = quint32(n);
    arena->append(p, n);
    cells->push_back(c);
}

void appendVariant(std::vector<Cell>* cells, QByteArray* arena, const QVariant& v)
{
    Cell c;
    if (!v.isValid() || v.isNull()) {
        cells->push_back(c);
    } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
        c.kind = Cell::Integer;
        c.integer = v.toLongLong();
        cells->push_back(c);
    } else if (v.typeId() == QMetaType::Double) {
        c.kind = Cell::Real;
        c.real = v.toDouble();
        cells->push_back(c);
    } else if (v.typeId() == QMetaType::QByteArray) {
        const QByteArray b = v.toByteArray();
        appendBytes(cells, arena, Cell::Blob, b.constData(), b.size());
    } else {
        const QByteArray b = v.toString().toUtf8();
        appendBytes(cells, arena, Cell::Text, b.constData(), b.size());
    }
}

// The current row of a stepped statement, cell by cell.
void readRow(sqlite3_stmt* stmt, int n, std::vector<Cell>* cells, QByteArray* arena)
{
    for (int i = 0; i < n; ++i) {
        Cell c;
        switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
            c.kind = Cell::Integer;
            c.integer = sqlite3_column_int64(stmt, i);
            cells->push_back(c);
            break;
        case SQLITE_FLOAT:
            c.kind = Cell::Real;
            c.real = sqlite3_column_double(stmt, i);
            cells->push_back(c);
            break;
        case SQLITE_TEXT:
            appendBytes(cells, arena, Cell::Text, reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)), sqlite3_column_bytes(stmt, i));
            break;
        case SQLITE_BLOB:
            appendBytes(cells, arena, Cell::Blob, static_cast<const char*>(sqlite3_column_blob(stmt, i)), sqlite3_column_bytes(stmt, i));
            break;
        default:
            cells->push_back(c);
            break;
        }
    }
}

// Reads every row through the SQLite handle under the Qt connection, without the per-value
// work of QSqlQuery, which dominated reading large tables.
bool readWithSqlite(const QSqlDatabase& d, const QString& sql, QStringList* names, std::vector<Cell>* cells, QByteArray* arena)
{
    sqlite3* db = NativeHandle(d);
    if (!db) return false;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    auto fail = [&](int code, const QString& msg) {
        if (stmt) sqlite3_finalize(stmt);
        throw DbError(code ? long(code) : long(errUnspecified), msg + QStringLiteral(" [") + sql + QLatin1Char(']'));
    };
    int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, &tail);
    if (rc != SQLITE_OK) fail(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
    if (!stmt) fail(errUnspecified, QStringLiteral("No statement."));
    // One statement per call: anything after the first is refused, never run.
    if (tail && !QByteArray(tail).trimmed().isEmpty())
        fail(errUnspecified, QStringLiteral("Unable to execute multiple statements at a time"));
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) names->append(QString::fromUtf8(sqlite3_column_name(stmt, i)));
    try {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) readRow(stmt, n, cells, arena);
    } catch (...) {
        sqlite3_finalize(stmt);
        throw;
    }
    if (rc != SQLITE_DONE) fail(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_finalize(stmt);
    return true;
}

} // namespace

void Recordset::Open(const QString& sql, Connection& conn, int cursorType, int, int)
{
    Close();
    QStringList names;
    std::vector<Cell> cells;
    QByteArray arena;
    const QSqlDatabase d = conn.database();
    if (!readWithSqlite(d, sql, &names, &cells, &arena)) {
        QSqlQuery q(d);
        q.setForwardOnly(true);
        if (!q.exec(sql)) throw ErrorFrom(q.lastError(), sql);
        const QSqlRecord rec = q.record();
        for (int i = 0; i < rec.count(); ++i) names << rec.fieldName(i);
        while (q.next())
            for (int i = 0; i < names.size(); ++i) appendVariant(&cells, &arena, q.value(i));
        if (q.lastError().isValid()) throw ErrorFrom(q.lastError(), sql);
    }
    take(std::move(names), std::move(cells), std::move(arena), cursorType);
}

void Recordset::Open(Statement& st)
{
    open_ = false;  // the column index of the last run serves this one when the columns agree
    try {
        st.Exec();
        QStringList names;
        const int n = st.ColumnCount();
        for (int i = 0; i < n; ++i) names << st.ColumnName(i);
        std::vector<Cell> cells;
        QByteArray arena;
        if (st.q_) {
            while (st.Next())
                for (int i = 0; i < n; ++i) appendVariant(&cells, &arena, st.Value(i));
        } else {
            sqlite3_stmt* h = st.handle();
            while (st.Next()) readRow(h, n, &cells, &arena);
        }
        take(std::move(names), std::move(cells), std::move(arena), adOpenForwardOnly);
    } catch (...) {
        Close();
        throw;
    }
}

void Recordset::take(QStringList names, std::vector<Cell> cells, QByteArray arena, int cursorType)
{
    if (names != names_ || index_.isEmpty()) {
        QHash<QString, int> index;
        // The first column of a name wins, as a join's "SELECT *" reads it.
        for (int i = int(names.size()) - 1; i >= 0; --i) index.insert(names.at(i).toLower(), i);
        index_ = std::move(index);
    }
    names_ = std::move(names);
    cells_ = std::move(cells);
    arena_ = std::move(arena);
    cursorType_ = cursorType;
    pos_ = 0;
    open_ = true;
}

void Recordset::Close()
{
    open_ = false;
    names_.clear();
    index_.clear();
    cells_.clear();
    arena_.clear();
    pos_ = 0;
}

void Recordset::MoveNext()
{
    if (!open_) throw DbError(errConnectionClosed, QStringLiteral("Operation is not allowed when the object is closed."));
    if (pos_ >= rowCount()) throw DbError(3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    ++pos_;
}

QVariant Recordset::Fields(int index) const
{
    if (!open_) throw DbError(errConnectionClosed, QStringLiteral("Operation is not allowed when the object is closed."));
    if (index < 0 || index >= names_.size())
        throw DbError(3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal."));
    if (pos_ < 0 || pos_ >= rowCount())
        throw DbError(3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    const Cell& c = cells_[size_t(pos_) * size_t(names_.size()) + size_t(index)];
    switch (c.kind) {
    case Cell::Integer:
        return QVariant(qlonglong(c.integer));
    case Cell::Real:
        return QVariant(c.real);
    case Cell::Text:
        return QVariant(QString::fromUtf8(arena_.constData() + c.bytes.offset, qsizetype(c.bytes.length)));
    case Cell::Blob:
        return QVariant(arena_.mid(qsizetype(c.bytes.offset), qsizetype(c.bytes.length)));
    default:
        return Null();
    }
}

int Recordset::FieldIndex(const QString& name) const
{
    const auto it = index_.constFind(name.toLower());
    if (it == index_.constEnd())
        throw DbError(3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal: ") + name);
    return it.value();
}

QVariant Recordset::Fields(const QString& name) const { return Fields(FieldIndex(name)); }

bool Recordset::HasField(const QString& name) const { return index_.contains(name.toLower()); }

} // namespace db

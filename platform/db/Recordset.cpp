#include "platform/db/Recordset.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "platform/db/Connection.h"

namespace db {

void Recordset::Open(const QString& sql, Connection& conn, int cursorType, int, int)
{
    Close();
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    if (!q.exec(sql)) throw ErrorFrom(q.lastError(), sql);
    const QSqlRecord rec = q.record();
    const int n = rec.count();
    QStringList names;
    QHash<QString, int> index;
    for (int i = 0; i < n; ++i) {
        names << rec.fieldName(i);
    }
    // The first column of a name wins, as a join's "SELECT *" reads it.
    for (int i = n - 1; i >= 0; --i) index.insert(names.at(i).toLower(), i);
    std::vector<QVariant> cells;
    while (q.next())
        for (int i = 0; i < n; ++i) cells.push_back(q.value(i));
    if (q.lastError().isValid()) throw ErrorFrom(q.lastError(), sql);
    names_ = std::move(names);
    index_ = std::move(index);
    cells_ = std::move(cells);
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
    return cells_[size_t(pos_) * size_t(names_.size()) + size_t(index)];
}

QVariant Recordset::Fields(const QString& name) const
{
    const auto it = index_.constFind(name.toLower());
    if (it == index_.constEnd())
        throw DbError(3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal: ") + name);
    return Fields(it.value());
}

bool Recordset::HasField(const QString& name) const { return index_.contains(name.toLower()); }

} // namespace db

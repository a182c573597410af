#pragma once
// A recordset read whole when it opens, so that writes may follow while it is open (the tree
// loader reads child folders while walking its parent's rows).
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace db {

class Connection;
class Statement;

enum CursorType { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockType { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum CommandType { adCmdText = 1 };
enum ObjectState { adStateClosed = 0, adStateOpen = 1 };

class Recordset {
public:
    // Runs the query and reads its rows. Throws DbError (the recordset stays closed).
    void Open(const QString& sql, Connection& conn, int cursorType = adOpenForwardOnly,
              int lockType = adLockOptimistic, int options = adCmdText);
    // Runs a prepared statement with the values bound to it and reads its rows (forward-only),
    // for a query run once per row of a loop. Throws DbError (the recordset stays closed).
    void Open(Statement& st);
    void Close();
    int State() const { return open_ ? adStateOpen : adStateClosed; }
    int CursorType() const { return cursorType_; }

    bool Eof() const { return !open_ || pos_ >= rowCount(); }
    bool Bof() const { return !open_ || pos_ < 0 || rowCount() == 0; }
    void MoveNext();
    void MoveFirst() { pos_ = 0; }
    // The number of rows read.
    long RecordCount() const { return long(rowCount()); }

    // The current row's value by column name (letter case ignored; aliases as written).
    // A database NULL is Null; a name that is not a column throws DbError.
    QVariant Fields(const QString& name) const;
    QVariant Fields(int index) const;
    bool HasField(const QString& name) const;
    // The index of a column by name, for loops that read it row after row; DbError as Fields.
    int FieldIndex(const QString& name) const;
    int FieldCount() const { return int(names_.size()); }
    QString FieldName(int index) const { return names_.value(index); }

private:
    int rowCount() const { return names_.isEmpty() ? 0 : int(cells_.size() / size_t(names_.size())); }
    bool open_ = false;
    int cursorType_ = adOpenForwardOnly;
    int pos_ = 0;
    QStringList names_;
    QHash<QString, int> index_;
public:
    // A cell as read: numbers in place, text and blobs as bytes in one arena. Values become
    // QVariants only when a caller reads them, so columns nobody reads cost no string.
    struct Cell {
        enum Kind : quint8 { Null, Integer, Real, Text, Blob };
        union {
            qint64 integer;
            double real;
            struct {
                quint32 offset;
                quint32 length;
            } bytes;
        };
        Kind kind = Null;
    };

private:
    void take(QStringList names, std::vector<Cell> cells, QByteArray arena, int cursorType);
    std::vector<Cell> cells_;
    QByteArray arena_;
};

} // namespace db

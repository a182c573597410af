#pragma once
// The one way the program reaches the database. A statement text with "?" placeholders gets
// column values through typed setters that render SQL literals at once; Execute or one of the
// GetRecordset operations sends it. Failures never escape: they set the error properties and the
// recordset operations return false.
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "core/SQLFieldNameValues.h"

namespace db {
class Connection;
class Recordset;
} // namespace db

class SQLStatement {
public:
    SQLStatement();
    ~SQLStatement();
    SQLStatement(const SQLStatement&) = delete;
    SQLStatement& operator=(const SQLStatement&) = delete;

    long ErrorCode() const { return errorCode_; }
    QString ErrorMessage() const { return errorMessage_; }
    // The database's own words for the last failure.
    QString ErrorDescription() const { return errorDescription_; }
    bool Error() const { return error_; }
    QString ErrorSource() const { return errorSource_; }
    QString ClassName() const { return QStringLiteral("SQLStatement Class"); }
    QString LastSQLExecuted() const { return lastSQLExecuted_; }

    // Assigning the text classifies it (INSERT, UPDATE, other) and drops pending fields.
    void SetSql(const QString& text);
    // The finished text: placeholders filled from the pending fields. Throws db::DbError
    // (invalid argument) for an INSERT text that lacks either placeholder.
    QString Sql() const;

    void SetConnection(db::Connection* c) { connection_ = c; }
    // The connection given, or an unopened one of its own when none was.
    db::Connection& Connection();

    void SetInteger(const QString& fld, int v);
    void SetString(const QString& fld, const QString& s);
    void SetStringNZ(const QString& fld, const QString& s);
    void SetLong(const QString& fld, qint64 lng);
    void SetSingle(const QString& fld, float v);
    void SetDouble(const QString& fld, double v);
    void SetCurrency(const QString& fld, double c);
    void SetVariant(const QString& fld, const QVariant& v);
    void SetDate(const QString& fld, const QVariant& v);
    void SetTime(const QString& fld, const QVariant& v);
    void SetTimeStamp(const QString& fld, const QVariant& v);
    void ClearFields();

    // Keyset, static and forward-only reads; the recordset holds every row when it returns.
    bool GetRecordset(db::Recordset& rs);
    bool GetRecordsetRO(db::Recordset& rs);
    bool GetRecordsetFO(db::Recordset& rs);
    void Execute();

    // The text with each single quote doubled.
    static QString VerifyString(const QString& s);

    const std::vector<SQLFieldNameValues>& Fields() const { return fields_; }
    int Kind() const { return kind_; }

private:
    void SetError(long n, const QString& description = QString());
    void ClearError();
    void AddField(const QString& fld, const QString& value);
    bool open(db::Recordset& rs, int cursorType);
    static QString PadLeft(const QString& s, const QString& pad, int length);
    static QString FormatDateLiteral(const QVariant& value);
    static QString FormatTimeLiteral(const QVariant& value);
    static QString FormatTimeStampLiteral(const QVariant& value);

    QString text_;
    QString lastSQLExecuted_;
    long errorCode_ = 0;
    bool error_ = false;
    QString errorMessage_;
    QString errorDescription_;
    QString errorSource_;
    std::vector<SQLFieldNameValues> fields_;
    int kind_ = 0;
    db::Connection* connection_ = nullptr;
    std::unique_ptr<db::Connection> ownConnection_;
};

// A text to join between single quotes in a statement text, with its quotes doubled, so that a
// value holding a quote finds its row and can never end the literal early.
QString EscapeSQL(const QString& s);

// Dates and times read from a value (a date/time, or text that reads as one).
bool ReadDateTime(const QVariant& v, QDateTime* out, bool* hasDate = nullptr, bool* hasTime = nullptr);

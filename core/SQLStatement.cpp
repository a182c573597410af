#include "core/SQLStatement.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <cmath>

#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"

namespace {

// Locale-independent number text: a point for decimals, no thousands separators.
QString numberText(double v)
{
    if (v == std::floor(v) && std::fabs(v) < 9.2e18) return QString::number(qlonglong(v));
    return QString::number(v, 'g', 15);
}

} // namespace

SQLStatement::SQLStatement() = default;

SQLStatement::~SQLStatement()
{
    // The connection belongs to start-up; only the reference goes.
    connection_ = nullptr;
}

void SQLStatement::SetSql(const QString& text)
{
    text_ = text.trimmed();
    const QString head = text_.left(6);
    if (head.compare(QLatin1String("INSERT"), Qt::CaseInsensitive) == 0) kind_ = 1;
    else if (head.compare(QLatin1String("UPDATE"), Qt::CaseInsensitive) == 0) kind_ = 2;
    else kind_ = 3;
    fields_.clear();
}

QString SQLStatement::Sql() const
{
    if (kind_ == 2) {
        QString list;
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) list += QLatin1String(", ");
            list += fields_[i].FieldName + QLatin1String(" = ") + fields_[i].FieldValue;
        }
        QString out = text_;
        const qsizetype at = out.indexOf(QLatin1Char('?'));
        if (at >= 0) out.replace(at, 1, list);
        return out;
    }
    if (kind_ == 1) {
        QString names;
        QString values;
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) {
                names += QLatin1String(", ");
                values += QLatin1String(", ");
            }
            names += fields_[i].FieldName;
            values += fields_[i].FieldValue;
        }
        QString out = text_;
        qsizetype at = out.indexOf(QLatin1Char('?'));
        if (at < 0) throw db::DbError(db::errInvalidArgument, QStringLiteral("Invalid procedure call or argument"));
        out.replace(at, 1, names);
        at = out.indexOf(QLatin1Char('?'));
        if (at < 0) throw db::DbError(db::errInvalidArgument, QStringLiteral("Invalid procedure call or argument"));
        out.replace(at, 1, values);
        return out;
    }
    return text_;
}

db::Connection& SQLStatement::Connection()
{
    if (connection_) return *connection_;
    if (!ownConnection_) ownConnection_ = std::make_unique<db::Connection>();
    return *ownConnection_;
}

void SQLStatement::AddField(const QString& fld, const QString& value)
{
    for (auto& f : fields_) {
        if (f.FieldName.compare(fld, Qt::CaseInsensitive) == 0) {
            f.FieldValue = value;
            return;
        }
    }
    fields_.push_back({fld, value});
}

void SQLStatement::SetInteger(const QString& fld, int v) { AddField(fld, QString::number(v)); }
void SQLStatement::SetLong(const QString& fld, qint64 lng) { AddField(fld, QString::number(lng)); }
void SQLStatement::SetSingle(const QString& fld, float v) { AddField(fld, numberText(double(v))); }
void SQLStatement::SetDouble(const QString& fld, double v) { AddField(fld, numberText(v)); }
void SQLStatement::SetCurrency(const QString& fld, double c) { AddField(fld, numberText(c)); }

void SQLStatement::SetString(const QString& fld, const QString& s)
{
    AddField(fld, QLatin1Char('\'') + VerifyString(s) + QLatin1Char('\''));
}

void SQLStatement::SetStringNZ(const QString& fld, const QString& s)
{
    if (s.count(QLatin1Char(' ')) == s.size())
        AddField(fld, QStringLiteral("NULL"));
    else
        SetString(fld, s);
}

void SQLStatement::SetVariant(const QString& fld, const QVariant& v)
{
    QString literal;
    if (v.isValid() && !v.isNull()) {
        switch (v.typeId()) {
        case QMetaType::QString: {
            QString t = v.toString();
            // Only blanks are trimmed, as the classic Trim does.
            qsizetype a = 0, b = t.size();
            while (a < b && t.at(a) == QLatin1Char(' ')) ++a;
            while (b > a && t.at(b - 1) == QLatin1Char(' ')) --b;
            literal = QLatin1Char('\'') + VerifyString(t.mid(a, b - a)) + QLatin1Char('\'');
            break;
        }
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Float:
        case QMetaType::Double:
            literal = numberText(v.toDouble());
            break;
        case QMetaType::QDate:
        case QMetaType::QDateTime:
            literal = FormatTimeStampLiteral(v);
            break;
        default:
            break;
        }
    }
    AddField(fld, literal);
}

void SQLStatement::SetDate(const QString& fld, const QVariant& v)
{
    bool hasDate = false;
    QDateTime dt;
    AddField(fld, ReadDateTime(v, &dt, &hasDate) && hasDate ? FormatDateLiteral(v) : QStringLiteral("NULL"));
}

void SQLStatement::SetTime(const QString& fld, const QVariant& v)
{
    QDateTime dt;
    AddField(fld, ReadDateTime(v, &dt) ? FormatTimeLiteral(v) : QStringLiteral("NULL"));
}

void SQLStatement::SetTimeStamp(const QString& fld, const QVariant& v)
{
    QDateTime dt;
    AddField(fld, ReadDateTime(v, &dt) ? FormatTimeStampLiteral(v) : QStringLiteral("NULL"));
}

void SQLStatement::ClearFields() { fields_.clear(); }

bool SQLStatement::open(db::Recordset& rs, int cursorType)
{
    try {
        if (rs.State() == db::adStateOpen) rs.Close();
        lastSQLExecuted_ = Sql();
        rs.Open(Sql(), Connection(), cursorType, db::adLockOptimistic, db::adCmdText);
        return rs.State() == db::adStateOpen;
    } catch (const db::DbError& e) {
        SetError(e.number(), e.message());
        return false;
    }
}

bool SQLStatement::GetRecordset(db::Recordset& rs) { return open(rs, db::adOpenKeyset); }
bool SQLStatement::GetRecordsetRO(db::Recordset& rs) { return open(rs, db::adOpenStatic); }
bool SQLStatement::GetRecordsetFO(db::Recordset& rs) { return open(rs, db::adOpenForwardOnly); }

void SQLStatement::Execute()
{
    try {
        ClearError();
        lastSQLExecuted_ = Sql();
        Connection().Execute(lastSQLExecuted_);
        ClearFields();
    } catch (const db::DbError& e) {
        SetError(e.number(), e.message());
    }
}

QString SQLStatement::VerifyString(const QString& s)
{
    QString out;
    out.reserve(s.size() + 4);
    for (QChar c : s) {
        out.append(c);
        if (c == QLatin1Char('\'')) out.append(c);
    }
    return out;
}

void SQLStatement::SetError(long n, const QString& description)
{
    errorCode_ = n;
    errorDescription_ = description;
    error_ = true;
    errorMessage_ = lastSQLExecuted_ + QStringLiteral(".....(SysCode: ") + QString::number(n) + QStringLiteral("). ");
    errorSource_ = ClassName();
}

void SQLStatement::ClearError()
{
    errorCode_ = 0;
    errorMessage_.clear();
    errorDescription_.clear();
    error_ = false;
    errorSource_.clear();
}

QString SQLStatement::PadLeft(const QString& s, const QString& pad, int length)
{
    QString out = s;
    while (out.size() < length) out.prepend(pad);
    return out;
}

QString SQLStatement::FormatDateLiteral(const QVariant& value)
{
    QDateTime dt;
    ReadDateTime(value, &dt);
    const QDate d = dt.date();
    return QStringLiteral("'%1-%2-%3'").arg(PadLeft(QString::number(d.year()), QStringLiteral("0"), 4),
                                            PadLeft(QString::number(d.month()), QStringLiteral("0"), 2),
                                            PadLeft(QString::number(d.day()), QStringLiteral("0"), 2));
}

QString SQLStatement::FormatTimeLiteral(const QVariant& value)
{
    QDateTime dt;
    ReadDateTime(value, &dt);
    const QTime t = dt.time();
    return QStringLiteral("'%1:%2:%3'").arg(PadLeft(QString::number(t.hour()), QStringLiteral("0"), 2),
                                            PadLeft(QString::number(t.minute()), QStringLiteral("0"), 2),
                                            PadLeft(QString::number(t.second()), QStringLiteral("0"), 2));
}

QString SQLStatement::FormatTimeStampLiteral(const QVariant& value)
{
    const QString d = FormatDateLiteral(value);
    const QString t = FormatTimeLiteral(value);
    return d.left(d.size() - 1) + QLatin1Char(' ') + t.mid(1);
}

QString EscapeSQL(const QString& s) { return SQLStatement::VerifyString(s); }

bool ReadDateTime(const QVariant& v, QDateTime* out, bool* hasDate, bool* hasTime)
{
    bool d = false, t = false;
    QDateTime dt;
    if (!v.isValid() || v.isNull()) return false;
    switch (v.typeId()) {
    case QMetaType::QDate:
        dt = QDateTime(v.toDate(), QTime(0, 0));
        d = v.toDate().isValid();
        break;
    case QMetaType::QTime:
        dt = QDateTime(QDate(1899, 12, 30), v.toTime());
        t = v.toTime().isValid();
        break;
    case QMetaType::QDateTime:
        dt = v.toDateTime();
        d = t = dt.isValid();
        break;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        if (s.isEmpty()) return false;
        const QLocale loc;
        static const char* const dateTimeFormats[] = {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm",
                                                      "M/d/yyyy h:mm:ss AP", "M/d/yyyy h:mm AP", "M/d/yyyy H:mm:ss"};
        static const char* const dateFormats[] = {"yyyy-MM-dd", "M/d/yyyy", "d MMMM yyyy", "MMMM d, yyyy"};
        static const char* const timeFormats[] = {"HH:mm:ss", "H:mm:ss", "H:mm", "h:mm:ss AP", "h:mm AP"};
        for (const char* f : dateTimeFormats) {
            dt = QDateTime::fromString(s, QString::fromLatin1(f));
            if (dt.isValid()) { d = t = true; break; }
        }
        if (!d) {
            dt = loc.toDateTime(s, QLocale::ShortFormat);
            if (dt.isValid()) d = t = true;
        }
        if (!d) {
            QDate date;
            for (const char* f : dateFormats) {
                date = QDate::fromString(s, QString::fromLatin1(f));
                if (date.isValid()) break;
            }
            if (!date.isValid()) date = loc.toDate(s, QLocale::ShortFormat);
            if (date.isValid()) {
                dt = QDateTime(date, QTime(0, 0));
                d = true;
            }
        }
        if (!d) {
            QTime time;
            for (const char* f : timeFormats) {
                time = QTime::fromString(s, QString::fromLatin1(f));
                if (time.isValid()) break;
            }
            if (time.isValid()) {
                dt = QDateTime(QDate(1899, 12, 30), time);
                t = true;
            }
        }
        break;
    }
    default:
        return false;
    }
    if (!d && !t) return false;
    if (out) *out = dt;
    if (hasDate) *hasDate = d;
    if (hasTime) *hasTime = t;
    return true;
}

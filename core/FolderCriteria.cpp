#include "core/FolderCriteria.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <optional>

#include "core/Conversions.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/ValueRules.h"
#include "core/WholeNumber.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"

namespace {

struct Operator {
    const char* word;
    const char* sql;
};
const Operator kOperators[] = {{"Equal To", " = "},     {"Greater Than", " > "},          {"Greater Than Equal To", " >= "},
                               {"Less Than", " < "},    {"Less Than Equal To", " <= "}, {"LIKE", " LIKE "}};

// What the rule editor stores; read with trailing blanks cut, so ") OR " arrives as ") OR".
const char* const kConjunctions[] = {"", "AND", "OR", ") AND", "AND (", ") AND (", ") OR", "OR (", ") OR (", ")", "("};

bool isConjunction(const QString& c)
{
    const QString t = c.trimmed();
    for (const char* k : kConjunctions)
        if (t.compare(QLatin1String(k), Qt::CaseInsensitive) == 0) return true;
    return false;
}

// The classic wildcards * and ? as SQL's % and _.
QString likePattern(const QString& value)
{
    QString out = value;
    out.replace(QLatin1Char('*'), QLatin1Char('%'));
    out.replace(QLatin1Char('?'), QLatin1Char('_'));
    return out;
}

struct Term {
    QString text;
    QString refusal;
};

Term buildTerm(int t, int i, const QString& op, const QString& v, const QString& c)
{
    const QString sqlOp = GetSQLOperator(op);
    if (!HasFieldColumn(t, i)) return {{}, QStringLiteral("no such field")};
    if (sqlOp.isEmpty()) return {{}, QStringLiteral("unknown condition")};
    if (!isConjunction(c)) return {{}, QStringLiteral("unknown conjunction")};
    const bool like = sqlOp == QLatin1String(" LIKE ");
    const QString column = QStringLiteral("MasterList.") + GetFieldColumnName(t, i);
    const QString quote = GetFieldQuote(t, i).toString();

    QString expr = column;
    QString value;
    if (t == 2 || t == 3) {
        value = FormatCriteriaValue(v, t, i);
    } else if (quote.isEmpty() && t == 1 && IsNumericField(t, i) == 2) {
        // Stored as ISO text: compared by day number, so spellings of one moment agree and
        // text that is no date never matches.
        if (like) return {{}, QStringLiteral("a date cannot be matched with LIKE")};
        const auto iso = ReadIsoDateTime(v);
        if (!iso) return {{}, QStringLiteral("the value is not a date")};
        expr = QStringLiteral("julianday(") + column + QLatin1Char(')');
        value = QStringLiteral("julianday('") + *iso + QStringLiteral("')");
    } else if (quote.isEmpty()) {
        const auto number = ReadNumberText(v);
        if (!number) return {{}, QStringLiteral("the value is not a number")};
        value = *number;
        // Combo values are text: compared with a number they would order as text ('10' < '5').
        if (t == 1 && !like) expr = QStringLiteral("CAST(NULLIF(TRIM(") + column + QStringLiteral("), '') AS REAL)");
    } else {
        value = EscapeSQL(like ? likePattern(v) : v);
    }
    return {QStringLiteral(" ") + expr + QStringLiteral(" ") + sqlOp + QStringLiteral(" ") + quote + value + quote
                + QStringLiteral(" ") + c,
            {}};
}

} // namespace

QString GetSQLOperator(const QString& word)
{
    for (const Operator& o : kOperators)
        if (word.compare(QLatin1String(o.word), Qt::CaseInsensitive) == 0) return QString::fromLatin1(o.sql);
    return QString();
}

QString FormatCriteriaValue(const QString& value, int FieldType, int FieldID)
{
    Q_UNUSED(FieldID);
    if (FieldType == 2 || FieldType == 3)
        return value.compare(QLatin1String("CHECKED"), Qt::CaseInsensitive) == 0 ? QStringLiteral("-1") : QStringLiteral("0");
    return value;
}

QString BuildFolderWhere(long FolderRecID)
{
    SQLStatement st;
    st.SetConnection(&DBConnection());
    st.SetSql(QStringLiteral("SELECT * FROM MailFolderProperties WHERE FolderRecID = ") + QString::number(FolderRecID)
              + QStringLiteral(" ") + QStringLiteral("ORDER BY Sequence;"));
    db::Recordset rs;
    if (!st.GetRecordset(rs)) throw db::DbError(st.ErrorCode(), st.ErrorMessage());

    QString criteria;
    int rule = 0;
    while (!rs.Eof()) {
        ++rule;
        const int t = ToInteger(NullToZero(rs.Fields(QStringLiteral("FieldType"))));
        const int i = ToInteger(NullToZero(rs.Fields(QStringLiteral("FieldID"))));
        const QString op = NullToString(rs.Fields(QStringLiteral("Operator"))).toString();
        const QString v = NullToString(rs.Fields(QStringLiteral("FieldValue"))).toString();
        const QString c = NullToString(rs.Fields(QStringLiteral("Conjunction"))).toString();
        const Term term = buildTerm(t, i, op, v, c);
        if (!term.refusal.isEmpty()) {
            // RAISE outside a trigger fails when the statement is prepared, whatever the rows.
            return QStringLiteral(" WHERE RAISE(ABORT, 'Rule %1 refused: %2')").arg(rule).arg(term.refusal);
        }
        criteria += term.text;
        rs.MoveNext();
    }
    if (criteria.trimmed().isEmpty()) return QString();
    return QStringLiteral(" WHERE ") + criteria;
}

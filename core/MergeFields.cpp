#include "core/MergeFields.h"

#include <QDateTime>

#include "core/Conversions.h"
#include "core/DateFormats.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/WholeNumber.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/ui/XArrayDB.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The classic LTrim and Trim: blanks only.
QString ltrim(const QString& s)
{
    int i = 0;
    while (i < s.size() && s.at(i) == QLatin1Char(' ')) ++i;
    return s.mid(i);
}
QString trim(const QString& s) { return ltrim(RTrim(s)); }

// Parts joined by one blank; a blank part drops out with its blank, but a blank last part leaves
// the blank of the part before it.
QString join(const QStringList& parts)
{
    QString out;
    for (int k = 0; k < parts.size(); ++k)
        out += k + 1 < parts.size() ? ltrim(RTrim(parts[k]) + QLatin1Char(' ')) : ltrim(RTrim(parts[k]));
    return out;
}

QString text(const db::Recordset& rs, const char* column) { return NullToString(rs.Fields(QLatin1String(column))).toString(); }

QString formattedName(const db::Recordset& rs)
{
    const QString name = join({text(rs, "First"), text(rs, "Middle"), text(rs, "Last")});
    return trim(name).isEmpty() ? text(rs, "Company") : name;
}

QString formattedCityLine(const db::Recordset& rs)
{
    return join({text(rs, "City"), text(rs, "State"), text(rs, "Country"), text(rs, "Zip")});
}

} // namespace

void LoadMergeFieldList(ui::XArrayDB& list)
{
    SQLStatement st;
    st.SetConnection(&DBConnection());
    st.SetSql(QStringLiteral("SELECT * FROM config;"));
    db::Recordset rs;
    if (!st.GetRecordsetFO(rs)) throw db::DbError(st.ErrorCode(), st.ErrorMessage());

    struct Row {
        QString name;
        int id;
        int type;
    };
    QList<Row> rows;
    if (!rs.Eof()) {
        const struct {
            const char* prefix;
            int count;
            int type;
        } groups[] = {{"combo", 15, 1}, {"chk", 15, 2}, {"chkHot", 6, 3}};
        for (const auto& g : groups) {
            for (int i = 0; i < g.count; ++i) {
                const QString caption = NullToString(rs.Fields(QLatin1String(g.prefix) + QString::number(i))).toString();
                if (!trim(caption).isEmpty()) rows.append({caption.toUpper(), i, g.type});
            }
        }
    }
    for (int id = 1; id <= 17; ++id) rows.append({GetFieldToken(id), id, 0});
    for (const char* name :
         {"$FORMATTED_NAME", "$FORMATTED_CSZ", "$FORMATTED_NAMEADDRESS", "$DATE", "$TIME", "$DATETIME"})
        rows.append({QString::fromLatin1(name), 0, 0});

    list.ReDim(1, int(rows.size()), 0, 2);
    for (int n = 1; n <= rows.size(); ++n) {
        list.SetValue(n, 0, rows[n - 1].name);
        list.SetValue(n, 1, rows[n - 1].id);
        list.SetValue(n, 2, rows[n - 1].type);
    }
}

QString GetMergeFieldValue(const QString& name, int FieldType, int FieldID, const db::Recordset& rs)
{
    const auto is = [&name](const char* computed) { return name.compare(QLatin1String(computed), Qt::CaseInsensitive) == 0; };
    if (is("$FORMATTED_NAME")) return formattedName(rs);
    if (is("$FORMATTED_CSZ")) return formattedCityLine(rs);
    if (is("$FORMATTED_NAMEADDRESS")) {
        QString out = formattedName(rs);
        const QString address1 = text(rs, "Address1");
        const QString address2 = text(rs, "Address2");
        const QString cityLine = formattedCityLine(rs);
        if (!trim(address1).isEmpty()) out += kCrLf + address1;
        if (!trim(address2).isEmpty()) out += kCrLf + address2;
        if (!trim(cityLine).isEmpty()) out += kCrLf + cityLine;
        return out;
    }
    if (is("$DATE")) return FormatShortDate(QDate::currentDate());
    if (is("$TIME")) return FormatTimeAmPm(QTime::currentTime());
    if (is("$DATETIME")) return FormatGeneralDate(QDateTime::currentDateTime());

    const QVariant value = rs.Fields(GetFieldColumnName(FieldType, FieldID));
    if (FieldType == 2 || FieldType == 3) return CheckedText(ToInteger(NullToZero(value)));
    return NullToString(value).toString();
}

int IsTagToken(const QString& s) { return s.left(2).compare(QLatin1String("<%"), Qt::CaseInsensitive) == 0 ? -1 : 0; }

QVariant GetTaggedText(const QString& tag, const QString& body)
{
    const QString open = trim(tag);
    const QString close = open.left(2) + QLatin1Char('/') + open.mid(2);
    const qsizetype p = body.indexOf(open, 0, Qt::CaseInsensitive);
    if (p < 0) return QString();
    const qsizetype q = body.indexOf(close, 0, Qt::CaseInsensitive);
    if (q < 0) return QString();
    const qsizetype start = p + open.size();
    if (q < start) return QString();
    return body.mid(start, q - start);
}

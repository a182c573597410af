#include "core/FieldVocabulary.h"

#include <stdexcept>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/WholeNumber.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"

namespace {

const char* const kStandardColumns[17] = {"Disabled", "Company", "First", "Last",   "Middle", "Address1",
                                          "Address2", "City",    "State", "Country", "Zip",   "Website",
                                          "Email",    "Phone1",  "Phone2", "Fax",    "Cell"};

const char* const kStandardTokens[17] = {"$DISABLED", "$COMPANY", "$FIRST", "$LAST",   "$MIDDLE", "$ADDRESS1",
                                         "$ADDRESS2", "$CITY",    "$STATE", "$COUNTRY", "$ZIP",   "WEBSITE",
                                         "$EMAIL",    "$PHONE1",  "$PHONE2", "$FAX",    "$CELL"};

// Opens text forward-only, raising the statement's failure as the caller's run-time error.
void openOrThrow(SQLStatement& st, db::Recordset& rs, const QString& text)
{
    st.SetConnection(&DBConnection());
    st.SetSql(text);
    if (!st.GetRecordsetFO(rs)) throw db::DbError(st.ErrorCode(), st.ErrorMessage());
}

} // namespace

QString GetFieldColumnName(int FieldType, int FieldID)
{
    switch (FieldType) {
    case 0:
        return FieldID >= 1 && FieldID <= 17 ? QString::fromLatin1(kStandardColumns[FieldID - 1]) : QString();
    case 1:
        return QStringLiteral("Combo") + QString::number(FieldID);
    case 2:
        return QStringLiteral("Chk") + QString::number(FieldID);
    case 3:
        return QStringLiteral("chkHot") + QString::number(FieldID);
    default:
        return QString();
    }
}

bool HasFieldColumn(int FieldType, int FieldID)
{
    switch (FieldType) {
    case 0: return FieldID >= 1 && FieldID <= 17;
    case 1:
    case 2: return FieldID >= 0 && FieldID <= 14;
    case 3: return FieldID >= 0 && FieldID <= 5;
    default: return false;
    }
}

QString GetFieldCaption(int FieldType, int FieldID)
{
    QString column;
    switch (FieldType) {
    case 0:
        return GetFieldColumnName(FieldType, FieldID);
    case 1:
        column = QStringLiteral("combo");
        break;
    case 2:
        column = QStringLiteral("chk");
        break;
    case 3:
        column = QStringLiteral("chkHot");
        break;
    default:
        // No caption column to read.
        return QString();
    }
    column += QString::number(FieldID);
    SQLStatement st;
    db::Recordset rs;
    openOrThrow(st, rs, QStringLiteral("SELECT ") + column + QStringLiteral(" FROM Config;"));
    if (rs.Eof()) return QString();
    return NullToString(rs.Fields(column)).toString();
}

QList<FieldChoice> CustomFieldsInUse(std::initializer_list<int> typeOrder)
{
    SQLStatement st;
    db::Recordset rs;
    openOrThrow(st, rs, QStringLiteral("SELECT * FROM config;"));
    QList<FieldChoice> out;
    if (rs.Eof()) return out;
    for (const int type : typeOrder) {
        if (type < 1 || type > 3) continue;
        const int count = type == 3 ? 6 : 15;
        const QString prefix = type == 1 ? QStringLiteral("combo") : type == 2 ? QStringLiteral("chk") : QStringLiteral("chkHot");
        for (int id = 0; id < count; ++id) {
            const QString caption = NullToString(rs.Fields(prefix + QString::number(id))).toString();
            if (!caption.trimmed().isEmpty()) out.append({caption, type, id});
        }
    }
    return out;
}

QStringList ComboFieldValues(int FieldID)
{
    SQLStatement st;
    db::Recordset rs;
    openOrThrow(st, rs,
                QStringLiteral("SELECT * FROM ConfigCombo WHERE FieldID = ") + QString::number(FieldID) + QStringLiteral(" ")
                    + QStringLiteral("ORDER BY FieldValue;"));
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) out << NullToString(rs.Fields(QStringLiteral("FieldValue"))).toString();
    return out;
}

QString GetFieldToken(int FieldID)
{
    return FieldID >= 1 && FieldID <= 17 ? QString::fromLatin1(kStandardTokens[FieldID - 1]) : QString();
}

int IsNumericField(int FieldType, int FieldID)
{
    switch (FieldType) {
    case 0:
        return FieldID == 1 ? 1 : 0;
    case 1:
        if (FieldID < 0 || FieldID >= ComboFieldType.size())
            throw std::out_of_range("Subscript out of range");
        return ToInteger(ComboFieldType.at(FieldID));
    case 2:
    case 3:
        return 1;
    default:
        return 0;
    }
}

QVariant GetFieldQuote(int FieldType, int FieldID)
{
    return IsNumericField(FieldType, FieldID) != 0 ? QString() : QStringLiteral("'");
}

QString CheckedText(int value) { return value == -1 ? QStringLiteral("CHECKED") : QStringLiteral("UNCHECKED"); }

void LoadComboFieldTypes()
{
    // Earlier values go first, even when Config cannot be read.
    ComboFieldType = QVariantList(15);
    SQLStatement st;
    db::Recordset rs;
    openOrThrow(st, rs, QStringLiteral("SELECT * FROM Config;"));
    QVariantList types;
    for (int i = 0; i < 15; ++i)
        types << (rs.Eof() ? QVariant(int(0)) : NullToZero(rs.Fields(QStringLiteral("combofieldtype") + QString::number(i))));
    ComboFieldType = types;
}

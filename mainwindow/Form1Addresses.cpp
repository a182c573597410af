#include <QTextEdit>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Recordset.h"
#include "platform/ui/UiServices.h"

namespace {
// (part & " ") with its leading blanks removed: an empty part adds nothing.
void AppendPart(QString& line, const QVariant& v, bool lastPart)
{
    const QString s = NullToString(v).toString();
    int i = 0;
    while (i < s.size() && s.at(i) == QLatin1Char(' ')) ++i;
    if (i == s.size()) return;
    line += QStringView(s).mid(i);
    if (!lastPart) line += QLatin1Char(' ');
}

// Column positions by name, looked up once per read instead of once per cell.
int ColumnIndex(const db::Recordset& rs, const QString& name)
{
    for (int i = 0; i < rs.FieldCount(); ++i)
        if (rs.FieldName(i).compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}
} // namespace

QString Form1::AddressPlaceLine(const QVariant& city, const QVariant& state, const QVariant& country, const QVariant& zip)
{
    QString place;
    AppendPart(place, city, false);
    AppendPart(place, state, false);
    AppendPart(place, country, false);
    AppendPart(place, zip, true);
    return place;
}

void Form1::setAddressRows(std::shared_ptr<ui::XArrayDB> rows)
{
    ex = std::move(rows);
    TDBGrid2->SetBookmark(QVariant());
    TDBGrid2->SetArray(ex);
    TDBGrid2->ReBind();
    // Rows selected in the previous list mean nothing in this one.
    TDBGrid2->SelBookmarks().Clear();
    AddressSortState = {1, 1, 1};
}

void Form1::emptyAddressList()
{
    auto rows = std::make_shared<ui::XArrayDB>();
    rows->ReDim(1, 0, 0, 7);
    setAddressRows(rows);
}

void Form1::LoadEmailAddresses(ui::TreeNode* nodx)
{
    WebBrowser1->setVisible(false);
    msgPane->setVisible(false);
    msgPaneHeader->setVisible(false);
    if (!nodx) {
        addressView_ = NoAddresses;
        addressFolderKey_.clear();
        emptyAddressList();
        return;
    }

    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    const bool root = IsTopLevelNode(nodx);
    if (root) {
        sql.SetSql(QStringLiteral("SELECT * FROM MasterList ORDER By Email;"));
    } else {
        const QString id = QString::number(FolderRecIDFromKey(nodx->Key()));
        sql.SetSql(QStringLiteral("SELECT MasterList.RecID, MasterList.Disabled, MasterList.Email, MasterList.SortName, "
                                  "MasterList.City, MasterList.State, MasterList.Zip, MasterList.Country, ") +
                   QStringLiteral("ListMembers.RecID AS ListMemberRecID, ListMembers.FolderRecID AS ListMemberFolderRecID ") +
                   QStringLiteral(" ") +
                   QStringLiteral("FROM MasterList INNER JOIN ListMembers ON MasterList.RecID = ListMembers.MasterRecID ") +
                   QStringLiteral("WHERE ListMembers.FolderRecID = ") + id + QStringLiteral(" ORDER BY MasterList.Email; "));
    }
    addressView_ = root ? MasterListView : ListFolderView;
    addressFolderKey_ = nodx->Key();

    db::Recordset rs;
    auto rows = std::make_shared<ui::XArrayDB>();
    if (!sql.GetRecordsetRO(rs)) {
        ui::MsgBox(sql.ErrorMessage(), ui::vbOKOnly);
        // Nothing was read: the list is empty rather than the previous folder's rows.
        rows->ReDim(1, 0, 0, 7);
    } else {
        const int n = int(rs.RecordCount());
        rows->ReDim(1, n, 0, 7);
        const int cDisabled = ColumnIndex(rs, QStringLiteral("Disabled"));
        const int cEmail = ColumnIndex(rs, QStringLiteral("Email"));
        const int cSortName = ColumnIndex(rs, QStringLiteral("SortName"));
        const int cCity = ColumnIndex(rs, QStringLiteral("City"));
        const int cState = ColumnIndex(rs, QStringLiteral("State"));
        const int cCountry = ColumnIndex(rs, QStringLiteral("Country"));
        const int cZip = ColumnIndex(rs, QStringLiteral("Zip"));
        const int cRecId = ColumnIndex(rs, QStringLiteral("RecID"));
        const int cMember = root ? -1 : ColumnIndex(rs, QStringLiteral("ListMemberRecID"));
        const int cFolder = root ? -1 : ColumnIndex(rs, QStringLiteral("ListMemberFolderRecID"));
        const QString minusOne = QStringLiteral("-1");
        const QString zero = QStringLiteral("0");
        int i = 0;
        while (!rs.Eof()) {
            ++i;
            const qint64 disabled = NullToZero(rs.Fields(cDisabled)).toLongLong();
            (*rows)(i, 0) = disabled == -1 ? minusOne : disabled == 0 ? zero : QString::number(disabled);
            (*rows)(i, 1) = NullToString(rs.Fields(cEmail));
            (*rows)(i, 2) = NullToString(rs.Fields(cSortName));
            (*rows)(i, 3) = AddressPlaceLine(rs.Fields(cCity), rs.Fields(cState), rs.Fields(cCountry), rs.Fields(cZip));
            const QVariant recId = rs.Fields(cRecId);
            (*rows)(i, 4) = NullToZero(recId);
            if (root) {
                (*rows)(i, 5) = NullToString(recId);
                (*rows)(i, 6) = 0;
            } else {
                (*rows)(i, 5) = NullToZero(rs.Fields(cMember));
                (*rows)(i, 6) = NullToZero(rs.Fields(cFolder));
            }
            rs.MoveNext();
        }
        rs.Close();
    }
    setAddressRows(rows);
    SetRightPaneCaption(QStringLiteral("Email Addresses (") + nodx->Text() + QStringLiteral(")"));
    StatusBar1->SetPanelText(1, QString::number(qMax(0, ex->UpperBound(1))) + QStringLiteral(" Items."));
}

void Form1::SetFirstdravonelBookmark()
{
    TDBGrid2->SelBookmarks().Clear();
    LastAddressBookmark = QString();
    if (ex->UpperBound(1) >= 1) {
        TDBGrid2->SetBookmark(1);
        TDBGrid2->SelBookmarks().Add(1);
        LastAddressBookmark = 1;
    }
}

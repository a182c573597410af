#include <QTextEdit>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Recordset.h"
#include "platform/ui/UiServices.h"

namespace {
// City, State and Country each followed by one blank, then Zip; empty parts add nothing.
QString PlaceLine(const db::Recordset& rs)
{
    auto part = [&rs](const char* name) {
        QString s = NullToString(rs.Fields(QString::fromLatin1(name))).toString();
        int i = 0;
        while (i < s.size() && s.at(i) == QLatin1Char(' ')) ++i;
        return s.mid(i);
    };
    const QString city = part("City");
    const QString state = part("State");
    const QString country = part("Country");
    QString line;
    for (const QString& p : {city, state, country}) {
        const QString withBlank = p + QLatin1Char(' ');
        // (p & " ") stripped of leading blanks: an empty part leaves nothing.
        int i = 0;
        while (i < withBlank.size() && withBlank.at(i) == QLatin1Char(' ')) ++i;
        line += withBlank.mid(i);
    }
    return line + part("Zip");
}
} // namespace

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
        int i = 0;
        while (!rs.Eof()) {
            ++i;
            (*rows)(i, 0) = QString::number(NullToZero(rs.Fields(QStringLiteral("Disabled"))).toLongLong());
            (*rows)(i, 1) = NullToString(rs.Fields(QStringLiteral("Email")));
            (*rows)(i, 2) = NullToString(rs.Fields(QStringLiteral("SortName")));
            (*rows)(i, 3) = PlaceLine(rs);
            const QVariant recId = NullToZero(rs.Fields(QStringLiteral("RecID")));
            (*rows)(i, 4) = recId;
            if (root) {
                (*rows)(i, 5) = NullToString(rs.Fields(QStringLiteral("RecID")));
                (*rows)(i, 6) = 0;
            } else {
                (*rows)(i, 5) = NullToZero(rs.Fields(QStringLiteral("ListMemberRecID")));
                (*rows)(i, 6) = NullToZero(rs.Fields(QStringLiteral("ListMemberFolderRecID")));
            }
            rs.MoveNext();
        }
        rs.Close();
    }
    setAddressRows(rows);
    lblRightPane->setText(QStringLiteral("Email Addresses (") + nodx->Text() + QStringLiteral(")"));
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

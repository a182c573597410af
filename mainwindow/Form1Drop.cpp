// Rows of either grid dropped onto the folder tree: addresses or correspondents join a list
// folder, messages move to a mail folder.
#include <QMimeData>
#include <QSet>

#include <exception>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"

namespace {
const char* const kItemError =
    "There was an error processing selected item(s).  Some of the selected item(s) may have been deleted or are "
    "not Mail Messages.  Check the Item(s) and Refresh the list to remedy.";

// Thrown where a read leaves no recordset: the drop ends there, keeping what it did.
struct DropFailed : std::runtime_error {
    DropFailed() : std::runtime_error("drop failed") {}
};

bool hasRow(SQLStatement& sql, const QString& text)
{
    sql.SetSql(text);
    db::Recordset rs;
    if (!sql.GetRecordsetFO(rs)) throw DropFailed();
    const bool found = !rs.Eof();
    rs.Close();
    return found;
}

void addMembership(SQLStatement& sql, qint64 m, qint64 f)
{
    if (hasRow(sql, QStringLiteral("SELECT * FROM ListMembers WHERE MasterRecID = ") + QString::number(m) + QStringLiteral(" ") +
                        QStringLiteral("AND FolderRecID = ") + QString::number(f) + QStringLiteral(";")))
        return;
    sql.SetSql(QStringLiteral("INSERT INTO ListMembers (?) VALUES (?);"));
    sql.SetLong(QStringLiteral("MasterRecID"), m);
    sql.SetLong(QStringLiteral("FolderRecID"), f);
    sql.Execute();
    if (sql.Error()) throw DropFailed();
}
} // namespace

void Form1::TreeView1_OLEDragDrop(const QMimeData* Data, int& Effect, int Button, int Shift, double x, double y)
{
    Q_UNUSED(Data);
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    // Only a drag this window started from one of its grids carries rows it can read.
    const QVariantList marks = DragBookmarks.toList();
    if (!DragInProgress.toBool() || marks.isEmpty() || !DragSource.isValid()) {
        Effect = ui::vbDropEffectNone;
        return;
    }
    const int n = int(marks.size()) - 1;
    bool ontoOutbox = false;
    try {
        ui::TreeNode* target = TreeView1->HitTest(x, y);
        if (!target) throw DropFailed();
        const QString key = target->Key();
        SQLStatement sql;
        sql.SetConnection(&DBConnection());

        if (DragSource.toInt() != 0) {
            if (!IsDravonelFolderNode(target) || IsTopLevelNode(target) || n == 0) return;
            ui::SetMousePointer(ui::vbHourglass);
            const qint64 f = FolderRecIDFromKey(key);
            for (int i = 1; i <= n; ++i) {
                const qint64 m = ex->Value(int(Val(marks.at(i).toString())), 4).toLongLong();
                addMembership(sql, m, f);
            }
        } else if (!IsEmailFolderNode(target)) {
            if (n == 0) return;
            ui::SetMousePointer(ui::vbHourglass);
            const bool top = IsTopLevelNode(target);
            for (int i = 1; i <= n; ++i) {
                const QString id = xa->Value(int(Val(marks.at(i).toString())), 8).toString();
                const mail::MailItemPtr mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(id));
                if (!mi) throw DropFailed();
                const QString addr = GetMessageAddress(mi);
                // A sender's name without an address, or one no send could use, is not stored.
                if (!AddressImport::LooksLikeAddress(addr)) {
                    ui::SetMousePointer(ui::vbArrow);
                    ui::MsgBox(QString::fromLatin1(kItemError), ui::vbCritical);
                    ui::SetMousePointer(ui::vbHourglass);
                    continue;
                }
                if (!hasRow(sql, QStringLiteral("SELECT RecID FROM MasterList WHERE Email = '") + EscapeSQL(addr) +
                                     QStringLiteral("'"))) {
                    sql.SetSql(QStringLiteral("INSERT INTO MasterList (?) VALUES (?);"));
                    sql.SetString(QStringLiteral("Email"), addr);
                    sql.Execute();
                    if (sql.Error()) throw DropFailed();
                }
                if (!top) {
                    sql.SetSql(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = '") + EscapeSQL(addr) +
                               QStringLiteral("';"));
                    db::Recordset rs;
                    if (!sql.GetRecordsetFO(rs)) throw DropFailed();
                    if (!rs.Eof()) {
                        const qint64 m = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
                        rs.Close();
                        addMembership(sql, m, FolderRecIDFromKey(key));
                    }
                }
            }
        } else {
            const mail::FolderPtr folder = MAPINameSpace->GetFolderFromID(key);
            if (n < 1) return;
            ontoOutbox = IsOutboxFolder(folder);
            // Messages dropped on the folder they are listed from stay where they are.
            if (key.compare(messageFolderKey_, Qt::CaseInsensitive) == 0) return;
            ui::SetMousePointer(ui::vbHourglass);
            QStringList ids;
            for (int i = 1; i <= n; ++i) ids << xa->Value(int(Val(marks.at(i).toString())), 8).toString();
            QSet<QString> moved;
            std::exception_ptr failure;
            try {
                for (const QString& id : std::as_const(ids)) {
                    const mail::MailItemPtr mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(id));
                    if (!mi) throw DropFailed();
                    mi->Move(folder);
                    moved.insert(id);
                }
            } catch (const std::exception&) {
                // The messages moved before the failure have left this folder: their rows go too.
                failure = std::current_exception();
                if (moved.isEmpty()) std::rethrow_exception(failure);
            }
            RemoveMessageRows(std::move(moved));
            if (failure) std::rethrow_exception(failure);
        }
    } catch (const mail::MailError& e) {
        // Only Send puts messages into the Outbox: the mail host's refusal is told, and so is the
        // queue's, which keeps a message there while it is being sent.
        if (ontoOutbox || dynamic_cast<const mail::QueueRefusal*>(&e)) {
            ui::SetMousePointer(ui::vbArrow);
            ui::MsgBox(e.message(), ui::vbCritical);
        }
    } catch (const std::exception&) {
        // What was done before the failure stays done; nothing is reported.
    }
    ui::SetMousePointer(ui::vbArrow);
}

void Form1::RemoveMessageRows(QSet<QString> entryIds)
{
    // One pass over the rows, so a large move is not rows times messages.
    QList<int> gone;
    for (int r = 1; r <= xa->UpperBound(1) && !entryIds.isEmpty(); ++r)
        if (entryIds.remove(xa->Value(r, 8).toString())) gone << r;
    for (auto it = gone.crbegin(); it != gone.crend(); ++it) xa->DeleteRows(*it);
    auto& sel = TDBGrid1->SelBookmarks();
    int largest = 0;
    while (sel.Count() > 0) {
        largest = qMax(largest, int(Val(sel.Item(0).toString())));
        sel.Remove(0);
    }
    TDBGrid1->ReBind();
    const int rows = xa->UpperBound(1);
    StatusBar1->SetPanelText(1, QString::number(qMax(0, rows)) + QStringLiteral(" Items."));
    if (rows < 1) {
        ClearMessagePane();
    } else {
        if (largest > rows) SetSpecificEmailBookmark(rows);
        else if (largest > 0) SetSpecificEmailBookmark(largest);
        else SetFirstEmailBookmark();
        LoadMessageFromBookmark(TDBGrid1->Bookmark());
    }
}

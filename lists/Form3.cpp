#include "lists/Form3.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "core/Conversions.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "core/WholeNumber.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"

namespace {
constexpr int kRecIdRole = Qt::UserRole;
constexpr int kTypeRole = Qt::UserRole + 1;
} // namespace

Form3::Form3(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Add Email Address"));
    resize(340, 360);
    auto* l1 = new QLabel(QStringLiteral("Add Email Address"), this);
    l1->setGeometry(10, 8, 320, 18);
    Text1 = new ui::TextBox(this);
    Text1->SetMaxLength(64);
    Text1->setGeometry(10, 28, 320, 24);
    auto* l2 = new QLabel(QStringLiteral("Place In Folders..."), this);
    l2->setGeometry(10, 60, 320, 18);
    List1 = new QListWidget(this);
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List1->setGeometry(10, 80, 320, 230);
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command1->setGeometry(150, 320, 86, 28);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setGeometry(244, 320, 86, 28);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);
    Form_Load();
    Text1->setFocus();
}

bool Form3::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form3::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form3::Form_Load()
{
    CenterForm(*this);
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    // Only the root and real list folders: a row a copy is still allocating is no folder yet.
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderType IN (0, 1) ORDER BY FolderType, FolderName;"));
    db::Recordset rs;
    if (!sql.GetRecordsetFO(rs)) return;
    for (; !rs.Eof(); rs.MoveNext()) {
        auto* item = new QListWidgetItem(NullToString(rs.Fields(QStringLiteral("FolderName"))).toString(), List1);
        item->setData(kRecIdRole, NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong());
        const int type = ToInteger(NullToZero(rs.Fields(QStringLiteral("FolderType"))));
        item->setData(kTypeRole, type);
        if (type == 0) item->setSelected(true);
    }
}

void Form3::SetNodx(const QString& key)
{
    nodx_ = key;
    // A mail-folder node names no list folder: only the Master List stays preselected.
    if (!key.startsWith(kListFolderKeyMark)) return;
    long id = 0;
    try {
        id = FolderRecIDFromKey(key);
    } catch (const std::exception&) {
        return;
    }
    for (int i = 0; i < List1->count(); ++i)
        if (List1->item(i)->data(kRecIdRole).toLongLong() == id) List1->item(i)->setSelected(true);
}

void Form3::Command1_Click()
{
    // Blanks at the ends are never part of an address: kept, they would make a second row
    // for an address the list holds already.
    const QString address = Text1->text().trimmed();
    if (address.isEmpty()) {
        ui::MsgBox(QStringLiteral("Error In Email Address.  No Email Address Specified"), ui::vbCritical);
        return;
    }
    // The check every import makes: a bulk send would only fail on it later.
    if (!AddressImport::LooksLikeAddress(address)) {
        ui::MsgBox(QStringLiteral("Error In Email Address.  This is not an email address: ") +
                       mail::send::ShowHiddenCharacters(address),
                   ui::vbCritical);
        return;
    }
    ui::SetMousePointer(ui::vbHourglass);
    const QString literal = QStringLiteral("'") + EscapeSQL(address) + QStringLiteral("'");
    db::Connection& c = DBConnection();
    try {
        auto tx = c.BeginTrans();
        SQLStatement sql;
        sql.SetConnection(&c);
        sql.SetSql(QStringLiteral("SELECT * FROM MasterList WHERE Email = ") + literal + QStringLiteral(";"));
        db::Recordset rs;
        const bool found = sql.GetRecordsetFO(rs) && !rs.Eof();
        rs.Close();
        if (!found) {
            sql.SetSql(QStringLiteral("INSERT INTO MasterList (?) Values (?);"));
            sql.SetString(QStringLiteral("Email"), address);
            sql.SetInteger(QStringLiteral("Status"), 0);
            sql.Execute();
        }
        sql.SetSql(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = ") + literal + QStringLiteral(";"));
        qint64 id = 0;
        if (sql.GetRecordsetFO(rs) && !rs.Eof()) id = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
        rs.Close();
        if (id <= 0) {
            // Without its id the address can join no folder; nothing is kept.
            ui::SetMousePointer(ui::vbArrow);
            ui::MsgBox(QStringLiteral("Error Saving Email Address.  The address could not be stored, so it was added to no folder."),
                       ui::vbCritical);
            return;
        }
        for (int i = 0; i < List1->count(); ++i) {
            QListWidgetItem* item = List1->item(i);
            // The Master List holds every address: it takes no membership row.
            if (!item->isSelected() || item->data(kTypeRole).toInt() == 0) continue;
            const qint64 folder = item->data(kRecIdRole).toLongLong();
            sql.SetSql(QStringLiteral("SELECT * FROM ListMembers WHERE MasterRecID = ") + QString::number(id) + QStringLiteral(" ")
                       + QStringLiteral("AND FolderRecID = ") + QString::number(folder) + QStringLiteral(";"));
            const bool member = sql.GetRecordsetFO(rs) && !rs.Eof();
            rs.Close();
            if (member) continue;
            sql.SetSql(QStringLiteral("INSERT INTO ListMembers (?) Values (?);"));
            sql.SetLong(QStringLiteral("MasterRecID"), id);
            sql.SetLong(QStringLiteral("FolderRecID"), folder);
            sql.Execute();
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(e.message(), ui::vbOKOnly);
        return;
    }
    Form1* f = Form1::Instance();
    if (f && nodx_.startsWith(kListFolderKeyMark)) {
        if (ui::TreeNode* node = f->TreeView1->Nodes(nodx_)) f->LoadEmailAddresses(node);
    }
    ui::SetMousePointer(ui::vbArrow);
    accept();
}

void Form3::Command2_Click() { reject(); }

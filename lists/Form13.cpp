#include "lists/Form13.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>

#include "core/Conversions.h"
#include "core/FieldVocabulary.h"
#include "core/FolderCriteria.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "core/WholeNumber.h"
#include "lists/ListBuild.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/ui/UiServices.h"

namespace {
const char* const kOperators[] = {"", "Equal To", "Greater Than", "Greater Than Equal To", "Less Than", "Less Than Equal To", "LIKE"};
const char* const kConjunctions[] = {"", "AND", "OR", ") AND", "AND (", ") AND (", ") OR ", "OR (", ") OR (", ")", "("};

std::shared_ptr<ui::XArrayDB> oneColumnList(const char* const* items, int count)
{
    auto a = std::make_shared<ui::XArrayDB>();
    a->ReDim(1, count, 0, 0);
    for (int i = 0; i < count; ++i) a->SetValue(i + 1, 0, QString::fromLatin1(items[i]));
    return a;
}

QString text(const QVariant& v) { return v.toString(); }

ui::TreeNode* mainTreeNode(const QString& key)
{
    Form1* f = Form1::Instance();
    return f && !key.isEmpty() ? f->TreeView1->Nodes(key) : nullptr;
}
} // namespace

Form13::Form13(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Folder Properties"));
    resize(640, 420);
    Label1 = new QLabel(this);
    Label1->setGeometry(12, 8, 400, 20);
    TDBGrid1 = new ui::DataGrid(this);
    TDBGrid1->setObjectName(QStringLiteral("TDBGrid1"));
    TDBGrid1->setGeometry(12, 32, 616, 300);
    // The rules are typed and picked in the grid itself.
    TDBGrid1->SetAllowUpdate(true);
    TDBDropDown1 = new ui::DataGridDropDown(this);
    TDBDropDown2 = new ui::DataGridDropDown(this);
    TDBDropDown3 = new ui::DataGridDropDown(this);
    TDBDropDown4 = new ui::DataGridDropDown(this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(12, 340, 616, 18);
    CommandInsert = new QPushButton(QStringLiteral("Insert"), this);
    CommandDelete = new QPushButton(QStringLiteral("Delete"), this);
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command2 = new QPushButton(QStringLiteral("E&xit"), this);
    int x = 12;
    for (QPushButton* b : {CommandInsert, CommandDelete, Command1, Command2}) {
        b->setGeometry(x, 372, 90, 28);
        b->setAutoDefault(false);
        x += 100;
    }

    const char* captions[] = {"Field", "Condition", "Value", "Conjunction", "", "", "", ""};
    for (const char* c : captions) TDBGrid1->Columns().Add(QString::fromLatin1(c));
    for (int c = 4; c <= 7; ++c) TDBGrid1->Columns(c).SetVisible(false);
    TDBGrid1->Columns(0).SetWidth(2400);
    TDBGrid1->Columns(1).SetWidth(2000);
    TDBGrid1->Columns(2).SetWidth(2400);
    TDBGrid1->Columns(3).SetWidth(1500);
    ui::DataGridDropDown* drops[] = {TDBDropDown1, TDBDropDown2, TDBDropDown3, TDBDropDown4};
    for (int c = 0; c < 4; ++c) TDBGrid1->Columns(c).SetDropDown(drops[c]);

    connect(CommandInsert, &QPushButton::clicked, this, &Form13::CommandInsert_Click);
    connect(CommandDelete, &QPushButton::clicked, this, &Form13::CommandDelete_Click);
    connect(Command1, &QPushButton::clicked, this, &Form13::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form13::Command2_Click);
    connect(TDBGrid1, &ui::DataGrid::KeyPress, this, &Form13::TDBGrid1_KeyPress);
    connect(TDBGrid1, &ui::DataGrid::ButtonClick, this, &Form13::TDBGrid1_ButtonClick);
    connect(TDBDropDown1, &ui::DataGridDropDown::ItemPicked, this, &Form13::TDBDropDown1_ItemPicked);

    Form_Load();
}

Form13::~Form13() = default;

bool Form13::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form13::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

// The grid and the progress bar take the window's width: the grid widens it to show its columns.
void Form13::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    for (QWidget* w : std::initializer_list<QWidget*>{TDBGrid1, ProgressBar1}) w->resize(width() - 2 * w->x(), w->height());
}

void Form13::Form_Load()
{
    Label1->setText(QStringLiteral("Specify Folder Parameters:"));
    CenterForm(*this);

    RuleArray = std::make_shared<ui::XArrayDB>();
    RuleArray->ReDim(1, 200, 0, 7);
    TDBGrid1->SetArray(RuleArray);
    // Nothing to save until LoadProperties has read the folder's rules.
    Command1->setEnabled(false);

    OperatorList = oneColumnList(kOperators, int(std::size(kOperators)));
    TDBDropDown2->Columns().Add();
    TDBDropDown2->SetArray(OperatorList);
    TDBDropDown2->ReBind();
    TDBDropDown2->SetHeight(8 * TDBDropDown2->RowHeight());

    ConjunctionList = oneColumnList(kConjunctions, int(std::size(kConjunctions)));
    TDBDropDown4->Columns().Add();
    TDBDropDown4->SetArray(ConjunctionList);
    TDBDropDown4->ReBind();
    TDBDropDown4->SetHeight(12 * TDBDropDown4->RowHeight());

    ValueList = std::make_shared<ui::XArrayDB>();
    ValueList->ReDim(1, 0, 0, 0);
    TDBDropDown3->Columns().Add();
    TDBDropDown3->SetArray(ValueList);

    // Field list: blank entry, custom fields in use (combo, hot check, check), then the standard ones.
    FieldList = std::make_shared<ui::XArrayDB>();
    FieldList->ReDim(1, 500, 0, 2);
    int n = 0;
    auto add = [&](const QString& name, int type, int id) {
        ++n;
        FieldList->SetValue(n, 0, name);
        FieldList->SetValue(n, 1, type);
        FieldList->SetValue(n, 2, id);
    };
    add(QString(), 0, 0);
    try {
        for (const FieldChoice& c : CustomFieldsInUse({1, 3, 2})) add(c.caption, c.FieldType, c.FieldID);
    } catch (const db::DbError&) {
        // The standard fields are offered all the same.
    }
    for (int id = 1; id <= 17; ++id) add(GetFieldToken(id), 0, id);
    FieldList->ReDimPreserve(1, n, 0, 2);
    for (int c = 0; c < 3; ++c) TDBDropDown1->Columns().Add();
    TDBDropDown1->Columns(1).SetVisible(false);
    TDBDropDown1->Columns(2).SetVisible(false);
    TDBDropDown1->SetArray(FieldList);
    TDBDropDown1->ReBind();
    TDBDropDown1->SetHeight(11 * TDBDropDown1->RowHeight());

    TDBGrid1->ReBind();
}

long Form13::folderRecID() const { return FolderRecIDFromKey(CurrentNode); }

bool Form13::RowIsBlank(int row) const
{
    for (int c = 0; c <= 3; ++c)
        if (!text(RuleArray->Value(row, c)).trimmed().isEmpty()) return false;
    return true;
}

void Form13::LoadProperties()
{
    ui::TreeNode* node = mainTreeNode(CurrentNode);
    setWindowTitle(QStringLiteral("Properties: ") + (node ? node->Text() : QString()));

    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolderProperties WHERE FolderRecID = ") + QString::number(folderRecID())
               + QStringLiteral(" ORDER BY Sequence;"));
    db::Recordset rs;
    // Rules that could not be read cannot be saved back: Apply would write the empty grid over them.
    rulesRead_ = sql.GetRecordsetRO(rs);
    Command1->setEnabled(rulesRead_);
    if (!rulesRead_) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("The folder's rules could not be read: ") + sql.ErrorDescription(), ui::vbCritical);
    }
    const int count = rulesRead_ ? int(rs.RecordCount()) : 0;
    RuleArray->ReDim(1, count + 50, 0, 7);
    int r = 0;
    for (; rulesRead_ && !rs.Eof(); rs.MoveNext()) {
        ++r;
        const int type = ToInteger(NullToZero(rs.Fields(QStringLiteral("FieldType"))));
        const int id = ToInteger(NullToZero(rs.Fields(QStringLiteral("FieldID"))));
        QString name;
        try {
            name = type != 0 ? GetFieldCaption(type, id) : GetFieldToken(id);
        } catch (const db::DbError&) {
            // The rule keeps its field reference; only the name is missing.
        }
        RuleArray->SetValue(r, 0, name);
        RuleArray->SetValue(r, 1, NullToString(rs.Fields(QStringLiteral("Operator"))));
        RuleArray->SetValue(r, 2, NullToString(rs.Fields(QStringLiteral("FieldValue"))));
        RuleArray->SetValue(r, 3, NullToString(rs.Fields(QStringLiteral("Conjunction"))));
        RuleArray->SetValue(r, 4, NullToZero(rs.Fields(QStringLiteral("FieldID"))));
        RuleArray->SetValue(r, 5, NullToZero(rs.Fields(QStringLiteral("FieldType"))));
        RuleArray->SetValue(r, 6, NullToZero(rs.Fields(QStringLiteral("Sequence"))));
        RuleArray->SetValue(r, 7, NullToZero(rs.Fields(QStringLiteral("RecID"))));
    }
    rs.Close();
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(RuleArray);
    TDBGrid1->ReBind();
}

void Form13::TDBDropDown1_ItemPicked(const QVariant& bookmark)
{
    const QVariant bm = TDBGrid1->Bookmark();
    if (bm.isNull() || !FieldList->ContainsRow(bookmark.toInt())) return;
    const int r = bm.toInt();
    const int pick = bookmark.toInt();
    RuleArray->SetValue(r, 4, FieldList->Value(pick, 2));
    RuleArray->SetValue(r, 5, FieldList->Value(pick, 1));
    if (text(FieldList->Value(pick, 0)).trimmed().isEmpty()) RuleArray->SetValue(r, 2, QString());
    const int type = ToInteger(RuleArray->Value(r, 5));
    const QString value = text(RuleArray->Value(r, 2));
    if ((type == 2 || type == 3) && value.compare(QLatin1String("UNCHECKED"), Qt::CaseInsensitive) != 0
        && value.compare(QLatin1String("CHECKED"), Qt::CaseInsensitive) != 0)
        RuleArray->SetValue(r, 2, QString());
    TDBGrid1->RefetchRow(r);
}

void Form13::TDBGrid1_ButtonClick(int ColIndex)
{
    if (ColIndex < 0 || ColIndex > 3) return;
    ui::DataGridDropDown* drops[] = {TDBDropDown1, TDBDropDown2, TDBDropDown3, TDBDropDown4};
    drops[ColIndex]->SetWidth(TDBGrid1->Columns(ColIndex).Width());
    if (ColIndex == 2) LoadValueDropDown();
}

void Form13::LoadValueDropDown()
{
    const QVariant bm = TDBGrid1->Bookmark();
    const int r = bm.isNull() ? 0 : bm.toInt();
    const bool hasRow = RuleArray->ContainsRow(r);
    const int type = hasRow ? int(Val(RuleArray->Value(r, 5))) : 0;
    if (type == 2 || type == 3) {
        ValueList->ReDim(1, 2, 0, 0);
        ValueList->SetValue(1, 0, QStringLiteral("CHECKED"));
        ValueList->SetValue(2, 0, QStringLiteral("UNCHECKED"));
    } else if (type == 0) {
        ValueList->ReDim(1, 0, 0, 0);
    } else {
        QStringList values;
        try {
            values = ComboFieldValues(ToInteger(RuleArray->Value(r, 4)));
        } catch (const db::DbError&) {
            // An unreadable list offers nothing; a value can still be typed.
        }
        ValueList->ReDim(1, int(values.size()), 0, 0);
        for (int i = 0; i < values.size(); ++i) ValueList->SetValue(i + 1, 0, values.at(i));
    }
    TDBDropDown3->SetArray(ValueList);
    TDBDropDown3->ReBind();
}

void Form13::TDBGrid1_KeyPress(int& KeyAscii)
{
    // The field is chosen from its list only; Tab still moves on.
    if (TDBGrid1->Col() <= 0 && KeyAscii != ui::vbKeyTab) KeyAscii = 0;
}

void Form13::CommandInsert_Click()
{
    const QVariant bm = TDBGrid1->Bookmark();
    int r = 1;
    if (!bm.isNull() && bm.isValid()) r = int(Val(bm));
    if (r < RuleArray->LowerBound(1) || r > RuleArray->UpperBound(1) + 1) r = 1;
    RuleArray->InsertRows(r, 1);
    TDBGrid1->Refresh();
}

void Form13::CommandDelete_Click()
{
    try {
        ui::DataGridSelBookmarks& sel = TDBGrid1->SelBookmarks();
        if (sel.Count() == 0) return;
        if (ui::MsgBox(QStringLiteral("Confirm Deleting Selected Records?"), ui::vbYesNo + ui::vbQuestion) != ui::vbYes) return;
        QSet<int> rows;
        for (int i = 0; i < sel.Count(); ++i) rows.insert(int(Val(sel.Item(i))));
        for (int r = RuleArray->UpperBound(1); r >= RuleArray->LowerBound(1); --r) {
            if (!rows.contains(r)) continue;
            RuleArray->DeleteRows(r, 1);
            RuleArray->InsertRows(RuleArray->UpperBound(1) + 1, 1);
        }
        while (sel.Count() > 0) sel.Remove(0);
        TDBGrid1->Refresh();
    } catch (const std::exception&) {
        // Ends silently; nothing was stored.
    }
}

bool Form13::saveRules(long id)
{
    const QString sid = QString::number(id);
    db::Connection& c = DBConnection();
    try {
        auto tx = c.BeginTrans();
        SQLStatement sql;
        sql.SetConnection(&c);
        int n = 0;
        for (int r = RuleArray->LowerBound(1); r <= RuleArray->UpperBound(1); ++r) {
            if (RowIsBlank(r)) continue;
            ++n;
            sql.SetSql(QStringLiteral("SELECT * FROM MailFolderProperties WHERE FolderRecID = ") + sid + QStringLiteral(" ")
                       + QStringLiteral("AND Sequence = ") + QString::number(n) + QStringLiteral(";"));
            db::Recordset rs;
            if (!sql.GetRecordsetFO(rs)) {
                ui::MsgBox(sql.ErrorMessage(), ui::vbOKOnly);
                return false;
            }
            if (rs.Eof()) {
                sql.SetSql(QStringLiteral("INSERT INTO MailFolderProperties (?) VALUES (?);"));
            } else {
                sql.SetSql(QStringLiteral("UPDATE MailFolderProperties SET ? WHERE RecID = ")
                           + QString::number(NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong()) + QStringLiteral(";"));
            }
            rs.Close();
            sql.SetInteger(QStringLiteral("Status"), 1);
            sql.SetLong(QStringLiteral("FolderRecID"), id);
            sql.SetInteger(QStringLiteral("FieldID"), ToInteger(RuleArray->Value(r, 4)));
            sql.SetString(QStringLiteral("Operator"), text(RuleArray->Value(r, 1)));
            sql.SetString(QStringLiteral("FieldValue"), text(RuleArray->Value(r, 2)));
            sql.SetString(QStringLiteral("Conjunction"), text(RuleArray->Value(r, 3)));
            sql.SetInteger(QStringLiteral("FieldType"), ToInteger(RuleArray->Value(r, 5)));
            sql.SetLong(QStringLiteral("Sequence"), n);
            sql.Execute();
            if (sql.Error()) {
                ui::MsgBox(sql.ErrorMessage(), ui::vbOKOnly);
                return false;
            }
        }
        sql.SetSql(QStringLiteral("DELETE FROM MailFolderProperties WHERE FolderRecID = ") + sid + QStringLiteral(" ")
                   + QStringLiteral("AND Sequence > ") + QString::number(n) + QStringLiteral(";"));
        sql.Execute();
        if (sql.Error()) {
            ui::MsgBox(sql.ErrorMessage(), ui::vbOKOnly);
            return false;
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::MsgBox(e.message(), ui::vbOKOnly);
        return false;
    }
    return true;
}

void Form13::Command1_Click()
{
    if (!rulesRead_) return;
    ui::SetMousePointer(ui::vbHourglass);
    TDBGrid1->Update();
    const long id = folderRecID();
    // The rules are stored before they are tried, so a refused condition is still kept.
    if (!saveRules(id)) {
        ui::SetMousePointer(ui::vbArrow);
        return;
    }

    bool opened = false;
    try {
        const QString where = BuildFolderWhere(id);
        SQLStatement test;
        test.SetConnection(&DBConnection());
        test.SetSql(QStringLiteral("SELECT * FROM MasterList ") + where + QStringLiteral(" ORDER BY Email LIMIT 1;"));
        db::Recordset rs;
        opened = test.GetRecordsetFO(rs);
        rs.Close();
    } catch (const db::DbError&) {
        opened = false;
    }

    if (opened) {
        LoadProperties();
        // The rules are saved; without them on screen there is nothing to build from here.
        if (!rulesRead_) return;
        ui::DoEvents();
        ui::SetMousePointer(ui::vbHourglass);
        const bool clear = ui::MsgBox(QStringLiteral("Do You Wish To Clear The List Before You Build It?"),
                                      ui::vbYesNo + ui::vbQuestion) == ui::vbYes;
        build(clear);
        if (ui::TreeNode* node = mainTreeNode(CurrentNode)) Form1::Instance()->LoadEmailAddresses(node);
    } else {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Error In Parameters.  Ensure that all parenthesis are correct.  Note that your data has been saved."),
                   ui::vbCritical);
    }
    ui::SetMousePointer(ui::vbArrow);
}

void Form13::BuildTheList() { build(false); }

void Form13::build(bool clearFirst)
{
    ui::SetMousePointer(ui::vbHourglass);
    ListBuildProgress progress;
    progress.started = [this](int count) {
        if (count <= 0) return;
        ProgressBar1->setMinimum(0);
        ProgressBar1->setMaximum(count);
        ProgressBar1->setValue(0);
    };
    progress.step = [this](int i) { ProgressBar1->setValue(i); };
    const ListBuildResult r = BuildListMembers(folderRecID(), clearFirst, progress);
    if (!r.ok) ui::MsgBox(r.error, ui::vbOKOnly);
    ui::DoEvents();
    ui::DoEvents();
}

void Form13::Command2_Click() { reject(); }

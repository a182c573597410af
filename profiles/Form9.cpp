#include "profiles/Form9.h"

#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include "core/Conversions.h"
#include "core/FieldVocabulary.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/TreeKeys.h"
#include "core/WholeNumber.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/ui/UiServices.h"
#include "profiles/ProfileList.h"

namespace {

// Typing into the Value cell stops here; a longer value the program put there stays whole.
constexpr int kValueTypingLimit = 25;
// The lists are as many rows high as 1830 twips held in the old grid's rows of 225.
constexpr int kDropDownRows = 8;

QString text(const QVariant& v) { return v.toString(); }

void checkValues(ui::XArrayDB& list)
{
    list.ReDim(1, 2, 0, 0);
    list.SetValue(1, 0, QStringLiteral("CHECKED"));
    list.SetValue(2, 0, QStringLiteral("UNCHECKED"));
}

// Indents a tree node's text by its depth, so folders of the same name in two stores or under two
// parents can be told apart in a flat list.
QString indented(const ui::TreeNode* node)
{
    int depth = 0;
    for (const ui::TreeNode* p = node->Parent(); p; p = p->Parent()) ++depth;
    return QString(depth * 3, QLatin1Char(' ')) + node->Text();
}

ui::TreeView* mainTree()
{
    Form1* f = Form1::Instance();
    return f ? f->TreeView1 : nullptr;
}

} // namespace

Form9::Form9(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("Profile"));
    Label1 = new QLabel(QStringLiteral("Specify Profile Name:"), this);
    Text1 = new QLineEdit(this);
    Label2 = new QLabel(QStringLiteral("Move To Mail Folder: (Optional)"), this);
    Combo1 = new QComboBox(this);
    Label3 = new QLabel(QStringLiteral("Place In Bulk Mail Folder: (Optional)"), this);
    Combo2 = new QComboBox(this);
    Label4 = new QLabel(QStringLiteral("Specify Fields To Set:"), this);
    TDBGrid1 = new ui::DataGrid(this);
    TDBGrid1->setObjectName(QStringLiteral("TDBGrid1"));
    TDBDropDown1 = new ui::DataGridDropDown(this);
    TDBDropDown2 = new ui::DataGridDropDown(this);
    Command1 = new QPushButton(QStringLiteral("Apply"), this);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command3 = new QPushButton(QStringLiteral("Delete"), this);
    Label1->setBuddy(Text1);
    Label2->setBuddy(Combo1);
    Label3->setBuddy(Combo2);
    for (QComboBox* c : {Combo1, Combo2}) c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, Text1, Label2, Combo1, Label3, Combo2, Label4}) layout->addWidget(w);
    layout->addWidget(TDBGrid1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    for (const char* c : {"Field", "Value", "Field ID", "Field Type", "", ""}) TDBGrid1->Columns().Add(QString::fromLatin1(c));
    TDBGrid1->Columns(0).SetWidth(2700);
    TDBGrid1->Columns(1).SetWidth(2700);
    TDBGrid1->Columns(2).SetWidth(900);
    TDBGrid1->Columns(3).SetWidth(1100);
    // The field reference follows the field picked from the list; it is not typed.
    TDBGrid1->Columns(2).SetLocked(true);
    TDBGrid1->Columns(3).SetLocked(true);
    TDBGrid1->Columns(4).SetVisible(false);
    TDBGrid1->Columns(5).SetVisible(false);
    TDBGrid1->Columns(0).SetDropDown(TDBDropDown1);
    TDBGrid1->Columns(1).SetDropDown(TDBDropDown2);
    // A click edits a cell; rows are selected for Delete by their row selectors on the left
    // (Ctrl adds or removes a row, Shift selects a range), so Delete can still mean the profile.
    TDBGrid1->SetMultiSelect(ui::DataGrid::dbgMultiSelectNone);
    // The presets are edited in place.
    TDBGrid1->SetAllowUpdate(true);
    TDBGrid1->verticalHeader()->show();
    connect(TDBGrid1->verticalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        auto& sel = TDBGrid1->SelBookmarks();
        const int row = TDBGrid1->bookmarkOfModelRow(section);
        if (!DetailRows || !DetailRows->ContainsRow(row)) return;
        const Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
        if (mods & Qt::ShiftModifier && DetailRows->ContainsRow(selectorAnchor_)) {
            sel.Clear();
            for (int r = qMin(selectorAnchor_, row); r <= qMax(selectorAnchor_, row); ++r) sel.Add(r);
            return TDBGrid1->viewport()->update();
        }
        if (!(mods & Qt::ControlModifier)) sel.Clear();
        bool removed = false;
        for (int i = 0; i < sel.Count() && !removed; ++i) {
            if (sel.Item(i).toInt() != row) continue;
            sel.Remove(i);
            removed = true;
        }
        if (!removed) sel.Add(row);
        selectorAnchor_ = row;
        TDBGrid1->viewport()->update();
    });

    connect(Command1, &QPushButton::clicked, this, &Form9::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form9::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form9::Command3_Click);
    connect(TDBGrid1, &ui::DataGrid::KeyPress, this, &Form9::TDBGrid1_KeyPress);
    connect(TDBGrid1, &ui::DataGrid::ButtonClick, this, &Form9::TDBGrid1_ButtonClick);
    connect(TDBDropDown1, &ui::DataGridDropDown::ItemPicked, this, &Form9::TDBDropDown1_ItemPicked);

    DetailRows = std::make_shared<ui::XArrayDB>();
    DetailRows->ReDim(1, kPresetRows, 0, 5);
    TDBGrid1->SetArray(DetailRows);
    ValueList = std::make_shared<ui::XArrayDB>();
    ValueList->ReDim(1, 0, 0, 0);
    TDBDropDown2->Columns().Add();
    TDBDropDown2->SetArray(ValueList);
    FieldList = std::make_shared<ui::XArrayDB>();
    for (int c = 0; c < 3; ++c) TDBDropDown1->Columns().Add();
    TDBDropDown1->Columns(1).SetVisible(false);
    TDBDropDown1->Columns(2).SetVisible(false);

    resize(560, 600);
    Form_Load();
}

Form9::~Form9() = default;

bool Form9::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form9::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form9::Form_Load()
{
    CenterForm(*this);
    TDBGrid1->Columns(1).SetDataWidth(kValueTypingLimit);
    for (int c = 0; c < 2; ++c) {
        ui::DataGridDropDown* list = c == 0 ? TDBDropDown1 : TDBDropDown2;
        list->SetWidth(TDBGrid1->Columns(c).Width());
        // The names take the list's width but for its scroll bar.
        list->Columns(0).SetWidth(TDBGrid1->Columns(c).Width() - 360);
        list->SetHeight((kDropDownRows + 1) * list->RowHeight());
    }
    LoadCustomFieldData();
    LoadMailFolders();
    LoadDravonelFolders();
    Combo1->setCurrentIndex(0);
    Combo2->setCurrentIndex(0);
    TDBGrid1->ReBind();
    // Nothing to save or delete until LoadProfile has read the profile.
    Command1->setEnabled(false);
    Command3->setEnabled(false);
}

void Form9::LoadCustomFieldData()
{
    FieldList->ReDim(1, 500, 0, 2);
    int n = 0;
    auto add = [&](const QString& name, int id, int type) {
        ++n;
        FieldList->SetValue(n, 0, name);
        FieldList->SetValue(n, 1, id);
        FieldList->SetValue(n, 2, type);
    };
    add(QString(), 0, 0);
    captionsError_.reset();
    try {
        for (const FieldChoice& c : CustomFieldsInUse({1, 2, 3})) add(c.caption, c.FieldID, c.FieldType);
    } catch (const db::DbError& e) {
        // The standard fields are still offered, but a custom-field preset would show without its
        // name, and one that clears its field would look blank and be dropped by a save.
        captionsError_ = e.message();
    }
    for (int id = 1; id <= 17; ++id) add(GetFieldToken(id), id, 0);
    FieldList->ReDimPreserve(1, n + 1, 0, 2);
    TDBDropDown1->SetArray(FieldList);
    TDBDropDown1->ReBind();
}

void Form9::LoadMailFolders()
{
    Combo1->clear();
    Combo1->addItem(QString(), QString());
    if (ui::TreeView* tree = mainTree()) {
        for (int i = 1; i <= tree->Nodes().Count(); ++i) {
            const ui::TreeNode* node = tree->Nodes(i);
            if (!node->Key().startsWith(kListFolderKeyMark)) Combo1->addItem(indented(node), node->Key());
        }
    }
}

void Form9::LoadDravonelFolders()
{
    Combo2->clear();
    Combo2->addItem(QString(), qint64(0));
    if (ui::TreeView* tree = mainTree()) {
        for (int i = 1; i <= tree->Nodes().Count(); ++i) {
            const ui::TreeNode* node = tree->Nodes(i);
            if (node->Key().startsWith(kListFolderKeyMark))
                Combo2->addItem(indented(node), qint64(FolderRecIDFromKey(node->Key())));
        }
    }
}

QString Form9::GetFieldName(int FieldID, int FieldType) const
{
    for (int r = FieldList->LowerBound(1); r <= FieldList->UpperBound(1); ++r) {
        if (!FieldList->Value(r, 1).isValid()) continue;
        if (ToInteger(FieldList->Value(r, 1)) == FieldID && ToInteger(FieldList->Value(r, 2)) == FieldType)
            return text(FieldList->Value(r, 0));
    }
    return QString();
}

void Form9::LoadProfile(std::optional<qint64> profileid)
{
    db::Connection& c = DBConnection();
    profileRead_ = false;
    QString failure;
    try {
        if (!profileid) {
            currentProfileRecID_ = 0;
            Text1->clear();
            Combo1->setCurrentIndex(0);
            Combo2->setCurrentIndex(0);
        } else {
            db::Statement p = c.Prepare(QStringLiteral(
                "SELECT RecID, Description, TargetEmailFolderEntryID, TargetDravonelFolderID FROM Profiles WHERE RecID = ?"));
            p.Bind(0, *profileid);
            p.Exec();
            if (p.Next()) {
                currentProfileRecID_ = NullToZero(p.Value(0)).toLongLong();
                Text1->setText(text(NullToString(p.Value(1))));
                const QString entryId = text(NullToString(p.Value(2)));
                const qint64 folderId = qint64(Val(NullToZero(p.Value(3))));
                // A target that is no longer in the tree shows blank, and is saved blank.
                auto first = [](const QComboBox* box, const auto& matches) {
                    for (int i = 0; i < box->count(); ++i)
                        if (matches(box->itemData(i))) return i;
                    return 0;
                };
                Combo1->setCurrentIndex(first(Combo1, [&](const QVariant& v) {
                    return v.toString().compare(entryId, Qt::CaseInsensitive) == 0;
                }));
                Combo2->setCurrentIndex(first(Combo2, [&](const QVariant& v) { return v.toLongLong() == folderId; }));
            }
            while (p.Next()) {
            }
        }

        db::Statement d = c.Prepare(QStringLiteral(
            "SELECT RecID, FieldID, FieldType, FieldValue FROM ProfileDetails WHERE ProfileRecID = ? ORDER BY Sequence, RecID"));
        d.Bind(0, currentProfileRecID_);
        d.Exec();
        struct Row {
            QVariant recId, id, type, value;
        };
        QList<Row> rows;
        while (d.Next()) rows.append({NullToZero(d.Value(0)), NullToZero(d.Value(1)), NullToZero(d.Value(2)), NullToString(d.Value(3))});
        // More stored presets than the grid's rows (written elsewhere) all show, so a save keeps them.
        DetailRows->ReDim(1, qMax<int>(kPresetRows, int(rows.size())), 0, 5);
        int k = 0;
        for (const Row& r : std::as_const(rows)) {
            ++k;
            DetailRows->SetValue(k, 0, GetFieldName(ToInteger(r.id), ToInteger(r.type)));
            DetailRows->SetValue(k, 1, r.value);
            DetailRows->SetValue(k, 2, r.id);
            DetailRows->SetValue(k, 3, r.type);
            DetailRows->SetValue(k, 4, r.recId);
        }
        profileRead_ = true;
    } catch (const db::DbError& e) {
        failure = e.message();
    }
    // Shown without the custom fields' names, the presets are for reading only.
    if (profileRead_ && captionsError_) {
        profileRead_ = false;
        failure = QStringLiteral("The custom fields' names could not be read.\n") + *captionsError_;
    }
    if (!profileRead_) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("The profile could not be read.\n") + failure, ui::vbCritical);
    }
    // What could not be read is not on screen to be saved or deleted: only Cancel is left.
    Command1->setEnabled(profileRead_);
    Command3->setEnabled(profileRead_);
    TDBGrid1->SelBookmarks().Clear();
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(DetailRows);
    TDBGrid1->ReBind();
}

bool Form9::RowIsBlank(int row) const
{
    return text(DetailRows->Value(row, 0)).trimmed().isEmpty() && text(DetailRows->Value(row, 1)).trimmed().isEmpty();
}

void Form9::TDBGrid1_KeyPress(int& KeyAscii)
{
    // The field is chosen from its list only; Tab still moves on.
    if (TDBGrid1->Col() <= 0 && KeyAscii != ui::vbKeyTab) KeyAscii = 0;
}

void Form9::TDBDropDown1_ItemPicked(const QVariant& bookmark)
{
    const QVariant bm = TDBGrid1->Bookmark();
    const int pick = bookmark.toInt();
    if (bm.isNull() || !FieldList->ContainsRow(pick)) return;
    const int r = bm.toInt();
    const bool blank = text(FieldList->Value(pick, 0)).trimmed().isEmpty();
    DetailRows->SetValue(r, 2, blank ? QVariant(0) : FieldList->Value(pick, 1));
    DetailRows->SetValue(r, 3, blank ? QVariant(0) : FieldList->Value(pick, 2));
    if (blank) DetailRows->SetValue(r, 1, QString());
    TDBGrid1->RefetchRow(r);
}

void Form9::TDBGrid1_ButtonClick(int ColIndex)
{
    if (ColIndex == 0) TDBDropDown1->SetWidth(TDBGrid1->Columns(0).Width());
    if (ColIndex != 1) return;
    TDBDropDown2->SetWidth(TDBGrid1->Columns(1).Width());
    LoadValueDropDown();
}

void Form9::LoadValueDropDown()
{
    const QVariant bm = TDBGrid1->Bookmark();
    const int r = bm.isNull() ? 0 : bm.toInt();
    const bool hasRow = DetailRows->ContainsRow(r);
    const int id = hasRow ? ToInteger(DetailRows->Value(r, 2)) : 0;
    const int type = hasRow ? ToInteger(DetailRows->Value(r, 3)) : -1;
    if (type == 2 || type == 3 || (type == 0 && id == 1)) {
        checkValues(*ValueList);
    } else if (type == 1) {
        QStringList values;
        try {
            values = ComboFieldValues(id);
        } catch (const db::DbError&) {
            // An unreadable list offers nothing; a value can still be typed.
        }
        ValueList->ReDim(1, int(values.size()), 0, 0);
        for (int i = 0; i < values.size(); ++i) ValueList->SetValue(i + 1, 0, values.at(i));
    } else {
        ValueList->ReDim(1, 0, 0, 0);
    }
    TDBDropDown2->SetArray(ValueList);
    TDBDropDown2->ReBind();
    // As high as its entries, up to the usual height; an empty list shows one blank row.
    const int rows = qBound(1, ValueList->Count(1), kDropDownRows);
    TDBDropDown2->SetHeight(rows * TDBDropDown2->RowHeight() + 2 * TwipsPerPixel);
}

bool Form9::SaveProfile()
{
    if (!profileRead_) return false;
    TDBGrid1->Update();
    const QString name = Text1->text();
    const QString entryId = Combo1->currentIndex() >= 0 ? Combo1->currentData().toString() : QString();
    const qint64 folderId = Combo2->currentIndex() >= 0 ? Combo2->currentData().toLongLong() : 0;
    if (name.trimmed().isEmpty()) {
        ui::MsgBox(QStringLiteral("Error Saving Profile.  No Profile Name Specified."), ui::vbCritical);
        return false;
    }

    db::Connection& c = DBConnection();
    qint64 id = currentProfileRecID_;
    try {
        auto tx = c.BeginTrans();
        bool exists = false;
        if (id > 0) {
            db::Statement find = c.Prepare(QStringLiteral("SELECT RecID FROM Profiles WHERE RecID = ?"));
            find.Bind(0, id);
            find.Exec();
            exists = find.Next();
            while (find.Next()) {
            }
        }
        if (!exists) {
            // The new row's id comes back from its own insert: no marker to find it by.
            db::Statement ins = c.Prepare(QStringLiteral("INSERT INTO Profiles (Status, Description, TargetEmailFolderEntryID, "
                                                         "TargetDravonelFolderID) VALUES (1, ?, ?, ?) RETURNING RecID"));
            ins.Bind(0, name).Bind(1, entryId).Bind(2, folderId);
            ins.Exec();
            if (!ins.Next()) throw db::DbError(db::errUnspecified, QStringLiteral("The new profile was not stored."));
            id = ins.Value(0).toLongLong();
            while (ins.Next()) {
            }
        } else {
            db::Statement upd = c.Prepare(QStringLiteral("UPDATE Profiles SET Description = ?, Status = 1, "
                                                         "TargetEmailFolderEntryID = ?, TargetDravonelFolderID = ? WHERE RecID = ?"));
            upd.Bind(0, name).Bind(1, entryId).Bind(2, folderId).Bind(3, id);
            upd.Exec();
        }

        // Presets are stored by position: the k-th row that holds something is Sequence k.
        db::Statement upd = c.Prepare(QStringLiteral(
            "UPDATE ProfileDetails SET FieldValue = ?, FieldType = ?, FieldID = ? WHERE ProfileRecID = ? AND Sequence = ?"));
        db::Statement ins = c.Prepare(QStringLiteral(
            "INSERT INTO ProfileDetails (FieldValue, FieldType, FieldID, ProfileRecID, Sequence) VALUES (?, ?, ?, ?, ?)"));
        int sequence = 0;
        for (int r = DetailRows->LowerBound(1); r <= DetailRows->UpperBound(1); ++r) {
            if (RowIsBlank(r)) continue;
            ++sequence;
            const QVariantList values{text(DetailRows->Value(r, 1)), ToInteger(DetailRows->Value(r, 3)),
                                      ToInteger(DetailRows->Value(r, 2)), id, sequence};
            for (int i = 0; i < values.size(); ++i) upd.Bind(i, values.at(i));
            upd.Exec();
            if (upd.NumRowsAffected() > 0) continue;
            for (int i = 0; i < values.size(); ++i) ins.Bind(i, values.at(i));
            ins.Exec();
        }
        db::Statement del = c.Prepare(QStringLiteral("DELETE FROM ProfileDetails WHERE ProfileRecID = ? AND Sequence > ?"));
        del.Bind(0, id).Bind(1, sequence);
        del.Exec();
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::MsgBox(QStringLiteral("Error Saving Profile.  ") + e.message(), ui::vbCritical);
        return false;
    }
    currentProfileRecID_ = id;
    return true;
}

void Form9::Command1_Click()
{
    if (!SaveProfile()) return;
    if (Opener) {
        Opener->LoadProfiles();
        if (Mode == 1) Opener->SelectProfile(currentProfileRecID_);
    }
    ui::DoEvents();
    accept();
}

void Form9::Command2_Click() { reject(); }

bool Form9::deleteProfile()
{
    db::Connection& c = DBConnection();
    try {
        auto tx = c.BeginTrans();
        for (const char* table : {"DELETE FROM ProfileDetails WHERE ProfileRecID = ?", "DELETE FROM Profiles WHERE RecID = ?"}) {
            db::Statement st = c.Prepare(QString::fromLatin1(table));
            st.Bind(0, currentProfileRecID_);
            st.Exec();
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Error Deleting Profile.  ") + e.message(), ui::vbCritical);
        return false;
    }
    return true;
}

void Form9::Command3_Click()
{
    if (!profileRead_) return;
    ui::DataGridSelBookmarks& sel = TDBGrid1->SelBookmarks();
    if (sel.Count() > 0) {
        if (ui::MsgBox(QStringLiteral("Confirm Deleting Selected Records?"), ui::vbYesNo + ui::vbQuestion) != ui::vbYes) return;
        TDBGrid1->Update();
        QSet<int> rows;
        for (int i = 0; i < sel.Count(); ++i) rows.insert(int(Val(sel.Item(i))));
        for (int r = DetailRows->UpperBound(1); r >= DetailRows->LowerBound(1); --r) {
            if (!rows.contains(r)) continue;
            DetailRows->DeleteRows(r, 1);
            DetailRows->InsertRows(DetailRows->UpperBound(1) + 1, 1);
        }
        sel.Clear();
        TDBGrid1->Refresh();
        return;
    }
    if (currentProfileRecID_ == 0) {
        ui::MsgBox(QStringLiteral("Cannot Delete Profile.  It Has Not Yet Been Saved."), ui::vbCritical);
        return;
    }
    if (ui::MsgBox(QStringLiteral("Confirm Deleting Current Profile?"), ui::vbYesNo + ui::vbQuestion) != ui::vbYes) return;
    ui::SetMousePointer(ui::vbHourglass);
    if (!deleteProfile()) return;
    if (Opener) Opener->LoadProfiles();
    ui::SetMousePointer(ui::vbArrow);
    accept();
}

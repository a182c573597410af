#include "lists/Form5.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "core/Conversions.h"
#include "core/FieldVocabulary.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/WholeNumber.h"
#include "lists/Form12.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/ui/UiServices.h"

namespace {

constexpr int kTop = 62;
constexpr int kRowHeight = 28;

QLabel* heading(const QString& text, int x, int y, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->setGeometry(x, y, 240, 20);
    return l;
}

QString n(int i) { return QString::number(i); }

// A sample check box: shows what the caption will stand beside, takes no input.
QCheckBox* sampleCheck(int x, int y, QWidget* parent)
{
    auto* c = new QCheckBox(parent);
    c->setGeometry(x, y + 2, 20, 20);
    c->setEnabled(false);
    c->setFocusPolicy(Qt::NoFocus);
    return c;
}

} // namespace

Form5::Form5(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Custom Field Configuration"));
    resize(780, 560);
    auto* title = heading(QStringLiteral("Custom Field Configuration"), 12, 8, this);
    title->setFixedWidth(400);
    heading(QStringLiteral("Combo Box Configuration:"), 12, 36, this);
    heading(QStringLiteral("Check Box Configuration:"), 366, 36, this);
    heading(QStringLiteral("Hot Check Box Configuration"), 560, 36, this);

    for (int i = 0; i < kComboFields; ++i) {
        const int y = kTop + i * kRowHeight;
        txtCombo[i] = new ui::TextBox(this);
        txtCombo[i]->setObjectName(QStringLiteral("txtCombo") + n(i));
        txtCombo[i]->setGeometry(12, y, 84, 24);
        Combo1[i] = new QComboBox(this);
        Combo1[i]->setObjectName(QStringLiteral("Combo1") + n(i));
        Combo1[i]->setGeometry(102, y, 200, 24);
        Combo1Command[i] = new QPushButton(QStringLiteral("..."), this);
        Combo1Command[i]->setObjectName(QStringLiteral("Combo1Command") + n(i));
        Combo1Command[i]->setToolTip(QStringLiteral("List values and field type"));
        Combo1Command[i]->setGeometry(306, y, 32, 24);
        Combo1Command[i]->setAutoDefault(false);
        connect(Combo1Command[i], &QPushButton::clicked, this, [this, i] { Combo1Command_Click(i); });
    }
    for (int i = 0; i < kCheckFields; ++i) {
        const int y = kTop + i * kRowHeight;
        chk[i] = sampleCheck(366, y, this);
        txtchk[i] = new ui::TextBox(this);
        txtchk[i]->setObjectName(QStringLiteral("txtchk") + n(i));
        txtchk[i]->setGeometry(390, y, 120, 24);
    }
    for (int i = 0; i < kHotFields; ++i) {
        const int y = kTop + i * kRowHeight;
        chkHotBox[i] = sampleCheck(560, y, this);
        txtHotBox[i] = new ui::TextBox(this);
        txtHotBox[i]->setObjectName(QStringLiteral("txtHotBox") + n(i));
        txtHotBox[i]->setGeometry(584, y, 120, 24);
    }
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setGeometry(576, 516, 90, 30);
    Command2->setGeometry(674, 516, 90, 30);
    Command1->setAutoDefault(false);
    Command2->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &Form5::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form5::Command2_Click);

    for (ui::TextBox* t : txtCombo) t->installEventFilter(this);
    for (ui::TextBox* t : txtchk) t->installEventFilter(this);
    for (ui::TextBox* t : txtHotBox) t->installEventFilter(this);

    Form_Load();
}

bool Form5::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

bool Form5::eventFilter(QObject* watched, QEvent* e)
{
    const bool r = QDialog::eventFilter(watched, e);
    if (e->type() == QEvent::FocusIn && qobject_cast<ui::TextBox*>(watched)) static_cast<ui::TextBox*>(watched)->selectAll();
    return r;
}

void Form5::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form5::Form_Load()
{
    CenterForm(*this);
    for (int i = 0; i < kComboFields; ++i) {
        Combo1[i]->setFocusPolicy(Qt::ClickFocus);
        chk[i]->setEnabled(false);
        chk[i]->setFocusPolicy(Qt::NoFocus);
        txtCombo[i]->SetMaxLength(kComboCaptionLength);
        txtchk[i]->SetMaxLength(kCheckCaptionLength);
    }
    for (int i = 0; i < kHotFields; ++i) {
        chkHotBox[i]->setEnabled(false);
        chkHotBox[i]->setFocusPolicy(Qt::NoFocus);
        txtHotBox[i]->SetMaxLength(kCheckCaptionLength);
    }
    // The working types start as the program's; a stored row replaces them.
    for (int i = 0; i < kComboFields; ++i) ComboTypes[i] = i < ComboFieldType.size() ? ToInteger(ComboFieldType.at(i)) : 0;
    LoadData();
}

bool Form5::LoadData()
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    auto refuse = [&] {
        Command1->setEnabled(false);
        ui::MsgBox(QStringLiteral("The custom field configuration could not be read: ") + sql.ErrorDescription(), ui::vbCritical);
        return false;
    };
    sql.SetSql(QStringLiteral("SELECT * FROM config;"));
    db::Recordset rs;
    if (!sql.GetRecordsetFO(rs)) return refuse();
    if (!rs.Eof()) {
        for (int i = 0; i < kComboFields; ++i) {
            txtCombo[i]->setText(NullToString(rs.Fields(QStringLiteral("combo") + n(i))).toString());
            txtchk[i]->setText(NullToString(rs.Fields(QStringLiteral("chk") + n(i))).toString());
            ComboTypes[i] = ToInteger(NullToZero(rs.Fields(QStringLiteral("combofieldtype") + n(i))));
        }
        for (int i = 0; i < kHotFields; ++i)
            txtHotBox[i]->setText(NullToString(rs.Fields(QStringLiteral("chkHot") + n(i))).toString());
    }
    rs.Close();
    for (int i = 0; i < kComboFields; ++i) {
        sql.SetSql(QStringLiteral("SELECT * FROM ConfigCombo WHERE FieldID = ") + n(i) + QStringLiteral(" ")
                   + QStringLiteral("ORDER BY FieldIDX;"));
        if (!sql.GetRecordsetFO(rs)) return refuse();
        Combo1[i]->clear();
        for (; !rs.Eof(); rs.MoveNext()) Combo1[i]->addItem(NullToString(rs.Fields(QStringLiteral("FieldValue"))).toString());
        rs.Close();
    }
    return true;
}

bool Form5::SaveData()
{
    db::Connection& c = DBConnection();
    SQLStatement sql;
    sql.SetConnection(&c);
    auto refuse = [](const QString& reason) {
        ui::MsgBox(QStringLiteral("The custom field configuration was not saved: ") + reason, ui::vbCritical);
        return false;
    };
    try {
        // Whole or not at all: a refused statement leaves the stored configuration as it was.
        auto tx = c.BeginTrans();
        db::Recordset rs;
        sql.SetSql(QStringLiteral("SELECT * FROM config;"));
        if (!sql.GetRecordsetFO(rs)) return refuse(sql.ErrorDescription());
        const bool exists = !rs.Eof();
        rs.Close();
        sql.SetSql(exists ? QStringLiteral("UPDATE Config SET ? ;") : QStringLiteral("INSERT INTO Config (?) VALUES (?);"));
        for (int i = 0; i < kComboFields; ++i) {
            sql.SetString(QStringLiteral("combo") + n(i), txtCombo[i]->text());
            sql.SetInteger(QStringLiteral("combofieldtype") + n(i), ComboTypes[i]);
            sql.SetString(QStringLiteral("chk") + n(i), txtchk[i]->text());
        }
        for (int i = 0; i < kHotFields; ++i) sql.SetString(QStringLiteral("chkHot") + n(i), txtHotBox[i]->text());
        sql.Execute();
        if (sql.Error()) return refuse(sql.ErrorDescription());

        for (int i = 0; i < kComboFields; ++i) {
            const int count = Combo1[i]->count();
            for (int k = 1; k <= count; ++k) {
                const QString where = QStringLiteral("FieldID = ") + n(i) + QStringLiteral(" ") + QStringLiteral("AND FieldIDX = ") + n(k);
                sql.SetSql(QStringLiteral("SELECT * FROM ConfigCombo WHERE ") + where + QStringLiteral(";"));
                if (!sql.GetRecordsetFO(rs)) return refuse(sql.ErrorDescription());
                const bool found = !rs.Eof();
                rs.Close();
                sql.SetSql(found ? QStringLiteral("UPDATE ConfigCombo SET ? WHERE ") + where + QStringLiteral(";")
                                 : QStringLiteral("INSERT INTO ConfigCombo (?) VALUES (?);"));
                sql.SetInteger(QStringLiteral("FieldID"), i);
                sql.SetInteger(QStringLiteral("FieldIDX"), k);
                sql.SetString(QStringLiteral("FieldValue"), Combo1[i]->itemText(k - 1));
                sql.Execute();
                if (sql.Error()) return refuse(sql.ErrorDescription());
            }
            sql.SetSql(QStringLiteral("DELETE FROM ConfigCombo WHERE FieldID = ") + n(i) + QStringLiteral(" ")
                       + QStringLiteral("AND FieldIDX > ") + n(count) + QStringLiteral(";"));
            sql.Execute();
            if (sql.Error()) return refuse(sql.ErrorDescription());
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        return refuse(e.message());
    }
    return true;
}

void Form5::Combo1Command_Click(int Index)
{
    if (Index < 0 || Index >= kComboFields) return;
    Form12 dlg(this);
    dlg.SetFieldID(Index);
    dlg.SetFieldType(ComboTypes[Index]);
    ui::ShowModal(&dlg);
    ComboTypes[Index] = dlg.FieldType();
}

void Form5::Command1_Click()
{
    if (!SaveData()) return;
    try {
        LoadComboFieldTypes();
    } catch (const db::DbError&) {
        // The types just stored are the ones in force.
        ComboFieldType.clear();
        for (int t : ComboTypes) ComboFieldType << t;
    }
    accept();
}

void Form5::Command2_Click() { reject(); }

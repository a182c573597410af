#include "lists/Form4.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <stdexcept>

#include "core/Conversions.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "core/ValueRules.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"

namespace {

// One contact text box: its label, the column Apply writes, the column LoadData reads, and the
// longest text a person may type (0: no limit).
struct ContactField {
    ui::TextBox* Form4::*box;
    const char* label;
    const char* written;
    const char* read;
    int maxLength;
};

// In tab order.
const ContactField kContactFields[] = {
    {&Form4::txtEmail, "Email:", "Email", "eMail", 64},
    {&Form4::txtCompany, "Company:", "Company", "Company", 45},
    {&Form4::txtFirst, "First:", "First", "First", 20},
    {&Form4::txtLast, "Last:", "Last", "Last", 20},
    {&Form4::txtMiddle, "MI:", "Middle", "Middle", 2},
    {&Form4::txtAddress1, "Address1:", "Address1", "Address1", 45},
    {&Form4::txtAddress2, "Address2:", "Address2", "Address2", 45},
    {&Form4::txtCity, "City/Town:", "city", "City", 45},
    {&Form4::txtState, "St:", "State", "State", 20},
    {&Form4::txtCountry, "Country:", "Country", "Country", 20},
    {&Form4::txtZip, "Zip:", "Zip", "Zip", 20},
    {&Form4::txtWebsite, "Website:", "Website", "Website", 45},
    {&Form4::txtPhone1, "Phone1:", "Phone1", "phone1", 20},
    {&Form4::txtPhone2, "Phone2:", "Phone2", "phone2", 20},
    {&Form4::txtFax, "Fax#:", "Fax", "fax", 0},
    {&Form4::txtCell, "Cell:", "Cell", "cell", 20},
};

const QString kNotApplicable = QStringLiteral("N/A");

QString S(const char* s) { return QString::fromLatin1(s); }

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

// The text with its leading blanks removed (trailing ones kept).
QString LTrim(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && s.at(i) == QLatin1Char(' ')) ++i;
    return s.mid(i);
}

QString text(const db::Recordset& rs, const QString& column) { return NullToString(rs.Fields(column)).toString(); }

int checkFrom(const db::Recordset& rs, const QString& column)
{
    return BoolToCheckValue(NullToZero(rs.Fields(column))).toInt();
}

// The database's reason for refusing the statement, without the statement it quotes.
QString reasonOf(const SQLStatement& sql)
{
    const QString quoted = QStringLiteral(" [") + sql.LastSQLExecuted() + QStringLiteral("]");
    const QString d = sql.ErrorDescription();
    return d.endsWith(quoted) ? d.chopped(quoted.size()) : d;
}

// A caption from the configuration: blank means the field is not in use.
bool blank(const QString& caption) { return caption.trimmed().isEmpty(); }

} // namespace

Form4::Form4(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Properties"));
    resize(644, 464);

    SSTab1 = new QTabWidget(this);
    SSTab1->setGeometry(8, 8, 628, 408);
    auto* contact = new QWidget;
    auto* custom = new QWidget;
    auto* history = new QWidget;
    SSTab1->addTab(contact, QStringLiteral("&Contact Information"));
    SSTab1->addTab(custom, QStringLiteral("Custom Fields"));
    SSTab1->addTab(history, QStringLiteral("Message History"));
    buildContactTab(contact);
    buildCustomTab(custom);
    buildHistoryTab(history);

    chkDisabled = new QCheckBox(QStringLiteral("Disabled"), this);
    chkDisabled->setGeometry(14, 426, 100, 24);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(120, 429, 196, 18);
    ProgressBar1->setVisible(false);
    CommandRefresh = new QPushButton(QStringLiteral("Refresh Message List"), this);
    CommandRefresh->setGeometry(322, 424, 140, 28);
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command1->setGeometry(468, 424, 80, 28);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setGeometry(554, 424, 80, 28);
    // Enter in a text or combo box does not apply the dialog behind the person's back.
    for (QPushButton* b : {CommandRefresh, Command1, Command2}) b->setAutoDefault(false);

    // Tab order: the contact boxes as the form lists them, then the rest in reading order.
    QList<QWidget*> order;
    for (ui::TextBox* box : textBoxes()) order << box;
    for (int i = 0; i < 6; ++i) order << chkHot[size_t(i)];
    for (int i = 0; i < 15; ++i) order << Combo1[size_t(i)];
    for (int i = 0; i < 15; ++i) order << chk[size_t(i)];
    order << List1 << TDBGrid1 << TDBGrid2 << chkDisabled << CommandRefresh << Command1 << Command2;
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order.at(i - 1), order.at(i));

    connect(SSTab1, &QTabWidget::currentChanged, this, [this](int current) {
        const int previous = shownTab_;
        shownTab_ = current;
        SSTab1_Click(previous);
    });
    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
    connect(CommandRefresh, &QPushButton::clicked, this, &Form4::CommandRefresh_Click);
    connect(TDBGrid1, &ui::DataGrid::DblClick, this, &Form4::TDBGrid1_DblClick);
    connect(TDBGrid2, &ui::DataGrid::DblClick, this, &Form4::TDBGrid2_DblClick);

    Form_Load();
    txtEmail->setFocus();
}

Form4::~Form4() = default;

void Form4::buildContactTab(QWidget* page)
{
    plainLabel(QStringLiteral("Contact Information:"), page)->setGeometry(10, 8, 200, 18);
    lblStatusMessage = plainLabel(QStringLiteral("*Address Not Yet Saved"), page);
    lblStatusMessage->setGeometry(220, 8, 300, 18);
    lblStatusMessage->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    lblStatusMessage->setVisible(false);

    // Two columns: the name and postal address on the left, the web and phones on the right.
    const int widths[] = {250, 250, 150, 150, 40, 250, 250, 200, 60, 150, 100, 190, 190, 190, 190, 190};
    for (size_t k = 0; k < std::size(kContactFields); ++k) {
        const ContactField& f = kContactFields[k];
        const bool left = k < 11;
        const int row = left ? int(k) : int(k) - 11;
        const int y = 32 + row * 28;
        auto* label = plainLabel(S(f.label), page);
        label->setGeometry(left ? 10 : 344, y + 3, left ? 70 : 60, 18);
        auto* box = new ui::TextBox(page);
        box->SetMaxLength(f.maxLength);
        box->setGeometry(left ? 84 : 408, y, widths[k], 24);
        box->installEventFilter(this);
        this->*(f.box) = box;
    }
    for (int i = 0; i < 6; ++i) {
        const int y = 180 + i * 26;
        chkHot[size_t(i)] = new QCheckBox(page);
        chkHot[size_t(i)]->setGeometry(346, y, 22, 22);
        lblHot[size_t(i)] = plainLabel(kNotApplicable, page);
        lblHot[size_t(i)]->setGeometry(370, y + 2, 230, 18);
    }
}

void Form4::buildCustomTab(QWidget* page)
{
    plainLabel(QStringLiteral("Custom Field Values:"), page)->setGeometry(10, 8, 200, 18);
    for (int i = 0; i < 15; ++i) {
        const bool left = i < 8;
        const int y = 32 + (left ? i : i - 8) * 27;
        const int x = left ? 10 : 310;
        lbl[size_t(i)] = plainLabel(kNotApplicable, page);
        lbl[size_t(i)]->setGeometry(x, y + 3, 110, 18);
        auto* combo = new QComboBox(page);
        combo->setEditable(true);
        // Typing a value never adds it to the field's list: the list is the configuration's.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setGeometry(x + 114, y, 176, 24);
        Combo1[size_t(i)] = combo;
    }
    for (int i = 0; i < 15; ++i) {
        auto* box = new QCheckBox(kNotApplicable, page);
        box->setGeometry(10 + (i / 5) * 200, 256 + (i % 5) * 22, 194, 22);
        chk[size_t(i)] = box;
    }
}

void Form4::buildHistoryTab(QWidget* page)
{
    plainLabel(QStringLiteral("List Membership:"), page)->setGeometry(10, 8, 180, 18);
    List1 = new QListWidget(page);
    List1->setGeometry(10, 28, 180, 336);
    plainLabel(QStringLiteral("Received Messages:"), page)->setGeometry(200, 8, 200, 18);
    TDBGrid1 = new ui::DataGrid(page);
    TDBGrid1->setGeometry(200, 28, 410, 152);
    plainLabel(QStringLiteral("Sent Messages:"), page)->setGeometry(200, 188, 200, 18);
    TDBGrid2 = new ui::DataGrid(page);
    TDBGrid2->setGeometry(200, 208, 410, 156);
    const char* dateCaptions[] = {"Received", "Sent"};
    ui::DataGrid* grids[] = {TDBGrid1, TDBGrid2};
    for (int g = 0; g < 2; ++g) {
        ui::DataGrid* grid = grids[g];
        grid->SetAllowUpdate(false);
        grid->SetMultiSelect(ui::DataGrid::dbgMultiSelectNone);
        grid->Columns().Add(QStringLiteral("Subject")).SetWidth(3600);
        grid->Columns().Add(S(dateCaptions[g])).SetWidth(2300);
        grid->Columns().Add(QStringLiteral("EntryID")).SetVisible(false);
        for (int c = 0; c < 3; ++c) grid->Columns(c).SetLocked(true);
    }
}

std::array<ui::TextBox*, 16> Form4::textBoxes() const
{
    std::array<ui::TextBox*, 16> out{};
    for (size_t k = 0; k < out.size(); ++k) out[k] = this->*(kContactFields[k].box);
    return out;
}

int Form4::CheckValue(const QCheckBox* box)
{
    switch (box->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

void Form4::SetCheckValue(QCheckBox* box, int value)
{
    if (value == 2) box->setTristate(true);
    box->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

bool Form4::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

bool Form4::eventFilter(QObject* watched, QEvent* e)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) return QDialog::eventFilter(watched, e);
    switch (e->type()) {
    case QEvent::FocusIn:
        TextBox_GotFocus(box);
        // A click places the caret after the focus arrives: select again once it is done.
        clickedBox_ = static_cast<QFocusEvent*>(e)->reason() == Qt::MouseFocusReason ? box : nullptr;
        break;
    case QEvent::MouseButtonRelease:
        if (clickedBox_ == box) {
            clickedBox_ = nullptr;
            // The box finishes the click first; one who dragged over part of the text keeps it.
            box->event(e);
            if (!box->hasSelectedText()) box->selectAll();
            return true;
        }
        break;
    case QEvent::FocusOut:
        clickedBox_ = nullptr;
        if (box == txtMiddle) txtMiddle_LostFocus();
        else if (box == txtState) txtState_LostFocus();
        else if (box == txtCountry) txtCountry_LostFocus();
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, e);
}

void Form4::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form4::Form_Load()
{
    CenterForm(*this);
    RecID = 0;
    SSTab1->setCurrentIndex(0);
    SSTab1_Click(0);
    ReceivedMessageArray = std::make_shared<ui::XArrayDB>();
    ReceivedMessageArray->ReDim(1, 0, 0, 2);
    SentMessageArray = std::make_shared<ui::XArrayDB>();
    SentMessageArray->ReDim(1, 0, 0, 2);
    TDBGrid1->SetArray(ReceivedMessageArray);
    TDBGrid2->SetArray(SentMessageArray);
    LoadCustomFieldData();
}

void Form4::LoadCustomFieldData()
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("SELECT * FROM config;"));
    db::Recordset rs;
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    // Without a configuration every custom field stays "N/A", usable, with no value list.
    if (rs.Eof()) return;
    for (int i = 0; i < 15; ++i) {
        const size_t k = size_t(i);
        Combo1[k]->setEditText(QString());
        QString caption = text(rs, QStringLiteral("combo") + QString::number(i));
        const bool comboUnused = blank(caption);
        lbl[k]->setText(comboUnused ? kNotApplicable : caption);
        lbl[k]->setEnabled(!comboUnused);
        Combo1[k]->setEnabled(!comboUnused);
        caption = text(rs, QStringLiteral("chk") + QString::number(i));
        const bool checkUnused = blank(caption);
        chk[k]->setText(checkUnused ? kNotApplicable : MenuCaption(caption));
        chk[k]->setEnabled(!checkUnused);
    }
    for (int i = 0; i < 6; ++i) {
        const size_t k = size_t(i);
        const QString caption = text(rs, QStringLiteral("chkHot") + QString::number(i));
        const bool unused = blank(caption);
        lblHot[k]->setText(unused ? kNotApplicable : caption);
        lblHot[k]->setEnabled(!unused);
        chkHot[k]->setEnabled(!unused);
    }
    rs.Close();

    // Every combo box's list, used or not: an empty entry, then its values in FieldIDX order.
    std::array<QStringList, 15> lists;
    for (QStringList& l : lists) l << QString();
    sql.SetSql(QStringLiteral("SELECT FieldID, FieldValue FROM ConfigCombo WHERE FieldID BETWEEN 0 AND 14 ORDER BY FieldID, FieldIDX;"));
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    for (; !rs.Eof(); rs.MoveNext()) {
        const qint64 id = NullToZero(rs.Fields(0)).toLongLong();
        if (id >= 0 && id < 15) lists[size_t(id)] << NullToString(rs.Fields(1)).toString();
    }
    for (size_t k = 0; k < lists.size(); ++k) {
        Combo1[k]->clear();
        Combo1[k]->addItems(lists[k]);
        Combo1[k]->setEditText(QString());
    }
}

void Form4::LoadData()
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    const bool byAddress = VariantEqualsNumber(Mode, 1);
    db::Recordset rs;
    // An empty address names no row, even when a damaged row has no address either.
    const bool lookUp = !byAddress || !eMailPrime.trimmed().isEmpty();
    if (lookUp) {
        if (byAddress)
            sql.SetSql(QStringLiteral("SELECT * FROM MasterList WHERE Email = '") + EscapeSQL(eMailPrime) + QStringLiteral("';"));
        else
            sql.SetSql(QStringLiteral("SELECT * FROM MasterList WHERE RecID = ") + QString::number(RecID) + QStringLiteral(";"));
        if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    }

    goneRecID_ = 0;
    if (!lookUp || rs.Eof()) {
        txtEmail->setText(eMailPrime);
        lblStatusMessage->setVisible(true);
        // A record id whose row is gone is a new address now: Apply adds it.
        if (!byAddress && RecID != 0) goneRecID_ = RecID;
        RecID = 0;
    } else {
        const QString sortName = text(rs, QStringLiteral("SortName"));
        setWindowTitle(QStringLiteral("Properties: ") + (blank(sortName) ? text(rs, QStringLiteral("eMail")) : sortName));
        RecID = long(NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong());
        for (const ContactField& f : kContactFields) (this->*(f.box))->setText(text(rs, S(f.read)));
        for (int i = 0; i < 6; ++i)
            SetCheckValue(chkHot[size_t(i)], checkFrom(rs, QStringLiteral("chkHot") + QString::number(i)));
        SetCheckValue(chkDisabled, checkFrom(rs, QStringLiteral("Disabled")));
        for (int i = 0; i < 15; ++i) {
            Combo1[size_t(i)]->setEditText(text(rs, QStringLiteral("combo") + QString::number(i)));
            SetCheckValue(chk[size_t(i)], checkFrom(rs, QStringLiteral("Chk") + QString::number(i)));
        }
        lblStatusMessage->setVisible(false);
    }
    rs.Close();

    List1->clear();
    if (RecID == 0) return;
    sql.SetSql(QStringLiteral("SELECT MailFolders.FolderName FROM MailFolders INNER JOIN ListMembers ON MailFolders.RecID = "
                              "ListMembers.FolderRecID WHERE ListMembers.MasterRecID = ")
               + QString::number(RecID) + QStringLiteral(" ORDER BY FolderName;"));
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    for (; !rs.Eof(); rs.MoveNext()) List1->addItem(NullToString(rs.Fields(0)).toString());
    rs.Close();
}

void Form4::refused(const QString& prompt)
{
    ui::SetMousePointer(ui::vbArrow);
    ui::MsgBox(prompt, ui::vbCritical);
}

void Form4::Command1_Click()
{
    // Blanks at the ends are never part of an address: kept, they would defeat every look-up.
    const QString address = txtEmail->text().trimmed();
    if (address.isEmpty()) return refused(QStringLiteral("Error In Email Address.  No Email Address Specified"));
    if (!AddressImport::LooksLikeAddress(address))
        return refused(QStringLiteral("Error In Email Address.  This is not an email address: ") +
                       mail::send::ShowHiddenCharacters(address));

    ui::SetMousePointer(ui::vbHourglass);
    const QString sortName = SortNameOf(txtFirst->text(), txtLast->text(), txtMiddle->text(), txtCompany->text());
    db::Connection& c = DBConnection();
    try {
        auto tx = c.BeginTrans();
        SQLStatement sql;
        sql.SetConnection(&c);
        // One row per address: a second one would receive every bulk mail twice.
        sql.SetSql(QStringLiteral("SELECT Email FROM MasterList WHERE Email = '") + EscapeSQL(address)
                   + QStringLiteral("' AND RecID <> ") + QString::number(RecID) + QStringLiteral(";"));
        db::Recordset rs;
        if (!sql.GetRecordsetFO(rs)) return refused(QStringLiteral("Error Saving Address.  ") + reasonOf(sql));
        if (!rs.Eof())
            return refused(QStringLiteral("Error In Email Address.  The Master List already holds ")
                           + NullToString(rs.Fields(0)).toString() + QStringLiteral("."));
        rs.Close();

        if (RecID != 0)
            sql.SetSql(QStringLiteral("UPDATE MasterList Set ? WHERE RecID =  ") + QString::number(RecID));
        else
            sql.SetSql(QStringLiteral("INSERT INTO MasterList (?) VALUES (?);"));
        for (const ContactField& f : kContactFields)
            sql.SetString(S(f.written), f.box == &Form4::txtEmail ? address : (this->*(f.box))->text());
        for (int i = 0; i < 6; ++i)
            sql.SetInteger(QStringLiteral("chkHot") + QString::number(i), CheckValueToBool(CheckValue(chkHot[size_t(i)])).toInt());
        sql.SetInteger(QStringLiteral("Disabled"), CheckValueToBool(CheckValue(chkDisabled)).toInt());
        for (int i = 0; i < 15; ++i) {
            sql.SetInteger(QStringLiteral("chk") + QString::number(i), CheckValueToBool(CheckValue(chk[size_t(i)])).toInt());
            sql.SetString(QStringLiteral("combo") + QString::number(i), StoredComboFieldValue(i, LTrim(Combo1[size_t(i)]->currentText())));
        }
        sql.SetString(QStringLiteral("SortName"), sortName);
        sql.Execute();
        if (sql.Error()) return refused(QStringLiteral("Error Saving Address.  ") + reasonOf(sql));
        tx.Commit();
    } catch (const db::DbError& e) {
        return refused(QStringLiteral("Error Saving Address.  ") + e.message());
    }

    Form1* f = Form1::Instance();
    if (f && VariantEqualsNumber(DisplayMode, 1)) {
        if (goneRecID_ != 0) {
            // The grid's row named an address that had gone: read the list again.
            if (ui::TreeNode* node = f->TreeView1->Nodes(f->AddressListFolderKey())) f->LoadEmailAddresses(node);
        } else if (RecID != 0) {
            ui::XArrayDB& ex = *f->ex;
            for (int row = ex.LowerBound(1); row <= ex.UpperBound(1); ++row) {
                if (Val(ex.Value(row, 4)) != double(RecID)) continue;
                ex.SetValue(row, 1, address);
                ex.SetValue(row, 2, sortName);
                ex.SetValue(row, 3, Form1::AddressPlaceLine(txtCity->text(), txtState->text(), txtCountry->text(), txtZip->text()));
                f->TDBGrid2->RefetchRow(row);
                break;
            }
        }
    }
    ui::SetMousePointer(ui::vbArrow);
    accept();
}

void Form4::Command2_Click() { reject(); }

void Form4::SSTab1_Click(int /*PreviousTab*/) { CommandRefresh->setVisible(SSTab1->currentIndex() == 2); }

void Form4::TextBox_GotFocus(QLineEdit* /*box*/) { SelectAllText(); }

namespace {
void upperCase(QLineEdit* box)
{
    const QString upper = box->text().toUpper();
    if (upper != box->text()) box->setText(upper);
}
} // namespace

void Form4::txtMiddle_LostFocus() { upperCase(txtMiddle); }
void Form4::txtState_LostFocus() { upperCase(txtState); }
void Form4::txtCountry_LostFocus() { upperCase(txtCountry); }

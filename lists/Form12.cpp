#include "lists/Form12.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "core/FormUtilities.h"
#include "core/ValueRules.h"
#include "lists/Form5.h"
#include "platform/ui/TextBox.h"
#include "platform/ui/UiServices.h"

Form12::Form12(Form5* opener) : QDialog(opener), m_opener(opener)
{
    setWindowTitle(QStringLiteral("ListValues"));
    resize(380, 430);
    TDBGrid1 = new ui::DataGrid(this);
    TDBGrid1->setObjectName(QStringLiteral("TDBGrid1"));
    TDBGrid1->Columns().Add(QStringLiteral("List Values"));
    TDBGrid1->SetAllowUpdate(true);  // the values are typed into the grid
    Label1 = new QLabel(QStringLiteral("Specify Field Type:"), this);
    Label1->setGeometry(12, 318, 200, 20);
    Option1 = new QRadioButton(QStringLiteral("Text"), this);
    Option2 = new QRadioButton(QStringLiteral("Numeric"), this);
    Option3 = new QRadioButton(QStringLiteral("Date/Time"), this);
    Option1->setGeometry(12, 342, 80, 22);
    Option2->setGeometry(100, 342, 100, 22);
    Option3->setGeometry(208, 342, 120, 22);
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setGeometry(180, 388, 90, 28);
    Command2->setGeometry(278, 388, 90, 28);
    // Enter in the grid ends a cell edit, not the dialog.
    Command1->setAutoDefault(false);
    Command2->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &Form12::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form12::Command2_Click);

    ValueArray = std::make_shared<ui::XArrayDB>();
    ValueArray->ReDim(1, kEmptyRows, 0, 0);
    TDBGrid1->SetArray(ValueArray);
    Form_Load();
}

Form12::~Form12() = default;

bool Form12::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form12::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form12::Form_Load()
{
    CenterForm(*this);
    TDBGrid1->setGeometry(0, 0, width(), 306);
    TDBGrid1->Columns(0).SetWidthPixels(valueColumnFill());
    TDBGrid1->Columns(0).SetDataWidth(kValueLength);
    TDBGrid1->ReBind();
    // A value shows whole: the column widens for it, and the window for the column.
    connect(TDBGrid1->model(), &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from) {
        TDBGrid1->FitColumn(0, {from.data().toString()});
    });
}

// The value column fills the grid beside its scroll bar.
int Form12::valueColumnFill() const
{
    return TDBGrid1->width() - TDBGrid1->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 2 * TDBGrid1->frameWidth();
}

// The grid takes the window's width, its column at least filling it; the buttons keep to the
// right edge.
void Form12::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    const int grown = width() - TDBGrid1->width();
    TDBGrid1->resize(width(), TDBGrid1->height());
    if (TDBGrid1->Columns(0).WidthPixels() < valueColumnFill()) TDBGrid1->Columns(0).SetWidthPixels(valueColumnFill());
    for (QPushButton* b : {Command1, Command2}) b->move(b->x() + grown, b->y());
}

void Form12::SetFieldID(int index)
{
    m_fieldID = index;
    const bool known = index >= 0 && index < int(m_opener->Combo1.size());
    setWindowTitle(QStringLiteral("Field: ") + (known ? m_opener->txtCombo[index]->text() : QString()));
    QComboBox* list = known ? m_opener->Combo1[index] : nullptr;
    const int n = list ? list->count() : 0;
    ValueArray->ReDim(1, n + kEmptyRows, 0, 0);
    QStringList values;
    for (int k = 0; k < n; ++k) values << list->itemText(k);
    for (int k = 0; k < n; ++k) ValueArray->SetValue(k + 1, 0, values.at(k));
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(ValueArray);
    TDBGrid1->ReBind();
    TDBGrid1->FitColumn(0, values);
}

void Form12::SetFieldType(int type)
{
    m_fieldType = type;
    switch (type) {
    case 1: Option2->setChecked(true); break;
    case 2: Option3->setChecked(true); break;
    default: Option1->setChecked(true); break;
    }
}

void Form12::Command1_Click()
{
    TDBGrid1->Update();
    m_fieldType = Option2->isChecked() ? 1 : Option3->isChecked() ? 2 : 0;
    if (m_fieldID >= 0 && m_fieldID < int(m_opener->Combo1.size())) {
        QComboBox* list = m_opener->Combo1[m_fieldID];
        list->clear();
        for (int r = ValueArray->LowerBound(1); r <= ValueArray->UpperBound(1); ++r) {
            const QString value = ValueArray->Value(r, 0).toString();
            // Stored as the field's type keeps it, so list rules compare dates and numbers soundly.
            if (!value.trimmed().isEmpty()) list->addItem(StoredComboValue(m_fieldType, value));
        }
    }
    accept();
}

void Form12::Command2_Click() { reject(); }

#include "profiles/Form8.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/FormUtilities.h"
#include "platform/ui/UiServices.h"
#include "profiles/Form9.h"

Form8::Form8(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("Add/Modify Profile"));
    Label1 = new QLabel(QStringLiteral("Current Profiles:"), this);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    Label1->setBuddy(List1);
    CommandAddNew = new QPushButton(QStringLiteral("Add New"), this);
    Command1 = new QPushButton(QStringLiteral("Modify"), this);
    Command2 = new QPushButton(QStringLiteral("Exit"), this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(List1, 1, 0);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {CommandAddNew, Command1, Command2}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    resize(380, 260);

    connect(CommandAddNew, &QPushButton::clicked, this, &Form8::CommandAddNew_Click);
    connect(Command1, &QPushButton::clicked, this, &Form8::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form8::Command2_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });
    Form_Load();
}

Form8::~Form8() = default;

bool Form8::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form8::Form_Load()
{
    CenterForm(*this);
    LoadProfiles();
    // Focus in the list would mark its first item as current, which looks chosen but is not.
    CommandAddNew->setFocus();
}

void Form8::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form8::LoadProfiles() { FillProfileList(*List1); }

void Form8::edit(qint64 recId)
{
    ui::SetMousePointer(ui::vbHourglass);
    Form9 editor(this);
    editor.Mode = 0;
    editor.Opener = this;
    if (recId > 0) editor.LoadProfile(recId);
    else editor.LoadProfile();
    ui::ShowModal(&editor);
    ui::SetMousePointer(ui::vbArrow);
}

void Form8::CommandAddNew_Click() { edit(0); }

void Form8::Command1_Click()
{
    const qint64 id = SelectedProfile(*List1);
    if (id != 0) edit(id);
}

void Form8::List1_DblClick() { Command1_Click(); }

void Form8::Command2_Click() { reject(); }

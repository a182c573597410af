#include "lists/Form7.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/UiServices.h"

Form7::Form7(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Rename "));
    resize(320, 110);
    auto* l = new QLabel(QStringLiteral("Rename Folder To:"), this);
    l->setGeometry(10, 8, 300, 18);
    Text1 = new ui::TextBox(this);
    Text1->SetMaxLength(64);
    Text1->setGeometry(10, 28, 300, 24);
    Command1 = new QPushButton(QStringLiteral("Apply"), this);
    Command1->setGeometry(130, 70, 86, 28);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setGeometry(224, 70, 86, 28);
    Text1->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &Form7::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form7::Command2_Click);
    CenterForm(*this);
}

bool Form7::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

bool Form7::eventFilter(QObject* watched, QEvent* e)
{
    const bool r = QDialog::eventFilter(watched, e);
    if (watched == Text1 && e->type() == QEvent::FocusIn) Text1->selectAll();
    return r;
}

void Form7::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form7::Command1_Click()
{
    const QString name = Text1->text();
    if (name.trimmed().isEmpty()) {
        ui::MsgBox(QStringLiteral("Cannot Rename Folder.  No Folder Name Specified."), ui::vbCritical);
        return;
    }
    if (HasControlCharacters(name)) {
        ui::MsgBox(QStringLiteral("Cannot Rename Folder.  A folder name cannot hold control characters."), ui::vbCritical);
        return;
    }
    Form1* f = Form1::Instance();
    ui::TreeNode* node = f ? f->TreeView1->Nodes(CurrentFolderNode) : nullptr;
    if (!node) {
        reject();
        return;
    }
    // The store first: the tree shows the new name only once it is kept.
    if (IsDravonelFolderNode(node)) {
        SQLStatement sql;
        sql.SetConnection(&DBConnection());
        sql.SetSql(QStringLiteral("UPDATE MailFolders SET ? WHERE RecID = ") + QString::number(FolderRecIDFromKey(node->Key()))
                   + QStringLiteral(";"));
        sql.SetString(QStringLiteral("FolderName"), name);
        sql.Execute();
        if (sql.Error()) {
            // What the database said stays out: its text quotes the statement.
            ui::MsgBox(QStringLiteral("Cannot Rename Folder.  The database could not store the new name; the folder keeps its name."),
                       ui::vbCritical);
            return;
        }
    } else {
        try {
            MAPINameSpace->GetFolderFromID(node->Key())->SetName(name);
        } catch (const mail::MailError& e) {
            ui::MsgBox(QStringLiteral("Cannot Rename Folder.  ") + e.message(), ui::vbCritical);
            return;
        }
    }
    node->SetText(name);
    accept();
}

void Form7::Command2_Click() { reject(); }

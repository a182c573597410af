#include "mainwindow/Form16.h"

#include <QLabel>
#include <QPushButton>

#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/OLAPP.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/UiServices.h"

Form16::Form16(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form16"));
    setWindowTitle(QStringLiteral("Check Mail"));
    setModal(true);
    Label1 = new QLabel(this);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Command1 = new QPushButton(QStringLiteral("&Continue"), this);
    Command2 = new QPushButton(QStringLiteral("E&xit"), this);
    resize(400, 170);
    Label1->setGeometry(12, 12, 376, 100);
    Command1->setGeometry(210, 126, 84, 28);
    Command2->setGeometry(304, 126, 84, 28);
    connect(Command1, &QPushButton::clicked, this, &Form16::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form16::Command2_Click);
    connect(this, &QDialog::finished, this, &Form16::Form_Unload);
    Form_Load();
}

Form16::~Form16() { Form_Unload(); }

void Form16::Form_Load()
{
    CenterForm(*this);
    Label1->setText(QStringLiteral("Warning: This process will check only the accounts specified as ") +
                    QStringLiteral("Include on Send and Receive in the Accounts Setup screen. ") + QStringLiteral("\r\n\r\n") +
                    QStringLiteral("Click Continue to check your mail."));
}

void Form16::Command1_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        inbox_ = MAPINameSpace->GetDefaultFolder(mail::olFolderInbox);
        OLAPPObject->CurrentFolder = inbox_;
        OLAPPObject->CheckMessages();
    } catch (const std::exception& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Mail could not be checked.  ") + QString::fromStdString(e.what()), ui::vbCritical);
        return;
    }
    ui::SetMousePointer(ui::vbArrow);
}

void Form16::Command2_Click()
{
    try {
        if (OLAPPObject) OLAPPObject->CloseCheckMessagesExplorer();
        Form1* f = Form1::Instance();
        const QString inboxId = MAPINameSpace->GetDefaultFolder(mail::olFolderInbox)->EntryID();
        if (f && CurrentFolderNode.compare(inboxId, Qt::CaseInsensitive) == 0) {
            ui::SetMousePointer(ui::vbHourglass);
            f->LoadMessages(f->TreeView1->Nodes(CurrentFolderNode), true);
            if (f->xa->UpperBound(1) >= 1)
                f->LoadMessageFromBookmark(f->TDBGrid1->Bookmark());
            else
                f->ClearMessagePane();
            ui::SetMousePointer(ui::vbArrow);
        }
    } catch (const std::exception&) {
        ui::SetMousePointer(ui::vbArrow);
    }
    done(QDialog::Accepted);
}

void Form16::Form_Unload() { inbox_.reset(); }

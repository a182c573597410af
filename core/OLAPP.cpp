#include "core/OLAPP.h"

#include <exception>

#include "platform/mail/Application.h"
#include "platform/mail/Explorer.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"

OLAPP::OLAPP()
{
    ol = std::make_shared<mail::Application>();
    ui::DoEvents();
}

OLAPP::~OLAPP()
{
    if (ins) disconnect(ins.get(), nullptr, this, nullptr);
    ins.reset();
    CheckMessagesExplorer.reset();
    try {
        if (ol) ol->Quit();
    } catch (const std::exception&) {
        // Quitting is the last step; there is nobody left to tell.
    }
    ol.reset();
}

void OLAPP::ShowMessage(const mail::MailItemPtr& mi)
{
    mail::InspectorPtr next = mi->GetInspector();
    if (ins) disconnect(ins.get(), nullptr, this, nullptr);
    ins = next;
    connect(ins.get(), &mail::Inspector::Deactivate, this, &OLAPP::ins_Deactivate);
    ins->Display();
}

void OLAPP::ShowReplyMessage(const mail::MailItemPtr& mi) { mi->Reply()->Display(); }

void OLAPP::ins_Deactivate()
{
    // Only the read-only message window raises Deactivate: a window holding the user's own
    // text is never closed without the user's say.
    try {
        if (ins) ins->Close(1);
    } catch (const std::exception&) {
        // A window the user already closed.
    }
}

void OLAPP::CheckMessages()
{
    if (!CurrentFolder)
        throw mail::MailError(QStringLiteral("There is no folder to check mail for."));
    CheckMessagesExplorer = CurrentFolder->GetExplorer();
    // The host's send/receive: the Outbox goes out, then the accounts that take part receive.
    CheckMessagesExplorer->SendAndReceive();
}

void OLAPP::CloseCheckMessagesExplorer()
{
    try {
        if (CheckMessagesExplorer) CheckMessagesExplorer->Close();
    } catch (const std::exception&) {
        // An explorer already gone.
    }
    CheckMessagesExplorer.reset();
}

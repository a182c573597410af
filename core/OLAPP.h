#pragma once
// The program's hold on the mail host: creating it starts the host, releasing it quits it. It
// shows a message in the host's window (closing that window when it loses activation), shows a
// reply, and runs the host's send/receive for a folder.
#include <QObject>

#include "platform/mail/MailTypes.h"

class OLAPP : public QObject {
    Q_OBJECT
public:
    // Throws when the mail host cannot start (its stores cannot be opened or created).
    OLAPP();
    ~OLAPP() override;

    mail::FolderPtr CurrentFolder;
    mail::ExplorerPtr CheckMessagesExplorer;
    mail::InspectorPtr ins;
    mail::ApplicationPtr ol;

    // Opens the message in its own window; only that window closes itself on deactivation.
    void ShowMessage(const mail::MailItemPtr& mi);
    // Opens a reply to the message; its window stays open.
    void ShowReplyMessage(const mail::MailItemPtr& mi);
    // Runs send/receive through an explorer of CurrentFolder. Throws when there is no folder.
    void CheckMessages();
    // Never throws.
    void CloseCheckMessagesExplorer();

public Q_SLOTS:
    void ins_Deactivate();
};

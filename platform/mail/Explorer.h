#pragma once
// A folder's explorer: never shown, it carries the send/receive command the program runs to
// check mail.
#include <QObject>
#include <QStringList>

#include "platform/mail/MailTypes.h"

namespace mail {

namespace detail {
class Session;
}

class Explorer : public QObject {
    Q_OBJECT
public:
    Explorer(std::shared_ptr<detail::Session> session, FolderPtr folder);
    ~Explorer() override;

    FolderPtr CurrentFolder() const { return folder_; }
    // Send/receive: delivers what waits in the Outbox, then runs the receive command of each
    // account that takes part. Returns at once; what failed is told in a message box when the
    // run ends, and by SendAndReceiveFinished. MailError once the explorer is closed.
    void SendAndReceive();
    // Stops reporting to this explorer; a run in progress carries on.
    void Close();
    bool IsClosed() const { return closed_; }

Q_SIGNALS:
    void SendAndReceiveFinished(const QStringList& failures);

private:
    std::shared_ptr<detail::Session> session_;
    FolderPtr folder_;
    bool closed_ = false;
    QMetaObject::Connection connection_;
};

} // namespace mail

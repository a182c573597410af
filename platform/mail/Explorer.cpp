#include "platform/mail/Explorer.h"

#include "platform/mail/MailStore.h"
#include "platform/mail/send/Spooler.h"

namespace mail {

Explorer::Explorer(std::shared_ptr<detail::Session> session, FolderPtr folder)
    : session_(std::move(session)), folder_(std::move(folder))
{
}

Explorer::~Explorer() = default;

void Explorer::SendAndReceive()
{
    if (closed_)
        throw MailError(QStringLiteral("The folder's window is closed."));
    send::Spooler* spooler = session_->spooler();
    if (!spooler)
        throw MailError(QStringLiteral("The mail program has quit."));
    if (!connection_)
        connection_ = connect(spooler, &send::Spooler::sendReceiveFinished, this, &Explorer::SendAndReceiveFinished);
    spooler->sendReceive();
}

void Explorer::Close()
{
    if (closed_)
        return;
    closed_ = true;
    disconnect(connection_);
}

} // namespace mail

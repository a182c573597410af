#include "platform/mail/Application.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

#include "platform/mail/ContactItem.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MailStore.h"
#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Spooler.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"

namespace mail {

NameSpace::NameSpace(std::shared_ptr<detail::Session> session) : session_(std::move(session)) {}

FolderPtr NameSpace::GetDefaultFolder(int folderType)
{
    return std::make_shared<MAPIFolder>(session_, session_->defaultFolder(folderType));
}

FolderPtr NameSpace::GetFolderFromID(const QString& entryId)
{
    return std::make_shared<MAPIFolder>(session_, session_->byId(entryId));
}

ItemPtr NameSpace::GetItemFromID(const QString& entryId)
{
    const QString id = entryId.trimmed().toUpper();
    const QString rest = id.mid(detail::kFolderIdLength);
    const QByteArray hex = rest.toLatin1();
    bool hexOnly = !hex.isEmpty() && hex.size() % 2 == 0;
    for (const char c : hex)
        hexOnly = hexOnly && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (id.size() <= detail::kFolderIdLength || !hexOnly)
        throw MailError(QStringLiteral("The item could not be found."));
    detail::NodePtr node;
    try {
        node = session_->byId(id.left(detail::kFolderIdLength));
    } catch (const MailError&) {
        throw MailError(QStringLiteral("The item could not be found."));
    }
    const QString unique = QString::fromUtf8(QByteArray::fromHex(hex));
    ItemPtr item;
    if (node->kind == detail::Kind::Contacts)
        item = ContactItem::find(session_, node, unique);
    else if (const QString rel = session_->findFile(node, unique); !rel.isEmpty())
        item = MailItem::fromFile(session_, node, rel);
    if (!item)
        throw MailError(QStringLiteral("The item could not be found."));
    return item;
}

FoldersPtr NameSpace::Folders()
{
    auto f = std::make_shared<mail::Folders>();
    f->session_ = session_;
    for (const detail::NodePtr& s : session_->stores())
        f->list_.append(std::make_shared<MAPIFolder>(session_, s));
    return f;
}

RecipientPtr NameSpace::CurrentUser()
{
    if (Hooks().currentUser) {
        const auto [name, address] = Hooks().currentUser();
        if (!name.isEmpty() || !address.isEmpty())
            return std::make_shared<Recipient>(name, address, olOriginator);
    }
    // The login user's full name: the first field of the password entry's comment.
    QString name;
    if (const passwd* pw = ::getpwuid(::getuid())) {
        name = QString::fromLocal8Bit(pw->pw_gecos ? pw->pw_gecos : "").section(QLatin1Char(','), 0, 0).trimmed();
        if (name.isEmpty())
            name = QString::fromLocal8Bit(pw->pw_name);
    }
    return std::make_shared<Recipient>(name, QString(), olOriginator);
}

Application::Application()
    : session_(std::make_shared<detail::Session>(ui::DataFolder())), ns_(std::make_shared<NameSpace>(session_))
{
    mime::ensureInit();
    InstallWindowHooks();
    Hooks().currentUser = [] {
        const std::optional<send::Account> a = send::DefaultAccount(send::LoadAccounts());
        return a ? std::pair<QString, QString>(a->displayName, a->address) : std::pair<QString, QString>();
    };
    // An account saved again (a password mended, say): what waits is tried at once.
    Hooks().accountsSaved = [weak = std::weak_ptr<detail::Session>(session_)] {
        if (const std::shared_ptr<detail::Session> session = weak.lock())
            if (send::Spooler* s = session->spooler())
                s->deliver(true);
    };
}

Application::~Application() { session_->quit(); }

NameSpacePtr Application::GetNamespace(const QString& type)
{
    if (type.compare(QLatin1String("MAPI"), Qt::CaseInsensitive) != 0)
        throw MailError(QStringLiteral("Unknown namespace \"%1\".").arg(type));
    return ns_;
}

MailItemPtr Application::CreateItem(int itemType)
{
    if (itemType != olMailItem)
        throw MailError(QStringLiteral("Items of type %1 cannot be created.").arg(itemType));
    return MailItem::create(session_);
}

void Application::Quit() { session_->quit(); }

namespace {
// Runs the event loop (painting, timers; user input waits) until the spooler has no run going,
// or until timeoutMs has passed (negative: no limit). True when it has none.
bool RunUntilIdle(send::Spooler& s, int timeoutMs)
{
    QTimer wake;    // the wait below looks again at least this often
    wake.start(20);
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs));
    while (!s.waitUntilIdle(0) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    return s.waitUntilIdle(0);
}
} // namespace

bool Application::MayQuit(const std::function<void(const QString&)>& waiting)
{
    send::Spooler* s = session_->spooler();
    if (!s)
        return true;
    // No transfer starts from here on, so the question covers all that may be under way. A run
    // with no transfer in hand ends at once.
    const bool wasPaused = s->isPaused();
    s->setPaused(true);
    if (RunUntilIdle(*s, 300))
        return true;
    const bool sending = session_->outboxQueue()->count(send::QueueState::Sending) > 0;
    const QString what = sending ? QStringLiteral("A message is being sent at this moment. Wait until it has gone before quitting?")
                                 : QStringLiteral("Mail is being sent or received at this moment. Wait until that has ended before quitting?");
    const int answer = ui::MsgBox(what + QStringLiteral("\n\nChoose No to break it off and quit now. A message broken off before all of it "
                                                       "had gone stays in the Outbox and is sent when you next start the program. One "
                                                       "broken off after all of it had gone, before the answer came, may have been "
                                                       "delivered: it waits in the Outbox for you to send it again or delete it."),
                                  ui::vbYesNoCancel | ui::vbQuestion);
    if (answer == ui::vbCancel) {
        s->setPaused(wasPaused);
        return false;
    }
    if (answer == ui::vbNo)
        return true;
    // The one in hand ends as its server answers (or falls silent); the window keeps painting.
    if (waiting)
        waiting(sending ? QStringLiteral("Waiting for the message being sent to go; the program then quits.")
                        : QStringLiteral("Waiting for the mail being sent or received; the program then quits."));
    ui::SetMousePointer(ui::vbHourglass);
    RunUntilIdle(*s, -1);
    ui::SetMousePointer(ui::vbDefault);
    return true;
}

send::Spooler* Application::spooler() { return session_->spooler(); }

} // namespace mail

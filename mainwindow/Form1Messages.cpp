#include <QHelpEvent>
#include <QTextEdit>
#include <QToolTip>

#include <optional>

#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form23.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/ui/UiServices.h"

namespace {
// Closes the progress window on every path out of the load.
struct ProgressWindow {
    std::unique_ptr<Form23> form;
    ~ProgressWindow() { close(); }
    void close()
    {
        if (!form) return;
        form->close();
        form.reset();
        ui::DoEvents();
    }
};
} // namespace

void Form1::emptyMessageList()
{
    xa = std::make_shared<ui::XArrayDB>();
    xa->ReDim(1, 0, 0, 14);
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(xa);
    TDBGrid1->ReBind();
    TDBGrid1->SelBookmarks().Clear();
    messageFolderKey_.clear();
}

std::shared_ptr<ui::XArrayDB> Form1::messageRows(const mail::ItemsPtr& items, const std::function<void(int)>& progress)
{
    const int count = items->Count();
    // An Outbox message that waits for a retry, or for the user (refused, possibly delivered),
    // shows it; its tooltip says why, and when it goes again: for each recipient when they fared
    // differently.
    // Read once, and only when the Outbox shows a message that waits.
    std::optional<QList<mail::send::Account>> accounts;
    const auto mark = [&accounts](const mail::MailItemPtr& mi, QString* tip) {
        if (!mi->isInOutbox()) return QStringLiteral("-1");
        const mail::send::QueueStatus st = mi->SendingStatus();
        const QString& answer = st.answer;
        QString shown = QStringLiteral("-1");
        // A message whose account is gone waits for the user, whatever else it waits for. Its
        // file's head is read once, when asked.
        std::optional<QString> gone;
        const auto accountGone = [&]() -> const QString& {
            if (!gone) {
                if (!accounts) accounts = mail::send::LoadAccounts();
                gone = mail::send::TellAccountMissing(mi->FilePath(), *accounts);
            }
            return *gone;
        };
        switch (st.state) {
        case mail::send::QueueState::Refused:
            *tip = QStringLiteral("Refused: %1\nOpen it to send it again or delete it.").arg(answer);
            shown = QString::fromLatin1(kRefusedMark);
            break;
        case mail::send::QueueState::MaybeDelivered:
            *tip = answer;
            shown = QString::fromLatin1(kMaybeDeliveredMark);
            break;
        case mail::send::QueueState::Waiting:
            if (answer.isEmpty()) break;
            if (!accountGone().isEmpty()) {
                *tip = QStringLiteral("This message was not sent. ") + accountGone();
                return QString::fromLatin1(kWaitsForYouMark);
            }
            *tip = (st.nextTry.isValid() ? QStringLiteral("Waiting for a retry at %1.").arg(mail::send::WhenText(st.nextTry))
                                         : QStringLiteral("Waiting for a retry with the next delivery."))
                   + QLatin1Char('\n') + answer;
            shown = QString::fromLatin1(kRetryMark);
            break;
        default:
            break;
        }
        if (!tip->isEmpty()) {
            if (const QStringList each = mail::send::TellRecipients(st, mi->FilePath()); !each.isEmpty())
                *tip = each.join(QLatin1Char('\n'));
            *tip = mail::send::WithAccountMissing(*tip, accountGone());
        }
        return shown;
    };
    auto rows = std::make_shared<ui::XArrayDB>();
    rows->ReDim(1, count, 0, 14);
    int n = 0;
    for (int i = 1; i <= count; ++i) {
        if (progress) progress(i);
        const mail::ItemPtr item = items->Item(i);
        if (item->Class() != mail::olMail) continue;
        const mail::MailItemPtr mi = mail::AsMailItem(item);
        ++n;
        (*rows)(n, 4) = GetMessageAddress(mi);
        (*rows)(n, 0) = mi->Importance() == mail::olImportanceHigh ? QStringLiteral("-1") : QStringLiteral("0");
        QString tip;
        (*rows)(n, 1) = mark(mi, &tip);
        (*rows)(n, kMarkTipColumn) = tip;
        (*rows)(n, 2) = mi->ReadReceiptRequested() ? QStringLiteral("-1") : QStringLiteral("0");
        (*rows)(n, 3) = mi->Attachments().Count() > 0 ? QStringLiteral("-1") : QString();
        (*rows)(n, 5) = mi->Subject();
        (*rows)(n, 6) = mi->ReceivedTime();
        // Column 7, the body, is read when first asked for (MessageBody): no grid shows it.
        (*rows)(n, 8) = mi->EntryID();
        (*rows)(n, 9) = mi->CC();
        (*rows)(n, 10) = mi->ReceivedByName();
    }
    rows->ReDimPreserve(1, n, 0, 14);
    return rows;
}

bool Form1::showMarkTip(QHelpEvent* e)
{
    const QModelIndex at = TDBGrid1->indexAt(e->pos());
    if (!at.isValid() || at.column() != 1 || !xa) return false;
    const int r = TDBGrid1->bookmarkOfModelRow(at.row());
    if (!xa->ContainsRow(r) || !xa->ContainsCol(kMarkTipColumn)) return false;
    const QString tip = xa->Value(r, kMarkTipColumn).toString();
    if (tip.isEmpty()) return false;
    QToolTip::showText(e->globalPos(), tip, TDBGrid1->viewport(), TDBGrid1->visualRect(at));
    return true;
}

void Form1::LoadMessages(ui::TreeNode* nodx, const QVariant& NODISPLAY)
{
    const bool display = !NODISPLAY.isValid();
    msgPane->clear();
    for (QLabel* l : {lblMessageHeaderFrom, lblMessageHeaderSubject, lblMessageHeaderTo, lblMessageHeaderCC}) l->clear();

    ProgressWindow progress;
    BusyScope busy(this);
    try {
        if (!nodx) throw mail::MailError(QStringLiteral("No folder."));
        const mail::FolderPtr folder = RequireNameSpace()->GetFolderFromID(nodx->Key());
        const mail::ItemsPtr items = folder->Items();
        const int count = items->Count();
        if (count > 0 && display) {
            progress.form = std::make_unique<Form23>();
            progress.form->ProgressBar1->setMinimum(0);
            progress.form->ProgressBar1->setMaximum(count);
            progress.form->SetLabelTitle(QStringLiteral("Scanning Outlook Folder: ") + folder->Name());
            progress.form->SetWindowTitle(QStringLiteral("Loading Messages"));
            progress.form->show();
            ui::DoEvents();
        }
        TDBGrid1->Columns(4).SetCaption(IsSentItemsFolder(folder) ? QStringLiteral("Sent To") : QStringLiteral("From"));
        TDBGrid1->Columns(5).SetCaption(QStringLiteral("Subject"));
        TDBGrid1->Columns(6).SetCaption(QStringLiteral("Received"));

        // The new rows are built aside; xa is replaced only once they are complete.
        xa = messageRows(items, [&](int i) {
            if (progress.form) progress.form->ProgressBar1->setValue(i);
        });
        messageFolderKey_ = nodx->Key();
        TDBGrid1->SetBookmark(QVariant());
        TDBGrid1->SetArray(xa);
        TDBGrid1->ReBind();
        SetFirstEmailBookmark();
        progress.close();
        MessageSortState = {1, 1, 1};
        messageSort_ = 0;
        SetRightPaneCaption(QStringLiteral("Message List (") + folder->Name() + QStringLiteral(")"));
        StatusBar1->SetPanelText(1, QString::number(qMax(0, xa->UpperBound(1))) + QStringLiteral(" Items."));
    } catch (...) {
        // Nothing of the previous folder stays under the new current node.
        emptyMessageList();
        ClearMessagePane();
        if (nodx) SetRightPaneCaption(QStringLiteral("Message List (") + nodx->Text() + QStringLiteral(")"));
        StatusBar1->SetPanelText(1, QStringLiteral("0 Items."));
        throw;
    }
}

QString Form1::MessageBody(int row)
{
    if (!xa->ContainsRow(row)) return QString();
    QVariant& cell = (*xa)(row, 7);
    if (!cell.isValid()) {
        try {
            const mail::MailItemPtr mi = mail::AsMailItem(RequireNameSpace()->GetItemFromID(xa->Value(row, 8).toString()));
            cell = mi ? mi->Body() : QString();
        } catch (const std::exception&) {
            return QString();
        }
    }
    return cell.toString();
}

void Form1::SetFirstEmailBookmark()
{
    ClearMessagePane();
    TDBGrid1->SelBookmarks().Clear();
    LastMessageBookmark = QString();
    if (xa->UpperBound(1) >= 1) {
        TDBGrid1->SetBookmark(1);
        TDBGrid1->SelBookmarks().Add(1);
        LastMessageBookmark = 1;
    }
}

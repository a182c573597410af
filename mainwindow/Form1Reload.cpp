// The message grid read again when the background delivery has changed the folder it shows.
#include <QApplication>
#include <QHash>
#include <QTimer>

#include <functional>

#include "core/Conversions.h"
#include "core/GridSort.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"

namespace {
// How soon a reload put off by a running command is tried again.
constexpr int kReloadRetryMs = 250;
// While a run goes the folder is read again at most this often, and for at most a fifth of the
// window's time however large it is.
constexpr qint64 kRunReloadMs = 1000;
constexpr qint64 kRunReloadShare = 5;

// Calls again once, ms from now, however often it is asked for meanwhile.
void callOnceLater(QObject* owner, bool& pending, int ms, std::function<void()> again)
{
    if (pending) return;
    pending = true;
    QTimer::singleShot(ms, owner, [&pending, again = std::move(again)] {
        pending = false;
        again();
    });
}

void sortMessages(ui::XArrayDB& rows, int sort)
{
    const int column = qAbs(sort);
    const int type = column == 6 ? SortDate : SortText;
    if (sort > 0) SortArrayAscending(rows, column, type);
    else if (sort < 0) SortArrayDescending(rows, column, type);
}
} // namespace

bool Form1::rowsInUse() const
{
    // Rows are numbers into xa: they must not change under a command that still runs, in an
    // event loop of its own (a long loop, a dialog or message box, a menu, a drag), nor under a
    // press the grid resolves when the button comes up.
    return Busy() || DragInProgress.toBool() || TDBGrid1->PressHeld() || QApplication::activeModalWidget() ||
           QApplication::activePopupWidget();
}

void Form1::messageChanged(const QString& folderId, const QString& itemId, const QString& formerId)
{
    if (folderId.isEmpty() || folderId.compare(messageFolderKey_, Qt::CaseInsensitive) != 0) return;
    // A new draft was nobody's before: it stands for itself.
    changedMessages_.insert((formerId.isEmpty() ? itemId : formerId).toUpper(), itemId.toUpper());
    reloadChangedMessages();
}

void Form1::reloadChangedMessages()
{
    if (changedMessages_.isEmpty()) return;
    if (rowsInUse()) {
        callOnceLater(this, changedReloadPending_, kReloadRetryMs, [this] { reloadChangedMessages(); });
        return;
    }
    const QHash<QString, QString> changed = std::exchange(changedMessages_, {});
    if (!messageGridShown() || messageFolderKey_.isEmpty()) return;
    const int row = int(Val(TDBGrid1->Bookmark().toString()));
    const QString current = row >= 1 && xa->ContainsRow(row) ? xa->Value(row, 8).toString().toUpper() : QString();
    const QString now = changed.value(current);
    try {
        ReloadMessages();
    } catch (const std::exception&) {
        return;    // the rows stay until the user's Refresh, which says why
    }
    // The message previewed was written anew: shown as its file has it now, in its new row when
    // another took its place.
    if (now.isEmpty()) return;
    for (int r = 1; r <= xa->UpperBound(1); ++r) {
        if (xa->Value(r, 8).toString().compare(now, Qt::CaseInsensitive) != 0) continue;
        if (r != int(Val(TDBGrid1->Bookmark().toString()))) SetSpecificEmailBookmark(r);
        LoadMessageFromBookmark(r);
        return;
    }
}

void Form1::deliveryRunFinished()
{
    if (rowsInUse()) {
        callOnceLater(this, reloadWhenIdle_, kReloadRetryMs, [this] { deliveryRunFinished(); });
        return;
    }
    if (!messageGridShown() || messageFolderKey_.isEmpty()) return;
    const auto shown = [this](const mail::FolderPtr& f) { return f && f->EntryID() == messageFolderKey_; };
    if (!shown(OutboxFolder) && !shown(SentItemsFolder)) return;
    // Called too while a run goes, whenever what it tells changes: the list follows the run.
    const qint64 wait = deliveryReadAt_.isValid()
                            ? qMax(kRunReloadMs, kRunReloadShare * deliveryReadCost_) - deliveryReadAt_.elapsed()
                            : 0;
    if (wait > 0) {
        callOnceLater(this, reloadWhenIdle_, int(wait), [this] { deliveryRunFinished(); });
        return;
    }
    try {
        deliveryReadAt_.start();
        ReloadMessages();
        deliveryReadCost_ = deliveryReadAt_.elapsed();
        deliveryReadAt_.start();
    } catch (const std::exception&) {
        // The folder cannot be read at this moment: the rows stay as they were until the next run
        // or the user's Refresh, which says why.
    }
}

void Form1::ReloadMessages()
{
    if (messageFolderKey_.isEmpty()) return;
    const auto idOf = [this](const QVariant& bookmark) {
        const int r = int(Val(bookmark.toString()));
        return r >= 1 && xa->ContainsRow(r) ? xa->Value(r, 8).toString() : QString();
    };
    // What the user has now, by message.
    auto& sel = TDBGrid1->SelBookmarks();
    const int currentRow = int(Val(TDBGrid1->Bookmark().toString()));
    const QString current = idOf(TDBGrid1->Bookmark());
    QStringList selected;
    for (int i = 0; i < sel.Count(); ++i) selected << idOf(sel.Item(i));
    const QString anchor = idOf(LastMessageBookmark);
    const int topRow = TDBGrid1->rowAt(0);
    const QString top = topRow >= 0 ? idOf(TDBGrid1->bookmarkOfModelRow(topRow)) : QString();

    const mail::FolderPtr folder = RequireNameSpace()->GetFolderFromID(messageFolderKey_);
    std::shared_ptr<ui::XArrayDB> rows = messageRows(folder->Items(), {});
    sortMessages(*rows, messageSort_);
    const int n = rows->UpperBound(1);
    QHash<QString, int> rowOf;
    rowOf.reserve(qMax(n, 0));
    for (int r = 1; r <= n; ++r) rowOf.insert(rows->Value(r, 8).toString(), r);

    xa = rows;
    TDBGrid1->SetBookmark(QVariant());
    sel.Clear();
    TDBGrid1->SetArray(xa);
    TDBGrid1->ReBind();
    for (const QString& id : std::as_const(selected))
        if (const int r = rowOf.value(id); r > 0) sel.Add(r);
    // A current message that has gone leaves the row at its place current, as a removal does.
    int now = rowOf.value(current);
    const bool currentGone = now == 0 && currentRow > 0;
    if (currentGone && n > 0) now = qMin(currentRow, n);
    if (now > 0) {
        TDBGrid1->SetBookmark(now);
        if (currentGone && sel.Count() == 0) sel.Add(now);
    }
    const int anchorNow = rowOf.value(anchor);
    LastMessageBookmark = anchorNow > 0 ? QVariant(anchorNow) : now > 0 ? QVariant(now) : QVariant(QString());
    // The first row shown stays first; when it has gone, the view stays where it was.
    const int topNow = top.isEmpty() || !rowOf.contains(top) ? qMin(topRow, n - 1) : rowOf.value(top) - 1;
    if (topNow >= 0) TDBGrid1->scrollTo(TDBGrid1->model()->index(topNow, 0), QAbstractItemView::PositionAtTop);
    StatusBar1->SetPanelText(1, QString::number(qMax(0, n)) + QStringLiteral(" Items."));
    // The preview follows the current row only when its message has gone.
    if (currentGone) {
        if (now > 0) LoadMessageFromBookmark(now);
        else ClearMessagePane();
    }
}

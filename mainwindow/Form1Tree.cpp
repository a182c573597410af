#include <QAction>
#include <QMenu>

#include "core/FolderTree.h"
#include "core/Globals.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/UiServices.h"

void Form1::specialFolderTest(const QString& entryId, const QString& nodeKey)
{
    if (entryId.compare(SentItemsEntryID, Qt::CaseInsensitive) == 0) SentItemsNode = nodeKey;
    if (entryId.compare(OutboxEntryID, Qt::CaseInsensitive) == 0) OutboxNode = nodeKey;
    if (entryId.compare(DraftsEntryID, Qt::CaseInsensitive) == 0) DraftsNode = nodeKey;
}

void Form1::LoadFolders()
{
    const mail::NameSpacePtr ns = RequireNameSpace();
    SentItemsEntryID = ns->GetDefaultFolder(mail::olFolderSentMail)->EntryID();
    OutboxEntryID = ns->GetDefaultFolder(mail::olFolderOutbox)->EntryID();
    DraftsEntryID = ns->GetDefaultFolder(mail::olFolderDrafts)->EntryID();
    TreeView1->Nodes().Clear();
    AddEmailFolderNodes(*TreeView1, ns, [this](const QString& key) { specialFolderTest(key, key); });
    AddDravonelFolderNodes(*TreeView1);
}

void Form1::TreeView1_MouseUp(int Button, int Shift, double x, double y)
{
    Q_UNUSED(Shift);
    if (Busy()) return;
    try {
        ui::TreeNode* nodx = TreeView1->HitTest(x, y);
        if (!nodx) return;
        const QString key = nodx->Key();
        if (key.compare(CurrentFolderNode, Qt::CaseInsensitive) != 0) {
            CurrentFolderNode = key;
            if (IsEmailFolderNode(nodx)) {
                ui::SetMousePointer(ui::vbHourglass);
                // A folder that cannot be read still takes the pane: its empty grid, not the
                // previous folder's rows, stands under it, and the user is told why.
                QString failure;
                try {
                    LoadMessages(nodx);
                } catch (const std::exception& e) {
                    failure = QString::fromUtf8(e.what());
                }
                if (xa->UpperBound(1) < 1) {
                    msgPaneHeader->setVisible(true);
                    ClearMessagePane();
                } else {
                    LoadMessageFromBookmark(TDBGrid1->Bookmark());
                }
                if (AddressListMode != 0) {
                    AddressListMode = 0;
                    Form_Resize();
                }
                ui::SetMousePointer(ui::vbArrow);
                if (!failure.isEmpty())
                    ui::MsgBox(QStringLiteral("The folder could not be read.  ") + failure, ui::vbCritical);
            } else {
                ui::SetMousePointer(ui::vbHourglass);
                LoadEmailAddresses(nodx);
                SetFirstdravonelBookmark();
                if (AddressListMode != 1) {
                    AddressListMode = 1;
                    Form_Resize();
                }
                ui::SetMousePointer(ui::vbArrow);
            }
        }
        // The load above may have rebuilt nothing, but look the node up again all the same.
        nodx = TreeView1->Nodes(key);
        if (Button == 2 && nodx) {
            if (IsDravonelFolderNode(nodx)) {
                const bool enable = !IsTopLevelNode(nodx);
                for (QAction* a : {mnuFolderPopMove, mnuFolderPopRename, mnuFolderPopDelete, mnuFolderPopProperties,
                                   mnuFolderPopRefresh})
                    a->setEnabled(enable);
                popup(mnuFolderPop);
            } else {
                bool enable = !IsTopLevelNode(nodx);
                if (enable) {
                    for (const mail::FolderPtr& f : {DeletedItemsFolder, InboxFolder, OutboxFolder, SentItemsFolder, DraftsFolder})
                        if (f && key.compare(f->EntryID(), Qt::CaseInsensitive) == 0) enable = false;
                }
                for (QAction* a : {mnuFolderEmailPopMove, mnuFolderEmailPopRename, mnuFolderEmailPopDelete})
                    a->setEnabled(enable);
                popup(mnuFolderEmailPop);
            }
        }
    } catch (const std::exception&) {
        // The handler ends silently; the pointer comes back when the window is next activated.
    }
}

void Form1::TreeView1_KeyDown(int& KeyCode, int Shift)
{
    Q_UNUSED(Shift);
    // The current folder changes by mouse only.
    KeyCode = 0;
}

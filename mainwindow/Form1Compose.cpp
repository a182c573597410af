// The two commands that open the mail-merge composer.
#include <exception>

#include "compose/frmCompose.h"
#include "mainwindow/Form1.h"
#include "platform/ui/UiServices.h"

namespace {
// A failure is shown; nothing passes into the event loop.
template <class F>
void guarded(F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromUtf8(e.what()), ui::vbCritical);
    }
}
} // namespace

void Form1::mnuBulkPopComposeMailMerge_Click()
{
    guarded([this] {
        ui::SetMousePointer(ui::vbHourglass);
        // The composer reads the grid's selection as it loads.
        frmCompose composer(this);
        composer.SetMailMessageTo(QStringLiteral("Selected List Members"));
        ui::ShowModal(&composer);
    });
}

void Form1::mnuFolderPopComposeMailMerge_Click()
{
    guarded([this] {
        ui::SetMousePointer(ui::vbHourglass);
        auto& sel = TDBGrid2->SelBookmarks();
        while (sel.Count() >= 1) sel.Remove(0);
        if (ex)
            for (int i = ex->LowerBound(1); i <= ex->UpperBound(1); ++i) sel.Add(QString::number(i));
        ui::TreeNode* node = TreeView1->SelectedItem();
        frmCompose composer(this);
        composer.SetMailMessageTo(QStringLiteral("Folder ") + (node ? node->Text() : QString()) + QStringLiteral(" Members"));
        ui::ShowModal(&composer);
    });
}

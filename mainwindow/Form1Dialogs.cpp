// The main window's commands that open the dialogs of other windows. Each is connected straight
// to its menu item; until its dialog exists it does nothing.
#include "mainwindow/Form1.h"

#include <QCoreApplication>

#include "core/Globals.h"
#include "lists/Form5.h"
#include "lists/Form6.h"
#include "mainwindow/Form22.h"
#include "platform/ui/UiServices.h"

// ---- folder picker Form6: nodx := CurrentFolderNode, then the action code ----
namespace {
void showFolderPicker(Form1* f, int action)
{
    ui::SetMousePointer(ui::vbHourglass);
    Form6 dlg(f);
    try {
        dlg.SetAction(CurrentFolderNode, action);
    } catch (const std::exception& e) {
        // The picker's tree could not be filled: nothing to pick from.
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromUtf8(e.what()), ui::vbCritical);
        return;
    }
    ui::ShowModal(&dlg);
}
} // namespace

void Form1::mnuEmailPopCopy_Click() { showFolderPicker(this, Form6::ActionCopyMessages); }

void Form1::mnuEmailPopMove_Click() { showFolderPicker(this, Form6::ActionMoveMessages); }

void Form1::mnuEmailPopAddToFolder_Click() { showFolderPicker(this, Form6::ActionSendersToList); }

void Form1::mnuFolderEmailPopMove_Click() { showFolderPicker(this, Form6::ActionMoveFolder); }

void Form1::mnuFolderEmailPopCopy_Click() { showFolderPicker(this, Form6::ActionCopyFolder); }

void Form1::mnuFolderPopMove_Click() { showFolderPicker(this, Form6::ActionMoveFolder); }

void Form1::mnuFolderPopCopy_Click() { showFolderPicker(this, Form6::ActionCopyFolder); }

void Form1::mnuBulkPopCopy_Click() { showFolderPicker(this, Form6::ActionCopyAddresses); }

void Form1::mnuBulkPopMove_Click() { showFolderPicker(this, Form6::ActionMoveAddresses); }

// ---- address editor Form4 ----
void Form1::mnuEmailPopProperties_Click()
{
    // Form4 by address (RecID 0, eMailPrime, Mode 1, DisplayMode := AddressListMode) for the
    // current row's MessageCorrespondent; when that is empty or the message is gone: the shared
    // item error message, and nothing opens.
}

void Form1::mnuBulkPopProperties_Click()
{
    // Form4 by record id (RecID := ex(current row, 4), Mode 0, DisplayMode := AddressListMode).
}

// ---- action profiles: the list Form8 and the chooser Form10 ----
void Form1::mnuSetupProfiles_Click()
{
    // Form8, the profile list.
}

void Form1::mnuEmailPopAddWithProfile_Click()
{
    // Form10 for the selected messages' senders.
}

void Form1::mnuFolderPopApply_Click()
{
    // Form10, Mode 2: every address of the selected list folder.
}

void Form1::mnuBulkPopAplyProfile_Click()
{
    // Form10, Mode 1: the selected address rows.
}

// ---- custom fields, help and About ----
void Form1::mnuSetupCustomFields_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form5 dlg(this);
    ui::ShowModal(&dlg);
}

void Form1::helpm_contents_Click()
{
    // The page stands beside the program; nothing is reported when it cannot be opened.
    ui::OpenDocument(QCoreApplication::applicationDirPath() + QStringLiteral("/dravonel.html"));
}

void Form1::helpm_about_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form22 dlg(this);
    ui::ShowModal(&dlg);
}

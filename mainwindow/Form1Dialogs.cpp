// The main window's commands that open the dialogs of other windows. Each is connected straight
// to its menu item; until its dialog exists it does nothing.
#include "mainwindow/Form1.h"
#include "platform/ui/UiServices.h"
#include "profiles/Form10.h"
#include "profiles/Form8.h"

// ---- folder picker Form6: nodx := CurrentFolderNode, then the action code ----
void Form1::mnuEmailPopCopy_Click()
{
    // Form6, action 2: copy the selected messages to a mail folder.
}

void Form1::mnuEmailPopMove_Click()
{
    // Form6, action 4: move the selected messages to a mail folder.
}

void Form1::mnuEmailPopAddToFolder_Click()
{
    // Form6, action 7: the selected messages' correspondents join a list folder.
}

void Form1::mnuFolderEmailPopMove_Click()
{
    // Form6, action 5: move the current mail folder.
}

void Form1::mnuFolderEmailPopCopy_Click()
{
    // Form6, action 6: copy the current mail folder.
}

void Form1::mnuFolderPopMove_Click()
{
    // Form6, action 5: move the current list folder.
}

void Form1::mnuFolderPopCopy_Click()
{
    // Form6, action 6: copy the current list folder.
}

void Form1::mnuBulkPopCopy_Click()
{
    // Form6, action 1: the selected addresses join another list folder.
}

void Form1::mnuBulkPopMove_Click()
{
    // Form6, action 3: the selected addresses move to another list folder.
}

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
    ui::SetMousePointer(ui::vbHourglass);
    Form8 dlg(this);
    ui::ShowModal(&dlg);
}

namespace {
// The chooser applies to what mode names: 0 the selected messages' senders, 1 the selected
// address rows, 2 every address of the selected list folder.
void chooseProfile(Form1* owner, int mode)
{
    ui::SetMousePointer(ui::vbHourglass);
    Form10 dlg(owner);
    dlg.Mode = mode;
    ui::ShowModal(&dlg);
}
} // namespace

void Form1::mnuEmailPopAddWithProfile_Click() { chooseProfile(this, 0); }

void Form1::mnuFolderPopApply_Click() { chooseProfile(this, 2); }

void Form1::mnuBulkPopAplyProfile_Click() { chooseProfile(this, 1); }

// ---- custom fields, help and About ----
void Form1::mnuSetupCustomFields_Click()
{
    // Form5, the custom field configuration.
}

void Form1::helpm_contents_Click()
{
    // Opens the help page.
}

void Form1::helpm_about_Click()
{
    // Form22, the About box.
}

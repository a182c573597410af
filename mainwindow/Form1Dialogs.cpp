// The main window's commands that open the dialogs of other windows. Each is connected straight
// to its menu item.
#include <stdexcept>

#include "core/Conversions.h"
#include "lists/Form4.h"
#include "mainwindow/Form1.h"
#include "platform/ui/UiServices.h"
#include "profiles/Form10.h"
#include "profiles/Form8.h"

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
// Both openings end quietly with the normal pointer when the dialog cannot be loaded: nothing
// is shown and nothing written.
void Form1::mnuEmailPopProperties_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    QString address;
    try {
        address = MessageCorrespondent(int(Val(TDBGrid1->Bookmark().toString())));
    } catch (const std::exception&) {
        address.clear();
    }
    if (address.isEmpty()) return ShowItemError();
    try {
        Form4 dlg(this);
        dlg.RecID = 0;
        dlg.eMailPrime = address;
        dlg.Mode = 1;
        dlg.DisplayMode = AddressListMode;
        dlg.LoadData();
        ui::ShowModal(&dlg);
    } catch (const std::exception&) {
        ui::SetMousePointer(ui::vbArrow);
    }
}

void Form1::mnuBulkPopProperties_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        const int row = int(Val(TDBGrid2->Bookmark().toString()));
        if (!ex->ContainsRow(row)) throw std::out_of_range("no current address row");
        Form4 dlg(this);
        dlg.RecID = long(Val(ex->Value(row, 4)));
        dlg.Mode = 0;
        dlg.DisplayMode = AddressListMode;
        dlg.LoadData();
        ui::ShowModal(&dlg);
    } catch (const std::exception&) {
        ui::SetMousePointer(ui::vbArrow);
    }
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
    ui::SetMousePointer(ui::vbHourglass);
    Form5 dlg(this);
    ui::ShowModal(&dlg);
}

void Form1::helpm_contents_Click()
{
    // The page stands beside the program; nothing is reported when it cannot be opened.
    ui::OpenDocument(QCoreApplication::applicationDirPath() + QStringLiteral("/dravonel.html"), ui::OpenFailure::Silent);
}

void Form1::helpm_about_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form22 dlg(this);
    ui::ShowModal(&dlg);
}

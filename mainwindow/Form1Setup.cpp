// The Setup menu's mail-account, option and import commands.
#include <QAction>
#include <QMenu>

#include "mainwindow/Form1.h"
#include "platform/mail/MailTypes.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/UiServices.h"
#include "profiles/Form19.h"

void Form1::ShowImportDialog(int mode)
{
    ui::SetMousePointer(ui::vbHourglass);
    Form19 dlg(this);
    dlg.SetMode(mode);
    ui::ShowModal(&dlg);
}

void Form1::mnuSetupImportFromOutlook_Click() { ShowImportDialog(Form19::ModeMailFolders); }
void Form1::mnuSetupImportFromContacts_Click() { ShowImportDialog(Form19::ModeContactFolders); }
void Form1::mnuSetupImportCommaDelimited_Click() { ShowImportDialog(Form19::ModeFile); }

void Form1::mnuSetupMailAccounts_Click()
{
    try {
        mail::ShowAccountsDialog(this);
    } catch (const std::exception&) {
        // The command ends quietly when the mail host cannot show its dialog.
    }
}

void Form1::mnuSetupOptions_Click()
{
    try {
        mail::ShowOptionsDialog(this);
    } catch (const std::exception&) {
    }
}

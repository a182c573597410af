#include <QAction>
#include <QToolBar>

#include "mainwindow/Form1.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/ThemeIcon.h"

void Form1::setupToolbarLook()
{
    struct Look {
        const char* caption;
        const char* icon;
        QStyle::StandardPixmap fallback;
    };
    static const Look looks[] = {
        {"New Address", "contact-new", QStyle::SP_FileIcon},
        {"New Folder", "folder-new", QStyle::SP_FileDialogNewFolder},
        {"Compose", "mail-message-new", QStyle::SP_FileDialogContentsView},
        {"Open", "document-open", QStyle::SP_DialogOpenButton},
        {"Reply", "mail-reply-sender", QStyle::SP_ArrowBack},
        {"Print", "document-print", QStyle::SP_FileDialogDetailedView},
        {"Delete", "edit-delete", QStyle::SP_TrashIcon},
        {"Get Mail", "mail-send-receive", QStyle::SP_BrowserReload},
        {"Properties", "document-properties", QStyle::SP_FileDialogInfoView},
        {"Help", "help-contents", QStyle::SP_DialogHelpButton},
    };
    // The captions stay as the buttons' labels under their icons, and as their tooltips.
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (QAction* a : Toolbar1->actions()) {
        for (const Look& l : looks) {
            if (a->text() != QLatin1String(l.caption)) continue;
            a->setIcon(ui::ThemeIcon(QString::fromLatin1(l.icon), l.fallback));
            a->setToolTip(a->text());
        }
    }
}

void Form1::fitAddressColumns()
{
    // The address and the name share what the mark and the place columns leave, 3 : 2, so a
    // wide window shows long addresses whole; never narrower than their design widths.
    const double spare = double(layout_.TDBGrid2.Width) - 240 - TDBGrid2->Columns(0).Width() - TDBGrid2->Columns(3).Width();
    TDBGrid2->Columns(1).SetWidth(std::max(3600.0, spare * 0.6));
    TDBGrid2->Columns(2).SetWidth(std::max(2400.0, spare * 0.4));
}

// The address editor's "Message History" tab: the messages received from the address and those
// sent to it, found in every mail folder the main window's tree shows.
#include <QLineEdit>
#include <QProgressBar>
#include <exception>
#include <vector>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/TreeKeys.h"
#include "lists/Form4.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"

namespace {

struct Listed {
    QString subject;
    QDateTime when;
    QString entryId;
};

struct ScannedFolder {
    mail::ItemsPtr items;
    bool sent;
};

std::shared_ptr<ui::XArrayDB> rowsOf(const std::vector<Listed>& listed)
{
    auto rows = std::make_shared<ui::XArrayDB>();
    rows->ReDim(1, int(listed.size()), 0, 2);
    int r = 0;
    for (const Listed& m : listed) {
        ++r;
        rows->SetValue(r, 0, m.subject);
        rows->SetValue(r, 1, m.when);
        rows->SetValue(r, 2, m.entryId);
    }
    return rows;
}

} // namespace

void Form4::CommandRefresh_Click()
{
    // Compared as typed: blanks at its ends take part.
    const QString sought = txtEmail->text();
    ui::SetMousePointer(ui::vbHourglass);
    std::vector<Listed> received;
    std::vector<Listed> sent;

    QString sentItemsId;
    try {
        if (MAPINameSpace) sentItemsId = MAPINameSpace->GetDefaultFolder(mail::olFolderSentMail)->EntryID();
    } catch (const std::exception&) {
        // No Sent Items: every folder is scanned as one of received mail.
    }

    // The folders once, in tree order; their items are read here and scanned below, so the
    // progress bar knows its end before the first message.
    std::vector<ScannedFolder> folders;
    qint64 total = 0;
    Form1* f = Form1::Instance();
    if (f && MAPINameSpace) {
        for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i) {
            const ui::TreeNode* node = f->TreeView1->Nodes(i);
            if (!IsEmailFolderNode(node)) continue;
            try {
                const mail::FolderPtr folder = MAPINameSpace->GetFolderFromID(node->Key());
                const mail::ItemsPtr items = folder->Items();
                folders.push_back({items, !sentItemsId.isEmpty() && folder->EntryID().compare(sentItemsId, Qt::CaseInsensitive) == 0});
                total += items->Count();
            } catch (const std::exception&) {
                // A folder that cannot be read adds nothing.
            }
        }
    }
    if (total > 0) {
        ProgressBar1->setMinimum(0);
        ProgressBar1->setMaximum(int(qMin<qint64>(total, INT_MAX)));
        ProgressBar1->setValue(0);
        ProgressBar1->setVisible(true);
    }

    qint64 visited = 0;
    for (const ScannedFolder& folder : folders) {
        const int count = folder.items->Count();
        for (int j = 1; j <= count; ++j) {
            ++visited;
            if (visited <= ProgressBar1->maximum()) ProgressBar1->setValue(int(visited));
            try {
                const mail::MailItemPtr mi = mail::AsMailItem(folder.items->Item(j));
                if (!mi) continue;
                if (folder.sent) {
                    // Only the first recipient is looked at.
                    if (mi->Recipients().Item(1)->Address().compare(sought, Qt::CaseInsensitive) == 0)
                        sent.push_back({mi->Subject(), mi->SentOn(), mi->EntryID()});
                } else {
                    // The address a reply would go to; without one, the sender's name.
                    const mail::MailItemPtr reply = mi->Reply();
                    const QString address = reply->Recipients().Count() >= 1 ? reply->Recipients().Item(1)->AddressEntry().Address()
                                                                              : mi->SenderName();
                    if (address.compare(sought, Qt::CaseInsensitive) == 0)
                        received.push_back({mi->Subject(), mi->ReceivedTime(), mi->EntryID()});
                }
            } catch (const std::exception&) {
                // An item that is no message, or whose address cannot be read, adds no row.
            }
        }
    }

    SentMessageArray = rowsOf(sent);
    ReceivedMessageArray = rowsOf(received);
    if (total > 0) ProgressBar1->setVisible(false);
    const std::pair<ui::DataGrid*, std::shared_ptr<ui::XArrayDB>> grids[] = {{TDBGrid1, ReceivedMessageArray},
                                                                              {TDBGrid2, SentMessageArray}};
    for (const auto& [grid, rows] : grids) {
        grid->SetBookmark(QVariant());
        grid->SetArray(rows);
        grid->ReBind();
    }
    ui::SetMousePointer(ui::vbArrow);
}

void Form4::openListedMessage(ui::DataGrid& grid)
{
    try {
        const int row = int(Val(grid.Bookmark().toString()));
        const std::shared_ptr<ui::XArrayDB> rows = grid.Array();
        if (!rows || !rows->ContainsRow(row) || !MAPINameSpace) return;
        const mail::MailItemPtr mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(rows->Value(row, 2).toString()));
        if (mi) mi->Display(false);
    } catch (const std::exception&) {
        // The message has gone since the list was made.
    }
}

void Form4::TDBGrid1_DblClick() { openListedMessage(*TDBGrid1); }
void Form4::TDBGrid2_DblClick() { openListedMessage(*TDBGrid2); }

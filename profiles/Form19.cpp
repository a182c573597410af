#include "profiles/Form19.h"

#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "core/Conversions.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/ContactItem.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"
#include "profiles/DelimitedReader.h"

namespace {

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel);
}

// The fifteen values of a record: the address and the fourteen further columns.
constexpr qsizetype kRecordValues = 15;

} // namespace

Form19::Form19(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form19"));
    setWindowTitle(QStringLiteral("Import Utility"));
    setFixedSize(6720 / TwipsPerPixel, 5220 / TwipsPerPixel);

    Image1 = new QLabel(this);
    Image1->setGeometry(twips(180, 180, 480, 480));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DialogOpenButton).pixmap(32, 32));

    Label1 = new QLabel(QStringLiteral("Import Utility"), this);
    Label1->setTextFormat(Qt::PlainText);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setGeometry(twips(840, 180, 5700, 300));

    Label2 = new QLabel(this);
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setGeometry(twips(840, 540, 5700, 900));

    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setStyleSheet(QStringLiteral("color: grey"));
    Line2 = new QFrame(this);
    Line2->setFrameShape(QFrame::HLine);
    Line2->setStyleSheet(QStringLiteral("color: white"));

    Label3 = new QLabel(QStringLiteral("Target Folders:"), this);
    Label3->setTextFormat(Qt::PlainText);
    Label3->setGeometry(twips(180, 1680, 3600, 255));

    List1 = new QListWidget(this);
    List1->setSelectionMode(QAbstractItemView::MultiSelection);
    List1->setGeometry(twips(180, 1965, 3900, 2370));

    Check1 = new QCheckBox(QStringLiteral("Include Names"), this);
    Check1->setGeometry(twips(4320, 1965, 2220, 300));
    Check1->hide();

    Command1 = new QPushButton(QStringLiteral("&Continue"), this);
    Command1->setGeometry(twips(4320, 3480, 2220, 375));
    Command2 = new QPushButton(QStringLiteral("E&xit"), this);
    Command2->setGeometry(twips(4320, 3960, 2220, 375));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(twips(180, 4560, 6360, 300));

    Form_Load();
}

Form19::~Form19() = default;

void Form19::Form_Load()
{
    CenterForm(*this);
    // An etched rule: the white line one pixel below the grey one.
    Line1->setGeometry(twips(180, 1500, 6360, TwipsPerPixel));
    Line2->setGeometry(Line1->x(), Line1->y() + 1, Line1->width(), 1);

    // Only list folders: the root is left out by its type, whatever it is named, and a row a
    // folder copy holds in reserve is no target.
    SQLStatement sq;
    sq.SetConnection(&DBConnection());
    sq.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderType = 1 ORDER BY FolderType, FolderName;"));
    db::Recordset rs;
    if (!sq.GetRecordsetFO(rs)) return;
    for (; !rs.Eof(); rs.MoveNext()) {
        auto* item = new QListWidgetItem(NullToString(rs.Fields(QStringLiteral("FolderName"))).toString(), List1);
        item->setData(Qt::UserRole, NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong());
    }
}

void Form19::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

bool Form19::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form19::SetMode(int mode)
{
    mode_ = mode;
    switch (mode) {
    case ModeMailFolders:
        Label1->setText(QStringLiteral("Import From Outlook Folders"));
        Label2->setText(QStringLiteral("This process will add to the Master List and Selected Folders all unique email "
                                       "addresses found in all of your Outlook Mail Folders."));
        break;
    case ModeContactFolders:
        Label1->setText(QStringLiteral("Import From Contact Folders (Address Book)"));
        Label2->setText(QStringLiteral("This process will add to the Master List and Selected Folders all unique email "
                                       "addresses found in the Contact Folders (Address Book)."));
        Check1->show();
        Check1->setChecked(true);
        break;
    case ModeFile:
        Label1->setText(QStringLiteral("Import From Comma Delimited File"));
        Label2->setText(QStringLiteral("This process will add to the Master List and Selected Folders all email "
                                       "addresses imported from a comma delimited file."));
        Check1->show();
        Check1->setChecked(false);
        break;
    default:
        break;
    }
}

QList<qint64> Form19::SelectedFolders() const
{
    QList<qint64> ids;
    for (int i = 0; i < List1->count(); ++i)
        if (List1->item(i)->isSelected()) ids << List1->item(i)->data(Qt::UserRole).toLongLong();
    return ids;
}

void Form19::Command1_Click()
{
    switch (mode_) {
    case ModeMailFolders: ImportFromOutlookFolders(); break;
    case ModeContactFolders: ImportFromContactFolders(); break;
    case ModeFile: ImportFromFile(); break;
    default: break;
    }
}

void Form19::Command2_Click() { close(); }

// ---- folder imports ------------------------------------------------------------------------

void Form19::ImportFromOutlookFolders() { importFolders(mail::olMailItem); }
void Form19::ImportFromContactFolders() { importFolders(mail::olContactItem); }
void Form19::CountMailItems(const mail::FolderPtr& folder) { countSubFolders(folder, mail::olMailItem); }
void Form19::CountContactItems(const mail::FolderPtr& folder) { countSubFolders(folder, mail::olContactItem); }
void Form19::ImportMailSubFolders(const mail::FolderPtr& folder) { scanSubFolders(folder, mail::olMailItem); }
void Form19::ImportContactSubFolders(const mail::FolderPtr& folder) { scanSubFolders(folder, mail::olContactItem); }

void Form19::importFolders(int itemType)
{
    const bool contacts = itemType == mail::olContactItem;
    ui::SetMousePointer(ui::vbHourglass);
    try {
        import_ = std::make_unique<AddressImport>(DBConnection(), SelectedFolders());
        ImportItemTotal = 0;
        ImportItemCounter = 0;

        mail::FoldersPtr stores;
        try {
            if (MAPINameSpace) stores = MAPINameSpace->Folders();
        } catch (const mail::MailError&) {
        }
        const int storeCount = stores ? stores->Count() : 0;

        for (int i = 1; i <= storeCount; ++i) {
            try {
                const mail::FolderPtr top = stores->Item(i);
                if (top->DefaultItemType() == itemType) {
                    if (contacts) ui::MsgBox(top->Name());
                    ImportItemTotal += top->Items()->Count();
                }
                contacts ? CountContactItems(top) : CountMailItems(top);
            } catch (const mail::MailError&) {
                // A store that cannot be read is passed over.
            }
        }

        if (ImportItemTotal >= 1) {
            ProgressBar1->setMaximum(int(qMin<qint64>(ImportItemTotal + 1, INT_MAX)));
            ProgressBar1->setMinimum(1);
            ProgressBar1->setValue(1);
            for (int i = 1; i <= storeCount; ++i) {
                mail::FolderPtr top;
                try {
                    top = stores->Item(i);
                } catch (const mail::MailError&) {
                    continue;
                }
                scanFolder(top, itemType);
                contacts ? ImportContactSubFolders(top) : ImportMailSubFolders(top);
            }
        }

        finish((contacts ? QStringLiteral("Total Contact Items Scanned: ") : QStringLiteral("Total Messages Scanned: ")) +
               QString::number(ImportItemTotal));
    } catch (const db::DbError& e) {
        import_.reset();
        ui::SetMousePointer(ui::vbDefault);
        ui::MsgBox(e.message(), ui::vbCritical);
    }
}

void Form19::countSubFolders(const mail::FolderPtr& folder, int itemType)
{
    mail::FoldersPtr subs;
    try {
        subs = folder->Folders();
    } catch (const mail::MailError&) {
        return;
    }
    for (int i = 1; i <= subs->Count(); ++i) {
        try {
            const mail::FolderPtr sub = subs->Item(i);
            if (sub->DefaultItemType() == itemType) ImportItemTotal += sub->Items()->Count();
            countSubFolders(sub, itemType);
        } catch (const mail::MailError&) {
        }
    }
}

void Form19::scanSubFolders(const mail::FolderPtr& folder, int itemType)
{
    mail::FoldersPtr subs;
    try {
        subs = folder->Folders();
    } catch (const mail::MailError&) {
        return;
    }
    for (int i = 1; i <= subs->Count(); ++i) {
        mail::FolderPtr sub;
        try {
            sub = subs->Item(i);
        } catch (const mail::MailError&) {
            continue;
        }
        scanFolder(sub, itemType);
        scanSubFolders(sub, itemType);
    }
}

void Form19::scanFolder(const mail::FolderPtr& folder, int itemType)
{
    mail::ItemsPtr items;
    try {
        if (folder->DefaultItemType() != itemType) return;
        items = folder->Items();
    } catch (const mail::MailError&) {
        return;  // a folder that cannot be read is passed over
    }
    const int count = items->Count();
    for (int i = 1; i <= count; ++i) {
        ++ImportItemCounter;
        if (ImportItemCounter <= ProgressBar1->maximum()) ProgressBar1->setValue(int(ImportItemCounter));
        try {
            scanItem(items->Item(i), itemType);
        } catch (const mail::MailError&) {
            // An item gone or unreadable since the listing is passed over.
        }
    }
}

void Form19::scanItem(const mail::ItemPtr& item, int itemType)
{
    if (!item) return;
    if (itemType == mail::olMailItem) {
        if (item->Class() != mail::olMail) return;
        const QString address = GetMessageAddress(mail::AsMailItem(item)).trimmed();
        if (!address.isEmpty()) import_->ImportAddress(address);
    } else {
        if (item->Class() != mail::olContact) return;
        const mail::ContactItemPtr contact = mail::AsContactItem(item);
        const QString address = contact ? contact->Email1Address() : QString();
        if (!address.isEmpty()) import_->ImportAddress(address);
    }
}

void Form19::finish(const QString& closing)
{
    QString text = closing;
    if (import_) {
        import_->Commit();
        if (import_->SkippedCount() > 0)
            text += QStringLiteral("\nSkipped (not an email address): ") + QString::number(import_->SkippedCount());
        // What the database refused is not in the lists: the closing count must not pass for all of it.
        if (import_->FailedCount() > 0)
            text += QStringLiteral("\nRefused by the database: ") + QString::number(import_->FailedCount()) +
                    QStringLiteral("\n") + import_->LastError();
        import_.reset();
    }
    if (Form1* f = Form1::Instance()) {
        ui::TreeNode* node = f->TreeView1->Nodes(CurrentFolderNode);
        if (!CurrentFolderNode.isEmpty() && IsDravonelFolderNode(node)) {
            f->LoadEmailAddresses(node);
            for (int i = 0; i < 3; ++i) ui::DoEvents();
        }
    }
    ui::SetMousePointer(ui::vbDefault);
    ui::MsgBox(text, ui::vbInformation);
}

// ---- comma-delimited file ------------------------------------------------------------------

void Form19::ImportFromFile()
{
    CommonDialog1.CancelError = true;
    CommonDialog1.Filter = QStringLiteral("CSV Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*");
    CommonDialog1.FilterIndex = 1;
    if (!CommonDialog1.ShowOpen()) return;
    const QString path = CommonDialog1.FileName;

    const bool includeNames = Check1->isChecked();
    DelimitedReader reader;
    if (!reader.Open(path)) {
        ui::MsgBox(QStringLiteral("The file could not be read: ") + path + QStringLiteral("\n") + reader.ErrorText(),
                   ui::vbCritical);
        return;
    }
    const double length = reader.Length() > 0 ? double(reader.Length()) : 1.0;

    ProgressBar1->setMaximum(100);
    ProgressBar1->setMinimum(1);
    ProgressBar1->setValue(1);
    ImportItemTotal = 0;
    // Fifteen-value records are lines: a short one takes empty values, a long one loses its
    // surplus, and the closing message says how many of each there were.
    int shortRecords = 0;
    int longRecords = 0;
    try {
        import_ = std::make_unique<AddressImport>(DBConnection(), SelectedFolders());
        // A record's values as UTF-8, bound as they are: no text object per value.
        std::vector<QByteArrayView> record;
        QString value;
        while (!reader.AtEnd()) {
            ++ImportItemTotal;
            const bool whole = includeNames ? reader.ReadLineUtf8(record) : reader.ReadValue(value);
            if (!whole) {
                // What was imported before stays; the rest of the file is not read.
                import_->Commit();
                import_.reset();
                ui::MsgBox(QStringLiteral("The file ends inside record ") + QString::number(ImportItemTotal) +
                               QStringLiteral(". The records before it were imported."),
                           ui::vbCritical);
                return;
            }
            const int p = int(qBound(1.0, double(reader.Position()) / length * 100.0, 100.0));
            ProgressBar1->setValue(p);
            if (!includeNames) {
                if (!value.isEmpty()) import_->QueueAddress(value);
                continue;
            }
            const qsizetype n = qsizetype(record.size());
            const bool emptyLine = n == 1 && record.front().isEmpty();
            if (n < kRecordValues && !emptyLine) ++shortRecords;
            if (n > kRecordValues) ++longRecords;
            if (record.front().isEmpty()) continue;
            // The values a short record lacks are empty (NULL); a long one's surplus is left out.
            import_->QueueRecord(record.front(), std::span(record).subspan(1, size_t(qMin(n, kRecordValues) - 1)));
        }
        QString closing = QStringLiteral("Total Addresses Processed: ") + QString::number(ImportItemTotal);
        if (shortRecords > 0)
            closing += QStringLiteral("\nRecords with fewer than 15 values (the missing ones left empty): ") +
                       QString::number(shortRecords);
        if (longRecords > 0)
            closing += QStringLiteral("\nRecords with more than 15 values (the extra ones ignored): ") +
                       QString::number(longRecords);
        finish(closing);
    } catch (const db::DbError& e) {
        import_.reset();
        ui::MsgBox(e.message(), ui::vbCritical);
    }
}

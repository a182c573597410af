#include "profiles/Form10.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>
#include <memory>
#include <optional>

#include "core/Conversions.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/MergeFields.h"
#include "core/OutlookLookups.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form23.h"
#include "platform/db/Connection.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/ui/ThemeIcon.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"
#include "profiles/Form9.h"
#include "profiles/ProfileApply.h"

namespace {

const char* const kInvalidSelection = "Cannot Process Profile.  Invalid Selection.";
const char* const kNotFound = "Error Accessing Profile.  The Profile Was Not Found.";
const char* const kProcessing = "Error Processing Profile.";
const char* const kMissingFolder =
    "The list folder of this profile no longer exists.  Its values are applied, but no address is added to a list folder.";

// Loops this long show the progress window; a shorter one would only flash it.
constexpr int kProgressFrom = 200;

// Messages named in a report of those left where they are.
constexpr int kNamedMessages = 10;

QString reason(const std::exception& e) { return QString::fromUtf8(e.what()); }

// The progress window of one application. It is painted when its bar moves; no other window
// event runs inside the loop.
class Progress {
public:
    Progress(int total, const QString& label) : total_(total)
    {
        if (total < kProgressFrom) return;
        form_ = std::make_unique<Form23>();
        form_->SetWindowTitle(QStringLiteral("Applying Profile"));
        form_->SetLabelTitle(label);
        form_->ProgressBar1->setRange(0, total);
        form_->show();
        // Once before the loop, so the window appears; input waits until the loop is done.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~Progress() { Close(); }
    void Step(int done)
    {
        if (!form_) return;
        const int percent = int(qint64(done) * 100 / total_);
        if (percent == percent_) return;
        percent_ = percent;
        form_->ProgressBar1->setValue(done);
        form_->repaint();
    }
    void Close()
    {
        if (form_) form_->close();
        form_.reset();
    }

private:
    int total_;
    int percent_ = -1;
    std::unique_ptr<Form23> form_;
};

} // namespace

Form10::Form10(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form10"));
    setWindowTitle(QStringLiteral("Profile Select"));
    Label1 = new QLabel(QStringLiteral("Select Profile:"), this);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    Label1->setBuddy(List1);
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command3 = new QPushButton(this);
    Command3->setIcon(ui::ThemeIcon(QStringLiteral("document-new"), QStyle::SP_FileIcon));
    Command3->setToolTip(QStringLiteral("New Profile"));
    Command3->setAccessibleName(QStringLiteral("New Profile"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(List1, 1, 0);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    resize(380, 260);

    connect(Command1, &QPushButton::clicked, this, &Form10::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form10::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form10::Command3_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });
    Form_Load();
}

Form10::~Form10() = default;

bool Form10::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form10::Form_Load()
{
    CenterForm(*this);
    LoadProfiles();
    // Focus in the list would mark its first item as current, which looks chosen but is not.
    Command1->setFocus();
}

void Form10::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form10::LoadProfiles() { FillProfileList(*List1); }

void Form10::SelectProfile(qint64 recId)
{
    for (int i = 0; i < List1->count(); ++i) {
        if (List1->item(i)->data(Qt::UserRole).toLongLong() != recId) continue;
        List1->setCurrentRow(i);
        return;
    }
}

void Form10::Command3_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form9 editor(this);
    editor.Mode = 1;
    editor.Opener = this;
    editor.LoadProfile();
    ui::ShowModal(&editor);
    ui::SetMousePointer(ui::vbArrow);
}

void Form10::Command1_Click()
{
    if (SelectedProfile(*List1) == 0) {
        ui::MsgBox(QString::fromLatin1(kInvalidSelection), ui::vbCritical);
        return;
    }
    apply();
}

void Form10::List1_DblClick()
{
    if (SelectedProfile(*List1) != 0) apply();
}

void Form10::Command2_Click() { reject(); }

void Form10::apply()
{
    ui::SetMousePointer(ui::vbHourglass);
    bool done;
    if (VariantEqualsNumber(Mode, 1)) done = ApplyProfileToSelectedAddresses();
    else if (VariantEqualsNumber(Mode, 2)) done = ApplyProfileToFolder();
    else done = ApplyProfileToMessageSenders();
    ui::SetMousePointer(ui::vbArrow);
    if (done) accept();
}

bool Form10::readProfile(Profile& p)
{
    try {
        if (ReadProfile(DBConnection(), SelectedProfile(*List1), p)) return true;
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromLatin1(kNotFound), ui::vbCritical);
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromLatin1(kProcessing) + QStringLiteral("\n") + e.message(), ui::vbCritical);
    }
    return false;
}

bool Form10::applyToAddresses(const std::vector<qint64>& recIds)
{
    Profile p;
    if (!readProfile(p)) return false;
    db::Connection& c = DBConnection();
    ApplyCount count;
    try {
        bool missing = false;
        const qint64 target = TargetListFolder(c, p.TargetDravonelFolderID, &missing);
        if (missing) {
            ui::SetMousePointer(ui::vbArrow);
            ui::MsgBox(QString::fromLatin1(kMissingFolder), ui::vbCritical);
            ui::SetMousePointer(ui::vbHourglass);
        }
        Progress progress(int(recIds.size()), QStringLiteral("Applying Profile: ") + p.Description);
        // Batches small enough for the bar to move, large enough to keep the set statements fast.
        const int batch = qBound(100, int(recIds.size() / 100), 2000);
        count = ApplyProfileToAddresses(c, p, target, recIds, [&](int done) { progress.Step(done); }, batch);
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromLatin1(kProcessing) + QStringLiteral("\n") + e.message(), ui::vbCritical);
        return false;
    }
    if (Form1* f = Form1::Instance()) {
        if (ui::TreeNode* node = f->TreeView1->SelectedItem()) f->LoadEmailAddresses(node);
    }
    if (count.unusable > 0) {
        QStringList lines{QStringLiteral("The profile would store \"%1\" as the e-mail address, and that is not an e-mail "
                                         "address.  %2 of %3 addresses were left as they were:")
                              .arg(mail::send::ShowHiddenCharacters(count.unusableEmail), QString::number(count.unusable),
                                   QString::number(recIds.size()))};
        lines << count.unusableNames;
        if (count.unusable > count.unusableNames.size())
            lines << QStringLiteral("... and %1 more.").arg(count.unusable - count.unusableNames.size());
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(lines.join(QLatin1Char('\n')), ui::vbCritical);
    }
    if (count.failed > 0) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("The profile could not be applied to %1 of %2 addresses.\n%3")
                       .arg(count.failed)
                       .arg(recIds.size())
                       .arg(count.lastError),
                   ui::vbCritical);
    }
    return true;
}

bool Form10::ApplyProfileToSelectedAddresses()
{
    std::vector<qint64> ids;
    if (Form1* f = Form1::Instance()) {
        ui::DataGridSelBookmarks& sel = f->TDBGrid2->SelBookmarks();
        ids.reserve(size_t(sel.Count()));
        for (int i = 0; i < sel.Count(); ++i) {
            const int row = int(Val(sel.Item(i)));
            if (f->ex->ContainsRow(row)) ids.push_back(qint64(Val(NullToZero(f->ex->Value(row, 4)))));
        }
    }
    return applyToAddresses(ids);
}

bool Form10::ApplyProfileToFolder()
{
    std::vector<qint64> ids;
    Form1* f = Form1::Instance();
    ui::TreeNode* node = f ? f->TreeView1->SelectedItem() : nullptr;
    if (node && IsDravonelFolderNode(node)) {
        try {
            db::Statement st = DBConnection().Prepare(
                IsTopLevelNode(node) ? QStringLiteral("SELECT RecID FROM MasterList;")
                                     : QStringLiteral("SELECT MasterRecID as RecID FROM ListMembers WHERE FolderRecID = ") +
                                           QString::number(FolderRecIDFromKey(node->Key())) + QStringLiteral(";"));
            st.Exec();
            while (st.Next()) ids.push_back(NullToZero(st.Value(0)).toLongLong());
        } catch (const std::exception& e) {
            ui::SetMousePointer(ui::vbArrow);
            ui::MsgBox(QString::fromLatin1(kProcessing) + QStringLiteral("\n") + reason(e), ui::vbCritical);
            return false;
        }
    }
    return applyToAddresses(ids);
}

bool Form10::ApplyProfileToMessageSenders()
{
    Profile p;
    if (!readProfile(p)) return false;
    Form1* f = Form1::Instance();
    db::Connection& c = DBConnection();

    mail::FolderPtr targetFolder;
    qint64 targetList = 0;
    bool missing = false;
    std::unique_ptr<ProfileWriter> writer;
    QStringList entryIds;
    try {
        const QString targetId = p.TargetEmailFolderEntryID.trimmed();
        if (!targetId.isEmpty()) targetFolder = RequireNameSpace()->GetFolderFromID(targetId);
        targetList = TargetListFolder(c, p.TargetDravonelFolderID, &missing);
        writer = std::make_unique<ProfileWriter>(c, p, targetList, QDateTime::currentDateTime());
        if (f) {
            ui::DataGridSelBookmarks& sel = f->TDBGrid1->SelBookmarks();
            for (int i = 0; i < sel.Count(); ++i) {
                const int row = int(Val(sel.Item(i)));
                if (f->xa->ContainsRow(row)) entryIds << f->xa->Value(row, 8).toString();
            }
        }
    } catch (const std::exception& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromLatin1(kProcessing) + QStringLiteral("\n") + reason(e), ui::vbCritical);
        return false;
    }
    if (missing) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromLatin1(kMissingFolder), ui::vbCritical);
        ui::SetMousePointer(ui::vbHourglass);
    }

    int skipped = 0;
    int failed = 0;
    QStringList unusable;  // the messages whose presets would store no usable address
    int unmoved = 0;
    QString lastError;
    QString lastMoveError;
    QSet<QString> moved;
    {
        Progress progress(int(entryIds.size()), QStringLiteral("Applying Profile: ") + p.Description);
        int done = 0;
        for (const QString& id : std::as_const(entryIds)) {
            QString name;  // the message, as a report names it
            try {
                const mail::MailItemPtr item = mail::AsMailItem(RequireNameSpace()->GetItemFromID(id));
                if (!item) throw mail::MailError(QStringLiteral("The item is not a mail message."));
                const QString address = GetMessageAddress(item).trimmed();
                // A correspondent known by name only has no address to store.
                if (!AddressImport::LooksLikeAddress(address)) {
                    ++skipped;
                } else {
                    std::optional<QString> body;
                    auto tagText = [&](const QString& tag) {
                        if (!body) body = item->Body();
                        return GetTaggedText(tag, *body).toString();
                    };
                    // The rows are stored before the message moves: a refused commit then moves
                    // nothing, and a refused move loses nothing stored.
                    name = QStringLiteral("\"%1\" from %2").arg(item->Subject(), address);
                    auto tx = c.BeginTrans();
                    writer->ApplyToSender(address, tagText);
                    tx.Commit();
                    if (targetFolder) {
                        try {
                            const mail::FolderPtr from = item->Parent();
                            if (!from || from->EntryID().compare(targetFolder->EntryID(), Qt::CaseInsensitive) != 0) {
                                item->Move(targetFolder);
                                moved.insert(id);
                            }
                        } catch (const std::exception& e) {
                            ++unmoved;
                            lastMoveError = reason(e);
                        }
                    }
                }
            } catch (const UnusableEmailError& e) {
                // Nothing was written: the message stays where it is, its correspondent as it was.
                unusable << QStringLiteral("%1: \"%2\"").arg(name, mail::send::ShowHiddenCharacters(e.value));
            } catch (const std::exception& e) {
                ++failed;
                lastError = reason(e);
            }
            progress.Step(++done);
        }
    }

    if (f && !moved.isEmpty()) f->RemoveMessageRows(moved);
    if (skipped > 0 || !unusable.isEmpty() || failed > 0 || unmoved > 0) {
        QStringList lines;
        if (skipped > 0)
            lines << QStringLiteral("%1 of %2 messages were passed over: their correspondent has no e-mail address.")
                         .arg(skipped)
                         .arg(entryIds.size());
        if (!unusable.isEmpty()) {
            lines << QStringLiteral("%1 of %2 messages were left where they are, and their correspondents as they were: "
                                    "the profile would store as the e-mail address what is not one.")
                         .arg(unusable.size())
                         .arg(entryIds.size());
            lines << unusable.mid(0, kNamedMessages);
            if (unusable.size() > kNamedMessages)
                lines << QStringLiteral("... and %1 more.").arg(unusable.size() - kNamedMessages);
        }
        if (failed > 0)
            lines << QStringLiteral("%1 of %2 messages could not be processed and were left where they are.\n%3")
                         .arg(failed)
                         .arg(entryIds.size())
                         .arg(lastError);
        if (unmoved > 0)
            lines << QStringLiteral("%1 of %2 messages could not be moved: their correspondents were stored and the messages "
                                    "left where they are.\n%3")
                         .arg(unmoved)
                         .arg(entryIds.size())
                         .arg(lastMoveError);
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(lines.join(QStringLiteral("\n")), ui::vbCritical);
    }
    return true;
}

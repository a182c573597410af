#include "platform/mail/windows/MailWindows.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/mail/MailItem.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/ui/CommonDialog.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"

namespace mail {

namespace {

// How long a window brought forward may take to become the active one.
constexpr int kActivationWaitMs = 1000;

QHash<const Inspector*, QPointer<QDialog>>& openWindows()
{
    static QHash<const Inspector*, QPointer<QDialog>> windows;
    return windows;
}

QLabel* plainLabel(QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// An HTML body viewer that loads nothing: no images, no style sheets, no links followed.
class QuietBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

// "Name <address>" per recipient of one kind, as the fields show and take them.
QString recipientsText(MailItem& item, int type)
{
    QStringList parts;
    Recipients& r = item.Recipients();
    for (int i = 1; i <= r.Count(); ++i) {
        const RecipientPtr p = r.Item(i);
        if (p->Type() != type)
            continue;
        const bool named = !p->Address().isEmpty() && p->Name() != p->Address();
        parts << (named ? QStringLiteral("%1 <%2>").arg(p->Name(), p->Address()) : p->Name());
    }
    return parts.join(QStringLiteral("; "));
}

// Attachments are opened from a folder only this user can read, kept until the program ends
// (the program that opens a file may still be reading it after the window is gone).
QString privateCopyFolder()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/ferrowyn-attachments-XXXXXX"));
    if (!dir.isValid())
        return {};
    static int serial = 0;
    const QString sub = dir.path() + QLatin1Char('/') + QString::number(++serial);
    if (!QDir().mkpath(sub))
        return {};
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return sub;
}

void track(const InspectorPtr& ins, QDialog* window) { openWindows().insert(ins.get(), window); }

// Shows, raises and activates a window, and waits a moment for the window manager to make it the
// active one: a message box asked next comes up over the active window.
void bringForward(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
    // Not a nested event loop: one would end at once while the program is quitting.
    const QDeadlineTimer deadline(kActivationWaitMs);
    QTimer tick;  // wakes the wait below
    tick.start(10);
    while (!window.isActiveWindow() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

void untrack(const InspectorPtr& ins, QDialog* window)
{
    auto it = openWindows().find(ins.get());
    if (it != openWindows().end() && (it.value().isNull() || it.value() == window))
        openWindows().erase(it);
}

} // namespace

QDialog* WindowOf(const Inspector& inspector)
{
    const QPointer<QDialog> w = openWindows().value(&inspector);
    return w.data();
}

bool CloseComposeWindows()
{
    // A copy: each close deletes its window and takes it off the list.
    const QList<QPointer<QDialog>> windows = openWindows().values();
    for (const QPointer<QDialog>& w : windows) {
        auto* compose = qobject_cast<ComposeWindow*>(w.data());
        if (!compose)
            continue;
        // The question about its changes comes up over the window it is about, in front.
        if (compose->isModified())
            bringForward(*compose);
        if (w && !w->close())
            return false;
    }
    return true;
}

// ---- message window ----

namespace {
// Whether w is a window that came up over window, as its boxes and dialogs do.
bool isOwnWindow(const QWidget* w, const QWidget* window)
{
    for (; w; w = w->parentWidget())
        if (w == window)
            return true;
    return false;
}
// How often the window reads where its message stands; while an answer is awaited, more often.
constexpr int kStatusEveryMs = 1000;
constexpr int kAwaitedEveryMs = 200;
} // namespace

MessageWindow::MessageWindow(const MailItemPtr& item, QWidget* parent)
    : QDialog(parent), item_(item), inspector_(item->GetInspector())
{
    setWindowTitle(item->Subject().isEmpty() ? QStringLiteral("Message") : item->Subject());
    auto* form = new QFormLayout;
    lblFrom = plainLabel(this);
    lblSent = plainLabel(this);
    lblTo = plainLabel(this);
    lblCC = plainLabel(this);
    lblSubject = plainLabel(this);
    showSender();
    lblTo->setText(recipientsText(*item, olTo));
    lblCC->setText(recipientsText(*item, olCC));
    // A message to thousands would widen the window past any screen: the lists end at its edge.
    for (QLabel* l : {lblTo, lblCC})
        l->setSizePolicy(QSizePolicy::Ignored, l->sizePolicy().verticalPolicy());
    lblSubject->setText(item->Subject());
    if (item->isInOutbox()) {
        lblSending = plainLabel(this);
        lblSending->setWordWrap(true);
        cmdSendAgain = new QPushButton(QStringLiteral("Send &Again"), this);
        cmdEdit = new QPushButton(QStringLiteral("&Edit"), this);
        cmdDelete = new QPushButton(QStringLiteral("&Delete"), this);
        connect(cmdSendAgain, &QPushButton::clicked, this, [this] { SendAgain_Click(); });
        connect(cmdEdit, &QPushButton::clicked, this, [this] { Edit_Click(); });
        connect(cmdDelete, &QPushButton::clicked, this, [this] { Delete_Click(); });
        for (QPushButton* b : {cmdSendAgain, cmdEdit, cmdDelete})
            b->setAutoDefault(false);  // Enter in the body presses nothing
        statusTimer_ = new QTimer(this);
        connect(statusTimer_, &QTimer::timeout, this, &MessageWindow::ShowSendingStatus);
        statusTimer_->start(kStatusEveryMs);
    }
    form->addRow(QStringLiteral("From:"), lblFrom);
    form->addRow(QStringLiteral("Sent:"), lblSent);
    form->addRow(QStringLiteral("To:"), lblTo);
    form->addRow(QStringLiteral("Cc:"), lblCC);
    form->addRow(QStringLiteral("Subject:"), lblSubject);

    auto* layout = new QVBoxLayout(this);
    if (lblSending) {
        auto* bar = new QHBoxLayout;
        bar->addWidget(lblSending, 1);
        bar->addWidget(cmdSendAgain);
        bar->addWidget(cmdEdit);
        bar->addWidget(cmdDelete);
        layout->addLayout(bar);
        ShowSendingStatus();
    }
    layout->addLayout(form);
    const QString html = item->HTMLBody();
    if (!html.isEmpty()) {
        htmlBody = new QuietBrowser(this);
        htmlBody->setOpenLinks(false);
        htmlBody->setOpenExternalLinks(false);
        htmlBody->setHtml(html);
        layout->addWidget(htmlBody, 1);
    } else {
        txtBody = new QPlainTextEdit(this);
        txtBody->setReadOnly(true);
        txtBody->setPlainText(item->Body());
        layout->addWidget(txtBody, 1);
    }
    lstAttachments = new QListWidget(this);
    Attachments& atts = item->Attachments();
    for (int i = 1; i <= atts.Count(); ++i)
        lstAttachments->addItem(atts.Item(i)->FileName());
    lstAttachments->setVisible(atts.Count() > 0);
    lstAttachments->setMaximumHeight(80);
    layout->addWidget(lstAttachments);
    connect(lstAttachments, &QListWidget::itemActivated, this, [this](QListWidgetItem* it) { OpenAttachment(lstAttachments->row(it) + 1); });
    resize(640, 480);
    track(inspector_, this);
}

MessageWindow::~MessageWindow() { untrack(inspector_, this); }

void MessageWindow::showSender()
{
    const QString address = item_->SenderEmailAddress();
    lblFrom->setText(address.isEmpty() || address == item_->SenderName() ? item_->SenderName()
                                                                          : QStringLiteral("%1 <%2>").arg(item_->SenderName(), address));
    lblSent->setText(item_->SentOn().isValid() ? QLocale().toString(item_->SentOn(), QLocale::LongFormat) : QString());
}

bool MessageWindow::OpenAttachment(int index)
{
    try {
        const AttachmentPtr a = item_->Attachments().Item(index);
        const QString folder = privateCopyFolder();
        if (folder.isEmpty())
            throw MailError(QStringLiteral("No folder could be made to open the attachment from."));
        const QString path = folder + QLatin1Char('/') + a->FileName();
        a->SaveAsFile(path);
        return ui::OpenDocument(path);
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        return false;
    }
}

namespace {
const QString kBeingSent = QString::fromLatin1(send::kBeingSentText);
} // namespace

void MessageWindow::ShowSendingStatus()
{
    if (!lblSending)
        return;
    const send::QueueStatus st = item_->SendingStatus();
    const QString& answer = st.answer;
    // Sent again, the message waits with no answer and no attempt until its transfer has ended.
    const bool answered = st.state == send::QueueState::Refused || st.state == send::QueueState::MaybeDelivered ||
                          (st.state == send::QueueState::Waiting && (st.attempts > 0 || !st.answer.isEmpty()));
    if (awaitingAnswer_ && (answered || st.state == send::QueueState::Delivered || st.state == send::QueueState::NotQueued)) {
        awaitingAnswer_ = false;
        statusTimer_->setInterval(kStatusEveryMs);
        if (answered) {
            answeredAt_ = QDateTime::currentDateTime();
            answered_ = st;
        }
    }
    QString text;
    bool again = false, edit = true, remove = true;
    switch (st.state) {
    case send::QueueState::Waiting:
        again = true;
        text = send::TellWaiting(st, item_->FilePath(), send::LoadAccounts());
        break;
    case send::QueueState::Sending:
        text = QStringLiteral("This message is being sent at this moment.");
        edit = remove = false;
        break;
    case send::QueueState::Refused:
        again = true;
        text = QStringLiteral("This message was not sent: %1\nIt will not be tried again unless you send it again.").arg(answer);
        break;
    case send::QueueState::MaybeDelivered:
        again = true;
        text = answer;
        break;
    case send::QueueState::Delivered:
        edit = false;
        text = answer.isEmpty() ? QStringLiteral("This message has been sent.") : answer;
        break;
    case send::QueueState::NotQueued:
        text = QStringLiteral("This message was put in the Outbox by other means and will not be sent. "
                              "To send it, choose Edit, check its recipients and send it from there.");
        break;
    }
    // Recipients that fared differently are told one by one.
    if (const QStringList each = send::TellRecipients(st, item_->FilePath()); !each.isEmpty())
        text = each.join(QLatin1Char('\n'));
    // Refused or possibly delivered (a waiting one says it already): Send Again sends it through
    // another account when its own is gone.
    if (again && st.state != send::QueueState::Waiting)
        text = send::WithAccountMissing(text, send::TellAccountMissing(item_->FilePath(), send::LoadAccounts()));
    if (answeredAt_.isValid() && st == answered_)
        text += QStringLiteral("\nThat answer came at %1, after you sent it again.").arg(answeredAt_.toString(QStringLiteral("HH:mm:ss")));
    if (!item_->isInOutbox() || (st.state == send::QueueState::NotQueued && !QFileInfo::exists(item_->FilePath()))) {
        text = QStringLiteral("This message is no longer in the Outbox.");
        again = edit = remove = false;
    }
    lblSending->setText(text);
    cmdSendAgain->setEnabled(again);
    cmdEdit->setEnabled(edit);
    cmdDelete->setEnabled(remove);
}

bool MessageWindow::SendAgain_Click()
{
    const QString from = item_->SenderEmailAddress();
    try {
        item_->Send();
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        ShowSendingStatus();
        return false;
    }
    // Written afresh through another account (its own is gone): the window shows what goes, and
    // the user is told that the sender changed.
    showSender();
    awaitingAnswer_ = true;
    answeredAt_ = {};
    statusTimer_->setInterval(kAwaitedEveryMs);
    ShowSendingStatus();
    if (const QString now = item_->SenderEmailAddress(); send::AddressKey(now) != send::AddressKey(from)) {
        const std::optional<send::Account> fallback = send::DefaultAccount(send::LoadAccounts());
        const bool isDefault = fallback && fallback->name == item_->SendUsingAccount();
        ui::MsgBox(QStringLiteral("This message now goes through \"%1\"%2, and is sent from %3%4.")
                       .arg(item_->SendUsingAccount(), isDefault ? QStringLiteral(", your default account") : QString(), now,
                            from.isEmpty() ? QString() : QStringLiteral(" instead of ") + from),
                   ui::vbInformation);
    }
    return true;
}

bool MessageWindow::Edit_Click()
{
    if (!item_->HoldSending()) {
        ui::MsgBox(kBeingSent, ui::vbCritical);
        ShowSendingStatus();
        return false;
    }
    // The compose window takes the message over; it gives it back to the queue when it closes.
    const MailItemPtr item = item_;
    auto* w = new ComposeWindow(item);
    w->setAttribute(Qt::WA_DeleteOnClose);
    // The inspector is the compose window's now: this one going must not close it.
    wasActive_ = false;
    handedOver_ = true;
    close();
    w->show();
    w->raise();
    w->activateWindow();
    return true;
}

bool MessageWindow::Delete_Click()
{
    try {
        item_->Delete();
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        ShowSendingStatus();
        return false;
    }
    close();
    return true;
}

void MessageWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || handedOver_)
        return;
    if (isActiveWindow()) {
        wasActive_ = true;
        left_ = false;
        return;
    }
    // A box over the window (boxes come up over the active window) is part of it.
    if (!wasActive_ || isOwnWindow(QApplication::activeWindow(), this))
        return;
    left_ = true;
    deactivateWhenFree();
}

bool MessageWindow::event(QEvent* event)
{
    // A box or dialog of its own is gone (its event loop has ended): a Deactivate held back for it.
    if (event->type() == QEvent::ChildRemoved && left_)
        QMetaObject::invokeMethod(this, &MessageWindow::deactivateWhenFree, Qt::QueuedConnection);
    return QDialog::event(event);
}

void MessageWindow::deactivateWhenFree()
{
    // Closing deletes the window. A box of its own (a command's, or the late news of an opener)
    // runs an event loop that would delete it there, and the box with it, from under the box and
    // whatever showed it.
    if (!left_ || handedOver_ || !findChildren<QDialog*>().isEmpty())
        return;
    left_ = wasActive_ = false;
    Q_EMIT inspector_->Deactivate();
}

// ---- compose window ----

static QString composeTitle(const QString& subject)
{
    return subject.isEmpty() ? QStringLiteral("Untitled - Message") : subject + QStringLiteral(" - Message");
}

ComposeWindow::ComposeWindow(const MailItemPtr& item, QWidget* parent)
    : QDialog(parent), item_(item), inspector_(item->GetInspector())
{
    setWindowTitle(composeTitle(item->Subject()));
    txtTo = new QLineEdit(recipientsText(*item, olTo), this);
    txtCC = new QLineEdit(recipientsText(*item, olCC), this);
    txtBCC = new QLineEdit(recipientsText(*item, olBCC), this);
    txtSubject = new QLineEdit(item->Subject(), this);
    txtBody = new QPlainTextEdit(this);
    txtBody->setPlainText(item->Body());
    lstAttachments = new QListWidget(this);
    lstAttachments->setMaximumHeight(80);
    fillAttachments();
    cmdSend = new QPushButton(QStringLiteral("&Send"), this);
    cmdSave = new QPushButton(QStringLiteral("Sa&ve"), this);
    cmdAttach = new QPushButton(QStringLiteral("&Attach..."), this);
    cmdRemoveAttachment = new QPushButton(QStringLiteral("&Remove Attachment"), this);
    for (QPushButton* b : {cmdSend, cmdSave, cmdAttach, cmdRemoveAttachment})
        b->setAutoDefault(false);  // Enter in a header box presses nothing

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdSend);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdAttach);
    buttons->addWidget(cmdRemoveAttachment);
    buttons->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("To:"), txtTo);
    form->addRow(QStringLiteral("Cc:"), txtCC);
    form->addRow(QStringLiteral("Bcc:"), txtBCC);
    form->addRow(QStringLiteral("Subject:"), txtSubject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(form);
    layout->addWidget(txtBody, 1);
    layout->addWidget(lstAttachments);

    // A reply or forward comes with text the user has not written yet: only edits count.
    connect(txtTo, &QLineEdit::textEdited, this, [this] { recipientsEdited_[0] = modified_ = true; });
    connect(txtCC, &QLineEdit::textEdited, this, [this] { recipientsEdited_[1] = modified_ = true; });
    connect(txtBCC, &QLineEdit::textEdited, this, [this] { recipientsEdited_[2] = modified_ = true; });
    connect(txtSubject, &QLineEdit::textEdited, this, [this] { subjectEdited_ = modified_ = true; });
    connect(txtBody, &QPlainTextEdit::textChanged, this, [this] { bodyEdited_ = modified_ = true; });
    connect(cmdSend, &QPushButton::clicked, this, [this] { Send_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { Save_Click(); });
    connect(cmdAttach, &QPushButton::clicked, this, [this] { Attach_Click(); });
    connect(cmdRemoveAttachment, &QPushButton::clicked, this, [this] { RemoveAttachment_Click(); });
    resize(640, 480);
    track(inspector_, this);
}

ComposeWindow::~ComposeWindow()
{
    untrack(inspector_, this);
    item_->ReleaseSending();
}

void ComposeWindow::fillAttachments()
{
    lstAttachments->clear();
    Attachments& atts = item_->Attachments();
    for (int i = 1; i <= atts.Count(); ++i)
        lstAttachments->addItem(atts.Item(i)->FileName());
}

void ComposeWindow::apply()
{
    if (recipientsEdited_[0])
        item_->SetTo(txtTo->text());
    if (recipientsEdited_[1])
        item_->SetCC(txtCC->text());
    if (recipientsEdited_[2])
        item_->SetBCC(txtBCC->text());
    if (subjectEdited_)
        item_->SetSubject(txtSubject->text());
    if (bodyEdited_) {
        item_->SetBody(txtBody->toPlainText());
        // The HTML version would still say what the user has just rewritten.
        if (!item_->HTMLBody().isEmpty())
            item_->SetHTMLBody(QString());
    }
}

bool ComposeWindow::Send_Click()
{
    try {
        apply();
        item_->Send();
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        return false;
    }
    modified_ = false;
    close();
    return true;
}

bool ComposeWindow::Save_Click()
{
    try {
        apply();
        item_->Save();
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        return false;
    }
    modified_ = bodyEdited_ = subjectEdited_ = false;
    recipientsEdited_[0] = recipientsEdited_[1] = recipientsEdited_[2] = false;
    setWindowTitle(composeTitle(item_->Subject()));
    return true;
}

bool ComposeWindow::Attach_Click()
{
    ui::CommonDialog dlg;
    dlg.DialogTitle = QStringLiteral("Insert File");
    dlg.Filter = QStringLiteral("All Files (*.*)|*.*");
    dlg.Flags = ui::CommonDialog::cdlOFNFileMustExist | ui::CommonDialog::cdlOFNHideReadOnly;
    if (!dlg.ShowOpen() || dlg.FileName.isEmpty())
        return false;
    return AttachFile(dlg.FileName);
}

bool ComposeWindow::AttachFile(const QString& path)
{
    try {
        item_->Attachments().Add(path, olByValue);
    } catch (const MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
        return false;
    }
    modified_ = true;
    fillAttachments();
    return true;
}

void ComposeWindow::RemoveAttachment_Click()
{
    const int row = lstAttachments->currentRow();
    if (row < 0)
        return;
    item_->Attachments().Remove(row + 1);
    modified_ = true;
    fillAttachments();
}

bool ComposeWindow::mayClose()
{
    if (!modified_)
        return true;
    const int answer = ui::MsgBox(QStringLiteral("Do you want to save changes?"), ui::vbYesNoCancel | ui::vbQuestion);
    if (answer == ui::vbCancel || (answer == ui::vbYes && !Save_Click()))
        return false;
    modified_ = false;
    return true;
}

void ComposeWindow::closeEvent(QCloseEvent* event)
{
    if (mayClose())
        event->accept();
    else
        event->ignore();
}

void ComposeWindow::done(int result)
{
    if (mayClose())
        QDialog::done(result);
}

// ---- printing ----

void PrintMessage(const MailItemPtr& item)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    const QTextCharFormat plain;
    auto line = [&](const QString& label, const QString& value) {
        if (value.isEmpty())
            return;
        c.insertText(label + QLatin1Char(' '), bold);
        c.insertText(value + QLatin1Char('\n'), plain);
    };
    const QString address = item->SenderEmailAddress();
    line(QStringLiteral("From:"), address.isEmpty() || address == item->SenderName() ? item->SenderName()
                                                                                     : QStringLiteral("%1 <%2>").arg(item->SenderName(), address));
    line(QStringLiteral("Sent:"), item->SentOn().isValid() ? QLocale().toString(item->SentOn(), QLocale::LongFormat) : QString());
    line(QStringLiteral("To:"), recipientsText(*item, olTo));
    line(QStringLiteral("Cc:"), recipientsText(*item, olCC));
    line(QStringLiteral("Subject:"), item->Subject());
    QStringList names;
    Attachments& atts = item->Attachments();
    for (int i = 1; i <= atts.Count(); ++i)
        names << atts.Item(i)->FileName();
    line(QStringLiteral("Attachments:"), names.join(QStringLiteral("; ")));
    c.insertText(QStringLiteral("\n") + item->Body(), plain);
    QPrinter& printer = ui::Printer();
    doc.print(&printer);
}

// ---- hooks ----

void InstallWindowHooks()
{
    Hooks().display = [](const MailItemPtr& item, bool modal) {
        const InspectorPtr ins = item->GetInspector();
        QDialog* w = WindowOf(*ins);
        if (!w) {
            if (item->isComposing())
                w = new ComposeWindow(item);
            else
                w = new MessageWindow(item);
            w->setAttribute(Qt::WA_DeleteOnClose);
            // Over a modal dialog an ordinary window would be blocked by it, neither readable
            // nor closable until the dialog ends: it takes its turn as the modal window.
            if (QApplication::activeModalWidget()) w->setWindowModality(Qt::ApplicationModal);
        }
        if (modal) {
            ui::ShowModal(w);
            return;
        }
        w->show();
        w->raise();
        w->activateWindow();
    };
    Hooks().closeInspector = [](Inspector& ins, int saveMode) {
        QDialog* w = WindowOf(ins);
        if (!w)
            return;
        if (auto* compose = qobject_cast<ComposeWindow*>(w)) {
            // Only an explicit save skips the question; anything else leaves it to the user.
            if (saveMode == olSave && compose->isModified() && !compose->Save_Click())
                return;
            compose->close();
            return;
        }
        w->close();
    };
    Hooks().printOut = [](const MailItemPtr& item) { PrintMessage(item); };
}

} // namespace mail

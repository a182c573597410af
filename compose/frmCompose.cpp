#include "compose/frmCompose.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "compose/Form15.h"
#include "compose/Form17.h"
#include "compose/Form18.h"
#include "compose/Form20.h"
#include "compose/Form24.h"
#include "compose/qelPopup.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/ThemeIcon.h"
#include "platform/ui/WindowPlacement.h"
#include "platform/ui/UiServices.h"
#include "profiles/DelimitedReader.h"

namespace {
constexpr double kTw = 15.0;
int px(double twips) { return qRound(twips / kTw); }
double tw(int pixels) { return pixels * kTw; }

double Top(const QWidget* w) { return tw(w->y()); }
double Height(const QWidget* w) { return tw(w->height()); }
double NextTop(const QWidget* w) { return Top(w) + Height(w) + 3 * kTw; }
void setTop(QWidget* w, double t) { w->move(w->x(), px(t)); }
void setWidth(QWidget* w, double width)
{
    if (width >= 0) w->resize(px(width), w->height());
}

// Design positions, twips.
constexpr double kButtonLeft = 60, kButtonWidth = 1200, kBoxLeft = 1320, kRowHeight = 315, kToRowTop = 480;
constexpr double kSlotWidth = 1080, kIconHeight = 480, kLabelHeight = 255, kStripHeight = 840;
} // namespace

frmCompose::frmCompose(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmCompose"));
    setWindowTitle(QStringLiteral("Message"));
    buildControls();
    buildMenus();
    buildToolbar();
    Form_Load();
}

frmCompose::~frmCompose() { Form_Unload(); }

QAction* frmCompose::Toolbar1(int index, int button) const
{
    if (index < 0 || index > 16 || button < 1 || button > 2) return nullptr;
    return toolbar1_[size_t(index)][size_t(button - 1)];
}

void frmCompose::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar = new QMenuBar(this);
    layout->setMenuBar(menuBar);
    client = new QWidget(this);
    layout->addWidget(client, 1);
    // Outside the client area, whose layout stays as it is.
    lblSendOutcome = new QLabel(this);
    lblSendOutcome->setTextFormat(Qt::PlainText);
    lblSendOutcome->setWordWrap(true);
    lblSendOutcome->setFrameShape(QFrame::StyledPanel);
    lblSendOutcome->setFrameShadow(QFrame::Sunken);
    lblSendOutcome->setContentsMargins(4, 2, 4, 2);
    lblSendOutcome->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Maximum);
    lblSendOutcome->hide();
    layout->addWidget(lblSendOutcome);
    client->installEventFilter(this);  // the layout sizes it after the window's own resize

    toolbar = new QToolBar(client);
    toolbar->setIconSize(QSize(16, 16));
    toolbar->move(0, 0);

    auto row = [this](QPushButton*& button, const QString& caption, QLineEdit*& box, double top) {
        button = new QPushButton(caption, client);
        button->setAutoDefault(false);  // Enter in a header box presses nothing
        button->setGeometry(px(kButtonLeft), px(top), px(kButtonWidth), px(kRowHeight));
        box = new QLineEdit(client);
        box->setGeometry(px(kBoxLeft), px(top), px(4000), px(kRowHeight));
        box->installEventFilter(this);
    };
    row(CommandTo, QStringLiteral("To ..."), txtTo, kToRowTop);
    row(CommandCC, QStringLiteral("Cc ..."), txtCC, kToRowTop + kRowHeight + 45);
    row(CommandBCC, QStringLiteral("Bcc ..."), txtBCC, kToRowTop + 2 * (kRowHeight + 45));
    row(CommandReplyTo, QStringLiteral("Reply To"), txtReplyTo, kToRowTop + 3 * (kRowHeight + 45));
    txtTo->setReadOnly(true);
    txtTo->setFocusPolicy(Qt::NoFocus);
    lblSubject = new QLabel(QStringLiteral("Subject:"), client);
    lblSubject->setGeometry(px(kButtonLeft), px(kToRowTop + 4 * (kRowHeight + 45)), px(kButtonWidth), px(255));
    txtSubject = new QLineEdit(client);
    txtSubject->setGeometry(px(kBoxLeft), px(kToRowTop + 4 * (kRowHeight + 45)), px(4000), px(kRowHeight));
    txtSubject->installEventFilter(this);
    connect(CommandTo, &QPushButton::clicked, this, [this] { CommandTo_Click(); });

    txtMsg = new QTextEdit(client);
    txtMsg->setAcceptRichText(false);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    txtMsg->setFont(courier);
    txtMsg->installEventFilter(this);
    txtMsg->viewport()->installEventFilter(this);
    // The body's own popup list is the only menu a right press brings up.
    txtMsg->setContextMenuPolicy(Qt::PreventContextMenu);
    txtMsg->viewport()->setContextMenuPolicy(Qt::PreventContextMenu);

    picA = new QWidget(client);
    picA->resize(px(9000), px(kStripHeight));
    for (int i = 0; i < 10; ++i) {
        auto* icon = new QToolButton(picA);
        icon->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
        icon->setAutoRaise(true);
        icon->setFocusPolicy(Qt::StrongFocus);
        icon->setProperty("slot", i);
        icon->installEventFilter(this);
        auto* label = new QLabel(picA);
        label->setTextFormat(Qt::PlainText);
        label->setAutoFillBackground(true);
        label->setProperty("slot", i);
        label->installEventFilter(this);
        Attachment[size_t(i)] = icon;
        AttachmentLabel[size_t(i)] = label;
    }

    qelPopup1 = new qelPopup(this);
    qelPopup2 = new qelPopup(this);
    connect(qelPopup1, &qelPopup::SelectionMade, this, &frmCompose::qelPopup1_SelectionMade);
    connect(qelPopup2, &qelPopup::SelectionMade, this, &frmCompose::qelPopup2_SelectionMade);
    connect(qelPopup2, &qelPopup::FocusLost, this, &frmCompose::qelPopup2_LostFocus);
}

void frmCompose::buildMenus()
{
    auto add = [this](QMenu* m, const QString& caption, void (frmCompose::*slot)()) {
        QAction* a = m->addAction(caption);
        connect(a, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        return a;
    };
    filem = menuBar->addMenu(QStringLiteral("&File"));
    filemNew = add(filem, QStringLiteral("New"), &frmCompose::filemNew_Click);
    filem->addSeparator();
    filemOpen = add(filem, QStringLiteral("&Open"), &frmCompose::filemOpen_Click);
    filem->addSeparator();
    filemSave = add(filem, QStringLiteral("&Save"), &frmCompose::filemSave_Click);
    filemSaveAs = add(filem, QStringLiteral("Save As..."), &frmCompose::filemSaveAs_Click);
    filem->addSeparator();
    filemDelete = add(filem, QStringLiteral("Delete"), &frmCompose::filemDelete_Click);
    filem->addSeparator();
    filemPrint = add(filem, QStringLiteral("&Print"), &frmCompose::filemPrint_Click);
    filemPrintSetup = add(filem, QStringLiteral("Print Setup"), &frmCompose::filemPrintSetup_Click);
    filem->addSeparator();
    filemPreview = add(filem, QStringLiteral("Preview As HTML"), &frmCompose::filemPreview_Click);
    filem->addSeparator();
    filemExit = add(filem, QStringLiteral("E&xit"), &frmCompose::filemExit_Click);

    editm = menuBar->addMenu(QStringLiteral("&Edit"));
    editmCut = add(editm, QStringLiteral("Cut"), &frmCompose::editmCut_Click);
    editmCopy = add(editm, QStringLiteral("Copy"), &frmCompose::editmCopy_Click);
    editmPaste = add(editm, QStringLiteral("Paste"), &frmCompose::editmPaste_Click);
    editm->addSeparator();
    editmSelectAll = add(editm, QStringLiteral("Select All"), &frmCompose::editmSelectAll_Click);
    editm->addSeparator();
    editmInsertMergeField = add(editm, QStringLiteral("Insert Merge Field"), &frmCompose::editmInsertMergeField_Click);
    editmInsertText = add(editm, QStringLiteral("Insert Text File"), &frmCompose::editmInsertText_Click);
    editmInsertAttachment = add(editm, QStringLiteral("Insert Attachment"), &frmCompose::editmInsertAttachment_Click);
    editmInsertSignature = editm->addAction(QStringLiteral("Insert Signature"));
    editmInsertSignature->setEnabled(false);
    editm->addSeparator();
    editmProperties = add(editm, QStringLiteral("Properties"), &frmCompose::editmProperties_Click);

    viewm = menuBar->addMenu(QStringLiteral("View"));
    viewmReplyTo = add(viewm, QStringLiteral("Reply To"), &frmCompose::viewmReplyTo_Click);
    viewmBCC = add(viewm, QStringLiteral("BCC Field"), &frmCompose::viewmBCC_Click);
    viewmReplyTo->setCheckable(true);
    viewmBCC->setCheckable(true);
    viewm->addSeparator();
    viewm_sendtolist = add(viewm, QStringLiteral("View Send To List"), &frmCompose::viewm_sendtolist_Click);
}

void frmCompose::buildToolbar()
{
    // Pictures from the desktop's icon theme (Qt's own where it has none); a button without a
    // picture shows its label. The tooltips are the program's own texts.
    struct Def {
        int index;
        int button;
        const char* tip;
        const char* icon;
        QStyle::StandardPixmap fallback;
        const char* label;
    };
    static const Def defs[] = {
        {0, 1, "Send Mail", "mail-send", QStyle::SP_ArrowForward, "Send"},
        {1, 1, "Save Message", "document-save", QStyle::SP_DialogSaveButton, "Save"},
        {2, 1, "Print Message", "document-print", QStyle::SP_CustomBase, "Print"},
        {3, 1, "Cut", "edit-cut", QStyle::SP_CustomBase, "Cut"},
        {4, 1, "Copy", "edit-copy", QStyle::SP_CustomBase, "Copy"},
        {5, 1, "Paste", "edit-paste", QStyle::SP_CustomBase, "Paste"},
        {7, 1, "Insert Signature", "insert-text", QStyle::SP_CustomBase, "Signature"},
        {8, 1, "Insert Attachment", "mail-attachment", QStyle::SP_CustomBase, "Attach"},
        {9, 1, "Insert File", "text-x-generic", QStyle::SP_FileIcon, "Insert File"},
        {10, 1, "Message Properties", "document-properties", QStyle::SP_FileDialogInfoView, "Properties"},
        // The toggles show their label beside the picture, so their state reads at a glance.
        {12, 1, "Set Message Format", "text-x-generic", QStyle::SP_CustomBase, "Text"},
        {12, 2, "Set Message Format", "text-html", QStyle::SP_CustomBase, "HTML"},
        {14, 1, "Message Properties", "mail-read", QStyle::SP_CustomBase, "Read Receipt"},
        {16, 1, "Set Message Format", "emblem-important", QStyle::SP_MessageBoxWarning, "High"},
        {16, 2, "Set Message Format", "go-down", QStyle::SP_ArrowDown, "Low"},
    };
    for (int i = 0; i <= 16; ++i) {
        if (i == 6 || i == 11 || i == 13 || i == 15) {
            toolbar->addSeparator();
            continue;
        }
        const bool toggle = i == 12 || i == 14 || i == 16;
        for (const Def& d : defs) {
            if (d.index != i) continue;
            QAction* a = toolbar->addAction(ui::ThemeIcon(QString::fromLatin1(d.icon), d.fallback), QString::fromLatin1(d.label));
            a->setToolTip(QString::fromLatin1(d.tip));
            const int button = d.button;
            connect(a, &QAction::triggered, this, [this, i, button] { Toolbar1_ButtonClick(i, button); });
            toolbar1_[size_t(i)][size_t(button - 1)] = a;
            if (toggle) {
                a->setCheckable(true);
                if (auto* b = qobject_cast<QToolButton*>(toolbar->widgetForAction(a))) b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            }
        }
    }
    // There are no signatures to insert: the command is shown, but not as if it would act.
    toolbar1_[7][0]->setEnabled(false);
    toolbar->adjustSize();
}

// ---------------------------------------------------------------------------------------------
void frmCompose::Form_Load()
{
    CommandBCC->hide();
    txtBCC->hide();
    CommandReplyTo->hide();
    txtReplyTo->hide();

    ui::FillScreenArea(*this);

    newItem();
    messageFormat_ = 0;
    messageSensitivity_ = 0;
    messageReadReceipt_ = 0;
    messageImportance_ = 1;
    if (mi) {
        mi->SetImportance(1);
        mi->SetSensitivity(0);
        mi->SetReadReceiptRequested(false);
    }
    try {
        if (MAPINameSpace) messageSendUsing_ = MAPINameSpace->CurrentUser()->Name();
        else if (OutlookApp) messageSendUsing_ = OutlookApp->Session()->CurrentUser()->Name();
    } catch (const std::exception&) {
        messageSendUsing_.clear();
    }
    Toolbar1(12, 1)->setChecked(true);

    // Attachment strip: ten slots side by side, 3 pixels apart, all hidden.
    for (int i = 0; i < 10; ++i) {
        QToolButton* icon = Attachment[size_t(i)];
        QLabel* label = AttachmentLabel[size_t(i)];
        const int left = i == 0 ? 0 : Attachment[size_t(i - 1)]->x() + Attachment[size_t(i - 1)]->width() + 3;
        icon->setGeometry(left, 0, px(kSlotWidth), px(kIconHeight));
        label->setGeometry(left, px(kIconHeight), px(kSlotWidth), px(kLabelHeight));
        label->setBackgroundRole(icon->backgroundRole());
        icon->hide();
        label->hide();
    }

    // The send-to list, in the order the addresses were selected.
    ex = std::make_shared<ui::XArrayDB>();
    int n = 0;
    if (Form1* f = Form1::Instance(); f && f->ex && f->TDBGrid2) {
        ex->ReDim(1, f->ex->UpperBound(1), 0, 5);
        auto& sel = f->TDBGrid2->SelBookmarks();
        for (int k = 0; k < sel.Count(); ++k) {
            const int r = sel.Item(k).toInt();
            if (!f->ex->ContainsRow(r)) continue;
            ++n;
            ex->SetValue(n, 0, QStringLiteral("-1"));
            ex->SetValue(n, 1, f->ex->Value(r, 1));
            ex->SetValue(n, 2, f->ex->Value(r, 2));
            ex->SetValue(n, 3, f->ex->Value(r, 3));
            ex->SetValue(n, 4, QStringLiteral("-1"));
            ex->SetValue(n, 5, f->ex->Value(r, 4));
        }
    }
    ex->ReDimPreserve(1, n, 0, 5);
    sendToCount_ = n;
    Form_Resize();
    toolbarEventsOn_ = true;
}

void frmCompose::newItem()
{
    mi.reset();
    try {
        if (OutlookApp) mi = OutlookApp->CreateItem(mail::olMailItem);
    } catch (const mail::MailError& e) {
        ui::MsgBox(e.message(), ui::vbCritical);
    }
}

void frmCompose::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

bool frmCompose::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void frmCompose::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    Form_Resize();
}

void frmCompose::Form_Resize()
{
    if (!txtMsg) return;
    const double innerW = tw(client->width()), innerH = tw(client->height());
    // Never wider than the window: what does not fit is behind the toolbar's extension button.
    toolbar->resize(std::min(toolbar->sizeHint().width(), client->width()), toolbar->height());
    const double boxWidth = innerW - 60 - tw(txtTo->x());
    for (QLineEdit* box : {txtTo, txtCC, txtBCC, txtReplyTo, txtSubject}) setWidth(box, boxWidth);

    setTop(txtCC, NextTop(txtTo));
    QWidget* last = txtCC;
    if (!txtBCC->isHidden()) {
        setTop(txtBCC, NextTop(last));
        last = txtBCC;
    }
    if (!txtReplyTo->isHidden()) {
        setTop(txtReplyTo, NextTop(last));
        last = txtReplyTo;
    }
    setTop(txtSubject, NextTop(last));
    setTop(CommandCC, Top(txtCC));
    setTop(CommandBCC, Top(txtBCC));
    setTop(CommandReplyTo, Top(txtReplyTo));
    CenterVertically(lblSubject, txtSubject);

    if (innerH - Height(picA) >= 0) picA->setGeometry(0, px(innerH - Height(picA)), client->width(), picA->height());
    const double top = NextTop(txtSubject);
    const double height = Top(picA) - top;
    txtMsg->setGeometry(0, px(top), client->width(), height >= 0 ? px(height) : txtMsg->height());
}

void frmCompose::Form_Unload()
{
    if (unloaded_) return;
    unloaded_ = true;
    qelPopup1->hide();
    qelPopup2->hide();
    mi.reset();
}

void frmCompose::keyPressEvent(QKeyEvent* e)
{
    // The window closes only by its close box and File > Exit, and Enter in a header box
    // presses no button: a stray key never throws a message away or opens a dialog.
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A button that has the focus still takes Enter.
        if (auto* b = qobject_cast<QPushButton*>(focusWidget())) b->click();
        e->accept();
        return;
    case Qt::Key_Escape:
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

void frmCompose::closeEvent(QCloseEvent* e)
{
    Form_Unload();
    QDialog::closeEvent(e);
}

void frmCompose::SetMailMessageTo(const QString& text) { txtTo->setText(text); }

QString frmCompose::SendingAccount() const
{
    const QList<mail::send::Account> accounts = mail::send::LoadAccounts();
    if (const auto a = mail::send::FindAccount(accounts, messageSendUsing_.trimmed())) return a->name;
    if (const auto a = mail::send::DefaultAccount(accounts)) return a->name;
    return QString();
}

// ---------------------------------------------------------------------------------------------
void frmCompose::Toolbar1_ButtonClick(int Index, int Button)
{
    switch (Index) {
    case 0: Send(); return;
    case 1: filemSave_Click(); return;
    case 2: filemPrint_Click(); return;
    case 3: editmCut_Click(); return;
    case 4: editmCopy_Click(); return;
    case 5: editmPaste_Click(); return;
    // The paper clip does what its tooltip and Edit > Insert Attachment say.
    case 8: editmInsertAttachment_Click(); return;
    case 9: editmInsertText_Click(); return;
    case 10: editmProperties_Click(); return;
    default: break;
    }
    if (!toolbarEventsOn_) return;
    QAction* clicked = Toolbar1(Index, Button);
    if (!clicked) return;
    const bool pressed = clicked->isChecked();
    if (Index == 12) {
        // Exactly one of plain text and HTML stays pressed.
        const bool html = (Button == 2) == pressed;
        Toolbar1(12, 1)->setChecked(!html);
        Toolbar1(12, 2)->setChecked(html);
        messageFormat_ = html ? 1 : 0;
    } else if (Index == 14) {
        messageReadReceipt_ = pressed ? 1 : 0;
        if (mi) mi->SetReadReceiptRequested(pressed);
    } else if (Index == 16) {
        int importance = 1;
        if (pressed) {
            Toolbar1(16, Button == 1 ? 2 : 1)->setChecked(false);
            importance = Button == 1 ? 2 : 0;
        }
        messageImportance_ = importance;
        if (mi) mi->SetImportance(importance);
    }
}

void frmCompose::SetToolbarState()
{
    toolbarEventsOn_ = false;
    Toolbar1(12, 1)->setChecked(messageFormat_ != 1);
    Toolbar1(12, 2)->setChecked(messageFormat_ == 1);
    Toolbar1(14)->setChecked(mi && mi->ReadReceiptRequested());
    if (mi) {
        switch (mi->Importance()) {
        case 1:
            Toolbar1(16, 1)->setChecked(false);
            Toolbar1(16, 2)->setChecked(false);
            break;
        case 2:
            Toolbar1(16, 1)->setChecked(true);
            Toolbar1(16, 2)->setChecked(false);
            break;
        case 0:
            Toolbar1(16, 1)->setChecked(false);
            Toolbar1(16, 2)->setChecked(true);
            break;
        default: break;
        }
    }
    toolbarEventsOn_ = true;
}

// ---------------------------------------------------------------------------------------------
bool frmCompose::ValidateMessage()
{
    // Blank means nothing but white space of any kind.
    if (mi->Subject().trimmed().isEmpty()) {
        if (ui::MsgBox(QStringLiteral("Warning.  Subject Line Is Blank.  Do You Wish To Send Anyways?"), ui::vbYesNo | ui::vbQuestion) == ui::vbNo)
            return false;
    }
    if (txtMsg->toPlainText().trimmed().isEmpty()) {
        ui::MsgBox(QStringLiteral("Error.  Cannot Send Message.  The Message Text Is Blank."), ui::vbCritical);
        return false;
    }
    if (sendToCount_ == 0) {
        ui::MsgBox(QStringLiteral("Error.  Cannot Send Message.  There are no Recipients."), ui::vbCritical);
        return false;
    }
    // Every message would carry these lines: one entry that is not an address would have the
    // send refuse every recipient.
    const std::pair<const char*, QLineEdit*> lines[] = {{"CC", txtCC}, {"BCC", txtBCC}, {"Reply To", txtReplyTo}};
    for (const auto& [caption, box] : lines) {
        for (const mail::AddressEntry& a : mail::SplitAddressLine(box->text())) {
            if (mail::send::IsSendableAddress(a.Address())) continue;
            ui::MsgBox(QStringLiteral("Error.  Cannot Send Message.  \"%1\" In The %2 Line Is Not An Email Address.")
                           .arg(mail::send::ShowHiddenCharacters(a.Address()), QString::fromLatin1(caption)),
                       ui::vbCritical);
            return false;
        }
    }
    return true;
}

void frmCompose::Send()
{
    if (!mi) {
        ui::MsgBox(QStringLiteral("The message could not be created, so it cannot be sent."), ui::vbCritical);
        return;
    }
    mi->SetSubject(txtSubject->text());
    mi->SetBCC(txtBCC->text());
    mi->SetCC(txtCC->text());
    if (!ValidateMessage()) return;

    int cancelled = -1;
    {
        Form24 confirm(*this, this);
        ui::ShowModal(&confirm);
        cancelled = confirm.Cancelled;
    }
    if (cancelled != 0) return;
    Form20 sender(*this, this);
    ui::ShowModal(&sender);
    if (sender.SentCount > 0) {
        queuedMessages_ += sender.SentCount;
        ++queuedSends_;
        lastQueuedAt_ = QDateTime::currentDateTime();
    }
    showSendOutcome();
}

void frmCompose::showSendOutcome()
{
    if (queuedSends_ == 0) {
        lblSendOutcome->clear();
        lblSendOutcome->hide();
        return;
    }
    const QString at = QLocale().toString(lastQueuedAt_.time(), QStringLiteral("HH:mm:ss"));
    const QString what = queuedSends_ == 1
                             ? QStringLiteral("%1 %2 to the Outbox at %3.")
                                   .arg(queuedMessages_)
                                   .arg(queuedMessages_ == 1 ? QStringLiteral("message went") : QStringLiteral("messages went"), at)
                             : QStringLiteral("%1 messages went to the Outbox in %2 sends, the last at %3.").arg(queuedMessages_).arg(queuedSends_).arg(at);
    lblSendOutcome->setText(what + QStringLiteral(" Another Send puts a message for every included recipient in the Outbox again."));
    lblSendOutcome->show();
}

// ---------------------------------------------------------------------------------------------
QWidget* frmCompose::EditTarget() const
{
    QWidget* f = QApplication::focusWidget();
    if (f == txtMsg->viewport()) f = txtMsg;
    for (QWidget* w : {static_cast<QWidget*>(txtMsg), static_cast<QWidget*>(txtSubject), static_cast<QWidget*>(txtCC),
                       static_cast<QWidget*>(txtBCC), static_cast<QWidget*>(txtReplyTo)})
        if (w == f) return w;
    return lastEdit_;
}

namespace {
bool hasSelection(QWidget* w)
{
    if (auto* t = qobject_cast<QTextEdit*>(w)) return t->textCursor().hasSelection();
    if (auto* l = qobject_cast<QLineEdit*>(w)) return l->hasSelectedText();
    return false;
}
QString selectedText(QWidget* w)
{
    if (auto* t = qobject_cast<QTextEdit*>(w)) return t->textCursor().selectedText().replace(QChar(0x2029), QLatin1Char('\n'));
    if (auto* l = qobject_cast<QLineEdit*>(w)) return l->selectedText();
    return QString();
}
void replaceSelection(QWidget* w, const QString& text)
{
    if (auto* t = qobject_cast<QTextEdit*>(w)) t->textCursor().insertText(text);
    else if (auto* l = qobject_cast<QLineEdit*>(w)) l->insert(text);
}
} // namespace

void frmCompose::editmCut_Click()
{
    QWidget* w = EditTarget();
    // Without a selection nothing changes, the clipboard included.
    if (!w || !hasSelection(w)) return;
    QGuiApplication::clipboard()->setText(selectedText(w));
    replaceSelection(w, QString());
}

void frmCompose::editmCopy_Click()
{
    QWidget* w = EditTarget();
    if (!w || !hasSelection(w)) return;
    QGuiApplication::clipboard()->setText(selectedText(w));
}

void frmCompose::editmPaste_Click()
{
    QWidget* w = EditTarget();
    if (!w) return;
    replaceSelection(w, QGuiApplication::clipboard()->text());
}

void frmCompose::editmSelectAll_Click()
{
    QWidget* w = EditTarget();
    if (auto* t = qobject_cast<QTextEdit*>(w)) t->selectAll();
    else if (auto* l = qobject_cast<QLineEdit*>(w)) l->selectAll();
}

void frmCompose::filemDelete_Click()
{
    QWidget* w = EditTarget();
    if (!w || !hasSelection(w)) return;
    replaceSelection(w, QString());
}

void frmCompose::editmInsertMergeField_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form17 dlg(*this, this);
    ui::ShowModal(&dlg);
}

void frmCompose::editmInsertText_Click()
{
    CommonDialog1.Filter = QStringLiteral("Text Files (*.txt)|*.txt|Rich Text Files (*.rtf)|*.rtf|All Files (*.*)|*.*");
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.CancelError = true;
    if (!CommonDialog1.ShowOpen()) return;
    ui::SetMousePointer(ui::vbHourglass);
    QFile file(CommonDialog1.FileName);
    if (file.open(QIODevice::ReadOnly)) txtMsg->textCursor().insertText(DelimitedReader::Decode(file.readAll()));
    ui::SetMousePointer(ui::vbDefault);
}

void frmCompose::editmInsertAttachment_Click()
{
    if (!mi) return;
    if (mi->Attachments().Count() >= 10) {
        ui::MsgBox(QStringLiteral("Cannot Add Anymore Attachments.  The Maximum of 10 Has Already Been Reached."), ui::vbCritical);
        return;
    }
    CommonDialog1.Filter = QStringLiteral("All Files (*.*)|*.*");
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.CancelError = true;
    if (!CommonDialog1.ShowOpen()) return;
    try {
        // The bytes are taken now, from the full path chosen; every message sent carries them.
        mi->Attachments().Add(QFileInfo(CommonDialog1.FileName).absoluteFilePath(), mail::olByValue);
    } catch (const mail::MailError&) {
        return;
    }
    ShowAttachments();
}

void frmCompose::ShowAttachments()
{
    const int count = mi ? mi->Attachments().Count() : 0;
    // A slot is as wide as its file's name, from the usual width up to three times it; a longer
    // name is shortened in its middle and told whole in its tooltip.
    const int usual = px(kSlotWidth), widest = 3 * usual;
    int left = 0;
    for (int i = 0; i < 10; ++i) {
        QToolButton* icon = Attachment[size_t(i)];
        QLabel* label = AttachmentLabel[size_t(i)];
        int width = usual;
        if (i <= count - 1) {
            const QString name = mi->Attachments().Item(i + 1)->FileName();
            label->setText(name);
            const int need = label->sizeHint().width();
            if (need > widest) {
                const int text = label->fontMetrics().horizontalAdvance(name);
                label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, widest - (need - text)));
            }
            label->setToolTip(name);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            width = qBound(usual, need, widest);
            icon->show();
            label->show();
        } else {
            icon->hide();
            label->hide();
            label->setText(QString());
            label->setToolTip(QString());
        }
        icon->setGeometry(left, icon->y(), width, icon->height());
        label->setGeometry(left, label->y(), width, label->height());
        left += width + 3;
    }
}

void frmCompose::setSlotHighlight(int index, bool on)
{
    highlighted_[size_t(index)] = on;
    QLabel* label = AttachmentLabel[size_t(index)];
    QPalette p = label->palette();
    if (on) {
        p.setColor(QPalette::Window, QColor(0, 0, 192));
        p.setColor(QPalette::WindowText, Attachment[size_t(index)]->palette().color(QPalette::Button));
    } else {
        p.setColor(QPalette::Window, Attachment[size_t(index)]->palette().color(QPalette::Button));
        p.setColor(QPalette::WindowText, Attachment[size_t(index)]->palette().color(QPalette::ButtonText));
    }
    label->setPalette(p);
}

void frmCompose::Attachment_GotFocus(int Index) { setSlotHighlight(Index, true); }

void frmCompose::Attachment_LostFocus(int Index)
{
    if (!attachmentMenuOpen_) setSlotHighlight(Index, false);
}

void frmCompose::Attachment_MouseUp(int Index, int Button)
{
    if (Button != 2) return;
    attachmentMenuOpen_ = true;
    popupAttachmentIndex_ = Index;
    setSlotHighlight(Index, true);
    QToolButton* icon = Attachment[size_t(Index)];
    qelPopup2->AddItem(QStringLiteral("Delete"));
    // The icon's right edge, in the window's client coordinates.
    qelPopup2->SetLeft(tw(icon->x() + icon->width() + picA->x()));
    qelPopup2->SetTop(tw(icon->y() + picA->y() + client->y()));
    qelPopup2->Activate();
}

void frmCompose::AttachmentLabel_MouseUp(int Index, int Button)
{
    if (Button == 2) Attachment_MouseUp(Index, Button);
    else if (Button == 1) Attachment[size_t(Index)]->setFocus();
}

void frmCompose::qelPopup2_SelectionMade(int Index)
{
    attachmentMenuOpen_ = false;
    if (Index != 0 || !mi) return;
    try {
        mi->Attachments().Remove(popupAttachmentIndex_ + 1);
    } catch (const mail::MailError&) {
        return;
    }
    setSlotHighlight(popupAttachmentIndex_, false);
    ShowAttachments();
}

void frmCompose::qelPopup2_LostFocus()
{
    attachmentMenuOpen_ = false;
    if (popupAttachmentIndex_ >= 0 && popupAttachmentIndex_ < 10) Attachment[size_t(popupAttachmentIndex_)]->setFocus();
}

void frmCompose::txtMsg_MouseDown(int Button, int, double X, double Y)
{
    if (Button != 2) return;
    for (const char* item : {"Cut", "Copy", "Paste", "-", "Delete", "-", "Insert Text", "Insert Field"})
        qelPopup1->AddItem(QString::fromLatin1(item));
    qelPopup1->SetLeft(tw(txtMsg->x()) + X);
    qelPopup1->SetTop(tw(txtMsg->y() + client->y()) + Y);
    qelPopup1->Activate();
}

void frmCompose::qelPopup1_SelectionMade(int Index)
{
    txtMsg->setFocus();
    lastEdit_ = txtMsg;
    switch (Index) {
    case 0: editmCut_Click(); break;
    case 1: editmCopy_Click(); break;
    case 2: editmPaste_Click(); break;
    case 4: filemDelete_Click(); break;
    case 6: editmInsertText_Click(); break;
    case 7: editmInsertMergeField_Click(); break;
    default: break;
    }
}

void frmCompose::editmProperties_Click()
{
    {
        Form15 dlg(*this, this);
        ui::ShowModal(&dlg);
    }
    SetToolbarState();
}

void frmCompose::viewmBCC_Click()
{
    const bool show = txtBCC->isHidden();
    viewmBCC->setChecked(show);
    CommandBCC->setVisible(show);
    txtBCC->setVisible(show);
    Form_Resize();
}

void frmCompose::viewmReplyTo_Click()
{
    const bool show = txtReplyTo->isHidden();
    viewmReplyTo->setChecked(show);
    CommandReplyTo->setVisible(show);
    txtReplyTo->setVisible(show);
    Form_Resize();
}

void frmCompose::viewm_sendtolist_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    Form18 dlg(*this, this);
    ui::ShowModal(&dlg);
}

bool frmCompose::eventFilter(QObject* watched, QEvent* e)
{
    if (!txtMsg || !picA) return QDialog::eventFilter(watched, e);  // still being built
    if (watched == client && e->type() == QEvent::Resize) Form_Resize();
    if (e->type() == QEvent::FocusIn) {
        for (QWidget* w : {static_cast<QWidget*>(txtMsg), static_cast<QWidget*>(txtSubject), static_cast<QWidget*>(txtCC),
                           static_cast<QWidget*>(txtBCC), static_cast<QWidget*>(txtReplyTo)})
            if (watched == w) lastEdit_ = w;
    }
    if (watched == txtTo && (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease))
        return true;  // the To box only shows what the main window put there
    if (watched == txtMsg->viewport() && e->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::RightButton) {
            txtMsg_MouseDown(2, 0, me->position().x() * kTw, me->position().y() * kTw);
            return true;
        }
    }
    const QVariant slot = watched->property("slot");
    if (slot.isValid()) {
        const int i = slot.toInt();
        if (watched == Attachment[size_t(i)]) {
            if (e->type() == QEvent::FocusIn) Attachment_GotFocus(i);
            else if (e->type() == QEvent::FocusOut) Attachment_LostFocus(i);
        }
        if (e->type() == QEvent::MouseButtonRelease) {
            const auto* me = static_cast<QMouseEvent*>(e);
            const int button = me->button() == Qt::RightButton ? 2 : me->button() == Qt::LeftButton ? 1 : 0;
            if (watched == Attachment[size_t(i)]) Attachment_MouseUp(i, button);
            else AttachmentLabel_MouseUp(i, button);
        }
    }
    return QDialog::eventFilter(watched, e);
}

#include "mainwindow/Form1.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/OLAPP.h"
#include "platform/db/Connection.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Spooler.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"

namespace {
Form1* g_instance = nullptr;
} // namespace

mail::NameSpacePtr RequireNameSpace()
{
    if (!MAPINameSpace) throw mail::MailError(QStringLiteral("The mail host is not running."));
    return MAPINameSpace;
}

namespace {
const char* const kItemError = "There was an error processing selected item(s).  Some of the selected item(s) may have been "
                               "deleted or are not Mail Messages.  Check the Item(s) and Refresh the list to remedy.";
} // namespace

void ShowItemError(bool resetPointer)
{
    if (resetPointer) ui::SetMousePointer(ui::vbArrow);
    ui::MsgBox(QString::fromLatin1(kItemError), ui::vbCritical);
}

QString ItemErrorText(const std::exception& failure)
{
    if (const auto* refusal = dynamic_cast<const mail::QueueRefusal*>(&failure)) return refusal->message();
    return QString::fromLatin1(kItemError);
}

mail::ApplicationPtr RequireApplication()
{
    if (!OutlookApp) throw mail::MailError(QStringLiteral("The mail host is not running."));
    return OutlookApp;
}

QList<int> SelectedRows(ui::DataGrid* grid)
{
    QList<int> rows;
    auto& sel = grid->SelBookmarks();
    rows.reserve(sel.Count());
    for (int i = 0; i < sel.Count(); ++i) rows << int(Val(sel.Item(i).toString()));
    return rows;
}

QString MenuCaption(const QString& text)
{
    QString s = text;
    s.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return s;
}

namespace {
// The system colour references the layouts use, in the window's palette.
QColor SystemColor(const QPalette& pal, std::uint32_t ref)
{
    switch (ref) {
    case Form1Layout::ColorAppWorkspace: return pal.color(QPalette::Dark);
    case Form1Layout::ColorWindow: return pal.color(QPalette::Base);
    default: return pal.color(QPalette::Button);
    }
}

void SetBackColor(QWidget* w, const QColor& c)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, c);
    w->setPalette(pal);
}
bool isTextBox(QObject* o)
{
    return qobject_cast<QLineEdit*>(o) || qobject_cast<QTextEdit*>(o) || qobject_cast<QPlainTextEdit*>(o)
           || qobject_cast<QAbstractSpinBox*>(o);
}
} // namespace

// ---------------------------------------------------------------------------------------------
StatusBarPanels::StatusBarPanels(QWidget* parent) : QFrame(parent)
{
    for (QLabel*& p : panels_) {
        p = new QLabel(this);
        p->setTextFormat(Qt::PlainText);
        p->setFrameShape(QFrame::Panel);
        p->setFrameShadow(QFrame::Sunken);
    }
}

QLabel* StatusBarPanels::panel(int index) const { return index == 1 || index == 2 ? panels_[index - 1] : nullptr; }

QString StatusBarPanels::PanelText(int index) const { return panel(index) ? texts_[index - 1] : QString(); }

void StatusBarPanels::SetPanelText(int index, const QString& text)
{
    if (!panel(index)) return;
    texts_[index - 1] = text;
    fit(index - 1);
}

void StatusBarPanels::SetPanelTip(int index, const QString& tip)
{
    if (!panel(index)) return;
    tips_[index - 1] = tip;
    fit(index - 1);
}

void StatusBarPanels::fit(int slot)
{
    QLabel* p = panels_[slot];
    const QString& text = texts_[slot];
    const QString& tip = tips_[slot];
    // A framed label indents its text by half an "x"; an "x" keeps the end clear of the frame too.
    const QFontMetrics fm = p->fontMetrics();
    const int room = p->contentsRect().width() - 2 * p->margin() - fm.horizontalAdvance(QLatin1Char('x'));
    const QString shown = fm.elidedText(text, Qt::ElideRight, qMax(0, room));
    p->setText(shown);
    if (shown == text) p->setToolTip(tip);
    else p->setToolTip(tip.isEmpty() ? text : text + QStringLiteral("\n\n") + tip);
}

double StatusBarPanels::PanelWidth(int index) const { return index == 1 || index == 2 ? widths_[index - 1] : 0; }

void StatusBarPanels::SetPanelWidth(int index, double twips)
{
    // A negative width is refused: the panel keeps the one it had.
    if ((index != 1 && index != 2) || twips < 0) return;
    widths_[index - 1] = twips;
    place();
}

void StatusBarPanels::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    place();
}

void StatusBarPanels::place()
{
    const int w1 = Form1::Px(widths_[0]);
    panels_[0]->setGeometry(0, 0, w1, height());
    panels_[1]->setGeometry(w1, 0, Form1::Px(widths_[1]), height());
    for (int slot = 0; slot < 2; ++slot) fit(slot);
}

// ---------------------------------------------------------------------------------------------
Form1::Form1(QWidget* parent) : QMainWindow(parent)
{
    g_instance = this;
    setObjectName(QStringLiteral("Form1"));
    xa = std::make_shared<ui::XArrayDB>();
    ex = std::make_shared<ui::XArrayDB>();
    buildControls();
    buildMenus();
    resize(760, 520);
    qApp->installEventFilter(this);
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
    mail::Hooks().itemChanged = nullptr;
    if (g_instance == this) g_instance = nullptr;
}

Form1* Form1::Instance() { return g_instance; }

void Form1::buildControls()
{
    client_ = new QWidget(this);
    setCentralWidget(client_);

    Toolbar1 = new QToolBar(client_);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (const char* caption : {"New Address", "New Folder", "Compose", "Open", "Reply", "Print", "Delete", "Get Mail",
                                "Properties", "Help"}) {
        const QString c = QString::fromLatin1(caption);
        QAction* a = Toolbar1->addAction(c);
        a->setObjectName(QStringLiteral("Toolbar1:") + c);
        const int index = int(Toolbar1->actions().size());
        connect(a, &QAction::triggered, this, [this, index] { runCommand([this, index] { Toolbar1_ButtonClick(index); }); });
    }
    setupToolbarLook();

    SSPanel2 = new QFrame(client_);
    SSPanel2->setFrameShape(QFrame::StyledPanel);
    const QFont tahoma(QStringLiteral("Tahoma"));
    lblLeftPane = new QLabel(QStringLiteral(" Folders"), SSPanel2);
    lblRightPane = new QLabel(QStringLiteral(" Folder Members"), SSPanel2);
    for (QLabel* l : {lblLeftPane, lblRightPane}) {
        l->setFont(tahoma);
        l->setTextFormat(Qt::PlainText);
    }

    TreeView1 = new ui::TreeView(client_);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setToolTip(QStringLiteral("Right Click Mouse To Display Menu Options"));
    TreeView1->setHeaderHidden(true);
    TreeView1->SetImageList({style()->standardIcon(QStyle::SP_DirIcon), style()->standardIcon(QStyle::SP_DirClosedIcon)});
    connect(TreeView1, &ui::TreeView::MouseUp, this, &Form1::TreeView1_MouseUp);
    connect(TreeView1, &ui::TreeView::KeyDown, this, &Form1::TreeView1_KeyDown);

    TDBGrid1 = new ui::DataGrid(client_);
    TDBGrid1->setObjectName(QStringLiteral("TDBGrid1"));
    TDBGrid1->setToolTip(QStringLiteral("Right Click Mouse To Display Options"));
    TDBGrid2 = new ui::DataGrid(client_);
    TDBGrid2->setObjectName(QStringLiteral("TDBGrid2"));
    TDBGrid2->setToolTip(QStringLiteral("Right Click Mouse To Display Menu Options"));
    for (int i = 0; i < 7; ++i) TDBGrid1->Columns().Add();
    for (int i = 0; i < 4; ++i) TDBGrid2->Columns().Add();
    TDBGrid1->SetArray(xa);
    TDBGrid2->SetArray(ex);
    TDBGrid2->hide();

    vDiv1 = new QFrame(client_);
    vDiv2 = new QFrame(client_);
    hDiv1 = new QFrame(client_);
    hDiv2 = new QFrame(client_);
    for (QFrame* d : {vDiv1, vDiv2}) d->setCursor(Qt::SplitHCursor);
    for (QFrame* d : {hDiv1, hDiv2}) d->setCursor(Qt::SplitVCursor);
    for (QFrame* d : {vDiv1, vDiv2, hDiv1, hDiv2}) d->setAutoFillBackground(true);
    layout_.BringToFront = [this](Form1Layout::Control c) {
        if (QWidget* w = widgetOf(c)) w->raise();
    };

    msgPane = new QTextEdit(client_);
    msgPane->setReadOnly(true);
    msgPane->setAcceptRichText(false);
    msgPane->setFont(QFont(QStringLiteral("Courier New")));
    WebBrowser1 = new PreviewBrowser(client_);
    WebBrowser1->hide();

    msgPaneHeader = new QFrame(client_);
    msgPaneHeader->setFrameShape(QFrame::NoFrame);
    Label1 = new QLabel(QStringLiteral("From:"), msgPaneHeader);
    Label2 = new QLabel(QStringLiteral("To:"), msgPaneHeader);
    Label3 = new QLabel(QStringLiteral("Subj:"), msgPaneHeader);
    Label4 = new QLabel(QStringLiteral("Cc:"), msgPaneHeader);
    QFont captionFont = Label1->font();
    captionFont.setBold(true);
    for (QLabel* l : {Label1, Label2, Label3, Label4}) l->setFont(captionFont);
    lblMessageHeaderFrom = new QLabel(msgPaneHeader);
    lblMessageHeaderTo = new QLabel(msgPaneHeader);
    lblMessageHeaderSubject = new QLabel(msgPaneHeader);
    lblMessageHeaderCC = new QLabel(msgPaneHeader);
    for (QLabel* l : {lblMessageHeaderFrom, lblMessageHeaderTo, lblMessageHeaderSubject, lblMessageHeaderCC}) {
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::NoTextInteraction);
    }
    Toolbar2 = new QToolBar(msgPaneHeader);
    QAction* attButton = Toolbar2->addAction(style()->standardIcon(QStyle::SP_FileIcon), QString());
    attButton->setToolTip(QStringLiteral("Attachments"));
    connect(attButton, &QAction::triggered, this, &Form1::Toolbar2_ButtonClick);
    Toolbar2->hide();

    StatusBar1 = new StatusBarPanels(client_);
    ConnectGridEvents();
}

QAction* Form1::command(QMenu* menu, const char* name, const QString& caption, void (Form1::*handler)())
{
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [this, handler] { runCommand([this, handler] { (this->*handler)(); }); });
    return a;
}

void Form1::runCommand(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QString::fromUtf8(e.what()), ui::vbCritical);
    }
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    filem = bar->addMenu(QStringLiteral("&File"));
    filem_new = command(filem, "filem_new", QStringLiteral("&New Message"), &Form1::filem_new_Click);
    filem_open = command(filem, "filem_open", QStringLiteral("Open Message"), &Form1::filem_open_Click);
    filem->addSeparator();
    filem_print = command(filem, "filem_print", QStringLiteral("Print"), &Form1::filem_print_Click);
    filem_printsetup = command(filem, "filem_printsetup", QStringLiteral("Print Setup"), &Form1::filem_printsetup_Click);
    filem->addSeparator();
    // Closing the window unloads it (shutdown).
    filem_exit = filem->addAction(QStringLiteral("Exit"));
    filem_exit->setObjectName(QStringLiteral("filem_exit"));
    connect(filem_exit, &QAction::triggered, this, &QWidget::close);

    mnuEdit = bar->addMenu(QStringLiteral("&Edit"));
    mnuEdit_Cut = mnuEdit->addAction(QStringLiteral("Cut"));
    mnuEdit_Cut->setObjectName(QStringLiteral("mnuEdit_Cut"));
    mnuEdit_Cut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuEdit_Copy = mnuEdit->addAction(QStringLiteral("Copy"));
    mnuEdit_Copy->setObjectName(QStringLiteral("mnuEdit_Copy"));
    mnuEdit_Copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuEdit_Paste = mnuEdit->addAction(QStringLiteral("Paste"));
    mnuEdit_Paste->setObjectName(QStringLiteral("mnuEdit_Paste"));
    mnuEdit_Paste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    mnuEdit->addSeparator();
    mnuEdit_SelectAll = command(mnuEdit, "mnuEdit_SelectAll", QStringLiteral("Select All"), &Form1::mnuEdit_SelectAll_Click);
    mnuEdit->addSeparator();
    mnuEdit_Delete = command(mnuEdit, "mnuEdit_Delete", QStringLiteral("Delete"), &Form1::mnuEdit_Delete_Click);

    mnuView = bar->addMenu(QStringLiteral("View"));
    mnuViewFolderList = mnuView->addAction(QStringLiteral("View Folder List..."));
    mnuViewFolderList->setObjectName(QStringLiteral("mnuViewFolderList"));
    mnuViewMessagePane = mnuView->addAction(QStringLiteral("View Message Preview"));
    mnuViewMessagePane->setObjectName(QStringLiteral("mnuViewMessagePane"));
    for (QAction* a : {mnuViewFolderList, mnuViewMessagePane}) a->setCheckable(true);
    // The handlers flip the tick themselves.
    // Qt has ticked or unticked the item already; the handlers flip it themselves.
    connect(mnuViewFolderList, &QAction::triggered, this, [this] {
        mnuViewFolderList->setChecked(!mnuViewFolderList->isChecked());
        mnuViewFolderList_Click();
    });
    connect(mnuViewMessagePane, &QAction::triggered, this, [this] {
        mnuViewMessagePane->setChecked(!mnuViewMessagePane->isChecked());
        mnuViewMessagePane_Click();
    });

    mnuSetup = bar->addMenu(QStringLiteral("Setup"));
    mnuSetupCustomFields = command(mnuSetup, "mnuSetupCustomFields", QStringLiteral("Custom Fields"),
        &Form1::mnuSetupCustomFields_Click);
    mnuSetupProfiles = command(mnuSetup, "mnuSetupProfiles", QStringLiteral("Action Profiles...."),
        &Form1::mnuSetupProfiles_Click);
    mnuSetup->addSeparator();
    mnuSetupMailAccounts =
        command(mnuSetup, "mnuSetupMailAccounts", QStringLiteral("Mail Accounts"), &Form1::mnuSetupMailAccounts_Click);
    mnuSetupOptions = command(mnuSetup, "mnuSetupOptions", QStringLiteral("Options..."), &Form1::mnuSetupOptions_Click);
    mnuSetup->addSeparator();
    mnuSetupImportFromOutlook = command(mnuSetup, "mnuSetupImportFromOutlook", QStringLiteral("Import From Outlook Folders"),
                                             &Form1::mnuSetupImportFromOutlook_Click);
    mnuSetupImportFromContacts = command(mnuSetup, "mnuSetupImportFromContacts",
                                              QStringLiteral("Import From Contacts (Address Book)"),
                                              &Form1::mnuSetupImportFromContacts_Click);
    mnuSetupImportCommaDelimited = command(mnuSetup, "mnuSetupImportCommaDelimited",
                                                QStringLiteral("Import From Comma Delimited File"),
                                                &Form1::mnuSetupImportCommaDelimited_Click);

    helpm = bar->addMenu(QStringLiteral("&Help"));
    helpm_contents = command(helpm, "helpm_contents", QStringLiteral("Help Contents"), &Form1::helpm_contents_Click);
    helpm_about = command(helpm, "helpm_about", QString(), &Form1::helpm_about_Click);

    mnuFolderPop = new QMenu(QStringLiteral("FolderPopup"), this);
    mnuFolderPopupNew = command(mnuFolderPop, "mnuFolderPopupNew", QStringLiteral("New Email Address"), &Form1::mnuFolderPopupNew_Click);
    mnuFolderPop->addSeparator();
    mnuFolderPopNew = command(mnuFolderPop, "mnuFolderPopNew", QStringLiteral("New Folder"), &Form1::mnuFolderPopNew_Click);
    mnuFolderPopRefresh = command(mnuFolderPop, "mnuFolderPopRefresh", QStringLiteral("Refresh"), &Form1::mnuFolderPopRefresh_Click);
    mnuFolderPop->addSeparator();
    mnuFolderPopCompose = command(mnuFolderPop, "mnuFolderPopCompose", QStringLiteral("Compose Message"), &Form1::mnuFolderPopCompose_Click);
    mnuFolderPopComposeMailMerge =
        command(mnuFolderPop, "mnuFolderPopComposeMailMerge", QStringLiteral("Compose MailMerge Message"), &Form1::mnuFolderPopComposeMailMerge_Click);
    mnuFolderPop->addSeparator();
    mnuFolderPopRename = command(mnuFolderPop, "mnuFolderPopRename", QStringLiteral("Rename Folder"), &Form1::mnuFolderPopRename_Click);
    mnuFolderPopMove = command(mnuFolderPop, "mnuFolderPopMove", QStringLiteral("Move To Folder..."),
        &Form1::mnuFolderPopMove_Click);
    mnuFolderPopCopy = command(mnuFolderPop, "mnuFolderPopCopy", QStringLiteral("Copy To Folder..."),
        &Form1::mnuFolderPopCopy_Click);
    mnuFolderPopApply = command(mnuFolderPop, "mnuFolderPopApply", QStringLiteral("Apply Profile (Select)"),
        &Form1::mnuFolderPopApply_Click);
    mnuFolderPopExport = command(mnuFolderPop, "mnuFolderPopExport", QStringLiteral("Export Addresses"), &Form1::mnuFolderPopExport_Click);
    mnuFolderPop->addSeparator();
    mnuFolderPopDelete = command(mnuFolderPop, "mnuFolderPopDelete", QStringLiteral("Delete Folder"), &Form1::mnuFolderPopDelete_Click);
    mnuFolderPop->addSeparator();
    mnuFolderPopProperties = command(mnuFolderPop, "mnuFolderPopProperties", QStringLiteral("Properties....."), &Form1::mnuFolderPopProperties_Click);

    mnuFolderEmailPop = new QMenu(QStringLiteral("FolderPopupEmail"), this);
    mnuFolderEmailPopNewFolder = command(mnuFolderEmailPop, "mnuFolderEmailPopNewFolder", QStringLiteral("New Folder"), &Form1::mnuFolderEmailPopNewFolder_Click);
    mnuFolderEmailPop->addSeparator();
    mnuFolderEmailPopRename = command(mnuFolderEmailPop, "mnuFolderEmailPopRename", QStringLiteral("Rename Folder"), &Form1::mnuFolderEmailPopRename_Click);
    mnuFolderEmailPopMove = command(mnuFolderEmailPop, "mnuFolderEmailPopMove", QStringLiteral("Move To Folder"),
        &Form1::mnuFolderEmailPopMove_Click);
    mnuFolderEmailPopCopy = command(mnuFolderEmailPop, "mnuFolderEmailPopCopy", QStringLiteral("Copy To Folder"),
        &Form1::mnuFolderEmailPopCopy_Click);
    mnuFolderEmailPop->addSeparator();
    mnuFolderEmailPopDelete = command(mnuFolderEmailPop, "mnuFolderEmailPopDelete", QStringLiteral("Delete"), &Form1::mnuFolderEmailPopDelete_Click);
    mnuFolderEmailPop->addSeparator();
    mnuFolderEmailPopRefresh = command(mnuFolderEmailPop, "mnuFolderEmailPopRefresh", QStringLiteral("Refresh"), &Form1::mnuFolderEmailPopRefresh_Click);

    mnuBulkPop = new QMenu(QStringLiteral("BulkPopup"), this);
    mnuBulkPopNew = command(mnuBulkPop, "mnuBulkPopNew", QStringLiteral("New Email Address"), &Form1::mnuBulkPopNew_Click);
    mnuBulkPop->addSeparator();
    mnuBulkPopCompose = command(mnuBulkPop, "mnuBulkPopCompose", QStringLiteral("Compose Message"), &Form1::mnuBulkPopCompose_Click);
    mnuBulkPopComposeMailMerge =
        command(mnuBulkPop, "mnuBulkPopComposeMailMerge", QStringLiteral("Compose Mail Merge Message"), &Form1::mnuBulkPopComposeMailMerge_Click);
    mnuBulkPop->addSeparator();
    mnuBulkPopCopy = command(mnuBulkPop, "mnuBulkPopCopy", QStringLiteral("Copy To Folder..."),
        &Form1::mnuBulkPopCopy_Click);
    mnuBulkPopMove = command(mnuBulkPop, "mnuBulkPopMove", QStringLiteral("Move To Folder"),
        &Form1::mnuBulkPopMove_Click);
    mnuBulkPopAplyProfile =
        command(mnuBulkPop, "mnuBulkPopAplyProfile", QStringLiteral("Apply Action Profile (Select)"),
        &Form1::mnuBulkPopAplyProfile_Click);
    mnuBulkPopExport = command(mnuBulkPop, "mnuBulkPopExport", QStringLiteral("Export Selected Addresses"), &Form1::mnuBulkPopExport_Click);
    mnuBulkPop->addSeparator();
    mnuBulkPopDelete = command(mnuBulkPop, "mnuBulkPopDelete", QStringLiteral("Delete"), &Form1::mnuBulkPopDelete_Click);
    mnuBulkPop->addSeparator();
    mnuBulkPopProperties = command(mnuBulkPop, "mnuBulkPopProperties", QStringLiteral("Properties...."),
        &Form1::mnuBulkPopProperties_Click);

    mnuEmailPop = new QMenu(QStringLiteral("EmailPopUp"), this);
    mnuEmailPopOpen = command(mnuEmailPop, "mnuEmailPopOpen", QStringLiteral("Open"), &Form1::mnuEmailPopOpen_Click);
    mnuEmailPopPrint = command(mnuEmailPop, "mnuEmailPopPrint", QStringLiteral("Print"), &Form1::mnuEmailPopPrint_Click);
    mnuEmailPop->addSeparator();
    mnuEmailPopReply = command(mnuEmailPop, "mnuEmailPopReply", QStringLiteral("Reply"), &Form1::mnuEmailPopReply_Click);
    mnuEmailPopForward = command(mnuEmailPop, "mnuEmailPopForward", QStringLiteral("Forward"), &Form1::mnuEmailPopForward_Click);
    mnuEmailPop->addSeparator();
    mnuEmailPopCopy = command(mnuEmailPop, "mnuEmailPopCopy", QStringLiteral("Copy To Folder..."),
        &Form1::mnuEmailPopCopy_Click);
    mnuEmailPopMove = command(mnuEmailPop, "mnuEmailPopMove", QStringLiteral("Move To Folder..."),
        &Form1::mnuEmailPopMove_Click);
    mnuEmailPop->addSeparator();
    mnuEmailPopDelete = command(mnuEmailPop, "mnuEmailPopDelete", QStringLiteral("Delete"), &Form1::mnuEmailPopDelete_Click);
    mnuEmailPop->addSeparator();
    mnuEmailPopAddToMaster = command(mnuEmailPop, "mnuEmailPopAddToMaster", QStringLiteral("Add To Master Bulk Mail Folder"), &Form1::mnuEmailPopAddToMaster_Click);
    mnuEmailPopAddToFolder =
        command(mnuEmailPop, "mnuEmailPopAddToFolder", QStringLiteral("Add To Bulk Mail Folder (Select)"),
            &Form1::mnuEmailPopAddToFolder_Click);
    mnuEmailPopAddWithProfile =
        command(mnuEmailPop, "mnuEmailPopAddWithProfile", QStringLiteral("Apply Action Profile (Select)"),
            &Form1::mnuEmailPopAddWithProfile_Click);
    mnuEmailPopExport = command(mnuEmailPop, "mnuEmailPopExport", QStringLiteral("Export Selected Addresses"), &Form1::mnuEmailPopExport_Click);
    mnuEmailPop->addSeparator();
    mnuEmailPopProperties = command(mnuEmailPop, "mnuEmailPopProperties", QStringLiteral("Properties"),
        &Form1::mnuEmailPopProperties_Click);

    mnuAttachments = new QMenu(QStringLiteral("AttachmentsMenu"), this);
    QAction* sep = mnuAttachments->addSeparator();
    sep->setText(QStringLiteral("-"));
    mnuAtt = {sep};
}

void Form1::popup(QMenu* menu)
{
    LastPopup = menu;
    // Shown without waiting, so a test or the caller goes on at once.
    menu->popup(QCursor::pos());
}

// ---------------------------------------------------------------------------------------------
double Form1::ScaleWidth() const { return Tw(client_->width()); }
double Form1::ScaleHeight() const { return Tw(client_->height()); }

void Form1::setupGridColumns()
{
    // The flag columns show a mark for "-1" and nothing for "0" or the empty text.
    const QStyle::StandardPixmap marks[4] = {QStyle::SP_MessageBoxWarning, QStyle::SP_FileIcon,
                                             QStyle::SP_DialogApplyButton, QStyle::SP_FileLinkIcon};
    for (int i = 0; i < 4; ++i) {
        ui::DataGridColumn& c = TDBGrid1->Columns(i);
        c.SetColumnStyle(ui::DataGridColumn::Picture);
        c.ValueItems().clear();
        c.ValueItems().append({QStringLiteral("-1"), style()->standardIcon(marks[i]).pixmap(12, 12), QString()});
        c.SetLocked(true);
    }
    TDBGrid1->Columns(1).ValueItems().append(
        {QString::fromLatin1(kRefusedMark), style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(12, 12), QString()});
    TDBGrid1->Columns(1).ValueItems().append(
        {QString::fromLatin1(kMaybeDeliveredMark), style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(12, 12), QString()});
    TDBGrid1->Columns(1).ValueItems().append(
        {QString::fromLatin1(kRetryMark), style()->standardIcon(QStyle::SP_BrowserReload).pixmap(12, 12), QString()});
    TDBGrid1->Columns(1).ValueItems().append(
        {QString::fromLatin1(kWaitsForYouMark), style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(12, 12), QString()});
    TDBGrid2->Columns(0).SetColumnStyle(ui::DataGridColumn::Picture);
    TDBGrid2->Columns(0).ValueItems().clear();
    TDBGrid2->Columns(0).ValueItems().append(
        {QStringLiteral("-1"), style()->standardIcon(QStyle::SP_DialogCancelButton).pixmap(12, 12), QString()});
    for (int i = 0; i < TDBGrid1->Columns().Count(); ++i)
        if (i < 4) TDBGrid1->Columns(i).SetWidth(360);
    TDBGrid2->Columns(0).SetWidth(360);
    TDBGrid2->Columns(1).SetCaption(QStringLiteral("EMail Address"));
    TDBGrid2->Columns(2).SetCaption(QStringLiteral("Name"));
    TDBGrid2->Columns(3).SetCaption(QStringLiteral("City/State"));
    TDBGrid2->Columns(3).SetWidth(2880);
}

void Form1::Form_Load()
{
    setWindowTitle(QStringLiteral("Ferrowyn") + QStringLiteral(" - by Vostrelle"));
    helpm_about->setText(QStringLiteral("About ") + QStringLiteral("Ferrowyn"));
    MessageSortState = {1, 1, 1};
    AddressSortState = {1, 1, 1};
    AttachmentMenuCount = 0;
    vDiv1->raise();
    hDiv1->raise();
    AddressListMode = 0;
    mnuViewFolderList->setChecked(true);
    mnuViewMessagePane->setChecked(true);
    setupGridColumns();
    feedLayout();
    layout_.PlaceControlsAtLoad();
    applyLayout();
    // The three text columns share what the icon columns leave; never a negative width, so a
    // small first window cannot break the grid.
    float w = layout_.TDBGrid1.Width - 240;
    for (int i = 0; i < 4; ++i) w -= float(TDBGrid1->Columns(i).Width());
    if (w < 0) w = 0;
    TDBGrid1->Columns(4).SetWidth(w * 0.33f);
    TDBGrid1->Columns(5).SetWidth(w * 0.33f);
    TDBGrid1->Columns(6).SetWidth(w * 0.34f);
    xa = std::make_shared<ui::XArrayDB>();
    xa->ReDim(0, 0, 0, 0);
    ex = std::make_shared<ui::XArrayDB>();
    ex->ReDim(0, 0, 0, 0);
    // The grids show nothing until a folder is loaded.
    auto none = std::make_shared<ui::XArrayDB>();
    none->ReDim(1, 0, 0, 14);
    TDBGrid1->SetArray(none);
    auto noAddr = std::make_shared<ui::XArrayDB>();
    noAddr->ReDim(1, 0, 0, 7);
    TDBGrid2->SetArray(noAddr);
    const mail::NameSpacePtr ns = RequireNameSpace();
    DeletedItemsFolder = ns->GetDefaultFolder(mail::olFolderDeletedItems);
    InboxFolder = ns->GetDefaultFolder(mail::olFolderInbox);
    OutboxFolder = ns->GetDefaultFolder(mail::olFolderOutbox);
    SentItemsFolder = ns->GetDefaultFolder(mail::olFolderSentMail);
    DraftsFolder = ns->GetDefaultFolder(mail::olFolderDrafts);
    // What each delivery run in the background did, refusals first, on the status line; the
    // Outbox or Sent Items shown is read again.
    if (mail::send::Spooler* spooler = OutlookApp ? OutlookApp->spooler() : nullptr) {
        connect(spooler, &mail::send::Spooler::runReported, this, [this](const QString& summary, const QString& details) {
            if (quitNotice_.isEmpty()) {
                StatusBar1->SetPanelText(2, summary);
                StatusBar1->SetPanelTip(2, details);
            }
            // What a run tells changes as it goes: the Outbox or Sent Items shown follows.
            deliveryRunFinished();
        });
        connect(spooler, &mail::send::Spooler::runFinished, this, &Form1::deliveryRunFinished);
        // Sending stopped for a full disk: a box, where the user looks (the status line may be
        // hidden behind a composer); once until a run writes again.
        connect(spooler, &mail::send::Spooler::sendingStopped, this, [](const QString& text) { ui::MsgBox(text, ui::vbCritical); });
    }
    mail::Hooks().itemChanged = [this](const QString& folderId, const QString& itemId, const QString& formerId) {
        QMetaObject::invokeMethod(this, [this, folderId, itemId, formerId] { messageChanged(folderId, itemId, formerId); });
    };
    Form_Resize();
}

void Form1::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form1::Form_Unload(int& Cancel)
{
    Q_UNUSED(Cancel);
    if (unloaded_) return;
    unloaded_ = true;
    QFile::remove(ui::DataPath(QStringLiteral("~tmp.htm")));
    try {
        DBConnection().Close();
    } catch (const std::exception&) {
    }
    CurrentMailItem.reset();
    DeletedItemsFolder.reset();
    InboxFolder.reset();
    OutboxFolder.reset();
    SentItemsFolder.reset();
    DraftsFolder.reset();
    MAPINameSpace.reset();
    OutlookApp.reset();
    // Its destructor quits the mail host.
    OLAPPObject.reset();
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* e)
{
    // A compose window holding the user's text asks first; Cancel there keeps the program.
    if (!mail::CloseComposeWindows()) {
        e->ignore();
        return;
    }
    // So does a transfer under way. While quitting waits for it, a further close changes nothing.
    if (!quitNotice_.isEmpty()) {
        e->ignore();
        return;
    }
    if (OutlookApp && !OutlookApp->MayQuit([this](const QString& notice) {
            quitNotice_ = notice;
            StatusBar1->SetPanelText(2, notice);
            StatusBar1->SetPanelTip(2, notice);
        })) {
        e->ignore();
        return;
    }
    int cancel = 0;
    Form_Unload(cancel);
    e->accept();
}

bool Form1::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QMainWindow::event(e);
}

bool Form1::eventFilter(QObject* watched, QEvent* e)
{
    // Edit's Cut, Copy and Paste only carry the keys: a focused text box keeps them.
    if (e->type() == QEvent::ShortcutOverride && isTextBox(watched) && static_cast<QWidget*>(watched)->window() == this) {
        const QKeyCombination k = static_cast<QKeyEvent*>(e)->keyCombination();
        for (QAction* a : {mnuEdit_Cut, mnuEdit_Copy, mnuEdit_Paste})
            if (a->shortcut() == QKeySequence(k)) {
                e->accept();
                return true;
            }
    }
    // The panes follow the client area, which has its new size once the window's layout ran.
    if (watched == client_ && e->type() == QEvent::Resize) Form_Resize();
    if (watched == msgPaneHeader && e->type() == QEvent::Paint) {
        // The header's frame comes from the geometry model; the frame drawn by Qt goes first.
        const bool r = QMainWindow::eventFilter(watched, e);
        const auto lines = layout_.msgPaneHeader_Paint();
        Toolbar2->setGeometry(Form1Layout::toPixels(layout_.Toolbar2));
        QPainter p(msgPaneHeader);
        for (const Form1Layout::HeaderLine& l : lines) {
            p.setPen(SystemColor(palette(), l.color));
            p.drawLine(Form1Layout::toPixels(l.from), Form1Layout::toPixels(l.to));
        }
        return r;
    }
    if (e->type() == QEvent::ToolTip && TDBGrid1 && watched == TDBGrid1->viewport() && showMarkTip(static_cast<QHelpEvent*>(e)))
        return true;
    if ((watched == vDiv1 || watched == vDiv2 || watched == hDiv1 || watched == hDiv2) && !busy_ &&
        splitterEvent(watched, e))
        return true;
    if (busy_ > 0 && watched->isWidgetType()) {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::Close:
            // A click on another folder mid-load would reload under the running loop.
            if (static_cast<QWidget*>(watched)->window() == this) return true;
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

QWidget* Form1::widgetOf(Form1Layout::Control c) const
{
    using C = Form1Layout::Control;
    switch (c) {
    case C::Toolbar1: return Toolbar1;
    case C::SSPanel2: return SSPanel2;
    case C::lblLeftPane: return lblLeftPane;
    case C::lblRightPane: return lblRightPane;
    case C::TreeView1: return TreeView1;
    case C::vDiv1: return vDiv1;
    case C::vDiv2: return vDiv2;
    case C::hDiv1: return hDiv1;
    case C::hDiv2: return hDiv2;
    case C::TDBGrid1: return TDBGrid1;
    case C::TDBGrid2: return TDBGrid2;
    case C::msgPaneHeader: return msgPaneHeader;
    case C::msgPane: return msgPane;
    case C::WebBrowser1: return WebBrowser1;
    case C::StatusBar1: return StatusBar1;
    case C::Toolbar2: return Toolbar2;
    case C::Label1: return Label1;
    case C::lblMessageHeaderFrom: return lblMessageHeaderFrom;
    case C::Label2: return Label2;
    case C::lblMessageHeaderTo: return lblMessageHeaderTo;
    case C::Label3: return Label3;
    case C::lblMessageHeaderSubject: return lblMessageHeaderSubject;
    case C::Label4: return Label4;
    case C::lblMessageHeaderCC: return lblMessageHeaderCC;
    }
    return nullptr;
}

void Form1::feedLayout()
{
    // Before the first show the client area has no size of its own yet.
    if (!isVisible() && layout()) layout()->activate();
    layout_.ScaleWidth = float(ScaleWidth());
    layout_.ScaleHeight = float(ScaleHeight());
    layout_.Toolbar1.Height = float(Tw(Toolbar1->sizeHint().height()));
    layout_.StatusBar1.Height = float(Tw(StatusBar1->fontMetrics().height() + 6));
    layout_.AddressListMode = AddressListMode;
    layout_.mnuViewFolderListChecked = mnuViewFolderList->isChecked();
    layout_.mnuViewMessagePaneChecked = mnuViewMessagePane->isChecked();
    // The preview owns these flags; the layouts only read them.
    layout_.msgPaneHeader.Visible = !msgPaneHeader->isHidden();
    layout_.msgPane.Visible = !msgPane->isHidden();
    layout_.WebBrowser1.Visible = !WebBrowser1->isHidden();
    layout_.Toolbar2.Visible = !Toolbar2->isHidden();
    // The captions are as wide as their texts need.
    layout_.lblLeftPane.Width = float(Tw(lblLeftPane->sizeHint().width()));
    layout_.lblRightPane.Width = float(Tw(lblRightPane->sizeHint().width()));
    // The header's bold captions are never cut, in whatever font the desktop gives: a value
    // starts a little after its caption, its right edge staying where it was.
    struct Caption {
        QLabel* label;
        ControlGeometry& caption;
        ControlGeometry& value;
    };
    for (const Caption& c : {Caption{Label1, layout_.Label1, layout_.lblMessageHeaderFrom},
                             Caption{Label2, layout_.Label2, layout_.lblMessageHeaderTo},
                             Caption{Label3, layout_.Label3, layout_.lblMessageHeaderSubject},
                             Caption{Label4, layout_.Label4, layout_.lblMessageHeaderCC}}) {
        c.caption.Width = std::max(c.caption.Width, float(Tw(c.label->sizeHint().width())));
        const float valueLeft = std::max(c.value.Left, c.caption.Left + c.caption.Width + float(Tw(4)));
        c.value.Width -= valueLeft - c.value.Left;
        c.value.Left = valueLeft;
    }
}

void Form1::SetRightPaneCaption(const QString& text)
{
    lblRightPane->setText(text);
    layout_.lblRightPane.Width = float(Tw(lblRightPane->sizeHint().width()));
    lblRightPane->resize(lblRightPane->sizeHint().width(), lblRightPane->height());
}


void Form1::applyLayout()
{
    SetBackColor(vDiv1, SystemColor(palette(), layout_.vDiv1BackColor));
    SetBackColor(hDiv1, SystemColor(palette(), layout_.hDiv1BackColor));
    // The header belongs to the preview: in a layout without the preview it keeps its flags but
    // takes no room, so it never covers the grid or catches its clicks.
    const bool previewShown = layout_.AddressListMode == 0 && layout_.mnuViewMessagePaneChecked;
    layout_.forEachControl([this, previewShown](Form1Layout::Control c, const ControlGeometry& g) {
        QWidget* w = widgetOf(c);
        if (!w) return;
        QRect r = Form1Layout::toPixels(g);
        if (c == Form1Layout::Control::msgPaneHeader && !previewShown) r.setSize(QSize(0, 0));
        w->setGeometry(r);
        w->setVisible(g.Visible);
    });
    StatusBar1->SetPanelWidth(1, layout_.StatusBar1Panel1Width);
    StatusBar1->SetPanelWidth(2, layout_.StatusBar1Panel2Width);
}

void Form1::Form_Resize()
{
    if (!client_) return;
    feedLayout();
    layout_.Form_Resize();
    applyLayout();
    fitAddressColumns();
}

void Form1::mnuViewFolderList_Click()
{
    feedLayout();
    layout_.mnuViewFolderList_Click();
    mnuViewFolderList->setChecked(layout_.mnuViewFolderListChecked);
    applyLayout();
}

void Form1::mnuViewMessagePane_Click()
{
    feedLayout();
    layout_.mnuViewMessagePane_Click();
    mnuViewMessagePane->setChecked(layout_.mnuViewMessagePaneChecked);
    applyLayout();
    // In both directions the current row is read again.
    if (AddressListMode == 0 && xa->UpperBound(1) >= 1) LoadMessageFromBookmark(TDBGrid1->Bookmark());
}

bool Form1::splitterEvent(QObject* watched, QEvent* e)
{
    const bool press = e->type() == QEvent::MouseButtonPress;
    const bool move = e->type() == QEvent::MouseMove;
    const bool release = e->type() == QEvent::MouseButtonRelease;
    if (!press && !move && !release) return false;
    auto* me = static_cast<QMouseEvent*>(e);
    const int button = int(move ? me->buttons() : me->button()) & 7;
    int shift = 0;
    if (me->modifiers() & Qt::ShiftModifier) shift |= 1;
    if (me->modifiers() & Qt::ControlModifier) shift |= 2;
    if (me->modifiers() & Qt::AltModifier) shift |= 4;
    const float x = Form1Layout::toTwips(int(me->position().x()));
    const float y = Form1Layout::toTwips(int(me->position().y()));
    feedLayout();
    if (watched == vDiv1) {
        if (press) layout_.vDiv1_MouseDown(button, shift, x, y);
        if (move) layout_.vDiv1_MouseMove(button, shift, x, y);
        if (release) layout_.vDiv1_MouseUp(button, shift, x, y);
    } else if (watched == vDiv2) {
        if (press) layout_.vDiv2_MouseDown(button, shift, x, y);
        if (release) layout_.vDiv2_MouseUp(button, shift, x, y);
    } else if (watched == hDiv1) {
        if (press) layout_.hDiv1_MouseDown(button, shift, x, y);
        if (move) layout_.hDiv1_MouseMove(button, shift, x, y);
        if (release) layout_.hDiv1_MouseUp(button, shift, x, y);
    } else if (watched == hDiv2) {
        if (press) layout_.hDiv2_MouseDown(button, shift, x, y);
    }
    applyLayout();
    return true;
}

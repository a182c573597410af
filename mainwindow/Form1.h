#pragma once
// The main window: the folder tree on the left; on the right the message grid over the preview,
// or the address grid. Other windows read its tree, grids and row arrays and call its reloads.
//
// Controls are placed on a client widget in pixels from twips (15 twips = 1 pixel, rounded with
// qRound). Every text from a message, a folder name or the database is shown as plain text; the
// one exception is the HTML preview, which runs no script and loads nothing but its own file.
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTextBrowser>
#include <QVariant>

class QHelpEvent;
#include <functional>
#include <memory>

#include "mainwindow/Form1Layout.h"
#include "platform/mail/MailTypes.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/TreeView.h"
#include "platform/ui/XArrayDB.h"

class QAction;
class QFrame;
class QMenu;
class QMimeData;
class QTextEdit;
class QToolBar;

// A status bar of two panels; panel widths are in twips, 1-based as the windows name them.
class StatusBarPanels : public QFrame {
    Q_OBJECT
public:
    explicit StatusBarPanels(QWidget* parent = nullptr);
    // The whole text; a panel too narrow for it shows it cut, ending in "…", and its tooltip
    // then begins with the whole text.
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    void SetPanelTip(int index, const QString& tip);
    double PanelWidth(int index) const;
    void SetPanelWidth(int index, double twips);
    QLabel* panel(int index) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    void fit(int slot);
    QLabel* panels_[2];
    QString texts_[2], tips_[2];
    double widths_[2] = {1500, 1500};
};

// The HTML preview: shows the preview file only. Nothing else is ever loaded (no remote or local
// images, style sheets or frames), links are not followed, and no script exists to run.
class PreviewBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit PreviewBrowser(QWidget* parent = nullptr);
    // Shows the file, read as UTF-8.
    void Navigate(const QString& path);
    // Resources that were asked for and refused since the last Navigate.
    int RefusedResources() const { return refused_; }

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    QUrl document_;
    int refused_ = 0;
};

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // The loaded main window; nullptr before start-up loads it and after it is destroyed.
    static Form1* Instance();

    // ---- public members read by other windows ----
    std::shared_ptr<ui::XArrayDB> xa;  // message rows, columns 0-14
    std::shared_ptr<ui::XArrayDB> ex;  // address rows, columns 0-7

    ui::TreeView* TreeView1 = nullptr;
    ui::DataGrid* TDBGrid1 = nullptr;
    ui::DataGrid* TDBGrid2 = nullptr;

    void LoadFolders();
    // Throws mail::MailError when the folder cannot be read; the grid is then left empty.
    void LoadMessages(ui::TreeNode* nodx, const QVariant& NODISPLAY = QVariant());
    void LoadMessageFromBookmark(const QVariant& bookmark);
    void ClearMessagePane();
    void LoadEmailAddresses(ui::TreeNode* nodx);
    // Column 3 of an address row: city, state and country, each trimmed and followed by one
    // blank, then the trimmed zip; a blank part adds nothing.
    static QString AddressPlaceLine(const QVariant& city, const QVariant& state, const QVariant& country, const QVariant& zip);
    // Select row 1 of the message grid (preview cleared, row not previewed) or of the address grid.
    void SetFirstEmailBookmark();
    void SetFirstdravonelBookmark();
    // The body of message row r (column 7 of xa), read from its message when first asked for.
    QString MessageBody(int row);
    // The rows of the messages with these EntryIDs leave the message grid, in one pass; the
    // selection is cleared and the row at the place of the last selected one is shown.
    void RemoveMessageRows(QSet<QString> entryIds);
    // Reads the message grid's folder again, quietly and in the user's sort order: the selected
    // messages stay selected and the current one current (by EntryID), the first row shown stays
    // first, and the preview changes only when the current message has gone.
    void ReloadMessages();

    int AddressListMode = 0;

    // What ex holds: 0 nothing loaded, 1 the Master List, 2 a list folder's members.
    enum AddressView { NoAddresses = 0, MasterListView = 1, ListFolderView = 2 };
    int AddressListView() const { return addressView_; }
    // Key of the list folder whose rows ex holds (empty while it holds none).
    QString AddressListFolderKey() const { return addressFolderKey_; }
    // Key of the mail folder whose rows xa holds.
    QString MessageListFolderKey() const { return messageFolderKey_; }

    // ---- event handlers ----
    void Form_Load();
    void Form_Activate();
    void Form_Unload(int& Cancel);
    void Form_Resize();
    void TreeView1_MouseUp(int Button, int Shift, double x, double y);
    void TreeView1_KeyDown(int& KeyCode, int Shift);
    void Toolbar2_ButtonClick();
    void mnuViewFolderList_Click();
    void mnuViewMessagePane_Click();

    // ---- grid selection, sorting, drag and drop onto the tree, attachments, export ----
    void TDBGrid1_MouseButton(int Button, int Shift, double X, double Y);
    void TDBGrid2_MouseButton(int Button, int Shift, double X, double Y);
    void TDBGrid1_MouseMove(int Button, int Shift, double X, double Y);
    void TDBGrid2_MouseMove(int Button, int Shift, double X, double Y);
    void TDBGrid1_OLEStartDrag();
    void TDBGrid2_OLEStartDrag();
    void TDBGrid1_OLECompleteDrag();
    void TDBGrid2_OLECompleteDrag();
    void TDBGrid1_DblClick();
    void TDBGrid2_DblClick();
    void TDBGrid1_HeadClick(int ColIndex);
    void TDBGrid2_HeadClick(int ColIndex);
    void SetSpecificEmailBookmark(const QVariant& bookmark);
    void TreeView1_OLEDragDrop(const QMimeData* Data, int& Effect, int Button, int Shift, double x, double y);
    void mnuAtt_Click(int Index);
    // Modes: 1 the selected addresses, 2 the selected messages' correspondents, 3 the selected
    // list folder's addresses.
    void ExportAddresses(const QVariant& nMode);
    // Each returns false when the file could not be written (the user has been told).
    bool ExportAddressesBulkPopup(const QString& fName);
    bool ExportAddressesBulkFolderPopup(const QString& fName);
    bool ExportAddressesEmailPopup(const QString& fName);
    void ConnectGridEvents();

    // ---- Setup menu: mail accounts, options and imports ----
    // The mail host's accounts and options dialogs.
    void mnuSetupMailAccounts_Click();
    void mnuSetupOptions_Click();
    void mnuSetupImportFromOutlook_Click();
    void mnuSetupImportFromContacts_Click();
    void mnuSetupImportCommaDelimited_Click();
    // Opens the import dialog in the given mode, modally.
    void ShowImportDialog(int mode);

    // ---- composing: the mail-merge compose commands ----
    void mnuBulkPopComposeMailMerge_Click();
    void mnuFolderPopComposeMailMerge_Click();

    // ---- File menu, message popup, mail-folder popup and toolbar (Form1MessageCommands.cpp) ----
    void filem_new_Click();
    void filem_open_Click();
    void filem_print_Click();
    void filem_printsetup_Click();
    void mnuEmailPopOpen_Click();
    void mnuEmailPopPrint_Click();
    void mnuEmailPopReply_Click();
    void mnuEmailPopForward_Click();
    void mnuEmailPopDelete_Click();
    void mnuEmailPopAddToMaster_Click();
    void mnuEmailPopExport_Click();
    void mnuFolderEmailPopNewFolder_Click();
    void mnuFolderEmailPopRename_Click();
    void mnuFolderEmailPopDelete_Click();
    void mnuFolderEmailPopRefresh_Click();
    // Index 1 to 10, the buttons from the left; any other index does nothing.
    void Toolbar1_ButtonClick(int Index);

    // ---- address popup and Edit menu (Form1AddressCommands.cpp) ----
    void mnuBulkPopNew_Click();
    void mnuBulkPopCompose_Click();
    void mnuBulkPopExport_Click();
    void mnuBulkPopDelete_Click();
    void mnuEdit_SelectAll_Click();
    void mnuEdit_Delete_Click();

    // The correspondent of message row `row` (GetMessageAddress, what column 4 shows); empty when
    // it is no e-mail address (a sender known by name only). Throws mail::MailError when the row's
    // message is gone.
    QString MessageCorrespondent(int row);

    // ---- commands that open the dialogs of other windows (Form1Dialogs.cpp) ----
    // Folder picker Form6.
    void mnuEmailPopCopy_Click();
    void mnuEmailPopMove_Click();
    void mnuEmailPopAddToFolder_Click();
    void mnuFolderEmailPopMove_Click();
    void mnuFolderEmailPopCopy_Click();
    void mnuFolderPopMove_Click();
    void mnuFolderPopCopy_Click();
    void mnuBulkPopCopy_Click();
    void mnuBulkPopMove_Click();
    // Address editor Form4.
    void mnuEmailPopProperties_Click();
    void mnuBulkPopProperties_Click();
    // Profile list Form8 and profile chooser Form10.
    void mnuSetupProfiles_Click();
    void mnuEmailPopAddWithProfile_Click();
    void mnuFolderPopApply_Click();
    void mnuBulkPopAplyProfile_Click();
    // Custom fields Form5, the help page and the About box Form22.
    void mnuSetupCustomFields_Click();
    void helpm_contents_Click();
    void helpm_about_Click();

    // ---- list-folder popup commands ----
    void mnuFolderPopupNew_Click();
    void mnuFolderPopNew_Click();
    void mnuFolderPopRefresh_Click();
    void mnuFolderPopCompose_Click();
    void mnuFolderPopRename_Click();
    void mnuFolderPopDelete_Click();
    void mnuFolderPopProperties_Click();
    void mnuFolderPopExport_Click();

    // ---- controls ----
    QToolBar* Toolbar1 = nullptr;
    QFrame* SSPanel2 = nullptr;
    QLabel* lblLeftPane = nullptr;
    QLabel* lblRightPane = nullptr;
    QFrame* vDiv1 = nullptr;
    QFrame* vDiv2 = nullptr;
    QFrame* hDiv1 = nullptr;
    QFrame* hDiv2 = nullptr;
    QTextEdit* msgPane = nullptr;
    PreviewBrowser* WebBrowser1 = nullptr;
    QFrame* msgPaneHeader = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lblMessageHeaderFrom = nullptr;
    QLabel* lblMessageHeaderTo = nullptr;
    QLabel* lblMessageHeaderSubject = nullptr;
    QLabel* lblMessageHeaderCC = nullptr;
    QToolBar* Toolbar2 = nullptr;
    StatusBarPanels* StatusBar1 = nullptr;
    QWidget* client() const { return client_; }

    // ---- menus ----
    QMenu* filem = nullptr;
    QAction *filem_new, *filem_open, *filem_print, *filem_printsetup, *filem_exit;
    QMenu* mnuEdit = nullptr;
    QAction *mnuEdit_Cut, *mnuEdit_Copy, *mnuEdit_Paste, *mnuEdit_SelectAll, *mnuEdit_Delete;
    QMenu* mnuView = nullptr;
    QAction *mnuViewFolderList, *mnuViewMessagePane;
    QMenu* mnuSetup = nullptr;
    QAction *mnuSetupCustomFields, *mnuSetupProfiles, *mnuSetupMailAccounts, *mnuSetupOptions,
        *mnuSetupImportFromOutlook, *mnuSetupImportFromContacts, *mnuSetupImportCommaDelimited;
    QMenu* helpm = nullptr;
    QAction *helpm_contents, *helpm_about;

    QMenu* mnuFolderPop = nullptr;
    QAction *mnuFolderPopupNew, *mnuFolderPopNew, *mnuFolderPopRefresh, *mnuFolderPopCompose,
        *mnuFolderPopComposeMailMerge, *mnuFolderPopRename, *mnuFolderPopMove, *mnuFolderPopCopy,
        *mnuFolderPopApply, *mnuFolderPopExport, *mnuFolderPopDelete, *mnuFolderPopProperties;
    QMenu* mnuFolderEmailPop = nullptr;
    QAction *mnuFolderEmailPopNewFolder, *mnuFolderEmailPopRename, *mnuFolderEmailPopMove,
        *mnuFolderEmailPopCopy, *mnuFolderEmailPopDelete, *mnuFolderEmailPopRefresh;
    QMenu* mnuBulkPop = nullptr;
    QAction *mnuBulkPopNew, *mnuBulkPopCompose, *mnuBulkPopComposeMailMerge, *mnuBulkPopCopy,
        *mnuBulkPopMove, *mnuBulkPopAplyProfile, *mnuBulkPopExport, *mnuBulkPopDelete, *mnuBulkPopProperties;
    QMenu* mnuEmailPop = nullptr;
    QAction *mnuEmailPopOpen, *mnuEmailPopPrint, *mnuEmailPopReply, *mnuEmailPopForward, *mnuEmailPopCopy,
        *mnuEmailPopMove, *mnuEmailPopDelete, *mnuEmailPopAddToMaster, *mnuEmailPopAddToFolder,
        *mnuEmailPopAddWithProfile, *mnuEmailPopExport, *mnuEmailPopProperties;
    QMenu* mnuAttachments = nullptr;
    // Item 0 is the separator; items 1..AttachmentMenuCount name the attachments.
    QList<QAction*> mnuAtt;
    // The popup menu shown last (tests read it; the menu is shown without waiting).
    QMenu* LastPopup = nullptr;

    // ---- state shared by the window's procedures ----
    QVariantList MessageSortState{1, 1, 1};
    QVariantList AddressSortState{1, 1, 1};
    int AttachmentMenuCount = 0;
    mail::MailItemPtr CurrentMailItem;
    QString TempHtmlPath;
    QVariant DragInProgress, DragMoveCount, DragSource, DragBookmarks;
    QVariant LastMessageBookmark, LastAddressBookmark;
    mail::FolderPtr DeletedItemsFolder, InboxFolder, OutboxFolder, SentItemsFolder, DraftsFolder;

    // While true the window takes no mouse or key input (a long loop is running).
    bool Busy() const { return busy_ > 0; }

    // Client size in twips, as the layouts read it.
    double ScaleWidth() const;
    double ScaleHeight() const;

    // The pane geometry; Form_Resize feeds it the window's state and applies what it computes.
    Form1Layout& Layout() { return layout_; }
    QWidget* widgetOf(Form1Layout::Control c) const;
    // Sets lblRightPane's caption and the width it needs.
    void SetRightPaneCaption(const QString& text);

    // Twips to pixels, the one rounding rule of every placement.
    static int Px(double twips) { return Form1Layout::toPixels(float(twips)); }
    static double Tw(int pixels) { return pixels * 15.0; }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    friend class BusyScope;
    void buildControls();
    void buildMenus();
    // A menu item whose handler runs through runCommand.
    QAction* command(QMenu* menu, const char* name, const QString& caption, void (Form1::*handler)());
    // Runs a command; a failure is shown, never passed into the event loop.
    void runCommand(const std::function<void()>& handler);
    // A new message in the mail host's compose window, when either grid shows.
    void ComposeNewMessage();
    bool messageGridShown() const;
    void feedLayout();
    void applyLayout();
    bool splitterEvent(QObject* watched, QEvent* e);
    void setupGridColumns();
    // Form1Look.cpp: the toolbar's icons and the address grid's column widths.
    void setupToolbarLook();
    void fitAddressColumns();
    void popup(QMenu* menu);
    void specialFolderTest(const QString& entryId, const QString& nodeKey);
    void unloadAttachmentItems();
    void emptyAddressList();
    void emptyMessageList();
    void setAddressRows(std::shared_ptr<ui::XArrayDB> rows);
    // The message grid's rows of a folder's items; progress gets each item's number. An Outbox
    // message that waits for a retry or for the user carries its own mark in column 1, and why
    // (and when it goes again) in column 11, the mark's tooltip.
    static constexpr char kRefusedMark[] = "refused";
    static constexpr char kMaybeDeliveredMark[] = "may have been delivered";
    static constexpr char kRetryMark[] = "waiting for a retry";
    static constexpr char kWaitsForYouMark[] = "waiting for you";
    static constexpr int kMarkTipColumn = 11;
    static std::shared_ptr<ui::XArrayDB> messageRows(const mail::ItemsPtr& items, const std::function<void(int)>& progress);
    // A delivery run ended: the Outbox or Sent Items shown is read again, once
    // the command running now (Busy, a dialog, a menu, a drag, a held press) has ended.
    void deliveryRunFinished();
    // A message was written anew where it is (Hooks().itemChanged): the folder shown, when it is
    // that one, is read again, and the preview too when it shows that message; once the rows
    // are free (rowsInUse).
    void messageChanged(const QString& folderId, const QString& itemId, const QString& formerId);
    void reloadChangedMessages();
    bool rowsInUse() const;
    // The tooltip of an Outbox message's mark; false when the point shows none.
    bool showMarkTip(QHelpEvent* e);

    QWidget* client_ = nullptr;
    Form1Layout layout_;
    int busy_ = 0;
    bool reloadWhenIdle_ = false;
    QHash<QString, QString> changedMessages_;    // messages written anew: their ids before, now
    bool changedReloadPending_ = false;
    QElapsedTimer deliveryReadAt_;    // when the folder was last read again for a run
    qint64 deliveryReadCost_ = 0;     // and how long that took, ms
    // The message column the user sorted by: + ascending, - descending, 0 the folder's order.
    int messageSort_ = 0;
    bool unloaded_ = false;
    // Quitting waits for a transfer: what the status line says meanwhile, in place of the runs'.
    QString quitNotice_;
    int addressView_ = NoAddresses;
    QString addressFolderKey_;
    QString messageFolderKey_;
};

// Holds the main window's input off for as long as it lives (long loops that let events run).
class BusyScope {
public:
    explicit BusyScope(Form1* f) : f_(f) { if (f_) ++f_->busy_; }
    ~BusyScope() { if (f_) --f_->busy_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    QPointer<Form1> f_;
};

// The "MAPI" namespace and the mail host; throw mail::MailError when the mail host is not running.
mail::NameSpacePtr RequireNameSpace();
mail::ApplicationPtr RequireApplication();

// The rows selected in a grid, in the order they were selected.
QList<int> SelectedRows(ui::DataGrid* grid);

// Escapes "&" so a text from a message shows as written in a menu caption.
QString MenuCaption(const QString& text);

// The shared message of a command on messages that failed, after the pointer goes back to the
// arrow unless told otherwise.
void ShowItemError(bool resetPointer = true);
// What that message says of a failure caught: the shared text, unless the Outbox's queue said
// why it kept the message (mail::QueueRefusal), which is told instead.
QString ItemErrorText(const std::exception& failure);

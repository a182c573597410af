#pragma once
// The composer: one bulk message (a mail item carrying subject, copy lines, properties and
// attachments; the body template in txtMsg) and its send-to list, built from the address grid's
// selection when the window loads. Send checks the message, asks for confirmation (Form24) and
// hands over to the bulk send (Form20). Nothing here writes the database.
//
// Send-to list ex: rows 1..n, columns 0..5: 0 "-1", 1 address, 2 name, 3 place line,
// 4 Send flag ("-1" included), 5 MasterList.RecID.
#include <QDateTime>
#include <QDialog>
#include <QVariant>
#include <array>
#include <memory>

#include "platform/mail/MailTypes.h"
#include "platform/ui/CommonDialog.h"
#include "platform/ui/XArrayDB.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QTextEdit;
class QToolBar;
class QToolButton;
class qelPopup;

class frmCompose : public QDialog {
    Q_OBJECT
public:
    explicit frmCompose(QWidget* parent = nullptr);
    ~frmCompose() override;

    // ---- public members ----
    mail::MailItemPtr mi;
    std::shared_ptr<ui::XArrayDB> ex;

    int MessageFormat() const { return messageFormat_; }
    void SetMessageFormat(int v) { messageFormat_ = v; }
    int MessageImportance() const { return messageImportance_; }
    void SetMessageImportance(int v) { messageImportance_ = v; }
    int MessageSensitivity() const { return messageSensitivity_; }
    void SetMessageSensitivity(int v) { messageSensitivity_ = v; }
    QString MessageSendUsing() const { return messageSendUsing_; }
    void SetMessageSendUsing(const QString& v) { messageSendUsing_ = v; }
    int MessageReadReceipt() const { return messageReadReceipt_; }
    void SetMessageReadReceipt(int v) { messageReadReceipt_ = v; }
    qint64 SendToCount() const { return sendToCount_; }
    void SetSendToCount(qint64 v) { sendToCount_ = v; }
    void SetMailMessageTo(const QString& text);

    // The account that sends: MessageSendUsing when it names a mail account, else the default
    // account (empty when there are no accounts). What the confirmation shows and the send uses.
    QString SendingAccount() const;

    QString MessageFileName() const { return messageFileName_; }
    // What the sends from this window put in the Outbox since it loaded (or since File > New):
    // messages in all, sends, and when the last one went. Another Send queues them all again.
    int QueuedMessages() const { return queuedMessages_; }
    int QueuedSends() const { return queuedSends_; }
    QDateTime LastQueuedAt() const { return lastQueuedAt_; }
    bool ToolbarEventsOn() const { return toolbarEventsOn_; }

    // ---- controls ----
    QMenuBar* menuBar = nullptr;
    QWidget* client = nullptr;
    QLineEdit* txtTo = nullptr;
    QLineEdit* txtCC = nullptr;
    QLineEdit* txtBCC = nullptr;
    QLineEdit* txtReplyTo = nullptr;
    QLineEdit* txtSubject = nullptr;
    QPushButton* CommandTo = nullptr;
    QPushButton* CommandCC = nullptr;
    QPushButton* CommandBCC = nullptr;
    QPushButton* CommandReplyTo = nullptr;
    QLabel* lblSubject = nullptr;
    QTextEdit* txtMsg = nullptr;
    QWidget* picA = nullptr;
    std::array<QToolButton*, 10> Attachment{};
    std::array<QLabel*, 10> AttachmentLabel{};
    QToolBar* toolbar = nullptr;
    // Below the client area: what the last sends put in the Outbox; hidden until one did.
    QLabel* lblSendOutcome = nullptr;
    // Toolbar1(index) button (1 or 2); nullptr for a spacer or a missing button.
    QAction* Toolbar1(int index, int button = 1) const;
    ui::CommonDialog CommonDialog1;
    qelPopup* qelPopup1 = nullptr;
    qelPopup* qelPopup2 = nullptr;

    QMenu* filem = nullptr;
    QAction *filemNew, *filemOpen, *filemSave, *filemSaveAs, *filemDelete, *filemPrint, *filemPrintSetup,
        *filemPreview, *filemExit;
    QMenu* editm = nullptr;
    QAction *editmCut, *editmCopy, *editmPaste, *editmSelectAll, *editmInsertMergeField, *editmInsertText,
        *editmInsertAttachment, *editmInsertSignature, *editmProperties;
    QMenu* viewm = nullptr;
    QAction *viewmReplyTo, *viewmBCC, *viewm_sendtolist;

    // ---- procedures and handlers ----
    void Form_Load();
    void Form_Activate();
    void Form_Resize();
    void Form_Unload();
    // Index 0 Send, 1 Save, 2 Print, 3-5 Cut/Copy/Paste, 9 Insert Text File, 10 Properties,
    // 12/14/16 the toggles (button 1 or 2, read in its new state).
    void Toolbar1_ButtonClick(int Index, int Button = 1);
    void SetToolbarState();
    void ShowAttachments();

    void editmCut_Click();
    void editmCopy_Click();
    void editmPaste_Click();
    void editmSelectAll_Click();
    void filemDelete_Click();
    void editmInsertMergeField_Click();
    void editmInsertText_Click();
    void editmInsertAttachment_Click();
    void editmProperties_Click();
    void viewmBCC_Click();
    void viewmReplyTo_Click();
    void viewm_sendtolist_Click();
    void CommandTo_Click() { viewm_sendtolist_Click(); }

    void filemNew_Click();
    void filemOpen_Click();
    void filemSave_Click();
    void filemSaveAs_Click();
    void filemPrint_Click();
    void filemPrintSetup_Click();
    void filemPreview_Click();
    void filemExit_Click();

    // Body popup: right button down over the body (twips inside the body).
    void txtMsg_MouseDown(int Button, int Shift, double X, double Y);
    void qelPopup1_SelectionMade(int Index);
    // Attachment strip.
    void Attachment_MouseUp(int Index, int Button);
    void AttachmentLabel_MouseUp(int Index, int Button);
    void Attachment_GotFocus(int Index);
    void Attachment_LostFocus(int Index);
    void qelPopup2_SelectionMade(int Index);
    void qelPopup2_LostFocus();
    bool SlotHighlighted(int Index) const { return highlighted_[size_t(Index)]; }
    int PopupAttachmentIndex() const { return popupAttachmentIndex_; }
    bool AttachmentMenuOpen() const { return attachmentMenuOpen_; }

    // The edit box the edit commands act on: the focused one of body, subject, CC, BCC and
    // Reply To, else the one that had the focus last. Never the To box.
    QWidget* EditTarget() const;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    bool ValidateMessage();
    void Send();
    void buildControls();
    void buildMenus();
    void buildToolbar();
    void newItem();
    void setSlotHighlight(int index, bool on);
    // Tells what the sends put in the Outbox, or nothing once a new message begins.
    void showSendOutcome();
    bool writeBody(const QString& path, QString* error) const;

    int messageFormat_ = 0;
    int messageImportance_ = 1;
    int messageSensitivity_ = 0;
    QString messageSendUsing_;
    int messageReadReceipt_ = 0;
    qint64 sendToCount_ = 0;
    QString messageFileName_;
    int queuedMessages_ = 0;
    int queuedSends_ = 0;
    QDateTime lastQueuedAt_;
    bool toolbarEventsOn_ = false;
    int popupAttachmentIndex_ = 0;
    bool attachmentMenuOpen_ = false;
    std::array<bool, 10> highlighted_{};
    QWidget* lastEdit_ = nullptr;
    std::array<std::array<QAction*, 2>, 17> toolbar1_{};
    bool unloaded_ = false;
};

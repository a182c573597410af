#pragma once
// The mail host's own windows: the message window (a received message, read-only), the compose
// window (new messages, replies, forwards, drafts), the accounts and options dialogs, and
// printing a message. The Application installs them into Hooks() when it is made.
#include <QDateTime>
#include <QDialog>
#include <QStringList>

#include "platform/mail/MailTypes.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTextBrowser;
class QTimer;

namespace mail {

void InstallWindowHooks();

// The Setup menu's "Mail Accounts" and "Options..." dialogs, shown through ui::ShowModal.
// Return the dialog's result code.
int ShowAccountsDialog(QWidget* parent = nullptr);
int ShowOptionsDialog(QWidget* parent = nullptr);

// Prints the message's headers and body on the shared printer (ui::Printer()).
void PrintMessage(const MailItemPtr& item);

// The window open for an inspector, or nullptr.
QDialog* WindowOf(const Inspector& inspector);

// Closes every compose window as its close box would, each asking about its changes. False when
// the user cancelled in one: that window and those not reached yet stay open.
bool CloseComposeWindows();

// A received message: headers and body as plain text, or an HTML body that runs no script and
// fetches nothing; attachments open through the desktop. The only window that raises its
// Inspector's Deactivate when it stops being the active window (the program closes it then): a
// box or dialog of its own that comes up over it keeps the activation in it, and while one is
// open, Deactivate waits for it to end. A message in the Outbox shows
// where it stands in the sending queue (the server's kept answer, the retry time) and offers to
// send it again, to edit it in the compose window, or to delete it.
class MessageWindow : public QDialog {
    Q_OBJECT
public:
    MessageWindow(const MailItemPtr& item, QWidget* parent = nullptr);
    ~MessageWindow() override;
    MailItemPtr item() const { return item_; }

    QLabel* lblFrom;
    QLabel* lblSent;
    QLabel* lblTo;
    QLabel* lblCC;
    QLabel* lblSubject;
    QPlainTextEdit* txtBody = nullptr;   // a text body
    QTextBrowser* htmlBody = nullptr;    // an HTML body
    QListWidget* lstAttachments;
    // A message in the Outbox only.
    QLabel* lblSending = nullptr;
    QPushButton* cmdSendAgain = nullptr;
    QPushButton* cmdEdit = nullptr;
    QPushButton* cmdDelete = nullptr;

    // Saves attachment index (1-based) into a private folder and opens it. False when it could not.
    bool OpenAttachment(int index);
    // Each returns true when it did what it says; refusals are told in a message box.
    bool SendAgain_Click();
    // Opens the message in the compose window, which keeps it off the spooler until it closes.
    bool Edit_Click();
    bool Delete_Click();
    // Reads the queue afresh (also done every second while the window is open).
    void ShowSendingStatus();

protected:
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Raises Deactivate for activation that has left, once no box or dialog of its own is open.
    void deactivateWhenFree();
    // The From and Sent lines, from the message as it is now (Send Again may write it afresh).
    void showSender();
    MailItemPtr item_;
    InspectorPtr inspector_;
    bool wasActive_ = false;
    bool handedOver_ = false;
    bool left_ = false;  // activation left, Deactivate not raised yet
    // Sent again from here: the attempt's answer is told with the time it came, as the same
    // words as before would not show that it was tried. Looked for often until it comes.
    QTimer* statusTimer_ = nullptr;
    bool awaitingAnswer_ = false;
    QDateTime answeredAt_;
    send::QueueStatus answered_;    // what it was then: the time holds while it stays so
};

// A message being written. Closing it while it holds changes asks whether to keep them; it never
// closes itself when it loses activation.
class ComposeWindow : public QDialog {
    Q_OBJECT
public:
    ComposeWindow(const MailItemPtr& item, QWidget* parent = nullptr);
    ~ComposeWindow() override;
    MailItemPtr item() const { return item_; }
    bool isModified() const { return modified_; }

    QLineEdit* txtTo;
    QLineEdit* txtCC;
    QLineEdit* txtBCC;
    QLineEdit* txtSubject;
    QPlainTextEdit* txtBody;
    QListWidget* lstAttachments;
    QPushButton* cmdSend;
    QPushButton* cmdSave;
    QPushButton* cmdAttach;
    QPushButton* cmdRemoveAttachment;

    // Each returns true when it did what it says; failures are told in a message box.
    bool Send_Click();
    bool Save_Click();
    bool Attach_Click();   // asks for a file through the common dialog
    bool AttachFile(const QString& path);
    void RemoveAttachment_Click();

    // Esc and accept() end the dialog here without a close event: the same question as closing.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Asks about unsaved changes; false when the window is to stay open.
    bool mayClose();
    void apply();
    void fillAttachments();
    MailItemPtr item_;
    InspectorPtr inspector_;
    bool modified_ = false;
    bool bodyEdited_ = false;
    bool recipientsEdited_[3] = {false, false, false};
    bool subjectEdited_ = false;
};

// accounts.ini: list, add, edit, remove. OK writes the file; a file that cannot be written, or an
// account that could not send, is told and the dialog stays.
class AccountsDialog : public QDialog {
    Q_OBJECT
public:
    explicit AccountsDialog(QWidget* parent = nullptr);

    QListWidget* lstAccounts;
    QLineEdit* txtName;
    QLineEdit* txtDisplayName;
    QLineEdit* txtAddress;
    QLineEdit* txtTransport;
    QLineEdit* txtUser;
    QLineEdit* txtPassword;
    QLineEdit* txtPasswordCommand;
    QCheckBox* chkStartTls;
    QLineEdit* txtReceiveCommand;
    QCheckBox* chkSendReceive;
    QCheckBox* chkDefault;

    void Add_Click();
    void Remove_Click();
    // Saves and closes; false (dialog stays) when the accounts cannot be saved.
    bool OK_Click();
    void Cancel_Click() { reject(); }
    void SelectAccount(int row);

    QList<send::Account> accounts;  // as edited, in file order

private:
    void store();   // editors -> the selected account
    void load();    // the selected account -> editors
    int current_ = -1;
    QStringList savedAs_;    // each account's name as the file has it; empty: added here
};

// The list of further stores in stores.ini (name and folder). Changes take effect at the next start.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent = nullptr);

    QListWidget* lstStores;
    QLineEdit* txtStoreName;
    QLineEdit* txtStorePath;

    // Adds the store named in txtStoreName at txtStorePath; false (with a message) when refused.
    bool Add_Click();
    void Remove_Click();
    bool OK_Click();
    void Cancel_Click() { reject(); }

    QList<std::pair<QString, QString>> stores;  // name, path
};

} // namespace mail

#pragma once
// The "Import Utility" dialog: adds addresses in bulk to the Master List and to the list folders
// selected in its target list, from every mail folder (correspondents), every contact folder
// (first address) or a comma-delimited file. The main window sets Mode before showing it.
#include <QDialog>
#include <QStringList>
#include <memory>

#include "platform/mail/MailTypes.h"
#include "platform/ui/CommonDialog.h"

class AddressImport;
class QCheckBox;
class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class Form19 : public QDialog {
    Q_OBJECT
public:
    explicit Form19(QWidget* parent = nullptr);
    ~Form19() override;

    enum ImportMode { ModeMailFolders = 1, ModeContactFolders = 2, ModeFile = 4 };

    // Stores the mode and sets the captions and the "Include Names" box for it; any other
    // value is stored and changes nothing.
    void SetMode(int mode);
    int Mode() const { return mode_; }

    // Items found by the count pass (folder imports) or records read (file import).
    qint64 ImportItemTotal = 0;
    // Items met so far by the scan pass.
    qint64 ImportItemCounter = 0;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QListWidget* List1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    QLabel* Image1 = nullptr;
    ui::CommonDialog CommonDialog1;

    void Form_Load();
    void Form_Activate();
    // Continue: runs the import of the current mode; the dialog stays open.
    void Command1_Click();
    // Exit.
    void Command2_Click();

    // The RecIDs of the list folders selected in the target list, in list order.
    QList<qint64> SelectedFolders() const;

protected:
    bool event(QEvent* e) override;

private:
    void ImportFromOutlookFolders();
    void ImportFromContactFolders();
    void ImportFromFile();
    void CountMailItems(const mail::FolderPtr& folder);
    void CountContactItems(const mail::FolderPtr& folder);
    void ImportMailSubFolders(const mail::FolderPtr& folder);
    void ImportContactSubFolders(const mail::FolderPtr& folder);

    // The folder import of one kind (0 mail, 2 contacts).
    void importFolders(int itemType);
    void countSubFolders(const mail::FolderPtr& folder, int itemType);
    void scanSubFolders(const mail::FolderPtr& folder, int itemType);
    void scanFolder(const mail::FolderPtr& folder, int itemType);
    void scanItem(const mail::ItemPtr& item, int itemType);
    // Reloads the main window's address grid when it shows a list folder, then the closing box.
    void finish(const QString& closing);

    int mode_ = 0;
    std::unique_ptr<AddressImport> import_;
};

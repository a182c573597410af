#pragma once
// "Select Folder": the destination picker through which the main window's popup commands move
// and copy addresses, messages, mail folders and list folders, and add the correspondents of
// messages to a list folder. The opener gives the source folder's key and the action code in one
// call; Apply runs the action, closes on success and stays open after a refusal or a failure.
#include <QDialog>
#include <QSet>

#include "platform/ui/TreeView.h"

class Form1;
class QLabel;
class QPushButton;

class Form6 : public QDialog {
    Q_OBJECT
public:
    // The actions' codes, as the main window's commands pass them.
    enum ActionCode {
        ActionCopyAddresses = 1,
        ActionCopyMessages = 2,
        ActionMoveAddresses = 3,
        ActionMoveMessages = 4,
        ActionMoveFolder = 5,
        ActionCopyFolder = 6,
        ActionSendersToList = 7,
    };

    // The main window whose tree, grids and row arrays the actions read and reload.
    explicit Form6(Form1* owner);

    // The source folder's node key (the main window's current folder), then the action code:
    // stores both, sets the caption and fills the picker. A code outside 1 to 7 is only stored.
    void SetAction(const QString& nodx, int Action);
    QString nodx() const { return nodx_; }
    int intAction = 0;

    // Clear the picker and fill it with mail folders, list folders, or both.
    void LoadEmailFolders();
    void LoadDravonelFolders();
    void LoadAllFolders();

    ui::TreeView* TreeView1 = nullptr;
    QLabel* lblAction = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

    // Each returns true when the work was done (the dialog then closes), false after a refusal or
    // a failure, which it has shown.
    bool ActionDravonelCopy();
    bool ActionEMailCopy();
    bool ActionDravonelMove();
    bool ActionEMailMove();
    bool ActionEmailFolderMove();
    bool ActionEmailFolderCopy();
    bool ActionDravonelFolderMove();
    bool ActionDravonelFolderCopy();
    bool ActionEmailToDravonel();

    // True when the destination list folder is not inside the source folder's subtree. Throws
    // db::DbError when the table cannot be read.
    bool ChildCheckOK(const QString& sourceKey, const QString& destinationKey);
    // True when TargetRecID is not a descendant of ParentFolderRecID. Walks up from the target,
    // so a parent chain that runs in a circle ends instead of looping.
    bool RecurChildCheck(qint64 ParentFolderRecID, qint64 TargetRecID);
    // Inserts a placeholder row (FolderType -1) and returns its RecID. The caller runs it inside
    // its transaction and fills the row at once. Throws db::DbError.
    qint64 GetNextFolderRecID();

protected:
    bool event(QEvent* e) override;

private:
    bool moveOrCopyMessages(bool move);
    void removeMessageRows(QSet<QString> moved);
    void CopyFolderChildren(qint64 oldParent, qint64 newParent, QSet<qint64>& copied);
    void copyFolderRow(qint64 sourceId, const QString& name, qint64 parentId, QSet<qint64>& copied);
    // The list folder the address grid was loaded from, else the source node.
    QString addressSourceKey() const;
    // The picked list folder of an address action, or nullptr once the pick of the source folder
    // or of the root has been refused with the given text.
    ui::TreeNode* addressDestination(const QString& sourceKey, const QString& sameFolder, const QString& rootFolder);
    // Adds a node under parentKey in the main window's tree; a tree that lacks that parent is
    // rebuilt instead. Returns the node, or nullptr when the tree does not hold it.
    ui::TreeNode* addMainNode(const QString& parentKey, const QString& key, const QString& text);
    QString mainNodeText(const QString& key) const;
    // Loads the node's messages into the main window; a failure is shown, not passed on.
    void showMessagesOf(ui::TreeNode* node, bool quietly);

    Form1* f_;
    QString nodx_;
    int intFolderType = -1;
};

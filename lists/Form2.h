#pragma once
// "Add Folder": a new folder under the node picked in a copy of the main window's tree; a list
// folder under a list-folder node, a mail folder under a mail-folder node.
#include <QDialog>

#include "platform/ui/TreeView.h"

class QLineEdit;
class QPushButton;

class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Set by the caller; the dialog decides by the node picked in its own tree.
    int Mode = 0;
    QString ParentEntryID;

    ui::TreeView* TreeView1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool addListFolder(const QString& name);
    bool addMailFolder(const QString& name);
};

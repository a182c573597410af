#pragma once
// "Add Email Address": one address into the Master List (unless it is there) and into every list
// folder selected in the dialog's list (unless it is a member already).
#include <QDialog>

#include "platform/ui/TextBox.h"

class QListWidget;
class QPushButton;

class Form3 : public QDialog {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    // Keeps the node's key and preselects its list folder (beside the Master List).
    void SetNodx(const QString& key);
    QString nodx() const { return nodx_; }

    ui::TextBox* Text1 = nullptr;
    // One entry per list folder: text FolderName, Qt::UserRole the RecID, Qt::UserRole + 1 the FolderType.
    QListWidget* List1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

protected:
    bool event(QEvent* e) override;

private:
    QString nodx_;
};

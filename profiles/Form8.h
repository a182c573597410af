#pragma once
// "Add/Modify Profile": the saved action profiles, from which the profile editor opens for a new
// profile or for the selected one.
#include <QDialog>

#include "profiles/ProfileList.h"

class QLabel;
class QListWidget;
class QPushButton;

class Form8 : public QDialog, public ProfileListOpener {
    Q_OBJECT
public:
    explicit Form8(QWidget* parent = nullptr);
    ~Form8() override;

    // Refills List1 from Profiles, in name order, nothing selected.
    void LoadProfiles() override;

    void Form_Load();
    void Form_Activate();
    void CommandAddNew_Click();
    void Command1_Click();
    void Command2_Click();
    void List1_DblClick();

    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* CommandAddNew = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

protected:
    bool event(QEvent* e) override;

private:
    // Opens the editor for the profile (0: a new one).
    void edit(qint64 recId);
};

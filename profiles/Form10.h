#pragma once
// "Profile Select": the user picks a saved action profile and applies it to the addresses of
// the rows selected in the main window's address grid (Mode 1), to every address of the list
// folder selected in its tree (Mode 2; the whole Master List on the root), or to the
// correspondents of the messages selected in its message grid (any other Mode), whose messages
// then move to the profile's mail folder.
#include <QDialog>
#include <QVariant>
#include <vector>

#include "profiles/ProfileList.h"

class QLabel;
class QListWidget;
class QPushButton;
struct Profile;

class Form10 : public QDialog, public ProfileListOpener {
    Q_OBJECT
public:
    explicit Form10(QWidget* parent = nullptr);
    ~Form10() override;

    // What the profile is applied to; set by the opener before the dialog is shown.
    QVariant Mode;

    // Refills List1 from Profiles, in name order, nothing selected.
    void LoadProfiles() override;
    // Selects the list item of that profile (after the editor saved a new one).
    void SelectProfile(qint64 recId) override;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void List1_DblClick();

    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;

protected:
    bool event(QEvent* e) override;

private:
    // Each is true when it ran to its end; false when the dialog is to stay open.
    bool ApplyProfileToSelectedAddresses();
    bool ApplyProfileToFolder();
    bool ApplyProfileToMessageSenders();
    // Reads the chosen profile; false (with the message shown) when it is gone.
    bool readProfile(Profile& p);
    bool applyToAddresses(const std::vector<qint64>& recIds);
    void apply();
};

#pragma once
// "Profile": the editor of one action profile: its name, an optional mail folder that receives
// the messages and an optional list folder that receives the addresses it is applied to, and up
// to 37 field presets. Nothing is written until Apply, which saves the whole profile in one
// transaction; Delete removes grid rows, or the whole stored profile.
#include <QDialog>
#include <QPointer>
#include <memory>
#include <optional>

#include "platform/ui/DataGrid.h"
#include "platform/ui/XArrayDB.h"

class ProfileListOpener;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Form9 : public QDialog {
    Q_OBJECT
public:
    explicit Form9(QWidget* parent = nullptr);
    ~Form9() override;

    // The number of preset rows.
    static constexpr int kPresetRows = 37;

    // 1 when the profile chooser opened the editor (a save selects the new profile in its list);
    // 0 when the profile list did. Set by the opener on every opening.
    int Mode = 0;
    // The dialog whose profile list a save or a delete refreshes; set by the opener.
    ProfileListOpener* Opener = nullptr;

    // Fills the dialog for the profile with that RecID, or for a new profile without one. When
    // the profile, or the custom fields' names its presets show by, cannot be read it says why
    // and leaves Apply and Delete disabled.
    void LoadProfile(std::optional<qint64> profileid = std::nullopt);
    // Writes the profile in one transaction; false (with the reason shown) when the name is
    // blank or the database refused a statement, and then nothing was written. False without a
    // word after a failed LoadProfile, which told why.
    bool SaveProfile();
    void LoadCustomFieldData();
    void LoadMailFolders();
    void LoadDravonelFolders();
    // The display name of the first field-list row with that id and type; empty when none.
    QString GetFieldName(int FieldID, int FieldType) const;
    qint64 CurrentProfileRecID() const { return currentProfileRecID_; }

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void TDBGrid1_KeyPress(int& KeyAscii);
    void TDBGrid1_ButtonClick(int ColIndex);
    void TDBDropDown1_ItemPicked(const QVariant& bookmark);
    // Rebuilds the value list for the grid's current row.
    void LoadValueDropDown();

    // Grid rows 1..37, columns 0 field name, 1 value, 2 FieldID, 3 FieldType, 4 the preset's
    // RecID as loaded, 5 unused.
    std::shared_ptr<ui::XArrayDB> DetailRows;
    // Field list rows: 0 display name, 1 FieldID, 2 FieldType.
    std::shared_ptr<ui::XArrayDB> FieldList;
    std::shared_ptr<ui::XArrayDB> ValueList;

    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* Combo1 = nullptr;  // item data: the mail folder's EntryID
    QLabel* Label3 = nullptr;
    QComboBox* Combo2 = nullptr;  // item data: the list folder's RecID
    QLabel* Label4 = nullptr;
    ui::DataGrid* TDBGrid1 = nullptr;
    ui::DataGridDropDown* TDBDropDown1 = nullptr;
    ui::DataGridDropDown* TDBDropDown2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;

    // A row whose field name and value are both blank after trimming.
    bool RowIsBlank(int row) const;

protected:
    bool event(QEvent* e) override;

private:
    bool deleteProfile();
    qint64 currentProfileRecID_ = 0;
    bool profileRead_ = false;  // LoadProfile read what the grid and the name show, the field names included
    std::optional<QString> captionsError_;  // why LoadCustomFieldData could not read the custom fields' names
    int selectorAnchor_ = 0;  // the row selector clicked last, where a Shift-click range starts
};

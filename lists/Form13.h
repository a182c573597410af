#pragma once
// "Folder Properties": the rules of one list folder in a grid (field, condition, value,
// conjunction). Apply saves them by position, has the database try the condition once, and then
// builds the folder's members from them.
#include <QDialog>
#include <QVariant>
#include <memory>

#include "platform/ui/DataGrid.h"
#include "platform/ui/XArrayDB.h"

class QLabel;
class QProgressBar;
class QPushButton;
struct ListBuildResult;

class Form13 : public QDialog {
    Q_OBJECT
public:
    explicit Form13(QWidget* parent = nullptr);
    ~Form13() override;

    // Key of the list folder's tree node; set before LoadProperties.
    QString CurrentNode;

    // Shows the folder's stored rules followed by 50 empty rows. When they cannot be read it
    // says why and Apply stays disabled.
    void LoadProperties();
    // Adds every Master List address the stored rules select to the folder.
    void BuildTheList();

    void Form_Load();
    void Form_Activate();
    void CommandInsert_Click();
    void CommandDelete_Click();
    void Command1_Click();
    void Command2_Click();
    void TDBGrid1_KeyPress(int& KeyAscii);
    void TDBGrid1_ButtonClick(int ColIndex);
    // An entry of the field list was picked; the grid has already written its name.
    void TDBDropDown1_ItemPicked(const QVariant& bookmark);
    void LoadValueDropDown();

    // Rule rows 1..n, columns 0-7 (name, condition, value, conjunction, FieldID, FieldType,
    // Sequence and RecID as loaded).
    std::shared_ptr<ui::XArrayDB> RuleArray;
    std::shared_ptr<ui::XArrayDB> FieldList;       // name, FieldType, FieldID
    std::shared_ptr<ui::XArrayDB> OperatorList;
    std::shared_ptr<ui::XArrayDB> ValueList;
    std::shared_ptr<ui::XArrayDB> ConjunctionList;

    QLabel* Label1 = nullptr;
    ui::DataGrid* TDBGrid1 = nullptr;
    ui::DataGridDropDown* TDBDropDown1 = nullptr;
    ui::DataGridDropDown* TDBDropDown2 = nullptr;
    ui::DataGridDropDown* TDBDropDown3 = nullptr;
    ui::DataGridDropDown* TDBDropDown4 = nullptr;
    QPushButton* CommandInsert = nullptr;
    QPushButton* CommandDelete = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    // A row whose first four cells are blank after trimming.
    bool RowIsBlank(int row) const;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    long folderRecID() const;
    void build(bool clearFirst);
    // False (with the message shown) when a rule could not be stored.
    bool saveRules(long id);
    bool rulesRead_ = false;
};

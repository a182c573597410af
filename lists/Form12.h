#pragma once
// "ListValues": the value list and the type of one combo custom field. It works on the custom
// field configuration's working copy: it fills its grid from that dialog's list box and its Apply
// writes the values back there; nothing reaches the database here.
#include <QDialog>
#include <memory>

#include "platform/ui/DataGrid.h"
#include "platform/ui/XArrayDB.h"

class Form5;
class QLabel;
class QPushButton;
class QRadioButton;

class Form12 : public QDialog {
    Q_OBJECT
public:
    // Rows left empty under the values for typing further ones.
    static constexpr int kEmptyRows = 25;
    // The longest value a person can type.
    static constexpr int kValueLength = 45;

    explicit Form12(Form5* opener);
    ~Form12() override;

    int FieldID() const { return m_fieldID; }
    // Takes the field's index (0-14) and fills the grid from the opener's list of that field.
    void SetFieldID(int index);
    // After Apply the type chosen; otherwise the type given.
    int FieldType() const { return m_fieldType; }
    void SetFieldType(int type);

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

    // The values in list order, then kEmptyRows empty rows; one column.
    std::shared_ptr<ui::XArrayDB> ValueArray;

    ui::DataGrid* TDBGrid1 = nullptr;
    QLabel* Label1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    int valueColumnFill() const;
    Form5* m_opener;
    int m_fieldID = 0;
    int m_fieldType = 0;
};

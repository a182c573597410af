#pragma once
// "Insert Field": the merge fields in a grid; a double-click puts the row's tag ("<%" & name &
// ">") into the composer's body at the caret and closes the dialog. Esc closes it.
#include <QDialog>
#include <memory>

#include "platform/ui/XArrayDB.h"

class frmCompose;
namespace ui {
class DataGrid;
}

class Form17 : public QDialog {
    Q_OBJECT
public:
    Form17(frmCompose& composer, QWidget* parent = nullptr);

    std::shared_ptr<ui::XArrayDB> MergeFields;
    ui::DataGrid* TDBGrid1 = nullptr;

    void Form_Load();
    void Form_KeyDown(int KeyCode, int Shift);
    void TDBGrid1_DblClick();
    // Throws std::out_of_range when the grid has no current row.
    void AddField();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool event(QEvent* e) override;

private:
    frmCompose& composer_;
};

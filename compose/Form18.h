#pragma once
// "Sending To...": the composer's send-to list in a grid where a click on a row's check includes
// or excludes it. Apply writes the rows back and recounts; Cancel leaves the composer as it was.
#include <QDialog>
#include <memory>

#include "platform/ui/XArrayDB.h"

class QLabel;
class QPushButton;
class frmCompose;
namespace ui {
class DataGrid;
}

class Form18 : public QDialog {
    Q_OBJECT
public:
    Form18(frmCompose& composer, QWidget* parent = nullptr);

    // Columns: 0 "-1", 1 Send flag, 2 address, 3 name, 4 place, 5 MasterList.RecID.
    std::shared_ptr<ui::XArrayDB> GridArray;
    ui::DataGrid* TDBGrid1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* CommandApply = nullptr;
    QPushButton* CommandCancel = nullptr;

    void Form_Load();
    void Form_Resize();
    void CommandApply_Click();
    void CommandCancel_Click();

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;

private:
    frmCompose& composer_;
    double ratio_[3] = {0, 0, 0};
};

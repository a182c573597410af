#pragma once
// "Rename": a new name for the current folder, written to its list-folder row or to the mail
// store; the tree shows the new name once it is stored.
#include <QDialog>

#include "platform/ui/TextBox.h"

class QPushButton;

class Form7 : public QDialog {
    Q_OBJECT
public:
    explicit Form7(QWidget* parent = nullptr);

    ui::TextBox* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
};

#pragma once
// "Message Properties": format, importance, sensitivity, read receipt and the account to send
// with. Apply writes them to the composer and its item; Cancel and the close box change nothing.
#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;
class frmCompose;

class Form15 : public QDialog {
    Q_OBJECT
public:
    Form15(frmCompose& composer, QWidget* parent = nullptr);

    std::array<QRadioButton*, 2> chkFormat{};
    std::array<QRadioButton*, 3> chkImportance{};
    std::array<QRadioButton*, 4> chkSensitivity{};
    QCheckBox* chkReadReceipt = nullptr;
    QComboBox* cmbSendUsing = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();

private:
    frmCompose& composer_;
};

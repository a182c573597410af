#pragma once
// "Custom Field Configuration": the captions of the fifteen combo, fifteen check and six hot
// check fields, and each combo field's value list and type. The dialog edits working copies (the
// caption boxes, the list boxes and its own copy of the combo types); Apply stores them in one
// transaction and only then makes the new types the program's.
#include <QDialog>
#include <array>

#include "platform/ui/TextBox.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class Form5 : public QDialog {
    Q_OBJECT
public:
    static constexpr int kComboFields = 15;
    static constexpr int kCheckFields = 15;
    static constexpr int kHotFields = 6;
    static constexpr int kComboCaptionLength = 7;
    static constexpr int kCheckCaptionLength = 10;

    explicit Form5(QWidget* parent = nullptr);

    // Fills the dialog from the database. False (with the reason shown, and Apply disabled so
    // nothing blank overwrites what is stored) when the configuration cannot be read.
    bool LoadData();
    // Stores captions, types and value lists in one transaction. False, with the database's
    // reason shown and nothing stored, when a statement is refused.
    bool SaveData();

    void Form_Load();
    void Form_Activate();
    void Combo1Command_Click(int Index);
    void Command1_Click();
    void Command2_Click();

    std::array<ui::TextBox*, kComboFields> txtCombo{};
    std::array<QComboBox*, kComboFields> Combo1{};
    std::array<QPushButton*, kComboFields> Combo1Command{};
    std::array<ui::TextBox*, kCheckFields> txtchk{};
    std::array<QCheckBox*, kCheckFields> chk{};
    std::array<ui::TextBox*, kHotFields> txtHotBox{};
    std::array<QCheckBox*, kHotFields> chkHotBox{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    // The working copy of the combo types (0 text, 1 numeric, 2 date/time): the value list
    // dialog changes it, Apply stores it, Cancel drops it with the rest.
    std::array<int, kComboFields> ComboTypes{};

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
};

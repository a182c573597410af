#pragma once
// The address "Properties" dialog: one Master List row on three tabs (contact fields and hot
// checks, custom fields, list membership and message history). Apply writes the whole row, or
// adds it when the address is not in the Master List yet.
#include <QDialog>
#include <QVariant>
#include <array>
#include <memory>

#include "platform/ui/DataGrid.h"
#include "platform/ui/TextBox.h"
#include "platform/ui/XArrayDB.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;

class Form4 : public QDialog {
    Q_OBJECT
public:
    explicit Form4(QWidget* parent = nullptr);
    ~Form4() override;

    // ---- set by the opener before LoadData ----
    // MasterList.RecID of the address; 0: not in the Master List, so Apply adds it.
    long RecID = 0;
    // The address looked up when Mode is 1; shown when no row has it.
    QString eMailPrime;
    // 1: find the row by eMailPrime; anything else: by RecID.
    QVariant Mode;
    // The main window's AddressListMode when opened: with 1, Apply shows the new values in the
    // address grid's row of this address.
    QVariant DisplayMode;

    // Reads the row (or shows the not-saved state) and the list folders that hold it. Throws
    // std::runtime_error when the database refuses a read: the opener then shows nothing.
    void LoadData();
    // Captions, enabled state and value lists of the custom fields. Throws as LoadData.
    void LoadCustomFieldData();

    // ---- event handlers ----
    void Form_Load();
    void Form_Activate();
    // Apply: refuses (message shown, dialog kept open, nothing written) an empty or malformed
    // address, an address another row holds, and a statement the database refuses.
    void Command1_Click();
    void Command2_Click();
    void SSTab1_Click(int PreviousTab);
    // Every text box selects its whole text when it gets the focus.
    void TextBox_GotFocus(QLineEdit* box);
    void txtMiddle_LostFocus();
    void txtState_LostFocus();
    void txtCountry_LostFocus();
    // Message history: lists the messages received from and sent to the address in txtEmail.
    void CommandRefresh_Click();
    void TDBGrid1_DblClick();
    void TDBGrid2_DblClick();

    // ---- controls ----
    QTabWidget* SSTab1 = nullptr;
    ui::TextBox *txtEmail, *txtCompany, *txtFirst, *txtLast, *txtMiddle, *txtAddress1, *txtAddress2, *txtCity,
        *txtState, *txtCountry, *txtZip, *txtWebsite, *txtPhone1, *txtPhone2, *txtFax, *txtCell;
    std::array<QCheckBox*, 6> chkHot{};
    std::array<QLabel*, 6> lblHot{};
    QLabel* lblStatusMessage = nullptr;
    std::array<QLabel*, 15> lbl{};
    std::array<QComboBox*, 15> Combo1{};
    std::array<QCheckBox*, 15> chk{};
    QListWidget* List1 = nullptr;
    ui::DataGrid* TDBGrid1 = nullptr;
    ui::DataGrid* TDBGrid2 = nullptr;
    QPushButton* CommandRefresh = nullptr;
    QCheckBox* chkDisabled = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    // Rows behind the two message grids: Subject, ReceivedTime or SentOn, EntryID.
    std::shared_ptr<ui::XArrayDB> ReceivedMessageArray;
    std::shared_ptr<ui::XArrayDB> SentMessageArray;

    // The sixteen text boxes in tab order.
    std::array<ui::TextBox*, 16> textBoxes() const;
    // A check box's value as the windows read it: 0 unticked, 1 ticked, 2 greyed.
    static int CheckValue(const QCheckBox* box);
    static void SetCheckValue(QCheckBox* box, int value);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildContactTab(QWidget* page);
    void buildCustomTab(QWidget* page);
    void buildHistoryTab(QWidget* page);
    void refused(const QString& prompt);
    void openListedMessage(ui::DataGrid& grid);

    // The record id the opener asked for when no row had it any more: Apply then adds the
    // address, and the address grid is read again afterwards.
    long goneRecID_ = 0;
    // A text box that took the focus by a click: its text is selected once the click is done.
    QLineEdit* clickedBox_ = nullptr;
    // The tab shown before a tab click.
    int shownTab_ = 0;
};

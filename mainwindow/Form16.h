#pragma once
// "Check Mail": runs the mail host's send/receive for the Inbox; on Exit it closes the check's
// window and, when the main window shows the Inbox, lists what arrived.
#include <QDialog>

#include "platform/mail/MailTypes.h"

class QLabel;
class QPushButton;

class Form16 : public QDialog {
    Q_OBJECT
public:
    explicit Form16(QWidget* parent = nullptr);
    ~Form16() override;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Form_Unload();

    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

private:
    mail::FolderPtr inbox_;
};

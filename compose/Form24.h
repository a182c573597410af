#pragma once
// "Message Characteristics": the yes/no step before a bulk send. Cancelled is -1 until Yes.
// Its buttons and close box only hide it; the caller reads Cancelled, then destroys it.
#include <QDialog>

class QLabel;
class QPushButton;
class frmCompose;

class Form24 : public QDialog {
    Q_OBJECT
public:
    Form24(frmCompose& composer, QWidget* parent = nullptr);

    int Cancelled = -1;

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;
    QLabel *ctlMessageFormat, *ctlMessageImportance, *ctlMessageSensitivity, *ctlRequestReadReceipt, *ctlSendUsing,
        *ctlSentTo;
    QPushButton *Command1, *Command2;
    // Shown (above Label7) only when this composer's sends have already queued the message: Yes
    // queues it again for all, so No is the default button then.
    QLabel* lblAgain = nullptr;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    frmCompose& composer_;
};

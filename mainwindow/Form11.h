#pragma once
// "Opening Attachment": names one attachment of a message, warns, and opens it with the desktop's
// program for its type or saves it to a file the user picks.
#include <QDialog>

#include "platform/mail/MailTypes.h"

class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

class Form11 : public QDialog {
    Q_OBJECT
public:
    explicit Form11(QWidget* parent = nullptr);

    void SetMI(const mail::MailItemPtr& tmpmi);
    void SetIndex(int idx);

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();

    QLabel* Label1 = nullptr;
    QLabel* lblFileName = nullptr;
    QLabel* lblText = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QFrame* Line1 = nullptr;

    // Where opened copies go: a folder of this run only, readable by the user alone, removed
    // when the program ends. Empty when it cannot be made.
    static QString TemporaryCopiesFolder();
    // The copy's file name: "~" and the attachment's name without folders, "..", control
    // characters or a leading dot; made unique within folder.
    static QString TemporaryCopyName(const QString& folder, const QString& attachmentName);

protected:
    void showEvent(QShowEvent* e) override;

private:
    mail::AttachmentPtr attachment() const;

    mail::MailItemPtr mi;
    int AttachmentIndex = 0;
};

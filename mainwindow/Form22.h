#pragma once
// "About": the program's name, version, and the libraries it is built on.
#include <QDialog>

class QLabel;
class QPushButton;

class Form22 : public QDialog {
    Q_OBJECT
public:
    explicit Form22(QWidget* parent = nullptr);

    void Form_Load();
    void Form_Activate();
    void Command1_Click();

    QLabel* Image1 = nullptr;
    QLabel* lblAppName = nullptr;
    QLabel* lblNotice1 = nullptr;
    QLabel* lblNotice2 = nullptr;
    QLabel* lblVersion = nullptr;
    QPushButton* Command1 = nullptr;

protected:
    bool event(QEvent* e) override;
};

#pragma once
// The small modeless window shown while a long loop runs: a line of text over a progress bar.
// Its caller sets the texts and the bar, shows it, advances the bar and closes it.
#include <QProgressBar>
#include <QWidget>

class QLabel;

class Form23 : public QWidget {
    Q_OBJECT
public:
    explicit Form23(QWidget* parent = nullptr);

    void SetWindowTitle(const QString& title);
    void SetLabelTitle(const QString& text);
    QString LabelText() const;

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    // Centres the window on the screen.
    void Form_Load();
};

#pragma once
// A one-line text box whose length limit limits what the person types, pastes or drops, never
// text the program puts there: a stored value longer than the limit is shown and kept whole.
// (QLineEdit::setMaxLength cuts the text already in the box.) Typing into a box that is at or
// over its limit adds nothing; an over-long text may still be shortened or partly replaced.
#include <QLineEdit>

namespace ui {

class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);
    explicit TextBox(const QString& text, QWidget* parent = nullptr);

    // Longest text the person can make; 0 for no limit.
    int MaxLength() const { return m_maxLength; }
    void SetMaxLength(int chars);
    // Qt's limit cuts text the program set: use SetMaxLength.
    void setMaxLength(int) = delete;

protected:
    bool event(QEvent* e) override;

private:
    class Limit;
    friend class Limit;
    int m_maxLength = 0;
    // Inside an event in which the person changes the text, and the text's length before it.
    int m_userEdit = 0;
    qsizetype m_lengthBefore = 0;
};

} // namespace ui

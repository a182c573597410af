#include "platform/ui/TextBox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QValidator>

namespace ui {

// Keeps a change the person makes within max(limit, length before the change): the excess is
// taken from the text just inserted, which ends at the cursor. Changes the program makes pass.
class TextBox::Limit : public QValidator {
public:
    explicit Limit(TextBox* box) : QValidator(box), m_box(box) {}

    State validate(QString& input, int& pos) const override
    {
        if (m_box->m_userEdit == 0 || m_box->m_maxLength <= 0) return Acceptable;
        const qsizetype allowed = qMax<qsizetype>(m_box->m_maxLength, m_box->m_lengthBefore);
        const qsizetype excess = input.size() - allowed;
        if (excess <= 0) return Acceptable;
        // Nothing of the change fits: refused whole, which keeps the undo history.
        if (pos < excess || input.size() - excess == m_box->m_lengthBefore) return Invalid;
        input.remove(pos - excess, excess);
        pos -= int(excess);
        return Acceptable;
    }

private:
    TextBox* m_box;
};

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) { setValidator(new Limit(this)); }

TextBox::TextBox(const QString& text, QWidget* parent) : TextBox(parent) { setText(text); }

void TextBox::SetMaxLength(int chars) { m_maxLength = chars < 0 ? 0 : chars; }

bool TextBox::event(QEvent* e)
{
    bool user = false;
    switch (e->type()) {
    case QEvent::KeyPress: {
        // Undo and redo give back a text the box held before.
        auto* k = static_cast<QKeyEvent*>(e);
        user = !k->matches(QKeySequence::Undo) && !k->matches(QKeySequence::Redo);
        break;
    }
    case QEvent::InputMethod:
    case QEvent::Drop:
    case QEvent::MouseButtonRelease: // a middle-button paste of the selection
    case QEvent::ContextMenu:        // its Paste
        user = true;
        break;
    default:
        break;
    }
    if (!user) return QLineEdit::event(e);
    const qsizetype before = m_lengthBefore;
    m_lengthBefore = text().size();
    ++m_userEdit;
    struct Restore {
        TextBox* box;
        qsizetype before;
        ~Restore()
        {
            --box->m_userEdit;
            box->m_lengthBefore = before;
        }
    } restore{this, before};
    return QLineEdit::event(e);
}

} // namespace ui

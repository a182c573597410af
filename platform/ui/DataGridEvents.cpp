#include "platform/ui/DataGridEvents.h"

#include <QKeyEvent>

namespace ui {

int ButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return vbLeftButton;
    case Qt::RightButton:
        return vbRightButton;
    case Qt::MiddleButton:
        return vbMiddleButton;
    default:
        return 0;
    }
}

int ButtonsOf(Qt::MouseButtons buttons)
{
    int b = 0;
    if (buttons & Qt::LeftButton)
        b |= vbLeftButton;
    if (buttons & Qt::RightButton)
        b |= vbRightButton;
    if (buttons & Qt::MiddleButton)
        b |= vbMiddleButton;
    return b;
}

int ShiftOf(Qt::KeyboardModifiers modifiers)
{
    int s = 0;
    if (modifiers & Qt::ShiftModifier)
        s |= vbShiftMask;
    if (modifiers & Qt::ControlModifier)
        s |= vbCtrlMask;
    if (modifiers & Qt::AltModifier)
        s |= vbAltMask;
    return s;
}

int KeyCodeOf(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
        return vbKeyF1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace:
        return vbKeyBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return vbKeyTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vbKeyReturn;
    case Qt::Key_Escape:
        return vbKeyEscape;
    case Qt::Key_Space:
        return vbKeySpace;
    case Qt::Key_PageUp:
        return vbKeyPageUp;
    case Qt::Key_PageDown:
        return vbKeyPageDown;
    case Qt::Key_End:
        return vbKeyEnd;
    case Qt::Key_Home:
        return vbKeyHome;
    case Qt::Key_Left:
        return vbKeyLeft;
    case Qt::Key_Up:
        return vbKeyUp;
    case Qt::Key_Right:
        return vbKeyRight;
    case Qt::Key_Down:
        return vbKeyDown;
    case Qt::Key_Insert:
        return vbKeyInsert;
    case Qt::Key_Delete:
        return vbKeyDelete;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Asterisk:
        return 106;
    case Qt::Key_Plus:
        return 107;
    case Qt::Key_Minus:
        return 109;
    case Qt::Key_Slash:
        return 111;
    case Qt::Key_unknown:
        return 0;
    default:
        // Every other key still gets a code of its own, so a handler can swallow any key.
        return qtKey;
    }
}

int KeyAsciiOf(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vbKeyReturn;
    case Qt::Key_Backspace:
        return vbKeyBack;
    case Qt::Key_Escape:
        return vbKeyEscape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return vbKeyTab;
    default:
        break;
    }
    // Ctrl with a letter types its control character (Ctrl+V is 22), as it always has.
    if ((event.modifiers() & Qt::ControlModifier) && !(event.modifiers() & Qt::AltModifier)
        && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z)
        return 1 + (event.key() - Qt::Key_A);
    const QString text = event.text();
    if (text.isEmpty() || event.modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return 0;
    const char16_t c = text.at(0).unicode();
    return c < 32 ? 0 : int(c);
}

} // namespace ui

#pragma once
// What the grid and tree events carry, in the values the windows test: mouse buttons, the shift
// state, key codes, and positions in twips (15 twips = 1 pixel).
#include <QPointF>
#include <Qt>

class QKeyEvent;
class QMouseEvent;

namespace ui {

inline constexpr double kTwipsPerPixel = 15.0;

// The format a grid drag carries (the dragged bookmarks, one per line); a tree takes drops of it.
inline constexpr const char* kGridRowsMimeType = "application/x-ferrowyn-grid-rows";

enum MouseButtonConstants { vbLeftButton = 1, vbRightButton = 2, vbMiddleButton = 4 };
enum ShiftConstants { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };

enum KeyCodeConstants {
    vbKeyBack = 8,
    vbKeyTab = 9,
    vbKeyReturn = 13,
    vbKeyEscape = 27,
    vbKeySpace = 32,
    vbKeyPageUp = 33,
    vbKeyPageDown = 34,
    vbKeyEnd = 35,
    vbKeyHome = 36,
    vbKeyLeft = 37,
    vbKeyUp = 38,
    vbKeyRight = 39,
    vbKeyDown = 40,
    vbKeyInsert = 45,
    vbKeyDelete = 46,
    vbKeyF1 = 112,
};

// Drop effects of a drag.
enum OLEDropEffect { vbDropEffectNone = 0, vbDropEffectCopy = 1, vbDropEffectMove = 2 };

int ButtonOf(Qt::MouseButton button);
int ButtonsOf(Qt::MouseButtons buttons);
int ShiftOf(Qt::KeyboardModifiers modifiers);
// The key code of a key: letters upper case, digits, the named keys above, F1-F12, Shift 16,
// Ctrl 17, Alt 18, * 106, + 107, - 109, / 111; any other key gives Qt's key number. 0 only for
// an unknown key.
int KeyCodeOf(int qtKey);
// The character code a key press types (Enter 13, Backspace 8, Esc 27, Tab 9, Ctrl+A..Z 1..26);
// 0 when none.
int KeyAsciiOf(const QKeyEvent& event);

inline double ToTwips(double pixels) { return pixels * kTwipsPerPixel; }
inline double ToPixels(double twips) { return twips / kTwipsPerPixel; }

} // namespace ui

#pragma once
// Where a window goes on its screen: the area windows may take, the frame the window manager adds,
// centring, filling and widening within that area. Geometry is in pixels.
#include <QMargins>
#include <QRect>

#include <functional>

class QWidget;
class QWindow;

namespace ui {

// The part of the window's screen that windows may take: the screen less its panels and docks.
QRect ScreenArea(const QWidget& window);
// What the window manager's frame adds on each side of a window: its own once it is framed, else
// the frame of another framed window of the program (the best guess before it is shown).
QMargins FrameMargins(const QWidget& window);
// Puts a window, frame included, in the middle of the screen area; a window larger than the area
// gets a position before the area's corner, as the arithmetic gives.
void CenterInScreenArea(QWidget& window);
// Sizes and places a window so that it covers the screen area, frame included. When the window
// manager frames it otherwise than guessed, it is fitted again.
void FillScreenArea(QWidget& window);
// Widens a window by dx pixels, as far as the screen area allows with its frame, its centre kept
// where the area allows.
void WidenWithinScreenArea(QWidget& window, int dx);

// No modal window blocks the program while it cannot be seen and a window it blocks can: one
// minimized alone is shown again; one whose window was taken off the screen from outside (destroyed
// or withdrawn, as a tool may do) is closed as its close box closes it (a message box answers its
// Escape button), for nothing could bring it back. Installed once for the program, at start-up.
void GuardModalWindows();
// For tests: whether a window can be seen now (by default: the window system shows it).
void SetWindowSeenTest(std::function<bool(const QWindow&)> seen);

} // namespace ui

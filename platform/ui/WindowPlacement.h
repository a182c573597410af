#pragma once
// Where a window goes on its screen: the area windows may take, the frame the window manager adds,
// centring, filling and widening within that area. Geometry is in pixels.
#include <QMargins>
#include <QRect>

class QWidget;

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

} // namespace ui

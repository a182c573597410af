#pragma once
// Small procedures the windows and dialogs share. Geometry is in pixels (15 twips = 1 pixel).
#include <QMargins>
#include <QRect>
#include <QString>
#include <QVariant>

class QWidget;

// Twips in one screen pixel, horizontally and vertically.
inline constexpr int TwipsPerPixel = 15;

// The part of the window's screen that windows may take: the screen less its panels and docks.
QRect ScreenArea(const QWidget& form);
// What the window manager's frame adds on each side of a window: its own once it is framed, else
// the frame of another framed window of the program (the best guess before it is shown).
QMargins FrameMargins(const QWidget& form);
// Puts a window, frame included, in the middle of the screen area; a window larger than the area
// gets a position before its corner, as the arithmetic gives.
void CenterForm(QWidget& form);
// Sizes and places a window so that it covers the screen area, frame included. When the window
// manager frames it otherwise than guessed, it is fitted again.
void FillScreenArea(QWidget& form);
// Selects the whole text of the focused box (selection from 0 over the text's length); a focused
// control without text, or no focus at all, is left alone.
void SelectAllText();
// Commits a grid's pending cell edit by changing its current row: one down, or on the last row
// one up; on a one-row grid nothing happens. No failure reaches the caller.
template <class Grid>
void GridNextRow(Grid& grid) noexcept
{
    try {
        grid.SetRow(grid.Row() + 1);
        return;
    } catch (...) {
    }
    try {
        grid.SetRow(grid.Row() - 1);
    } catch (...) {
    }
}
// True when the text holds a control character (a NUL, a tab, a line break): a name typed into a
// dialog cannot hold one.
bool HasControlCharacters(const QString& text);
// A Single holding pixels in twips.
QVariant PixelsToTwipsX(float pixels);
// Centres ctl vertically against ref when ref is taller; otherwise aligns their tops. A missing
// control is skipped.
void CenterVertically(QWidget* ctl, const QWidget* ref);
// The path up to and including its last "/"; empty when it has none.
QString GetPathPart(const QString& path);
// The program the desktop opens the file with (its MIME type's default application, by the
// freedesktop.org lists): the executable's path, or the empty string when the file does not
// exist or no program is associated.
QString GetAssociatedProgram(const QString& directory, const QString& fileName);
// The temporary folder, ending with "/".
QVariant GetTempFolder();

#pragma once
// Small procedures the windows and dialogs share. Geometry is in pixels (15 twips = 1 pixel).
#include <QString>
#include <QVariant>

class QWidget;

// Twips in one screen pixel, horizontally and vertically.
inline constexpr int TwipsPerPixel = 15;

// Puts a window, frame included, in the middle of the screen area windows may take; a window
// larger than the area gets a position before the area's corner, as the arithmetic gives.
void CenterForm(QWidget& form);
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

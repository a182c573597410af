#pragma once
// Toolbar pictures: the desktop's icon theme first, so the program looks like its neighbours.
#include <QIcon>
#include <QStyle>

namespace ui {

// The theme's icon of that freedesktop name; where the theme has none, Qt's standard icon
// fallback (none when fallback is QStyle::SP_CustomBase: the caller then shows its text).
QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback = QStyle::SP_CustomBase);

} // namespace ui

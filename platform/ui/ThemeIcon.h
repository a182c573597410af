#pragma once
// Icons for toolbars and buttons: the desktop's icon theme by freedesktop name, so the program
// looks like the rest of the desktop; Qt's standard icon where the theme has none (or there is
// no theme, as on a bare X server).
#include <QIcon>
#include <QString>
#include <QStyle>

namespace ui {

QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback);

} // namespace ui

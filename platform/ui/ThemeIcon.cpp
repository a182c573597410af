#include "platform/ui/ThemeIcon.h"

#include <QApplication>

namespace ui {

QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback)
{
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    return QApplication::style()->standardIcon(fallback);
}

} // namespace ui

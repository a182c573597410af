#include "platform/ui/ThemeIcon.h"

#include <QApplication>

namespace ui {

QIcon ThemeIcon(const QString& name, QStyle::StandardPixmap fallback)
{
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    if (fallback == QStyle::SP_CustomBase) return QIcon();
    return QApplication::style()->standardIcon(fallback);
}

} // namespace ui

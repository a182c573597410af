#pragma once
// An icon theme of one picture standing in for the desktop's while the object lives: the named
// icon is a red 16 x 16 square, so a test can tell a theme picture from any other.
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>

#include "tests/support/TestMain.h"

namespace testsupport {

class ProbeIconTheme {
public:
    explicit ProbeIconTheme(const QString& iconName)
        : oldPaths_(QIcon::themeSearchPaths()), oldTheme_(QIcon::themeName())
    {
        const QString root = TestHome::path() + QStringLiteral("/icons");
        QDir().mkpath(root + QStringLiteral("/probe/16x16/actions"));
        QFile index(root + QStringLiteral("/probe/index.theme"));
        if (index.open(QIODevice::WriteOnly))
            index.write("[Icon Theme]\nName=probe\nDirectories=16x16/actions\n\n[16x16/actions]\nSize=16\nType=Fixed\n");
        index.close();
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        red.save(root + QStringLiteral("/probe/16x16/actions/") + iconName + QStringLiteral(".png"));
        QIcon::setThemeSearchPaths({root});
        QIcon::setThemeName(QStringLiteral("probe"));
    }
    ~ProbeIconTheme()
    {
        QIcon::setThemeSearchPaths(oldPaths_);
        QIcon::setThemeName(oldTheme_);
    }
    ProbeIconTheme(const ProbeIconTheme&) = delete;
    ProbeIconTheme& operator=(const ProbeIconTheme&) = delete;

private:
    QStringList oldPaths_;
    QString oldTheme_;
};

} // namespace testsupport

#include <QApplication>

#include "core/Main.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrowyn"));
    // Desktops match the windows with the installed entry, and so with its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("ferrowyn"));
    int code = 0;
    if (!Main(&code)) return code;
    return app.exec();
}

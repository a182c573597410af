#include <QApplication>

#include "core/Main.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrowyn"));
    int code = 0;
    if (!Main(&code)) return code;
    return app.exec();
}

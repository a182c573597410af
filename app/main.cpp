#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrowyn"));
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("Ferrowyn"));
    w.resize(800, 600);
    w.show();
    return app.exec();
}

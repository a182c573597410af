#include "platform/ui/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace ui {

QString DataFolder()
{
    QString path = qEnvironmentVariable("FERROWYN_HOME");
    if (path.isEmpty()) {
        if (QCoreApplication::applicationName().isEmpty())
            QCoreApplication::setApplicationName(QStringLiteral("Ferrowyn"));
        path = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    }
    path = QDir::cleanPath(QDir(path).absolutePath());
    QDir().mkpath(path);
    return path;
}

QString DataPath(const QString& name) { return DataFolder() + QLatin1Char('/') + name; }

} // namespace ui

#include "platform/ui/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    // Made for this user alone: it holds the address lists, the mail and the accounts.
    if (!QFileInfo::exists(path) && QDir().mkpath(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QString DataPath(const QString& name) { return DataFolder() + QLatin1Char('/') + name; }

} // namespace ui

#include "tests/support/TestMain.h"

#include <QDir>
#include <QWidget>
#include <memory>

namespace testsupport {

namespace {
std::unique_ptr<QTemporaryDir>& homeDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}
} // namespace

QString TestHome::reset()
{
    homeDir() = std::make_unique<QTemporaryDir>();
    const QString p = homeDir()->path();
    qputenv("FERROWYN_HOME", p.toUtf8());
    return p;
}

QString TestHome::path() { return homeDir() ? homeDir()->path() : QString(); }

QString SaveShot(QWidget* w, const QString& name)
{
    const QString dir = QDir::currentPath() + QStringLiteral("/shots");
    if (!QDir().mkpath(dir)) return QString();
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    return w->grab().save(path) ? path : QString();
}

int runTests(int argc, char** argv, QObject* test)
{
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);
    const int rc = QTest::qExec(test, argc, argv);
    ui::setServices(nullptr);
    homeDir().reset();
    return rc;
}

} // namespace testsupport

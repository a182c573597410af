#pragma once
// The main() of every test executable: a fresh data folder, the offscreen platform (unless
// another is asked for) and the scripted user-interface services, so no test ever waits on a
// person or touches real data.
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/ui/ScriptedUi.h"

namespace testsupport {

// Points FERROWYN_HOME at a new empty folder; call again for a fresh one.
class TestHome {
public:
    static QString reset();
    static QString path();
};

int runTests(int argc, char** argv, QObject* test);

// Saves a picture of the widget as shots/<name>.png in the test's working folder, for a person
// to look at what the test saw (run the test with QT_QPA_PLATFORM=xcb on an X display to see
// the real rendering). Returns the file's path, empty when it could not be written.
QString SaveShot(QWidget* w, const QString& name);

} // namespace testsupport

#define FERROWYN_TEST_MAIN(TestClass)                               \
    int main(int argc, char** argv)                                 \
    {                                                               \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))         \
            qputenv("QT_QPA_PLATFORM", "offscreen");                \
        testsupport::TestHome::reset();                             \
        QApplication app(argc, argv);                               \
        TestClass tc;                                               \
        return testsupport::runTests(argc, argv, &tc);              \
    }

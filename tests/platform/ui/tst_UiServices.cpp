#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QWindow>
#include <QScrollArea>
#include <QTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>

#include "platform/ui/CommonDialog.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/ThemeIcon.h"
#include "platform/ui/WindowPlacement.h"
#include "tests/support/ProbeIconTheme.h"
#include "tests/support/TestMain.h"

class TestUiServices : public QObject {
    Q_OBJECT
    ui::ScriptedUi& scripted() { return static_cast<ui::ScriptedUi&>(ui::services()); }

private Q_SLOTS:
    void init() { scripted().clear(); }

    void msgBoxTitleAndAnswers()
    {
        scripted().boxAnswers.enqueue(ui::vbNo);
        QCOMPARE(ui::MsgBox(QStringLiteral("Delete?"), 36), int(ui::vbNo));
        QCOMPARE(ui::MsgBox(QStringLiteral("Done"), 64, QStringLiteral("Other")), int(ui::vbOK));
        QCOMPARE(ui::MsgBox(QStringLiteral("Sure?"), ui::vbYesNo | ui::vbQuestion), int(ui::vbYes));
        QCOMPARE(scripted().boxes.size(), 3);
        QCOMPARE(scripted().boxes.at(0).title, QStringLiteral("Ferrowyn"));
        QCOMPARE(scripted().boxes.at(0).style, 36);
        QCOMPARE(scripted().boxes.at(1).title, QStringLiteral("Other"));
    }

    void modalDialogDrivenByHandler()
    {
        QDialog dlg;
        QCOMPARE(ui::ShowModal(&dlg), int(QDialog::Rejected));
        scripted().dialogHandlers.insert(QStringLiteral("QDialog"), [](QDialog* d) {
            d->setWindowTitle(QStringLiteral("driven"));
            return int(QDialog::Accepted);
        });
        QCOMPARE(ui::ShowModal(&dlg), int(QDialog::Accepted));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("driven"));
        QCOMPARE(scripted().dialogsShown, QStringList({QStringLiteral("QDialog"), QStringLiteral("QDialog")}));
    }

    void commonDialogAnswersAndCancel()
    {
        ui::CommonDialog cd;
        cd.Filter = QStringLiteral("Text (*.txt)|*.txt|All Files (*.*)|*.*|Lists|*.csv;*.tab");
        cd.FileName = QStringLiteral("export.csv");
        QCOMPARE(cd.qtFilters(), QStringList({QStringLiteral("Text (*.txt)"), QStringLiteral("All Files (*)"), QStringLiteral("Lists (*.csv *.tab)")}));
        scripted().fileAnswers.enqueue(QStringLiteral("/tmp/a.txt"));
        scripted().fileAnswers.enqueue(QString());
        QVERIFY(cd.ShowSave());
        QCOMPARE(cd.FileName, QStringLiteral("/tmp/a.txt"));
        QVERIFY(!cd.ShowOpen());
        QVERIFY(cd.Cancelled);
        QCOMPARE(cd.FileName, QStringLiteral("/tmp/a.txt"));
        QCOMPARE(scripted().files.at(0).fileName, QStringLiteral("export.csv"));
    }

    void printerPrintsToPdfInTests()
    {
        QCOMPARE(ui::Printer().outputFormat(), QPrinter::PdfFormat);
        QCOMPARE(&ui::Printer(), &ui::Printer());
    }

    void productionPointerDoesNotStack()
    {
        ui::UiServices* scriptedServices = &ui::services();
        ui::setServices(nullptr);
        ui::SetMousePointer(ui::vbHourglass);
        ui::SetMousePointer(ui::vbHourglass);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        ui::SetMousePointer(ui::vbArrow);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
        ui::SetMousePointer(ui::vbDefault);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbDefault));
        ui::setServices(scriptedServices);
    }

    // A production box fits its screen: a text too long for it scrolls, its buttons in view; a
    // short one is a plain box.
    void productionBoxFitsTheScreen_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("short") << 3 << int(ui::vbCritical) << false;
        QTest::newRow("a long list") << 200 << int(ui::vbCritical) << true;
        QTest::newRow("a long question") << 200 << int(ui::vbYesNo + ui::vbQuestion) << true;
    }

    void productionBoxFitsTheScreen()
    {
        QFETCH(int, lines);
        QFETCH(int, style);
        QFETCH(bool, scrolls);
        QStringList text{QStringLiteral("These 45 recipients were skipped:")};
        for (int i = 1; i < lines; ++i) text << QStringLiteral("recipient%1@example.net: 550 5.1.1 No such user").arg(i);
        ui::UiServices* scriptedServices = &ui::services();
        ui::setServices(nullptr);
        const auto restore = qScopeGuard([&] { ui::setServices(scriptedServices); });
        QWidget owner;
        owner.resize(300, 200);
        owner.show();
        QApplication::setActiveWindow(&owner);
        QRect frame, area;
        bool scrolled = false, buttonsShown = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            frame = box->frameGeometry();
            area = box->screen()->availableGeometry();
            // The text shown in it, not only moved there.
            const auto* scroll = box->findChild<QScrollArea*>();
            scrolled = scroll && scroll->isVisible() && scroll->widget() && scroll->widget()->isVisible();
            buttonsShown = !box->buttons().isEmpty();
            for (QAbstractButton* b : box->buttons()) {
                const QRect r(b->mapTo(box, QPoint(0, 0)), b->size());
                buttonsShown = buttonsShown && b->isVisible() && box->rect().contains(r);
            }
            testsupport::SaveShot(box, QStringLiteral("message-box-%1-lines").arg(lines));
            box->buttons().first()->click();
        });
        ui::MsgBox(text.join(QLatin1Char('\n')), style);
        QVERIFY(!frame.isEmpty());
        QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1x%2 at %3,%4").arg(frame.width()).arg(frame.height()).arg(frame.x()).arg(frame.y())));
        QCOMPARE(scrolled, scrolls);
        QVERIFY(buttonsShown);
    }

    // Unless the caller keeps silent, a file that could not be opened, at once or when the opener
    // ends, is told with its name and the reason.
    void openFailureIsToldUnlessSilent()
    {
        const QString path = QStringLiteral("/data/report.pdf");
        const QString told = QStringLiteral("The file /data/report.pdf could not be opened.  ");
        scripted().openDocumentResult = false;
        QVERIFY(!ui::OpenDocument(path, ui::OpenFailure::Silent));
        QVERIFY(scripted().boxes.isEmpty());
        QVERIFY(!ui::OpenDocument(path));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), told + scripted().openDocumentReason);
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));

        scripted().openDocumentResult = true;
        QVERIFY(ui::OpenDocument(path, ui::OpenFailure::Silent));
        scripted().openDocumentFailedLater(QStringLiteral("It failed."));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(ui::OpenDocument(path));
        scripted().openDocumentFailedLater(QStringLiteral("It failed."));
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(scripted().lastPrompt(), told + QStringLiteral("It failed."));
        QCOMPARE(scripted().openedDocuments, QStringList(4, path));
    }

    // The desktop's opener is xdg-open: its absence, or the status it ends with, is the reason.
    // Without a desktop session it lasts as long as the program it started and ends with status 4
    // when that program does with an error: only soon after the start does that mean the file was
    // not shown.
    void productionOpenerSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("script");  // empty: no xdg-open on the path
        QTest::addColumn<int>("quickMs");        // how soon a status 4 counts; 0: the program's own
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("reason");  // empty: opened
        QTest::newRow("not installed") << QByteArray() << 0 << false
                                       << "No program to open files with was found: xdg-open (package xdg-utils) is not installed.";
        QTest::newRow("opens") << QByteArray("echo \"$1\" > \"${0%/*}/opened\"") << 0 << true << QString();
        QTest::newRow("no program for the type") << QByteArray("exit 3") << 0 << true << "No program to open files of this type was found.";
        QTest::newRow("the program failed") << QByteArray("exit 4") << 0 << true << "The program that opens it reported a failure.";
        QTest::newRow("the program failed after showing it")
            << QByteArray("echo \"$1\" > \"${0%/*}/opened\"; sleep 0.5; exit 4") << 200 << true << QString();
        QTest::newRow("no program, found late") << QByteArray("sleep 0.5; exit 3") << 200 << true
                                                << "No program to open files of this type was found.";
        QTest::newRow("another status") << QByteArray("exit 9") << 0 << true << "xdg-open ended with status 9.";
        QTest::newRow("killed") << QByteArray("kill -9 $$") << 0 << true << "xdg-open stopped unexpectedly.";
        QTest::newRow("killed late") << QByteArray("sleep 0.5; kill -9 $$") << 200 << true << "xdg-open stopped unexpectedly.";
    }
    void productionOpenerSaysWhy()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, quickMs);
        QFETCH(bool, started);
        QFETCH(QString, reason);
        const int programsQuickMs = quickMs ? ui::SetOpenerQuickFailureMs(quickMs) : 0;
        const auto restore = qScopeGuard([=] {
            if (quickMs) ui::SetOpenerQuickFailureMs(programsQuickMs);
        });
        QTemporaryDir bin;
        if (!script.isEmpty()) {
            QFile opener(bin.filePath(QStringLiteral("xdg-open")));
            QVERIFY(opener.open(QIODevice::WriteOnly));
            // The path holds nothing but the opener.
            const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("sleep")));
            opener.write("#!/bin/sh\n" + script.replace("sleep ", sleep + ' ') + "\n");
            opener.close();
            QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8());
        ui::UiServices* scriptedServices = &ui::services();
        ui::setServices(nullptr);
        QString refusal;
        std::optional<QString> failedLater;
        const bool ok =
            ui::services().openDocument(QStringLiteral("/data/report.pdf"), &refusal, [&](const QString& why) { failedLater = why; });
        ui::setServices(scriptedServices);
        qputenv("PATH", path);
        QCOMPARE(ok, started);
        if (!started) {
            QCOMPARE(refusal, reason);
            return;
        }
        // The verdict comes when the opener ends, and nothing of it is left.
        QTRY_VERIFY(qApp->findChildren<QProcess*>().isEmpty());
        QCOMPARE(failedLater.value_or(QString()), reason);
        if (reason.isEmpty()) {
            QFile opened(bin.filePath(QStringLiteral("opened")));
            QVERIFY(opened.open(QIODevice::ReadOnly));
            QCOMPARE(opened.readAll(), QByteArray("/data/report.pdf\n"));
        }
    }

    void dataFolderFromEnvironmentCreatedOnUse()
    {
        const QString home = testsupport::TestHome::path() + QStringLiteral("/nested/home");
        qputenv("FERROWYN_HOME", home.toUtf8());
        QCOMPARE(ui::DataFolder(), home);
        QVERIFY(QFileInfo(home).isDir());
        QCOMPARE(ui::DataPath(QStringLiteral("dv.db")), home + QStringLiteral("/dv.db"));
        testsupport::TestHome::reset();
    }
    void themeIconFallsBackToStandardIcon()
    {
        testsupport::ProbeIconTheme theme(QStringLiteral("mail-send"));
        const QImage themed = ui::ThemeIcon(QStringLiteral("mail-send"), QStyle::SP_DialogSaveButton).pixmap(16).toImage();
        QCOMPARE(themed.pixelColor(8, 8), QColor(Qt::red));
        const QImage standard = QApplication::style()->standardIcon(QStyle::SP_DialogSaveButton).pixmap(16).toImage();
        QCOMPARE(ui::ThemeIcon(QStringLiteral("no-such-icon"), QStyle::SP_DialogSaveButton).pixmap(16).toImage(), standard);
        QVERIFY(ui::ThemeIcon(QStringLiteral("no-such-icon")).isNull());
    }

    // A modal window out of sight never blocks the program: its window taken away from outside
    // (destroyed or withdrawn) while the window under it is in view, it is closed as its close box
    // closes it (a Yes/No box answers No); minimized alone, it is shown again; with the whole
    // program out of sight (minimized, another desktop) it is left as it is.
    void aModalWindowOutOfSightBlocksNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("taken away") << "taken away";
        QTest::newRow("box taken away") << "box taken away";
        QTest::newRow("all out of sight") << "all out of sight";
        QTest::newRow("minimized alone") << "minimized alone";
    }
    void aModalWindowOutOfSightBlocksNothing()
    {
        QFETCH(QString, how);
        ui::GuardModalWindows();
        QSet<const QWindow*> unseen;
        ui::SetWindowSeenTest([&](const QWindow& w) { return !unseen.contains(&w) && w.isExposed(); });
        auto restore = qScopeGuard([] { ui::SetWindowSeenTest({}); });
        QWidget main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QMessageBox box(QMessageBox::Question, QStringLiteral("Q"), QStringLiteral("Go on?"), QMessageBox::Yes | QMessageBox::No, &main);
        QDialog plain(&main);
        QDialog& d = how == "box taken away" ? static_cast<QDialog&>(box) : plain;
        bool stillOpen = false, minimizedAfter = true;
        // Once the guard has seen it in view, it goes out of sight; what is left open is ended.
        QTimer::singleShot(600, &d, [&] {
            if (how == "minimized alone") {
                d.setWindowState(Qt::WindowMinimized);
                return;
            }
            unseen.insert(d.windowHandle());
            if (how == "all out of sight") unseen.insert(main.windowHandle());
            QExposeEvent gone{QRegion()};
            QCoreApplication::sendEvent(d.windowHandle(), &gone);
        });
        QTimer::singleShot(1600, &d, [&] {
            stillOpen = d.isVisible();
            minimizedAfter = d.isMinimized();
            if (stillOpen) d.done(42);
        });
        const int result = d.exec();
        if (how == "taken away") {
            QVERIFY(!stillOpen);
            QCOMPARE(result, int(QDialog::Rejected));
        } else if (how == "box taken away") {
            QVERIFY(!stillOpen);
            QCOMPARE(result, int(QMessageBox::No));
        } else {
            QVERIFY(stillOpen);
            QCOMPARE(result, 42);
            if (how == "minimized alone") QVERIFY(!minimizedAfter);
        }
    }
};

FERROWYN_TEST_MAIN(TestUiServices)
#include "tst_UiServices.moc"

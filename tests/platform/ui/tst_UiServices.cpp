#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include "platform/ui/CommonDialog.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/ThemeIcon.h"
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
};

FERROWYN_TEST_MAIN(TestUiServices)
#include "tst_UiServices.moc"

#include <QLabel>
#include <QRadioButton>

#include "mainwindow/Form11.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
QByteArray withAttachments()
{
    return "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nSee attached.\r\n"
           "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n"
           "PDF-CONTENT\r\n"
           "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"../../x\"\r\n\r\n"
           "X-CONTENT\r\n"
           "--b--\r\n";
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Outcome {
    bool closed = false;
    QString shownName;
};

// Opens attachment index through the preview's menu; drive picks the option and presses OK.
Outcome openAttachment(Form1* f, int index, const std::function<void(Form11*)>& drive)
{
    Outcome out;
    scripted().dialogHandlers.insert("Form11", [&](QDialog* d) {
        auto* dlg = qobject_cast<Form11*>(d);
        QObject::connect(dlg, &QDialog::finished, [&out] { out.closed = true; });
        dlg->Form_Activate();
        out.shownName = dlg->lblFileName->text();
        drive(dlg);
        return dlg->result();
    });
    f->mnuAtt.at(index)->trigger();
    return out;
}
} // namespace

class TestForm11 : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            writeMessage(home + "/Mail/Inbox", 1, "A <a@example.org>", "Files", QString(), withAttachments());
        });
        QVERIFY(f);
        click(f, keyOf(f, "Inbox"));
        QVERIFY(f->CurrentMailItem);
        QCOMPARE(f->AttachmentMenuCount, 2);
    }
    void cleanupTestCase() { end(); }
    void init() { scripted().clear(); }

    void copyNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("copy");
        QTest::newRow("plain") << "report.pdf" << "~report.pdf";
        QTest::newRow("parent folders") << "../../x" << "~x";
        QTest::newRow("backslashes") << "a\\b..c" << "~b.c";
        QTest::newRow("dots only") << ".." << "~attachment";
        QTest::newRow("empty") << "" << "~attachment";
        QTest::newRow("hidden") << ".profile" << "~profile";
        QTest::newRow("control characters") << "\x01na\nme" << "~name";
    }
    void copyNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, copy);
        QCOMPARE(Form11::TemporaryCopyName(testsupport::TestHome::path(), name), copy);
    }

    void openWritesAPrivateCopyAndShowsIt()
    {
        const Outcome o = openAttachment(f, 1, [](Form11* d) {
            d->Option1->setChecked(true);
            d->Command1_Click();
        });
        QCOMPARE(o.shownName, QStringLiteral("report.pdf"));
        QVERIFY(o.closed);
        const QString folder = Form11::TemporaryCopiesFolder();
        const QFile::Permissions p = QFileInfo(folder).permissions();
        QVERIFY(p.testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!(p & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                       QFile::ExeOther)));
        QCOMPARE(scripted().openedDocuments, QStringList{folder + "/~report.pdf"});
        QCOMPARE(readAll(folder + "/~report.pdf"), QByteArray("PDF-CONTENT"));

        // Opened again while the first copy may still be open: a second name.
        openAttachment(f, 1, [](Form11* d) {
            d->Option1->setChecked(true);
            d->Command1_Click();
        });
        QCOMPARE(scripted().openedDocuments.last(), folder + "/~report (2).pdf");
    }

    // No program for the file: the user is told which file and why.
    void openThatFailsSaysWhy()
    {
        scripted().openDocumentResult = false;
        const Outcome o = openAttachment(f, 1, [](Form11* d) {
            d->Option1->setChecked(true);
            d->Command1_Click();
        });
        QVERIFY(o.closed);
        QCOMPARE(scripted().openedDocuments.size(), 1);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), "The file " + scripted().openedDocuments.first() + " could not be opened.  " +
                                              scripted().openDocumentReason);
    }

    void hostileNameStaysInTheFolder()
    {
        const QString folder = Form11::TemporaryCopiesFolder();
        // Another program may own such names already; only what this open writes counts.
        const bool before = QFile::exists(folder + "/../x") || QFile::exists(folder + "/../../x");
        openAttachment(f, 2, [](Form11* d) {
            d->Option1->setChecked(true);
            d->Command1_Click();
        });
        QCOMPARE(scripted().openedDocuments.size(), 1);
        const QString path = scripted().openedDocuments.first();
        QCOMPARE(QFileInfo(path).absolutePath(), folder);
        QVERIFY(QFileInfo(path).fileName().startsWith(QLatin1Char('~')));
        QCOMPARE(readAll(path), QByteArray("X-CONTENT"));
        QCOMPARE(QFile::exists(folder + "/../x") || QFile::exists(folder + "/../../x"), before);
    }

    void saveToDisk()
    {
        const QString target = testsupport::TestHome::path() + "/saved.pdf";
        scripted().fileAnswers.enqueue(target);
        const Outcome o = openAttachment(f, 1, [](Form11* d) {
            d->Option2->setChecked(true);
            d->Command1_Click();
        });
        QVERIFY(o.closed);
        QCOMPARE(readAll(target), QByteArray("PDF-CONTENT"));
        QCOMPARE(scripted().files.first().fileName, QDir::currentPath() + "/report.pdf");
        QCOMPARE(scripted().files.first().filter, QStringLiteral("All Files (*.*)|*.*"));
        QVERIFY(scripted().openedDocuments.isEmpty());
    }

    // Cancelled or failed, the dialog stays for another choice; only the failure says so.
    void saveCancelledOrFailed()
    {
        scripted().fileAnswers.enqueue(QString());
        const Outcome cancelled = openAttachment(f, 1, [](Form11* d) {
            d->Option2->setChecked(true);
            d->Command1_Click();
            QVERIFY(d->Option2->isChecked());
        });
        QVERIFY(!cancelled.closed);
        QCOMPARE(scripted().boxes.size(), 0);

        scripted().fileAnswers.enqueue(testsupport::TestHome::path() + "/no such folder/x.pdf");
        const Outcome failed = openAttachment(f, 1, [](Form11* d) {
            d->Option2->setChecked(true);
            d->Command1_Click();
        });
        QVERIFY(!failed.closed);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.first().style, int(ui::vbCritical));
    }
};

FERROWYN_TEST_MAIN(TestForm11)
#include "tst_Form11.moc"

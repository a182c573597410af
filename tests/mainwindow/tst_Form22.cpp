#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "mainwindow/Form22.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

class TestForm22 : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start();
        QVERIFY(f);
    }
    void cleanupTestCase() { end(); }
    void init() { scripted().clear(); }

    void aboutBoxTexts()
    {
        QStringList texts;
        scripted().dialogHandlers[QStringLiteral("Form22")] = [&](QDialog* dlg) {
            auto* d = static_cast<Form22*>(dlg);
            texts << d->windowTitle() << d->lblAppName->text() << d->lblVersion->text() << d->Command1->text()
                  << d->lblNotice1->text() + QLatin1Char(' ') + d->lblNotice2->text();
            for (QLabel* l : {d->lblAppName, d->lblVersion, d->lblNotice1, d->lblNotice2})
                if (l->textFormat() != Qt::PlainText) texts << QStringLiteral("not plain");
            d->Command1_Click();
            return d->result();
        };
        f->helpm_about->trigger();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form22"});
        QCOMPARE(scripted().pointerHistory.value(0), int(ui::vbHourglass));
        QCOMPARE(texts.mid(0, 4), (QStringList{"About", "Ferrowyn", "Software Version 1.00 - 08/02/2001", "OK"}));
        QCOMPARE(texts.size(), 5);
        for (const char* library : {"Qt", "SQLite", "GMime", "libcurl", "licence"})
            QVERIFY2(texts.at(4).contains(QLatin1String(library)), library);

        Form22 d;
        d.Command1_Click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    // Help Contents opens the page that the build puts beside the program; a page that cannot
    // be opened shows nothing.
    void helpOpensTheInstalledPage()
    {
        const QString page = QCoreApplication::applicationDirPath() + QStringLiteral("/dravonel.html");
        scripted().openDocumentResult = false;
        f->helpm_contents->trigger();
        QCOMPARE(scripted().openedDocuments, QStringList{page});
        QVERIFY(scripted().boxes.isEmpty());
        // Nor when the opener fails afterwards.
        scripted().openDocumentResult = true;
        f->helpm_contents->trigger();
        scripted().openDocumentFailedLater(QStringLiteral("No program to open files of this type was found."));
        QVERIFY(scripted().boxes.isEmpty());
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        QVERIFY(html.contains(QStringLiteral("<title>Ferrowyn Help</title>")));
        QVERIFY(html.contains(QStringLiteral("Email, Company, First, Last, Middle, Address1, Address2, City, State, Country, Zip,\nPhone1, Phone2, Fax, Cell")));
    }
};

FERROWYN_TEST_MAIN(TestForm22)
#include "tst_Form22.moc"

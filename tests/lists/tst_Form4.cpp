#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>

#include "core/Conversions.h"
#include "core/FieldVocabulary.h"
#include "lists/Form4.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "tests/lists/ListsTestUtil.h"

using namespace liststest;

namespace {
void maildir(const QString& path)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(path + "/" + sub);
}

// A message filed in folder; minute orders the messages of one folder.
void file(const mail::FolderPtr& folder, int minute, const QString& from, const QString& to, const QString& subject,
          const QString& replyTo = QString())
{
    QByteArray m = "From: " + from.toUtf8() + "\r\nTo: " + to.toUtf8() + "\r\n";
    if (!replyTo.isEmpty()) m += "Reply-To: " + replyTo.toUtf8() + "\r\n";
    m += "Subject: " + subject.toUtf8() + "\r\nDate: Tue, 14 Nov 2023 " + QByteArray::number(10 + minute / 60) + ":" +
         QByteArray::number(minute % 60).rightJustified(2, '0') + ":00 +0000\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\nBody\r\n";
    folder->AddMessageFile(m);
}

QVariant column(long recId, const QString& name)
{
    return scalar(QStringLiteral("SELECT %1 FROM MasterList WHERE RecID = %2").arg(name).arg(recId));
}

QStringList items(const QComboBox* c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}

QStringList subjects(const ui::XArrayDB& a)
{
    QStringList out;
    for (int r = 1; r <= a.UpperBound(1); ++r) out << a.Value(r, 0).toString();
    return out;
}

// The address grid's row of a record id, 0 when it has none.
int exRow(Form1* f, long recId)
{
    for (int r = 1; r <= f->ex->UpperBound(1); ++r)
        if (long(Val(f->ex->Value(r, 4))) == recId) return r;
    return 0;
}

QStringList exRowCells(Form1* f, int row)
{
    QStringList out;
    for (int c = 0; c <= 4; ++c) out << f->ex->Value(row, c).toString();
    return out;
}

const long kAnn = 10;
const long kBob = 11;
} // namespace

class TestForm4 : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    long clients = 0, leaf = 0;

    std::unique_ptr<Form4> open(long recId, const QVariant& displayMode = 0)
    {
        auto d = std::make_unique<Form4>(f);
        d->RecID = recId;
        d->Mode = 0;
        d->DisplayMode = displayMode;
        d->LoadData();
        return d;
    }
    std::unique_ptr<Form4> openAddress(const QString& address, const QVariant& displayMode = 0)
    {
        auto d = std::make_unique<Form4>(f);
        d->RecID = 0;
        d->eMailPrime = address;
        d->Mode = 1;
        d->DisplayMode = displayMode;
        d->LoadData();
        return d;
    }
    // The main window showing the Master List's addresses.
    void showMasterList()
    {
        selectNode(f, ListFolderKey(1));
        QVERIFY(f->ex->UpperBound(1) >= 2);
    }
    mail::FolderPtr folder(const QString& name) const
    {
        for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
            if (f->TreeView1->Nodes(i)->Text() == name) return MAPINameSpace->GetFolderFromID(f->TreeView1->Nodes(i)->Key());
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            maildir(home + "/Mail/Inbox/Projects");
            maildir(home + "/Mail/Inbox/Bulk");
        });
        QVERIFY(f);
        clients = addFolder("Clients");
        leaf = addFolder("Leaf");
        sql("INSERT INTO Config (combo0, combo1, combo2, combo3, combofieldtype2, chk0, chk1, chkHot0, chkHot1) "
            "VALUES ('Region', NULL, 'Since', '   ', 2, 'Member & Friend', '', 'VIP', ' ')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 2, 'South')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 1, 'North')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (1, 1, 'Unused')");
        LoadComboFieldTypes();
        f->LoadFolders();
    }
    void cleanupTestCase() { end(); }

    void init()
    {
        scripted().clear();
        sql("DELETE FROM ListMembers");
        sql("DELETE FROM MasterList");
        sql(QStringLiteral("INSERT INTO MasterList (RecID, Email, First, Last, Middle, Company, SortName, City, State, Country, Zip, "
                           "Phone1, chkHot0, chk0, chk3, combo0, combo1, Disabled) VALUES (%1, 'ann@x.org', 'Ann', 'Lee', 'B', "
                           "'Acme', 'Lee, Ann, B', 'Paris', 'IDF', 'FR', '75001', '555', -1, -1, -1, 'North', 'kept', 0)")
                .arg(kAnn));
        sql(QStringLiteral("INSERT INTO MasterList (RecID, Email, SortName) VALUES (%1, 'bob@x.org', '')").arg(kBob));
        addMember(kAnn, leaf);
        addMember(kAnn, clients);
    }

    // ---- loading ----
    void loadsTheRowByRecordId()
    {
        auto d = open(kAnn);
        QCOMPARE(d->windowTitle(), QStringLiteral("Properties: Lee, Ann, B"));
        QCOMPARE(d->RecID, kAnn);
        QCOMPARE(d->txtEmail->text(), QStringLiteral("ann@x.org"));
        QCOMPARE(d->txtCity->text(), QStringLiteral("Paris"));
        QCOMPARE(d->txtPhone1->text(), QStringLiteral("555"));
        QCOMPARE(Form4::CheckValue(d->chkHot[0]), 1);
        QCOMPARE(Form4::CheckValue(d->chk[0]), 1);
        QCOMPARE(Form4::CheckValue(d->chk[1]), 0);
        QCOMPARE(Form4::CheckValue(d->chkDisabled), 0);
        QCOMPARE(d->Combo1[0]->currentText(), QStringLiteral("North"));
        QVERIFY(d->lblStatusMessage->isHidden());
        QCOMPARE(d->List1->count(), 2);
        QCOMPARE(d->List1->item(0)->text(), QStringLiteral("Clients"));
        QCOMPARE(d->List1->item(1)->text(), QStringLiteral("Leaf"));
        // The first tab shows; the refresh button belongs to the third.
        QCOMPARE(d->SSTab1->currentIndex(), 0);
        QVERIFY(d->CommandRefresh->isHidden());
        d->SSTab1->setCurrentIndex(2);
        QVERIFY(!d->CommandRefresh->isHidden());
        d->SSTab1->setCurrentIndex(1);
        QVERIFY(d->CommandRefresh->isHidden());
        // Without a sort name the caption shows the address.
        QCOMPARE(open(kBob)->windowTitle(), QStringLiteral("Properties: bob@x.org"));
    }

    void opensByAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<long>("recId");
        QTest::newRow("known, in another letter case") << "ANN@X.org" << kAnn;
        QTest::newRow("unknown") << "new@x.org" << 0L;
        QTest::newRow("empty") << "" << 0L;
    }
    void opensByAddress()
    {
        QFETCH(QString, address);
        QFETCH(long, recId);
        showMasterList();
        const int rows = f->ex->UpperBound(1);
        const QStringList annRow = exRowCells(f, exRow(f, kAnn));
        auto d = openAddress(address, 1);
        QCOMPARE(d->RecID, recId);
        if (recId != 0) {
            QCOMPARE(d->txtFirst->text(), QStringLiteral("Ann"));
            QCOMPARE(d->List1->count(), 2);
            return;
        }
        // The not-saved state: only the address, nothing else filled in.
        QVERIFY(!d->lblStatusMessage->isHidden());
        QCOMPARE(d->windowTitle(), QStringLiteral("Properties"));
        QCOMPARE(d->txtEmail->text(), address);
        QVERIFY(d->txtFirst->text().isEmpty() && d->txtCity->text().isEmpty());
        QCOMPARE(Form4::CheckValue(d->chkHot[0]), 0);
        QCOMPARE(d->List1->count(), 0);
        if (address.isEmpty()) return;
        d->txtFirst->setText(QStringLiteral("Nina"));
        d->txtLast->setText(QStringLiteral("Ng"));
        QSignalSpy finished(d.get(), &QDialog::finished);
        d->Command1_Click();
        QCOMPARE(finished.count(), 1);
        const long id = scalar(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = 'new@x.org'")).toInt();
        QVERIFY(id > 0);
        QCOMPARE(column(id, "SortName").toString(), QStringLiteral("Ng, Nina"));
        QCOMPARE(column(id, "Status").toInt(), 1);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE MasterRecID = %1").arg(id)), 0);
        // The grid is left alone.
        QCOMPARE(f->ex->UpperBound(1), rows);
        QCOMPARE(exRowCells(f, exRow(f, kAnn)), annRow);
    }

    void aRecordIdWhoseRowIsGoneAddsTheAddress()
    {
        showMasterList();
        const int row = exRow(f, kBob);
        sql(QStringLiteral("DELETE FROM MasterList WHERE RecID = %1").arg(kBob));
        auto d = std::make_unique<Form4>(f);
        d->RecID = kBob;
        d->eMailPrime = QStringLiteral("bob@x.org");
        d->Mode = 0;
        d->DisplayMode = 1;
        d->LoadData();
        QVERIFY(!d->lblStatusMessage->isHidden());
        QCOMPARE(d->RecID, 0L);
        QCOMPARE(d->txtEmail->text(), QStringLiteral("bob@x.org"));
        QVERIFY(exRow(f, kBob) == row);
        d->Command1_Click();
        const long id = scalar("SELECT RecID FROM MasterList WHERE Email = 'bob@x.org'").toInt();
        QVERIFY(id > 0 && id != kBob);
        // The stale row has gone from the grid and the added address shows instead.
        QCOMPARE(exRow(f, kBob), 0);
        QVERIFY(exRow(f, id) > 0);
    }

    void customFieldCaptions()
    {
        auto d = open(kAnn);
        QCOMPARE(d->lbl[0]->text(), QStringLiteral("Region"));
        QVERIFY(d->lbl[0]->isEnabled() && d->Combo1[0]->isEnabled());
        QCOMPARE(d->chk[0]->text(), QStringLiteral("Member && Friend"));
        QCOMPARE(d->lblHot[0]->text(), QStringLiteral("VIP"));
        // Null, empty and all-blank captions: not in use.
        for (int i : {1, 3, 4, 14}) {
            QCOMPARE(d->lbl[size_t(i)]->text(), QStringLiteral("N/A"));
            QVERIFY(!d->lbl[size_t(i)]->isEnabled() && !d->Combo1[size_t(i)]->isEnabled());
        }
        QCOMPARE(d->chk[1]->text(), QStringLiteral("N/A"));
        QVERIFY(!d->chk[1]->isEnabled());
        QCOMPARE(d->lblHot[1]->text(), QStringLiteral("N/A"));
        QVERIFY(!d->lblHot[1]->isEnabled() && !d->chkHot[1]->isEnabled());
        // Every list starts with an empty entry, then the values in FieldIDX order, used or not.
        QCOMPARE(items(d->Combo1[0]), (QStringList{"", "North", "South"}));
        QCOMPARE(items(d->Combo1[1]), (QStringList{"", "Unused"}));
        QCOMPARE(items(d->Combo1[5]), QStringList{""});
        // A disabled field still shows its stored value.
        QCOMPARE(d->Combo1[1]->currentText(), QStringLiteral("kept"));
    }

    void withoutConfigurationEveryFieldIsUsable()
    {
        sql("ALTER TABLE Config RENAME TO ConfigSaved");
        sql("CREATE TABLE Config AS SELECT * FROM ConfigSaved WHERE 0");
        auto d = open(kAnn);
        sql("DROP TABLE Config");
        sql("ALTER TABLE ConfigSaved RENAME TO Config");
        for (size_t i = 0; i < 15; ++i) {
            QCOMPARE(d->lbl[i]->text(), QStringLiteral("N/A"));
            QCOMPARE(d->chk[i]->text(), QStringLiteral("N/A"));
            QVERIFY(d->lbl[i]->isEnabled() && d->Combo1[i]->isEnabled() && d->chk[i]->isEnabled());
            QCOMPARE(d->Combo1[i]->count(), 0);
        }
        for (size_t i = 0; i < 6; ++i) {
            QCOMPARE(d->lblHot[i]->text(), QStringLiteral("N/A"));
            QVERIFY(d->chkHot[i]->isEnabled());
        }
        QCOMPARE(d->Combo1[0]->currentText(), QStringLiteral("North"));
    }

    // ---- Apply ----
    void sortNameThroughApply_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("middle");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("sortName");
        QTest::newRow("all") << "Ann" << "Lee" << "B" << "Acme" << "Lee, Ann, B";
        QTest::newRow("no first") << "" << "Lee" << "B" << "Acme" << "Lee, B";
        QTest::newRow("no middle, no company") << "Ann" << "Lee" << "" << "" << "Lee, Ann";
        QTest::newRow("no last") << "Ann" << "" << "B" << "Acme" << "";
        QTest::newRow("company only") << "" << "" << "" << "  Acme Ltd  " << "Acme Ltd";
        QTest::newRow("nothing") << "" << "" << "" << "" << "";
        QTest::newRow("last name with blanks") << "Ann" << "  Lee  " << "" << "" << "Lee, Ann";
    }
    void sortNameThroughApply()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, middle);
        QFETCH(QString, company);
        auto d = open(kAnn);
        d->txtFirst->setText(first);
        d->txtLast->setText(last);
        d->txtMiddle->setText(middle);
        d->txtCompany->setText(company);
        d->Command1_Click();
        QTEST(column(kAnn, "SortName").toString(), "sortName");
        // The name columns keep what was typed.
        QCOMPARE(scalar(QStringLiteral("SELECT Last || '|' FROM MasterList WHERE RecID = %1").arg(kAnn)).toString(), last + "|");
        QCOMPARE(scalar(QStringLiteral("SELECT Company || '|' FROM MasterList WHERE RecID = %1").arg(kAnn)).toString(), company + "|");
    }

    void everyColumnRoundTrips()
    {
        auto d = open(kAnn);
        const QStringList columns{"Email", "Company", "First", "Last", "Middle", "Address1", "Address2", "City",
                                  "State", "Country", "Zip", "Website", "Phone1", "Phone2", "Fax", "Cell"};
        const auto boxes = d->textBoxes();
        QStringList typed;
        for (int i = 0; i < 16; ++i) {
            typed << (i == 0 ? QStringLiteral("o'neil@x.org") : i == 4 ? QStringLiteral("Q") : QStringLiteral("O'%1 v").arg(i));
            boxes[size_t(i)]->setText(typed.last());
        }
        Form4::SetCheckValue(d->chkHot[0], 2);  // greyed
        Form4::SetCheckValue(d->chkHot[2], 1);
        Form4::SetCheckValue(d->chk[0], 0);
        Form4::SetCheckValue(d->chk[3], 2);
        Form4::SetCheckValue(d->chk[14], 1);
        Form4::SetCheckValue(d->chkDisabled, 1);
        d->Combo1[0]->setEditText(QStringLiteral("  South  "));
        d->Combo1[5]->setEditText(QStringLiteral("not in any list"));
        d->Combo1[2]->setEditText(QStringLiteral(" 2023-11-14"));
        d->Combo1[7]->setEditText(QStringLiteral("it's"));
        d->Command1_Click();

        for (int i = 0; i < 16; ++i)
            QCOMPARE(column(kAnn, columns[i]).toString(), typed[i]);
        QCOMPARE(column(kAnn, "chkHot0").toInt(), 0);
        QCOMPARE(column(kAnn, "chkHot2").toInt(), -1);
        QCOMPARE(column(kAnn, "chk0").toInt(), 0);
        QCOMPARE(column(kAnn, "chk3").toInt(), 0);
        QCOMPARE(column(kAnn, "chk14").toInt(), -1);
        QCOMPARE(column(kAnn, "Disabled").toInt(), -1);
        QCOMPARE(scalar(QStringLiteral("SELECT combo0 || '|' FROM MasterList WHERE RecID = %1").arg(kAnn)).toString(),
                 QStringLiteral("South  |"));
        QCOMPARE(column(kAnn, "combo5").toString(), QStringLiteral("not in any list"));
        QCOMPARE(column(kAnn, "combo2").toString(), QStringLiteral("2023-11-14"));
        QCOMPARE(column(kAnn, "combo7").toString(), QStringLiteral("it's"));
        // A field whose caption is blank is written with what its disabled control shows.
        QCOMPARE(column(kAnn, "combo1").toString(), QStringLiteral("kept"));

        // Read back, the dialog shows what was stored.
        auto again = open(kAnn);
        const auto back = again->textBoxes();
        for (int i = 0; i < 16; ++i) QCOMPARE(back[size_t(i)]->text(), typed[i]);
        QCOMPARE(Form4::CheckValue(again->chkHot[0]), 0);
        QCOMPARE(Form4::CheckValue(again->chkHot[2]), 1);
        QCOMPARE(Form4::CheckValue(again->chk[14]), 1);
        QCOMPARE(Form4::CheckValue(again->chkDisabled), 1);
        QCOMPARE(again->Combo1[0]->currentText(), QStringLiteral("South"));
        QCOMPARE(again->Combo1[5]->currentText(), QStringLiteral("not in any list"));
    }

    void aLongStoredValueIsShownAndSavedWhole()
    {
        const QString company = QString(100, QLatin1Char('c'));
        sql(QStringLiteral("UPDATE MasterList SET Company = '%1', Middle = 'Xyz' WHERE RecID = %2").arg(company).arg(kAnn));
        auto d = open(kAnn);
        QCOMPARE(d->txtCompany->text(), company);
        QCOMPARE(d->txtMiddle->text(), QStringLiteral("Xyz"));
        d->Command1_Click();
        QCOMPARE(column(kAnn, "Company").toString(), company);
        QCOMPARE(column(kAnn, "Middle").toString(), QStringLiteral("Xyz"));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("refuseStatement");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("empty") << "" << false << "Error In Email Address.  No Email Address Specified";
        QTest::newRow("blanks") << "   " << false << "Error In Email Address.  No Email Address Specified";
        QTest::newRow("no @") << "ann.x.org" << false << "Error In Email Address.  This is not an email address: ann.x.org";
        QTest::newRow("two @") << "ann@b@x.org" << false << "Error In Email Address.  This is not an email address: ann@b@x.org";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")@x.org" << false
                                 << "Error In Email Address.  This is not an email address: =HYPERLINK(\"x\")@x.org";
        QTest::newRow("invisible character") << "ann@x.org" + QString(QChar(0x200b)) << false
                                             << "Error In Email Address.  This is not an email address: ann@x.org<U+200B>";
        QTest::newRow("another row's, in another case") << " BOB@X.org " << false
                                                        << "Error In Email Address.  The Master List already holds bob@x.org.";
        QTest::newRow("refused by the database") << "ann@x.org" << true << "Error Saving Address.  ";
    }
    void refusals()
    {
        QFETCH(QString, address);
        QFETCH(bool, refuseStatement);
        QFETCH(QString, prompt);
        showMasterList();
        const QStringList gridRow = exRowCells(f, exRow(f, kAnn));
        if (refuseStatement)
            sql("CREATE TRIGGER refuse BEFORE UPDATE ON MasterList BEGIN SELECT RAISE(ABORT, 'no changes today'); END");
        auto d = open(kAnn, 1);
        d->txtEmail->setText(address);
        d->txtFirst->setText(QStringLiteral("Changed"));
        QSignalSpy finished(d.get(), &QDialog::finished);
        d->Command1_Click();
        if (refuseStatement) sql("DROP TRIGGER refuse");
        QCOMPARE(finished.count(), 0);
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY2(scripted().lastPrompt().startsWith(prompt), qPrintable(scripted().lastPrompt()));
        if (refuseStatement) {
            // The reason, without the long statement it came from.
            QVERIFY(scripted().lastPrompt().contains(QStringLiteral("no changes today")));
            QVERIFY(!scripted().lastPrompt().contains(QStringLiteral("UPDATE")));
        }
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
        QCOMPARE(column(kAnn, "First").toString(), QStringLiteral("Ann"));
        QCOMPARE(column(kAnn, "Email").toString(), QStringLiteral("ann@x.org"));
        QCOMPARE(exRowCells(f, exRow(f, kAnn)), gridRow);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 2);
    }

    void theAddressIsStoredTrimmed()
    {
        // The row's own address in another case is no duplicate.
        auto d = open(kAnn);
        d->txtEmail->setText(QStringLiteral("  ANN@x.org "));
        d->Command1_Click();
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(column(kAnn, "Email").toString(), QStringLiteral("ANN@x.org"));
    }

    void theGridRowAfterApply_data()
    {
        QTest::addColumn<int>("displayMode");
        QTest::newRow("address grid shown") << 1;
        QTest::newRow("message grid shown") << 0;
    }
    void theGridRowAfterApply()
    {
        QFETCH(int, displayMode);
        showMasterList();
        const int row = exRow(f, kAnn);
        const QStringList before = exRowCells(f, row);
        auto d = open(kAnn, displayMode);
        d->txtEmail->setText(QStringLiteral("ann.lee@x.org "));
        d->txtFirst->setText(QStringLiteral("Anna"));
        d->txtCity->setText(QStringLiteral("  Lyon  "));
        d->txtState->setText(QString());
        d->txtZip->setText(QStringLiteral(" 69001"));
        Form4::SetCheckValue(d->chkDisabled, 1);
        d->Command1_Click();
        QCOMPARE(exRow(f, kAnn), row);
        if (displayMode == 0) {
            QCOMPARE(exRowCells(f, row), before);
            return;
        }
        // Columns 1-3 as a reload would show them; the Disabled mark stays.
        QCOMPARE(exRowCells(f, row),
                 (QStringList{before[0], "ann.lee@x.org", "Lee, Anna, B", "Lyon FR 69001", QString::number(kAnn)}));
        QCOMPARE(f->TDBGrid2->model()->index(row - 1, 2).data().toString(), QStringLiteral("Lee, Anna, B"));
        selectNode(f, ListFolderKey(1));
        QCOMPARE(exRowCells(f, exRow(f, kAnn)).mid(1), (QStringList{"ann.lee@x.org", "Lee, Anna, B", "Lyon FR 69001", QString::number(kAnn)}));
    }

    void cancelWritesNothing()
    {
        auto d = open(kAnn);
        d->txtFirst->setText(QStringLiteral("Other"));
        d->Command2_Click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(column(kAnn, "First").toString(), QStringLiteral("Ann"));
    }

    // ---- text boxes ----
    void focusSelectsAndUpperCases()
    {
        auto d = open(kAnn);
        d->show();
        QApplication::setActiveWindow(d.get());
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        d->txtCompany->setFocus(Qt::TabFocusReason);
        QCOMPARE(d->txtCompany->selectedText(), QStringLiteral("Acme"));
        QTest::mouseClick(d->txtFirst, Qt::LeftButton, {}, QPoint(4, 8));
        QVERIFY(d->txtFirst->hasFocus());
        QCOMPARE(d->txtFirst->selectedText(), QStringLiteral("Ann"));
        // A second click in the focused box places the caret as usual.
        QTest::mouseClick(d->txtFirst, Qt::LeftButton, {}, QPoint(4, 8));
        QVERIFY(!d->txtFirst->hasSelectedText());

        for (QLineEdit* box : {d->txtMiddle, d->txtState, d->txtCountry, d->txtCity, d->txtLast}) {
            box->setFocus(Qt::TabFocusReason);
            QTest::keyClicks(box, QStringLiteral("ny"));
            d->txtZip->setFocus(Qt::TabFocusReason);
        }
        QCOMPARE(d->txtMiddle->text(), QStringLiteral("NY"));
        QCOMPARE(d->txtState->text(), QStringLiteral("NY"));
        QCOMPARE(d->txtCountry->text(), QStringLiteral("NY"));
        QCOMPARE(d->txtCity->text(), QStringLiteral("ny"));
        QCOMPARE(d->txtLast->text(), QStringLiteral("ny"));
        // Typing stops at the box's limit.
        d->txtMiddle->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(d->txtMiddle, QStringLiteral("abc"));
        QCOMPARE(d->txtMiddle->text(), QStringLiteral("ab"));
        d->close();
    }

    // ---- message history ----
    void messageHistory()
    {
        const mail::FolderPtr inbox = f->InboxFolder;
        const mail::FolderPtr sentItems = f->SentItemsFolder;
        const mail::FolderPtr projects = folder("Projects");
        QVERIFY(inbox && sentItems && projects);
        file(inbox, 1, "Ann <ann@x.org>", "me@y.org", "R1");
        file(inbox, 2, "Other <o@y.org>", "me@y.org", "R2 by reply-to", "Ann <ann@x.org>");
        file(inbox, 3, "ANN@X.ORG", "me@y.org", "R3 other case");
        file(inbox, 4, "Bob <bob@x.org>", "ann@x.org", "not from her");
        file(inbox, 5, "Ann <ann@x.org>", "me@y.org", "not hers by reply-to", "Bob <bob@x.org>");
        file(projects, 1, "Ann <ann@x.org>", "me@y.org", "R4 in a sub-folder");
        file(sentItems, 1, "Me <me@y.org>", "Ann <ann@x.org>", "S1");
        file(sentItems, 2, "Me <me@y.org>", "bob@x.org, ann@x.org", "not her first");
        file(sentItems, 3, "Me <me@y.org>", "ANN@x.ORG", "S2");

        auto d = open(kAnn);
        QCOMPARE(d->TDBGrid1->Array()->UpperBound(1), 0);
        for (int pass = 0; pass < 2; ++pass) {
            d->CommandRefresh_Click();
            QCOMPARE(subjects(*d->ReceivedMessageArray), (QStringList{"R1", "R2 by reply-to", "R3 other case", "R4 in a sub-folder"}));
            QCOMPARE(subjects(*d->SentMessageArray), (QStringList{"S1", "S2"}));
            QCOMPARE(d->TDBGrid1->Array(), d->ReceivedMessageArray);
            QCOMPARE(d->TDBGrid2->Array(), d->SentMessageArray);
            QVERIFY(d->ProgressBar1->isHidden());
            QCOMPARE(d->ProgressBar1->maximum(), 9);
            QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
        }
        QCOMPARE(d->ReceivedMessageArray->Value(1, 1).toDateTime(), QDateTime(QDate(2023, 11, 14), QTime(10, 1), Qt::UTC).toLocalTime());
        QCOMPARE(d->SentMessageArray->Value(2, 1).toDateTime(), QDateTime(QDate(2023, 11, 14), QTime(10, 3), Qt::UTC).toLocalTime());
        QVERIFY(!d->TDBGrid1->Columns(2).Visible());

        // A double-click opens the listed message; one with no row or a message gone does nothing.
        QStringList shown;
        mail::Hooks().display = [&](const mail::MailItemPtr& mi, bool modal) { shown << mi->Subject() + (modal ? " modal" : ""); };
        d->TDBGrid1->SetBookmark(2);
        d->TDBGrid1_DblClick();
        d->TDBGrid2->SetBookmark(1);
        d->TDBGrid2_DblClick();
        d->TDBGrid2->SetBookmark(QVariant());
        d->TDBGrid2_DblClick();
        MAPINameSpace->GetItemFromID(d->ReceivedMessageArray->Value(4, 2).toString())->Delete();
        d->TDBGrid1->SetBookmark(4);
        d->TDBGrid1_DblClick();
        mail::Hooks().display = nullptr;
        QCOMPARE(shown, (QStringList{"R2 by reply-to", "S1"}));

        // The address is compared as typed: blanks at its ends take part.
        d->txtEmail->setText(QStringLiteral(" ann@x.org"));
        d->CommandRefresh_Click();
        QCOMPARE(d->ReceivedMessageArray->UpperBound(1), 0);
        QCOMPARE(d->SentMessageArray->UpperBound(1), 0);
    }

    void historyKeepsEveryMatch()
    {
        const mail::FolderPtr bulk = folder("Bulk");
        QVERIFY(bulk);
        for (int i = 0; i < 1205; ++i) file(bulk, i % 600, "Many <many@x.org>", "me@y.org", QStringLiteral("M%1").arg(i));
        auto d = openAddress(QStringLiteral("many@x.org"));
        QVERIFY(!d->lblStatusMessage->isHidden());
        d->CommandRefresh_Click();
        QCOMPARE(d->ReceivedMessageArray->UpperBound(1), 1205);
        QCOMPARE(d->TDBGrid1->model()->rowCount(), 1205);
    }

    // ---- the commands that open the dialog ----
    void addressGridCommandOpensTheCurrentRow()
    {
        showMasterList();
        f->AddressListMode = 1;
        QVariantList seen;
        scripted().dialogHandlers.insert(QStringLiteral("Form4"), [&](QDialog* dlg) {
            auto* d = static_cast<Form4*>(dlg);
            seen = {qlonglong(d->RecID), d->Mode, d->DisplayMode, d->txtEmail->text()};
            return int(QDialog::Rejected);
        });
        f->TDBGrid2->SetBookmark(exRow(f, kAnn));
        f->mnuBulkPopProperties->trigger();
        QCOMPARE(seen, (QVariantList{qlonglong(kAnn), 0, 1, "ann@x.org"}));
        QCOMPARE(scripted().pointerHistory.first(), int(ui::vbHourglass));

        // No current row, or a read the database refuses: the command ends with nothing shown.
        seen.clear();
        f->TDBGrid2->SetBookmark(QVariant());
        f->mnuBulkPopProperties_Click();
        f->TDBGrid2->SetBookmark(exRow(f, kAnn));
        sql("ALTER TABLE MasterList RENAME TO MasterListSaved");
        f->mnuBulkPopProperties_Click();
        sql("ALTER TABLE MasterListSaved RENAME TO MasterList");
        QVERIFY(seen.isEmpty());
        QCOMPARE(scripted().dialogsShown, QStringList{QStringLiteral("Form4")});
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }

    void messageGridCommandOpensTheCorrespondent()
    {
        file(f->InboxFolder, 30, "Ann <ANN@x.org>", "me@y.org", "Hello");
        click(f, f->InboxFolder->EntryID());
        f->AddressListMode = 0;
        int row = 0;
        for (int r = 1; r <= f->xa->UpperBound(1); ++r)
            if (f->xa->Value(r, 5).toString() == QStringLiteral("Hello")) row = r;
        QVERIFY(row > 0);
        QVariantList seen;
        scripted().dialogHandlers.insert(QStringLiteral("Form4"), [&](QDialog* dlg) {
            auto* d = static_cast<Form4*>(dlg);
            seen = {d->eMailPrime, d->Mode, d->DisplayMode, qlonglong(d->RecID), d->txtFirst->text()};
            return int(QDialog::Rejected);
        });
        f->TDBGrid1->SetBookmark(row);
        f->mnuEmailPopProperties->trigger();
        QCOMPARE(seen, (QVariantList{"ANN@x.org", 1, 0, qlonglong(kAnn), "Ann"}));

        // The message has gone: the shared item message, and nothing opens.
        seen.clear();
        scripted().clear();
        MAPINameSpace->GetItemFromID(f->xa->Value(row, 8).toString())->Delete();
        f->mnuEmailPopProperties_Click();
        QVERIFY(seen.isEmpty());
        QVERIFY(scripted().dialogsShown.isEmpty());
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("There was an error processing selected item(s).")));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }
};

FERROWYN_TEST_MAIN(TestForm4)
#include "tst_Form4.moc"

#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

#include "core/FieldVocabulary.h"
#include "lists/Form13.h"
#include "platform/ui/WindowPlacement.h"
#include "tests/lists/ListsTestUtil.h"

using namespace liststest;

namespace {
struct Rule {
    QString field, op, value, conj;
    int id, type;
};

void setRow(Form13& d, int r, const Rule& rule)
{
    d.RuleArray->SetValue(r, 0, rule.field);
    d.RuleArray->SetValue(r, 1, rule.op);
    d.RuleArray->SetValue(r, 2, rule.value);
    d.RuleArray->SetValue(r, 3, rule.conj);
    d.RuleArray->SetValue(r, 4, rule.id);
    d.RuleArray->SetValue(r, 5, rule.type);
}

QStringList column(const ui::XArrayDB& a, int col)
{
    QStringList out;
    for (int r = a.LowerBound(1); r <= a.UpperBound(1); ++r) out << a.Value(r, col).toString();
    return out;
}

QStringList storedRules(long folder)
{
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT Sequence, FieldType, FieldID, Operator, FieldValue, Conjunction, Status FROM MailFolderProperties "
                           "WHERE FolderRecID = %1 ORDER BY Sequence")
                .arg(folder),
            DBConnection());
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) {
        QStringList cells;
        for (int i = 0; i < 7; ++i) cells << rs.Fields(i).toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

// Opens the drop-down of a cell and picks an entry, as the user does with the keyboard.
void pick(Form13& d, int row, int col, int listRow)
{
    d.TDBGrid1->SetBookmark(row);
    d.TDBGrid1->SetCol(col);
    QTest::keyClick(d.TDBGrid1, Qt::Key_F4);
    ui::DataGridDropDown* drops[] = {d.TDBDropDown1, d.TDBDropDown2, d.TDBDropDown3, d.TDBDropDown4};
    QVERIFY(drops[col]->IsOpen());
    drops[col]->List().SetBookmark(listRow);
    QTest::keyClick(&drops[col]->List(), Qt::Key_Return);
}

const Rule cityParis{"$CITY", "Equal To", "Paris", "", 8, 0};
} // namespace

class TestFolderRules : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    long folder = 0;

    std::unique_ptr<Form13> open(long id)
    {
        auto d = std::make_unique<Form13>(f);
        d->CurrentNode = ListFolderKey(id);
        d->LoadProperties();
        return d;
    }
    void apply(Form13& d, int clearAnswer = ui::vbNo)
    {
        scripted().boxes.clear();
        scripted().boxAnswers.enqueue(clearAnswer);
        d.Command1_Click();
    }

private Q_SLOTS:
    void initTestCase()
    {
        f = start();
        QVERIFY(f);
        // RecIDs 1..5.
        sql("INSERT INTO MasterList (Email, City, Last) VALUES ('a@x.org', 'Paris', 'Able')");
        sql("INSERT INTO MasterList (Email, City, Last) VALUES ('b@x.org', 'Lyon', 'Baker')");
        sql("INSERT INTO MasterList (Email, City, Last) VALUES ('c@x.org', 'paris', 'O''Brien')");
        sql("INSERT INTO MasterList (Email, City, Last, chk0) VALUES ('d@x.org', 'Rome', 'Dunn', -1)");
        sql("INSERT INTO MasterList (Email, City, Last) VALUES ('e@x.org', 'Nice', 'O')");
        sql("INSERT INTO Config (combo0, combo1, chk0, chkHot2) VALUES ('Region', '  ', 'VIP', 'Hot')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 1, 'west')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 2, 'East')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (1, 1, 'other field')");
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 3, 'north')");
        LoadComboFieldTypes();
        folder = addFolder("Clients");
        f->LoadFolders();
        selectNode(f, ListFolderKey(folder));
    }
    void cleanupTestCase() { end(); }
    void init()
    {
        sql("DELETE FROM MailFolderProperties");
        sql("DELETE FROM ListMembers");
        scripted().clear();
    }

    void listsOfTheDropDowns()
    {
        auto d = open(folder);
        QCOMPARE(d->windowTitle(), QStringLiteral("Properties: Clients"));
        QCOMPARE(d->RuleArray->UpperBound(1), 50);
        // Custom fields in use, combo then hot check then check, before the standard tokens.
        const QStringList names = column(*d->FieldList, 0);
        QCOMPARE(names.mid(0, 6), (QStringList{"", "Region", "Hot", "VIP", "$DISABLED", "$COMPANY"}));
        QCOMPARE(names.size(), 4 + 17);
        QCOMPARE(names.at(15), QStringLiteral("WEBSITE"));
        QCOMPARE(d->FieldList->Value(3, 1).toInt(), 3);
        QCOMPARE(d->FieldList->Value(3, 2).toInt(), 2);
        QCOMPARE(column(*d->OperatorList, 0),
                 (QStringList{"", "Equal To", "Greater Than", "Greater Than Equal To", "Less Than", "Less Than Equal To", "LIKE"}));
        QCOMPARE(column(*d->ConjunctionList, 0),
                 (QStringList{"", "AND", "OR", ") AND", "AND (", ") AND (", ") OR ", "OR (", ") OR (", ")", "("}));
    }

    void valueListFollowsTheFieldType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("standard field: typed") << 0 << 8 << QStringList{};
        QTest::newRow("check field") << 2 << 0 << QStringList{"CHECKED", "UNCHECKED"};
        QTest::newRow("hot check") << 3 << 2 << QStringList{"CHECKED", "UNCHECKED"};
        QTest::newRow("combo: its own values sorted") << 1 << 0 << QStringList{"East", "north", "west"};
        QTest::newRow("combo without values") << 1 << 7 << QStringList{};
    }
    void valueListFollowsTheFieldType()
    {
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(QStringList, values);
        auto d = open(folder);
        d->show();
        setRow(*d, 2, {"x", "Equal To", "", "", id, type});
        d->TDBGrid1->SetBookmark(2);
        d->TDBGrid1->SetCol(2);
        QTest::keyClick(d->TDBGrid1, Qt::Key_F4);
        QVERIFY(d->TDBDropDown3->IsOpen());
        QCOMPARE(column(*d->ValueList, 0), values);
        QCOMPARE(d->TDBDropDown3->Width(), d->TDBGrid1->Columns(2).Width());
        d->TDBDropDown3->Close();
    }

    // Each list opens wide enough for its longest entry, with no caption strip above them.
    void dropDownsShowTheirEntriesWhole()
    {
        auto d = open(folder);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        ui::DataGridDropDown* drops[] = {d->TDBDropDown1, d->TDBDropDown2, d->TDBDropDown4};
        const int cols[] = {0, 1, 3};
        for (int i = 0; i < 3; ++i) {
            d->TDBGrid1->SetBookmark(1);
            d->TDBGrid1->SetCol(cols[i]);
            QTest::keyClick(d->TDBGrid1, Qt::Key_F4);
            ui::DataGridDropDown* dd = drops[i];
            QVERIFY(dd->IsOpen());
            ui::DataGrid& list = dd->List();
            QVERIFY(list.horizontalHeader()->isHidden());
            const ui::XArrayDB& entries = *dd->Array();
            for (int r = entries.LowerBound(1); r <= entries.UpperBound(1); ++r) {
                const QString text = entries.Value(r, 0).toString();
                QVERIFY2(list.columnWidth(0) >= list.fontMetrics().horizontalAdvance(text), qPrintable(text));
            }
            // Nor shortened as the cells draw them.
            QVERIFY(list.columnWidth(0) >= static_cast<QAbstractItemView&>(list).sizeHintForColumn(0));
            QVERIFY(list.viewport()->width() >= list.columnWidth(0));
            QVERIFY(!testsupport::SaveShot(dd, QStringLiteral("rules-dropdown-%1").arg(cols[i])).isEmpty());
            dd->Close();
        }
    }

    // A chosen condition, or a value as long as a list holds, shows whole in its cell, beside the
    // list's button; the window widens within the screen rather than the grid scroll sideways.
    void chosenEntriesShowWhole_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("listRow");
        QTest::addColumn<QString>("entry");
        QTest::newRow("condition") << 1 << 4 << "Greater Than Equal To";
        QTest::newRow("value") << 2 << 2 << "Mountains, moorland and the Western Highlands";
    }
    void chosenEntriesShowWhole()
    {
        QFETCH(int, col);
        QFETCH(int, listRow);
        QFETCH(QString, entry);
        sql(QStringLiteral("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 9, '%1')").arg(entry));
        auto d = open(folder);
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        const int width = d->width();
        setRow(*d, 2, {"Region", "", "", "", 0, 1});
        d->TDBGrid1->RefetchRow(2);
        pick(*d, 2, col, listRow);
        QCOMPARE(d->RuleArray->Value(2, col).toString(), entry);
        QApplication::processEvents();
        ui::DataGrid* g = d->TDBGrid1;
        QVERIFY2(static_cast<QAbstractItemView*>(g)->sizeHintForColumn(col) + 16 <= g->columnWidth(col),
                 qPrintable(QString::number(g->columnWidth(col))));
        QCOMPARE(g->horizontalScrollBar()->maximum(), 0);
        QVERIFY(d->width() >= width);
        QVERIFY(ui::ScreenArea(*d).contains(d->frameGeometry()));
        QCOMPARE(d->ProgressBar1->width(), g->width());
        QVERIFY(!testsupport::SaveShot(d.get(), QStringLiteral("rules-chosen-%1").arg(col)).isEmpty());
        sql("DELETE FROM ConfigCombo WHERE FieldIDX = 9");
    }

    void pickingAFieldSetsItsReference_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::newRow("check field keeps CHECKED in any case") << "cHeCkEd" << 4 << "cHeCkEd" << 2 << 0;
        QTest::newRow("hot check keeps UNCHECKED") << "unchecked" << 3 << "unchecked" << 3 << 2;
        QTest::newRow("check field clears other text") << "Paris" << 4 << "" << 2 << 0;
        QTest::newRow("standard field keeps the value") << "Paris" << 5 + 7 << "Paris" << 0 << 8;
        QTest::newRow("the blank entry clears it") << "Paris" << 1 << "" << 0 << 0;
    }
    void pickingAFieldSetsItsReference()
    {
        QFETCH(QString, before);
        QFETCH(int, entry);
        QFETCH(QString, after);
        QFETCH(int, type);
        QFETCH(int, id);
        auto d = open(folder);
        d->show();
        setRow(*d, 1, {"", "Equal To", before, "", 99, 99});
        pick(*d, 1, 0, entry);
        QCOMPARE(d->RuleArray->Value(1, 0).toString(), d->FieldList->Value(entry, 0).toString());
        QCOMPARE(d->RuleArray->Value(1, 2).toString(), after);
        QCOMPARE(d->RuleArray->Value(1, 5).toInt(), type);
        QCOMPARE(d->RuleArray->Value(1, 4).toInt(), id);
    }

    void fieldColumnTakesNoTyping()
    {
        auto d = open(folder);
        d->show();
        d->TDBGrid1->SetBookmark(1);
        d->TDBGrid1->SetCol(0);
        for (int key : {Qt::Key_A, Qt::Key_Return, Qt::Key_Backspace}) QTest::keyClick(d->TDBGrid1, Qt::Key(key));
        QTest::keyClicks(d->TDBGrid1, "city");
        QCOMPARE(d->RuleArray->Value(1, 0).toString(), QString());
        int tab = ui::vbKeyTab, letter = 'a';
        d->TDBGrid1_KeyPress(tab);
        d->TDBGrid1_KeyPress(letter);
        QCOMPARE(tab, int(ui::vbKeyTab));
        QCOMPARE(letter, 0);
        d->TDBGrid1->SetCol(2);
        letter = 'a';
        d->TDBGrid1_KeyPress(letter);
        QCOMPARE(letter, int('a'));
    }

    void insertAndDeleteRows()
    {
        auto d = open(folder);
        setRow(*d, 1, cityParis);
        setRow(*d, 2, {"$LAST", "LIKE", "O*", "", 4, 0});
        setRow(*d, 3, {"$ZIP", "Equal To", "1", "", 11, 0});
        // No current row: the empty row goes to the top.
        d->TDBGrid1->SetBookmark(QVariant());
        d->CommandInsert_Click();
        QCOMPARE(d->RuleArray->UpperBound(1), 51);
        QVERIFY(d->RowIsBlank(1));
        QCOMPARE(d->RuleArray->Value(2, 2).toString(), QStringLiteral("Paris"));
        d->TDBGrid1->SetBookmark(3);
        d->CommandInsert_Click();
        QVERIFY(d->RowIsBlank(3));
        QCOMPARE(d->RuleArray->Value(4, 2).toString(), QStringLiteral("O*"));

        // Delete: nothing selected asks nothing; No keeps the rows; Yes keeps the row count.
        d->TDBGrid1->SelBookmarks().Clear();
        d->CommandDelete_Click();
        QVERIFY(scripted().boxes.isEmpty());
        d->TDBGrid1->SelBookmarks().Add(2);
        d->TDBGrid1->SelBookmarks().Add(5);
        scripted().boxAnswers.enqueue(ui::vbNo);
        d->CommandDelete_Click();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Confirm Deleting Selected Records?"));
        QCOMPARE(d->RuleArray->Value(2, 2).toString(), QStringLiteral("Paris"));
        d->CommandDelete_Click();
        QCOMPARE(d->RuleArray->UpperBound(1), 52);
        QCOMPARE(column(*d->RuleArray, 2).mid(0, 5), (QStringList{"", "", "O*", "", ""}));
        QCOMPARE(d->TDBGrid1->SelBookmarks().Count(), 0);
    }

    void applySavesByPosition()
    {
        auto d = open(folder);
        setRow(*d, 1, {"$CITY", "Equal To", "Paris", "OR", 8, 0});
        setRow(*d, 3, {"$LAST", "LIKE", "  O*  ", "", 4, 0});
        apply(*d);
        QCOMPARE(storedRules(folder), (QStringList{"1|0|8|Equal To|Paris|OR|1", "2|0|4|LIKE|  O*  ||1"}));
        // Reloaded as stored: renumbered, 50 empty rows after them.
        QCOMPARE(d->RuleArray->UpperBound(1), 52);
        QCOMPARE(d->RuleArray->Value(2, 0).toString(), QStringLiteral("$LAST"));
        QCOMPARE(d->RuleArray->Value(2, 6).toInt(), 2);
        QVERIFY(d->RowIsBlank(3));

        // Fewer rules: the surplus stored row goes; an all-blank grid removes them all.
        const int firstRecId = d->RuleArray->Value(1, 7).toInt();
        setRow(*d, 1, {"", "", "", "", 0, 0});
        apply(*d);
        // The reload read the value back without its trailing blanks.
        QCOMPARE(storedRules(folder), (QStringList{"1|0|4|LIKE|  O*||1"}));
        QCOMPARE(d->RuleArray->Value(1, 7).toInt(), firstRecId);
        setRow(*d, 1, {"", "", "", "", 0, 0});
        apply(*d);
        QVERIFY(storedRules(folder).isEmpty());

        // Exit drops edits not applied.
        setRow(*d, 1, cityParis);
        d->Command2_Click();
        QVERIFY(storedRules(folder).isEmpty());
    }

    void buildAddsOnceWithOrWithoutClearing()
    {
        addMember(2, folder); // b@x: not a Paris address
        auto d = open(folder);
        setRow(*d, 1, cityParis);
        for (int round = 0; round < 2; ++round) {
            apply(*d, ui::vbNo);
            QCOMPARE(scripted().boxes.at(0).prompt, QStringLiteral("Do You Wish To Clear The List Before You Build It?"));
            QCOMPARE(scripted().boxes.at(0).style, int(ui::vbYesNo + ui::vbQuestion));
            QCOMPARE(members(folder), (QStringList{"a@x.org", "b@x.org", "c@x.org"}));
        }
        QCOMPARE(d->ProgressBar1->maximum(), 2);
        QCOMPARE(d->ProgressBar1->value(), 2);
        for (int round = 0; round < 2; ++round) {
            apply(*d, ui::vbYes);
            QCOMPARE(members(folder), (QStringList{"a@x.org", "c@x.org"}));
        }
        // The main window shows the folder as built.
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(folder));
        QCOMPARE(f->ex->UpperBound(1), 2);
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));

        // A folder without rules: nothing to add; Yes empties it.
        setRow(*d, 1, {"", "", "", "", 0, 0});
        apply(*d, ui::vbNo);
        QCOMPARE(members(folder).size(), 2);
        apply(*d, ui::vbYes);
        QVERIFY(members(folder).isEmpty());
    }

    void failedBuildWithoutClearingAddsNothing()
    {
        // More addresses than a commit batch ever held, the last of which the database refuses.
        {
            db::Connection::Transaction tx(DBConnection());
            for (int i = 1; i <= 6001; ++i)
                sql(QStringLiteral("INSERT INTO MasterList (Email, City) VALUES ('big%1@y.org', 'Oslo')").arg(i, 5, 10, QLatin1Char('0')));
            tx.Commit();
        }
        sql("CREATE TEMP TRIGGER refuseLast BEFORE INSERT ON ListMembers "
            "WHEN NEW.MasterRecID = (SELECT RecID FROM MasterList WHERE Email = 'big06001@y.org') "
            "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
        addMember(2, folder);
        auto d = open(folder);
        setRow(*d, 1, {"$CITY", "Equal To", "Oslo", "", 8, 0});
        apply(*d, ui::vbNo);
        const QStringList after = members(folder);
        sql("DROP TRIGGER refuseLast");
        sql("DELETE FROM MasterList WHERE City = 'Oslo'");
        QCOMPARE(scripted().boxes.size(), 2);
        QVERIFY(scripted().boxes.at(1).prompt.contains(QStringLiteral("disk full")));
        // The folder is as it was: none of the 6,000 adds before the refusal stayed.
        QCOMPARE(after, QStringList{"b@x.org"});
    }

    void ruleValuesReachTheQueryIntact_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("a quote") << "O'Brien" << "Equal To" << QStringList{"c@x.org"};
        QTest::newRow("a quote in a LIKE pattern") << "O'*" << "LIKE" << QStringList{"c@x.org"};
        QTest::newRow("text that would end the literal") << "x' OR '1'='1" << "Equal To" << QStringList{};
    }
    void ruleValuesReachTheQueryIntact()
    {
        QFETCH(QString, value);
        QFETCH(QString, op);
        QFETCH(QStringList, expected);
        auto d = open(folder);
        setRow(*d, 1, {"$LAST", op, value, "", 4, 0});
        apply(*d, ui::vbYes);
        QCOMPARE(members(folder), expected);
        QCOMPARE(storedRules(folder).value(0).section(QLatin1Char('|'), 4, 4), value);
    }

    void checkFieldRule()
    {
        auto d = open(folder);
        setRow(*d, 1, {"VIP", "Equal To", "checked", "", 0, 2});
        apply(*d, ui::vbYes);
        QCOMPARE(members(folder), (QStringList{"d@x.org"}));
    }

    void refusedRulesAreKeptAndTouchNothing_data()
    {
        QTest::addColumn<QString>("conj");
        QTest::addColumn<QString>("op");
        QTest::newRow("unbalanced parenthesis") << "AND (" << "Equal To";
        QTest::newRow("no condition") << "" << "";
    }
    void refusedRulesAreKeptAndTouchNothing()
    {
        QFETCH(QString, conj);
        QFETCH(QString, op);
        addMember(2, folder);
        auto d = open(folder);
        setRow(*d, 1, {"$CITY", op, "Paris", conj, 8, 0});
        setRow(*d, 3, {"$CITY", "Equal To", "Rome", "", 8, 0});
        scripted().boxes.clear();
        d->Command1_Click();
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.at(0).prompt,
                 QStringLiteral("Error In Parameters.  Ensure that all parenthesis are correct.  Note that your data has been saved."));
        QCOMPARE(scripted().boxes.at(0).style, int(ui::vbCritical));
        QCOMPARE(storedRules(folder).size(), 2);
        QCOMPARE(members(folder), (QStringList{"b@x.org"}));
        // The grid keeps the rows as typed.
        QVERIFY(d->RowIsBlank(2));
        QCOMPARE(d->RuleArray->Value(3, 2).toString(), QStringLiteral("Rome"));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }

    // Rules that could not be read are not there to save: Apply must not write the empty grid.
    void unreadableRulesCannotBeApplied()
    {
        addMember(2, folder);
        sql(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, "
                           "Conjunction) VALUES (1, %1, 1, 0, 8, 'Equal To', 'Paris', '')")
                .arg(folder));
        const QStringList before = storedRules(folder);
        sql("ALTER TABLE MailFolderProperties RENAME TO MailFolderPropertiesAway");
        auto d = open(folder);
        sql("ALTER TABLE MailFolderPropertiesAway RENAME TO MailFolderProperties");
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("The folder's rules could not be read: ")));
        QCOMPARE(scripted().boxes.at(0).style, int(ui::vbCritical));
        QVERIFY(!d->Command1->isEnabled());

        apply(*d, ui::vbYes);
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(storedRules(folder), before);
        QCOMPARE(members(folder), (QStringList{"b@x.org"}));
        QVERIFY(scripted().mousePointer() != int(ui::vbHourglass));
    }

    void refreshBuildsFromTheStoredRules()
    {
        addMember(2, folder);
        sql(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, "
                           "Conjunction) VALUES (1, %1, 1, 0, 8, 'Equal To', 'Paris', '')")
                .arg(folder));
        selectNode(f, ListFolderKey(folder));
        for (int round = 0; round < 2; ++round) {
            scripted().boxAnswers.enqueue(ui::vbNo);
            f->mnuFolderPopRefresh->trigger();
            QCOMPARE(scripted().lastPrompt(), QStringLiteral("Do You Wish To Clear The List Before Refreshing?"));
            QCOMPARE(members(folder), (QStringList{"a@x.org", "b@x.org", "c@x.org"}));
        }
        scripted().boxAnswers.enqueue(ui::vbYes);
        f->mnuFolderPopRefresh->trigger();
        QCOMPARE(members(folder), (QStringList{"a@x.org", "c@x.org"}));
        QCOMPARE(f->ex->UpperBound(1), 2);
        QVERIFY(!f->Busy());
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));

        // Rules the database refuses: the clear answered Yes is not carried out.
        sql("UPDATE MailFolderProperties SET Conjunction = ') OR'");
        scripted().boxes.clear();
        scripted().boxAnswers.enqueue(ui::vbYes);
        f->mnuFolderPopRefresh->trigger();
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(scripted().boxes.at(1).style, int(ui::vbOKOnly));
        QVERIFY(scripted().boxes.at(1).prompt.contains(QStringLiteral("(SysCode: ")));
        QCOMPARE(members(folder), (QStringList{"a@x.org", "c@x.org"}));
    }

    void propertiesCommandOpensTheFolder()
    {
        selectNode(f, ListFolderKey(folder));
        QString title;
        scripted().dialogHandlers.insert(QStringLiteral("Form13"), [&](QDialog* dlg) {
            title = dlg->windowTitle();
            return int(QDialog::Rejected);
        });
        f->mnuFolderPopProperties->trigger();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form13"});
        QCOMPARE(title, QStringLiteral("Properties: Clients"));
    }
};

FERROWYN_TEST_MAIN(TestFolderRules)
#include "tst_FolderRules.moc"

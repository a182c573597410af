#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "core/FieldVocabulary.h"
#include "lists/Form12.h"
#include "lists/Form5.h"
#include "platform/ui/WindowPlacement.h"
#include "tests/lists/ListsTestUtil.h"

using namespace liststest;

namespace {

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// A field's stored list as "idx:value", in FieldIDX order.
QStringList stored(int field)
{
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT FieldIDX, FieldValue FROM ConfigCombo WHERE FieldID = %1 ORDER BY FieldIDX").arg(field),
            DBConnection());
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) out << rs.Fields(0).toString() + QLatin1Char(':') + rs.Fields(1).toString();
    return out;
}

// Everything the configuration keeps, to tell whether anything changed.
QStringList dump()
{
    QStringList out;
    for (const char* q : {"SELECT * FROM Config", "SELECT FieldID, FieldIDX, FieldValue FROM ConfigCombo ORDER BY RecID"}) {
        db::Recordset rs;
        rs.Open(QString::fromLatin1(q), DBConnection());
        for (; !rs.Eof(); rs.MoveNext()) {
            QStringList row;
            for (int c = 0; c < rs.FieldCount(); ++c) row << rs.Fields(c).toString();
            out << row.join(QLatin1Char('|'));
        }
    }
    return out;
}

QList<int> types()
{
    QList<int> out;
    for (const QVariant& v : ComboFieldType) out << v.toInt();
    return out;
}

// The value list dialog, when opened, types these rows (the rest blank), picks the type and
// applies or cancels.
void scriptValueList(const QStringList& rows, int type, bool apply = true)
{
    scripted().dialogHandlers[QStringLiteral("Form12")] = [=](QDialog* d) {
        auto* g = static_cast<Form12*>(d);
        if (g->ValueArray->UpperBound(1) < rows.size()) g->ValueArray->ReDimPreserve(1, rows.size(), 0, 0);
        for (int r = 1; r <= g->ValueArray->UpperBound(1); ++r) g->ValueArray->SetValue(r, 0, rows.value(r - 1));
        QRadioButton* options[] = {g->Option1, g->Option2, g->Option3};
        options[type]->setChecked(true);
        apply ? g->Command1_Click() : g->Command2_Click();
        return g->result();
    };
}

void seedConfig()
{
    sql("INSERT INTO Config (combo0, combofieldtype0, combo5, combofieldtype5, chk0, chkHot0) VALUES ('Region', 0, 'Size', 1, 'VIP', 'Hot')");
    sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 1, 'west')");
    sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, 2, 'east')");
    sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (5, 1, '10')");
    LoadComboFieldTypes();
}

} // namespace

class TestCustomFields : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("en_US"))); }
    void init() { QVERIFY(start()); }
    void cleanupTestCase()
    {
        end();
        QLocale::setDefault(QLocale::c());
    }

    // Without a Config row Apply inserts it; with one it updates it. Lists are stored at
    // positions 1 to n in list order, positions beyond n removed; types as chosen.
    void freshThenExistingRoundTrip()
    {
        {
            Form5 d;
            QCOMPARE(d.windowTitle(), QStringLiteral("Custom Field Configuration"));
            QCOMPARE(d.Command1->text(), QStringLiteral("&Apply"));
            QCOMPARE(d.Command2->text(), QStringLiteral("&Cancel"));
            for (int i = 0; i < 15; ++i) {
                QVERIFY(d.txtCombo[i]->text().isEmpty() && d.txtchk[i]->text().isEmpty() && d.Combo1[i]->count() == 0);
                QVERIFY(!d.chk[i]->isEnabled() && d.chk[i]->focusPolicy() == Qt::NoFocus);
                QVERIFY(!(d.Combo1[i]->focusPolicy() & Qt::TabFocus));
                QCOMPARE(d.txtCombo[i]->MaxLength(), 7);
                QCOMPARE(d.txtchk[i]->MaxLength(), 10);
            }
            for (int i = 0; i < 6; ++i) QVERIFY(!d.chkHotBox[i]->isEnabled() && d.txtHotBox[i]->MaxLength() == 10);

            d.txtCombo[0]->setText(QStringLiteral("Region"));
            d.txtCombo[3]->setText(QStringLiteral("Joined"));
            d.txtchk[14]->setText(QStringLiteral("Member's"));
            d.txtHotBox[5]->setText(QStringLiteral(" VIP "));
            scriptValueList({"west", "", "East ", "   ", "north"}, 0);
            d.Combo1Command_Click(0);
            QCOMPARE(items(d.Combo1[0]), (QStringList{"west", "East ", "north"}));
            // Date/Time values are kept as ISO text, whatever form they were typed in.
            scriptValueList({"8/2/2001", "someday", "8/3/01 9:03 PM"}, 2);
            d.Combo1Command_Click(3);
            QCOMPARE(items(d.Combo1[3]), (QStringList{"2001-08-02", "someday", "2001-08-03 21:03:00"}));
            // A field without a caption keeps the type chosen for it.
            scriptValueList({}, 1);
            d.Combo1Command_Click(7);
            d.Command1_Click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(count("SELECT COUNT(*) FROM Config"), 1);
        QCOMPARE(scalar("SELECT combo0 || '|' || combo3 || '|' || chk14 || '|' || chkHot5 || '|' || combo1 FROM Config").toString(),
                 QStringLiteral("Region|Joined|Member's| VIP |"));
        QCOMPARE(stored(0), (QStringList{"1:west", "2:East ", "3:north"}));
        QCOMPARE(stored(3), (QStringList{"1:2001-08-02", "2:someday", "3:2001-08-03 21:03:00"}));
        QCOMPARE(types(), (QList<int>{0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));

        {
            Form5 d;
            QCOMPARE(d.txtCombo[0]->text(), QStringLiteral("Region"));
            QCOMPARE(d.txtHotBox[5]->text(), QStringLiteral(" VIP"));  // read back with trailing blanks cut
            QCOMPARE(items(d.Combo1[0]), (QStringList{"west", "East", "north"}));
            QCOMPARE(d.ComboTypes[3], 2);
            d.txtCombo[0]->setText(QStringLiteral("Area"));
            scriptValueList({"north", "west"}, 0);
            d.Combo1Command_Click(0);
            scriptValueList({}, 2);
            d.Combo1Command_Click(3);
            d.Command1_Click();
        }
        QCOMPARE(count("SELECT COUNT(*) FROM Config"), 1);
        QCOMPARE(scalar("SELECT combo0 FROM Config").toString(), QStringLiteral("Area"));
        QCOMPARE(stored(0), (QStringList{"1:north", "2:west"}));
        QCOMPARE(stored(3), QStringList());
    }

    // Captions are limited for typing; a longer stored caption is shown and saved whole.
    void captionLimitsHoldForTypingOnly()
    {
        const QString longCaption(100, QLatin1Char('c'));
        sql(QStringLiteral("INSERT INTO Config (chk0) VALUES ('%1')").arg(longCaption));
        Form5 d;
        d.show();
        QCOMPARE(d.txtchk[0]->text(), longCaption);
        QTest::keyClicks(d.txtCombo[1], QStringLiteral("Abcdefghij"));
        QTest::keyClicks(d.txtHotBox[2], QStringLiteral("0123456789ABC"));
        QCOMPARE(d.txtCombo[1]->text(), QStringLiteral("Abcdefg"));
        QCOMPARE(d.txtHotBox[2]->text(), QStringLiteral("0123456789"));
        d.Command1_Click();
        QCOMPARE(scalar("SELECT chk0 FROM Config").toString(), longCaption);
        QCOMPARE(scalar("SELECT combo1 FROM Config").toString(), QStringLiteral("Abcdefg"));
    }

    // The value list dialog fills from the working list and writes back into it; Cancel
    // leaves list and type as they were.
    void valueListDialog()
    {
        Form5 d;
        const QString longValue(100, QLatin1Char('v'));
        d.txtCombo[2]->setText(QStringLiteral("Size"));
        d.Combo1[2]->addItems({"a", " b ", longValue});

        {
            Form12 g(&d);
            g.SetFieldID(2);
            g.SetFieldType(7);
            QCOMPARE(g.windowTitle(), QStringLiteral("Field: Size"));
            QVERIFY(g.Option1->isChecked());
            QCOMPARE(g.Label1->text(), QStringLiteral("Specify Field Type:"));
            QCOMPARE(g.TDBGrid1->Columns(0).Caption(), QStringLiteral("List Values"));
            QCOMPARE(g.ValueArray->UpperBound(1), 3 + 25);
            QCOMPARE(g.ValueArray->Value(2, 0).toString(), QStringLiteral(" b "));

            // The long value goes through the cell editor whole; typing adds nothing to it.
            g.show();
            QVERIFY(QTest::qWaitForWindowExposed(&g));
            g.TDBGrid1->setFocus();
            g.TDBGrid1->SetBookmark(3);
            g.TDBGrid1->SetCol(0);
            QTest::keyClick(g.TDBGrid1, Qt::Key_F2);
            auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            QVERIFY(editor);
            QCOMPARE(editor->text(), longValue);
            editor->end(false);
            QTest::keyClick(editor, Qt::Key_X);

            g.ValueArray->SetValue(1, 0, QString());
            g.ValueArray->SetValue(7, 0, QStringLiteral("  "));
            g.ValueArray->SetValue(9, 0, QStringLiteral("c"));
            g.Command1_Click();
            QCOMPARE(g.FieldType(), 0);
        }
        QCOMPARE(items(d.Combo1[2]), (QStringList{" b ", longValue, "c"}));

        {
            Form12 g(&d);
            g.SetFieldID(2);
            g.SetFieldType(2);
            g.ValueArray->SetValue(1, 0, QStringLiteral("changed"));
            g.Option2->setChecked(true);
            g.Command2_Click();
            QCOMPARE(g.FieldType(), 2);
        }
        QCOMPARE(items(d.Combo1[2]), (QStringList{" b ", longValue, "c"}));

        Form12 empty(&d);
        empty.SetFieldID(9);
        QCOMPARE(empty.ValueArray->UpperBound(1), 25);

        d.Command1_Click();
        QCOMPARE(stored(2), (QStringList{"1: b ", "2:" + longValue, "3:c"}));
    }

    // Values as long as a list holds show whole: the window widens for them within the screen,
    // at once and when one is typed.
    void valueListShowsValuesWhole()
    {
        Form5 d;
        d.Combo1[1]->addItems({"a", QString(45, QLatin1Char('M'))});
        Form12 g(&d);
        g.SetFieldID(1);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        ui::DataGrid* grid = g.TDBGrid1;
        const auto shownWhole = [grid] {
            return static_cast<QAbstractItemView*>(grid)->sizeHintForColumn(0) <= grid->columnWidth(0)
                   && grid->horizontalScrollBar()->maximum() == 0;
        };
        QVERIFY(shownWhole());
        QVERIFY(ui::ScreenArea(g).contains(g.frameGeometry()));
        QCOMPARE(g.Command2->geometry().right(), g.width() - 13);

        grid->setFocus();
        grid->SetBookmark(1);
        grid->SetCol(0);
        QTest::keyClick(grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText(QString(45, QLatin1Char('W')));
        grid->Update();
        QCOMPARE(g.ValueArray->Value(1, 0).toString(), QString(45, QLatin1Char('W')));
        QApplication::processEvents();
        QVERIFY(shownWhole());
        QVERIFY(ui::ScreenArea(g).contains(g.frameGeometry()));
    }

    // Cancel drops every edit: the program's types and the database stay as they were.
    void cancelKeepsTypesAndDatabase()
    {
        seedConfig();
        const QStringList before = dump();
        const QList<int> typesBefore = types();
        Form5 d;
        d.txtCombo[0]->setText(QStringLiteral("Changed"));
        scriptValueList({"x"}, 2);
        d.Combo1Command_Click(0);
        QCOMPARE(d.ComboTypes[0], 2);
        d.Command2_Click();
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(types(), typesBefore);
        QCOMPARE(dump(), before);
    }

    // A refused statement rolls the whole configuration back, says why and keeps the dialog
    // with its edits, so Apply can be tried again.
    void refusedStatementRollsEverythingBack()
    {
        seedConfig();
        sql("CREATE TRIGGER refuse BEFORE INSERT ON ConfigCombo WHEN NEW.FieldID = 5 AND NEW.FieldIDX = 2 "
            "BEGIN SELECT RAISE(ABORT, 'no second size'); END");
        const QStringList before = dump();
        const QList<int> typesBefore = types();
        Form5 d;
        d.txtCombo[0]->setText(QStringLiteral("Area"));
        scriptValueList({"north"}, 0);
        d.Combo1Command_Click(0);
        scriptValueList({"10", "20"}, 2);
        d.Combo1Command_Click(5);
        d.Command1_Click();
        QCOMPARE(d.result(), 0);
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.at(0).style, int(ui::vbCritical));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("no second size")));
        QCOMPARE(dump(), before);
        QCOMPARE(types(), typesBefore);

        sql("DROP TRIGGER refuse");
        d.Command1_Click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(scalar("SELECT combo0 FROM Config").toString(), QStringLiteral("Area"));
        QCOMPARE(stored(0), QStringList{"1:north"});
        QCOMPARE(stored(5), (QStringList{"1:10", "2:20"}));
        QCOMPARE(ComboFieldType.at(5).toInt(), 2);
    }

    // A configuration that cannot be read is not overwritten with blanks.
    void unreadableConfigurationCannotBeApplied()
    {
        seedConfig();
        sql("DROP TABLE ConfigCombo");
        Form5 d;
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.at(0).style, int(ui::vbCritical));
        QVERIFY(!d.Command1->isEnabled());
    }

    void setupCommandOpensTheDialog()
    {
        Form1* f = Form1::Instance();
        scripted().dialogHandlers[QStringLiteral("Form5")] = [](QDialog* dlg) {
            auto* d = static_cast<Form5*>(dlg);
            d->txtchk[1]->setText(QStringLiteral("Paid"));
            d->Command1_Click();
            return d->result();
        };
        f->mnuSetupCustomFields->trigger();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form5"});
        QCOMPARE(scripted().pointerHistory.value(0), int(ui::vbHourglass));
        QCOMPARE(scalar("SELECT chk1 FROM Config").toString(), QStringLiteral("Paid"));
    }
};

FERROWYN_TEST_MAIN(TestCustomFields)
#include "tst_CustomFields.moc"

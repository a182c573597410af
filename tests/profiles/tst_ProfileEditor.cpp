#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

#include "core/FieldVocabulary.h"
#include "profiles/Form10.h"
#include "profiles/Form8.h"
#include "profiles/Form9.h"
#include "platform/ui/WindowPlacement.h"
#include "tests/profiles/ProfilesTestUtil.h"

using namespace profiletest;

namespace {

QStringList listTexts(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

void selectText(QListWidget* list, const QString& text)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text) list->setCurrentRow(i);
}

// The stored presets of a profile as "Sequence:type/id=value", in Sequence order.
QStringList presets(qint64 profile)
{
    db::Statement st = DBConnection().Prepare(
        "SELECT Sequence, FieldType, FieldID, FieldValue FROM ProfileDetails WHERE ProfileRecID = ? ORDER BY Sequence");
    st.Bind(0, profile);
    st.Exec();
    QStringList out;
    while (st.Next())
        out << QStringLiteral("%1:%2/%3=%4").arg(st.Value(0).toInt()).arg(st.Value(1).toInt()).arg(st.Value(2).toInt()).arg(st.Value(3).toString());
    return out;
}

void setRow(Form9& d, int row, const QString& name, int id, int type, const QString& v)
{
    d.DetailRows->SetValue(row, 0, name);
    d.DetailRows->SetValue(row, 1, v);
    d.DetailRows->SetValue(row, 2, id);
    d.DetailRows->SetValue(row, 3, type);
}

int comboIndex(QComboBox* box, const QString& text)
{
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).trimmed() == text) return i;
    return -1;
}

} // namespace

class TestProfileEditor : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    qint64 customers = 0;

private Q_SLOTS:
    void init()
    {
        f = start([](const QString& home) { maildir(home + "/Mail/Archive"); });
        QVERIFY(f);
        customers = FolderRecIDFromKey(addListFolder(f, "Customers"));
    }
    void cleanupTestCase() { end(); }

    void newProfileBesideAStaleMarkerRow()
    {
        // A row left with the insert marker must not be taken for the new profile.
        sql("INSERT INTO Profiles (Description, Status, TargetDravonelFolderID) VALUES ('Other', 0, 7)");
        const qint64 other = value("SELECT RecID FROM Profiles").toLongLong();

        Form9 d;
        d.LoadProfile();
        QCOMPARE(d.windowTitle(), QString("Profile"));
        QCOMPARE(d.DetailRows->UpperBound(1), 37);
        d.Text1->setText("Welcome");
        d.Combo1->setCurrentIndex(comboIndex(d.Combo1, "Archive"));
        d.Combo2->setCurrentIndex(comboIndex(d.Combo2, "Customers"));
        QVERIFY(d.Combo1->currentIndex() > 0 && d.Combo2->currentIndex() > 0);
        // Blank rows between presets are passed over; a value without a field is kept.
        setRow(d, 1, "$LAST", 4, 0, "Lee");
        setRow(d, 4, "", 0, 0, "orphan value");
        setRow(d, 9, "$DISABLED", 1, 0, "CHECKED");
        QVERIFY(d.SaveProfile());
        const qint64 id = d.CurrentProfileRecID();
        QVERIFY(id > 0 && id != other);

        QCOMPARE(value("SELECT Description || '|' || Status || '|' || TargetDravonelFolderID FROM Profiles WHERE RecID = " +
                       QString::number(other)).toString(),
                 QString("Other|0|7"));
        QCOMPARE(value("SELECT Status FROM Profiles WHERE RecID = " + QString::number(id)).toInt(), 1);
        QCOMPARE(value("SELECT TargetDravonelFolderID FROM Profiles WHERE RecID = " + QString::number(id)).toLongLong(), customers);
        const QString archive = keyOf(f, "Archive");
        QCOMPARE(value("SELECT TargetEmailFolderEntryID FROM Profiles WHERE RecID = " + QString::number(id)).toString(), archive);
        QCOMPARE(presets(id), (QStringList{"1:0/4=Lee", "2:0/0=orphan value", "3:0/1=CHECKED"}));
        QVERIFY(scripted().boxes.isEmpty());
    }

    void saveReloadAndEdit()
    {
        const qint64 id = addProfile("Edit me", {{0, 4, "Lee"}, {2, 3, "CHECKED"}, {0, 8, "Rome"}}, customers);
        Form9 d;
        d.LoadProfile(id);
        QCOMPARE(d.Text1->text(), QString("Edit me"));
        QCOMPARE(d.Combo2->currentText().trimmed(), QString("Customers"));
        QCOMPARE(d.Combo1->currentIndex(), 0);
        QCOMPARE(d.DetailRows->Value(1, 0).toString(), QString("$LAST"));
        // A check field without a caption loads with a blank name and keeps its reference.
        QCOMPARE(d.DetailRows->Value(2, 0).toString(), QString());
        QCOMPARE(d.DetailRows->Value(2, 2).toInt(), 3);
        QCOMPARE(d.DetailRows->Value(2, 3).toInt(), 2);
        QCOMPARE(d.DetailRows->Value(3, 1).toString(), QString("Rome"));

        // The first row cleared: the others move up one place and the last place goes.
        setRow(d, 1, "", 0, 0, "");
        d.Text1->setText("Edited");
        QVERIFY(d.SaveProfile());
        QCOMPARE(d.CurrentProfileRecID(), id);
        QCOMPARE(presets(id), (QStringList{"1:2/3=CHECKED", "2:0/8=Rome"}));
        QCOMPARE(value("SELECT COUNT(*) FROM Profiles").toInt(), 1);
        QCOMPARE(value("SELECT Description FROM Profiles").toString(), QString("Edited"));

        // Grid rows selected by their row selectors and deleted: exactly those go, 37 rows stay.
        Form9 e;
        e.LoadProfile(id);
        setRow(e, 3, "$CITY", 8, 0, "Oslo");
        setRow(e, 5, "$ZIP", 11, 0, "999");
        e.show();
        QHeaderView* selectors = e.TDBGrid1->verticalHeader();
        QVERIFY(selectors->isVisible());
        QTest::mouseClick(selectors->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(selectors->width() / 2, selectors->sectionViewportPosition(1) + selectors->sectionSize(1) / 2));
        QTest::mouseClick(selectors->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          QPoint(selectors->width() / 2, selectors->sectionViewportPosition(4) + selectors->sectionSize(4) / 2));
        QCOMPARE(selection(e.TDBGrid1), (QList<int>{2, 5}));
        scripted().boxAnswers.enqueue(ui::vbNo);
        e.Command3_Click();
        QCOMPARE(e.DetailRows->Value(2, 1).toString(), QString("Rome"));
        e.Command3_Click();
        QCOMPARE(scripted().boxes.last().prompt, QString("Confirm Deleting Selected Records?"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbYesNo + ui::vbQuestion));
        QCOMPARE(e.DetailRows->UpperBound(1), 37);
        QCOMPARE(e.DetailRows->Value(2, 1).toString(), QString("Oslo"));
        QVERIFY(e.TDBGrid1->SelBookmarks().Count() == 0);
        // Nothing is written until Apply.
        QCOMPARE(presets(id), (QStringList{"1:2/3=CHECKED", "2:0/8=Rome"}));
        e.Command1_Click();
        QCOMPARE(presets(id), (QStringList{"1:2/3=CHECKED", "2:0/8=Oslo"}));
        QCOMPARE(e.result(), int(QDialog::Accepted));
    }

    void refusedSaveChangesNothing()
    {
        sql("CREATE TRIGGER refuse BEFORE INSERT ON ProfileDetails BEGIN SELECT RAISE(ABORT, 'presets refused'); END");
        Form9 d;
        d.LoadProfile();
        d.Text1->setText("Never");
        setRow(d, 1, "$CITY", 8, 0, "Rome");
        d.Command1_Click();
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(d.CurrentProfileRecID(), qint64(0));
        QCOMPARE(value("SELECT COUNT(*) FROM Profiles").toInt(), 0);
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith("Error Saving Profile.  "));
        QVERIFY(scripted().lastPrompt().contains("presets refused"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));

        // An existing profile keeps its name when its new preset is refused.
        const qint64 id = addProfile("Kept", {});
        Form9 e;
        e.LoadProfile(id);
        e.Text1->setText("Renamed");
        setRow(e, 1, "$CITY", 8, 0, "Rome");
        QVERIFY(!e.SaveProfile());
        QCOMPARE(value("SELECT Description FROM Profiles WHERE RecID = " + QString::number(id)).toString(), QString("Kept"));

        sql("DROP TRIGGER refuse");
        QVERIFY(d.SaveProfile());
        QCOMPARE(presets(d.CurrentProfileRecID()), QStringList{"1:0/8=Rome"});

        // A blank name is refused before anything is read or written.
        scripted().clear();
        Form9 blank;
        blank.LoadProfile();
        blank.Text1->setText("   ");
        QVERIFY(!blank.SaveProfile());
        QCOMPARE(scripted().lastPrompt(), QString("Error Saving Profile.  No Profile Name Specified."));
    }

    // A profile that could not be read is not there to save: Apply and Delete must not write over it.
    void unreadableProfileIsNotWrittenOver_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("its presets") << "ProfileDetails";
        QTest::newRow("its row") << "Profiles";
        // Without the captions a preset that clears a custom field would look blank and be dropped.
        QTest::newRow("the custom-field captions") << "Config";
    }
    void unreadableProfileIsNotWrittenOver()
    {
        QFETCH(QString, table);
        sql("INSERT INTO Config (combo2) VALUES ('Since')");
        const qint64 id = addProfile("Kept", {{0, 4, "Lee"}, {1, 2, ""}, {0, 8, "Rome"}}, customers);
        Form8 list;
        list.List1->setCurrentRow(0);
        sql(QStringLiteral("ALTER TABLE %1 RENAME TO %1Away").arg(table));
        bool applyEnabled = true, deleteEnabled = true;
        int result = -1;
        scripted().dialogHandlers["Form9"] = [&](QDialog* dlg) {
            auto* e = static_cast<Form9*>(dlg);
            sql(QStringLiteral("ALTER TABLE %1Away RENAME TO %1").arg(table));
            applyEnabled = e->Command1->isEnabled();
            deleteEnabled = e->Command3->isEnabled();
            e->Text1->setText("Renamed");
            e->Command1_Click();
            e->Command3_Click();
            result = e->result();
            return result;
        };
        list.Command1_Click();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form9"});
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith("The profile could not be read.\n"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QVERIFY(!applyEnabled);
        QVERIFY(!deleteEnabled);
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(value("SELECT Description FROM Profiles").toString(), QString("Kept"));
        QCOMPARE(value("SELECT COUNT(*) FROM Profiles").toInt(), 1);
        QCOMPARE(presets(id), (QStringList{"1:0/4=Lee", "2:1/2=", "3:0/8=Rome"}));
    }

    void profileListAddModifyDelete()
    {
        addProfile("beta", {{0, 8, "Rome"}});
        addProfile("Alpha", {});
        addProfile("beta", {});
        Form8 d;
        QCOMPARE(d.windowTitle(), QString("Add/Modify Profile"));
        QCOMPARE(listTexts(d.List1), (QStringList{"Alpha", "beta", "beta"}));
        QVERIFY(d.List1->selectedItems().isEmpty());

        // Modify with nothing selected does nothing.
        d.Command1_Click();
        QVERIFY(scripted().dialogsShown.isEmpty());

        // Add New: the editor for a blank profile; its Apply refills this list.
        scripted().dialogHandlers["Form9"] = [](QDialog* dlg) {
            auto* e = static_cast<Form9*>(dlg);
            if (e->Mode != 0 || e->CurrentProfileRecID() != 0 || !e->Text1->text().isEmpty()) return int(QDialog::Rejected);
            e->Text1->setText("Gamma");
            e->Command1_Click();
            return e->result();
        };
        d.CommandAddNew_Click();
        QCOMPARE(listTexts(d.List1), (QStringList{"Alpha", "beta", "beta", "Gamma"}));

        // Two profiles of one name each open their own row; the first one is deleted whole.
        d.List1->setCurrentRow(1);
        const qint64 first = SelectedProfile(*d.List1);
        qint64 opened = 0;
        scripted().dialogHandlers["Form9"] = [&](QDialog* dlg) {
            auto* e = static_cast<Form9*>(dlg);
            opened = e->CurrentProfileRecID();
            e->Command3_Click();
            return e->result();
        };
        d.List1_DblClick();
        QCOMPARE(opened, first);
        QCOMPARE(scripted().lastPrompt(), QString("Confirm Deleting Current Profile?"));
        QCOMPARE(listTexts(d.List1), (QStringList{"Alpha", "beta", "Gamma"}));
        QCOMPARE(value("SELECT COUNT(*) FROM Profiles WHERE RecID = " + QString::number(first)).toInt(), 0);
        QCOMPARE(value("SELECT COUNT(*) FROM ProfileDetails").toInt(), 0);

        // A profile never saved cannot be deleted.
        Form9 e;
        e.LoadProfile();
        e.Command3_Click();
        QCOMPARE(scripted().lastPrompt(), QString("Cannot Delete Profile.  It Has Not Yet Been Saved."));
    }

    void fieldListWithAndWithoutConfig()
    {
        {
            Form9 d;
            QCOMPARE(d.FieldList->UpperBound(1), 19);  // the blank entry, 17 standard fields, the empty end row
            QCOMPARE(d.FieldList->Value(2, 0).toString(), QString("$DISABLED"));
            QCOMPARE(d.FieldList->Value(13, 0).toString(), QString("WEBSITE"));
            QCOMPARE(d.GetFieldName(13, 0), QString("$EMAIL"));
            QCOMPARE(d.GetFieldName(3, 2), QString());
        }
        sql("INSERT INTO Config (combo2, chk3, chkHot1, combo5) VALUES ('Since', 'VIP', 'Hot', '  ')");
        Form9 d;
        QCOMPARE(d.FieldList->UpperBound(1), 22);
        QStringList names;
        for (int r = 1; r <= 5; ++r) names << d.FieldList->Value(r, 0).toString();
        QCOMPARE(names, (QStringList{"", "Since", "VIP", "Hot", "$DISABLED"}));
        QCOMPARE(d.GetFieldName(2, 1), QString("Since"));
        QCOMPARE(d.GetFieldName(3, 2), QString("VIP"));
        QCOMPARE(d.GetFieldName(1, 3), QString("Hot"));

        // Picking a field fills its reference and keeps the value; the blank entry clears it.
        d.LoadProfile();
        d.TDBGrid1->SetBookmark(1);
        d.DetailRows->SetValue(1, 1, "kept");
        d.TDBDropDown1_ItemPicked(3);
        QCOMPARE(d.DetailRows->Value(1, 2).toInt(), 3);
        QCOMPARE(d.DetailRows->Value(1, 3).toInt(), 2);
        QCOMPARE(d.DetailRows->Value(1, 1).toString(), QString("kept"));
        d.TDBDropDown1_ItemPicked(1);
        QCOMPARE(d.DetailRows->Value(1, 1).toString(), QString());
        QCOMPARE(d.DetailRows->Value(1, 3).toInt(), 0);
    }

    void valueDropDown_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("values");
        const QStringList check{"CHECKED", "UNCHECKED"};
        QTest::newRow("Disabled") << 0 << 1 << check;
        QTest::newRow("standard") << 0 << 8 << QStringList();
        QTest::newRow("check") << 2 << 4 << check;
        QTest::newRow("hot check") << 3 << 0 << check;
        QTest::newRow("combo") << 1 << 2 << QStringList{"apple", "Mango", "pear"};
        QTest::newRow("empty combo") << 1 << 3 << QStringList();
    }
    void valueDropDown()
    {
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(QStringList, values);
        sql("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (2, 1, 'pear'), (2, 2, 'apple'), (2, 3, 'Mango'), "
            "(4, 1, 'other')");
        Form9 d;
        d.LoadProfile();
        setRow(d, 2, "x", id, type, QString());
        d.TDBGrid1->SetBookmark(2);
        d.TDBGrid1_ButtonClick(1);
        QStringList got;
        for (int r = d.ValueList->LowerBound(1); r <= d.ValueList->UpperBound(1); ++r) got << d.ValueList->Value(r, 0).toString();
        QCOMPARE(got, values);
    }

    // A stored value and a value picked from a long list show whole, beside the list's button;
    // the window widens within the screen rather than the grid scroll sideways.
    void valuesShowWhole()
    {
        const QString picked = QStringLiteral("Mountains, moorland and the Western Highlands");
        sql("INSERT INTO Config (combo2) VALUES ('Region')");
        sql(QStringLiteral("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (2, 1, '%1')").arg(picked));
        const qint64 id = addProfile("Regions", {{1, 2, QStringLiteral("West Coast and Islands")}});
        Form9 d;
        d.LoadProfile(id);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        ui::DataGrid* g = d.TDBGrid1;
        const auto shownWhole = [g] { return static_cast<QAbstractItemView*>(g)->sizeHintForColumn(1) + 16 <= g->columnWidth(1); };
        QVERIFY(shownWhole());
        setRow(d, 2, "Region", 2, 1, QString());
        g->SetBookmark(2);
        g->SetCol(1);
        QTest::keyClick(g, Qt::Key_F4);
        QVERIFY(d.TDBDropDown2->IsOpen());
        d.TDBDropDown2->List().SetBookmark(1);
        QTest::keyClick(&d.TDBDropDown2->List(), Qt::Key_Return);
        QCOMPARE(d.DetailRows->Value(2, 1).toString(), picked);
        QApplication::processEvents();
        QVERIFY(shownWhole());
        QCOMPARE(g->horizontalScrollBar()->maximum(), 0);
        QVERIFY(ui::ScreenArea(d).contains(d.frameGeometry()));
    }

    void fieldCellTakesNoTypingAndValueKeepsLongText()
    {
        const QString longValue = QString(40, QLatin1Char('v'));
        const qint64 id = addProfile("Long", {{1, 0, longValue}});
        Form9 d;
        d.LoadProfile(id);
        d.show();
        d.TDBGrid1->setFocus();
        d.TDBGrid1->SetBookmark(2);
        d.TDBGrid1->SetCol(0);
        QTest::keyClicks(d.TDBGrid1, "abc");
        d.TDBGrid1->Update();
        QCOMPARE(d.DetailRows->Value(2, 0).toString(), QString());
        d.TDBGrid1->SetCol(1);
        QTest::keyClick(d.TDBGrid1, 't');
        auto* editor = d.TDBGrid1->findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClicks(editor, QString(29, QLatin1Char('t')));
        // Typing stops at 25 characters; the longer stored value is saved whole.
        QVERIFY(d.SaveProfile());
        QCOMPARE(d.DetailRows->Value(2, 1).toString(), QString(25, QLatin1Char('t')));
        QCOMPARE(presets(id), (QStringList{"1:1/0=" + longValue, "2:0/0=" + QString(25, QLatin1Char('t'))}));
    }

    void chooserNewProfileAndInvalidSelection()
    {
        Form10 d;
        QCOMPARE(d.windowTitle(), QString("Profile Select"));
        QVERIFY(d.Command3->text().isEmpty());
        QCOMPARE(d.List1->count(), 0);
        d.Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QString("Cannot Process Profile.  Invalid Selection."));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        d.List1_DblClick();
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(d.result(), int(QDialog::Rejected));

        addProfile("Zulu", {});
        scripted().dialogHandlers["Form9"] = [](QDialog* dlg) {
            auto* e = static_cast<Form9*>(dlg);
            if (e->Mode != 1) return int(QDialog::Rejected);
            e->Text1->setText("Alpha");
            e->Command1_Click();
            return e->result();
        };
        d.Command3_Click();
        QCOMPARE(listTexts(d.List1), (QStringList{"Alpha", "Zulu"}));
        QCOMPARE(d.List1->currentRow(), 0);
        QCOMPARE(SelectedProfile(*d.List1), value("SELECT RecID FROM Profiles WHERE Description = 'Alpha'").toLongLong());

        // The editor opened from the profile list afterwards refreshes that list, not the chooser.
        Form8 list;
        selectText(list.List1, "Zulu");
        scripted().dialogHandlers["Form9"] = [](QDialog* dlg) {
            auto* e = static_cast<Form9*>(dlg);
            e->Text1->setText("Yankee");
            e->Command1_Click();
            return e->result();
        };
        list.Command1_Click();
        QCOMPARE(listTexts(list.List1), (QStringList{"Alpha", "Yankee"}));
        QCOMPARE(listTexts(d.List1), (QStringList{"Alpha", "Zulu"}));
    }

    void setupMenuOpensTheProfileList()
    {
        addProfile("Only", {});
        QStringList seen;
        scripted().dialogHandlers["Form8"] = [&](QDialog* dlg) {
            seen = listTexts(static_cast<Form8*>(dlg)->List1);
            return int(QDialog::Rejected);
        };
        scripted().pointerHistory.clear();
        f->mnuSetupProfiles->trigger();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form8"});
        QCOMPARE(seen, QStringList{"Only"});
        QCOMPARE(scripted().pointerHistory.value(0), int(ui::vbHourglass));
    }
};

FERROWYN_TEST_MAIN(TestProfileEditor)
#include "tst_ProfileEditor.moc"

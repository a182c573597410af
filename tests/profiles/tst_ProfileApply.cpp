#include <QListWidget>

#include "core/DateFormats.h"
#include "core/FieldVocabulary.h"
#include "profiles/Form10.h"
#include "profiles/ProfileApply.h"
#include "tests/profiles/ProfilesTestUtil.h"

using namespace profiletest;

namespace {

const QString kMissing = QStringLiteral(
    "The list folder of this profile no longer exists.  Its values are applied, but no address is added to a list folder.");

void selectNode(Form1* f, const QString& key)
{
    f->TreeView1->Nodes(key)->SetSelected(true);
    click(f, key);
}

// The rows of a grid whose column col holds one of the texts, selected in that order.
void selectRows(ui::DataGrid* grid, const ui::XArrayDB& rows, int col, const QStringList& texts)
{
    grid->SelBookmarks().Clear();
    for (const QString& t : texts)
        for (int r = 1; r <= rows.UpperBound(1); ++r)
            if (rows.Value(r, col).toString() == t) grid->SelBookmarks().Add(r);
}

// Runs the chooser in a mode with the named profile picked; returns whether it closed.
bool apply(const QVariant& mode, const QString& profile)
{
    Form10 d;
    d.Mode = mode;
    for (int i = 0; i < d.List1->count(); ++i)
        if (d.List1->item(i)->text() == profile) d.List1->setCurrentRow(i);
    d.Command1_Click();
    return d.result() == QDialog::Accepted;
}

int members(qint64 folder) { return value(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(folder)).toInt(); }

QStringList subjects(Form1* f)
{
    QStringList out;
    for (int r = 1; r <= f->xa->UpperBound(1); ++r) out << f->xa->Value(r, 5).toString();
    return out;
}

} // namespace

class TestProfileApply : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString master, customersKey, inbox, archive;
    qint64 customers = 0, target = 0, ann = 0, bob = 0, cy = 0;

    void startWith(const std::function<void(const QString&)>& seed = {})
    {
        f = start([seed](const QString& home) {
            maildir(home + "/Mail/Archive");
            if (seed) seed(home);
        });
        QVERIFY(f);
        roomy(f);
        // Combo 0 holds dates, 1 and 2 text, 3 numbers.
        sql("INSERT INTO Config (combo0, combofieldtype0, combo1, combo2, combo3, combofieldtype3, chk0, chkHot0) "
            "VALUES ('Since', 2, 'Note', 'Long', 'Amount', 1, 'Paid', 'Hot')");
        LoadComboFieldTypes();
        ann = addAddress("ann@x.org", "Ann", "Lee");
        bob = addAddress("bob@x.org", QString(), QString(), "Bobco");
        cy = addAddress("cy@x.org", "Cy", "Doe");
        sql("UPDATE MasterList SET chk0 = -1, City = 'Rome'");
        customersKey = addListFolder(f, "Customers");
        customers = FolderRecIDFromKey(customersKey);
        target = FolderRecIDFromKey(addListFolder(f, "Target"));
        sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %3), (%2, %3)").arg(ann).arg(cy).arg(customers));
        master = keyOf(f, "Master List");
        inbox = keyOf(f, "Inbox");
        archive = keyOf(f, "Archive");
    }

private Q_SLOTS:
    void cleanupTestCase() { end(); }

    void everyPresetTypeOnTheWholeMasterList()
    {
        startWith();
        const QString sixty = QString(45, QLatin1Char('a')) + QString(15, QLatin1Char('b'));
        // The later row of the editor wins although its row was stored first.
        addProfile("All", {{0, 2, "Acme", 12},
                           {0, 1, "checked"},
                           {0, 4, "Smith"},
                           {1, 0, "$date"},
                           {1, 1, "$DATE"},
                           {1, 2, sixty},
                           {1, 3, "12.50"},
                           {2, 0, "UNCHECKED"},
                           {3, 0, "CHECKED"},
                           {0, 8, "<%CITY>"},
                           {1, 99, "no such column"},
                           {0, 2, "First Co", 11},
                           {0, 14, "Phone " + sixty}},
                   target);
        selectNode(f, master);
        const QDate before = QDate::currentDate();
        QVERIFY(apply(2, "All"));
        const QDate after = QDate::currentDate();
        QVERIFY(scripted().boxes.isEmpty());

        for (const QString& email : {QString("ann@x.org"), QString("bob@x.org"), QString("cy@x.org")}) {
            QCOMPARE(field(email, "Disabled").toInt(), -1);
            QCOMPARE(field(email, "Last").toString(), QString("Smith"));
            QCOMPARE(field(email, "Company").toString(), QString("Acme"));
            const QString since = field(email, "combo0").toString();
            QVERIFY(since == before.toString("yyyy-MM-dd") || since == after.toString("yyyy-MM-dd"));
            const QString note = field(email, "combo1").toString();
            QVERIFY(note == FormatShortDate(before) || note == FormatShortDate(after));
            QCOMPARE(field(email, "combo2").toString(), QString(45, QLatin1Char('a')));
            QCOMPARE(field(email, "combo3").toString(), QString("12.5"));
            QCOMPARE(field(email, "Phone1").toString(), "Phone " + sixty);
            QCOMPARE(field(email, "chk0").toInt(), 0);
            QCOMPARE(field(email, "chkHot0").toInt(), -1);
            // A tag has no message to be read from: the field keeps its value.
            QCOMPARE(field(email, "City").toString(), QString("Rome"));
        }
        QCOMPARE(field("ann@x.org", "SortName").toString(), QString("Smith, Ann"));
        QCOMPARE(field("bob@x.org", "SortName").toString(), QString("Smith"));
        QCOMPARE(field("cy@x.org", "SortName").toString(), QString("Smith, Cy"));
        QCOMPARE(members(target), 3);
        // The grid shows the new names.
        QCOMPARE(f->ex->Value(1, 2).toString(), QString("Smith, Ann"));

        // Applied again: no second membership.
        QVERIFY(apply(2, "All"));
        QCOMPARE(members(target), 3);
    }

    void selectedAddressesAndAFoldersMembers()
    {
        startWith();
        addProfile("Note", {{1, 1, "picked"}, {0, 3, "Max"}}, target);
        sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(cy).arg(target));
        selectNode(f, customersKey);
        QCOMPARE(f->ex->UpperBound(1), 2);
        selectRows(f->TDBGrid2, *f->ex, 1, {"cy@x.org"});
        QVERIFY(apply(1, "Note"));
        QCOMPARE(field("cy@x.org", "combo1").toString(), QString("picked"));
        QCOMPARE(field("cy@x.org", "SortName").toString(), QString("Doe, Max"));
        QVERIFY(field("ann@x.org", "combo1").isNull());
        // Already a member: not added twice.
        QCOMPARE(members(target), 1);

        // Mode 2 on a list folder: its members only.
        QVERIFY(apply("2", "Note"));
        QCOMPARE(field("ann@x.org", "combo1").toString(), QString("picked"));
        QVERIFY(field("bob@x.org", "combo1").isNull());
        QCOMPARE(members(target), 2);
        QCOMPARE(f->AddressListFolderKey(), customersKey);

        // No rows selected: nothing written, the dialog still closes.
        sql("UPDATE MasterList SET combo1 = NULL");
        f->TDBGrid2->SelBookmarks().Clear();
        QVERIFY(apply(1, "Note"));
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 IS NOT NULL").toInt(), 0);
        QVERIFY(scripted().boxes.isEmpty());
    }

    void missingTargetFolderAndTheRoot()
    {
        startWith();
        addProfile("Gone", {{1, 1, "gone"}}, 999);
        addProfile("Root", {{1, 1, "root"}}, 1);
        addProfile("Bare", {}, target);
        selectNode(f, master);
        QVERIFY(apply(2, "Gone"));
        QCOMPARE(prompts(), QStringList{kMissing});
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 = 'gone'").toInt(), 3);
        QCOMPARE(value("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID <> " + QString::number(customers)).toInt(), 0);

        scripted().clear();
        QVERIFY(apply(2, "Root"));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 = 'root'").toInt(), 3);
        QCOMPARE(value("SELECT COUNT(*) FROM ListMembers").toInt(), 2);

        // No presets: the sort names and memberships are still written.
        QVERIFY(apply(2, "Bare"));
        QCOMPARE(field("ann@x.org", "SortName").toString(), QString("Lee, Ann"));
        QCOMPARE(field("bob@x.org", "SortName").toString(), QString("Bobco"));
        QCOMPARE(members(target), 3);
    }

    void refusedAddressesAreCountedAndTheOthersGoOn()
    {
        startWith();
        addProfile("Note", {{1, 1, "n"}}, target);
        sql("CREATE TRIGGER refuse BEFORE UPDATE OF combo1 ON MasterList WHEN OLD.Email = 'bob@x.org' "
            "BEGIN SELECT RAISE(ABORT, 'bob is refused'); END");
        selectNode(f, master);
        QVERIFY(apply(2, "Note"));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().startsWith("The profile could not be applied to 1 of 3 addresses."));
        QVERIFY(scripted().lastPrompt().contains("bob is refused"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 = 'n'").toInt(), 2);
        QCOMPARE(members(target), 2);
    }

    void batchesFallBackToSingleAddresses()
    {
        startWith();
        Profile p;
        QVERIFY(ReadProfile(DBConnection(), addProfile("Note", {{1, 1, "n"}}, target), p));
        sql("CREATE TRIGGER refuse BEFORE UPDATE OF combo1 ON MasterList WHEN OLD.Email = 'bob@x.org' "
            "BEGIN SELECT RAISE(ABORT, 'bob is refused'); END");
        // A row gone since the ids were read is passed over, neither applied nor failed.
        QList<int> steps;
        const ApplyCount n = ApplyProfileToAddresses(DBConnection(), p, target, {ann, bob, cy, 999, ann},
                                                     [&](int done) { steps << done; }, 2);
        QCOMPARE(steps, (QList<int>{2, 4, 5}));
        QCOMPARE(n.applied, 3);
        QCOMPARE(n.failed, 1);
        QVERIFY(n.lastError.contains("bob is refused"));
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 = 'n'").toInt(), 2);
        QCOMPARE(members(target), 2);
        QCOMPARE(value("SELECT COUNT(*) FROM ListMembers WHERE MasterRecID = 999").toInt(), 0);
    }

    void profileGoneWhileTheListIsOpen()
    {
        startWith();
        const qint64 id = addProfile("Soon gone", {{1, 1, "x"}});
        selectNode(f, master);
        Form10 d;
        d.Mode = 2;
        d.List1->setCurrentRow(0);
        sql("DELETE FROM Profiles WHERE RecID = " + QString::number(id));
        d.List1_DblClick();
        QCOMPARE(scripted().lastPrompt(), QString("Error Accessing Profile.  The Profile Was Not Found."));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE combo1 IS NOT NULL").toInt(), 0);
    }

    void messageSenders()
    {
        startWith([](const QString& home) {
            const QByteArray tagged = "Content-Type: text/plain; charset=utf-8\r\n\r\nHello <%CITY> Paris\r\nNord<%/CITY> "
                                      "<%SINCE>$date<%/SINCE>\r\n";
            writeMessage(home + "/Mail/Inbox", 1, "New One <new@x.org>", "New", QString(), tagged);
            writeMessage(home + "/Mail/Inbox", 2, "Known <ANN@x.org>", "Known");
            writeMessage(home + "/Mail/Inbox", 3, "Just A Name", "Name only");
            writeMessage(home + "/Mail/Inbox", 4, "New Again <new@x.org>", "Again", QString(),
                         "Content-Type: text/plain\r\n\r\n<%since>2024-02-03<%/since><%CITY>Oslo<%/CITY>\r\n");
            writeMessage(home + "/Mail/Inbox", 5, "Stays <stay@x.org>", "Not selected");
        });
        addProfile("Harvest", {{0, 8, "<%CITY>"}, {1, 0, "<%SINCE>"}, {3, 0, "CHECKED"}, {0, 3, "Neu"}}, target, archive);
        click(f, inbox);
        QCOMPARE(f->xa->UpperBound(1), 5);
        selectRows(f->TDBGrid1, *f->xa, 5, {"New", "Known", "Name only"});
        const QDate before = QDate::currentDate();
        QVERIFY(apply(0, "Harvest"));

        // The new sender: inserted, the tag's text taken whole, $DATE in a date field stamped.
        QCOMPARE(field("new@x.org", "City").toString().replace("\r\n", "\n"), QString(" Paris\nNord"));
        QVERIFY(field("new@x.org", "combo0").toString() >= before.toString("yyyy-MM-dd"));
        QCOMPARE(field("new@x.org", "Status").toInt(), 1);
        QCOMPARE(field("new@x.org", "chkHot0").toInt(), -1);
        QCOMPARE(field("new@x.org", "SortName").toString(), QString());
        // The known one: its row, with the address as the message spells it; no tag text: empty.
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE Email = 'ann@x.org'").toInt(), 1);
        QCOMPARE(value("SELECT Email FROM MasterList WHERE RecID = " + QString::number(ann)).toString(), QString("ANN@x.org"));
        QCOMPARE(field("ann@x.org", "City").toString(), QString());
        QCOMPARE(field("ann@x.org", "SortName").toString(), QString("Lee, Neu"));
        QCOMPARE(field("ann@x.org", "Status").toInt(), 1);
        QCOMPARE(members(target), 2);
        // The name-only sender is passed over, written nowhere and left in the list.
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList").toInt(), 4);
        QCOMPARE(prompts().size(), 1);
        QVERIFY(prompts().at(0).startsWith("1 of 3 messages were passed over"));
        QCOMPARE(subjects(f), (QStringList{"Name only", "Again", "Not selected"}));
        QCOMPARE(f->StatusBar1->PanelText(1), QString("3 Items."));
        QCOMPARE(MAPINameSpace->GetFolderFromID(archive)->Items()->Count(), 2);

        // The same sender again: its row is updated, one membership stays.
        scripted().clear();
        selectRows(f->TDBGrid1, *f->xa, 5, {"Again"});
        QVERIFY(apply(QVariant(), "Harvest"));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(field("new@x.org", "City").toString(), QString("Oslo"));
        QCOMPARE(field("new@x.org", "combo0").toString(), QString("2024-02-03"));
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE Email = 'new@x.org'").toInt(), 1);
        QCOMPARE(members(target), 2);
        QCOMPARE(subjects(f), (QStringList{"Name only", "Not selected"}));
    }

    // The address is the row's key: what an Email preset would store there passes the address
    // check, or the row (and the message) is left as it was and named in the report.
    void emailPresets_data()
    {
        QTest::addColumn<QString>("literal");  // applied to an address
        QTest::addColumn<QByteArray>("body");  // a message whose sender the tag is applied to
        QTest::addColumn<QString>("tagged");   // the tag's text in it
        QTest::addColumn<bool>("usable");
        QTest::newRow("missing closing tag") << QString() << QByteArray("<%MAIL>new@x.org\r\n") << QString() << false;
        QTest::newRow("not an address") << "not an address" << QByteArray("<%MAIL>not an address<%/MAIL>\r\n")
                                        << "not an address" << false;
        // Pasted from a web page: it looks right, and the report shows what is wrong with it.
        QTest::newRow("invisible character") << QString::fromUtf8("new@x.org\u200b")
                                             << QByteArray("<%MAIL>new@x.org\u200b<%/MAIL>\r\n")
                                             << QString::fromUtf8("new@x.org\u200b") << false;
        QTest::newRow("valid") << "lit@x.org" << QByteArray("<%mail>new@x.org<%/mail>\r\n") << "new@x.org" << true;
    }
    void emailPresets()
    {
        QFETCH(QString, literal);
        QFETCH(QByteArray, body);
        QFETCH(QString, tagged);
        QFETCH(bool, usable);
        startWith([&](const QString& home) {
            writeMessage(home + "/Mail/Inbox", 1, "Ann <ann@x.org>", "Tagged", QString(),
                         "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body);
        });
        // Beside it a tag the message lacks, which empties its field as ever.
        addProfile("Tag", {{0, 13, "<%MAIL>"}, {0, 8, "<%CITY>"}}, target, archive);
        addProfile("Literal", {{0, 13, literal}, {1, 1, "n"}}, target);
        const auto shown = [](QString text) { return text.replace(QChar(0x200b), QStringLiteral("<U+200B>")); };
        const auto row = [](qint64 id, const char* column) {
            return value(QStringLiteral("SELECT %1 FROM MasterList WHERE RecID = %2").arg(column).arg(id)).toString();
        };

        click(f, inbox);
        selectRows(f->TDBGrid1, *f->xa, 5, {"Tagged"});
        QVERIFY(apply(0, "Tag"));
        if (usable) {
            QVERIFY(scripted().boxes.isEmpty());
            QCOMPARE(row(ann, "Email"), tagged);
            QCOMPARE(row(ann, "City"), QString());
            QCOMPARE(members(target), 1);
            QCOMPARE(subjects(f), QStringList());
        } else {
            QCOMPARE(prompts().size(), 1);
            QVERIFY2(prompts().at(0).startsWith("1 of 1 messages were left where they are, and their correspondents as they were"),
                     qPrintable(prompts().at(0)));
            QVERIFY2(prompts().at(0).endsWith(QStringLiteral("\n\"Tagged\" from ann@x.org: \"%1\"").arg(shown(tagged))),
                     qPrintable(prompts().at(0)));
            QCOMPARE(row(ann, "Email"), QString("ann@x.org"));
            QCOMPARE(row(ann, "City"), QString("Rome"));
            QCOMPARE(members(target), 0);
            QCOMPARE(subjects(f), QStringList{"Tagged"});
            QCOMPARE(MAPINameSpace->GetFolderFromID(inbox)->Items()->Count(), 1);
        }

        scripted().clear();
        selectNode(f, master);
        selectRows(f->TDBGrid2, *f->ex, 1, {"cy@x.org"});
        QVERIFY(apply(1, "Literal"));
        if (usable) {
            QVERIFY(scripted().boxes.isEmpty());
            QCOMPARE(row(cy, "Email"), literal);
            QCOMPARE(row(cy, "combo1"), QString("n"));
            QCOMPARE(members(target), 2);
        } else {
            QCOMPARE(prompts(), QStringList{QStringLiteral("The profile would store \"%1\" as the e-mail address, and that is not "
                                                           "an e-mail address.  1 of 1 addresses were left as they were:\ncy@x.org")
                                                .arg(shown(literal))});
            QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
            QCOMPARE(row(cy, "Email"), QString("cy@x.org"));
            QCOMPARE(row(cy, "combo1"), QString());
            QCOMPARE(members(target), 0);
        }
    }

    void aRefusedCommitMovesNothing()
    {
        startWith([](const QString& home) {
            writeMessage(home + "/Mail/Inbox", 1, "Refused <refused@x.org>", "Refused");
            writeMessage(home + "/Mail/Inbox", 2, "Fine <fine@x.org>", "Fine");
        });
        // The refused sender's insert leaves a deferred key that no row satisfies, so only the
        // commit fails.
        sql("PRAGMA foreign_keys = ON");
        sql("CREATE TABLE Gate (RecID INTEGER PRIMARY KEY)");
        sql("CREATE TABLE Pass (GateID INTEGER REFERENCES Gate (RecID) DEFERRABLE INITIALLY DEFERRED)");
        sql("CREATE TRIGGER refuseAtCommit AFTER INSERT ON MasterList WHEN NEW.Email = 'refused@x.org' "
            "BEGIN INSERT INTO Pass (GateID) VALUES (1); END");
        addProfile("Harvest", {{0, 3, "Fay"}}, target, archive);
        click(f, inbox);
        selectRows(f->TDBGrid1, *f->xa, 5, {"Refused", "Fine"});
        const bool closed = apply(0, "Harvest");
        sql("PRAGMA foreign_keys = OFF");
        QVERIFY(closed);
        QCOMPARE(prompts().size(), 1);
        QVERIFY2(prompts().at(0).startsWith("1 of 2 messages could not be processed and were left where they are."),
                 qPrintable(prompts().at(0)));
        // What the report says is what happened: the refused one stayed, unstored; the other moved.
        QCOMPARE(value("SELECT COUNT(*) FROM MasterList WHERE Email = 'refused@x.org'").toInt(), 0);
        QCOMPARE(field("fine@x.org", "First").toString(), QString("Fay"));
        QCOMPARE(members(target), 1);
        QCOMPARE(subjects(f), QStringList{"Refused"});
        QCOMPARE(MAPINameSpace->GetFolderFromID(inbox)->Items()->Count(), 1);
        QCOMPARE(MAPINameSpace->GetFolderFromID(archive)->Items()->Count(), 1);
    }

    void aFailedMoveKeepsTheMessageAndItsStoredSender()
    {
        startWith([](const QString& home) {
            writeMessage(home + "/Mail/Inbox", 1, "Fails <fail@x.org>", "Fails");
            writeMessage(home + "/Mail/Inbox", 2, "Fine <fine@x.org>", "Fine");
        });
        // A mail message cannot go into a contact folder.
        const QString contacts = MAPINameSpace->GetDefaultFolder(mail::olFolderContacts)->EntryID();
        addProfile("Into contacts", {{0, 3, "Fay"}}, target, contacts);
        addProfile("Stay", {{0, 3, "Fin"}}, target);
        click(f, inbox);
        selectRows(f->TDBGrid1, *f->xa, 5, {"Fails"});
        QVERIFY(apply(0, "Into contacts"));
        QCOMPARE(prompts().size(), 1);
        QVERIFY2(prompts().at(0).startsWith("1 of 1 messages could not be moved: their correspondents were stored and the "
                                            "messages left where they are."),
                 qPrintable(prompts().at(0)));
        QCOMPARE(field("fail@x.org", "First").toString(), QString("Fay"));
        QCOMPARE(members(target), 1);
        QCOMPARE(subjects(f), (QStringList{"Fails", "Fine"}));

        // Without a mail folder nothing moves and every row stays.
        scripted().clear();
        selectRows(f->TDBGrid1, *f->xa, 5, {"Fails", "Fine"});
        QVERIFY(apply(0, "Stay"));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(field("fine@x.org", "First").toString(), QString("Fin"));
        QCOMPARE(members(target), 2);
        QCOMPARE(subjects(f), (QStringList{"Fails", "Fine"}));
    }

    void commandsOpenTheChooserInTheirModes()
    {
        startWith();
        QList<QVariant> modes;
        scripted().dialogHandlers["Form10"] = [&](QDialog* dlg) {
            modes << static_cast<Form10*>(dlg)->Mode;
            return int(QDialog::Rejected);
        };
        f->mnuBulkPopAplyProfile->trigger();
        f->mnuFolderPopApply->trigger();
        f->mnuEmailPopAddWithProfile->trigger();
        QCOMPARE(scripted().dialogsShown, (QStringList{"Form10", "Form10", "Form10"}));
        QCOMPARE(modes, (QList<QVariant>{1, 2, 0}));
    }

    void presetValuesTable()
    {
        // What the presets write, without the windows: checks, tags, stamps, the storing rule.
        QVariantList types(15, 0);
        types[4] = 2;
        types[5] = 1;
        ComboFieldType = types;
        const QDateTime now(QDate(2024, 3, 9), QTime(14, 5, 6));
        ColumnValues cols;
        // FieldID, FieldType, FieldValue.
        AddPresetValues(cols,
                        {{1, 0, "CHECKED"},
                         {1, 2, "yes"},
                         {2, 2, "cHeCkEd"},
                         {3, 3, "x"},
                         {4, 3, "<%TAG>"},
                         {17, 0, "$DATE"},
                         {4, 1, "$DATETIME"},
                         {5, 1, "$TIME"},
                         {5, 1, "2.50"},
                         {4, 1, "$time"},
                         {6, 1, "7 March 2024"},
                         {2, -1, "x"},
                         {18, 0, "x"},
                         {99, 1, "x"}},
                        now, [](const QString& tag) { return "text of " + tag; });
        QCOMPARE(cols.names, (QStringList{"Disabled", "Chk1", "Chk2", "chkHot3", "chkHot4", "Cell", "Combo4", "Combo5", "Combo6"}));
        QCOMPARE(cols.values, (QVariantList{-1, 0, -1, 0, 0, "$DATE", "14:05:06", "2.5", "7 March 2024"}));

        // Without a message a tag sets nothing.
        ColumnValues none;
        AddPresetValues(none, {{8, 0, "<%CITY>"}, {1, 1, "<%X>"}}, now);
        QVERIFY(none.names.isEmpty());
        ComboFieldType.clear();
    }
};

FERROWYN_TEST_MAIN(TestProfileApply)
#include "tst_ProfileApply.moc"

#include "core/Database.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "platform/db/Connection.h"
#include "tests/support/TestMain.h"

class TestFieldVocabulary : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { OpenDatabase(DBConnection(), testsupport::TestHome::reset() + "/dv.db"); }
    void cleanup() { DBConnection().Close(); }

    void columnNames_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("column");
        QTest::addColumn<bool>("hasColumn");
        QTest::newRow("id 0") << 0 << 0 << "" << false;
        QTest::newRow("id 18") << 0 << 18 << "" << false;
        QTest::newRow("combo") << 1 << 7 << "Combo7" << true;
        QTest::newRow("check") << 2 << 14 << "Chk14" << true;
        QTest::newRow("hot check") << 3 << 5 << "chkHot5" << true;
        QTest::newRow("no range check") << 1 << 20 << "Combo20" << false;
        QTest::newRow("hot check 6") << 3 << 6 << "chkHot6" << false;
        QTest::newRow("negative check") << 2 << -1 << "Chk-1" << false;
        QTest::newRow("unknown type") << 4 << 1 << "" << false;
        QTest::newRow("negative type") << -1 << 3 << "" << false;
    }
    void columnNames()
    {
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(QString, column);
        QFETCH(bool, hasColumn);
        QCOMPARE(GetFieldColumnName(type, id), column);
        QCOMPARE(HasFieldColumn(type, id), hasColumn);
    }

    void everyStandardField()
    {
        const QStringList names{"Disabled", "Company", "First", "Last", "Middle", "Address1", "Address2", "City", "State",
                                "Country", "Zip", "Website", "Email", "Phone1", "Phone2", "Fax", "Cell"};
        for (int id = 1; id <= 17; ++id) {
            QCOMPARE(GetFieldColumnName(0, id), names[id - 1]);
            QCOMPARE(GetFieldCaption(0, id), names[id - 1]);
            const QString expected = id == 12 ? QString("WEBSITE") : "$" + names[id - 1].toUpper();
            QCOMPARE(GetFieldToken(id), expected);
        }
        QCOMPARE(GetFieldToken(0), QString());
        QCOMPARE(GetFieldToken(18), QString());
    }

    void numericAndQuote_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("numeric");
        QTest::addColumn<QString>("quote");
        QTest::newRow("Disabled") << 0 << 1 << 1 << "";
        QTest::newRow("Company") << 0 << 2 << 0 << "'";
        QTest::newRow("text combo") << 1 << 0 << 0 << "'";
        QTest::newRow("numeric combo") << 1 << 1 << 1 << "";
        QTest::newRow("date combo") << 1 << 2 << 2 << "";
        QTest::newRow("numeric text in config") << 1 << 3 << 1 << "";
        QTest::newRow("check") << 2 << 0 << 1 << "";
        QTest::newRow("hot check") << 3 << 5 << 1 << "";
        QTest::newRow("unknown type") << 7 << 1 << 0 << "'";
    }
    void numericAndQuote()
    {
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(int, numeric);
        QFETCH(QString, quote);
        ComboFieldType = QVariantList(15, QVariant(0));
        ComboFieldType[1] = 1;
        ComboFieldType[2] = 2;
        ComboFieldType[3] = QString("1");
        QCOMPARE(IsNumericField(type, id), numeric);
        QCOMPARE(GetFieldQuote(type, id).toString(), quote);
    }

    void comboOutsideTypesRaises()
    {
        ComboFieldType.clear();
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, IsNumericField(1, 0));
        ComboFieldType = QVariantList(15, QVariant(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, IsNumericField(1, 15));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, IsNumericField(1, -1));
    }

    void checkedText()
    {
        QCOMPARE(CheckedText(-1), QString("CHECKED"));
        QCOMPARE(CheckedText(0), QString("UNCHECKED"));
        QCOMPARE(CheckedText(1), QString("UNCHECKED"));
    }

    void withoutConfigRow()
    {
        ComboFieldType = QVariantList(15, QVariant(2));
        LoadComboFieldTypes();
        QCOMPARE(ComboFieldType.size(), 15);
        for (const QVariant& v : ComboFieldType) QCOMPARE(v, QVariant(0));
        QCOMPARE(GetFieldCaption(2, 0), QString());
        QCOMPARE(GetFieldCaption(1, 14), QString());
        QCOMPARE(GetFieldCaption(9, 0), QString());
    }

    void fromConfigRow()
    {
        DBConnection().Execute("INSERT INTO Config (combo7, chk0, chkHot5, combofieldtype0, combofieldtype2, combofieldtype4) "
                               "VALUES ('Region  ', ' Member', 'VIP', 1, 2, NULL)");
        QCOMPARE(GetFieldCaption(1, 7), QString("Region"));
        QCOMPARE(GetFieldCaption(2, 0), QString(" Member"));
        QCOMPARE(GetFieldCaption(3, 5), QString("VIP"));
        QCOMPARE(GetFieldCaption(3, 0), QString());
        LoadComboFieldTypes();
        QCOMPARE(ComboFieldType.size(), 15);
        QCOMPARE(IsNumericField(1, 0), 1);
        QCOMPARE(IsNumericField(1, 2), 2);
        QCOMPARE(IsNumericField(1, 4), 0);
        QCOMPARE(IsNumericField(1, 14), 0);
    }

    void unreadableConfigRaises()
    {
        DBConnection().Execute("DROP TABLE Config");
        QVERIFY_THROWS_EXCEPTION(db::DbError, LoadComboFieldTypes());
        QVERIFY_THROWS_EXCEPTION(db::DbError, GetFieldCaption(1, 0));
        QCOMPARE(GetFieldCaption(0, 3), QString("First"));
    }
};

FERROWYN_TEST_MAIN(TestFieldVocabulary)
#include "tst_FieldVocabulary.moc"

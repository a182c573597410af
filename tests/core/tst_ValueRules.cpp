#include "core/Database.h"
#include "core/FieldVocabulary.h"
#include "core/FolderCriteria.h"
#include "core/Globals.h"
#include "core/ValueRules.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "tests/support/TestMain.h"

class TestValueRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void sortName_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("middle");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("sortName");
        QTest::newRow("all parts") << "Ann" << "Lee" << "B" << "Acme" << "Lee, Ann, B";
        QTest::newRow("no first") << "" << "Lee" << "B" << "Acme" << "Lee, B";
        QTest::newRow("no middle, no company") << "Ann" << "Lee" << "" << "" << "Lee, Ann";
        QTest::newRow("no last") << "Ann" << "" << "B" << "Acme" << "";
        QTest::newRow("company only, trimmed") << "" << "" << "" << "  Acme Ltd  " << "Acme Ltd";
        QTest::newRow("nothing") << "" << "" << "" << "" << "";
        QTest::newRow("blanks around the last name") << " Ann " << "  Lee " << "" << "" << "Lee, Ann";
        QTest::newRow("blank names count as empty") << "  " << " " << "\t" << "Acme" << "Acme";
        QTest::newRow("case kept") << "ann" << "van der Berg" << "" << "" << "van der Berg, ann";
    }
    void sortName()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, middle);
        QFETCH(QString, company);
        QTEST(SortNameOf(first, last, middle, company), "sortName");
    }

    void storedCombo_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        // Date/Time fields.
        QTest::newRow("ISO date") << "en_US" << 2 << "2001-08-02" << "2001-08-02";
        QTest::newRow("ISO date-time") << "en_US" << 2 << "2001-08-02 09:03:07" << "2001-08-02 09:03:07";
        QTest::newRow("ISO with T") << "de_DE" << 2 << "2001-08-02T09:03" << "2001-08-02 09:03:00";
        QTest::newRow("US short date") << "en_US" << 2 << "8/2/2001" << "2001-08-02";
        QTest::newRow("US two-digit year") << "en_US" << 2 << "8/2/01" << "2001-08-02";
        QTest::newRow("US two-digit year, last century") << "en_US" << 2 << "8/2/75" << "1975-08-02";
        QTest::newRow("US date and time") << "en_US" << 2 << "8/2/01 9:03 PM" << "2001-08-02 21:03:00";
        QTest::newRow("British day first") << "en_GB" << 2 << "2/8/2001" << "2001-08-02";
        QTest::newRow("German date") << "de_DE" << 2 << "02.08.2001" << "2001-08-02";
        QTest::newRow("German date, no zeros") << "de_DE" << 2 << "2.8.01" << "2001-08-02";
        QTest::newRow("time only") << "en_US" << 2 << "09:03:07" << "09:03:07";
        QTest::newRow("US short time") << "en_US" << 2 << "9:03 PM" << "21:03:00";
        QTest::newRow("long month name") << "C" << 2 << "August 2, 2001" << "2001-08-02";
        QTest::newRow("blanks around") << "en_US" << 2 << "  2001-08-02 " << "2001-08-02";
        QTest::newRow("not a date kept as typed") << "en_US" << 2 << "soon-ish " << "soon-ish ";
        QTest::newRow("impossible date kept") << "en_US" << 2 << "2001-02-30" << "2001-02-30";
        QTest::newRow("empty kept") << "en_US" << 2 << "" << "";
        // Numeric fields.
        QTest::newRow("whole number") << "en_US" << 1 << "42" << "42";
        QTest::newRow("dot decimal") << "en_US" << 1 << "1.50" << "1.5";
        QTest::newRow("comma decimal in German") << "de_DE" << 1 << "1,5" << "1.5";
        QTest::newRow("dot decimal in German falls back to C") << "de_DE" << 1 << "2.25" << "2.25";
        QTest::newRow("group separator") << "en_US" << 1 << "1,500" << "1500";
        QTest::newRow("negative with blanks") << "en_US" << 1 << " -3 " << "-3";
        QTest::newRow("not a number kept") << "en_US" << 1 << "12 boxes" << "12 boxes";
        QTest::newRow("a comma in English kept") << "en_US" << 1 << "1,5" << "1,5";
        // Text fields never change.
        QTest::newRow("text date kept") << "en_US" << 0 << "8/2/2001" << "8/2/2001";
        QTest::newRow("text number kept") << "en_US" << 0 << " 1.50" << " 1.50";
    }
    void storedCombo()
    {
        QFETCH(QString, locale);
        QFETCH(int, type);
        QFETCH(QString, typed);
        QLocale::setDefault(QLocale(locale));
        QTEST(StoredComboValue(type, typed), "stored");
    }

    // A value typed in the locale's form is stored so that a date rule finds it.
    void storedDateMatchesRule()
    {
        QLocale::setDefault(QLocale("en_US"));
        OpenDatabase(DBConnection(), testsupport::TestHome::reset() + "/dv.db");
        auto& c = DBConnection();
        c.Execute("INSERT INTO Config (combo4, combofieldtype4, combo5, combofieldtype5) VALUES ('Joined', 2, 'Size', 1)");
        LoadComboFieldTypes();
        QCOMPARE(StoredComboFieldValue(4, "3/15/2021"), QString("2021-03-15"));
        QCOMPARE(StoredComboFieldValue(5, "1,250"), QString("1250"));
        QCOMPARE(StoredComboFieldValue(99, "3/15/2021"), QString("3/15/2021"));
        for (const auto& [email, joined] : {std::pair{"a@x", "3/15/2021"}, {"b@x", "1/2/2020"}, {"c@x", "someday"}}) {
            auto st = c.Prepare("INSERT INTO MasterList (Email, combo4) VALUES (?, ?)");
            st.Bind(0, QString::fromLatin1(email));
            st.Bind(1, StoredComboFieldValue(4, QString::fromLatin1(joined)));
            st.Exec();
        }
        c.Execute("INSERT INTO MailFolderProperties (FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, Conjunction) "
                  "VALUES (7, 1, 1, 4, 'Greater Than', '12/31/2020', '')");
        db::Recordset rs;
        rs.Open("SELECT Email FROM MasterList " + BuildFolderWhere(7) + " ORDER BY Email", c);
        QStringList found;
        for (; !rs.Eof(); rs.MoveNext()) found << rs.Fields("Email").toString();
        QCOMPARE(found, QStringList{"a@x"});
    }
};

FERROWYN_TEST_MAIN(TestValueRules)
#include "tst_ValueRules.moc"

#include <optional>

#include "core/Database.h"
#include "core/FieldVocabulary.h"
#include "core/FolderCriteria.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "tests/support/TestMain.h"

namespace {

struct Rule {
    int type;
    int id;
    QString op;
    QString value;
    QString conj;
};

// Folder 7's rules in Sequence order (stored in reverse, so the order comes from Sequence).
void storeRules(const QList<Rule>& rules, long folder = 7)
{
    for (qsizetype n = rules.size(); n >= 1; --n) {
        const Rule& r = rules[n - 1];
        SQLStatement st;
        st.SetConnection(&DBConnection());
        st.SetSql("INSERT INTO MailFolderProperties (?) VALUES (?);");
        st.SetLong("FolderRecID", folder);
        st.SetLong("Sequence", n);
        st.SetInteger("FieldType", r.type);
        st.SetInteger("FieldID", r.id);
        st.SetString("Operator", r.op);
        st.SetString("FieldValue", r.value);
        st.SetString("Conjunction", r.conj);
        st.Execute();
        QVERIFY(!st.Error());
    }
}

// The e-mail addresses the clause selects, in Email order; nothing when the database refuses it.
std::optional<QStringList> selected(const QString& where, QString* error = nullptr)
{
    SQLStatement st;
    st.SetConnection(&DBConnection());
    st.SetSql("SELECT * FROM MasterList " + where + " ORDER BY Email;");
    db::Recordset rs;
    if (!st.GetRecordsetRO(rs)) {
        if (error) *error = st.ErrorMessage();
        return std::nullopt;
    }
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) out << rs.Fields("Email").toString();
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Rule>)

class TestFolderCriteria : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        OpenDatabase(DBConnection(), testsupport::TestHome::reset() + "/dv.db");
        auto& c = DBConnection();
        // combo0 numeric, combo1 date/time, combo2 text.
        c.Execute("INSERT INTO Config (combo0, combo1, combo2, combofieldtype0, combofieldtype1) VALUES ('Size', 'Joined', 'Region', 1, 2)");
        c.Execute("INSERT INTO MasterList (Email, City, Last, Combo0, Combo1, Combo2, Chk3, Disabled) VALUES "
                  "('a@x', 'Boston', 'O''Brien', '10', '2001-08-02', 'North', -1, 0), "
                  "('b@x', 'Bolton', 'Smith', '5', '2001-08-03 09:00:00', 'south', 0, 0), "
                  "('c@x', 'Boston', 'Brown', '', NULL, '50% off', 0, -1), "
                  "('d@x', 'New York', 'Smith', '100', '1999-12-31', 'North', 0, 0)");
        LoadComboFieldTypes();
        // Another folder's rules never leak in.
        storeRules({{0, 8, "Equal To", "Elsewhere", "OR"}}, 8);
    }
    void cleanup() { DBConnection().Close(); }

    void operatorsAndValues()
    {
        const QList<std::pair<QString, QString>> words{{"Equal To", " = "},
                                                       {"equal to", " = "},
                                                       {"Greater Than", " > "},
                                                       {"GREATER THAN EQUAL TO", " >= "},
                                                       {"Less Than", " < "},
                                                       {"Less Than Equal To", " <= "},
                                                       {"like", " LIKE "},
                                                       {"", ""},
                                                       {"Equal", ""},
                                                       {" Equal To", ""}};
        for (const auto& [word, sql] : words) QCOMPARE(GetSQLOperator(word), sql);
        QCOMPARE(FormatCriteriaValue("checked", 2, 0), QString("-1"));
        QCOMPARE(FormatCriteriaValue("CHECKED", 3, 5), QString("-1"));
        QCOMPARE(FormatCriteriaValue("UNCHECKED", 2, 0), QString("0"));
        QCOMPARE(FormatCriteriaValue("", 3, 0), QString("0"));
        QCOMPARE(FormatCriteriaValue("yes", 2, 0), QString("0"));
        QCOMPARE(FormatCriteriaValue("CHECKED", 0, 1), QString("CHECKED"));
        QCOMPARE(FormatCriteriaValue(" it's ", 0, 8), QString(" it's "));
    }

    void clauses_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QStringList>("emails");

        QTest::newRow("no rules") << QList<Rule>{} << "" << QStringList{"a@x", "b@x", "c@x", "d@x"};
        QTest::newRow("one rule") << QList<Rule>{{0, 8, "Equal To", "Boston", ""}}
                                  << " WHERE  MasterList.City  =  'Boston' " << QStringList{"a@x", "c@x"};
        QTest::newRow("check field, conjunction, lower-case word")
            << QList<Rule>{{0, 8, "Equal To", "Boston", "AND"}, {2, 3, "equal to", "checked", ""}}
            << " WHERE  MasterList.City  =  'Boston' AND MasterList.Chk3  =  -1 " << QStringList{"a@x"};
        QTest::newRow("unchecked compares with 0") << QList<Rule>{{2, 3, "Equal To", "UNCHECKED", ""}}
                                                   << " WHERE  MasterList.Chk3  =  0 " << QStringList{"b@x", "c@x", "d@x"};
        QTest::newRow("Disabled is numeric and unquoted") << QList<Rule>{{0, 1, "Equal To", "-1", ""}}
                                                          << " WHERE  MasterList.Disabled  =  -1 " << QStringList{"c@x"};
        QTest::newRow("quote in a value") << QList<Rule>{{0, 4, "Equal To", "O'Brien", ""}}
                                          << " WHERE  MasterList.Last  =  'O''Brien' " << QStringList{"a@x"};
        QTest::newRow("text combo quoted") << QList<Rule>{{1, 2, "Equal To", "north", ""}}
                                           << " WHERE  MasterList.Combo2  =  'north' " << QStringList{"a@x", "d@x"};
        QTest::newRow("numeric combo compares as numbers")
            << QList<Rule>{{1, 0, "Greater Than", "5", ""}}
            << " WHERE  CAST(NULLIF(TRIM(MasterList.Combo0), '') AS REAL)  >  5 " << QStringList{"a@x", "d@x"};
        QTest::newRow("numeric combo, blank value never matches")
            << QList<Rule>{{1, 0, "Less Than", "50", ""}}
            << " WHERE  CAST(NULLIF(TRIM(MasterList.Combo0), '') AS REAL)  <  50 " << QStringList{"a@x", "b@x"};
        QTest::newRow("numeric combo, locale-free number text")
            << QList<Rule>{{1, 0, "Greater Than Equal To", " 1e2", ""}}
            << " WHERE  CAST(NULLIF(TRIM(MasterList.Combo0), '') AS REAL)  >=  100 " << QStringList{"d@x"};
        QTest::newRow("date combo from another spelling")
            << QList<Rule>{{1, 1, "Greater Than Equal To", "8/2/2001", ""}}
            << " WHERE  julianday(MasterList.Combo1)  >=  julianday('2001-08-02') " << QStringList{"a@x", "b@x"};
        QTest::newRow("date combo with a time")
            << QList<Rule>{{1, 1, "Less Than", "2001-08-03 09:00:00", ""}}
            << " WHERE  julianday(MasterList.Combo1)  <  julianday('2001-08-03 09:00:00') " << QStringList{"a@x", "d@x"};
        QTest::newRow("date combo equal")
            << QList<Rule>{{1, 1, "Equal To", "2001-08-02", ""}}
            << " WHERE  julianday(MasterList.Combo1)  =  julianday('2001-08-02') " << QStringList{"a@x"};
        QTest::newRow("LIKE with * and ?") << QList<Rule>{{0, 8, "LIKE", "Bo?ton*", ""}}
                                           << " WHERE  MasterList.City  LIKE  'Bo_ton%' " << QStringList{"a@x", "b@x", "c@x"};
        QTest::newRow("LIKE with % and _") << QList<Rule>{{0, 8, "LIKE", "B_s%", ""}}
                                           << " WHERE  MasterList.City  LIKE  'B_s%' " << QStringList{"a@x", "c@x"};
        QTest::newRow("LIKE with a quote") << QList<Rule>{{0, 4, "LIKE", "O'*", ""}}
                                           << " WHERE  MasterList.Last  LIKE  'O''%' " << QStringList{"a@x"};
        QTest::newRow("parentheses across rules")
            << QList<Rule>{{0, 8, "Equal To", "Boston", "AND ("}, {0, 4, "Equal To", "Smith", "OR"}, {0, 4, "Equal To", "O'Brien", ")"}}
            << " WHERE  MasterList.City  =  'Boston' AND ( MasterList.Last  =  'Smith' OR MasterList.Last  =  'O''Brien' )"
            << QStringList{"a@x"};
    }
    void clauses()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QString, where);
        QFETCH(QStringList, emails);
        storeRules(rules);
        QCOMPARE(BuildFolderWhere(7), where);
        const auto rows = selected(BuildFolderWhere(7));
        QVERIFY(rows);
        QCOMPARE(*rows, emails);
    }

    void unbalancedParenthesesLeftToDatabase()
    {
        storeRules({{0, 4, "Equal To", "Brown", ") OR "}, {0, 8, "Equal To", "Bolton", ""}});
        const QString where = BuildFolderWhere(7);
        QCOMPARE(where, " WHERE  MasterList.Last  =  'Brown' ) OR MasterList.City  =  'Bolton' ");
        QVERIFY(!selected(where));
    }

    void refusals_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QString>("reason");
        const Rule boston{0, 8, "Equal To", "Boston", "OR"};
        QTest::newRow("empty condition") << QList<Rule>{boston, {0, 8, "", "Boston", ""}} << "Rule 2 refused: unknown condition";
        QTest::newRow("unknown condition") << QList<Rule>{{0, 8, "Contains", "Boston", ""}} << "Rule 1 refused: unknown condition";
        QTest::newRow("unknown conjunction") << QList<Rule>{{0, 8, "Equal To", "Boston", "; DELETE FROM MasterList"}}
                                             << "Rule 1 refused: unknown conjunction";
        QTest::newRow("not a number for Disabled") << QList<Rule>{{0, 1, "Equal To", "CHECKED", ""}}
                                                   << "Rule 1 refused: the value is not a number";
        QTest::newRow("number with text after it") << QList<Rule>{boston, {1, 0, "Greater Than", "12abc", ""}}
                                                   << "Rule 2 refused: the value is not a number";
        QTest::newRow("blank number") << QList<Rule>{{1, 0, "Less Than", "", ""}} << "Rule 1 refused: the value is not a number";
        QTest::newRow("not a date") << QList<Rule>{{1, 1, "Less Than", "soon", ""}} << "Rule 1 refused: the value is not a date";
        QTest::newRow("LIKE on a date") << QList<Rule>{{1, 1, "LIKE", "2001*", ""}}
                                        << "Rule 1 refused: a date cannot be matched with LIKE";
        QTest::newRow("standard field 0") << QList<Rule>{{0, 0, "Equal To", "x", ""}} << "Rule 1 refused: no such field";
        QTest::newRow("combo 15") << QList<Rule>{{1, 15, "Equal To", "x", ""}} << "Rule 1 refused: no such field";
        QTest::newRow("hot check 6") << QList<Rule>{{3, 6, "Equal To", "CHECKED", ""}} << "Rule 1 refused: no such field";
        QTest::newRow("unknown type") << QList<Rule>{{4, 1, "Equal To", "x", ""}} << "Rule 1 refused: no such field";
    }
    void refusals()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QString, reason);
        storeRules(rules);
        const QString where = BuildFolderWhere(7);
        QCOMPARE(where, " WHERE RAISE(ABORT, '" + reason + "')");
        QString error;
        QVERIFY(!selected(where, &error));
        QVERIFY(error.contains(reason));
        // The refused query changed nothing.
        QCOMPARE(*selected(QString()), (QStringList{"a@x", "b@x", "c@x", "d@x"}));
    }

    void unreadableRulesRaise()
    {
        DBConnection().Execute("DROP TABLE MailFolderProperties");
        QVERIFY_THROWS_EXCEPTION(db::DbError, BuildFolderWhere(7));
    }
};

FERROWYN_TEST_MAIN(TestFolderCriteria)
#include "tst_FolderCriteria.moc"

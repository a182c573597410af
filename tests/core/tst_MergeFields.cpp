#include <QLocale>

#include "core/DateFormats.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/MergeFields.h"
#include "core/SQLStatement.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/ui/XArrayDB.h"
#include "tests/support/TestMain.h"

namespace {

struct MailItem {
    QString body;
    QString Body() const { return body; }
};

const QStringList kFixedNames{"$DISABLED", "$COMPANY", "$FIRST",    "$LAST",   "$MIDDLE",          "$ADDRESS1",
                              "$ADDRESS2", "$CITY",    "$STATE",    "$COUNTRY", "$ZIP",            "WEBSITE",
                              "$EMAIL",    "$PHONE1",  "$PHONE2",   "$FAX",    "$CELL",            "$FORMATTED_NAME",
                              "$FORMATTED_CSZ", "$FORMATTED_NAMEADDRESS", "$DATE", "$TIME", "$DATETIME"};

} // namespace

class TestMergeFields : public QObject {
    Q_OBJECT

    // The merge value of name for one address, opened as the bulk send opens it.
    QString value(const QString& email, const QString& name, int type = 0, int id = 0)
    {
        SQLStatement st;
        st.SetConnection(&DBConnection());
        st.SetSql("SELECT * FROM MasterList WHERE Email = '" + EscapeSQL(email) + "';");
        db::Recordset rs;
        if (!st.GetRecordsetFO(rs) || rs.Eof()) {
            QTest::qFail("address not found", __FILE__, __LINE__);
            return {};
        }
        return GetMergeFieldValue(name, type, id, rs);
    }

private Q_SLOTS:
    void init()
    {
        OpenDatabase(DBConnection(), testsupport::TestHome::reset() + "/dv.db");
        DBConnection().Execute(
            "INSERT INTO MasterList (Email, First, Middle, Last, Company, Address1, Address2, City, State, Country, Zip, "
            "Website, Disabled, Chk3, chkHot5, Combo2) VALUES "
            "('full@x', 'John', '', 'Smith', 'Acme', '1 Main St', 'Suite 5', 'Boston', 'MA', '', '02110', 'w.example', -1, -1, -1, 'North  '), "
            "('middle@x', 'John', 'Q', '', '', '', '', '', '', '', '', '', 0, 0, 0, NULL), "
            "('company@x', '  ', NULL, '', 'Acme', '', '', '', '', '', '', '', 0, 0, 0, NULL), "
            "('addr2@x', ' Ann', '', 'Lee', '', '  ', ' Suite 5', '', '', '', '', '', 0, 0, 0, NULL), "
            "('blank@x', '', '', '', '', '', '', '', '', '', '', '', 0, 0, 0, NULL)");
    }
    void cleanup() { DBConnection().Close(); }

    void listWithoutConfig()
    {
        ui::XArrayDB a;
        a.ReDim(1, 3, 0, 9);
        LoadMergeFieldList(a);
        QCOMPARE(a.LowerBound(1), 1);
        QCOMPARE(a.UpperBound(1), 23);
        QCOMPARE(a.LowerBound(2), 0);
        QCOMPARE(a.UpperBound(2), 2);
        for (int r = 1; r <= 23; ++r) {
            QCOMPARE(a.Value(r, 0).toString(), kFixedNames[r - 1]);
            QCOMPARE(a.Value(r, 1).toInt(), r <= 17 ? r : 0);
            QCOMPARE(a.Value(r, 2).toInt(), 0);
        }
    }

    void listWithCustomFields()
    {
        DBConnection().Execute("INSERT INTO Config (combo0, combo3, chk0, chk14, chkHot5) VALUES ('  ', 'Region', ' Member  ', 'x', 'vip')");
        ui::XArrayDB a;
        LoadMergeFieldList(a);
        QCOMPARE(a.UpperBound(1), 27);
        const QList<std::tuple<QString, int, int>> custom{{"REGION", 3, 1}, {" MEMBER", 0, 2}, {"X", 14, 2}, {"VIP", 5, 3}};
        for (int r = 1; r <= 4; ++r)
            QCOMPARE(std::make_tuple(a.Value(r, 0).toString(), a.Value(r, 1).toInt(), a.Value(r, 2).toInt()), custom[r - 1]);
        QCOMPARE(a.Value(5, 0).toString(), QString("$DISABLED"));
        QCOMPARE(a.Value(27, 0).toString(), QString("$DATETIME"));
    }

    void fullListHas59Rows()
    {
        QStringList cols, vals;
        for (int i = 0; i < 15; ++i) cols << QString("combo%1").arg(i) << QString("chk%1").arg(i);
        for (int i = 0; i < 6; ++i) cols << QString("chkHot%1").arg(i);
        for (const QString& c : cols) vals << "'" + c + "'";
        DBConnection().Execute("INSERT INTO Config (" + cols.join(", ") + ") VALUES (" + vals.join(", ") + ")");
        ui::XArrayDB a;
        LoadMergeFieldList(a);
        QCOMPARE(a.UpperBound(1), 59);
        QCOMPARE(a.Value(1, 0).toString(), QString("COMBO0"));
        QCOMPARE(a.Value(16, 0).toString(), QString("CHK0"));
        QCOMPARE(a.Value(36, 0).toString(), QString("CHKHOT5"));
        QCOMPARE(a.Value(36, 1).toInt(), 5);
        QCOMPARE(a.Value(36, 2).toInt(), 3);
        QCOMPARE(a.Value(37, 0).toString(), QString("$DISABLED"));
        QCOMPARE(a.Value(59, 0).toString(), QString("$DATETIME"));
    }

    void values_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name, blank middle") << "full@x" << "$FORMATTED_NAME" << 0 << 0 << "John Smith";
        QTest::newRow("name, blank last keeps a blank") << "middle@x" << "$FORMATTED_NAME" << 0 << 0 << "John Q ";
        QTest::newRow("name falls back to company") << "company@x" << "$formatted_name" << 0 << 0 << "Acme";
        QTest::newRow("name from trimmed parts") << "addr2@x" << "$Formatted_Name" << 0 << 0 << "Ann Lee";
        QTest::newRow("city line, country before zip") << "full@x" << "$FORMATTED_CSZ" << 0 << 0 << "Boston MA 02110";
        QTest::newRow("city line blank") << "blank@x" << "$FORMATTED_CSZ" << 0 << 0 << "";
        QTest::newRow("name and address") << "full@x" << "$FORMATTED_NAMEADDRESS" << 0 << 0
                                          << "John Smith\r\n1 Main St\r\nSuite 5\r\nBoston MA 02110";
        QTest::newRow("name and second address line only") << "addr2@x" << "$FORMATTED_NAMEADDRESS" << 0 << 0
                                                           << "Ann Lee\r\n Suite 5";
        QTest::newRow("nothing at all") << "blank@x" << "$FORMATTED_NAMEADDRESS" << 0 << 0 << "";
        QTest::newRow("Website") << "full@x" << "WEBSITE" << 0 << 12 << "w.example";
        QTest::newRow("Email") << "full@x" << "$EMAIL" << 0 << 13 << "full@x";
        QTest::newRow("Disabled as stored") << "full@x" << "$DISABLED" << 0 << 1 << "-1";
        QTest::newRow("check ticked") << "full@x" << "MEMBER" << 2 << 3 << "CHECKED";
        QTest::newRow("check not ticked") << "middle@x" << "MEMBER" << 2 << 3 << "UNCHECKED";
        QTest::newRow("hot check ticked") << "full@x" << "VIP" << 3 << 5 << "CHECKED";
        QTest::newRow("combo by id, name ignored") << "full@x" << "SOMETHING ELSE" << 1 << 2 << "North";
        QTest::newRow("Null combo") << "middle@x" << "REGION" << 1 << 2 << "";
    }
    void values()
    {
        QFETCH(QString, email);
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(QString, expected);
        QCOMPARE(value(email, name, type, id), expected);
    }

    void nullCheckIsUnchecked()
    {
        SQLStatement st;
        st.SetConnection(&DBConnection());
        st.SetSql("SELECT NULL AS Chk0, NULL AS chkHot1;");
        db::Recordset rs;
        QVERIFY(st.GetRecordsetFO(rs));
        QCOMPARE(GetMergeFieldValue("A", 2, 0, rs), QString("UNCHECKED"));
        QCOMPARE(GetMergeFieldValue("B", 3, 1, rs), QString("UNCHECKED"));
    }

    void datesAndTimesNow()
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const QDateTime before = QDateTime::currentDateTime();
            const QString date = value("full@x", "$date");
            const QString time = value("full@x", "$TIME");
            const QString both = value("full@x", "$DateTime");
            const QDateTime after = QDateTime::currentDateTime();
            if (before.toSecsSinceEpoch() != after.toSecsSinceEpoch()) continue;
            QCOMPARE(date, FormatShortDate(before.date()));
            QCOMPARE(time, FormatTimeAmPm(before.time()));
            QCOMPARE(both, FormatGeneralDate(before));
            return;
        }
        QFAIL("the clock kept crossing a second");
    }

    void dateFormats_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("shortDate");
        QTest::addColumn<QString>("amPm");
        QTest::addColumn<QString>("general");
        const QDate d(2001, 8, 2);
        QTest::newRow("morning") << "en_US" << QDateTime(d, QTime(9, 3, 7)) << "8/2/01" << "09:03 AM" << "8/2/01 9:03:07 AM";
        QTest::newRow("midnight") << "en_US" << QDateTime(d, QTime(0, 0)) << "8/2/01" << "12:00 AM" << "8/2/01";
        QTest::newRow("just after midnight") << "en_US" << QDateTime(d, QTime(0, 5)) << "8/2/01" << "12:05 AM" << "8/2/01 12:05:00 AM";
        QTest::newRow("noon") << "en_US" << QDateTime(d, QTime(12, 0)) << "8/2/01" << "12:00 PM" << "8/2/01 12:00:00 PM";
        QTest::newRow("evening") << "en_US" << QDateTime(d, QTime(23, 59, 1)) << "8/2/01" << "11:59 PM" << "8/2/01 11:59:01 PM";
        QTest::newRow("time only") << "en_US" << QDateTime(QDate(1899, 12, 30), QTime(9, 3, 7)) << "12/30/99" << "09:03 AM"
                                   << "9:03:07 AM";
        QTest::newRow("German, AM/PM stays literal") << "de_DE" << QDateTime(d, QTime(21, 3, 7)) << "02.08.01" << "09:03 PM"
                                                     << "02.08.01 21:03:07";
    }
    void dateFormats()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, when);
        QFETCH(QString, shortDate);
        QFETCH(QString, amPm);
        QFETCH(QString, general);
        const QLocale saved;
        QLocale::setDefault(QLocale(locale));
        const QString s = FormatShortDate(when.date()), t = FormatTimeAmPm(when.time()), g = FormatGeneralDate(when);
        QLocale::setDefault(saved);
        QCOMPARE(s, shortDate);
        QCOMPARE(t, amPm);
        QCOMPARE(g, general);
    }

    void fieldWithoutColumnRaises()
    {
        SQLStatement st;
        st.SetConnection(&DBConnection());
        st.SetSql("SELECT * FROM MasterList WHERE Email = 'full@x';");
        db::Recordset rs;
        QVERIFY(st.GetRecordsetFO(rs));
        QVERIFY_THROWS_EXCEPTION(db::DbError, GetMergeFieldValue("$NOTHING", 0, 0, rs));
        QVERIFY_THROWS_EXCEPTION(db::DbError, GetMergeFieldValue("X", 5, 1, rs));
        rs.MoveNext();
        QVERIFY_THROWS_EXCEPTION(db::DbError, GetMergeFieldValue("$FORMATTED_NAME", 0, 0, rs));
        rs.Close();
        QVERIFY_THROWS_EXCEPTION(db::DbError, GetMergeFieldValue("$EMAIL", 0, 13, rs));
    }

    void tagTokens()
    {
        const QList<std::pair<QString, int>> cases{{"<%NAME>", -1}, {"<%", -1}, {"<%x", -1}, {"<", 0},
                                                   {"", 0},         {" <%NAME>", 0}, {"x<%", 0}};
        for (const auto& [s, expected] : cases) QCOMPARE(IsTagToken(s), expected);
    }

    void taggedText_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("case ignored") << "<%NAME>" << "Hi <%name>Ann<%/name> bye" << "Ann";
        QTest::newRow("untrimmed") << " <%NAME> " << "<%NAME> Ann \r\n<%/NAME>" << " Ann \r\n";
        QTest::newRow("empty between") << "<%NAME>" << "<%NAME><%/NAME>" << "";
        QTest::newRow("no closing tag") << "<%NAME>" << "<%NAME>Ann" << "";
        QTest::newRow("no opening tag") << "<%NAME>" << "Ann<%/NAME>" << "";
        QTest::newRow("closing tag first") << "<%NAME>" << "<%/NAME>x<%NAME>Ann" << "";
        QTest::newRow("first of each") << "<%A>" << "<%A>1<%/A><%A>2<%/A>" << "1";
    }
    void taggedText()
    {
        QFETCH(QString, tag);
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(GetTaggedText(tag, body).toString(), expected);
        MailItem item{body};
        QCOMPARE(GetTaggedText(tag, item).toString(), expected);
    }
};

FERROWYN_TEST_MAIN(TestMergeFields)
#include "tst_MergeFields.moc"

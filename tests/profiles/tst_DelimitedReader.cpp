#include "profiles/DelimitedReader.h"
#include "tests/support/TestMain.h"

namespace {
QStringList readAll(const QByteArray& bytes, bool* whole = nullptr)
{
    DelimitedReader r;
    r.SetBytes(bytes);
    QStringList out;
    bool ok = true;
    while (ok && !r.AtEnd()) {
        QString v;
        ok = r.ReadValue(v);
        out << v;
    }
    if (whole) *whole = ok;
    return out;
}
} // namespace

class TestDelimitedReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void values_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("commas and line ends alike") << QByteArray("a@x,b@x\nc@x\r\nd@x\re@x") << QStringList{"a@x", "b@x", "c@x", "d@x", "e@x"};
        QTest::newRow("export: quoted, CRLF") << QByteArray("\"a@x.org\"\r\n\"b@x.org\"\r\n") << QStringList{"a@x.org", "b@x.org"};
        QTest::newRow("quoted comma and line break")
            << QByteArray("\"Smith, John\",\"1 Road\r\nTown\",z") << QStringList{"Smith, John", "1 Road\r\nTown", "z"};
        QTest::newRow("doubled quotes") << QByteArray("\"say \"\"hi\"\"\",\"\"\"\"") << QStringList{"say \"hi\"", "\""};
        QTest::newRow("empty values and lines") << QByteArray(",a\n\nb,,\n") << QStringList{"", "a", "", "b", "", ""};
        QTest::newRow("blanks around values") << QByteArray("  a@x  ,\t \"b@x\" \n") << QStringList{"a@x", "b@x"};
        QTest::newRow("text after closing quote kept") << QByteArray("\"a\"b,c") << QStringList{"ab", "c"};
        QTest::newRow("BOM skipped") << QByteArray("\xEF\xBB\xBF" "a@x,b@x") << QStringList{"a@x", "b@x"};
        QTest::newRow("UTF-8") << QByteArray("J\xC3\xB6rg,\xE2\x82\xAC") << QStringList{QString::fromUtf8("Jörg"), QString::fromUtf8("€")};
        QTest::newRow("Windows-1252") << QByteArray("J\xF6rg,\x80 \x93q\x94,\x9F") << QStringList{QString::fromUtf8("Jörg"), QString::fromUtf8("€ “q”"), QString::fromUtf8("Ÿ")};
    }
    void values()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, values);
        bool whole = false;
        QCOMPARE(readAll(bytes, &whole), values);
        QVERIFY(whole);
    }

    void fileThatStopsEarly()
    {
        bool whole = true;
        QCOMPARE(readAll("a,\"b\r\nc", &whole), (QStringList{"a", "b\r\nc"}));
        QVERIFY(!whole);

        // A record is a run of values across lines; a file ending inside one is cut short.
        DelimitedReader r;
        r.SetBytes("e@x,Co\nFirst\nf@x,Co2");
        QStringList rec;
        QVERIFY(r.ReadRecord(3, rec));
        QCOMPARE(rec, (QStringList{"e@x", "Co", "First"}));
        QVERIFY(!r.ReadRecord(3, rec));
        QVERIFY(r.AtEnd());
    }

    void progressPositionAndFiles()
    {
        DelimitedReader r;
        r.SetBytes("ab,cd");
        QCOMPARE(r.Length(), 5);
        QString v;
        r.ReadValue(v);
        QCOMPARE(r.Position(), 4);
        r.ReadValue(v);
        QCOMPARE(r.Position(), 6);

        QVERIFY(!r.Open(testsupport::TestHome::path() + "/missing.csv"));
        QVERIFY(!r.ErrorText().isEmpty());
    }
};

FERROWYN_TEST_MAIN(TestDelimitedReader)
#include "tst_DelimitedReader.moc"

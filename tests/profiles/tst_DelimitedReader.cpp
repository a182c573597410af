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

        DelimitedReader r;
        r.SetBytes("a,\"b\r\nc");
        QStringList line;
        QVERIFY(!r.ReadLine(line));
        QCOMPARE(line, (QStringList{"a", "b\r\nc"}));
        QVERIFY(r.AtEnd());
    }

    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QStringList>>("lines");
        QTest::newRow("one record per line, whatever its length")
            << QByteArray("e@x,Co\nf@x,Co2,First,Last\r\ng@x")
            << QList<QStringList>{{"e@x", "Co"}, {"f@x", "Co2", "First", "Last"}, {"g@x"}};
        QTest::newRow("a quoted line break stays in its value")
            << QByteArray("e@x,\"1 Road\r\nFlat 2\",Town\nf@x")
            << QList<QStringList>{{"e@x", "1 Road\r\nFlat 2", "Town"}, {"f@x"}};
        QTest::newRow("empty lines and a trailing comma")
            << QByteArray("\na@x,\n\n") << QList<QStringList>{{""}, {"a@x", ""}, {""}};
        QTest::newRow("CR alone ends a line") << QByteArray("a@x\rb@x") << QList<QStringList>{{"a@x"}, {"b@x"}};
        // The encoding is the record's own: one stray byte garbles no other record.
        QTest::newRow("UTF-8 and Windows-1252 records mixed")
            << QByteArray("\xEF\xBB\xBF" "a@x,J\xC3\xB6rg,\xE2\x82\xAC\nb@x,J\xF6rg,\x80\nc@x,Ren\xC3\xA9")
            << QList<QStringList>{{"a@x", QString::fromUtf8("Jörg"), QString::fromUtf8("€")},
                                  {"b@x", QString::fromUtf8("Jörg"), QString::fromUtf8("€")},
                                  {"c@x", QString::fromUtf8("René")}};
        // A byte-order mark opening a value is dropped once, as decoding the value drops it.
        QTest::newRow("byte-order marks inside")
            << QByteArray("a@x,\xEF\xBB\xBF" "Co,\xEF\xBB\xBF\xEF\xBB\xBF" "Fn,\"\xEF\xBB\xBF\"\"q\"\"\",\xEF\xBB\xBF")
            << QList<QStringList>{{"a@x", "Co", QChar(0xFEFF) + QString("Fn"), "\"q\"", ""}};
    }
    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QStringList>, lines);
        DelimitedReader r;
        r.SetBytes(bytes);
        QList<QStringList> got;
        while (!r.AtEnd()) {
            QStringList line;
            QVERIFY(r.ReadLine(line));
            got << line;
        }
        QCOMPARE(got, lines);

        // The same values as UTF-8 bytes, none of them null.
        r.SetBytes(bytes);
        QList<QList<QByteArray>> bytesGot, bytesWanted;
        std::vector<QByteArrayView> line;
        while (!r.AtEnd()) {
            QVERIFY(r.ReadLineUtf8(line));
            QList<QByteArray> values;
            for (const QByteArrayView v : line) {
                QVERIFY(!v.isNull());
                values << v.toByteArray();
            }
            bytesGot << values;
        }
        for (const QStringList& l : lines) {
            QList<QByteArray> values;
            for (const QString& v : l) values << v.toUtf8();
            bytesWanted << values;
        }
        QCOMPARE(bytesGot, bytesWanted);
    }

    void valuesDecodedOneByOne()
    {
        QCOMPARE(readAll("J\xC3\xB6rg\nJ\xF6rg,\xE2\x82\xAC"),
                 (QStringList{QString::fromUtf8("Jörg"), QString::fromUtf8("Jörg"), QString::fromUtf8("€")}));
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

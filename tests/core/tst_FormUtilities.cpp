#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "core/FormUtilities.h"
#include "tests/support/TestMain.h"

namespace {

// A grid whose row can be set only to rows it has, as the grid control refuses others.
struct FakeGrid {
    int rows;
    int row;
    int Row() const { return row; }
    void SetRow(int r)
    {
        if (r < 0 || r >= rows) throw std::out_of_range("no such row");
        row = r;
    }
};

void writeFile(const QString& path, const QByteArray& text, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    if (executable) f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class TestFormUtilities : public QObject {
    Q_OBJECT

    QTemporaryDir xdg_;

private Q_SLOTS:
    void initTestCase()
    {
        // A desktop of our own: the user's defaults, one installed application list, and
        // programs on a PATH of our own. The system's MIME types stay readable.
        const QString x = xdg_.path();
        qputenv("XDG_CONFIG_HOME", (x + "/config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (x + "/etc").toUtf8());
        qputenv("XDG_DATA_HOME", (x + "/data").toUtf8());
        qputenv("XDG_DATA_DIRS", (x + "/share:/usr/share").toUtf8());
        qputenv("PATH", (x + "/bin").toUtf8());
        writeFile(x + "/bin/viewer", "#!/bin/sh\n", true);
        writeFile(x + "/opt/csv tool", "#!/bin/sh\n", true);
        writeFile(x + "/config/mimeapps.list",
                  "[Added Associations]\ntext/csv=wrong.desktop\n"
                  "[Default Applications]\ntext/csv=gone.desktop;hidden.desktop;vendor-csv.desktop\n");
        writeFile(x + "/etc/mimeapps.list", "[Default Applications]\ntext/csv=viewer.desktop\n");
        writeFile(x + "/data/applications/hidden.desktop", "[Desktop Entry]\nExec=viewer %f\nHidden=true\n");
        writeFile(x + "/share/applications/vendor/csv.desktop", "[Desktop Entry]\nName=CSV\nExec=\"" + (x + "/opt/csv tool").toUtf8() + "\" %f\n");
        writeFile(x + "/share/applications/viewer.desktop", "[Desktop Entry]\nExec=viewer --view %U\n");
        writeFile(x + "/share/applications/mimeinfo.cache", "[MIME Cache]\ntext/plain=viewer.desktop;\n");
        writeFile(x + "/files/list.csv", "a,b\n");
        writeFile(x + "/files/notes.txt", "notes\n");
        writeFile(x + "/files/data.tsv", "a\tb\n");
        writeFile(x + "/files/blob.zzz", QByteArray("\x00\x01\x02\x03", 4));
    }

    void pathPart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file in a folder") << "/home/ann/lists.db" << "/home/ann/";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("folder with a dot") << "data/sub.d/file" << "data/sub.d/";
        QTest::newRow("trailing slash") << "a/b/" << "a/b/";
        QTest::newRow("name only") << "lists.db" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("colon is a plain character") << "C:lists.mdb" << "";
        QTest::newRow("backslash is a plain character") << "C:\\Data\\lists.mdb" << "";
    }
    void pathPart()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(GetPathPart(path), folder);
    }

    void tempFolder()
    {
        const QByteArray saved = qgetenv("TMPDIR");
        const QString t = GetTempFolder().toString();
        QVERIFY(t.endsWith('/'));
        QCOMPARE(t, QDir::tempPath() + "/");
        // A path longer than any fixed buffer comes back whole.
        const QString deep = xdg_.path() + "/" + QString(100, 'd') + "/" + QString(100, 'e') + "/" + QString(100, 'f');
        QVERIFY(QDir().mkpath(deep));
        qputenv("TMPDIR", deep.toUtf8());
        QCOMPARE(GetTempFolder().toString(), deep + "/");
        qputenv("TMPDIR", saved);
    }

    void pixelsToTwips()
    {
        const QVariant v = PixelsToTwipsX(3);
        QCOMPARE(v.typeId(), int(QMetaType::Float));
        QCOMPARE(v.toFloat(), 45.0f);
        QCOMPARE(PixelsToTwipsX(0.5f).toFloat(), 7.5f);
    }

    void centerForm()
    {
        const QRect s = QGuiApplication::primaryScreen()->geometry();
        QWidget small;
        small.resize(s.width() / 2, s.height() / 2);
        CenterForm(small);
        QCOMPARE(small.frameGeometry().topLeft(), s.topLeft() + QPoint(s.width() / 4, s.height() / 4));
        QWidget wide;
        wide.resize(s.width() + 200, 100);
        CenterForm(wide);
        QCOMPARE(wide.frameGeometry().left(), s.left() - 100);
        QCOMPARE(wide.frameGeometry().top(), s.top() + (s.height() - 100) / 2);
    }

    void centerVertically_data()
    {
        QTest::addColumn<int>("refHeight");
        QTest::addColumn<int>("ctlTop");
        QTest::newRow("taller reference") << 40 << 20;
        QTest::newRow("odd difference") << 25 << 12;
        QTest::newRow("same height") << 20 << 10;
        QTest::newRow("shorter reference") << 8 << 10;
    }
    void centerVertically()
    {
        QFETCH(int, refHeight);
        QFETCH(int, ctlTop);
        QWidget form;
        QWidget ref(&form), ctl(&form);
        ref.setGeometry(5, 10, 50, refHeight);
        ctl.setGeometry(70, 99, 30, 20);
        CenterVertically(&ctl, &ref);
        QCOMPARE(ctl.geometry(), QRect(70, ctlTop, 30, 20));
        CenterVertically(nullptr, &ref);
        CenterVertically(&ctl, nullptr);
        QCOMPARE(ctl.geometry(), QRect(70, ctlTop, 30, 20));
    }

    void selectAllText()
    {
        QWidget form;
        auto* layout = new QVBoxLayout(&form);
        auto* edit = new QLineEdit("hello there");
        auto* plain = new QPlainTextEdit("two\nlines");
        auto* button = new QPushButton("OK");
        auto* combo = new QComboBox;
        combo->setEditable(true);
        combo->setEditText("typed");
        layout->addWidget(combo);
        layout->addWidget(edit);
        layout->addWidget(plain);
        layout->addWidget(button);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));

        edit->setFocus();
        edit->setCursorPosition(3);
        SelectAllText();
        QCOMPARE(edit->selectedText(), QString("hello there"));
        QCOMPARE(edit->selectionStart(), 0);

        plain->setFocus();
        SelectAllText();
        QCOMPARE(plain->textCursor().selectedText(), QString("two\u2029lines"));

        combo->setFocus();
        combo->lineEdit()->deselect();
        SelectAllText();
        QCOMPARE(combo->lineEdit()->selectedText(), QString("typed"));

        // A control without text is left alone.
        button->setFocus();
        SelectAllText();
        QCOMPARE(QApplication::focusWidget(), button);
    }

    void gridNextRow_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("after");
        QTest::newRow("middle row moves down") << 5 << 2 << 3;
        QTest::newRow("last row moves up") << 5 << 4 << 3;
        QTest::newRow("one row stays") << 1 << 0 << 0;
        QTest::newRow("no rows") << 0 << 0 << 0;
    }
    void gridNextRow()
    {
        QFETCH(int, rows);
        QFETCH(int, row);
        QFETCH(int, after);
        FakeGrid grid{rows, row};
        GridNextRow(grid);
        QCOMPARE(grid.row, after);
    }

    void associatedProgram_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("program");
        const QString x = xdg_.path();
        QTest::newRow("user's default, skipping missing and hidden entries") << "list.csv" << x + "/opt/csv tool";
        QTest::newRow("installed application from PATH") << "notes.txt" << x + "/bin/viewer";
        QTest::newRow("through the parent type") << "data.tsv" << x + "/bin/viewer";
        QTest::newRow("no program for the type") << "blob.zzz" << "";
        QTest::newRow("missing file") << "absent.csv" << "";
        QTest::newRow("no file name") << "" << "";
    }
    void associatedProgram()
    {
        QFETCH(QString, file);
        QFETCH(QString, program);
        QCOMPARE(GetAssociatedProgram(xdg_.path() + "/files", file), program);
    }
};

FERROWYN_TEST_MAIN(TestFormUtilities)
#include "tst_FormUtilities.moc"

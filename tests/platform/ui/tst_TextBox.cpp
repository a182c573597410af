#include <QApplication>
#include <QClipboard>
#include <QLineEdit>

#include <memory>

#include "platform/ui/DataGrid.h"
#include "platform/ui/TextBox.h"
#include "tests/support/TestMain.h"

using ui::TextBox;

class TestTextBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The limit holds for what the person types or pastes; what the program puts there stays
    // whole and can be shortened or partly replaced.
    void limitsTypingNeverTheProgramsText()
    {
        TextBox box;
        box.SetMaxLength(10);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.setFocus();

        const QString stored(100, QLatin1Char('s'));
        box.setText(stored);
        QCOMPARE(box.text(), stored);
        box.end(false);
        QTest::keyClicks(&box, QStringLiteral("xy"));
        QCOMPARE(box.text(), stored);
        QTest::keyClick(&box, Qt::Key_Backspace);
        QCOMPARE(box.text().size(), 99);
        // Replacing three characters with one keeps the text no longer than it was.
        box.setSelection(0, 3);
        QTest::keyClicks(&box, QStringLiteral("a"));
        QCOMPARE(box.text(), QStringLiteral("a") + QString(96, QLatin1Char('s')));

        box.clear();
        QTest::keyClicks(&box, QStringLiteral("abcdefghijkl"));
        QCOMPARE(box.text(), QStringLiteral("abcdefghij"));
        // A refused key leaves the undo history as it was.
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box.text(), QString());

        // A paste keeps what fits, from its beginning, wherever the cursor stands.
        box.setText(QStringLiteral("abcd"));
        box.setCursorPosition(2);
        QApplication::clipboard()->setText(QStringLiteral("123456789"));
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), QStringLiteral("ab123456cd"));
        QCOMPARE(box.cursorPosition(), 8);

        // No limit, no cut.
        box.SetMaxLength(0);
        QTest::keyClicks(&box, QString(20, QLatin1Char('z')));
        QCOMPARE(box.text().size(), 30);
    }

    // The grid's cell editor: a value longer than the column's limit is shown and committed
    // whole; typing adds nothing to it.
    void gridEditorKeepsALongValueWhole()
    {
        auto array = std::make_shared<ui::XArrayDB>();
        array->ReDim(1, 3, 0, 0);
        const QString stored(100, QLatin1Char('v'));
        array->SetValue(1, 0, stored);
        ui::DataGrid grid;
        grid.SetAllowUpdate(true);
        grid.Columns().Add(QStringLiteral("List Values"));
        grid.Columns(0).SetDataWidth(45);
        grid.SetArray(array);
        grid.ReBind();
        grid.resize(300, 200);
        grid.show();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        grid.setFocus();
        grid.SetBookmark(1);
        grid.SetCol(0);
        QTest::keyClick(&grid, Qt::Key_F2);
        auto* editor = grid.findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->text(), stored);
        editor->end(false);
        QTest::keyClick(editor, Qt::Key_W);
        grid.Update();
        QCOMPARE(array->Value(1, 0).toString(), stored);

        // A new value is typed up to the limit.
        grid.SetBookmark(2);
        QTest::keyClick(&grid, Qt::Key_N);
        editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, QString(49, QLatin1Char('n')));
        grid.Update();
        QCOMPARE(array->Value(2, 0).toString(), QString(45, QLatin1Char('n')));
    }
};

FERROWYN_TEST_MAIN(TestTextBox)
#include "tst_TextBox.moc"

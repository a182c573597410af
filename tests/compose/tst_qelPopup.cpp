#include <QScreen>
#include <QSignalSpy>
#include <QTextEdit>

#include "compose/Form17.h"
#include "compose/qelPopup.h"
#include "tests/compose/ComposeTestUtil.h"

using namespace composetest;

namespace {
// Panel twips of the middle of row r.
double rowY(int r) { return 60 + 300 * r + 150; }
} // namespace

class TestQelPopup : public QObject {
    Q_OBJECT
    QWidget host;

    void fill(qelPopup& p)
    {
        for (const char* item : {"Cut", "Copy", "Paste", "-", "Delete", "-", "Insert Text", "Insert Field"})
            p.AddItem(QString::fromLatin1(item));
    }

private Q_SLOTS:
    void initTestCase()
    {
        host.setGeometry(100, 100, 400, 300);
        host.show();
    }

    void choosing_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<int>("chosen");  // -1 none
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("item after separators keeps its index") << 1 << 500.0 << rowY(4) << 4 << false;
        QTest::newRow("first item") << 1 << 500.0 << rowY(0) << 0 << false;
        QTest::newRow("last item") << 1 << 500.0 << rowY(7) << 7 << false;
        QTest::newRow("separator") << 1 << 500.0 << rowY(3) << -1 << true;
        QTest::newRow("top margin") << 1 << 500.0 << 30.0 << -1 << true;
        QTest::newRow("below the list") << 1 << 500.0 << 60.0 + 300 * 8 + 500 << -1 << true;
        QTest::newRow("right button") << 2 << 500.0 << rowY(1) << -1 << true;
        QTest::newRow("left of the panel") << 1 << -15.0 << rowY(1) << -1 << false;
    }
    void choosing()
    {
        QFETCH(int, button);
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(int, chosen);
        QFETCH(bool, staysOpen);
        qelPopup p(&host);
        QSignalSpy spy(&p, &qelPopup::SelectionMade);
        int listAtSignal = -1;
        connect(&p, &qelPopup::SelectionMade, this, [&] { listAtSignal = p.ListCount(); });
        fill(p);
        p.Activate();
        QVERIFY(p.isVisible());
        QVERIFY(p.HasCapture());
        p.Picture1_MouseUp(button, 0, x, y);
        QCOMPARE(p.isVisible(), staysOpen);
        QCOMPARE(spy.size(), chosen < 0 ? 0 : 1);
        if (chosen >= 0) {
            QCOMPARE(spy.first().first().toInt(), chosen);
            QCOMPARE(listAtSignal, 0);  // hidden and emptied before the host hears of it
        }
        // Every hide lets go of the mouse; an open list keeps it.
        QCOMPARE(p.HasCapture(), staysOpen);
        QCOMPARE(p.ListCount(), staysOpen ? 8 : 0);
    }

    void escapeAndFocusLossHide()
    {
        qelPopup p(&host);
        QSignalSpy spy(&p, &qelPopup::SelectionMade);
        fill(p);
        p.Activate();
        p.KeyDown(27, 0);
        QVERIFY(!p.isVisible());
        QVERIFY(!p.HasCapture());
        fill(p);
        p.Activate();
        p.LostFocus();
        QVERIFY(!p.isVisible());
        QCOMPARE(p.ListCount(), 0);
        QCOMPARE(spy.size(), 0);
    }

    void sizeAndHighlight()
    {
        qelPopup p(&host);
        p.AddItem(QStringLiteral("A rather long item text for width"));
        p.Activate();
        const double wide = p.Width();
        QCOMPARE(p.Height(), 300.0 + 120);
        // An item added while shown starts a new list.
        p.AddItem(QStringLiteral("x"));
        QVERIFY(!p.isVisible());
        QCOMPARE(p.ListCount(), 1);
        p.AddItem(QStringLiteral("-"));
        p.Activate();
        QCOMPARE(p.Width(), wide);  // never narrower than its widest item so far
        p.Picture1_MouseMove(0, 0, 500, rowY(0));
        QCOMPARE(p.HighlightedRow(), 0);
        p.Picture1_MouseMove(0, 0, 500, rowY(1));
        QCOMPARE(p.HighlightedRow(), -1);  // a separator never lights
        p.Picture1_MouseMove(0, 0, p.Width() + 100, rowY(0));
        QCOMPARE(p.HighlightedRow(), -1);
        p.Picture1_MouseUp(1, 0, 500, rowY(0));
        p.Activate();  // nothing added since the choice
        QCOMPARE(p.Height(), 120.0);
    }

    void placedOnScreen()
    {
        qelPopup p(&host);
        fill(p);
        // Host coordinates become screen coordinates.
        p.SetLeft(30 * 15);
        p.SetTop(40 * 15);
        p.Activate();
        QCOMPARE(p.ScreenPosition(), host.mapToGlobal(QPoint(30, 40)));
        p.hide();

        const QRect screen = host.screen()->availableGeometry();
        fill(p);
        const QPoint nearCorner = host.mapFromGlobal(QPoint(screen.right() - 5, screen.bottom() - 5));
        p.SetLeft(nearCorner.x() * 15);
        p.SetTop(nearCorner.y() * 15);
        p.Activate();
        const QRect g = p.geometry();
        QCOMPARE(screen.bottom() + 1 - (g.bottom() + 1), 60);
        QCOMPARE(screen.right() + 1 - (g.right() + 1), 20);
    }

    void composerBodyMenu()
    {
        Form1* f = start();
        QVERIFY(f);
        {
            frmCompose c;
            c.txtMsg->setPlainText(QStringLiteral("abc"));
            c.txtMsg_MouseDown(2, 0, 150, 150);
            QCOMPARE(c.qelPopup1->ListCount(), 8);
            QVERIFY(c.qelPopup1->isVisible());
            c.qelPopup1->Picture1_MouseUp(1, 0, 500, rowY(7));
            QCOMPARE(scripted().dialogsShown, QStringList{QStringLiteral("Form17")});

            // The insert dialog puts the tag at the caret, replacing a selection.
            QTextCursor cur = c.txtMsg->textCursor();
            cur.setPosition(1);
            cur.setPosition(2, QTextCursor::KeepAnchor);
            c.txtMsg->setTextCursor(cur);
            Form17 d(c);
            int website = 0;
            for (int r = 1; r <= d.MergeFields->UpperBound(1); ++r)
                if (d.MergeFields->Value(r, 0).toString() == QStringLiteral("WEBSITE")) website = r;
            QVERIFY(website > 0);
            d.TDBGrid1->SetBookmark(website);
            d.TDBGrid1_DblClick();
            QCOMPARE(c.txtMsg->toPlainText(), QStringLiteral("a<%WEBSITE>c"));
        }
        end();
    }
};

FERROWYN_TEST_MAIN(TestQelPopup)
#include "tst_qelPopup.moc"

#include <QMouseEvent>
#include <QTextEdit>

#include "core/TreeKeys.h"
#include "platform/mail/MAPIFolder.h"
#include "tests/mainwindow/Form1TestUtil.h"

using namespace form1test;

namespace {
// Every placed widget shows the model's rectangle and Visible flag, in pixels by the one rule.
void checkWidgetsFollowLayout(Form1* f)
{
    f->Layout().forEachControl([f](Form1Layout::Control c, const ControlGeometry& g) {
        QWidget* w = f->widgetOf(c);
        QVERIFY2(w, Form1Layout::name(c));
        // The header goes with the preview: without it, it keeps no room.
        const bool preview = f->AddressListMode == 0 && f->mnuViewMessagePane->isChecked();
        if (c == Form1Layout::Control::msgPaneHeader && !preview)
            QCOMPARE(w->geometry(), QRect(Form1Layout::toPixels(g).topLeft(), QSize(0, 0)));
        else
            QCOMPARE(w->geometry(), Form1Layout::toPixels(g));
        QVERIFY2(w->isHidden() == !g.Visible, Form1Layout::name(c));
    });
    QCOMPARE(f->StatusBar1->PanelWidth(1), double(f->Layout().StatusBar1Panel1Width));
    QCOMPARE(f->StatusBar1->PanelWidth(2), double(f->Layout().StatusBar1Panel2Width));
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
} // namespace

class TestForm1Panes : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start();
        QVERIFY(f);
        f->resize(900, 640);
        QCoreApplication::processEvents();
    }
    void cleanupTestCase() { end(); }

    void panesPerModeAndView_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("folders");
        QTest::addColumn<bool>("preview");
        QTest::newRow("folders and preview") << 0 << true << true;
        QTest::newRow("folders only") << 0 << true << false;
        QTest::newRow("preview without folders") << 0 << false << true;
        QTest::newRow("grid alone") << 0 << false << false;
        QTest::newRow("address list") << 1 << true << true;
    }
    void panesPerModeAndView()
    {
        QFETCH(int, mode);
        QFETCH(bool, folders);
        QFETCH(bool, preview);
        click(f, mode == 1 ? ListFolderKey(1) : f->InboxFolder->EntryID());
        QCOMPARE(f->AddressListMode, mode);
        if (f->mnuViewFolderList->isChecked() != folders) f->mnuViewFolderList->trigger();
        if (f->mnuViewMessagePane->isChecked() != preview) f->mnuViewMessagePane->trigger();
        QCOMPARE(f->mnuViewFolderList->isChecked(), folders);
        QCOMPARE(f->mnuViewMessagePane->isChecked(), preview);
        checkWidgetsFollowLayout(f);
        QCOMPARE(f->TreeView1->isHidden(), !folders);
        QCOMPARE(f->TDBGrid2->isHidden(), mode == 0);
        QCOMPARE(f->TDBGrid1->isHidden(), mode == 1);
        if (mode == 0) QCOMPARE(f->hDiv1->isHidden(), !preview);
        f->resize(700, 500);
        QCoreApplication::processEvents();
        checkWidgetsFollowLayout(f);
        f->resize(900, 640);
        QCoreApplication::processEvents();
        if (!f->mnuViewFolderList->isChecked()) f->mnuViewFolderList->trigger();
        if (!f->mnuViewMessagePane->isChecked()) f->mnuViewMessagePane->trigger();
    }

    void draggingTheVerticalBarMovesThePanes()
    {
        click(f, f->InboxFolder->EntryID());
        const int treeBefore = f->TreeView1->width();
        const float leftBefore = f->Layout().vDiv1.Left;
        sendMouse(f->vDiv1, QEvent::MouseButtonPress, {2, 20}, Qt::LeftButton, Qt::LeftButton);
        sendMouse(f->vDiv1, QEvent::MouseMove, {82, 20}, Qt::NoButton, Qt::LeftButton);
        sendMouse(f->vDiv1, QEvent::MouseButtonRelease, {82, 20}, Qt::LeftButton, Qt::NoButton);
        QVERIFY(f->Layout().vDiv1.Left > leftBefore);
        QVERIFY(f->TreeView1->width() > treeBefore);
        QCOMPARE(f->TDBGrid1->x(), f->vDiv1->x() + f->vDiv1->width());
        checkWidgetsFollowLayout(f);
    }

    void draggingTheHorizontalBarMovesThePreview()
    {
        const int gridBefore = f->TDBGrid1->height();
        sendMouse(f->hDiv1, QEvent::MouseButtonPress, {50, 2}, Qt::LeftButton, Qt::LeftButton);
        sendMouse(f->hDiv1, QEvent::MouseMove, {50, -60}, Qt::NoButton, Qt::LeftButton);
        sendMouse(f->hDiv1, QEvent::MouseButtonRelease, {50, -60}, Qt::LeftButton, Qt::NoButton);
        QVERIFY(f->TDBGrid1->height() < gridBefore);
        checkWidgetsFollowLayout(f);
    }
};

FERROWYN_TEST_MAIN(TestForm1Panes)
#include "tst_Form1Panes.moc"

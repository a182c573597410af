// The main window as it is seen and touched: grids that take no typing, the preview header that
// goes with the preview, the toolbar's icons, the address columns of a wide window, the icon.
// Each test leaves a picture in shots/ of its working folder.
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QToolBar>
#include <QToolButton>

#include "core/TreeKeys.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
// The widget of the window's client area under a point of the given widget.
QWidget* widgetUnder(Form1* f, QWidget* from, QPoint at)
{
    QWidget* client = f->centralWidget();
    return client->childAt(from->mapTo(client, at));
}

bool inside(QWidget* w, QWidget* ancestor)
{
    for (; w; w = w->parentWidget())
        if (w == ancestor) return true;
    return false;
}

// The point of a grid cell, in the grid's viewport.
QPoint cellPoint(ui::DataGrid* g, int row, int col)
{
    const int modelRow = row - g->Array()->LowerBound(1);
    return g->visualRect(g->model()->index(modelRow, col)).center();
}
} // namespace

class TestForm1Look : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox, master;

    void showMessages()
    {
        click(f, master);
        click(f, inbox);
        if (!f->mnuViewMessagePane->isChecked()) f->mnuViewMessagePane_Click();
        QCOMPARE(f->xa->UpperBound(1), 6);
    }

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            seedInbox(home, 6);
        });
        QVERIFY(f);
        sql("INSERT INTO MasterList (Email, SortName, City) VALUES "
            "('firstname.lastname.department@subdomain.example-organisation.org', 'Lastname, Firstname', 'Paris'), "
            "('a@example.org', 'Able', 'Rome')");
        inbox = keyOf(f, "Inbox");
        master = keyOf(f, "Master List");
        f->resize(1000, 700);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }
    void cleanupTestCase() { end(); }

    // A typed key or a double-click in the main window's grids opens no cell editor: a change
    // there would not be saved, and a bulk send would mail what was typed.
    void gridsAreNeverEditedInPlace_data()
    {
        QTest::addColumn<bool>("messages");
        QTest::newRow("message grid") << true;
        QTest::newRow("address grid") << false;
    }
    void gridsAreNeverEditedInPlace()
    {
        QFETCH(bool, messages);
        if (messages) showMessages();
        else click(f, master);
        ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
        ui::XArrayDB& rows = messages ? *f->xa : *f->ex;
        QVERIFY(g->isVisible());
        const int col = messages ? 5 : 1;
        const QVariant before = rows.Value(1, col);
        const QVariant mark = rows.Value(1, 0);
        g->setFocus();
        g->SetBookmark(1);
        g->SetCol(col);
        // The double-click opens the message or the address as always; no window is wanted here.
        const auto display = mail::Hooks().display;
        mail::Hooks().display = [](const mail::MailItemPtr&, bool) {};
        QTest::keyClick(g, Qt::Key_X);
        QTest::keyClick(g, Qt::Key_F2);
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, cellPoint(g, 1, col));
        QVERIFY(!g->findChild<QLineEdit*>());
        // The picture column of the first cell changes on no click either.
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellPoint(g, 1, 0));
        g->Update();
        QCOMPARE(rows.Value(1, col), before);
        QCOMPARE(rows.Value(1, 0), mark);
        QVERIFY(!testsupport::SaveShot(f, messages ? "grid-messages" : "grid-addresses").isEmpty());
        mail::Hooks().display = display;
    }

    // With the preview off the header strip is gone from the grid: it catches none of its clicks,
    // not even after a row's texts were read again.
    void headerLeavesWithThePreview()
    {
        showMessages();
        f->TDBGrid1_MouseButton(1, 0, 300, rowY(f->TDBGrid1, 2));
        QVERIFY(f->msgPaneHeader->isVisible() && f->msgPaneHeader->width() > 0);
        const QRect header = f->msgPaneHeader->geometry();
        f->mnuViewMessagePane->trigger();
        QVERIFY(!f->mnuViewMessagePane->isChecked());
        QVERIFY(f->TDBGrid1->geometry().contains(header.center()));
        QVERIFY(inside(widgetUnder(f, f->centralWidget(), header.center()), f->TDBGrid1));
        // Clicking a row reads its texts into the header, which stays out of the way.
        f->TDBGrid1_MouseButton(1, 0, 300, rowY(f->TDBGrid1, 3));
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Message 3"));
        QVERIFY(inside(widgetUnder(f, f->centralWidget(), header.center()), f->TDBGrid1));
        const QPoint rowFour = f->TDBGrid1->viewport()->mapTo(f->centralWidget(), rowPoint(f->TDBGrid1, 4));
        QVERIFY(inside(widgetUnder(f, f->centralWidget(), rowFour), f->TDBGrid1));
        QVERIFY(!testsupport::SaveShot(f, "preview-off").isEmpty());

        // Back on (the bar takes its new place), the header is there again above the body.
        f->mnuViewMessagePane->trigger();
        QVERIFY(f->mnuViewMessagePane->isChecked());
        const QRect back = f->msgPaneHeader->geometry();
        QCOMPARE(back.size(), header.size());
        QCOMPARE(back.bottom() + 1, f->msgPane->y());
        QVERIFY(inside(widgetUnder(f, f->centralWidget(), back.center()), f->msgPaneHeader));
        QVERIFY(!testsupport::SaveShot(f, "preview-on").isEmpty());
    }

    // The header's captions are bold and shown whole, their values beside them and not bold.
    void headerCaptionsAreBold()
    {
        showMessages();
        f->TDBGrid1_MouseButton(1, 0, 300, rowY(f->TDBGrid1, 2));
        const QList<std::pair<QLabel*, QLabel*>> pairs{{f->Label1, f->lblMessageHeaderFrom},
                                                       {f->Label2, f->lblMessageHeaderTo},
                                                       {f->Label3, f->lblMessageHeaderSubject},
                                                       {f->Label4, f->lblMessageHeaderCC}};
        for (const auto& [caption, value] : pairs) {
            QVERIFY2(caption->font().bold(), qPrintable(caption->text()));
            QVERIFY2(caption->width() >= caption->fontMetrics().horizontalAdvance(caption->text()), qPrintable(caption->text()));
            QVERIFY2(value->x() > caption->geometry().right() + 1, qPrintable(caption->text()));
            QVERIFY(!value->font().bold());
        }
        QVERIFY(f->lblMessageHeaderFrom->geometry().right() < f->Label2->x());
        QVERIFY(!testsupport::SaveShot(f->msgPaneHeader, "preview-header").isEmpty());
    }

    void switchingThePreviewReloadsTheRowBothWays()
    {
        showMessages();
        f->TDBGrid1_MouseButton(1, 0, 300, rowY(f->TDBGrid1, 4));
        for (int round = 0; round < 2; ++round) {
            f->lblMessageHeaderSubject->setText(QStringLiteral("stale"));
            f->mnuViewMessagePane->trigger();
            QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Message 4"));
        }
        QVERIFY(f->mnuViewMessagePane->isChecked());
    }

    void toolbarShowsIconsWithItsTexts()
    {
        const QStringList captions{"New Address", "New Folder", "Compose", "Open", "Reply", "Print", "Delete", "Get Mail",
                                   "Properties", "Help"};
        QStringList texts;
        for (QAction* a : f->Toolbar1->actions()) {
            texts << a->text();
            QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
            QCOMPARE(a->toolTip(), a->text());
            auto* button = qobject_cast<QToolButton*>(f->Toolbar1->widgetForAction(a));
            QVERIFY(button);
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
            // The label is shown whole.
            QVERIFY(button->width() >= button->fontMetrics().horizontalAdvance(a->text()));
        }
        QCOMPARE(texts, captions);
        // The panes start below the taller toolbar.
        QVERIFY(f->SSPanel2->y() >= f->Toolbar1->geometry().bottom());
        QVERIFY(!testsupport::SaveShot(f->Toolbar1, "toolbar").isEmpty());
    }

    void wideWindowShowsWholeAddresses()
    {
        click(f, master);
        f->resize(1600, 900);
        QCoreApplication::processEvents();
        QVERIFY(f->TDBGrid2->isVisible());
        QCOMPARE(f->ex->UpperBound(1), 2);
        for (int r = 1; r <= 2; ++r) {
            for (int c : {1, 2}) {
                const QModelIndex i = f->TDBGrid2->model()->index(r - 1, c);
                const int need = f->TDBGrid2->fontMetrics().horizontalAdvance(i.data().toString()) + 12;
                QVERIFY2(f->TDBGrid2->columnWidth(c) >= need, qPrintable(i.data().toString()));
            }
        }
        // The columns fill the grid: nothing much is left over at the right.
        int used = 0;
        for (int c = 0; c < 4; ++c) used += f->TDBGrid2->columnWidth(c);
        QVERIFY(used > f->TDBGrid2->viewport()->width() - 40);
        QVERIFY(used <= f->TDBGrid2->viewport()->width());
        QVERIFY(!testsupport::SaveShot(f, "addresses-1600").isEmpty());

        // A narrow window keeps the columns at their design widths.
        f->resize(600, 500);
        QCoreApplication::processEvents();
        QCOMPARE(f->TDBGrid2->Columns(1).Width(), 3600.0);
        QCOMPARE(f->TDBGrid2->Columns(2).Width(), 2400.0);
        f->resize(1000, 700);
        QCoreApplication::processEvents();
    }

    void windowsCarryTheIcon()
    {
        QVERIFY(!f->windowIcon().isNull());
        QCOMPARE(f->windowIcon().availableSizes().size(), 6);
        QDialog other;
        QVERIFY(!other.windowIcon().isNull());
    }
};

FERROWYN_TEST_MAIN(TestForm1Look)
#include "tst_Form1Look.moc"

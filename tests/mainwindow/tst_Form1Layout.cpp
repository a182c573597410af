#include <QtTest>

#include <limits>

#include "mainwindow/Form1Layout.h"
#include "tests/support/TestMain.h"

using C = Form1Layout::Control;

namespace {

// A typical window: 800 x 555 pixels of client area, toolbar 780 and status bar 330 twips high,
// so the header strip ends at 1095 and the status bar starts at 8000.
void typicalWindow(Form1Layout& f)
{
    f.ScaleWidth = 12000;
    f.ScaleHeight = 8330;
    f.Toolbar1.Height = 780;
    f.StatusBar1.Height = 330;
    f.PlaceControlsAtLoad();
}

QRectF r(float l, float t, float w, float h) { return QRectF(l, t, w, h); }

} // namespace

class TestForm1Layout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutPerModeAndView_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("folders");
        QTest::addColumn<bool>("preview");
        // Visible: TreeView1, lblLeftPane, vDiv1+vDiv2, hDiv1+hDiv2, TDBGrid1, TDBGrid2.
        QTest::addColumn<QString>("shown");
        QTest::addColumn<float>("paneLeft");
        QTest::addColumn<float>("captionLeft");

        QTest::newRow("messages, folders and preview") << 0 << true << true << "TLVHG-" << 3195.f << 3195.f;
        QTest::newRow("messages, folders only") << 0 << true << false << "TLV-G-" << 3195.f << 3195.f;
        QTest::newRow("messages, preview only") << 0 << false << true << "---HG-" << 0.f << 30.f;
        QTest::newRow("messages, grid alone") << 0 << false << false << "----G-" << 0.f << 30.f;
        for (int v = 0; v < 4; ++v)
            QTest::addRow("address list, view items %d", v)
                << 1 << bool(v & 1) << bool(v & 2) << "TLV--A" << 3195.f << 3195.f;
    }

    void layoutPerModeAndView()
    {
        QFETCH(int, mode);
        QFETCH(bool, folders);
        QFETCH(bool, preview);
        QFETCH(QString, shown);
        QFETCH(float, paneLeft);
        QFETCH(float, captionLeft);

        Form1Layout f;
        typicalWindow(f);
        f.AddressListMode = mode;
        f.mnuViewFolderListChecked = folders;
        f.mnuViewMessagePaneChecked = preview;
        f.Form_Resize();

        QCOMPARE(f.TreeView1.Visible, shown[0] == 'T');
        QCOMPARE(f.lblLeftPane.Visible, shown[1] == 'L');
        QCOMPARE(f.vDiv1.Visible, shown[2] == 'V');
        QCOMPARE(f.vDiv2.Visible, shown[2] == 'V');
        QCOMPARE(f.hDiv1.Visible, shown[3] == 'H');
        QCOMPARE(f.hDiv2.Visible, shown[3] == 'H');
        QCOMPARE(f.TDBGrid1.Visible, shown[4] == 'G');
        QCOMPARE(f.TDBGrid2.Visible, shown[5] == 'A');

        // Panel 1 follows the vertical split even while the folder list is hidden.
        QCOMPARE(f.StatusBar1Panel1Width, 3120.f);
        QCOMPARE(f.StatusBar1Panel2Width, 8880.f);
        QCOMPARE(f.StatusBar1.rect(), r(0, 8000, 12000, 330));
        QCOMPARE(f.Toolbar1.rect(), r(0, 0, 12000, 780));
        QCOMPARE(f.lblRightPane.Left, captionLeft);
        QCOMPARE(f.lblRightPane.Top, 52.5f);

        const ControlGeometry& grid = mode ? f.TDBGrid2 : f.TDBGrid1;
        QCOMPARE(grid.Left, paneLeft);
        QCOMPARE(grid.Top, 1095.f);
        QCOMPARE(grid.Width, 12000 - paneLeft);
        QCOMPARE(grid.Height, preview && !mode ? 4860.f - 1095 : 8000.f - 1095);
    }

    void rectanglesWithFoldersAndPreview()
    {
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();

        QCOMPARE(f.SSPanel2.rect(), r(0, 780, 12000, 315));
        QCOMPARE(f.TreeView1.rect(), r(0, 1095, 3120, 6905));
        QCOMPARE(f.vDiv1.rect(), r(3120, 1095, 75, 6905));
        QCOMPARE(f.vDiv2.rect(), f.vDiv1.rect());
        QCOMPARE(f.TDBGrid1.rect(), r(3195, 1095, 8805, 3765));
        QCOMPARE(f.hDiv1.rect(), r(3195, 4860, 8805, 75));
        QCOMPARE(f.hDiv2.rect(), f.hDiv1.rect());
        QCOMPARE(f.msgPaneHeader.rect(), r(3195, 4935, 8805, 615));
        QCOMPARE(f.msgPane.rect(), r(3195, 5550, 8805, 2450));
        QCOMPARE(f.WebBrowser1.rect(), f.msgPane.rect());
        // The header was painted for its new width.
        QCOMPARE(f.Toolbar2.Left, 8805.f - 315 - 45);
    }

    void rectanglesWithoutFolderList()
    {
        Form1Layout f;
        typicalWindow(f);
        f.SSPanel2.Left = 500;
        f.mnuViewFolderListChecked = false;
        f.Form_Resize();

        QCOMPARE(f.SSPanel2.rect(), r(0, 780, 12000, 315));
        QCOMPARE(f.TDBGrid1.rect(), r(0, 1095, 12000, 3765));
        QCOMPARE(f.hDiv1.rect(), r(0, 4860, 12000, 75));
        QCOMPARE(f.hDiv2.rect(), f.hDiv1.rect());
        QCOMPARE(f.msgPaneHeader.rect(), r(0, 4935, 12000, 615));
        QCOMPARE(f.msgPane.rect(), r(0, 5550, 12000, 2450));
        QCOMPARE(f.WebBrowser1.rect(), f.msgPane.rect());
        QCOMPARE(f.Toolbar2.Left, 12000.f - 315 - 45);
        // The hidden bars and folder list are not moved.
        QCOMPARE(f.vDiv1.Left, 3120.f);
        QCOMPARE(f.TreeView1.rect(), r(0, 1095, 3120, 6905));
    }

    void oneGridLayoutsLeaveThePreviewAlone_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("folders");
        QTest::newRow("folders only") << 0 << true;
        QTest::newRow("grid alone") << 0 << false;
        QTest::newRow("address list") << 1 << true;
    }

    void oneGridLayoutsLeaveThePreviewAlone()
    {
        QFETCH(int, mode);
        QFETCH(bool, folders);
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();
        const Form1Layout before = f;

        f.AddressListMode = mode;
        f.mnuViewFolderListChecked = folders;
        f.mnuViewMessagePaneChecked = false;
        f.ScaleWidth = 15000;
        f.Form_Resize();

        for (C c : {C::msgPaneHeader, C::msgPane, C::WebBrowser1, C::Toolbar2}) {
            QCOMPARE(f.geometry(c).rect(), before.geometry(c).rect());
            QCOMPARE(f.geometry(c).Visible, before.geometry(c).Visible);
        }
        QCOMPARE(f.hDiv1.rect(), before.hDiv1.rect());
    }

    void tinyWindowKeepsRefusedValues()
    {
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();
        const Form1Layout big = f;

        // 100 x 40 pixels: narrower than the split, shorter than the header strip.
        f.ScaleWidth = 1500;
        f.ScaleHeight = 600;
        f.Form_Resize();

        QCOMPARE(f.StatusBar1.Top, 270.f);
        QCOMPARE(f.StatusBar1.Width, 1500.f);
        QCOMPARE(f.Toolbar1.Width, 1500.f);
        // Negative sizes refused: previous values kept.
        QCOMPARE(f.TDBGrid1.Width, big.TDBGrid1.Width);
        QCOMPARE(f.TreeView1.Height, big.TreeView1.Height);
        QCOMPARE(f.vDiv1.Height, big.vDiv1.Height);
        QCOMPARE(f.msgPane.Height, big.msgPane.Height);
        QCOMPARE(f.msgPaneHeader.Width, big.msgPaneHeader.Width);
        QCOMPARE(f.StatusBar1Panel2Width, big.StatusBar1Panel2Width);
        // Later steps read the value actually held.
        QCOMPARE(f.WebBrowser1.Height, big.msgPane.Height);
        QCOMPARE(f.WebBrowser1.Width, big.msgPane.Width);
        QCOMPARE(f.Toolbar2.Left, big.Toolbar2.Left);
        // Positions still follow.
        QCOMPARE(f.msgPane.Top, 5550.f);
        QCOMPARE(f.TreeView1.Width, 3120.f);
    }

    void smallFirstWindowNeverGoesNegative()
    {
        const QList<QSizeF> sizes = {{0, 0}, {1500, 600}, {3000, 1200}, {-300, -300}};
        for (const QSizeF& s : sizes) {
            for (int v = 0; v < 5; ++v) {
                Form1Layout f;
                f.Toolbar1.Height = 780;
                f.StatusBar1.Height = 330;
                f.ScaleWidth = float(s.width());
                f.ScaleHeight = float(s.height());
                f.PlaceControlsAtLoad();
                f.AddressListMode = v == 4;
                f.mnuViewFolderListChecked = v & 1;
                f.mnuViewMessagePaneChecked = v & 2;
                f.Form_Resize();
                QStringList negative;
                f.forEachControl([&](C c, const ControlGeometry& g) {
                    if (g.Width < 0 || g.Height < 0)
                        negative << QLatin1String(Form1Layout::name(c));
                });
                QVERIFY2(negative.isEmpty(), qPrintable(negative.join(u' ')));
                QVERIFY(f.StatusBar1Panel1Width >= 0);
                QVERIFY(f.StatusBar1Panel2Width >= 0);
            }
        }
    }

    void horizontalDrag()
    {
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();
        QList<C> raised;
        f.BringToFront = [&](C c) { raised << c; };

        f.hDiv1_MouseDown(1, 0, 10, 0);
        QCOMPARE(f.hDiv1BackColor, Form1Layout::ColorAppWorkspace);
        f.hDiv1_MouseMove(1, 0, 10, 400);
        QCOMPARE(f.hDiv1.Top, 5060.f);
        f.hDiv1_MouseMove(1, 0, 10, 0);
        QCOMPARE(f.hDiv1.Top, 5060.f);
        f.hDiv1_MouseMove(3, 0, 10, 400); // left with another button: no move
        QCOMPARE(f.hDiv1.Top, 5060.f);
        // Nothing else moves during the drag.
        QCOMPARE(f.hDiv2.Top, 4860.f);
        QCOMPARE(f.TDBGrid1.Height, 3765.f);

        f.hDiv1_MouseUp(1, 0, 10, 0);
        QCOMPARE(f.hDiv1BackColor, Form1Layout::ColorButtonFace);
        QCOMPARE(f.hDiv2.rect(), f.hDiv1.rect());
        QCOMPARE(f.TDBGrid1.Height, 5060.f - 1095);
        QCOMPARE(f.msgPaneHeader.Top, 5135.f);
        QCOMPARE(raised, (QList<C>{C::hDiv1, C::hDiv1}));

        // Above the top of the grid: grid height refused, the preview follows the bar.
        f.hDiv1_MouseDown(1, 0, 0, 0);
        f.hDiv1_MouseMove(1, 0, 0, 2 * (500.f - 5060));
        f.hDiv1_MouseUp(1, 0, 0, 0);
        QCOMPARE(f.hDiv1.Top, 500.f);
        QCOMPARE(f.TDBGrid1.Height, 5060.f - 1095);
        QCOMPARE(f.msgPaneHeader.Top, 575.f);
        QCOMPARE(f.msgPane.rect(), r(3195, 1190, 8805, 8000 - 1190));

        // The twin only raises the real bar.
        raised.clear();
        f.hDiv2_MouseDown(1, 0, 0, 0);
        QCOMPARE(raised, QList<C>{C::hDiv1});
        QCOMPARE(f.hDiv1BackColor, Form1Layout::ColorButtonFace);
    }

    void verticalDrag()
    {
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();

        // Right button: recoloured while pressed, no move, layout on release.
        f.vDiv1_MouseDown(2, 0, 0, 0);
        QCOMPARE(f.vDiv1BackColor, Form1Layout::ColorAppWorkspace);
        f.vDiv1_MouseMove(2, 0, 400, 0);
        QCOMPARE(f.vDiv1.Left, 3120.f);
        f.ScaleWidth = 13500;
        f.vDiv1_MouseUp(2, 0, 0, 0);
        QCOMPARE(f.vDiv1BackColor, Form1Layout::ColorButtonFace);
        QCOMPARE(f.TDBGrid1.Width, 13500.f - 3195);

        f.vDiv1_MouseDown(1, 0, 0, 0);
        f.vDiv1_MouseMove(1, 0, 400, 0);
        QCOMPARE(f.vDiv1.Left, 3320.f);
        QCOMPARE(f.vDiv2.Left, 3120.f);
        f.vDiv1_MouseUp(1, 0, 0, 0);
        QCOMPARE(f.StatusBar1Panel1Width, 3320.f);
        QCOMPARE(f.TreeView1.Width, 3320.f);
        QCOMPARE(f.vDiv2.rect(), f.vDiv1.rect());
        QCOMPARE(f.TDBGrid1.Left, 3395.f);

        // Beyond the left edge: tree width refused, the right pane starts after the bar.
        f.vDiv1_MouseMove(1, 0, 2 * (-600.f - 3320), 0);
        f.vDiv1_MouseUp(1, 0, 0, 0);
        QCOMPARE(f.vDiv1.Left, -600.f);
        QCOMPARE(f.TreeView1.Width, 3320.f);
        QCOMPARE(f.TDBGrid1.Left, -525.f);
        QCOMPARE(f.msgPane.Left, -525.f);
        QCOMPARE(f.StatusBar1Panel1Width, 3320.f);
    }

    void runawayDragIsRefused()
    {
        Form1Layout f;
        typicalWindow(f);
        f.Form_Resize();
        const float inf = std::numeric_limits<float>::infinity();
        for (float d : {3e38f, inf, -inf, std::numeric_limits<float>::quiet_NaN()}) {
            f.vDiv1_MouseMove(1, 0, d, 0);
            f.hDiv1_MouseMove(1, 0, 0, d);
        }
        QCOMPARE(f.vDiv1.Left, 3120.f);
        QCOMPARE(f.hDiv1.Top, 4860.f);
        f.Form_Resize();
        QCOMPARE(f.TDBGrid1.rect(), r(3195, 1095, 8805, 3765));
    }

    void viewFolderList()
    {
        Form1Layout f;
        typicalWindow(f);
        f.vDiv1.Left = 4000;
        f.Form_Resize();

        f.mnuViewFolderList_Click();
        QVERIFY(!f.mnuViewFolderListChecked);
        QVERIFY(!f.TreeView1.Visible);
        QCOMPARE(f.vDiv1.Left, 4000.f);
        QCOMPARE(f.TDBGrid1.Left, 0.f);

        f.mnuViewFolderList_Click();
        QVERIFY(f.mnuViewFolderListChecked);
        QVERIFY(f.TreeView1.Visible);
        QCOMPARE(f.vDiv1.Left, 2880.f);
        QCOMPARE(f.TreeView1.Width, 2880.f);
        QCOMPARE(f.TDBGrid1.Left, 2955.f);
    }

    void viewMessagePreview()
    {
        Form1Layout f;
        typicalWindow(f);
        f.WebBrowser1.Visible = true;
        f.Form_Resize();

        f.mnuViewMessagePane_Click();
        QVERIFY(!f.mnuViewMessagePaneChecked);
        QVERIFY(!f.msgPane.Visible);
        QVERIFY(!f.WebBrowser1.Visible);
        QVERIFY(f.msgPaneHeader.Visible);
        QVERIFY(!f.hDiv1.Visible && !f.hDiv2.Visible);
        QCOMPARE(f.TDBGrid1.Height, 8000.f - 1095);

        // Back on: the bar goes to the formula's place, replacing a dragged position.
        f.hDiv1.Top = 6000;
        f.mnuViewMessagePane_Click();
        QVERIFY(f.mnuViewMessagePaneChecked);
        QCOMPARE(f.hDiv1.Top, 3490.f);
        QVERIFY(f.hDiv1.Visible);
        QCOMPARE(f.TDBGrid1.Height, 3490.f - 1095);
        QCOMPARE(f.msgPaneHeader.Top, 3565.f);
    }

    void viewItemsInAddressListMode()
    {
        Form1Layout f;
        typicalWindow(f);
        f.AddressListMode = 1;
        f.Form_Resize();

        f.mnuViewFolderList_Click();
        f.mnuViewMessagePane_Click();
        QVERIFY(!f.mnuViewFolderListChecked);
        QVERIFY(!f.mnuViewMessagePaneChecked);
        QVERIFY(f.TreeView1.Visible && f.TDBGrid2.Visible && !f.TDBGrid1.Visible);

        f.mnuViewFolderList_Click();
        f.mnuViewMessagePane_Click();
        QCOMPARE(f.vDiv1.Left, 2880.f);
        QCOMPARE(f.hDiv1.Top, 3490.f);
        QCOMPARE(f.TDBGrid2.rect(), r(2955, 1095, 12000 - 2955, 8000 - 1095));
    }

    void headerFrame()
    {
        Form1Layout f;
        f.msgPaneHeader.Width = 8000;
        const auto lines = f.msgPaneHeader_Paint();
        using L = Form1Layout::HeaderLine;
        const auto dark = Form1Layout::ColorAppWorkspace;
        const auto light = Form1Layout::ColorWindow;
        const std::array<L, 6> want = {{
            {{0, 0}, {8000, 0}, dark},
            {{0, 15}, {8000, 15}, light},
            {{0, 0}, {0, 615}, dark},
            {{15, 15}, {15, 615}, light},
            {{7985, 15}, {7985, 615}, light},
            {{7970, 30}, {7970, 615}, dark},
        }};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(lines[i].from, want[i].from);
            QCOMPARE(lines[i].to, want[i].to);
            QCOMPARE(lines[i].color, want[i].color);
        }
        QCOMPARE(f.Toolbar2.Left, 7640.f);
        QCOMPARE(f.Toolbar2.Top, 180.f);
        QVERIFY(!f.Toolbar2.Visible); // placed even while hidden

        f.msgPaneHeader.Width = 200;
        f.msgPaneHeader_Paint();
        QCOMPARE(f.Toolbar2.Left, -160.f);
        QCOMPARE(f.lblMessageHeaderFrom.rect(), r(660, 120, 2835, 195));
    }

    void pixels()
    {
        QCOMPARE(Form1Layout::toPixels(52.5f), 4);
        QCOMPARE(Form1Layout::toPixels(-22.5f), -2);
        QCOMPARE(Form1Layout::toTwips(208), 3120.f);

        // A half-pixel split: tree, bar and grid still tile without gap or overlap.
        Form1Layout f;
        typicalWindow(f);
        f.vDiv1.Left = 3127.5f;
        f.Form_Resize();
        const QRect tree = Form1Layout::toPixels(f.TreeView1);
        const QRect bar = Form1Layout::toPixels(f.vDiv1);
        const QRect grid = Form1Layout::toPixels(f.TDBGrid1);
        QCOMPARE(tree.left() + tree.width(), bar.left());
        QCOMPARE(bar.left() + bar.width(), grid.left());
        QCOMPARE(grid.left() + grid.width(), 800);

        ControlGeometry odd;
        odd.Width = -30;
        odd.Left = std::numeric_limits<float>::infinity();
        QCOMPARE(Form1Layout::toPixels(odd), QRect(0, 0, 0, 0));
        QCOMPARE(Form1Layout::toPixels(QPointF(7985, 15)), QPoint(532, 1));
    }
};

FERROWYN_TEST_MAIN(TestForm1Layout)
#include "tst_Form1Layout.moc"

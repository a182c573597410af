#include "mainwindow/Form1Layout.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Beyond this a coordinate no longer fits the window system; such an assignment is refused
// like an overflow, so that a runaway drag cannot poison later arithmetic.
constexpr float MaxTwips = 2.0e9f;

bool inRange(float v) { return std::isfinite(v) && std::fabs(v) <= MaxTwips; }

bool setSize(float& field, float v)
{
    if (!inRange(v) || v < 0)
        return false;
    field = v;
    return true;
}

bool setPos(float& field, float v)
{
    if (!inRange(v))
        return false;
    field = v;
    return true;
}

} // namespace

bool ControlGeometry::setLeft(float v) { return setPos(Left, v); }
bool ControlGeometry::setTop(float v) { return setPos(Top, v); }
bool ControlGeometry::setWidth(float v) { return setSize(Width, v); }
bool ControlGeometry::setHeight(float v) { return setSize(Height, v); }

Form1Layout::Form1Layout()
{
    vDiv1.Left = 3120;
    vDiv1.Width = 75;
    vDiv2.Left = 3120;
    vDiv2.Width = 75;
    hDiv1.Top = 4860;
    hDiv1.Height = 75;
    hDiv2.Top = 4860;
    hDiv2.Height = 75;
    SSPanel2.Height = 315;
    lblLeftPane.Height = 210;
    lblRightPane.Height = 210;
    msgPaneHeader.Height = 615;

    const auto place = [](ControlGeometry& g, float l, float t, float w, float h) {
        g.Left = l;
        g.Top = t;
        g.Width = w;
        g.Height = h;
    };
    place(Label1, 60, 120, 495, 195);
    place(lblMessageHeaderFrom, 660, 120, 2835, 195);
    place(Label2, 3660, 120, 375, 195);
    place(lblMessageHeaderTo, 4080, 120, 2835, 195);
    place(Label3, 60, 360, 495, 195);
    place(lblMessageHeaderSubject, 660, 360, 2835, 195);
    place(Label4, 3660, 360, 315, 195);
    place(lblMessageHeaderCC, 4080, 360, 2835, 195);
    place(Toolbar2, 0, 180, 315, 330);
    // Shown by the preview only when a message has attachments / is HTML.
    Toolbar2.Visible = false;
    WebBrowser1.Visible = false;
}

ControlGeometry& Form1Layout::geometry(Control c)
{
    return const_cast<ControlGeometry&>(std::as_const(*this).geometry(c));
}

const ControlGeometry& Form1Layout::geometry(Control c) const
{
    switch (c) {
    case Control::Toolbar1: return Toolbar1;
    case Control::SSPanel2: return SSPanel2;
    case Control::lblLeftPane: return lblLeftPane;
    case Control::lblRightPane: return lblRightPane;
    case Control::TreeView1: return TreeView1;
    case Control::vDiv1: return vDiv1;
    case Control::vDiv2: return vDiv2;
    case Control::hDiv1: return hDiv1;
    case Control::hDiv2: return hDiv2;
    case Control::TDBGrid1: return TDBGrid1;
    case Control::TDBGrid2: return TDBGrid2;
    case Control::msgPaneHeader: return msgPaneHeader;
    case Control::msgPane: return msgPane;
    case Control::WebBrowser1: return WebBrowser1;
    case Control::StatusBar1: return StatusBar1;
    case Control::Toolbar2: return Toolbar2;
    case Control::Label1: return Label1;
    case Control::lblMessageHeaderFrom: return lblMessageHeaderFrom;
    case Control::Label2: return Label2;
    case Control::lblMessageHeaderTo: return lblMessageHeaderTo;
    case Control::Label3: return Label3;
    case Control::lblMessageHeaderSubject: return lblMessageHeaderSubject;
    case Control::Label4: return Label4;
    case Control::lblMessageHeaderCC: return lblMessageHeaderCC;
    }
    return Toolbar1;
}

const char* Form1Layout::name(Control c)
{
    static constexpr const char* names[ControlCount] = {
        "Toolbar1", "SSPanel2", "lblLeftPane", "lblRightPane", "TreeView1", "vDiv1", "vDiv2",
        "hDiv1", "hDiv2", "TDBGrid1", "TDBGrid2", "msgPaneHeader", "msgPane", "WebBrowser1",
        "StatusBar1", "Toolbar2", "Label1", "lblMessageHeaderFrom", "Label2",
        "lblMessageHeaderTo", "Label3", "lblMessageHeaderSubject", "Label4",
        "lblMessageHeaderCC",
    };
    const int i = int(c);
    return i >= 0 && i < ControlCount ? names[i] : "";
}

void Form1Layout::forEachControl(
    const std::function<void(Control, const ControlGeometry&)>& fn) const
{
    for (int i = 0; i < ControlCount; ++i)
        fn(Control(i), geometry(Control(i)));
}

void Form1Layout::PlaceControlsAtLoad()
{
    SSPanel2.setLeft(ScaleLeft);
    SSPanel2.setWidth(ScaleWidth - SSPanel2.Left);
    SSPanel2.setTop(Toolbar1.Top + Toolbar1.Height);

    lblLeftPane.setLeft(ScaleLeft);
    lblLeftPane.setTop((SSPanel2.Height - lblLeftPane.Height) / 2);

    StatusBar1.setTop(ScaleHeight - StatusBar1.Height);
    StatusBar1.setLeft(ScaleLeft);
    StatusBar1.setWidth(ScaleWidth - ScaleLeft);

    vDiv1.setTop(SSPanel2.Top + SSPanel2.Height);
    vDiv1.setHeight(StatusBar1.Top - vDiv1.Top);
    vDiv2.setTop(vDiv1.Top);
    vDiv2.setWidth(vDiv1.Width);
    vDiv2.setHeight(vDiv1.Height);
    vDiv2.setLeft(vDiv1.Left);

    hDiv1.setLeft(vDiv1.Left + vDiv1.Width);
    hDiv1.setWidth(ScaleWidth - hDiv1.Left);
    hDiv2.setLeft(hDiv1.Left);
    hDiv2.setWidth(hDiv1.Width);
    hDiv2.setHeight(hDiv1.Height);

    TreeView1.setTop(SSPanel2.Top + SSPanel2.Height);
    TreeView1.setLeft(ScaleLeft);
    TreeView1.setWidth(vDiv1.Left - TreeView1.Left);
    TreeView1.setHeight(StatusBar1.Top - TreeView1.Top);

    lblRightPane.setLeft(vDiv1.Left + vDiv1.Width);
    lblRightPane.setTop((SSPanel2.Height - lblRightPane.Height) / 2);
    lblRightPane.setHeight(lblLeftPane.Height);

    TDBGrid1.setLeft(vDiv1.Left + vDiv1.Width);
    TDBGrid1.setTop(SSPanel2.Top + SSPanel2.Height);
    TDBGrid1.setHeight(hDiv1.Top - TDBGrid1.Top);
    TDBGrid1.setWidth(ScaleWidth - (vDiv1.Left + vDiv1.Width));
}

void Form1Layout::Form_Resize()
{
    if (AddressListMode != 0) {
        FormResizeAddressList();
        return;
    }
    if (mnuViewFolderListChecked) {
        if (mnuViewMessagePaneChecked)
            FormResizeFoldersAndPreview();
        else
            FormResizeFoldersOnly();
    } else {
        if (mnuViewMessagePaneChecked)
            FormResize3();
        else
            FormResize4();
    }
}

// Toolbar, header strip, status bar and both vertical bars: shared by the three layouts that
// show the folder list.
static void placeFrameAndVerticalBars(Form1Layout& f)
{
    f.Toolbar1.setLeft(f.ScaleLeft);
    f.Toolbar1.setWidth(f.ScaleWidth);
    f.Toolbar1.setTop(f.ScaleTop);
    f.SSPanel2.setWidth(f.ScaleWidth - f.SSPanel2.Left);
    f.StatusBar1.setTop(f.ScaleHeight - f.StatusBar1.Height);
    f.StatusBar1.setLeft(f.ScaleLeft);
    f.StatusBar1.setWidth(f.ScaleWidth);
    f.vDiv1.setTop(f.SSPanel2.Top + f.SSPanel2.Height);
    f.vDiv1.setHeight(f.StatusBar1.Top - f.vDiv1.Top);
    f.vDiv2.setHeight(f.vDiv1.Height);
    f.vDiv2.setLeft(f.vDiv1.Left);
    f.vDiv2.setWidth(f.vDiv1.Width);
    f.vDiv2.setTop(f.vDiv1.Top);
}

// Toolbar, header strip (moved to the left edge) and status bar of the two layouts without the
// folder list.
static void placeFrameFullWidth(Form1Layout& f)
{
    f.Toolbar1.setLeft(f.ScaleLeft);
    f.Toolbar1.setWidth(f.ScaleWidth);
    f.Toolbar1.setTop(f.ScaleTop);
    f.SSPanel2.setLeft(f.ScaleLeft);
    f.SSPanel2.setWidth(f.ScaleWidth - f.SSPanel2.Left);
    f.StatusBar1.setTop(f.ScaleHeight - f.StatusBar1.Height);
    f.StatusBar1.setLeft(f.ScaleLeft);
    f.StatusBar1.setWidth(f.ScaleWidth);
}

static void placeStatusPanels(Form1Layout& f)
{
    setSize(f.StatusBar1Panel1Width, f.vDiv1.Left);
    setSize(f.StatusBar1Panel2Width, f.StatusBar1.Width - f.StatusBar1Panel1Width);
}

void Form1Layout::FormResizeFoldersAndPreview()
{
    hDiv1.Visible = true;
    hDiv2.Visible = true;
    TreeView1.Visible = true;
    lblLeftPane.Visible = true;
    vDiv1.Visible = true;
    vDiv2.Visible = true;
    TDBGrid1.Visible = true;
    TDBGrid2.Visible = false;
    placeFrameAndVerticalBars(*this);
    hDiv1.setLeft(vDiv1.Left + vDiv1.Width);
    hDiv1.setWidth(ScaleWidth - hDiv1.Left);
    hDiv2.setLeft(hDiv1.Left);
    hDiv2.setTop(hDiv1.Top);
    hDiv2.setWidth(hDiv1.Width);
    hDiv2.setHeight(hDiv1.Height);
    lblRightPane.setLeft(vDiv1.Left + vDiv1.Width);
    lblRightPane.setTop((SSPanel2.Height - lblRightPane.Height) / 2);
    TreeView1.setLeft(ScaleLeft);
    TreeView1.setTop(SSPanel2.Top + SSPanel2.Height);
    TreeView1.setHeight(StatusBar1.Top - TreeView1.Top);
    TreeView1.setWidth(vDiv1.Left - TreeView1.Left);
    msgPaneHeader.setLeft(vDiv1.Left + vDiv1.Width);
    msgPaneHeader.setTop(hDiv1.Top + hDiv1.Height);
    msgPaneHeader.setWidth(ScaleWidth - msgPaneHeader.Left);
    msgPane.setLeft(vDiv1.Left + vDiv1.Width);
    msgPane.setTop(msgPaneHeader.Top + msgPaneHeader.Height);
    msgPane.setHeight(StatusBar1.Top - msgPane.Top);
    msgPane.setWidth(ScaleWidth - msgPane.Left);
    WebBrowser1.setLeft(msgPane.Left);
    WebBrowser1.setTop(msgPane.Top);
    WebBrowser1.setHeight(msgPane.Height);
    WebBrowser1.setWidth(msgPane.Width);
    TDBGrid1.setTop(SSPanel2.Top + SSPanel2.Height);
    TDBGrid1.setLeft(vDiv1.Left + vDiv1.Width);
    TDBGrid1.setWidth(ScaleWidth - TDBGrid1.Left);
    TDBGrid1.setHeight(hDiv1.Top - TDBGrid1.Top);
    placeStatusPanels(*this);
    msgPaneHeader_Paint();
}

// The folder list beside one grid that reaches down to the status bar.
static void foldersAndOneGrid(Form1Layout& f, ControlGeometry& grid, bool messages)
{
    f.hDiv1.Visible = false;
    f.hDiv2.Visible = false;
    f.TreeView1.Visible = true;
    f.lblLeftPane.Visible = true;
    f.vDiv1.Visible = true;
    f.vDiv2.Visible = true;
    f.TDBGrid1.Visible = messages;
    f.TDBGrid2.Visible = !messages;
    placeFrameAndVerticalBars(f);
    f.lblRightPane.setLeft(f.vDiv1.Left + f.vDiv1.Width);
    f.lblRightPane.setTop((f.SSPanel2.Height - f.lblRightPane.Height) / 2);
    f.TreeView1.setLeft(f.ScaleLeft);
    f.TreeView1.setTop(f.SSPanel2.Top + f.SSPanel2.Height);
    f.TreeView1.setHeight(f.StatusBar1.Top - f.TreeView1.Top);
    f.TreeView1.setWidth(f.vDiv1.Left - f.TreeView1.Left);
    grid.setTop(f.SSPanel2.Top + f.SSPanel2.Height);
    grid.setLeft(f.vDiv1.Left + f.vDiv1.Width);
    grid.setWidth(f.ScaleWidth - grid.Left);
    grid.setHeight(f.StatusBar1.Top - grid.Top);
    placeStatusPanels(f);
}

void Form1Layout::FormResizeFoldersOnly() { foldersAndOneGrid(*this, TDBGrid1, true); }

void Form1Layout::FormResizeAddressList() { foldersAndOneGrid(*this, TDBGrid2, false); }

void Form1Layout::FormResize3()
{
    hDiv1.Visible = true;
    hDiv2.Visible = true;
    vDiv1.Visible = false;
    vDiv2.Visible = false;
    TreeView1.Visible = false;
    lblLeftPane.Visible = false;
    TDBGrid1.Visible = true;
    TDBGrid2.Visible = false;
    placeFrameFullWidth(*this);
    hDiv1.setLeft(ScaleLeft);
    hDiv1.setWidth(ScaleWidth - hDiv1.Left);
    hDiv2.setLeft(hDiv1.Left);
    hDiv2.setTop(hDiv1.Top);
    hDiv2.setWidth(hDiv1.Width);
    hDiv2.setHeight(hDiv1.Height);
    lblRightPane.setLeft(2 * TwipsPerPixelX);
    lblRightPane.setTop((SSPanel2.Height - lblRightPane.Height) / 2);
    msgPaneHeader.setLeft(ScaleLeft);
    msgPaneHeader.setTop(hDiv1.Top + hDiv1.Height);
    msgPaneHeader.setWidth(ScaleWidth);
    msgPane.setLeft(ScaleLeft);
    msgPane.setTop(msgPaneHeader.Top + msgPaneHeader.Height);
    msgPane.setHeight(StatusBar1.Top - msgPane.Top);
    msgPane.setWidth(ScaleWidth - msgPane.Left);
    WebBrowser1.setLeft(msgPane.Left);
    WebBrowser1.setTop(msgPane.Top);
    WebBrowser1.setHeight(msgPane.Height);
    WebBrowser1.setWidth(msgPane.Width);
    TDBGrid1.setTop(SSPanel2.Top + SSPanel2.Height);
    TDBGrid1.setLeft(ScaleLeft);
    TDBGrid1.setWidth(ScaleWidth - TDBGrid1.Left);
    TDBGrid1.setHeight(hDiv1.Top - TDBGrid1.Top);
    placeStatusPanels(*this);
    msgPaneHeader_Paint();
}

void Form1Layout::FormResize4()
{
    hDiv1.Visible = false;
    hDiv2.Visible = false;
    vDiv1.Visible = false;
    vDiv2.Visible = false;
    TreeView1.Visible = false;
    lblLeftPane.Visible = false;
    TDBGrid1.Visible = true;
    TDBGrid2.Visible = false;
    placeFrameFullWidth(*this);
    lblRightPane.setLeft(2 * TwipsPerPixelX);
    lblRightPane.setTop((SSPanel2.Height - lblRightPane.Height) / 2);
    TDBGrid1.setTop(SSPanel2.Top + SSPanel2.Height);
    TDBGrid1.setLeft(ScaleLeft);
    TDBGrid1.setWidth(ScaleWidth - TDBGrid1.Left);
    TDBGrid1.setHeight(StatusBar1.Top - TDBGrid1.Top);
    placeStatusPanels(*this);
}

std::array<Form1Layout::HeaderLine, 6> Form1Layout::msgPaneHeader_Paint()
{
    // The header draws in its own coordinates: origin 0, 0 and its full size.
    const float L = 0;
    const float T = 0;
    const float W = msgPaneHeader.Width;
    const float H = msgPaneHeader.Height;
    const float px = TwipsPerPixelX;
    const float py = TwipsPerPixelY;
    const std::array<HeaderLine, 6> lines = {{
        {{L, T}, {W, T}, ColorAppWorkspace},
        {{L, T + py}, {W, T + py}, ColorWindow},
        {{L, T}, {L, H}, ColorAppWorkspace},
        {{L + px, T + py}, {L + px, H}, ColorWindow},
        {{W - px, T + py}, {W - px, H}, ColorWindow},
        {{W - 2 * px, T + 2 * py}, {W - 2 * px, H}, ColorAppWorkspace},
    }};
    Toolbar2.setLeft(W - Toolbar2.Width - 3 * TwipsPerPixelX);
    return lines;
}

void Form1Layout::hDiv1_MouseDown(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::hDiv1);
    hDiv1BackColor = ColorAppWorkspace;
}

void Form1Layout::hDiv1_MouseMove(int Button, int, float, float Y)
{
    if (Button == 1)
        hDiv1.setTop(hDiv1.Top + Y / 2);
}

void Form1Layout::hDiv1_MouseUp(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::hDiv1);
    hDiv1BackColor = ColorButtonFace;
    Form_Resize();
}

void Form1Layout::hDiv2_MouseDown(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::hDiv1);
}

void Form1Layout::vDiv1_MouseDown(int, int, float, float)
{
    vDiv1BackColor = ColorAppWorkspace;
    if (BringToFront)
        BringToFront(Control::vDiv1);
}

void Form1Layout::vDiv1_MouseMove(int Button, int, float X, float)
{
    if (Button == 1)
        vDiv1.setLeft(vDiv1.Left + X / 2);
}

void Form1Layout::vDiv1_MouseUp(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::vDiv1);
    vDiv1BackColor = ColorButtonFace;
    Form_Resize();
}

void Form1Layout::vDiv2_MouseDown(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::vDiv1);
}

void Form1Layout::vDiv2_MouseUp(int, int, float, float)
{
    if (BringToFront)
        BringToFront(Control::vDiv1);
}

void Form1Layout::mnuViewFolderList_Click()
{
    if (mnuViewFolderListChecked) {
        mnuViewFolderListChecked = false;
    } else {
        vDiv1.setLeft(2880);
        mnuViewFolderListChecked = true;
    }
    Form_Resize();
}

void Form1Layout::mnuViewMessagePane_Click()
{
    if (mnuViewMessagePaneChecked) {
        mnuViewMessagePaneChecked = false;
        msgPane.Visible = false;
        WebBrowser1.Visible = false;
    } else {
        hDiv1.setTop((StatusBar1.Top - (SSPanel2.Top + SSPanel2.Height)) / 2 + hDiv1.Height / 2);
        mnuViewMessagePaneChecked = true;
    }
    Form_Resize();
}

namespace {

// Pixels of a twips value with qRound(twips / 15.0), held well inside int so that edge
// differences cannot overflow.
double pixelsOf(float twips)
{
    if (!std::isfinite(twips))
        return 0;
    constexpr double Limit = 1.0e9;
    return std::clamp(double(twips) / 15.0, -Limit, Limit);
}

} // namespace

int Form1Layout::toPixels(float twips) { return qRound(pixelsOf(twips)); }

QRect Form1Layout::toPixels(const ControlGeometry& g)
{
    const int left = toPixels(g.Left);
    const int top = toPixels(g.Top);
    const int right = toPixels(g.Left + g.Width);
    const int bottom = toPixels(g.Top + g.Height);
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

QPoint Form1Layout::toPixels(const QPointF& twips)
{
    return QPoint(toPixels(float(twips.x())), toPixels(float(twips.y())));
}

#pragma once
// Geometry of the main window's panes, kept apart from the widgets so that it can be computed
// and checked without a window. Everything is in twips (15 twips = 1 pixel) as float; Form1 copies
// the result onto its widgets with Form1Layout::toPixels after each call.
//
// Use from Form1:
//   - keep ScaleWidth/ScaleHeight (client size in twips) and the bar heights that the widgets
//     report (Toolbar1.Height, StatusBar1.Height) up to date, then call Form_Resize();
//   - forward the splitter bars' mouse events and the two View items to the handlers below;
//   - after each call, apply every control's rectangle and Visible flag (forEachControl) and the
//     two status-panel widths. The preview owns the Visible flags of msgPaneHeader, msgPane,
//     WebBrowser1 and Toolbar2: it sets them here, the layouts never do (the View item hides
//     msgPane and WebBrowser1). No layout sets the widths of lblLeftPane and lblRightPane:
//     Form1 gives them the widths its captions need.
#include <QRect>
#include <QRectF>

#include <array>
#include <cstdint>
#include <functional>

// A control's extent in twips; positions of lblLeftPane and lblRightPane are relative to SSPanel2,
// those of the header's children to msgPaneHeader, all others to the form's client area.
struct ControlGeometry {
    float Left = 0;
    float Top = 0;
    float Width = 0;
    float Height = 0;
    bool Visible = true;

    // Assignments as a control takes them: a negative width or height, a value that is not
    // finite or one too large for a coordinate is refused and the old value kept.
    // Return whether the value was taken.
    bool setLeft(float v);
    bool setTop(float v);
    bool setWidth(float v);
    bool setHeight(float v);

    QRectF rect() const { return QRectF(Left, Top, Width, Height); }
};

class Form1Layout {
public:
    // Controls that the layouts place, in the order forEachControl visits them.
    enum class Control {
        Toolbar1,
        SSPanel2,
        lblLeftPane,
        lblRightPane,
        TreeView1,
        vDiv1,
        vDiv2,
        hDiv1,
        hDiv2,
        TDBGrid1,
        TDBGrid2,
        msgPaneHeader,
        msgPane,
        WebBrowser1,
        StatusBar1,
        Toolbar2,
        Label1,
        lblMessageHeaderFrom,
        Label2,
        lblMessageHeaderTo,
        Label3,
        lblMessageHeaderSubject,
        Label4,
        lblMessageHeaderCC,
    };
    static constexpr int ControlCount = int(Control::lblMessageHeaderCC) + 1;

    // System colour references the bars and the header frame use.
    static constexpr std::uint32_t ColorAppWorkspace = 0x8000000C;
    static constexpr std::uint32_t ColorButtonFace = 0x8000000F;
    static constexpr std::uint32_t ColorWindow = 0x80000005;

    // One line of the header's frame, in the header's own twips (origin at its top-left corner).
    struct HeaderLine {
        QPointF from;
        QPointF to;
        std::uint32_t color;
    };

    // Design values: bars at 3120 / 4860, 75 thick; strip 315, captions 210, header 615 high;
    // header labels and Toolbar2 at their fixed places. Toolbar2 and WebBrowser1 start hidden.
    Form1Layout();

    // --- controls -------------------------------------------------------------------------
    ControlGeometry Toolbar1, SSPanel2, lblLeftPane, lblRightPane, TreeView1;
    ControlGeometry vDiv1, vDiv2, hDiv1, hDiv2;
    ControlGeometry TDBGrid1, TDBGrid2;
    ControlGeometry msgPaneHeader, msgPane, WebBrowser1, StatusBar1;
    // Children of msgPaneHeader.
    ControlGeometry Toolbar2, Label1, lblMessageHeaderFrom, Label2, lblMessageHeaderTo, Label3,
        lblMessageHeaderSubject, Label4, lblMessageHeaderCC;
    // Widths of StatusBar1's two panels (panel 1 under the folder list).
    float StatusBar1Panel1Width = 0;
    float StatusBar1Panel2Width = 0;
    // Colours of the two real bars; application workspace while pressed.
    std::uint32_t vDiv1BackColor = ColorButtonFace;
    std::uint32_t hDiv1BackColor = ColorButtonFace;

    // --- state the layouts read -----------------------------------------------------------
    int AddressListMode = 0;                 // 1 while a list folder's addresses are shown
    bool mnuViewFolderListChecked = true;    // "View Folder List..."
    bool mnuViewMessagePaneChecked = true;   // "View Message Preview"
    float ScaleLeft = 0;
    float ScaleTop = 0;
    float ScaleWidth = 0;
    float ScaleHeight = 0;
    float TwipsPerPixelX = 15;
    float TwipsPerPixelY = 15;

    // Called where the window brings a bar to the front of its stacking order (Form1 raises the
    // widget). May be left empty.
    std::function<void(Control)> BringToFront;

    ControlGeometry& geometry(Control c);
    const ControlGeometry& geometry(Control c) const;
    static const char* name(Control c);
    void forEachControl(const std::function<void(Control, const ControlGeometry&)>& fn) const;

    // --- first placement at load (before the first Resize) ---------------------------------
    void PlaceControlsAtLoad();

    // --- layouts ----------------------------------------------------------------------------
    // Picks and runs one of the five layouts from AddressListMode and the two View items.
    void Form_Resize();
    void FormResizeFoldersAndPreview();
    void FormResizeFoldersOnly();
    void FormResizeAddressList();
    void FormResize3();
    void FormResize4();

    // Frame of the preview header for its current size; also keeps Toolbar2 against the
    // header's right edge. The layouts with the preview call it last.
    std::array<HeaderLine, 6> msgPaneHeader_Paint();

    // --- splitter bars (Button: 1 left, 2 right, 4 middle; X, Y in twips from the bar's corner)
    void hDiv1_MouseDown(int Button, int Shift, float X, float Y);
    void hDiv1_MouseMove(int Button, int Shift, float X, float Y);
    void hDiv1_MouseUp(int Button, int Shift, float X, float Y);
    void hDiv2_MouseDown(int Button, int Shift, float X, float Y);
    void vDiv1_MouseDown(int Button, int Shift, float X, float Y);
    void vDiv1_MouseMove(int Button, int Shift, float X, float Y);
    void vDiv1_MouseUp(int Button, int Shift, float X, float Y);
    void vDiv2_MouseDown(int Button, int Shift, float X, float Y);
    void vDiv2_MouseUp(int Button, int Shift, float X, float Y);

    // --- View menu ----------------------------------------------------------------------------
    // Both toggle the tick, set the split position when a pane comes back and run Form_Resize.
    // After mnuViewMessagePane_Click the caller reloads the preview of TDBGrid1's current row
    // when the message grid has rows.
    void mnuViewFolderList_Click();
    void mnuViewMessagePane_Click();

    // --- pixels -------------------------------------------------------------------------------
    // One rounding rule everywhere: qRound(twips / 15.0). A rectangle's edges are rounded, so
    // panes that share an edge in twips share it in pixels too.
    static int toPixels(float twips);
    static QRect toPixels(const ControlGeometry& g);
    static QPoint toPixels(const QPointF& twips);
    static float toTwips(int pixels) { return float(pixels) * 15.0f; }
};

#pragma once
// A small popup list standing in for a context menu: the host fills it, places it at a point of
// its own client area (twips) and activates it; a left click on an item hides the list and
// reports the item's 0-based index (separators "-" count). Every hide empties the list and lets
// go of the mouse.
//
// The list is a frameless top-level window placed in screen coordinates, so it is never clipped
// by its host. Mouse positions given to the handlers are twips relative to the panel.
#include <QStringList>
#include <QWidget>

class qelPopup : public QWidget {
    Q_OBJECT
public:
    explicit qelPopup(QWidget* host);
    ~qelPopup() override;

    // Not read by anything; the window's id.
    qint64 hwnd() const { return qint64(winId()); }
    void Clear();
    void AddItem(const QString& text);
    void Activate();

    // Position in the host's client coordinates, twips.
    double Left() const { return left_; }
    double Top() const { return top_; }
    void SetLeft(double twips) { left_ = twips; }
    void SetTop(double twips) { top_ = twips; }
    // Size in twips (valid once shown).
    double Width() const { return width_; }
    double Height() const { return height_; }

    int ListCount() const { return int(items_.size()); }
    QString List(int index) const { return items_.value(index); }
    double WidestCaption() const { return widest_; }
    // The highlighted row, -1 for none.
    int HighlightedRow() const { return highlighted_; }
    bool HasCapture() const { return captured_; }
    // Where the list stands on the screen, pixels.
    QPoint ScreenPosition() const { return pos(); }

    // Handlers, positions in panel twips; Button 1 left, 2 right.
    void Picture1_MouseMove(int Button, int Shift, double X, double Y);
    void Picture1_MouseUp(int Button, int Shift, double X, double Y);
    void Picture1_MouseDown(int Button, int Shift, double X, double Y);
    void KeyDown(int KeyCode, int Shift);
    void LostFocus();

Q_SIGNALS:
    void SelectionMade(int Index);
    void FocusLost();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    int rowAt(double x, double y) const;
    void capture();
    void release();
    void show_();
    double innerWidth() const { return width_; }

    QWidget* host_;
    QStringList items_;
    double widest_ = 0;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int highlighted_ = -1;
    bool captured_ = false;
};

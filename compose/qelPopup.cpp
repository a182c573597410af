#include "compose/qelPopup.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>

namespace {
constexpr double kTw = 15.0;  // twips per pixel
constexpr double kRow = 300;
constexpr double kMargin = 60;
const QColor kGrey(192, 192, 192);

int px(double twips) { return qRound(twips / kTw); }

int buttonOf(Qt::MouseButton b) { return b == Qt::LeftButton ? 1 : b == Qt::RightButton ? 2 : b == Qt::MiddleButton ? 4 : 0; }
} // namespace

qelPopup::qelPopup(QWidget* host)
    : QWidget(host, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), host_(host)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setMouseTracking(true);
    hide();
}

qelPopup::~qelPopup() { release(); }

void qelPopup::Clear()
{
    items_.clear();
    highlighted_ = -1;
}

void qelPopup::AddItem(const QString& text)
{
    // An item added while the list shows starts a new list.
    if (isVisible()) hide();
    items_.append(text);
    const double w = fontMetrics().horizontalAdvance(text) * kTw;
    if (w > widest_) widest_ = w;
}

void qelPopup::Activate()
{
    if (!isVisible()) show_();
    activateWindow();
    setFocus(Qt::PopupFocusReason);
}

void qelPopup::show_()
{
    height_ = items_.size() * kRow + 120;
    width_ = widest_ + 300 + 360;
    highlighted_ = -1;

    // Host client coordinates to the screen; kept on the screen the host is on.
    QPoint global = host_ ? host_->mapToGlobal(QPoint(px(left_), px(top_))) : QPoint(px(left_), px(top_));
    const QScreen* screen = host_ && host_->screen() ? host_->screen() : QGuiApplication::primaryScreen();
    const QRect sr = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const double screenW = sr.width() * kTw, screenH = sr.height() * kTw;
    double gTop = (global.y() - sr.top()) * kTw;
    double gLeft = (global.x() - sr.left()) * kTw;
    if (gTop + height_ > screenH - 30 * kTw) gTop = screenH - height_ - 60 * kTw;
    if (gLeft + width_ > screenW) gLeft = screenW - width_ - 20 * kTw;
    const QPoint placed(sr.left() + px(gLeft), sr.top() + px(gTop));
    if (host_) {
        const QPoint local = host_->mapFromGlobal(placed);
        left_ = local.x() * kTw;
        top_ = local.y() * kTw;
    }
    setGeometry(QRect(placed, QSize(std::max(1, px(width_)), std::max(1, px(height_)))));
    show();
    raise();
    capture();
}

void qelPopup::capture()
{
    if (!isVisible()) return;
    grabMouse();
    captured_ = true;
}

void qelPopup::release()
{
    if (!captured_) return;
    releaseMouse();
    captured_ = false;
}

int qelPopup::rowAt(double x, double y) const
{
    if (x < 0 || x > innerWidth()) return -1;
    return int(std::floor((y - kMargin) / kRow));
}

void qelPopup::Picture1_MouseMove(int, int, double X, double Y)
{
    const int r = rowAt(X, Y);
    highlighted_ = (r >= 0 && r < items_.size() && items_[r] != QLatin1String("-")) ? r : -1;
    update();
}

void qelPopup::Picture1_MouseDown(int, int, double, double) { capture(); }

void qelPopup::Picture1_MouseUp(int Button, int, double X, double Y)
{
    if (!isVisible()) return;
    const int r = rowAt(X, Y);
    if (Button != 1) {
        capture();
        return;
    }
    if (r >= 0 && r < items_.size()) {
        if (items_[r] == QLatin1String("-")) return;
        hide();
        Q_EMIT SelectionMade(r);
        return;
    }
    if (X < 0 || X > innerWidth()) hide();
}

void qelPopup::KeyDown(int KeyCode, int)
{
    if (KeyCode == 27 && isVisible()) hide();
}

void qelPopup::LostFocus()
{
    if (isVisible()) hide();
    Q_EMIT FocusLost();
}

void qelPopup::hideEvent(QHideEvent* e)
{
    // Whatever hid the list: the mouse goes back to everyone and the list empties.
    release();
    Clear();
    QWidget::hideEvent(e);
}

void qelPopup::mouseMoveEvent(QMouseEvent* e)
{
    Picture1_MouseMove(buttonOf(e->button()), 0, e->position().x() * kTw, e->position().y() * kTw);
}

void qelPopup::mousePressEvent(QMouseEvent* e)
{
    Picture1_MouseDown(buttonOf(e->button()), 0, e->position().x() * kTw, e->position().y() * kTw);
}

void qelPopup::mouseReleaseEvent(QMouseEvent* e)
{
    Picture1_MouseUp(buttonOf(e->button()), 0, e->position().x() * kTw, e->position().y() * kTw);
}

void qelPopup::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) KeyDown(27, 0);
    else QWidget::keyPressEvent(e);
}

void qelPopup::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    if (isVisible()) LostFocus();
}

void qelPopup::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kGrey);
    const int w = width(), h = height();
    for (int i = 0; i < items_.size(); ++i) {
        const QRect row(px(kMargin), px(kMargin + i * kRow), w - px(2 * kMargin), px(kRow));
        const QRect caption(px(kMargin + kRow), row.top(), row.width() - px(kRow), row.height());
        if (items_[i] == QLatin1String("-")) {
            const int y = caption.center().y();
            p.setPen(QPen(QColor(128, 128, 128), 1));
            p.drawLine(caption.left(), y, caption.right() - px(kMargin), y);
            p.setPen(QPen(Qt::white, 1));
            p.drawLine(caption.left(), y + 1, caption.right() - px(kMargin), y + 1);
            continue;
        }
        const bool hi = i == highlighted_;
        if (hi) p.fillRect(row, Qt::black);
        p.setPen(hi ? Qt::white : Qt::black);
        p.drawText(caption.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, items_[i]);
    }
    // Raised edge.
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(0, 0, 0, h);
    p.drawLine(0, 0, w, 0);
    p.setPen(QPen(QColor(128, 128, 128), 2));
    p.drawLine(0, h, w, h);
    p.drawLine(w, h, w, 0);
}

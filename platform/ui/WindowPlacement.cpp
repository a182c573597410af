#include "platform/ui/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace ui {

namespace {
QMargins ownFrame(const QWidget& w)
{
    const QRect g = w.geometry(), f = w.frameGeometry();
    return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
}

// Fits a window to the screen area again once it is framed otherwise than guessed; then leaves
// it to the user.
class FrameWatcher : public QObject {
public:
    FrameWatcher(QWidget& window, const QMargins& guessed) : QObject(&window), window_(window), guessed_(guessed)
    {
        window.installEventFilter(this);
    }
    void setGuess(const QMargins& guessed) { guessed_ = guessed; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == &window_ && (e->type() == QEvent::Move || e->type() == QEvent::Resize || e->type() == QEvent::Show)
            && window_.isVisible()) {
            const QMargins frame = ownFrame(window_);
            if (!frame.isNull()) {
                window_.removeEventFilter(this);
                deleteLater();
                if (frame != guessed_) FillScreenArea(window_);
            }
        }
        return false;
    }

private:
    QWidget& window_;
    QMargins guessed_;
};
} // namespace

QRect ScreenArea(const QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QMargins FrameMargins(const QWidget& window)
{
    if (window.isVisible()) {
        const QMargins own = ownFrame(window);
        if (!own.isNull()) return own;
    }
    // The window it belongs to first: dialogs and main windows are framed alike.
    QList<const QWidget*> others;
    if (const QWidget* p = window.parentWidget()) others << p->window();
    for (const QWidget* w : QApplication::topLevelWidgets()) others << w;
    for (const QWidget* w : std::as_const(others)) {
        if (w == &window || !w->isVisible() || w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip) continue;
        const QMargins m = ownFrame(*w);
        if (!m.isNull()) return m;
    }
    return {};
}

void CenterInScreenArea(QWidget& window)
{
    const QRect s = ScreenArea(window);
    if (s.isEmpty()) return;
    const QSize f = window.size().grownBy(FrameMargins(window));
    const double left = (s.width() - f.width()) / 2.0;
    const double top = (s.height() - f.height()) / 2.0;
    window.move(s.x() + int(std::lround(left)), s.y() + int(std::lround(top)));
}

void FillScreenArea(QWidget& window)
{
    const QRect s = ScreenArea(window);
    if (s.isEmpty()) return;
    const QMargins frame = FrameMargins(window);
    window.resize(s.size().shrunkBy(frame));
    CenterInScreenArea(window);
    if (!window.isVisible() || ownFrame(window).isNull()) {
        // Not framed yet: the guess is checked when it is.
        FrameWatcher* watcher = nullptr;
        for (QObject* c : window.children())
            if (!watcher) watcher = dynamic_cast<FrameWatcher*>(c);
        if (watcher) watcher->setGuess(frame);
        else new FrameWatcher(window, frame);
    }
}

void WidenWithinScreenArea(QWidget& window, int dx)
{
    const QRect s = ScreenArea(window);
    if (dx <= 0 || s.isEmpty()) return;
    const QMargins frame = FrameMargins(window);
    const int width = qMin(window.width() + dx, s.width() - frame.left() - frame.right());
    if (width <= window.width()) return;
    const int outer = width + frame.left() + frame.right();
    const int left = qBound(s.left(), window.x() - (width - window.width()) / 2, s.right() + 1 - outer);
    window.setGeometry(QRect(QPoint(left + frame.left(), window.geometry().top()), QSize(width, window.height())));
}

namespace {
std::function<bool(const QWindow&)> g_seen;

bool seen(const QWindow& w) { return g_seen ? g_seen(w) : w.isExposed(); }

// Looks at the top modal window a moment after a window was shown, hidden, exposed or changed
// state, once the window manager has had its say.
class ModalGuard : public QObject {
public:
    ModalGuard()
    {
        m_check.setSingleShot(true);
        m_check.setInterval(300);
        connect(&m_check, &QTimer::timeout, this, &ModalGuard::check);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::Expose:
        case QEvent::WindowStateChange:
        case QEvent::Show:
        case QEvent::Hide:
            if (watched->isWindowType() || (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())) m_check.start();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void check()
    {
        QWidget* modal = QApplication::activeModalWidget();
        QWindow* handle = modal ? modal->windowHandle() : nullptr;
        if (!handle || !modal->isVisible()) return;
        if (seen(*handle) && !modal->isMinimized()) {
            m_wasSeen = modal;
            return;
        }
        bool others = false;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            others = others || (w != handle && w->isVisible() && !(w->windowStates() & Qt::WindowMinimized) && seen(*w));
        if (!others) return;    // the whole program is out of sight (minimized, another desktop)
        if (modal->isMinimized()) {
            modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
            modal->raise();
            modal->activateWindow();
        } else if (m_wasSeen == modal) {
            // Its window is gone from outside while the program still holds it open.
            modal->close();
        }
    }

    QTimer m_check;
    QPointer<QWidget> m_wasSeen;    // the modal window last seen in view
};
} // namespace

void GuardModalWindows()
{
    static ModalGuard* guard = nullptr;
    if (guard || !qApp) return;
    guard = new ModalGuard;
    guard->setParent(qApp);
    qApp->installEventFilter(guard);
}

void SetWindowSeenTest(std::function<bool(const QWindow&)> seen) { g_seen = std::move(seen); }

} // namespace ui

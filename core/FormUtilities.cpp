#include "core/FormUtilities.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTextStream>
#include <QWidget>
#include <cmath>

QRect ScreenArea(const QWidget& form)
{
    const QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

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
    FrameWatcher(QWidget& form, const QMargins& guessed) : QObject(&form), form_(form), guessed_(guessed)
    {
        form.installEventFilter(this);
    }
    void setGuess(const QMargins& guessed) { guessed_ = guessed; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == &form_ && (e->type() == QEvent::Move || e->type() == QEvent::Resize || e->type() == QEvent::Show)
            && form_.isVisible()) {
            const QMargins frame = ownFrame(form_);
            if (!frame.isNull()) {
                form_.removeEventFilter(this);
                deleteLater();
                if (frame != guessed_) FillScreenArea(form_);
            }
        }
        return false;
    }

private:
    QWidget& form_;
    QMargins guessed_;
};
} // namespace

QMargins FrameMargins(const QWidget& form)
{
    if (form.isVisible()) {
        const QMargins own = ownFrame(form);
        if (!own.isNull()) return own;
    }
    // The window it belongs to first: dialogs and main windows are framed alike.
    QList<const QWidget*> others;
    if (const QWidget* p = form.parentWidget()) others << p->window();
    for (const QWidget* w : QApplication::topLevelWidgets()) others << w;
    for (const QWidget* w : std::as_const(others)) {
        if (w == &form || !w->isVisible() || w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip) continue;
        const QMargins m = ownFrame(*w);
        if (!m.isNull()) return m;
    }
    return {};
}

void CenterForm(QWidget& form)
{
    const QRect s = ScreenArea(form);
    if (s.isEmpty()) return;
    const QSize f = form.size().grownBy(FrameMargins(form));
    const double left = (s.width() - f.width()) / 2.0;
    const double top = (s.height() - f.height()) / 2.0;
    form.move(s.x() + int(std::lround(left)), s.y() + int(std::lround(top)));
}

void FillScreenArea(QWidget& form)
{
    const QRect s = ScreenArea(form);
    if (s.isEmpty()) return;
    const QMargins frame = FrameMargins(form);
    form.resize(s.size().shrunkBy(frame));
    CenterForm(form);
    if (!form.isVisible() || ownFrame(form).isNull()) {
        // Not framed yet: the guess is checked when it is.
        FrameWatcher* watcher = nullptr;
        for (QObject* c : form.children())
            if (!watcher) watcher = dynamic_cast<FrameWatcher*>(c);
        if (watcher) watcher->setGuess(frame);
        else new FrameWatcher(form, frame);
    }
}

void SelectAllText()
{
    QWidget* w = QApplication::focusWidget();
    if (auto* combo = qobject_cast<QComboBox*>(w)) w = combo->lineEdit();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setSelection(0, int(edit->text().size()));
    } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
        spin->selectAll();
    } else if (auto* text = qobject_cast<QTextEdit*>(w)) {
        text->selectAll();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        plain->selectAll();
    }
}

QVariant PixelsToTwipsX(float pixels) { return QVariant(float(TwipsPerPixel) * pixels); }

void CenterVertically(QWidget* ctl, const QWidget* ref)
{
    if (!ctl || !ref) return;
    const int top = ref->height() > ctl->height() ? ref->y() + (ref->height() - ctl->height()) / 2 : ref->y();
    ctl->move(ctl->x(), top);
}

QString GetPathPart(const QString& path)
{
    const qsizetype pos = path.lastIndexOf(QLatin1Char('/'));
    return pos < 0 ? QString() : path.left(pos + 1);
}

namespace {

// Entries of one group of a desktop-style key file: key -> value, first occurrence wins.
QHash<QString, QString> readGroup(const QString& file, const QString& group)
{
    QHash<QString, QString> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
    QTextStream in(&f);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        if (!out.contains(key)) out.insert(key, line.mid(eq + 1).trimmed());
    }
    return out;
}

QStringList splitList(const QString& value) { return value.split(QLatin1Char(';'), Qt::SkipEmptyParts); }

// Desktop-file ids for one MIME type: the user's and the system's chosen defaults first, then
// every installed application that declares the type.
QStringList applicationsFor(const QString& mime)
{
    QStringList lists;
    for (const QString& d : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        lists << d + QStringLiteral("/mimeapps.list");
    const QStringList appDirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& d : appDirs) lists << d + QStringLiteral("/mimeapps.list");

    QStringList ids;
    for (const QString& l : lists) ids << splitList(readGroup(l, QStringLiteral("Default Applications")).value(mime));
    for (const QString& d : appDirs)
        ids << splitList(readGroup(d + QStringLiteral("/mimeinfo.cache"), QStringLiteral("MIME Cache")).value(mime));
    return ids;
}

// The first word of an Exec line, quotes removed.
QString execProgram(const QString& exec)
{
    const QString e = exec.trimmed();
    if (e.startsWith(QLatin1Char('"'))) {
        const qsizetype end = e.indexOf(QLatin1Char('"'), 1);
        return end < 0 ? QString() : e.mid(1, end - 1);
    }
    return e.section(QLatin1Char(' '), 0, 0);
}

// The executable a desktop-file id runs, or empty.
QString programOf(const QString& id)
{
    // An id "vendor-app.desktop" may also stand for the file vendor/app.desktop.
    QStringList names{id};
    if (id.contains(QLatin1Char('-'))) names << QString(id).replace(QLatin1Char('-'), QLatin1Char('/'));
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        for (const QString& name : names) {
            const QString file = dir + QLatin1Char('/') + name;
            if (!QFileInfo::exists(file)) continue;
            const auto entry = readGroup(file, QStringLiteral("Desktop Entry"));
            if (entry.value(QStringLiteral("Hidden")) == QLatin1String("true")) return QString();
            const QString program = execProgram(entry.value(QStringLiteral("Exec")));
            if (program.isEmpty()) return QString();
            if (QDir::isAbsolutePath(program)) return QFileInfo(program).isExecutable() ? program : QString();
            return QStandardPaths::findExecutable(program);
        }
    }
    return QString();
}

} // namespace

QString GetAssociatedProgram(const QString& directory, const QString& fileName)
{
    const QFileInfo file(QDir(directory).filePath(fileName));
    if (fileName.isEmpty() || !file.isFile()) return QString();
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    QStringList mimes{type.name()};
    mimes << type.aliases() << type.allAncestors();
    for (const QString& mime : mimes) {
        for (const QString& id : applicationsFor(mime)) {
            const QString program = programOf(id);
            if (!program.isEmpty()) return program;
        }
    }
    return QString();
}

QVariant GetTempFolder()
{
    QString t = QDir::tempPath();
    if (!t.endsWith(QLatin1Char('/'))) t += QLatin1Char('/');
    return t;
}

bool HasControlCharacters(const QString& text)
{
    for (QChar c : text)
        if (c.category() == QChar::Other_Control) return true;
    return false;
}

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
#include <QStandardPaths>
#include <QTextEdit>
#include <QTextStream>
#include <QWidget>

#include "platform/ui/WindowPlacement.h"

void CenterForm(QWidget& form) { ui::CenterInScreenArea(form); }

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

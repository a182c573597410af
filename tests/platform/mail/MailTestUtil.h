#pragma once
// Helpers shared by the mail host's tests: fixture trees copied into the test's data folder.
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace mailtest {

// Copies the files (not the sub-folders' hidden state) of fixture folder from into to.
inline void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    const QDir src(from);
    for (const QFileInfo& fi : src.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString dest = to + QLatin1Char('/') + fi.fileName();
        if (fi.isDir())
            copyTree(fi.filePath(), dest);
        else
            QFile::copy(fi.filePath(), dest);
    }
}

inline QString fixture(const QString& name) { return QStringLiteral(FERROWYN_FIXTURES "/mail/") + name; }

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace mailtest

#pragma once
#include <QByteArray>
#include <QString>

#include <functional>

namespace mail::send {

// Where a new message lands: new/ for unseen mail, cur/ for mail already dealt with.
enum class MaildirSub { New, Cur };

// A fresh Maildir unique name: time, pid, counter and host, never reused within a process.
QString MaildirUniqueName();

// Creates cur/, new/ and tmp/ under dir when missing.
bool EnsureMaildir(const QString& dir, QString* error = nullptr);

// Writes bytes to tmp/, fsyncs, then renames into new/ or cur/ (with ":2,"+flags in cur/) and
// fsyncs the directory, so a crash leaves either the whole message or none.
// Returns the final path, or an empty string with *error set.
QString WriteToMaildir(const QString& dir, const QByteArray& bytes, MaildirSub sub = MaildirSub::New,
                       const QString& flags = QString(), QString* error = nullptr);

// Writes bytes to dir's tmp/unique and flushes them to disk; the caller renames the file into
// place. False with *error set (and nothing left behind) when it cannot.
bool WriteToMaildirTmp(const QString& dir, const QString& unique, const QByteArray& bytes, QString* error = nullptr);

// Moves a message file into another Maildir's cur/ with the given flags; same file system: one
// rename, otherwise a durable copy followed by removal of the original. A caller moving many
// files may pass syncDir = false and call SyncDir once at the end.
QString MoveToMaildir(const QString& file, const QString& dir, const QString& flags, QString* error = nullptr,
                      bool syncDir = true);

// Writes all of it, through interruptions and short writes. False on an error (errno set).
bool WriteAll(int fd, const char* data, qsizetype size);

// Flushes a directory's entries (renames, removals) to disk.
bool SyncDir(const QString& dir);
// Flushes a file's content to disk.
bool SyncFile(const QString& path);
// For tests: asked before each directory flush; true fails it. Empty: none.
void SetDirSyncFault(std::function<bool(const QString& dir)> fail);

// The unique part of a Maildir file name (before the ":2," info).
QString MaildirUniquePart(const QString& fileName);

} // namespace mail::send

#pragma once
// GMime behind a small Qt-typed surface: reading the header block of a message file, the
// structure of a whole message, and writing a message from its fields. Internal to the mail host.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "platform/mail/send/Outgoing.h"

namespace mail::mime {

// The plain forms of addresses, dates, content types and multipart structures are read by our
// own quick readers, which give GMime's answer without GMime's cost; off, GMime reads all.
// Tests compare the two through this.
void useQuickReaders(bool on);

// GMime wants one g_mime_init per process; everything in the mail host that touches GMime
// calls this first (thread-safe).
void ensureInit();
QString hostName();

struct Address {
    QString name;
    QString address;
    QString display() const { return name.isEmpty() ? address : name; }
};

// What a listing needs, read from the header block alone.
struct HeaderSummary {
    QString subject;
    QList<Address> from, to, cc, bcc, replyTo;
    QDateTime date;      // Date header; invalid when missing or unreadable
    QDateTime received;  // the newest Received header's time, else Delivery-Date
    int importance = 1;
    int sensitivity = 0;
    bool readReceipt = false;
    bool deleteAfterSubmit = false;
    QString account;     // the account a queued or draft message is to be sent through
    QString mediaType;   // lower case; "text" when the message says nothing
    QString subType;     // lower case; "plain" when the message says nothing
    QString calendarMethod;
    bool calendarClass = false;
    bool topLevelAttachment = false;  // a single-part message whose one part is a file
    QString messageId;
};

// The header block (up to and including the blank line) of the file at path. ok is false when
// the file cannot be read.
QByteArray readHeaderBlock(const QString& path, bool* ok);

// A message file read from its start: its header block, then, when wanted, the rest, without
// reading anything twice. ok is false when the file cannot be opened or read.
class MessageFile {
public:
    explicit MessageFile(const QString& path);
    ~MessageFile();
    MessageFile(const MessageFile&) = delete;
    MessageFile& operator=(const MessageFile&) = delete;
    QByteArray headerBlock(bool* ok);
    QByteArray whole(bool* ok);

private:
    bool readMore(qsizetype chunk);
    int fd_;
    QByteArray buf_;
    bool atEnd_ = false;
    bool failed_ = false;
};
HeaderSummary parseHeaders(const QByteArray& block);
// The header lines of block that Save does not write itself (Received, Message-ID, ...), raw.
QByteArray preservedHeaders(const QByteArray& block);

QList<Address> parseAddressList(const QString& text);
// Header text to Unicode: encoded words decoded; raw 8-bit bytes read as UTF-8, else Latin-1.
QString decodeHeaderText(const QByteArray& raw);

struct AttachmentInfo {
    QString fileName;  // already reduced to a safe base name
    QString mimeType;
};

struct Structure {
    bool parsed = false;  // false: not a MIME message at all; body holds the raw text
    QString body;
    QString html;
    QList<AttachmentInfo> attachments;
    bool meetingRequest = false;
};

Structure parseStructure(const QByteArray& whole);
// The same walk without reading any content: attachments and meetingRequest only, body and html
// left empty (also when the message is not MIME at all). Safe on several threads at once.
Structure scanStructure(const QByteArray& whole);
// The decoded content of every attachment, in Structure order, from one parse; ok false when
// the message cannot be parsed.
QList<QByteArray> attachmentContents(const QByteArray& whole, bool* ok);

struct OutgoingAttachment {
    QString fileName;
    QString mimeType;
    QByteArray content;
    // The content as the message carries it, made once by encodeAttachment for many messages;
    // empty: encoded while the message is built.
    QByteArray encoded;
};
// The attachment ready to go into many messages: its type settled and its content encoded by
// GMime once, to the very bytes buildMessage would write for it.
OutgoingAttachment encodeAttachment(const OutgoingAttachment& a);

struct OutgoingMessage {
    Address from;
    QList<Address> to, cc, bcc, replyTo;
    QString subject;
    QString body;
    QString html;
    QDateTime date;  // invalid: now
    int importance = 1;
    int sensitivity = 0;
    bool readReceipt = false;
    bool deleteAfterSubmit = false;
    QString account;    // written as the private account header when set
    QString accountId;  // the account's id, written beside it when set
    QString messageId;  // without angle brackets; empty: a new one
    QByteArray inReplyTo;
    QByteArray preserved;  // raw header lines written ahead of the generated ones
    QList<OutgoingAttachment> attachments;
};

QByteArray buildMessage(const OutgoingMessage& m);

QString htmlToText(const QString& html);
// A name that is safe to create a file with: no directories, no control characters, not hidden.
QString safeFileName(const QString& name);

// The private headers a stored message keeps (DeleteAfterSubmit, the account to send through).
using send::kAccountHeader;
using send::kAccountIdHeader;
using send::kDeleteAfterSubmitHeader;

} // namespace mail::mime

#pragma once
// Quick readers for the plain forms nearly all mail is written in: an address list, a date, a
// Content-Type or Content-Disposition value, the parts of a multipart message. Each gives up
// (false) on anything outside the plain form it knows, and the caller then asks GMime: so the
// answer is always GMime's, only sooner, and without GMime's objects and locks, which keeps a
// listing on several threads truly parallel. Internal to MimeUtil.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <utility>

#include "platform/mail/MimeUtil.h"

namespace mail::mime::quick {

// "a@b.c", "Name Words <a@b.c>", "<a@b.c>", separated by commas.
bool addresses(QByteArrayView value, QList<Address>& out);

// Header text of plain words and whole encoded words ("=?utf-8?q?...?=", "=?iso-8859-1?b?...?=",
// us-ascii too) with blanks between them; the blanks between two encoded words are dropped.
bool text(QByteArrayView value, QString& out);

// "[Www, ]D Mon YYYY HH:MM[:SS] +HHMM", optionally followed by one "(comment)"; secs is UTC.
bool date(QByteArrayView value, qint64& secs);

// "type/subtype; name=value; name=\"quoted value\"" (type and names lower case, values as
// written); a Content-Disposition is read the same way, with an empty subtype.
struct Params {
    QByteArray type, subtype;
    QList<std::pair<QByteArray, QByteArray>> params;
    const QByteArray* value(const char* name) const;
};
bool contentType(QByteArrayView value, Params& out);
bool disposition(QByteArrayView value, Params& out);

// The attachments and the meeting-request mark of a whole multipart message. Body and html are
// left empty.
bool structure(QByteArrayView whole, Structure& out);

// One header of a header block: its name as written and its value unfolded, raw.
struct Header {
    QByteArrayView name;
    QByteArray value;
};
// The headers of the block that starts at text, up to the blank line; end is where the content
// after that line starts. False when the block does not end with a blank line or holds a line
// that is neither a header nor a continuation.
bool headers(QByteArrayView text, QList<Header>& out, qsizetype& end);

} // namespace mail::mime::quick

namespace mail::mime {
// The name an attachment is shown with: the safe base name of raw, or "attachmentN.ext" by its
// type when raw gives none (ordinal counts the message's attachments from 1).
QString attachmentName(int ordinal, const QString& raw, const QString& mimeType);
} // namespace mail::mime

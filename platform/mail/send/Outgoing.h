#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace mail::send {

// Private headers of a queued message; never sent.
inline constexpr char kAccountHeader[] = "X-Ferrowyn-Account";
// The account's id (accounts.ini's Id=): the account it was queued through, whatever its name now.
inline constexpr char kAccountIdHeader[] = "X-Ferrowyn-Account-Id";
inline constexpr char kDeleteAfterSubmitHeader[] = "X-Ferrowyn-Delete-After-Submit";
// An earlier version's copy queued again for the recipients a server refused for now: only they
// were still owed (read when that version's queue is taken over).
inline constexpr char kEnvelopeHeader[] = "X-Ferrowyn-Envelope-To";

// A stored Outbox message made ready for the wire.
struct Outgoing {
    QString account;              // empty: the default account
    QString accountId;            // empty: queued by an older version (or before any account)
    QString sender;               // the From field's address
    bool deleteAfterSubmit = false;
    QStringList recipients;       // To + CC + BCC, each once
    QStringList envelope;         // the envelope header's, each once: the newest line (on top)
    QString subject;              // decoded, for reports
    QByteArray wire;              // CRLF lines, without BCC and the private headers
    QString problem;              // why it cannot be sent at all; empty when it can
    bool hasFrom = false;         // false: queued before an account was set up
};

// A From field (CRLF-ended, encoded where needed) for a message queued without a sender.
QByteArray FromHeader(const QString& displayName, const QString& address);

Outgoing PrepareOutgoing(const QByteArray& stored);

// True for a plain addr-spec we are willing to hand to a server or a command line: one "@"
// outside quotes, a local part of atoms and dots or one quoted string (without list separators)
// of at most 64 octets, and a domain of at most 255: two or more labels of letters, digits and
// inner hyphens (letters beyond ASCII for international domains), the last not all digits, or an
// IPv4 or IPv6 literal. An international domain's lengths hold in UTF-8 and in its ASCII
// ("xn--") form, which a server gets. Controls, blanks and invisible format characters are
// refused anywhere. Every address the program stores passes this check first.
bool IsSendableAddress(const QString& address);

// text with the characters no one sees (controls, format characters, blanks other than the
// space) written as "<U+200B>". Every message that quotes an address the check refused writes
// the address through this, so the user sees why a valid-looking address is refused.
QString ShowHiddenCharacters(const QString& text);

// Bare LF becomes CRLF; the result ends with CRLF.
QByteArray ToCrlf(const QByteArray& bytes);

} // namespace mail::send

namespace mail::send {

// What makes two addresses one recipient: the same text, letter case ignored, an international
// domain in its own letters or in its ASCII ("xn--") form alike.
QString AddressKey(const QString& address);

} // namespace mail::send

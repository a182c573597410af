#include "platform/mail/send/OldJournal.h"

#include <QHash>
#include <QSet>

#include "platform/mail/send/Outgoing.h"

namespace mail::send {

namespace {

QString unfield(const QByteArray& f) { return QString::fromUtf8(QByteArray::fromPercentEncoding(f)); }

bool isNumber(const QByteArray& f)
{
    bool ok = false;
    f.toLongLong(&ok);
    return ok;
}

bool isTime(const QByteArray& f) { return f == "-" || isNumber(f); }

QDateTime unTime(const QByteArray& f)
{
    bool ok = false;
    const qint64 ms = f.toLongLong(&ok);
    return ok ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

std::optional<QueueState> stateOf(const QByteArray& f)
{
    if (f == "w")
        return QueueState::Waiting;
    if (f == "p")
        return QueueState::Refused;
    if (f == "m")
        return QueueState::MaybeDelivered;
    if (f == "d")
        return QueueState::Delivered;
    return std::nullopt;
}

std::optional<RecipientState> recipientOf(const QByteArray& f)
{
    if (f == "o")
        return RecipientState::Owed;
    if (f == "d")
        return RecipientState::Deferred;
    if (f == "a")
        return RecipientState::Accepted;
    if (f == "p")
        return RecipientState::Refused;
    if (f == "m")
        return RecipientState::MaybeDelivered;
    return std::nullopt;
}

// A record naming one message and nothing else.
bool isPlain(char kind) { return QByteArray("QAWFETMXDPS").contains(kind); }

// A message name as the journal wrote it: no blanks in it.
bool isName(const QByteArray& f) { return !f.isEmpty() && !f.contains(' ') && !f.contains('\t'); }

// A record of a known message written onto the end of a line whose own write was cut short, as a
// full disk leaves it: the line reads as a shorter record of its own.
bool holdsAnotherRecord(const QByteArray& line, const std::map<QString, QueueStatus>& known)
{
    for (qsizetype i = 1; i + 2 < line.size(); ++i) {
        if (line[i + 1] != ' ' || !(isPlain(line[i]) || line[i] == 'R' || line[i] == 'G'))
            continue;
        qsizetype end = i + 2;
        while (end < line.size() && line[end] != '\t' && line[end] != ' ')
            ++end;
        if (known.count(QString::fromUtf8(line.mid(i + 2, end - i - 2))))
            return true;
    }
    return false;
}

void markAccepted(const QueueStatus& s, QSet<QString>& accepted)
{
    for (const RecipientStatus& r : s.recipients)
        if (r.state == RecipientState::Accepted)
            accepted.insert(AddressKey(r.address));
}

} // namespace

OldJournal ReadOldJournal(const QByteArray& text, const QString& thisBoot)
{
    OldJournal j;
    struct Open {
        char kind = 0;
        QString boot;
    };
    QHash<QString, Open> open;
    QHash<QString, QSet<QString>> accepted;   // who the server took each message for: never taken back
    QString boot;

    // A last record cut short is what a crash leaves behind: it was never complete, so it says nothing.
    const qsizetype whole = text.lastIndexOf('\n') + 1;
    const QList<QByteArray> lines = text.left(whole).split('\n');
    if (lines.isEmpty() || !(lines.first() == "ferrowyn-queue 1" || lines.first() == "ferrowyn-queue 2")) {
        j.damage = QStringLiteral("it does not begin as a delivery record does");
        return j;
    }
    auto damaged = [&](qsizetype line, const char* why) {
        j.damage = QStringLiteral("line %1 %2").arg(line + 1).arg(QLatin1String(why));
    };
    for (qsizetype n = 1; n + 1 < lines.size() && j.damage.isEmpty(); ++n) {
        const QByteArray& line = lines[n];
        if (line.size() < 3 || line[1] != ' ') {
            damaged(n, "is not a record");
            break;
        }
        if (holdsAnotherRecord(line, j.entries)) {
            damaged(n, "is torn");
            break;
        }
        const char kind = line[0];
        const QList<QByteArray> fields = line.mid(2).split('\t');
        const QString arg = QString::fromUtf8(fields[0]);
        if (isPlain(kind)) {
            if (fields.size() != 1 || !isName(fields[0])) {
                damaged(n, "is torn");
                break;
            }
        }
        switch (kind) {
        case 'B':
            boot = arg;
            continue;
        case 'N':
            j.sent = 0;
            j.notes.clear();
            j.runNotes.clear();
            continue;
        case 'S':
            ++j.sent;
            continue;
        case 'C':
            if (fields.size() != 1 || !isNumber(fields[0])) {
                damaged(n, "is torn");
                break;
            }
            j.sent += fields[0].toInt();
            continue;
        case 'K':
            if (!isNumber(fields[0]) || fields[0].toLongLong() != fields.size() - 1) {
                damaged(n, "is torn");
                break;
            }
            j.runNotes.clear();
            for (qsizetype i = 1; i < fields.size(); ++i)
                j.runNotes << unfield(fields[i]);
            continue;
        case 'G': {
            if (fields.size() < 4 || (fields.size() - 4) % 2 != 0 || !isNumber(fields[3])) {
                damaged(n, "is torn");
                break;
            }
            SentNote note{unfield(fields[1]), unfield(fields[2]), fields[3].toInt(), {}};
            for (qsizetype i = 4; i + 1 < fields.size(); i += 2)
                note.refused.append({unfield(fields[i]), RecipientState::Refused, {}, unfield(fields[i + 1])});
            j.notes.append(note);
            continue;
        }
        case 'Q':
            if (auto it = j.entries.find(arg); it != j.entries.end()) {
                // Queued again (an earlier version wrote it when the user sent a message again):
                // whoever the server took it for keeps it.
                QueueStatus& s = it->second;
                s = QueueStatus{QueueState::Waiting, 0, {}, false, {}, s.recipients};
                s.recipients.removeIf([](const RecipientStatus& r) { return r.state != RecipientState::Accepted; });
            } else {
                j.entries[arg].state = QueueState::Waiting;
            }
            open.remove(arg);
            continue;
        case 'R':
        case 'A':
        case 'W':
        case 'F':
        case 'E':
        case 'T':
        case 'M':
        case 'X':
        case 'D':
        case 'P':
            break;
        default:
            damaged(n, "is of no known kind");
            break;
        }
        if (!j.damage.isEmpty())
            break;
        auto it = j.entries.find(arg);
        if (it == j.entries.end())
            continue;    // of a message that left the queue
        QueueStatus& s = it->second;
        switch (kind) {
        case 'W':
            if (s.state == QueueState::Waiting && !open.contains(arg))
                open.insert(arg, {'W', boot});
            break;
        case 'F':
            open.insert(arg, {'F', boot});
            break;
        case 'E':
            if (open.value(arg).kind == 'F')
                open.insert(arg, {'E', boot});
            break;
        case 'A':
            s = QueueStatus{QueueState::Waiting, 0, {}, false, {}, s.recipients};
            s.recipients.removeIf([](const RecipientStatus& r) { return r.state != RecipientState::Accepted; });
            open.remove(arg);
            break;
        case 'R': {
            const std::optional<QueueState> state = fields.size() >= 6 ? stateOf(fields[1]) : std::nullopt;
            if (!state || (fields.size() - 6) % 4 != 0 || !isNumber(fields[2]) || !isTime(fields[3])
                || !(fields[4] == "-" || fields[4] == "p" || fields[4] == "t")) {
                damaged(n, "is torn");
                break;
            }
            QueueStatus next{*state, fields[2].toInt(), unTime(fields[3]), false, {}, {}};
            if (fields[4] != "-")
                next.answer = unfield(fields[5]);
            for (qsizetype i = 6; i + 3 < fields.size(); i += 4) {
                const std::optional<RecipientState> r = recipientOf(fields[i + 1]);
                if (!r || !isTime(fields[i + 2])) {
                    damaged(n, "is torn");
                    break;
                }
                next.recipients.append({unfield(fields[i]), *r, unTime(fields[i + 2]), unfield(fields[i + 3])});
            }
            if (!j.damage.isEmpty())
                break;
            // Accepted is for good: a record that forgets who has the message was not written whole.
            QSet<QString> now;
            markAccepted(next, now);
            if (!now.contains(accepted.value(arg))) {
                damaged(n, "forgets recipients who had the message");
                break;
            }
            accepted[arg] = now;
            s = next;
            open.remove(arg);
            break;
        }
        case 'D':
            s.state = QueueState::Delivered;
            open.remove(arg);
            break;
        case 'T':
            s.state = QueueState::Waiting;
            open.remove(arg);
            break;
        case 'P':
            s.state = QueueState::Refused;
            open.remove(arg);
            break;
        case 'M':
            s.state = QueueState::MaybeDelivered;
            open.remove(arg);
            break;
        case 'X':
            j.entries.erase(it);
            accepted.remove(arg);
            open.remove(arg);
            break;
        default:
            break;
        }
    }
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        if (!j.entries.count(it.key()))
            continue;
        const bool sameBoot = !thisBoot.isEmpty() && it->boot == thisBoot;
        if (sameBoot && it->kind != 'E')
            j.entries[it.key()].state = QueueState::Waiting;
        else
            j.inFlight << it.key();
    }
    return j;
}

QString ReadOldAnswer(const QByteArray& file)
{
    // The first line said whether it was for good; the message's state says that now.
    const qsizetype nl = file.indexOf('\n');
    return QString::fromUtf8(nl < 0 ? QByteArray() : file.mid(nl + 1)).trimmed();
}

} // namespace mail::send

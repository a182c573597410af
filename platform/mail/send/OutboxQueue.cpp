#include "platform/mail/send/OutboxQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Outgoing.h"

namespace mail::send {

namespace {

const char kJournal[] = ".queue";
const QByteArray kHeader = "ferrowyn-queue 2\n";
const QString kAnswerPrefix = QStringLiteral(".answer.");

bool writeAll(int fd, const QByteArray& bytes) { return WriteAll(fd, bytes.constData(), bytes.size()); }

QByteArray record(char kind, const QString& unique) { return QByteArray(1, kind) + ' ' + unique.toUtf8() + '\n'; }

// A field of a record: the line and field breaks inside it escaped.
QByteArray field(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

QString unfield(const QByteArray& f) { return QString::fromUtf8(QByteArray::fromPercentEncoding(f)); }

QByteArray timeField(const QDateTime& t) { return t.isValid() ? QByteArray::number(t.toMSecsSinceEpoch()) : QByteArray("-"); }

QDateTime unTime(const QByteArray& f)
{
    bool ok = false;
    const qint64 ms = f.toLongLong(&ok);
    return ok ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

// The states as the journal spells them.
char stateLetter(QueueState s)
{
    switch (s) {
    case QueueState::Refused: return 'p';
    case QueueState::MaybeDelivered: return 'm';
    case QueueState::Delivered: return 'd';
    default: return 'w';    // a message being sent is written as it will read back: waiting
    }
}

QueueState stateOf(char c)
{
    switch (c) {
    case 'p': return QueueState::Refused;
    case 'm': return QueueState::MaybeDelivered;
    case 'd': return QueueState::Delivered;
    default: return QueueState::Waiting;
    }
}

char recipientLetter(RecipientState s)
{
    switch (s) {
    case RecipientState::Deferred: return 'd';
    case RecipientState::Accepted: return 'a';
    case RecipientState::Refused: return 'p';
    case RecipientState::MaybeDelivered: return 'm';
    case RecipientState::Owed: break;
    }
    return 'o';
}

RecipientState recipientOf(char c)
{
    switch (c) {
    case 'd': return RecipientState::Deferred;
    case 'a': return RecipientState::Accepted;
    case 'p': return RecipientState::Refused;
    case 'm': return RecipientState::MaybeDelivered;
    default: return RecipientState::Owed;
    }
}

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

QHash<QString, std::weak_ptr<OutboxQueue>>& registry()
{
    static QHash<QString, std::weak_ptr<OutboxQueue>> r;
    return r;
}

QString canonical(const QString& dir)
{
    const QString c = QFileInfo(dir).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QFileInfo(dir).absoluteFilePath()) : c;
}

// "G": a message sent while some recipients were refused for good; "K": the last run's notes.
QByteArray noteRecord(const QString& unique, const SentNote& n)
{
    QByteArray g = "G " + unique.toUtf8() + '\t' + field(n.subject) + '\t' + field(n.firstRecipient) + '\t'
                   + QByteArray::number(n.recipients);
    for (const RecipientStatus& r : n.refused)
        g += '\t' + field(r.address) + '\t' + field(r.answer);
    return g + '\n';
}

QByteArray runNotesRecord(const QStringList& notes)
{
    QByteArray k = "K " + QByteArray::number(notes.size());
    for (const QString& n : notes)
        k += '\t' + field(n);
    return k + '\n';
}

// A message waits for a retry once a run has kept an answer for it.
bool waitsForRetry(const QueueStatus& s) { return s.state == QueueState::Waiting && s.refusal.has_value(); }

const QString kStoppedText = QStringLiteral("The program stopped while this message was being sent: it may have been delivered. "
                                            "Send it again only if its recipients did not get it.");

} // namespace

struct OutboxQueue::File {
    int fd = -1;
    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QString OutboxQueue::BootId()
{
    static const QString id = [] {
        QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    }();
    return id;
}

std::shared_ptr<OutboxQueue> OutboxQueue::Of(const QString& outbox)
{
    EnsureMaildir(outbox);
    const QString key = canonical(outbox);
    std::lock_guard lock(registryMutex());
    if (std::shared_ptr<OutboxQueue> q = registry().value(key).lock())
        return q;
    std::shared_ptr<OutboxQueue> q(new OutboxQueue(key));
    registry().insert(key, q);
    return q;
}

OutboxQueue::OutboxQueue(const QString& outbox) : m_outbox(outbox) { load(); }

OutboxQueue::~OutboxQueue()
{
    std::lock_guard lock(registryMutex());
    auto it = registry().find(m_outbox);
    if (it != registry().end() && it->expired())
        registry().erase(it);
}

QString OutboxQueue::answerPath(const QString& unique) const { return m_outbox + QLatin1Char('/') + kAnswerPrefix + unique; }

QByteArray OutboxQueue::outcomeRecord(const QString& unique, const Entry& e) const
{
    const QueueStatus& s = e.status;
    QByteArray r = "R " + unique.toUtf8() + '\t' + stateLetter(s.state) + '\t' + QByteArray::number(s.attempts) + '\t'
                   + timeField(s.nextTry) + '\t' + (!s.refusal ? '-' : s.refusal->permanent ? 'p' : 't') + '\t'
                   + (s.refusal ? field(s.refusal->answer) : QByteArray());
    for (const RecipientStatus& x : s.recipients)
        r += '\t' + field(x.address) + '\t' + recipientLetter(x.state) + '\t' + timeField(x.until) + '\t' + field(x.answer);
    return r + '\n';
}

// Reads the records in order. What a crash left open is settled afterwards (load).
void OutboxQueue::replay(const QByteArray& text, QByteArray* pending)
{
    struct Open {
        char kind = 0;
        QString boot;
    };
    QHash<QString, Open> open;
    QString boot;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        const QByteArray line = text.mid(from, end - from);
        from = end + 1;
        if (line.size() < 3 || line[1] != ' ')
            continue;
        ++m_records;
        const char kind = line[0];
        const QList<QByteArray> fields = line.mid(2).split('\t');
        const QString arg = QString::fromUtf8(fields[0]);
        switch (kind) {
        case 'B':
            boot = arg;
            continue;
        case 'N':
            m_tally = Tally{};
            continue;
        case 'S':
            ++m_tally.sent;
            continue;
        case 'C':
            m_tally.sent += fields[0].toInt();
            continue;
        case 'K':
            m_tally.runNotes.clear();
            for (qsizetype i = 1; i < fields.size(); ++i)
                m_tally.runNotes << unfield(fields[i]);
            continue;
        case 'G': {
            if (fields.size() < 4)
                continue;
            SentNote n{unfield(fields[1]), unfield(fields[2]), fields[3].toInt(), {}};
            for (qsizetype i = 4; i + 1 < fields.size(); i += 2)
                n.refused.append({unfield(fields[i]), RecipientState::Refused, {}, unfield(fields[i + 1])});
            m_tally.notes.append(n);
            continue;
        }
        case 'Q':
            m_entries[arg] = Entry{};
            m_entries[arg].status.state = QueueState::Waiting;
            open.remove(arg);
            continue;
        default:
            break;
        }
        auto it = m_entries.find(arg);
        if (it == m_entries.end())
            continue;
        Entry& e = it->second;
        QueueStatus& s = e.status;
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
            s.state = QueueState::Waiting;
            s.attempts = 0;
            s.nextTry = {};
            s.refusal.reset();
            s.recipients.removeIf([](const RecipientStatus& r) { return r.state != RecipientState::Accepted; });
            open.remove(arg);
            break;
        case 'R': {
            if (fields.size() < 6)
                break;
            s.state = stateOf(fields[1].isEmpty() ? 'w' : fields[1][0]);
            s.attempts = fields[2].toInt();
            s.nextTry = unTime(fields[3]);
            if (fields[4] == "-")
                s.refusal.reset();
            else
                s.refusal = Refusal{fields[4] == "p", unfield(fields[5])};
            s.recipients.clear();
            for (qsizetype i = 6; i + 3 < fields.size(); i += 4)
                s.recipients.append({unfield(fields[i]), recipientOf(fields[i + 1].isEmpty() ? 'o' : fields[i + 1][0]),
                                     unTime(fields[i + 2]), unfield(fields[i + 3])});
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
            m_entries.erase(it);
            open.remove(arg);
            break;
        default:
            break;
        }
    }
    // What a crash left in flight. On this same boot every record written is there: a transfer
    // without its end mark never handed over the whole text. After a reboot any of them may hide
    // a transfer that went further.
    const QString thisBoot = BootId();
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        if (!m_entries.count(it.key()))
            continue;
        const bool sameBoot = !thisBoot.isEmpty() && it->boot == thisBoot;
        if (sameBoot && it->kind != 'E') {
            m_entries[it.key()].status.state = QueueState::Waiting;
            *pending += record('T', it.key());
            continue;
        }
        m_foundInFlight << it.key();
    }
}

// A message that may have been delivered when the program stopped: the recipients it was being
// sent to (every one still owed) are told as such, and it waits for the user.
void OutboxQueue::settleFoundInFlight(const QStringList& uniques, QByteArray* pending)
{
    for (const QString& u : uniques) {
        Entry& e = m_entries[u];
        QFile f(m_outbox + QLatin1Char('/') + e.rel);
        const QStringList all = f.open(QIODevice::ReadOnly) ? PrepareOutgoing(f.readAll()).recipients : QStringList();
        QHash<QString, qsizetype> index;
        for (qsizetype i = 0; i < e.status.recipients.size(); ++i)
            if (const QString key = e.status.recipients[i].address.toCaseFolded(); !index.contains(key))
                index.insert(key, i);
        for (const QString& a : all) {
            const QString key = a.toCaseFolded();
            const qsizetype k = index.value(key, -1);
            if (k < 0) {
                index.insert(key, e.status.recipients.size());
                e.status.recipients.append({a, RecipientState::MaybeDelivered, {}, kStoppedText});
            } else if (RecipientStatus& known = e.status.recipients[k];
                       known.state == RecipientState::Owed || known.state == RecipientState::Deferred) {
                known = {a, RecipientState::MaybeDelivered, {}, kStoppedText};
            }
        }
        e.status.state = QueueState::MaybeDelivered;
        e.status.refusal = Refusal{true, kStoppedText};
        *pending += outcomeRecord(u, e);
    }
}

void OutboxQueue::load()
{
    const QString journal = m_outbox + QLatin1Char('/') + QLatin1String(kJournal);
    const QByteArray journalName = QFile::encodeName(journal);

    // The messages in place, by unique name. A name that cannot stand in a record is never queued.
    QHash<QString, QString> placed;
    for (const char* sub : {"cur", "new"}) {
        const QStringList names = QDir(m_outbox + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files | QDir::Hidden);
        for (const QString& n : names)
            if (!n.startsWith(QLatin1Char('.')) && !n.contains(QLatin1Char('\t')) && !n.contains(QLatin1Char('\n')))
                placed.insert(MaildirUniquePart(n), QLatin1String(sub) + QLatin1Char('/') + n);
    }

    QByteArray pending;   // records this load adds
    bool created = false;
    if (QFileInfo::exists(journal)) {
        QFile f(journal);
        QByteArray text;
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
        f.close();
        // A record cut short by a crash is dropped, so that the next one starts on its own line.
        const qsizetype whole = text.lastIndexOf('\n') + 1;
        if (whole < text.size()) {
            if (::truncate(journalName.constData(), off_t(whole)) != 0)
                pending += '\n';    // the broken line stays, on a line of its own
            text.truncate(whole);
        }
        replay(text, &pending);
    } else {
        // The first start of a queue: what an earlier version left waiting is taken in, once.
        created = true;
        pending += kHeader;
        QStringList uniques = placed.keys();
        std::sort(uniques.begin(), uniques.end());
        for (const QString& u : uniques) {
            m_entries[u].status.state = QueueState::Waiting;
            pending += record('Q', u);
            QFile a(answerPath(u));
            if (a.open(QIODevice::ReadOnly) && a.readLine().trimmed() == "permanent") {
                m_entries[u].status.state = QueueState::Refused;
                pending += record('P', u);
            }
        }
    }

    // tmp/: a message whose queue mark is there was complete before the mark was written and
    // goes into place; anything else is what a crash left half-written.
    const QString tmpDir = m_outbox + QStringLiteral("/tmp");
    for (const QString& n : QDir(tmpDir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString from = tmpDir + QLatin1Char('/') + n;
        auto it = m_entries.find(n);
        if (it != m_entries.end() && it->second.status.state == QueueState::Waiting && !placed.contains(n)) {
            const QString rel = QStringLiteral("cur/") + n + QStringLiteral(":2,S");
            if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(m_outbox + QLatin1Char('/') + rel).constData()) == 0) {
                placed.insert(n, rel);
                continue;
            }
        }
        QFile::remove(from);
    }

    // An earlier version kept each answer in a file beside its message.
    for (const QString& n : QDir(m_outbox).entryList({kAnswerPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        auto it = m_entries.find(n.mid(kAnswerPrefix.size()));
        if (it == m_entries.end())
            continue;
        it->second.oldAnswer = true;
        QFile a(m_outbox + QLatin1Char('/') + n);
        if (!it->second.status.refusal && a.open(QIODevice::ReadOnly)) {
            Refusal r;
            r.permanent = a.readLine().trimmed() == "permanent";
            r.answer = QString::fromUtf8(a.readAll()).trimmed();
            it->second.status.refusal = r;
        }
    }

    // Messages gone from the folder leave the queue.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        it->second.rel = placed.value(it->first);
        if (it->second.rel.isEmpty()) {
            pending += record('X', it->first);
            m_foundInFlight.removeAll(it->first);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    settleFoundInFlight(m_foundInFlight, &pending);

    auto file = std::make_shared<File>();
    file->fd = ::open(journalName.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    m_file = file;
    if (file->fd < 0)
        return;    // every write is refused and reported by its caller
    if (!pending.isEmpty()) {
        m_records += pending.count('\n');
        writeAll(file->fd, pending);
        ::fdatasync(file->fd);
    }
    if (created)
        SyncDir(m_outbox);
}

bool OutboxQueue::append(const QByteArray& records)
{
    if (!m_file || m_file->fd < 0)
        return false;
    m_records += records.count('\n');
    if (!writeAll(m_file->fd, records))
        return false;
    ++m_written;
    return true;
}

void OutboxQueue::dropOldAnswer(const QString& unique, Entry& e)
{
    if (!e.oldAnswer)
        return;
    e.oldAnswer = false;
    ::unlink(QFile::encodeName(answerPath(unique)).constData());
}

QString OutboxQueue::resolve(const QString& unique, Entry& e)
{
    if (!e.rel.isEmpty() && QFileInfo::exists(m_outbox + QLatin1Char('/') + e.rel))
        return m_outbox + QLatin1Char('/') + e.rel;
    // Its flags changed since it was listed.
    e.rel.clear();
    for (const char* sub : {"cur", "new"}) {
        const QStringList names = QDir(m_outbox + QLatin1Char('/') + QLatin1String(sub))
                                      .entryList({unique + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
        for (const QString& n : names)
            if (MaildirUniquePart(n) == unique)
                e.rel = QLatin1String(sub) + QLatin1Char('/') + n;
    }
    return e.rel.isEmpty() ? QString() : m_outbox + QLatin1Char('/') + e.rel;
}

QString OutboxQueue::enqueue(const QByteArray& bytes, QString* error)
{
    const QString unique = MaildirUniqueName();
    if (!WriteToMaildirTmp(m_outbox, unique, bytes, error))
        return {};
    const Queued q = enqueueWritten({unique}).constFirst();
    if (q.path.isEmpty() && error)
        *error = q.error;
    return q.path;
}

QList<OutboxQueue::Queued> OutboxQueue::enqueueWritten(const QStringList& uniques)
{
    QList<Queued> out(uniques.size());
    auto tmpOf = [this](const QString& unique) { return m_outbox + QStringLiteral("/tmp/") + unique; };
    auto fail = [&](qsizetype k, const QString& why) {
        if (m_entries.erase(uniques[k]))
            append(record('X', uniques[k]));
        QFile::remove(tmpOf(uniques[k]));
        out[k].error = why;
    };
    const QString unwritable = QStringLiteral("The Outbox's sending queue cannot be written.");
    std::shared_ptr<File> file;
    {
        std::lock_guard lock(m_mutex);
        QByteArray records;
        for (const QString& u : uniques) {
            m_entries[u] = Entry{};   // not in place yet: no run takes it
            m_entries[u].status.state = QueueState::Waiting;
            records += record('Q', u);
        }
        if (!append(records)) {
            for (qsizetype k = 0; k < uniques.size(); ++k) {
                m_entries.erase(uniques[k]);
                QFile::remove(tmpOf(uniques[k]));
                out[k].error = unwritable;
            }
            return out;
        }
        file = m_file;
    }
    // The marks are on disk before the messages are in place: a crash in between leaves complete
    // messages in tmp/ that the next start puts in place.
    const bool marked = ::fdatasync(file->fd) == 0;
    QStringList rels(uniques.size());
    for (qsizetype k = 0; marked && k < uniques.size(); ++k) {
        const QString rel = QStringLiteral("cur/") + uniques[k] + QStringLiteral(":2,S");
        const QString target = m_outbox + QLatin1Char('/') + rel;
        if (::rename(QFile::encodeName(tmpOf(uniques[k])).constData(), QFile::encodeName(target).constData()) == 0) {
            rels[k] = rel;
            out[k].path = target;
        }
    }
    std::lock_guard lock(m_mutex);
    for (qsizetype k = 0; k < uniques.size(); ++k) {
        if (!marked) {
            fail(k, unwritable);
        } else if (rels[k].isEmpty()) {
            fail(k, QStringLiteral("Cannot move into place %1/cur/%2:2,S").arg(m_outbox, uniques[k]));
        } else if (auto it = m_entries.find(uniques[k]); it != m_entries.end()) {
            it->second.rel = rels[k];
        }
    }
    return out;
}

QueueStatus OutboxQueue::status(const QString& unique) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return {};
    QueueStatus s = it->second.status;
    s.held = it->second.holds > 0;
    return s;
}

QString OutboxQueue::pathOf(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    return it == m_entries.end() ? QString() : resolve(unique, it->second);
}

bool OutboxQueue::requeue(const QString& unique)
{
    std::shared_ptr<File> file;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(unique);
        if (it == m_entries.end())
            return false;
        Entry& e = it->second;
        QueueStatus& s = e.status;
        if (s.state == QueueState::Sending || s.state == QueueState::Delivered)
            return false;
        if (!append(record('A', unique)))
            return false;
        // Whoever the server took it for never gets it again.
        s.state = QueueState::Waiting;
        s.attempts = 0;
        s.nextTry = {};
        s.refusal.reset();
        s.recipients.removeIf([](const RecipientStatus& r) { return r.state != RecipientState::Accepted; });
        e.parked = false;
        e.parkedUntil = {};
        dropOldAnswer(unique, e);
        file = m_file;
    }
    ::fdatasync(file->fd);
    return true;
}

bool OutboxQueue::hold(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return true;
    if (it->second.status.state == QueueState::Sending)
        return false;
    ++it->second.holds;
    return true;
}

void OutboxQueue::release(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it != m_entries.end() && it->second.holds > 0)
        --it->second.holds;
}

void OutboxQueue::forget(const QString& unique)
{
    bool left = false;
    {
        std::lock_guard lock(m_mutex);
        left = m_entries.erase(unique) > 0;
        if (left)
            append(record('X', unique));
    }
    ::unlink(QFile::encodeName(answerPath(unique)).constData());
    if (!left)
        return;
    std::lock_guard lock(m_watchMutex);
    for (const auto& [owner, told] : m_watchers)
        told();
}

void OutboxQueue::watch(const void* owner, std::function<void()> left)
{
    std::lock_guard lock(m_watchMutex);
    m_watchers[owner] = std::move(left);
}

void OutboxQueue::unwatch(const void* owner)
{
    std::lock_guard lock(m_watchMutex);
    m_watchers.erase(owner);
}

int OutboxQueue::waitingCount() const { return count(QueueState::Waiting); }

int OutboxQueue::count(QueueState state) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_entries.begin(), m_entries.end(), [state](const auto& e) { return e.second.status.state == state; }));
}

OutboxQueue::Told OutboxQueue::told(qsizetype first) const
{
    Told t;
    std::lock_guard lock(m_mutex);
    t.sent = m_tally.sent;
    t.notes = m_tally.notes;
    t.runNotes = m_tally.runNotes;
    for (const auto& [unique, e] : m_entries) {
        const QueueStatus& s = e.status;
        bool stands = true;
        if (s.state == QueueState::Refused)
            ++t.refused;
        else if (s.state == QueueState::MaybeDelivered)
            ++t.maybeDelivered;
        else if (waitsForRetry(s))
            ++t.retry;
        else
            stands = false;
        if (!stands) {
            if (s.state == QueueState::Waiting || s.state == QueueState::Sending)
                ++t.toSend;
            continue;
        }
        for (const RecipientStatus& r : s.recipients) {
            if (r.state != RecipientState::Refused)
                continue;
            if (!t.firstRefused)
                t.firstRefused = r;
            if (s.state != QueueState::Refused)
                ++t.refusedRecipients;
        }
        if (e.rel.isEmpty())
            continue;
        if (t.standingTotal++ < first)
            t.standing.append({unique, m_outbox + QLatin1Char('/') + e.rel, s});
    }
    return t;
}

QList<OutboxQueue::Candidate> OutboxQueue::candidates(bool dueOnly, const QDateTime& now, QList<Candidate>* toFile)
{
    QList<Candidate> out;
    std::lock_guard lock(m_mutex);
    for (auto& [unique, e] : m_entries) {
        const QueueStatus& s = e.status;
        if (e.rel.isEmpty() || e.holds > 0)
            continue;
        if (s.state == QueueState::Delivered && toFile)
            toFile->append({unique, m_outbox + QLatin1Char('/') + e.rel, s.attempts, s.nextTry});
        if (s.state != QueueState::Waiting)
            continue;
        if (dueOnly && (e.parked || (s.nextTry.isValid() && s.nextTry > now) || (e.parkedUntil.isValid() && e.parkedUntil > now)))
            continue;
        e.parked = false;
        e.parkedUntil = {};
        out.append({unique, m_outbox + QLatin1Char('/') + e.rel, s.attempts, s.nextTry});
    }
    return out;
}

void OutboxQueue::beginRun()
{
    std::lock_guard lock(m_mutex);
    append("B " + BootId().toLatin1() + '\n');
}

bool OutboxQueue::markAhead(const QStringList& uniques)
{
    QByteArray records;
    for (const QString& u : uniques)
        records += record('W', u);
    std::lock_guard lock(m_mutex);
    return append(records);
}

bool OutboxQueue::flush()
{
    std::shared_ptr<File> file;
    qint64 upTo = 0;
    {
        std::lock_guard lock(m_mutex);
        file = m_file;
        upTo = m_written;
    }
    if (!file || file->fd < 0 || ::fdatasync(file->fd) != 0)
        return false;
    std::lock_guard lock(m_mutex);
    m_durable = std::max(m_durable, upTo);
    return true;
}

bool OutboxQueue::flushTo(qint64 record)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_durable >= record)
            return true;
    }
    return flush();
}

bool OutboxQueue::startAttempt(const QString& unique, QString* path)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end() || it->second.status.state != QueueState::Waiting || it->second.holds > 0)
        return false;
    // The run has just read it where the entry says; only a renamed one is looked for.
    const QString where = it->second.rel.isEmpty() ? resolve(unique, it->second) : m_outbox + QLatin1Char('/') + it->second.rel;
    if (where.isEmpty()) {
        // Taken away behind the program's back.
        m_entries.erase(it);
        append(record('X', unique));
        return false;
    }
    if (!append(record('F', unique)))
        return false;
    it->second.status.state = QueueState::Sending;
    *path = where;
    return true;
}

bool OutboxQueue::endOfData(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    return append(record('E', unique));
}

qint64 OutboxQueue::settle(const QString& unique, const Outcome& outcome)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return 0;
    Entry& e = it->second;
    QueueStatus& s = e.status;
    s.state = outcome.state;
    if (outcome.tried)
        ++s.attempts;
    s.nextTry = outcome.nextTry;
    s.refusal = outcome.answer;
    s.recipients = outcome.recipients;
    dropOldAnswer(unique, e);
    QByteArray records = outcomeRecord(unique, e);
    if (outcome.sent) {
        records += record('S', unique);
        ++m_tally.sent;
        if (!outcome.sent->refused.isEmpty()) {
            records += noteRecord(unique, *outcome.sent);
            m_tally.notes.append(*outcome.sent);
        }
    }
    return append(records) ? m_written : 0;
}

void OutboxQueue::untried(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return;
    QueueStatus& s = it->second.status;
    if (s.state != QueueState::Waiting && s.state != QueueState::Sending)
        return;
    s.state = QueueState::Waiting;
    append(record('T', unique));
}

void OutboxQueue::postpone(const QString& unique, const QDateTime& until)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it != m_entries.end()) {
        it->second.parkedUntil = until;
        it->second.parked = !until.isValid();
    }
}

QStringList OutboxQueue::takeFoundInFlight()
{
    std::lock_guard lock(m_mutex);
    QStringList out;
    out.swap(m_foundInFlight);
    return out;
}

void OutboxQueue::newTally()
{
    std::lock_guard lock(m_mutex);
    m_tally = Tally{};
    append("N " + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n');
}

void OutboxQueue::setRunNotes(const QStringList& notes)
{
    std::lock_guard lock(m_mutex);
    if (notes == m_tally.runNotes)
        return;
    m_tally.runNotes = notes;
    append(runNotesRecord(notes));
}

void OutboxQueue::compact()
{
    std::lock_guard lock(m_mutex);
    if (m_records < 4096 || m_records < 4 * qint64(m_entries.size()))
        return;
    QByteArray text = kHeader;
    if (m_tally.sent)
        text += "C " + QByteArray::number(m_tally.sent) + '\n';
    for (const SentNote& n : std::as_const(m_tally.notes))
        text += noteRecord(QStringLiteral("-"), n);
    if (!m_tally.runNotes.isEmpty())
        text += runNotesRecord(m_tally.runNotes);
    for (const auto& [unique, e] : m_entries) {
        text += record('Q', unique);
        const QueueStatus& s = e.status;
        if (s.state != QueueState::Waiting || s.attempts || s.nextTry.isValid() || s.refusal || !s.recipients.isEmpty())
            text += outcomeRecord(unique, e);
    }
    const QString journal = m_outbox + QLatin1Char('/') + QLatin1String(kJournal);
    const QString fresh = journal + QStringLiteral(".new");
    auto file = std::make_shared<File>();
    file->fd = ::open(QFile::encodeName(fresh).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (file->fd < 0)
        return;
    if (!writeAll(file->fd, text) || ::fsync(file->fd) != 0
        || ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(journal).constData()) != 0) {
        QFile::remove(fresh);
        return;
    }
    SyncDir(m_outbox);
    m_file = file;
    m_records = text.count('\n') - 1;
    m_durable = m_written;
}

void OutboxQueue::keepAnswer(const QString& unique, bool permanent, const QString& answer)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return;
    Entry& e = it->second;
    if (answer.isEmpty())
        e.status.refusal.reset();
    else
        e.status.refusal = Refusal{permanent, answer};
    dropOldAnswer(unique, e);
    append(outcomeRecord(unique, e));
}

std::optional<Refusal> OutboxQueue::keptAnswer(const QString& unique) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    return it == m_entries.end() ? std::nullopt : it->second.status.refusal;
}

std::optional<OutboxQueue::AccountWait> OutboxQueue::accountWait(const QString& account) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_accountWaits.constFind(account);
    return it == m_accountWaits.constEnd() ? std::nullopt : std::optional<AccountWait>(*it);
}

void OutboxQueue::setAccountWait(const QString& account, const AccountWait& wait)
{
    std::lock_guard lock(m_mutex);
    m_accountWaits.insert(account, wait);
}

void OutboxQueue::clearAccountWait(const QString& account)
{
    std::lock_guard lock(m_mutex);
    m_accountWaits.remove(account);
}

void OutboxQueue::clearAccountWaits(bool all, const QDateTime& now)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_accountWaits.begin(); it != m_accountWaits.end();) {
        if (all || (!it->forGood && it->until <= now))
            it = m_accountWaits.erase(it);
        else
            ++it;
    }
}

QDateTime OutboxQueue::nextDue() const
{
    QDateTime due;
    auto earlier = [&](const QDateTime& t) {
        if (t.isValid() && (!due.isValid() || t < due))
            due = t;
    };
    std::lock_guard lock(m_mutex);
    bool anyWaiting = false;
    for (const auto& [unique, e] : m_entries) {
        if (e.status.state != QueueState::Waiting || e.holds > 0 || e.rel.isEmpty() || e.parked)
            continue;
        anyWaiting = true;
        earlier(e.parkedUntil.isValid() && (!e.status.nextTry.isValid() || e.parkedUntil > e.status.nextTry) ? e.parkedUntil
                                                                                                          : e.status.nextTry);
    }
    if (anyWaiting)
        for (const AccountWait& w : m_accountWaits)
            if (!w.forGood)
                earlier(w.until);
    return due;
}

std::optional<Refusal> OutboxRefusal(const QString& outbox, const QString& messageFile)
{
    return OutboxQueue::Of(outbox)->keptAnswer(MaildirUniquePart(messageFile));
}

void ClearRefusal(const QString& outbox, const QString& messageFile)
{
    const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
    const QString unique = MaildirUniquePart(messageFile);
    if (!q->requeue(unique))
        q->keepAnswer(unique, false, QString());
}

QString QueueMessage(const QString& outbox, const QByteArray& bytes, QString* error)
{
    return OutboxQueue::Of(outbox)->enqueue(bytes, error);
}

} // namespace mail::send

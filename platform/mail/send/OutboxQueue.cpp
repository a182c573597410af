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

namespace mail::send {

namespace {

const char kJournal[] = ".queue";
const QByteArray kHeader = "ferrowyn-queue 1\n";
const QString kAnswerPrefix = QStringLiteral(".answer.");

bool writeAll(int fd, const QByteArray& bytes) { return WriteAll(fd, bytes.constData(), bytes.size()); }

QByteArray record(char kind, const QString& unique) { return QByteArray(1, kind) + ' ' + unique.toUtf8() + '\n'; }

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

void OutboxQueue::load()
{
    const QString journal = m_outbox + QLatin1Char('/') + QLatin1String(kJournal);
    const QByteArray journalName = QFile::encodeName(journal);

    // The messages in place, by unique name.
    QHash<QString, QString> placed;
    for (const char* sub : {"cur", "new"}) {
        const QStringList names = QDir(m_outbox + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files | QDir::Hidden);
        for (const QString& n : names)
            if (!n.startsWith(QLatin1Char('.')))
                placed.insert(MaildirUniquePart(n), QLatin1String(sub) + QLatin1Char('/') + n);
    }

    QByteArray pending;   // records this load adds
    bool created = false;
    const bool existed = QFileInfo::exists(journal);
    if (existed) {
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
        struct Open {
            char kind = 0;
            QString boot;
        };
        QHash<QString, Open> open;
        QString boot;
        for (const QByteArray& line : text.split('\n')) {
            if (line.size() < 3 || line[1] != ' ')
                continue;
            ++m_records;
            const QString arg = QString::fromUtf8(line.mid(2));
            const char kind = line[0];
            if (kind == 'B') {
                boot = arg;
                continue;
            }
            if (kind == 'Q') {
                Entry& e = m_entries[arg];
                e = Entry{};
                open.remove(arg);
                continue;
            }
            auto it = m_entries.find(arg);
            if (it == m_entries.end())
                continue;
            Entry& e = it->second;
            switch (kind) {
            case 'W':
                if (e.state == QueueState::Waiting && !open.contains(arg))
                    open.insert(arg, {'W', boot});
                break;
            case 'F':
                open.insert(arg, {'F', boot});
                break;
            case 'D':
                e.state = QueueState::Delivered;
                open.remove(arg);
                break;
            case 'T':
                e.state = QueueState::Waiting;
                open.remove(arg);
                break;
            case 'P':
                e.state = QueueState::Refused;
                open.remove(arg);
                break;
            case 'M':
                e.state = QueueState::MaybeDelivered;
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
        // What a crash left in flight. On this same boot every record written is there; after a
        // reboot a "W" without its "F" may hide a transfer that did start.
        const QString thisBoot = BootId();
        for (auto it = open.cbegin(); it != open.cend(); ++it) {
            auto e = m_entries.find(it.key());
            if (e == m_entries.end())
                continue;
            if (it->kind == 'W' && !thisBoot.isEmpty() && it->boot == thisBoot) {
                pending += record('T', it.key());
                continue;
            }
            e->second.state = QueueState::MaybeDelivered;
            pending += record('M', it.key());
            m_foundInFlight << it.key();
        }
    } else {
        // The first start of a queue: what an earlier version left waiting is taken in, once.
        created = true;
        pending += kHeader;
        QStringList uniques = placed.keys();
        std::sort(uniques.begin(), uniques.end());
        for (const QString& u : uniques) {
            Entry& e = m_entries[u];
            pending += record('Q', u);
            QFile a(answerPath(u));
            if (a.open(QIODevice::ReadOnly) && a.readLine().trimmed() == "permanent") {
                e.state = QueueState::Refused;
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
        if (it != m_entries.end() && it->second.state == QueueState::Waiting && !placed.contains(n)) {
            const QString rel = QStringLiteral("cur/") + n + QStringLiteral(":2,S");
            if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(m_outbox + QLatin1Char('/') + rel).constData()) == 0) {
                placed.insert(n, rel);
                continue;
            }
        }
        QFile::remove(from);
    }

    for (const QString& n : QDir(m_outbox).entryList({kAnswerPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        auto it = m_entries.find(n.mid(kAnswerPrefix.size()));
        if (it != m_entries.end())
            it->second.answered = true;
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
    for (const QString& u : std::as_const(m_foundInFlight))
        keepAnswer(u, true,
                   QStringLiteral("The program stopped while this message was being sent: it may have been delivered. "
                                  "Send it again only if its recipients did not get it."));

    auto file = std::make_shared<File>();
    file->fd = ::open(journalName.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    m_file = file;
    if (file->fd < 0)
        return;    // every write is refused and reported by its caller
    if (!pending.isEmpty()) {
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
    return writeAll(m_file->fd, records);
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
    QueueStatus s;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(unique);
        if (it == m_entries.end())
            return s;
        s.state = it->second.state;
        s.attempts = it->second.attempts;
        s.nextTry = it->second.nextTry;
        s.held = it->second.holds > 0;
        if (!it->second.answered)
            return s;    // nothing to read: the message grid asks this of every Outbox row
    }
    s.refusal = keptAnswer(unique);
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
        if (it == m_entries.end() || it->second.state == QueueState::Sending || it->second.state == QueueState::Delivered)
            return false;
        Entry& e = it->second;
        e.state = QueueState::Waiting;
        e.attempts = 0;
        e.nextTry = {};
        e.parked = false;
        if (!append(record('Q', unique)))
            return false;
        e.answered = false;
        file = m_file;
    }
    ::fdatasync(file->fd);
    ::unlink(QFile::encodeName(answerPath(unique)).constData());
    return true;
}

bool OutboxQueue::hold(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return true;
    if (it->second.state == QueueState::Sending)
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

int OutboxQueue::waitingCount() const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_entries.begin(), m_entries.end(), [](const auto& e) { return e.second.state == QueueState::Waiting; }));
}

int OutboxQueue::count(QueueState state) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_entries.begin(), m_entries.end(), [state](const auto& e) { return e.second.state == state; }));
}

QList<OutboxQueue::Standing> OutboxQueue::standing(qsizetype first, qsizetype* total)
{
    QList<Standing> out;
    qsizetype n = 0;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [unique, e] : m_entries) {
            const bool stands = e.state == QueueState::Refused || e.state == QueueState::MaybeDelivered
                                || (e.state == QueueState::Waiting && e.answered);
            if (!stands || e.rel.isEmpty())
                continue;
            if (n++ < first)
                out.append({unique, m_outbox + QLatin1Char('/') + e.rel, e.state, e.nextTry, {}});
        }
    }
    if (total)
        *total = n;
    for (Standing& s : out)
        s.refusal = keptAnswer(s.unique).value_or(Refusal{});
    return out;
}

QList<OutboxQueue::Candidate> OutboxQueue::candidates(bool dueOnly, const QDateTime& now, QList<Candidate>* toFile)
{
    QList<Candidate> out;
    std::lock_guard lock(m_mutex);
    for (auto& [unique, e] : m_entries) {
        if (e.rel.isEmpty() || e.holds > 0)
            continue;
        if (e.state == QueueState::Delivered && toFile)
            toFile->append({unique, m_outbox + QLatin1Char('/') + e.rel, e.attempts, e.nextTry});
        if (e.state != QueueState::Waiting)
            continue;
        if (dueOnly && (e.parked || (e.nextTry.isValid() && e.nextTry > now)))
            continue;
        e.parked = false;
        out.append({unique, m_outbox + QLatin1Char('/') + e.rel, e.attempts, e.nextTry});
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
    {
        std::lock_guard lock(m_mutex);
        file = m_file;
    }
    return file && file->fd >= 0 && ::fdatasync(file->fd) == 0;
}

bool OutboxQueue::startAttempt(const QString& unique, QString* path)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end() || it->second.state != QueueState::Waiting || it->second.holds > 0)
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
    it->second.state = QueueState::Sending;
    *path = where;
    return true;
}

void OutboxQueue::settle(const QString& unique, QueueState state, char kind)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return;
    it->second.state = state;
    append(record(kind, unique));
}

void OutboxQueue::delivered(const QString& unique) { settle(unique, QueueState::Delivered, 'D'); }

void OutboxQueue::notDelivered(const QString& unique, bool tried, const QDateTime& nextTry)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it == m_entries.end())
        return;
    Entry& e = it->second;
    if (e.state != QueueState::Waiting && e.state != QueueState::Sending)
        return;
    e.state = QueueState::Waiting;
    if (tried) {
        ++e.attempts;
        e.nextTry = nextTry;
    }
    append(record('T', unique));
}

void OutboxQueue::refused(const QString& unique) { settle(unique, QueueState::Refused, 'P'); }

void OutboxQueue::maybeDelivered(const QString& unique) { settle(unique, QueueState::MaybeDelivered, 'M'); }

void OutboxQueue::postpone(const QString& unique, const QDateTime& until)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(unique);
    if (it != m_entries.end()) {
        it->second.nextTry = until;
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

void OutboxQueue::compact()
{
    std::lock_guard lock(m_mutex);
    if (m_records < 4096 || m_records < 4 * qint64(m_entries.size()))
        return;
    QByteArray text = kHeader;
    for (const auto& [unique, e] : m_entries) {
        text += record('Q', unique);
        if (e.state == QueueState::Refused)
            text += record('P', unique);
        else if (e.state == QueueState::MaybeDelivered)
            text += record('M', unique);
        else if (e.state == QueueState::Delivered)
            text += record('D', unique);
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
}

void OutboxQueue::keepAnswer(const QString& unique, bool permanent, const QString& answer)
{
    const QByteArray path = QFile::encodeName(answerPath(unique));
    if (answer.isEmpty()) {
        ::unlink(path.constData());
    } else {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        ::fchmod(fd, 0600);    // one written by an earlier version may be readable by others
        writeAll(fd, (permanent ? QByteArray("permanent\n") : QByteArray("temporary\n")) + answer.toUtf8() + '\n');
        ::close(fd);
    }
    std::lock_guard lock(m_mutex);
    if (auto it = m_entries.find(unique); it != m_entries.end())
        it->second.answered = !answer.isEmpty();
}

std::optional<Refusal> OutboxQueue::keptAnswer(const QString& unique) const
{
    QFile f(answerPath(unique));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Refusal r;
    r.permanent = f.readLine().trimmed() == "permanent";
    r.answer = QString::fromUtf8(f.readAll()).trimmed();
    return r;
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
        if (e.state != QueueState::Waiting || e.holds > 0 || e.rel.isEmpty())
            continue;
        anyWaiting = true;
        earlier(e.nextTry);
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

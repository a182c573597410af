#include "platform/mail/send/OutboxQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OldJournal.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/mail/send/QueueDatabase.h"

namespace mail::send {

namespace {

const char kDatabase[] = ".queue.db";
const char kRunLock[] = ".queue.lock";
const char kJournal[] = ".queue";    // an earlier version's
// The journal once taken over, moved out of the way before its database is put in place: never
// read again, unless that database never got there.
const char kTakenJournal[] = ".queue.taken";
const QString kAnswerPrefix = QStringLiteral(".answer.");    // an earlier version's
constexpr qint64 kFormat = 1;
// A file in tmp/ that no queue mark names is what a crash left half-written once it is this old.
constexpr int kTmpDebrisSeconds = 3600;

const char* const kSchema[] = {
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID",
    // One row a queued message. mark: 1 "may be tried soon" (on the boot mark_boot), 2 the end of
    // its text was being handed over in transfer number `transfer`. answer: its own, not its
    // recipients'.
    "CREATE TABLE messages(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, rel TEXT NOT NULL, state TEXT NOT NULL, "
    "attempts INTEGER NOT NULL DEFAULT 0, next_try INTEGER, answer TEXT, mark INTEGER NOT NULL DEFAULT 0, mark_boot TEXT, "
    "transfer INTEGER NOT NULL DEFAULT 0)",
    // Each answer a server gave for a message's recipients, once.
    "CREATE TABLE answers(id INTEGER PRIMARY KEY, message INTEGER NOT NULL, text TEXT NOT NULL)",
    "CREATE INDEX answers_of ON answers(message)",
    // One row a recipient that is not simply owed; rcpt: the transfer in which the server
    // refused it at RCPT, recorded with the end mark.
    "CREATE TABLE recipients(id INTEGER PRIMARY KEY, message INTEGER NOT NULL, address TEXT NOT NULL, state TEXT NOT NULL, "
    "until INTEGER, answer INTEGER, rcpt INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX recipients_of ON recipients(message)",
    // What the runs tell since the user last sent or checked mail.
    "CREATE TABLE notes(id INTEGER PRIMARY KEY, subject TEXT NOT NULL, first TEXT NOT NULL, recipients INTEGER NOT NULL)",
    "CREATE TABLE note_refused(note INTEGER NOT NULL, address TEXT NOT NULL, answer TEXT NOT NULL)",
    "CREATE TABLE run_notes(seq INTEGER PRIMARY KEY, text TEXT NOT NULL)",
    "INSERT INTO meta VALUES('format', 1), ('sent', 0)",
};

const QString kStoppedText = QStringLiteral("The program stopped while this message was being sent: it may have been delivered. "
                                            "Send it again only if its recipients did not get it.");
const QString kUnrecordedText = QStringLiteral("The server may have taken this message, but the Outbox's delivery record could not "
                                                "be written to say so: it may have been delivered. Send it again only if its "
                                                "recipients did not get it.");
const QString kHeldText = QStringLiteral("The Outbox's delivery record did not say whether this message was sent, so it may have "
                                         "been delivered, to some of its recipients or to all. It is not sent by itself: check "
                                         "with its recipients, then send it again or delete it.");

QString stateLetter(QueueState s)
{
    switch (s) {
    case QueueState::Refused: return QStringLiteral("p");
    case QueueState::MaybeDelivered: return QStringLiteral("m");
    case QueueState::Delivered: return QStringLiteral("d");
    default: return QStringLiteral("w");    // a message being sent reads back as waiting
    }
}

QueueState stateOf(const QString& letter)
{
    if (letter == QLatin1String("p"))
        return QueueState::Refused;
    if (letter == QLatin1String("m"))
        return QueueState::MaybeDelivered;
    if (letter == QLatin1String("d"))
        return QueueState::Delivered;
    return QueueState::Waiting;
}

QString recipientLetter(RecipientState s)
{
    switch (s) {
    case RecipientState::Deferred: return QStringLiteral("d");
    case RecipientState::Accepted: return QStringLiteral("a");
    case RecipientState::Refused: return QStringLiteral("p");
    case RecipientState::MaybeDelivered: return QStringLiteral("m");
    case RecipientState::Owed: break;
    }
    return QStringLiteral("o");
}

RecipientState recipientOf(const QString& letter)
{
    if (letter == QLatin1String("d"))
        return RecipientState::Deferred;
    if (letter == QLatin1String("a"))
        return RecipientState::Accepted;
    if (letter == QLatin1String("p"))
        return RecipientState::Refused;
    if (letter == QLatin1String("m"))
        return RecipientState::MaybeDelivered;
    return RecipientState::Owed;
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

QString heldTail(qsizetype held)
{
    if (held == 1)
        return QStringLiteral(" So 1 message in the Outbox may have been delivered already. It is not sent by itself: open it "
                              "in the Outbox to see its recipients, then send it again or delete it.");
    return QStringLiteral(" So %1 messages in the Outbox may have been delivered already. None of them is sent by itself: open "
                          "each one marked in the Outbox to see its recipients, then send it again or delete it.")
        .arg(held);
}

// Moves a file that cannot be trusted out of the way, under a name that is never read.
QString setAside(const QString& path, QString* error)
{
    const QString aside = path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!RenameQueueFile(path, aside)) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }
    // Its log belongs to it: an old log beside a new database would be read into it.
    for (const char* tail : {"-wal", "-shm"})
        RenameQueueFile(path + QLatin1String(tail), aside + QLatin1String(tail));
    return aside;
}

// A hold is recorded as meta "hold:<message>/<holder>", its value naming the process that holds it
// with its boot: another process's run leaves the message alone while that process lives.
const QString kHoldKey = QStringLiteral("hold:");

// When the process with this id started ("" when there is none): with the boot, it names a
// process once, though its id is used again.
QString startOf(const QString& pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    // The fields after the command's name, from the third on: the 22nd is the start time.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? QString::fromLatin1(fields[19]) : QString();
}

// "<process id> <start time>" of this process.
QString thisProcess()
{
    static const QString me = [] {
        const QString pid = QString::number(::getpid());
        return pid + QLatin1Char(' ') + startOf(pid);
    }();
    return me;
}

// A hold's record: "<boot> <process id> <start time>".
bool heldByUs(const QString& holder) { return holder.section(QLatin1Char(' '), 1) == thisProcess(); }

// This process's hold of the message: one a holder, so that a release here leaves another's.
QString holdKey(const QString& unique) { return kHoldKey + unique + QLatin1Char('/') + thisProcess(); }

bool holderLives(const QString& holder, const QString& boot)
{
    const QStringList f = holder.split(QLatin1Char(' '));
    return f.size() == 3 && !boot.isEmpty() && f[0] == boot && !f[2].isEmpty() && startOf(f[1]) == f[2];
}

// A stored message's header block, made ready as for the wire (who it goes to).
Outgoing headOfFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray head;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        head += line;
        if (line == "\n" || line == "\r\n")
            break;
    }
    return PrepareOutgoing(head);
}

} // namespace

struct OutboxQueue::Row {
    qint64 id = 0;
    QString name, rel;
    QueueState state = QueueState::Waiting;
    int attempts = 0;
    QDateTime nextTry;
    QString answer;
    int mark = 0;
    QString markBoot;
    qint64 transfer = 0;
};

#define ROW_COLUMNS "id, name, rel, state, attempts, next_try, answer, mark, mark_boot, transfer"

namespace {

template <typename Query>
void readRow(const Query& q, OutboxQueue::Row& r)
{
    r.id = q.integer(0);
    r.name = q.text(1);
    r.rel = q.text(2);
    r.state = stateOf(q.text(3));
    r.attempts = int(q.integer(4));
    r.nextTry = q.time(5);
    r.answer = q.text(6);
    r.mark = int(q.integer(7));
    r.markBoot = q.text(8);
    r.transfer = q.integer(9);
}

} // namespace

namespace {
QString& bootId()
{
    static QString id = [] {
        QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    }();
    return id;
}
} // namespace

QString OutboxQueue::BootId() { return bootId(); }

void OutboxQueue::SetBootId(const QString& id) { bootId() = id; }

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

OutboxQueue::OutboxQueue(const QString& outbox) : m_outbox(outbox)
{
    m_runFd = openRunLock();
    // What a crash left marked is settled only while no other process delivers from here.
    const bool alone = m_runFd >= 0 && ::flock(m_runFd, LOCK_EX | LOCK_NB) == 0;
    {
        std::lock_guard lock(m_mutex);
        open(true, alone);
    }
    if (alone)
        ::flock(m_runFd, LOCK_UN);
}

OutboxQueue::~OutboxQueue()
{
    {
        std::lock_guard lock(m_mutex);
        // What could not be recorded after a transfer, if it can be now.
        if (!m_unrecordedNoted)
            write([] {});
        if (m_db)
            m_db->checkpoint();
        m_db.reset();
    }
    if (m_runFd >= 0)
        ::close(m_runFd);
    std::lock_guard lock(registryMutex());
    auto it = registry().find(m_outbox);
    if (it != registry().end() && it->expired())
        registry().erase(it);
}

QString OutboxQueue::databasePath() const { return m_outbox + QLatin1Char('/') + QLatin1String(kDatabase); }

QString OutboxQueue::unopenable() const
{
    if (m_openPasses)
        return QStringLiteral("The Outbox's delivery record %1 cannot be read at this moment: %2. Nothing is sent from the Outbox "
                              "until it can be; it is tried again with the next delivery.")
            .arg(databasePath(), m_openError);
    return QStringLiteral("The Outbox's delivery record %1 cannot be opened: %2. Nothing is sent from the Outbox until it can be: "
                          "make it a file you can read and write, or move it out of the way.")
        .arg(databasePath(), m_openError);
}

// ---- opening ----

namespace {

// The names in a folder; false when it cannot be listed (an empty listing is not "none").
bool listNames(const QString& dir, QStringList* names)
{
    DIR* d = ::opendir(QFile::encodeName(dir).constData());
    if (!d)
        return false;
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            names->append(QFile::decodeName(e->d_name));
        errno = 0;
    }
    // Kept for the caller's strerror: closedir may set errno too.
    const int error = errno;
    ::closedir(d);
    errno = error;
    return error == 0;
}

} // namespace

bool OutboxQueue::placed(QHash<QString, QString>* out) const
{
    for (const char* sub : {"cur", "new"}) {
        QStringList names;
        if (!listNames(m_outbox + QLatin1Char('/') + QLatin1String(sub), &names))
            return false;
        for (const QString& n : std::as_const(names))
            out->insert(MaildirUniquePart(n), QLatin1String(sub) + QLatin1Char('/') + n);
    }
    return true;
}

namespace {

enum class Schema { Sound, Missing, Unknown, Unreadable };

Schema schemaOf(QueueDatabase& db)
{
    QueueDatabase::Query t = db.query("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'meta'");
    if (!t.next())
        return Schema::Unreadable;
    if (t.integer(0) == 0)
        return Schema::Missing;
    QueueDatabase::Query q = db.query("SELECT value FROM meta WHERE key = 'format'");
    if (q.next())
        return q.integer(0) == kFormat ? Schema::Sound : Schema::Unknown;
    return Schema::Unreadable;
}

void removeDatabaseFiles(const QString& path)
{
    for (const char* tail : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(tail));
}

bool there(const QString& path) { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); }

// Closes a database whose content must be all in its file: every frame of its log written back,
// and no log left beside it to be lost on the way. False with *error when it is not.
bool closeWhole(std::unique_ptr<QueueDatabase>& db, QString* error)
{
    const QString path = db->path();
    const bool whole = db->checkpoint();
    if (!whole)
        *error = db->error();
    db.reset();
    if (whole && there(path + QStringLiteral("-wal")))
        *error = QStringLiteral("its log could not be written back");
    return whole && !there(path + QStringLiteral("-wal"));
}

// What an earlier version left beside a database that is whole: its journal, taken over or not,
// and its answer files, never to be read again. Their removal must not reach the disk before
// the database's own place does.
void dropTakenOver(const QString& outbox)
{
    QStringList left;
    for (const char* name : {kJournal, kTakenJournal})
        if (there(outbox + QLatin1Char('/') + QLatin1String(name)))
            left << outbox + QLatin1Char('/') + QLatin1String(name);
    for (const QString& n : QDir(outbox).entryList({kAnswerPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System))
        left << outbox + QLatin1Char('/') + n;
    if (left.isEmpty() || !SyncQueueFolder(outbox))
        return;
    for (const QString& f : std::as_const(left))
        RemoveQueueFile(f);
}

} // namespace

// atStart: the process starts, and tmp/ is tidied too. settle: the caller holds the run lock (no
// run goes), and what one left marked is settled.
void OutboxQueue::open(bool atStart, bool settle)
{
    if (settle) {
        openAt(atStart, true, true);
        return;
    }
    // Making, taking over or setting aside the database is done by one process at a time: under
    // the run lock, taken through a file description of its own so that this process's own run
    // never loses it.
    if (openAt(atStart, false, false))
        return;
    const int fd = openRunLock();
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        openAt(atStart, false, true);
    } else {
        m_db.reset();
        m_openError = QStringLiteral("another process is setting it up or delivering from it");
        m_openPasses = true;
    }
    if (fd >= 0)
        ::close(fd);
}

// False when it has to make, take over or set aside the database and is not `locked`.
// The database opened becomes the queue's; else why not is kept, and whether it may pass.
bool OutboxQueue::adopt(QueueDatabase::Opening o)
{
    if (!o.db) {
        m_openError = o.error;
        m_openPasses = o.passes;
        return false;
    }
    m_db = std::move(o.db);
    return true;
}

bool OutboxQueue::openAt(bool atStart, bool settle, bool locked)
{
    const QString path = databasePath();
    const QString journal = m_outbox + QLatin1Char('/') + QLatin1String(kJournal);
    m_db.reset();
    m_openPasses = false;
    QString damage, aside;
    QFileInfo file(path);
    if (file.exists() || file.isSymLink()) {
        QueueDatabase::Opening o = QueueDatabase::Open(path);
        if (o.db) {
            switch (schemaOf(*o.db)) {
            case Schema::Sound:
                m_db = std::move(o.db);
                break;
            case Schema::Unreadable:
                // A read that failed (the disk, a lock held too long) passes; the file is kept.
                m_openError = o.db->error();
                m_openPasses = true;
                return true;
            case Schema::Missing:
                // Being made by another process, or emptied: a database is put in place whole, so
                // a journal beside it is never taken up.
                if (!locked)
                    return false;
                [[fallthrough]];
            case Schema::Unknown: damage = QStringLiteral("it holds no delivery record"); break;
            }
        } else if (o.damaged) {
            damage = o.error;
        } else {
            adopt(std::move(o));
            return true;
        }
        if (!m_db && !damage.isEmpty()) {
            if (!locked)
                return false;
            // Empty, overwritten, cut short, or not a queue's: kept for a look, and the queue begins anew.
            o.db.reset();
            QString why;
            aside = setAside(path, &why);
            if (aside.isEmpty()) {
                m_openError = QStringLiteral("it is damaged (%1) and cannot be moved out of the way (%2)").arg(damage, why);
                return true;
            }
        }
    }
    if (!m_db) {
        if (!locked)
            return false;
        if (!build(path, journal, damage, aside))
            return true;
    }
    m_openError.clear();
    dropTakenOver(m_outbox);
    {
        // What opening found, until its message box has been shown.
        QueueDatabase::Query q = m_db->query("SELECT value FROM meta WHERE key = 'unseen'");
        m_finding = q.next() ? q.text(0) : QString();
    }
    write([&] {
        tidy(atStart);
        if (settle)
            settleMarks();
    });
    return true;
}

// A new database, made whole under another name with what it takes over (an earlier version's
// journal), flushed and checked. Then the journal goes out of the way, and the database is put in
// place: once there, the journal is never read again, even should the database be lost. A crash
// or a full disk before that leaves the journal, and the next start takes it over again; one
// between the two leaves the new database beside the journal moved away, and the next start
// moves it back and does the same. On true the database is the queue's.
bool OutboxQueue::build(const QString& path, const QString& journal, const QString& damage, const QString& aside)
{
    QHash<QString, QString> inPlace;
    if (!placed(&inPlace)) {
        m_openError = QStringLiteral("the Outbox's folders cannot be read: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const QString fresh = path + QStringLiteral(".new");
    const QString taken = m_outbox + QLatin1Char('/') + QLatin1String(kTakenJournal);
    // Nothing could be recorded (a full disk): nothing is sent until it can be.
    auto failed = [&](const QString& why) {
        m_openError = QStringLiteral("The Outbox's delivery record could not be written: %1").arg(why);
        m_openPasses = true;
        m_writeError.clear();
        m_db.reset();
        return false;
    };
    if (damage.isEmpty() && there(taken) && there(fresh) && !there(journal) && !RenameQueueFile(taken, journal))
        return failed(QString::fromLocal8Bit(strerror(errno)));
    removeDatabaseFiles(fresh);
    if (!adopt(QueueDatabase::Open(fresh)))
        return false;
    // Flushed once, whole, below.
    m_db->exec("PRAGMA synchronous=OFF");
    const bool journalThere = there(journal);
    const bool converting = journalThere && damage.isEmpty();
    bool journalDamaged = false;
    bool ok = write([&] {
        for (const char* sql : kSchema)
            m_db->exec(sql);
        QStringList held;
        QString why;
        if (converting) {
            journalDamaged = !takeOver(journal, inPlace, &why);
            if (journalDamaged)
                held = inPlace.keys();
        } else if (!inPlace.isEmpty()) {
            // No state for messages that wait: whether they went cannot be told.
            why = damage.isEmpty()
                      ? QStringLiteral("The Outbox's delivery record %1 is missing.").arg(path)
                      : QStringLiteral("The Outbox's delivery record %1 was damaged (%2); it is kept as %3.").arg(path, damage, aside);
            held = inPlace.keys();
        }
        if (!held.isEmpty()) {
            std::sort(held.begin(), held.end());
            holdForTheUser(held, inPlace, kHeldText);
            const QString finding = why + heldTail(held.size());
            // Told on the status line until the next Send, and in a box until one has shown it.
            m_db->query("INSERT INTO meta VALUES('finding', ?), ('unseen', ?)").bind(finding).bind(finding).run();
        }
    });
    if (!ok)
        return failed(m_db->error());
    // All of it in the file itself and flushed, read back whole, before anything depends on it.
    QString why;
    if (!closeWhole(m_db, &why))
        return failed(why);
    if (!SyncQueueFile(fresh))
        return failed(QString::fromLocal8Bit(strerror(errno)));
    QueueDatabase::Opening check = QueueDatabase::Open(fresh);
    if (!check.db || schemaOf(*check.db) != Schema::Sound)
        return failed(check.db ? check.db->error() : check.error);
    if (!closeWhole(check.db, &why))
        return failed(why);
    if (journalThere) {
        // Taken over, or not to be trusted: never read again once the database is in place.
        if (converting && !journalDamaged ? !RenameQueueFile(journal, taken) : setAside(journal, &why).isEmpty())
            return failed(QString::fromLocal8Bit(strerror(errno)));
    }
    // A log left beside a missing database would be read into this one.
    for (const char* tail : {"-wal", "-shm"})
        if (!RemoveQueueFile(path + QLatin1String(tail)))
            return failed(QString::fromLocal8Bit(strerror(errno)));
    if (!RenameQueueFile(fresh, path) || !SyncQueueFolder(m_outbox))
        return failed(QString::fromLocal8Bit(strerror(errno)));
    QueueDatabase::Opening o = QueueDatabase::Open(path);
    if (o.db && schemaOf(*o.db) != Schema::Sound) {
        o.db.reset();
        o.error = QStringLiteral("it holds no delivery record");
    }
    return adopt(std::move(o));
}

// An earlier version's journal, with its answer files, taken into the new database: what it
// says of the messages in place (inPlace) and of what the runs told. False, with *why, when it
// does not read whole: what was read before the damage is taken, and the caller holds the rest.
bool OutboxQueue::takeOver(const QString& journal, const QHash<QString, QString>& inPlace, QString* why)
{
    QFile f(journal);
    OldJournal j;
    if (QFileInfo(journal).isDir())
        j.damage = QStringLiteral("it is a folder");
    else if (!f.open(QIODevice::ReadOnly))
        j.damage = f.errorString();
    else
        j = ReadOldJournal(f.readAll(), BootId());
    QHash<QString, QString> answerFiles;
    for (const QString& n : QDir(m_outbox).entryList({kAnswerPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden))
        answerFiles.insert(n.mid(kAnswerPrefix.size()), m_outbox + QLatin1Char('/') + n);
    for (const auto& [name, s] : j.entries) {
        // Queued and not put in place before a crash: the start puts it there.
        const QString rel = inPlace.contains(name) ? inPlace.value(name) : QStringLiteral("cur/") + name + QStringLiteral(":2,S");
        if (!inPlace.contains(name) && !QFileInfo::exists(m_outbox + QStringLiteral("/tmp/") + name))
            continue;
        QueueStatus st = s;
        if (st.answer.isEmpty() && answerFiles.contains(name)) {
            QFile a(answerFiles.value(name));
            if (a.open(QIODevice::ReadOnly))
                st.answer = ReadOldAnswer(a.readAll());
        }
        // An earlier version's retry copy went only to its envelope's recipients: the
        // others had the message already.
        if (const Outgoing head = headOfFile(m_outbox + QLatin1Char('/') + rel); !head.envelope.isEmpty()) {
            QSet<QString> owed, known;
            for (const QString& a : head.envelope)
                owed.insert(AddressKey(a));
            for (const RecipientStatus& r : std::as_const(st.recipients))
                known.insert(AddressKey(r.address));
            for (const QString& a : head.recipients)
                if (!owed.contains(AddressKey(a)) && !known.contains(AddressKey(a)))
                    st.recipients.append({a, RecipientState::Accepted, {}, {}});
        }
        // The doubt an earlier version kept as the transport's bare words is told whole.
        for (RecipientStatus& r : st.recipients)
            if (r.state == RecipientState::MaybeDelivered && r.answer != kStoppedText)
                r.answer = LostConnectionText(r.answer);
        // Its recipients' answers are kept with them; the message keeps only its own.
        const bool own = !st.answer.isEmpty() && MessageAnswer(st.state, st.recipients).isEmpty();
        m_db->query("INSERT INTO messages(name, rel, state, attempts, next_try, answer, mark, mark_boot) "
                    "VALUES(?, ?, ?, ?, ?, ?, ?, '')")
            .bind(name)
            .bind(rel)
            .bind(stateLetter(st.state))
            .bind(qint64(st.attempts))
            .bind(st.nextTry)
            .bind(own ? st.answer : QString())
            .bind(qint64(j.inFlight.contains(name) ? 2 : 0))
            .run();
        if (const std::optional<Row> r = row(name))
            writeRecipients(r->id, st.recipients);
    }
    m_db->query("UPDATE meta SET value = ? WHERE key = 'sent'").bind(qint64(j.sent)).run();
    for (const SentNote& n : j.notes)
        addNote(n);
    for (const QString& n : j.runNotes)
        m_db->query("INSERT INTO run_notes(text) VALUES(?)").bind(n).run();
    if (j.damage.isEmpty())
        return true;
    *why = QStringLiteral("The Outbox's delivery record %1 could not be read whole (%2).").arg(journal, j.damage);
    return false;
}

// Messages whose state cannot be told: each waits for the user, who has the answer to read.
void OutboxQueue::holdForTheUser(const QStringList& names, const QHash<QString, QString>& inPlace, const QString& answer)
{
    for (const QString& name : names) {
        if (std::optional<Row> r = row(name)) {
            m_db->query("UPDATE messages SET state = 'm', answer = ?, mark = 0 WHERE id = ?").bind(answer).bind(r->id).run();
            continue;
        }
        m_db->query("INSERT INTO messages(name, rel, state, answer) VALUES(?, ?, 'm', ?)")
            .bind(name)
            .bind(inPlace.value(name))
            .bind(answer)
            .run();
    }
}

// What the folder holds against what the queue says: messages gone from it leave the queue,
// renamed ones are found where they are. When the process starts (atStart), what a crash left
// in tmp/ goes into place if it was queued; what was never queued goes once it is old, so that
// a message another process is queueing at this moment is left alone.
void OutboxQueue::tidy(bool atStart)
{
    const QList<Row> rows = readRows("SELECT " ROW_COLUMNS " FROM messages");
    // tmp/ first: a message another process puts in place meanwhile is then seen in one or the other.
    const QString tmpDir = m_outbox + QStringLiteral("/tmp");
    QStringList inTmp;
    QHash<QString, QString> inPlace;
    // A folder that cannot be listed says nothing of what is gone.
    const bool listed = listNames(tmpDir, &inTmp) && placed(&inPlace);
    if (atStart && listed) {
        QHash<QString, const Row*> byName;
        for (const Row& r : rows)
            byName.insert(r.name, &r);
        const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-kTmpDebrisSeconds);
        for (const QString& n : std::as_const(inTmp)) {
            const QString from = tmpDir + QLatin1Char('/') + n;
            if (const Row* r = byName.value(n); r && !inPlace.contains(n) && placeFromTmp(*r)) {
                inPlace.insert(n, r->rel);
                continue;
            }
            if (!byName.contains(n) && QFileInfo(from).lastModified() < old)
                QFile::remove(from);
        }
    }
    const QSet<QString> beingQueued(inTmp.cbegin(), inTmp.cend());
    for (const Row& r : std::as_const(rows)) {
        const QString rel = inPlace.value(r.name);
        if (rel.isEmpty()) {
            if (listed && !beingQueued.contains(r.name) && !m_local.value(r.name).placing)
                removeRow(r.id);
        } else if (rel != r.rel) {
            m_db->query("UPDATE messages SET rel = ? WHERE id = ?").bind(rel).bind(r.id).run();
        }
    }
}

// What a run left marked (a crash, a failed write), settled while no run goes.
void OutboxQueue::settleMarks()
{
    for (const Row& r : readRows("SELECT " ROW_COLUMNS " FROM messages WHERE mark > 0"))
        settleInFlight(r);
}

// A message marked by a run that did not settle it (a crash, a failed write). On this boot a
// mark without the end of the text never handed all of it over: it waits again. Otherwise the
// recipients that the server did not refuse at RCPT may have it; those it refused keep their
// answers, and the ones it refused for now are tried again by themselves.
void OutboxQueue::settleInFlight(const Row& row)
{
    const bool sameBoot = !BootId().isEmpty() && row.markBoot == BootId();
    if (sameBoot && row.mark == 1) {
        m_db->query("UPDATE messages SET mark = 0 WHERE id = ?").bind(row.id).run();
        return;
    }
    const QStringList all = headOfFile(m_outbox + QLatin1Char('/') + row.rel).recipients;
    QList<RecipientStatus> known = recipientsOf(row.id);
    QSet<QString> answered;
    if (row.mark == 2 && row.transfer > 0) {
        QueueDatabase::Query q = m_db->query("SELECT address FROM recipients WHERE message = ? AND rcpt = ?");
        q.bind(row.id).bind(row.transfer);
        while (q.next())
            answered.insert(AddressKey(q.text(0)));
    }
    const QString doubt = doubtOf(row);
    QList<RecipientStatus> outcome;
    for (const QString& a : OwedRecipients(all, known))
        if (!answered.contains(AddressKey(a)))
            outcome.append({a, RecipientState::MaybeDelivered, {}, doubt});
    known = MergeOutcome(known, outcome);
    const QueueState state = all.isEmpty() ? QueueState::MaybeDelivered : MessageState(all, known);
    m_db->query("UPDATE messages SET state = ?, answer = ?, mark = 0 WHERE id = ?")
        .bind(stateLetter(state))
        .bind(state == QueueState::MaybeDelivered ? doubt : QString())
        .bind(row.id)
        .run();
    writeRecipients(row.id, known);
    m_settled << row.name;
}

// Why a transfer's outcome is not on record: a write that failed after it (here, or as the record
// says, before the program started again), or a program that stopped.
QString OutboxQueue::doubtOf(const Row& row) const
{
    return m_unrecorded.contains(row.name) || row.answer == kUnrecordedText ? kUnrecordedText : kStoppedText;
}

// What this process could not record after a transfer's end, written with the next write that
// can be: the words stay true after a restart.
void OutboxQueue::noteUnrecorded()
{
    for (const QString& name : std::as_const(m_unrecorded))
        m_db->query("UPDATE messages SET answer = ? WHERE name = ? AND mark = 2 AND state = 'w'").bind(kUnrecordedText).bind(name).run();
}

// ---- reading ----

QList<OutboxQueue::Row> OutboxQueue::readRows(const char* sql) const
{
    QList<Row> rows;
    QueueDatabase::Query q = m_db->query(sql);
    while (q.next()) {
        Row r;
        readRow(q, r);
        rows.append(r);
    }
    return rows;
}

std::optional<OutboxQueue::Row> OutboxQueue::row(const QString& unique) const
{
    if (!m_db)
        return std::nullopt;
    QueueDatabase::Query q = m_db->query("SELECT " ROW_COLUMNS " FROM messages WHERE name = ?");
    if (!q.bind(unique).next())
        return std::nullopt;
    Row r;
    readRow(q, r);
    return r;
}

QList<RecipientStatus> OutboxQueue::recipientsOf(qint64 id) const
{
    QList<RecipientStatus> out;
    QueueDatabase::Query q = m_db->query("SELECT r.address, r.state, r.until, a.text FROM recipients r "
                                         "LEFT JOIN answers a ON a.id = r.answer WHERE r.message = ? ORDER BY r.id");
    q.bind(id);
    while (q.next())
        out.append({q.text(0), recipientOf(q.text(1)), q.time(2), q.isNull(3) ? QString() : q.text(3)});
    return out;
}

QueueStatus OutboxQueue::statusOf(const Row& r) const
{
    QueueStatus s;
    s.state = r.state;
    s.attempts = r.attempts;
    s.nextTry = r.nextTry;
    s.recipients = recipientsOf(r.id);
    const auto local = m_local.constFind(r.name);
    if (local != m_local.constEnd()) {
        s.held = local->holds > 0;
        if (local->sending)
            s.state = QueueState::Sending;
    }
    s.answer = !r.answer.isEmpty() ? r.answer : MessageAnswer(r.state, s.recipients);
    if (inFlight(r)) {
        if (othersRun()) {
            // Another process's transfer, awaiting the server's answer.
            s.state = QueueState::Sending;
            s.answer = QString::fromLatin1(kBeingSentElsewhereText);
        } else {
            // Its outcome is not on record: the server may have it.
            s.state = QueueState::MaybeDelivered;
            s.answer = doubtOf(r);
        }
    }
    return s;
}

QueueStatus OutboxQueue::status(const QString& unique) const
{
    std::lock_guard lock(m_mutex);
    if (!m_db) {
        // Nothing can be told of it: it waits, as possibly delivered, until the queue can be read.
        QueueStatus s;
        s.state = QueueState::MaybeDelivered;
        s.answer = unopenable();
        return s;
    }
    const std::optional<Row> r = row(unique);
    return r ? statusOf(*r) : QueueStatus{};
}

QString OutboxQueue::resolve(const Row& r)
{
    if (!r.rel.isEmpty() && QFileInfo::exists(m_outbox + QLatin1Char('/') + r.rel))
        return m_outbox + QLatin1Char('/') + r.rel;
    // Its flags changed since it was recorded.
    QString rel;
    for (const char* sub : {"cur", "new"}) {
        const QStringList names = QDir(m_outbox + QLatin1Char('/') + QLatin1String(sub))
                                      .entryList({r.name + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
        for (const QString& n : names)
            if (MaildirUniquePart(n) == r.name)
                rel = QLatin1String(sub) + QLatin1Char('/') + n;
    }
    if (rel.isEmpty())
        return {};
    m_db->query("UPDATE messages SET rel = ? WHERE id = ?").bind(rel).bind(r.id).run();
    return m_outbox + QLatin1Char('/') + rel;
}

// A waiting message whose queue mark is on disk is complete in tmp/: put in place as its
// program would have (one doing so at this moment finds it there).
bool OutboxQueue::placeFromTmp(const Row& r)
{
    if (r.state != QueueState::Waiting || r.rel.isEmpty() || m_local.value(r.name).placing)
        return false;
    const QString from = m_outbox + QStringLiteral("/tmp/") + r.name;
    const QString to = m_outbox + QLatin1Char('/') + r.rel;
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || QFileInfo::exists(to);
}

QString OutboxQueue::placeOrForget(const QString& unique)
{
    {
        std::lock_guard lock(m_mutex);
        const std::optional<Row> r = row(unique);
        if (!r)
            return {};
        if (const QString where = resolve(*r); !where.isEmpty())
            return where;
        if (placeFromTmp(*r))
            return m_outbox + QLatin1Char('/') + r->rel;
        // Being put in place by this process at this moment: it stays queued.
        if (m_local.value(unique).placing)
            return {};
    }
    forget(unique);
    return {};
}

QString OutboxQueue::pathOf(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    const std::optional<Row> r = row(unique);
    return r ? resolve(*r) : QString();
}

int OutboxQueue::waitingCount() const { return count(QueueState::Waiting); }

int OutboxQueue::count(QueueState state) const
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return 0;
    int sending = 0;
    for (const Local& l : m_local)
        sending += l.sending ? 1 : 0;
    if (state == QueueState::Sending) {
        int elsewhere = 0;
        for (const Row& r : readRows("SELECT " ROW_COLUMNS " FROM messages WHERE mark = 2 AND state = 'w'"))
            elsewhere += inFlight(r) ? 1 : 0;
        return sending + (elsewhere && othersRun() ? elsewhere : 0);
    }
    QueueDatabase::Query q = m_db->query("SELECT count(*) FROM messages WHERE state = ?");
    const int n = q.bind(stateLetter(state)).next() ? int(q.integer(0)) : 0;
    if (state != QueueState::Waiting && state != QueueState::MaybeDelivered)
        return n;
    int unsettled = 0;
    for (const Row& r : readRows("SELECT " ROW_COLUMNS " FROM messages WHERE mark = 2 AND state = 'w'"))
        unsettled += inFlight(r) ? 1 : 0;
    if (state == QueueState::Waiting)
        return n - sending - unsettled;
    // Being sent by another process, or not on record.
    return unsettled && othersRun() ? n : n + unsettled;
}

QString OutboxQueue::why() const { return !m_openError.isEmpty() ? unopenable() : m_writeError; }

bool OutboxQueue::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return bool(m_db);
}

QString OutboxQueue::problem() const
{
    std::lock_guard lock(m_mutex);
    return why();
}

QString OutboxQueue::takeFinding()
{
    std::lock_guard lock(m_mutex);
    QString f;
    f.swap(m_finding);
    if (f.isEmpty() && !m_openError.isEmpty()) {
        // Told once a process: the file may be mended meanwhile.
        static QSet<QString> told;
        if (!told.contains(m_outbox)) {
            told.insert(m_outbox);
            f = unopenable();
        }
    }
    return f;
}

void OutboxQueue::findingSeen()
{
    std::lock_guard lock(m_mutex);
    if (m_db)
        write([&] { m_db->exec("DELETE FROM meta WHERE key = 'unseen'"); });
}

OutboxQueue::Told OutboxQueue::told(qsizetype first) const
{
    Told t;
    std::lock_guard lock(m_mutex);
    if (!m_db) {
        t.problem = unopenable();
        return t;
    }
    t.problem = m_writeError;
    {
        QueueDatabase::Query q = m_db->query("SELECT key, value FROM meta WHERE key IN ('sent', 'finding')");
        while (q.next()) {
            if (q.text(0) == QLatin1String("sent"))
                t.sent = int(q.integer(1));
            else
                t.finding = q.text(1);
        }
    }
    {
        QHash<qint64, qsizetype> at;
        QueueDatabase::Query n = m_db->query("SELECT id, subject, first, recipients FROM notes ORDER BY id");
        while (n.next()) {
            at.insert(n.integer(0), t.notes.size());
            t.notes.append({n.text(1), n.text(2), int(n.integer(3)), {}});
        }
        QueueDatabase::Query r = m_db->query("SELECT note, address, answer FROM note_refused ORDER BY rowid");
        while (r.next())
            if (const qsizetype k = at.value(r.integer(0), -1); k >= 0)
                t.notes[k].refused.append({r.text(1), RecipientState::Refused, {}, r.text(2)});
        QueueDatabase::Query k = m_db->query("SELECT text FROM run_notes ORDER BY seq");
        while (k.next())
            t.runNotes << k.text(0);
    }
    // Every message with how many of its recipients are deferred and refused, in queue order.
    QueueDatabase::Query q = m_db->query(
        "SELECT m.id, m.name, m.rel, m.state, m.answer IS NOT NULL, count(CASE WHEN r.state = 'd' THEN 1 END), "
        "count(CASE WHEN r.state = 'p' THEN 1 END), min(CASE WHEN r.state = 'p' THEN r.id END), m.mark, m.answer "
        "FROM messages m LEFT JOIN recipients r ON r.message = m.id GROUP BY m.id ORDER BY m.name");
    QList<Row> listed;
    qint64 firstRefusedId = 0;
    std::optional<bool> elsewhere;    // another process's run goes: asked once
    while (q.next()) {
        QueueState state = stateOf(q.text(3));
        // Told as its window tells it: being sent, whatever it waited for before.
        if (state == QueueState::Waiting && m_local.value(q.text(1)).sending) {
            ++t.sending;
            continue;
        }
        if (state == QueueState::Waiting && q.integer(8) == 2) {
            if (!elsewhere)
                elsewhere = othersRun();
            // Another process's transfer, awaiting the server's answer.
            if (*elsewhere) {
                ++t.sending;
                continue;
            }
            // Its outcome is not on record: the server may have it.
            state = QueueState::MaybeDelivered;
        }
        const bool retry = state == QueueState::Waiting && (q.integer(4) != 0 || q.integer(5) > 0);
        if (state == QueueState::Refused)
            ++t.refused;
        else if (state == QueueState::MaybeDelivered)
            ++t.maybeDelivered;
        else if (retry)
            ++t.retry;
        else {
            if (state == QueueState::Waiting)
                ++t.toSend;
            continue;
        }
        const qint64 refused = q.integer(6);
        if (refused > 0 && !firstRefusedId)
            firstRefusedId = q.integer(7);
        if (state != QueueState::Refused)
            t.refusedRecipients += int(refused);
        if (t.standingTotal++ < first) {
            Row r;
            r.id = q.integer(0);
            r.name = q.text(1);
            r.rel = q.text(2);
            listed.append(r);
        } else if (retry && q.integer(4) != 0) {
            ++t.unlistedRetryAnswers[q.text(9)];
        }
    }
    for (const Row& shown : listed)
        if (const std::optional<Row> r = row(shown.name))
            t.standing.append({r->name, m_outbox + QLatin1Char('/') + r->rel, statusOf(*r)});
    if (firstRefusedId) {
        QueueDatabase::Query r = m_db->query("SELECT r.address, r.until, a.text FROM recipients r "
                                             "LEFT JOIN answers a ON a.id = r.answer WHERE r.id = ?");
        if (r.bind(firstRefusedId).next())
            t.firstRefused = RecipientStatus{r.text(0), RecipientState::Refused, r.time(1), r.text(2)};
    }
    return t;
}

// ---- writing ----

// The run lock's file, through a file description of its own.
int OutboxQueue::openRunLock() const
{
    return ::open(QFile::encodeName(m_outbox + QLatin1Char('/') + QLatin1String(kRunLock)).constData(), O_RDWR | O_CREAT | O_CLOEXEC,
                  0600);
}

// Flushes every commit so far; m_mutex held (the flush itself is short: the log alone).
bool OutboxQueue::syncLog() { return m_db && QueueDatabase::SyncLog(m_db->log()); }

// Another process delivers from this Outbox now.
bool OutboxQueue::othersRun() const
{
    if (m_running.load())
        return false;
    const int fd = openRunLock();
    if (fd < 0)
        return false;
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    // This process's run is taking the lock: it may hold it already. Asked through its own file
    // description, which fails only while another one holds it (and else takes it for that run).
    if (taken && m_acquiring && m_runFd >= 0 && ::flock(m_runFd, LOCK_EX | LOCK_NB) == 0)
        return false;
    return taken;
}

// A transfer whose outcome is not on record, by no transfer of this process.
bool OutboxQueue::inFlight(const Row& r) const
{
    return r.mark == 2 && r.state == QueueState::Waiting && !m_local.value(r.name).sending;
}

// Why the message cannot be changed now; empty when it can.
QString OutboxQueue::busy(const Row& r) const
{
    if (m_local.value(r.name).sending)
        return QString::fromLatin1(kBeingSentText);
    // Marked by another process's run, which does not see what this one holds.
    if (r.mark > 0 && othersRun())
        return QString::fromLatin1(kBeingSentElsewhereText);
    return {};
}

bool OutboxQueue::write(const std::function<void()>& body)
{
    if (!m_db)
        return false;
    m_settled.clear();
    {
        QueueDatabase::Transaction t(*m_db);
        if (t.begun()) {
            body();
            const bool noting = !m_unrecordedNoted;
            if (noting)
                noteUnrecorded();
            if (t.commit()) {
                m_writeError.clear();
                m_unrecordedNoted = m_unrecordedNoted || noting;
                // Told once, only what the record now says.
                if (!m_settled.isEmpty()) {
                    QSet<QString> told(m_foundInFlight.cbegin(), m_foundInFlight.cend());
                    for (const QString& name : std::as_const(m_settled))
                        if (!told.contains(name)) {
                            told.insert(name);
                            m_foundInFlight << name;
                        }
                    m_settled.clear();
                }
                return true;
            }
        }
    }
    m_settled.clear();
    m_writeError = QStringLiteral("The Outbox's delivery record could not be written: %1").arg(m_db->error());
    return false;
}

void OutboxQueue::addNote(const SentNote& n)
{
    m_db->query("INSERT INTO notes(subject, first, recipients) VALUES(?, ?, ?)")
        .bind(n.subject)
        .bind(n.firstRecipient)
        .bind(qint64(n.recipients))
        .run();
    QueueDatabase::Query last = m_db->query("SELECT last_insert_rowid()");
    const qint64 note = last.next() ? last.integer(0) : 0;
    for (const RecipientStatus& r : n.refused)
        m_db->query("INSERT INTO note_refused VALUES(?, ?, ?)").bind(note).bind(r.address).bind(r.answer).run();
}

void OutboxQueue::removeRow(qint64 id)
{
    m_db->query("DELETE FROM recipients WHERE message = ?").bind(id).run();
    m_db->query("DELETE FROM answers WHERE message = ?").bind(id).run();
    m_db->query("DELETE FROM messages WHERE id = ?").bind(id).run();
}

// A message's rows as they stand, to be put back as they were when a change cannot be made whole.
struct OutboxQueue::Kept {
    Row row;
    struct Recipient {
        QString address, state;
        QDateTime until;
        qint64 answer = 0;    // 0: none
        qint64 rcpt = 0;
    };
    QList<Recipient> recipients;
    QList<std::pair<qint64, QString>> answers;
};

OutboxQueue::Kept OutboxQueue::keep(const Row& row) const
{
    Kept k;
    k.row = row;
    QueueDatabase::Query a = m_db->query("SELECT id, text FROM answers WHERE message = ?");
    a.bind(row.id);
    while (a.next())
        k.answers.append({a.integer(0), a.text(1)});
    QueueDatabase::Query r = m_db->query("SELECT address, state, until, answer, rcpt FROM recipients WHERE message = ? ORDER BY id");
    r.bind(row.id);
    while (r.next())
        k.recipients.append({r.text(0), r.text(1), r.time(2), r.isNull(3) ? 0 : r.integer(3), r.integer(4)});
    return k;
}

void OutboxQueue::putBack(const Kept& k)
{
    const Row& r = k.row;
    auto orNull = [](const QString& s) { return s.isEmpty() ? QString() : s; };
    m_db->query("INSERT INTO messages(name, rel, state, attempts, next_try, answer, mark, mark_boot, transfer) "
                "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(r.name)
        .bind(r.rel)
        .bind(stateLetter(r.state))
        .bind(qint64(r.attempts))
        .bind(r.nextTry)
        .bind(orNull(r.answer))
        .bind(qint64(r.mark))
        .bind(orNull(r.markBoot))
        .bind(r.transfer)
        .run();
    const std::optional<Row> back = row(r.name);
    if (!back)
        return;
    QHash<qint64, qint64> answerIds;
    for (const auto& [id, text] : k.answers) {
        m_db->query("INSERT INTO answers(message, text) VALUES(?, ?)").bind(back->id).bind(text).run();
        QueueDatabase::Query last = m_db->query("SELECT last_insert_rowid()");
        answerIds.insert(id, last.next() ? last.integer(0) : 0);
    }
    for (const Kept::Recipient& x : k.recipients) {
        QueueDatabase::Query q = m_db->query("INSERT INTO recipients(message, address, state, until, answer, rcpt) VALUES(?, ?, ?, ?, ?, ?)");
        q.bind(back->id).bind(x.address).bind(x.state).bind(x.until);
        (x.answer ? q.bind(answerIds.value(x.answer)) : q.bind(QString())).bind(x.rcpt).run();
    }
}

// Messages another process that lives holds (its user edits, moves or removes them); with
// dead: the records of holds whose process is gone.
QSet<QString> OutboxQueue::heldElsewhere(QStringList* dead) const
{
    QSet<QString> out;
    if (!m_db)
        return out;
    const QString boot = BootId();
    QueueDatabase::Query q = m_db->query("SELECT key, value FROM meta WHERE key > 'hold:' AND key < 'hold;'");
    while (q.next()) {
        const QString holder = q.text(1);
        if (heldByUs(holder))
            continue;
        if (holderLives(holder, boot))
            out.insert(q.text(0).mid(kHoldKey.size(), q.text(0).lastIndexOf(QLatin1Char('/')) - kHoldKey.size()));
        else if (dead)
            *dead << q.text(0);
    }
    return out;
}

// The message's file is in cur/ or new/.
bool OutboxQueue::inOutbox(const QString& unique) const
{
    for (const char* sub : {"cur", "new"})
        for (const QString& n : QDir(m_outbox + QLatin1Char('/') + QLatin1String(sub)).entryList({unique + QLatin1Char('*')}, QDir::Files | QDir::Hidden))
            if (MaildirUniquePart(n) == unique)
                return true;
    return false;
}

// The recipients' rows as given (the owed ones go), each server answer kept once; only what
// changed is written. rcpt: the transfer these were answered in at RCPT, or 0.
void OutboxQueue::writeRecipients(qint64 id, const QList<RecipientStatus>& recipients, qint64 rcpt)
{
    if (!id)
        return;
    struct Stored {
        qint64 row;
        QString address;
        QString state;
        QDateTime until;
        qint64 answer;
        bool kept = false;
    };
    QHash<QString, Stored> stored;
    {
        QueueDatabase::Query q = m_db->query("SELECT id, address, state, until, answer FROM recipients WHERE message = ?");
        q.bind(id);
        while (q.next())
            stored.insert(AddressKey(q.text(1)), {q.integer(0), q.text(1), q.text(2), q.time(3), q.isNull(4) ? 0 : q.integer(4)});
    }
    QHash<QString, qint64> answers;
    {
        QueueDatabase::Query q = m_db->query("SELECT id, text FROM answers WHERE message = ?");
        q.bind(id);
        while (q.next())
            answers.insert(q.text(1), q.integer(0));
    }
    QSet<qint64> used;
    auto answerId = [&](const QString& text) -> qint64 {
        if (text.isEmpty())
            return 0;
        if (const auto it = answers.constFind(text); it != answers.constEnd())
            return *it;
        m_db->query("INSERT INTO answers(message, text) VALUES(?, ?)").bind(id).bind(text).run();
        QueueDatabase::Query last = m_db->query("SELECT last_insert_rowid()");
        const qint64 a = last.next() ? last.integer(0) : 0;
        answers.insert(text, a);
        return a;
    };
    auto bindAnswer = [](QueueDatabase::Query& q, qint64 a) -> QueueDatabase::Query& {
        return a ? q.bind(a) : q.bind(QString());
    };
    for (const RecipientStatus& r : recipients) {
        if (r.state == RecipientState::Owed)
            continue;
        const qint64 a = answerId(r.answer);
        if (a)
            used.insert(a);
        const QString state = recipientLetter(r.state);
        auto it = stored.find(AddressKey(r.address));
        if (it == stored.end()) {
            QueueDatabase::Query q = m_db->query("INSERT INTO recipients(message, address, state, until, answer, rcpt) "
                                                 "VALUES(?, ?, ?, ?, ?, ?)");
            q.bind(id).bind(r.address).bind(state).bind(r.until);
            bindAnswer(q, a).bind(rcpt).run();
            stored.insert(AddressKey(r.address), {0, r.address, state, r.until, a, true});
            continue;
        }
        it->kept = true;
        if (it->address == r.address && it->state == state && it->until == r.until && it->answer == a && !rcpt)
            continue;
        QueueDatabase::Query q = m_db->query("UPDATE recipients SET address = ?, state = ?, until = ?, answer = ?, rcpt = ? WHERE id = ?");
        q.bind(r.address).bind(state).bind(r.until);
        bindAnswer(q, a).bind(rcpt).bind(it->row).run();
    }
    if (rcpt) {
        // A mark of what the server said at RCPT: the others stay as they are.
        for (const Stored& s : std::as_const(stored))
            if (s.answer)
                used.insert(s.answer);
    } else {
        for (const Stored& s : std::as_const(stored)) {
            if (s.kept)
                continue;
            m_db->query("DELETE FROM recipients WHERE id = ?").bind(s.row).run();
        }
    }
    for (auto it = answers.cbegin(); it != answers.cend(); ++it)
        if (!used.contains(it.value()))
            m_db->query("DELETE FROM answers WHERE id = ?").bind(it.value()).run();
}

QString OutboxQueue::enqueue(const QByteArray& bytes, QString* error, const QString& replacing)
{
    const QString unique = MaildirUniqueName();
    if (!WriteToMaildirTmp(m_outbox, unique, bytes, error))
        return {};
    const Queued q = enqueueWritten({unique}, replacing).constFirst();
    if (q.path.isEmpty() && error)
        *error = q.error;
    return q.path;
}

QList<OutboxQueue::Queued> OutboxQueue::enqueueWritten(const QStringList& uniques, const QString& replacing)
{
    QList<Queued> out(uniques.size());
    auto tmpOf = [this](const QString& unique) { return m_outbox + QStringLiteral("/tmp/") + unique; };
    auto relOf = [](const QString& unique) { return QStringLiteral("cur/") + unique + QStringLiteral(":2,S"); };
    const bool replaces = !replacing.isEmpty() && uniques.size() == 1;
    QString refused;
    std::optional<Kept> replaced;    // the message this one took the place of, as it stood
    QueueDatabase::Log log;
    {
        std::lock_guard lock(m_mutex);
        if (!m_db)
            open(false, false);
        // The one replaced is read within the transaction: another process changes it only
        // before or after.
        const bool written = write([&] {
            const std::optional<Row> old = replaces ? row(replacing) : std::nullopt;
            if (old) {
                refused = busy(*old);
                if (refused.isEmpty() && old->state == QueueState::Delivered)
                    refused = QString::fromLatin1(kAcceptedText);
            } else if (replaces && !inOutbox(replacing)) {
                // Sent and filed, moved or deleted (by another process) since the user opened it.
                refused = QString::fromLatin1(kNoLongerQueuedText);
            }
            if (!refused.isEmpty())
                return;
            for (const QString& u : uniques)
                m_db->query("INSERT INTO messages(name, rel, state) VALUES(?, ?, 'w')").bind(u).bind(relOf(u)).run();
            if (!old)
                return;
            QList<RecipientStatus> had = recipientsOf(old->id);
            had.removeIf([](const RecipientStatus& r) { return r.state != RecipientState::Accepted; });
            if (const std::optional<Row> fresh = row(uniques.first()))
                writeRecipients(fresh->id, had);
            replaced = keep(*old);
            removeRow(old->id);
        });
        if (!refused.isEmpty() || !written) {
            replaced.reset();
            if (refused.isEmpty())
                refused = why();
            if (refused.isEmpty())
                refused = QStringLiteral("The Outbox's delivery record cannot be opened.");
        } else {
            for (const QString& u : uniques)
                m_local[u].placing = true;
            log = m_db->log();
        }
    }
    // The marks are on disk before the messages are in place: a crash in between leaves complete
    // messages in tmp/ that the next start puts in place.
    const bool committed = refused.isEmpty();
    if (committed && !QueueDatabase::SyncLog(log))
        refused = QStringLiteral("The Outbox's delivery record could not be written to the disk.");
    QList<bool> placed(uniques.size(), false);
    for (qsizetype k = 0; refused.isEmpty() && k < uniques.size(); ++k) {
        const QString target = m_outbox + QLatin1Char('/') + relOf(uniques[k]);
        // Another process starting at this moment may have put it in place already.
        placed[k] = ::rename(QFile::encodeName(tmpOf(uniques[k])).constData(), QFile::encodeName(target).constData()) == 0
                    || (errno == ENOENT && QFileInfo::exists(target));
        if (placed[k])
            out[k].path = target;
    }
    std::lock_guard lock(m_mutex);
    QStringList failed;
    for (qsizetype k = 0; k < uniques.size(); ++k) {
        m_local.remove(uniques[k]);
        if (placed[k])
            continue;
        // Its file goes before its record: one that is no longer in tmp/ was put in place by
        // another process starting meanwhile, and stays queued.
        const QString target = m_outbox + QLatin1Char('/') + relOf(uniques[k]);
        if (committed && ::unlink(QFile::encodeName(tmpOf(uniques[k])).constData()) != 0 && errno == ENOENT
            && QFileInfo::exists(target)) {
            placed[k] = true;
            out[k].path = target;
            continue;
        }
        if (!committed)
            QFile::remove(tmpOf(uniques[k]));
        failed << uniques[k];
        out[k].error = !refused.isEmpty() ? refused : QStringLiteral("Cannot move into place %1/%2").arg(m_outbox, relOf(uniques[k]));
    }
    if (failed.isEmpty() || !m_db || !committed)
        return out;
    // The message replaced waits again as it was.
    const bool back = write([&] {
        for (const QString& u : failed)
            if (const std::optional<Row> r = row(u))
                removeRow(r->id);
        if (replaced && !placed.first() && !row(replaced->row.name))
            putBack(*replaced);
    });
    if (replaced && !placed.first()) {
        // The edit's record may be on the disk already (its file could not be put in place).
        if (back)
            QueueDatabase::SyncLog(m_db->log());
        out.first().error += back ? QStringLiteral(" Its earlier version is still in the Outbox, waiting to be sent.")
                                  : QStringLiteral(" Its earlier version is still in the Outbox but is no longer queued, so it will "
                                                   "not be sent: send it again to send it.");
    }
    return out;
}

bool OutboxQueue::requeue(const QString& unique, QString* error)
{
    QueueDatabase::Log log;
    std::optional<Kept> before;
    {
        std::lock_guard lock(m_mutex);
        const std::optional<Row> r = row(unique);
        if (!r) {
            if (error)
                *error = !m_openError.isEmpty() ? unopenable() : QString();
            return false;
        }
        if (const QString b = busy(*r); !b.isEmpty()) {
            if (error)
                *error = b;
            return false;
        }
        if (r->state == QueueState::Delivered) {
            if (error)
                *error = QString::fromLatin1(kAcceptedText);
            return false;
        }
        const bool written = write([&] {
            before = keep(*r);
            // A transfer whose outcome was not recorded: whom it may have reached is settled first.
            if (r->mark == 2)
                settleInFlight(*r);
            // Whoever the server took it for never gets it again.
            m_db->query("UPDATE messages SET state = 'w', attempts = 0, next_try = NULL, answer = NULL, mark = 0 WHERE id = ?")
                .bind(r->id)
                .run();
            QList<RecipientStatus> kept = recipientsOf(r->id);
            kept.removeIf([](const RecipientStatus& x) { return x.state != RecipientState::Accepted; });
            writeRecipients(r->id, kept);
        });
        if (!written) {
            if (error)
                *error = m_writeError;
            return false;
        }
        log = m_db->log();
    }
    // A Send Again that a power loss could undo is not made: the message stays as it was.
    if (!QueueDatabase::SyncLog(log)) {
        std::lock_guard lock(m_mutex);
        write([&] {
            if (const std::optional<Row> now = row(unique))
                removeRow(now->id);
            putBack(*before);
        });
        if (error)
            *error = QStringLiteral("The Outbox's delivery record could not be written to the disk, so the message is not sent "
                                    "again. Try again later.");
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_foundInFlight.removeAll(unique);
    m_unrecorded.remove(unique);
    if (auto it = m_local.find(unique); it != m_local.end()) {
        it->parked = false;
        it->parkedUntil = {};
    }
    return true;
}

bool OutboxQueue::hold(const QString& unique, QString* why)
{
    std::lock_guard lock(m_mutex);
    QString b;
    if (m_local.value(unique).sending) {
        b = QString::fromLatin1(kBeingSentText);
    } else {
        // The first hold is checked and recorded in one transaction: another process's run has
        // either marked the message before it (refused here) or finds it held.
        const bool recorded = m_local.value(unique).holds == 0 && write([&] {
            if (const std::optional<Row> r = row(unique))
                b = busy(*r);
            if (b.isEmpty())
                m_db->query("INSERT OR REPLACE INTO meta VALUES(?, ?)")
                    .bind(holdKey(unique))
                    .bind(BootId() + QLatin1Char(' ') + thisProcess())
                    .run();
        });
        if (!recorded) {
            // Held in this process alone (nested, or the record cannot be written).
            b.clear();
            if (const std::optional<Row> r = row(unique))
                b = busy(*r);
        }
    }
    if (!b.isEmpty()) {
        if (why)
            *why = b;
        return false;
    }
    Local& l = m_local[unique];
    ++l.holds;
    ++l.changes;
    return true;
}

quint64 OutboxQueue::changes(const QString& unique) const
{
    std::lock_guard lock(m_mutex);
    return m_local.value(unique).changes;
}

void OutboxQueue::release(const QString& unique)
{
    bool free = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_local.find(unique);
        if (it != m_local.end() && it->holds > 0) {
            free = --it->holds == 0;
            // Its file may have been written anew while it was held, after a run read it.
            ++it->changes;
        }
        if (free)
            write([&] { m_db->query("DELETE FROM meta WHERE key = ?").bind(holdKey(unique)).run(); });
        prune(unique);
    }
    // Its retry time may have passed while it was held: the spooler looks again.
    if (free)
        tellWatchers();
}

void OutboxQueue::tellWatchers()
{
    std::lock_guard lock(m_watchMutex);
    for (const auto& [owner, told] : m_watchers)
        told();
}

void OutboxQueue::prune(const QString& unique)
{
    // What it changed stays known while the message is queued.
    auto it = m_local.find(unique);
    if (it != m_local.end() && !it->holds && !it->sending && !it->placing && !it->parked && !it->parkedUntil.isValid()
        && !it->changes)
        m_local.erase(it);
}

void OutboxQueue::forget(const QString& unique) { forget(QStringList{unique}); }

void OutboxQueue::forget(const QStringList& uniques)
{
    bool left = false;
    {
        std::lock_guard lock(m_mutex);
        QList<qint64> rows;
        QStringList held;
        for (const QString& u : uniques) {
            if (m_local.value(u).holds > 0)
                held << holdKey(u);
            m_local.remove(u);
            if (const std::optional<Row> r = row(u))
                rows << r->id;
        }
        left = !rows.isEmpty();
        if (left || !held.isEmpty())
            write([&] {
                for (const qint64 id : std::as_const(rows))
                    removeRow(id);
                for (const QString& key : std::as_const(held))
                    m_db->query("DELETE FROM meta WHERE key = ?").bind(key).run();
            });
    }
    if (left)
        tellWatchers();
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

// ---- the run ----

// Taken and given up under m_mutex, so that othersRun never finds the lock held by this run while
// m_running says otherwise.
OutboxQueue::RunLock::RunLock(OutboxQueue& q) : m_q(q), m_lock(q.m_runMutex)
{
    {
        std::lock_guard lock(q.m_mutex);
        q.m_acquiring = true;
    }
    if (q.m_runFd >= 0)
        while (::flock(q.m_runFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    std::lock_guard lock(q.m_mutex);
    q.m_acquiring = false;
    q.m_running = true;
}

OutboxQueue::RunLock::~RunLock()
{
    std::lock_guard lock(m_q.m_mutex);
    if (m_q.m_runFd >= 0)
        ::flock(m_q.m_runFd, LOCK_UN);
    m_q.m_running = false;
}

OutboxQueue::RunLock OutboxQueue::lockRun() { return RunLock(*this); }

bool OutboxQueue::beginRun(const QDateTime& latest)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        open(false, true);
    if (!m_db)
        return false;
    const bool settled = write([&] {
        settleMarks();
        m_db->query("UPDATE messages SET next_try = ? WHERE next_try > ?").bind(latest).bind(latest).run();
        // Holds of processes that are gone (a crash) hold nothing.
        QStringList dead;
        heldElsewhere(&dead);
        for (const QString& key : std::as_const(dead))
            m_db->query("DELETE FROM meta WHERE key = ?").bind(key).run();
    });
    if (settled)
        m_unrecorded.clear();
    {
        std::lock_guard waits(m_waitMutex);
        for (AccountWait& w : m_accountWaits)
            w.until = std::min(w.until, latest);
    }
    for (Local& l : m_local)
        if (l.parkedUntil.isValid())
            l.parkedUntil = std::min(l.parkedUntil, latest);
    return settled;
}

QList<OutboxQueue::Candidate> OutboxQueue::candidates(bool dueOnly, const QDateTime& now, QList<Candidate>* toFile)
{
    QList<Candidate> out;
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return out;
    // A transfer whose outcome is not on record (mark 2) may have reached the server: never again by itself.
    QueueDatabase::Query q = m_db->query("SELECT name, rel, state, attempts, next_try, "
                                         "EXISTS(SELECT 1 FROM recipients r WHERE r.message = messages.id) FROM messages "
                                         "WHERE state IN ('w', 'd') AND (mark < 2 OR state = 'd') ORDER BY name");
    const QSet<QString> heldThere = heldElsewhere();
    while (q.next()) {
        const QString name = q.text(0);
        if (heldThere.contains(name))
            continue;
        const Candidate c{name, m_outbox + QLatin1Char('/') + q.text(1), int(q.integer(3)), q.time(4), q.integer(5) != 0};
        const auto l = m_local.find(name);
        if (l != m_local.end() && (l->holds > 0 || l->placing))
            continue;
        if (stateOf(q.text(2)) == QueueState::Delivered) {
            if (toFile)
                toFile->append(c);
            continue;
        }
        const bool parked = l != m_local.end() && (l->parked || (l->parkedUntil.isValid() && l->parkedUntil > now));
        if (dueOnly && (parked || (c.nextTry.isValid() && c.nextTry > now)))
            continue;
        if (l != m_local.end()) {
            l->parked = false;
            l->parkedUntil = {};
            prune(name);
        }
        out.append(c);
    }
    return out;
}

bool OutboxQueue::markAhead(const QStringList& uniques)
{
    std::lock_guard lock(m_mutex);
    const QString boot = BootId();
    return write([&] {
        for (const QString& u : uniques)
            m_db->query("UPDATE messages SET mark = 1, mark_boot = ? WHERE name = ? AND mark = 0").bind(boot).bind(u).run();
    });
}

bool OutboxQueue::flush()
{
    quint64 upTo = 0;
    QueueDatabase::Log log;
    {
        std::lock_guard lock(m_mutex);
        if (!m_db)
            return false;
        upTo = m_db->commits();
        log = m_db->log();
    }
    if (!QueueDatabase::SyncLog(log))
        return false;
    std::lock_guard lock(m_mutex);
    m_durable = std::max(m_durable, upTo);
    return true;
}

bool OutboxQueue::flushTo(quint64 commit)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_durable >= commit)
            return true;
    }
    return flush();
}

bool OutboxQueue::startAttempt(const QString& unique, QString* path, quint64 readAt, bool* changed)
{
    std::lock_guard lock(m_mutex);
    const std::optional<Row> r = row(unique);
    const Local l = m_local.value(unique);
    *changed = false;
    if (!r || r->state != QueueState::Waiting || l.holds > 0 || l.sending || heldElsewhere().contains(unique))
        return false;
    if (l.changes != readAt) {
        *changed = true;
        return false;
    }
    // The run has just read it where the queue says; only a renamed one is looked for.
    const QString where = !r->rel.isEmpty() ? m_outbox + QLatin1Char('/') + r->rel : resolve(*r);
    if (where.isEmpty()) {
        // Taken away behind the program's back.
        write([&] { removeRow(r->id); });
        return false;
    }
    m_local[unique].sending = true;
    *path = where;
    return true;
}

bool OutboxQueue::endOfData(const QString& unique, const QList<RecipientStatus>& answered)
{
    std::lock_guard lock(m_mutex);
    return write([&] {
        m_db->query("UPDATE messages SET mark = 2, transfer = transfer + 1 WHERE name = ?").bind(unique).run();
        if (!answered.isEmpty())
            if (const std::optional<Row> r = row(unique))
                writeRecipients(r->id, answered, r->transfer);
    });
}

std::optional<quint64> OutboxQueue::settle(const QString& unique, const Outcome& outcome)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_local.find(unique); it != m_local.end())
        it->sending = false;
    prune(unique);
    const std::optional<Row> r = row(unique);
    if (!r)
        return m_db ? std::optional<quint64>(0) : std::nullopt;
    const bool written = write([&] {
        m_db->query("UPDATE messages SET state = ?, attempts = attempts + ?, next_try = ?, answer = ?, mark = 0 WHERE id = ?")
            .bind(stateLetter(outcome.state))
            .bind(qint64(outcome.tried ? 1 : 0))
            .bind(outcome.nextTry)
            .bind(outcome.answer)
            .bind(r->id)
            .run();
        // A delivered message leaves the queue with its filing: who had it need not be kept.
        if (outcome.state != QueueState::Delivered)
            writeRecipients(r->id, outcome.recipients);
        if (outcome.sent) {
            m_db->query("UPDATE meta SET value = value + 1 WHERE key = 'sent'").run();
            if (!outcome.sent->refused.isEmpty())
                addNote(*outcome.sent);
        }
    });
    if (!written) {
        // The transfer's end mark stands: until it is settled the message is in flight.
        m_unrecorded.insert(unique);
        m_unrecordedNoted = false;
        return std::nullopt;
    }
    m_unrecorded.remove(unique);
    return m_db->commits();
}

void OutboxQueue::untried(const QString& unique)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_local.find(unique); it != m_local.end())
        it->sending = false;
    prune(unique);
    // Only a "may be tried soon" mark: once the end of the text was handed over, the attempt's
    // outcome (or, failing that, the next run) settles the message.
    if (const std::optional<Row> r = row(unique); r && r->mark == 1 && r->state == QueueState::Waiting)
        write([&] { m_db->query("UPDATE messages SET mark = 0 WHERE id = ?").bind(r->id).run(); });
}

void OutboxQueue::postpone(const QString& unique, const QDateTime& until)
{
    std::lock_guard lock(m_mutex);
    Local& l = m_local[unique];
    l.parkedUntil = until;
    l.parked = !until.isValid();
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
    write([&] {
        m_db->exec("UPDATE meta SET value = 0 WHERE key = 'sent'");
        m_db->exec("DELETE FROM meta WHERE key = 'finding'");
        m_db->exec("DELETE FROM notes");
        m_db->exec("DELETE FROM note_refused");
        m_db->exec("DELETE FROM run_notes");
    });
}

void OutboxQueue::setRunNotes(const QStringList& notes)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return;
    QStringList now;
    {
        QueueDatabase::Query q = m_db->query("SELECT text FROM run_notes ORDER BY seq");
        while (q.next())
            now << q.text(0);
    }
    if (now == notes && m_writeError.isEmpty())
        return;
    write([&] {
        m_db->exec("DELETE FROM run_notes");
        for (const QString& n : notes)
            m_db->query("INSERT INTO run_notes(text) VALUES(?)").bind(n).run();
    });
}

void OutboxQueue::checkpoint()
{
    std::lock_guard lock(m_mutex);
    if (m_db)
        m_db->checkpoint();
}

bool OutboxQueue::keepAnswer(const QString& unique, const QString& answer)
{
    std::lock_guard lock(m_mutex);
    const std::optional<Row> r = row(unique);
    return r && write([&] {
        m_db->query("UPDATE messages SET answer = ? WHERE id = ?").bind(answer.isEmpty() ? QString() : answer).bind(r->id).run();
    });
}

std::optional<OutboxQueue::AccountWait> OutboxQueue::accountWait(const QString& account) const
{
    std::lock_guard lock(m_waitMutex);
    auto it = m_accountWaits.constFind(account);
    return it == m_accountWaits.constEnd() ? std::nullopt : std::optional<AccountWait>(*it);
}

void OutboxQueue::setAccountWait(const QString& account, const AccountWait& wait)
{
    std::lock_guard lock(m_waitMutex);
    m_accountWaits.insert(account, wait);
}

void OutboxQueue::clearAccountWait(const QString& account)
{
    std::lock_guard lock(m_waitMutex);
    m_accountWaits.remove(account);
}

void OutboxQueue::clearAccountWaits(bool all, const QDateTime& now)
{
    std::lock_guard lock(m_waitMutex);
    for (auto it = m_accountWaits.begin(); it != m_accountWaits.end();) {
        if (all || (!it->forGood && it->until <= now))
            it = m_accountWaits.erase(it);
        else
            ++it;
    }
}

QDateTime OutboxQueue::nextDue(const QDateTime& latest, int together) const
{
    QList<QDateTime> due;
    auto add = [&](const QDateTime& t) {
        if (t.isValid())
            due << std::min(t, latest);
    };
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return {};
    bool anyWaiting = false;
    const QSet<QString> heldThere = heldElsewhere();
    QueueDatabase::Query q = m_db->query("SELECT name, next_try FROM messages WHERE state = 'w' AND mark < 2");
    while (q.next()) {
        const QDateTime next = q.time(1);
        if (heldThere.contains(q.text(0)))
            continue;
        const auto l = m_local.constFind(q.text(0));
        if (l != m_local.constEnd() && (l->holds > 0 || l->placing || l->parked))
            continue;
        anyWaiting = true;
        const QDateTime parkedUntil = l != m_local.constEnd() ? l->parkedUntil : QDateTime();
        add(parkedUntil.isValid() && (!next.isValid() || parkedUntil > next) ? parkedUntil : next);
    }
    if (anyWaiting) {
        std::lock_guard waits(m_waitMutex);
        for (const AccountWait& w : m_accountWaits)
            if (!w.forGood)
                add(w.until);
    }
    if (due.isEmpty())
        return {};
    // Those that fall due together go together, however few milliseconds apart they were set.
    const QDateTime first = *std::min_element(due.cbegin(), due.cend());
    const QDateTime window = first.addSecs(together);
    QDateTime last = first;
    for (const QDateTime& t : std::as_const(due))
        if (t <= window && t > last)
            last = t;
    return last;
}

QString QueueMessage(const QString& outbox, const QByteArray& bytes, QString* error)
{
    return OutboxQueue::Of(outbox)->enqueue(bytes, error);
}

} // namespace mail::send

#include "platform/mail/MailStore.h"

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Spooler.h"
#include "platform/ui/UiServices.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

namespace mail::detail {

void (*beforeListingRead)(const QString& path) = nullptr;

int threads() { return std::clamp(QThread::idealThreadCount(), 1, 8); }

void inParallel(qsizetype count, const std::function<void(qsizetype)>& work)
{
    constexpr qsizetype kChunk = 32;
    std::atomic<qsizetype> next{0};
    auto run = [&] {
        for (;;) {
            const qsizetype from = next.fetch_add(kChunk);
            if (from >= count)
                return;
            const qsizetype to = std::min(count, from + kChunk);
            for (qsizetype i = from; i < to; ++i)
                work(i);
        }
    };
    // A few chunks are not worth a thread.
    const int helpers = int(std::min<qsizetype>(threads(), (count + 4 * kChunk - 1) / (4 * kChunk))) - 1;
    std::vector<std::thread> pool;
    pool.reserve(size_t(std::max(helpers, 0)));
    for (int t = 0; t < helpers; ++t)
        pool.emplace_back(run);
    run();
    for (std::thread& t : pool)
        t.join();
}

namespace {

// The regular files of dir (a link to one counts), hidden ones left out, in the directory's order.
QStringList fileNames(const QString& dir)
{
    QStringList out;
    DIR* d = ::opendir(QFile::encodeName(dir).constData());
    if (!d)
        return out;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        bool file = e->d_type == DT_REG;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st {};
            file = ::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (file)
            out.append(QFile::decodeName(e->d_name));
    }
    ::closedir(d);
    return out;
}

struct DefaultFolder {
    int which;
    const char* name;
    Kind kind;
};
// The default store's folders, in the order its Folders lists them.
const DefaultFolder kDefaults[] = {
    {olFolderInbox, "Inbox", Kind::Mail},
    {olFolderOutbox, "Outbox", Kind::Mail},
    {olFolderSentMail, "Sent Items", Kind::Mail},
    {olFolderDeletedItems, "Deleted Items", Kind::Mail},
    {olFolderDrafts, "Drafts", Kind::Mail},
    {olFolderContacts, "Contacts", Kind::Contacts},
};

QString newId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex().toUpper());
}

bool isHexId(const QString& s)
{
    if (s.size() != kFolderIdLength)
        return false;
    for (const QChar c : s)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    return true;
}

const QString kIntoOutbox = QString::fromLatin1(send::kIntoOutboxText);
const QString kBeingSent = QString::fromLatin1(send::kBeingSentText);

bool isMaildirPart(const QString& name)
{
    return name == QLatin1String("cur") || name == QLatin1String("new") || name == QLatin1String("tmp");
}

// Writes bytes to path through a temporary file beside it in tmpDir and a rename, so that
// readers see the old file or the new one, never half of one.
bool writeAtomically(const QString& tmpDir, const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(tmpDir);
    const QString tmp = tmpDir + QStringLiteral("/.") + Session::newUniqueName();
    const int fd = ::open(QFile::encodeName(tmp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            ::unlink(QFile::encodeName(tmp).constData());
            return false;
        }
        done += n;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(QFile::encodeName(tmp).constData());
        return false;
    }
    return true;
}

// The directory's inode tells the original from a copy made outside the program, which
// carries the same file.
QByteArray inodeOf(const QString& dir)
{
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_ino));
}

bool writeFolderFile(const QString& dir, const QString& id, Kind kind)
{
    const QByteArray text = "id=" + id.toLatin1() + "\nkind=" + (kind == Kind::Contacts ? "contacts" : "mail") + "\ninode=" + inodeOf(dir) + "\n";
    return writeAtomically(dir, dir + QLatin1Char('/') + QLatin1String(kFolderFile), text);
}

void makeMaildir(const QString& dir)
{
    QDir d;
    d.mkpath(dir + QStringLiteral("/cur"));
    d.mkpath(dir + QStringLiteral("/new"));
    d.mkpath(dir + QStringLiteral("/tmp"));
}

QString clean(const QString& path)
{
    const QFileInfo fi(path);
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(fi.absoluteFilePath()) : canonical;
}

} // namespace

QString Session::encodeName(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    QByteArray out;
    for (int i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8.at(i));
        if (c == '%' || c == '/' || c < 0x20 || c == 0x7F || (i == 0 && c == '.'))
            out += '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        else
            out += char(c);
    }
    QString s = QString::fromUtf8(out);
    if (isMaildirPart(s))  // would be taken for the folder's own Maildir directories
        s = QStringLiteral("%") + QString::number(s.at(0).unicode(), 16).toUpper() + s.mid(1);
    return s;
}

QString Session::decodeName(const QString& dirName)
{
    const QByteArray in = dirName.toUtf8();
    QByteArray out;
    for (int i = 0; i < in.size(); ++i) {
        if (in.at(i) == '%' && i + 2 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(v);
                i += 2;
                continue;
            }
        }
        out += in.at(i);
    }
    return QString::fromUtf8(out);
}

QString Session::newUniqueName()
{
    static int counter = 0;
    const qint64 us = QDateTime::currentMSecsSinceEpoch() * 1000 + (QRandomGenerator::global()->bounded(1000));
    QString host = mime::hostName();
    host.replace(QLatin1Char('/'), QStringLiteral("\\057")).replace(QLatin1Char(':'), QStringLiteral("\\072"));
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    return QStringLiteral("%1.M%2P%3Q%4R%5.%6")
        .arg(us / 1000000)
        .arg(us % 1000000, 6, 10, QLatin1Char('0'))
        .arg(QCoreApplication::applicationPid())
        .arg(++counter, 10, 10, QLatin1Char('0'))
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
        .arg(host);
}

Session::Session(const QString& dataFolder) : dataFolder_(dataFolder)
{
    // The default store, created on first use.
    const QString root = dataFolder + QStringLiteral("/Mail");
    makeMaildir(root);
    for (const DefaultFolder& d : kDefaults) {
        const QString dir = root + QLatin1Char('/') + QLatin1String(d.name);
        if (QFileInfo(dir).isDir()) {
            if (!QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(kFolderFile)))
                writeFolderFile(dir, newId(), d.kind);
            continue;
        }
        if (d.kind == Kind::Mail)
            makeMaildir(dir);
        else
            QDir().mkpath(dir);
        writeFolderFile(dir, newId(), d.kind);
    }
    stores_.append(registerDir(clean(root), true, QStringLiteral("Personal Folders")));

    // Further stores, in the order stores.ini lists them: "[Name]" then "Path=...".
    QFile ini(dataFolder + QStringLiteral("/stores.ini"));
    if (ini.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString section;
        const QStringList lines = QString::fromUtf8(ini.readAll()).split(QLatin1Char('\n'));
        for (QString line : lines) {
            line = line.trimmed();
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
                section = line.mid(1, line.size() - 2).trimmed();
                continue;
            }
            if (section.isEmpty() || !line.startsWith(QLatin1String("Path="), Qt::CaseInsensitive))
                continue;
            QString path = line.mid(5).trimmed();
            if (path.startsWith(QLatin1String("~/")))
                path = QDir::homePath() + path.mid(1);
            if (QDir::isRelativePath(path))
                path = dataFolder + QLatin1Char('/') + path;
            if (!QFileInfo(path).isDir())
                continue;  // a store that is not there is not shown
            path = clean(path);
            bool overlaps = false;
            for (const NodePtr& s : std::as_const(stores_))
                if (path == s->path || path.startsWith(s->path + QLatin1Char('/')) || s->path.startsWith(path + QLatin1Char('/')))
                    overlaps = true;
            if (overlaps)
                continue;
            stores_.append(registerDir(path, true, section));
            section.clear();
        }
    }
    for (const NodePtr& s : std::as_const(stores_))
        walk(s->path);
}

NodePtr Session::registerDir(const QString& path, bool isRoot, const QString& storeName)
{
    NodePtr node = byPath_.value(path);
    if (node) {
        if (isRoot) {
            node->isRoot = true;
            node->storeName = storeName;
        }
        return node;
    }
    QString id;
    QByteArray inode;
    Kind kind = Kind::Mail;
    bool haveKind = false;
    QFile f(path + QLatin1Char('/') + QLatin1String(kFolderFile));
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = f.read(4096).split('\n');
        for (const QByteArray& l : lines) {
            if (l.startsWith("inode="))
                inode = l.mid(6).trimmed();
            else if (l.startsWith("id="))
                id = QString::fromLatin1(l.mid(3).trimmed()).toUpper();
            else if (l.startsWith("kind=")) {
                haveKind = true;
                kind = l.mid(5).trimmed() == "contacts" ? Kind::Contacts : Kind::Mail;
            }
        }
    }
    if (!haveKind) {
        // A folder we have not seen before: a vdir holds .vcf files and no Maildir.
        const QDir d(path);
        const bool maildir = d.exists(QStringLiteral("cur")) || d.exists(QStringLiteral("new"));
        const bool vcards = !d.entryList({QStringLiteral("*.vcf"), QStringLiteral("*.VCF")}, QDir::Files).isEmpty();
        kind = (!maildir && vcards) ? Kind::Contacts : Kind::Mail;
    }
    bool rewrite = !isHexId(id) || !haveKind;
    if (!rewrite) {
        NodePtr other = byId_.value(id);
        if (other && other->path != path) {
            if (QFileInfo(other->path + QLatin1Char('/') + QLatin1String(kFolderFile)).exists()) {
                // A copy made outside the program carries the same id: the copy gets a new one.
                if (!inode.isEmpty() && inode == inodeOf(path) && !other->isRoot) {
                    byId_.remove(id);
                    other->id = newId();
                    writeFolderFile(other->path, other->id, other->kind);
                    byId_.insert(other->id, other);
                } else {
                    rewrite = true;
                }
            } else {
                // The folder was moved outside the program: same folder, new place.
                byPath_.remove(other->path);
                other->path = path;
                other->kind = kind;
                byPath_.insert(path, other);
                if (isRoot) {
                    other->isRoot = true;
                    other->storeName = storeName;
                }
                return other;
            }
        }
    }
    if (rewrite) {
        if (!isHexId(id) || byId_.contains(id))
            id = newId();
        if (!writeFolderFile(path, id, kind)) {
            // A read-only folder: an id from its place, stable as long as it stays there.
            id = QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
        }
    }
    node = std::make_shared<FolderNode>();
    node->id = id;
    node->path = path;
    node->kind = kind;
    node->isRoot = isRoot;
    node->storeName = storeName;
    byId_.insert(id, node);
    byPath_.insert(path, node);
    return node;
}

QStringList Session::subDirs(const QString& dir) const
{
    QStringList out;
    const QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& n : names)
        if (!n.startsWith(QLatin1Char('.')) && !isMaildirPart(n))
            out.append(n);
    return out;
}

void Session::walk(const QString& dir)
{
    for (const QString& n : subDirs(dir)) {
        const QString p = dir + QLatin1Char('/') + n;
        registerDir(p, false, QString());
        walk(p);
    }
}

void Session::rescan()
{
    for (const NodePtr& s : std::as_const(stores_))
        walk(s->path);
}

NodePtr Session::byId(const QString& id)
{
    const QString key = id.trimmed().toUpper();
    NodePtr node = byId_.value(key);
    if (!node || node->removed || !QFileInfo(node->path).isDir()) {
        rescan();
        node = byId_.value(key);
    }
    if (!node || node->removed || !QFileInfo(node->path).isDir())
        throw MailError(QStringLiteral("The folder could not be found."));
    return node;
}

Session::~Session() { quit(); }

send::Spooler* Session::spooler()
{
    if (quit_)
        return nullptr;
    if (!spooler_) {
        spooler_ = std::make_unique<send::Spooler>(defaultFolder(olFolderOutbox)->path, defaultFolder(olFolderSentMail)->path);
        // What a send/receive could not do is told when the run ends, not waited for.
        QObject::connect(spooler_.get(), &send::Spooler::sendReceiveFinished, spooler_.get(), [](const QStringList& failures) {
            if (!failures.isEmpty())
                ui::MsgBox(failures.join(QStringLiteral("\n\n")), ui::vbCritical);    // each its own paragraph
        });
    }
    return spooler_.get();
}

void Session::quit()
{
    quit_ = true;
    spooler_.reset();
}

std::shared_ptr<send::OutboxQueue> Session::outboxQueue()
{
    if (!outboxQueue_)
        outboxQueue_ = send::OutboxQueue::Of(defaultFolder(olFolderOutbox)->path);
    return outboxQueue_;
}

bool Session::isOutbox(const NodePtr& node)
{
    return node && node->kind == Kind::Mail && node->path == stores_.first()->path + QStringLiteral("/Outbox");
}

NodePtr Session::defaultFolder(int which)
{
    for (const DefaultFolder& d : kDefaults) {
        if (d.which != which)
            continue;
        const QString path = stores_.first()->path + QLatin1Char('/') + QLatin1String(d.name);
        if (!QFileInfo(path).isDir()) {
            // Removed behind the program's back: the default folders always exist.
            if (d.kind == Kind::Mail)
                makeMaildir(path);
            else
                QDir().mkpath(path);
        }
        return registerDir(path, false, QString());
    }
    throw MailError(QStringLiteral("There is no default folder of that kind."));
}

bool Session::isDefaultFolder(const NodePtr& node) const
{
    for (const DefaultFolder& d : kDefaults)
        if (node->path == stores_.first()->path + QLatin1Char('/') + QLatin1String(d.name))
            return true;
    return false;
}

QString Session::displayName(const NodePtr& node) const
{
    if (node->isRoot)
        return node->storeName;
    return decodeName(QFileInfo(node->path).fileName());
}

void Session::checkUsable(const NodePtr& node) const
{
    if (!node || node->removed || !QFileInfo(node->path).isDir())
        throw MailError(QStringLiteral("The folder no longer exists."));
}

QList<NodePtr> Session::children(const NodePtr& node)
{
    checkUsable(node);
    QList<NodePtr> out;
    for (const QString& n : subDirs(node->path))
        out.append(registerDir(node->path + QLatin1Char('/') + n, false, QString()));
    const bool defaultRoot = node == stores_.first();
    auto rank = [&](const NodePtr& c) {
        if (defaultRoot)
            for (int i = 0; i < int(std::size(kDefaults)); ++i)
                if (c->path == node->path + QLatin1Char('/') + QLatin1String(kDefaults[i].name))
                    return i;
        return int(std::size(kDefaults));
    };
    std::sort(out.begin(), out.end(), [&](const NodePtr& a, const NodePtr& b) {
        const int ra = rank(a), rb = rank(b);
        if (ra != rb)
            return ra < rb;
        const QString na = displayName(a), nb = displayName(b);
        const int c = na.compare(nb, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : na < nb;
    });
    return out;
}

NodePtr Session::parentOf(const NodePtr& node)
{
    checkUsable(node);
    if (node->isRoot)
        return nullptr;
    return registerDir(QFileInfo(node->path).path(), false, QString());
}

bool Session::isSelfOrBelow(const NodePtr& node, const NodePtr& candidate)
{
    return node->path == candidate->path || node->path.startsWith(candidate->path + QLatin1Char('/'));
}

void Session::refuseSibling(const NodePtr& parent, const QString& name, const NodePtr& except)
{
    for (const NodePtr& c : children(parent))
        if (c != except && displayName(c).compare(name, Qt::CaseInsensitive) == 0)
            throw MailError(QStringLiteral("A folder named \"%1\" already exists there.").arg(name));
}

NodePtr Session::addFolder(const NodePtr& parent, const QString& name)
{
    checkUsable(parent);
    if (name.trimmed().isEmpty())
        throw MailError(QStringLiteral("A folder needs a name."));
    refuseSibling(parent, name, nullptr);
    const QString path = parent->path + QLatin1Char('/') + encodeName(name);
    if (QFileInfo::exists(path) || !QDir().mkdir(path))
        throw MailError(QStringLiteral("The folder \"%1\" could not be created.").arg(name));
    if (parent->kind == Kind::Mail)
        makeMaildir(path);
    const QString id = newId();
    if (!writeFolderFile(path, id, parent->kind)) {
        QDir(path).removeRecursively();
        throw MailError(QStringLiteral("The folder \"%1\" could not be created.").arg(name));
    }
    return registerDir(path, false, QString());
}

void Session::repath(const QString& oldPath, const QString& newPath)
{
    QList<NodePtr> moved;
    for (auto it = byPath_.begin(); it != byPath_.end();) {
        if (it.key() == oldPath || it.key().startsWith(oldPath + QLatin1Char('/'))) {
            moved.append(it.value());
            it = byPath_.erase(it);
        } else {
            ++it;
        }
    }
    for (const NodePtr& n : moved) {
        n->path = newPath + n->path.mid(oldPath.size());
        byPath_.insert(n->path, n);
    }
}

void Session::rename(const NodePtr& node, const QString& name)
{
    checkUsable(node);
    if (node->isRoot || isDefaultFolder(node))
        throw MailError(QStringLiteral("This folder cannot be renamed."));
    if (name.trimmed().isEmpty())
        throw MailError(QStringLiteral("A folder needs a name."));
    if (name == displayName(node))
        return;
    const NodePtr parent = parentOf(node);
    refuseSibling(parent, name, node);
    const QString path = parent->path + QLatin1Char('/') + encodeName(name);
    if (::rename(QFile::encodeName(node->path).constData(), QFile::encodeName(path).constData()) != 0)
        throw MailError(QStringLiteral("The folder could not be renamed."));
    repath(node->path, path);
}

void Session::copyTree(const QString& from, const QString& to, bool newIds)
{
    if (!QDir().mkpath(to))
        throw MailError(QStringLiteral("The folder could not be copied."));
    const QDir src(from);
    const QStringList entries = src.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& e : entries) {
        const QString s = from + QLatin1Char('/') + e;
        const QString d = to + QLatin1Char('/') + e;
        if (e == QLatin1String(kFolderFile)) {
            if (!newIds) {
                // Same id and kind, with the new directory's inode.
                QFile f(s);
                QString id;
                Kind kind = Kind::Mail;
                if (f.open(QIODevice::ReadOnly)) {
                    for (const QByteArray& l : f.readAll().split('\n')) {
                        if (l.startsWith("id="))
                            id = QString::fromLatin1(l.mid(3).trimmed());
                        else if (l.startsWith("kind=contacts"))
                            kind = Kind::Contacts;
                    }
                }
                if (id.isEmpty() || !writeFolderFile(to, id, kind))
                    throw MailError(QStringLiteral("The folder could not be copied."));
            }
            continue;
        }
        if (e == QLatin1String("tmp")) {
            QDir().mkpath(d);  // what is being written there belongs to the original
            continue;
        }
        if (e.startsWith(QLatin1Char('.'))) {
            continue;  // other programs' state, and our own work in progress, describe the original
        } else if (QFileInfo(s).isDir()) {
            copyTree(s, d, newIds);
        } else if (!QFile::copy(s, d)) {
            throw MailError(QStringLiteral("The folder could not be copied."));
        }
    }
    if (newIds) {
        NodePtr original = byPath_.value(from);
        Kind kind = original ? original->kind : Kind::Mail;
        if (!original) {
            QFile f(from + QLatin1Char('/') + QLatin1String(kFolderFile));
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains("kind=contacts"))
                kind = Kind::Contacts;
        }
        if (!writeFolderFile(to, newId(), kind))
            throw MailError(QStringLiteral("The folder could not be copied."));
    }
}

NodePtr Session::copy(const NodePtr& node, const NodePtr& dest)
{
    checkUsable(node);
    checkUsable(dest);
    if (isSelfOrBelow(dest, node))
        throw MailError(QStringLiteral("A folder cannot be copied into itself or a folder inside it."));
    const QString name = displayName(node);
    refuseSibling(dest, name, nullptr);
    // Built under a hidden name and renamed into place: a copy is there whole or not at all.
    const QString staging = dest->path + QStringLiteral("/.copy-") + newUniqueName();
    try {
        copyTree(node->path, staging, true);
    } catch (...) {
        QDir(staging).removeRecursively();
        throw;
    }
    const QString path = dest->path + QLatin1Char('/') + encodeName(name);
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(path).constData()) != 0) {
        QDir(staging).removeRecursively();
        throw MailError(QStringLiteral("The folder could not be copied."));
    }
    NodePtr copyNode = registerDir(path, false, QString());
    walk(path);
    return copyNode;
}

void Session::move(const NodePtr& node, const NodePtr& dest)
{
    checkUsable(node);
    checkUsable(dest);
    if (node->isRoot || isDefaultFolder(node))
        throw MailError(QStringLiteral("This folder cannot be moved."));
    if (isSelfOrBelow(dest, node))
        throw MailError(QStringLiteral("A folder cannot be moved into itself or a folder inside it."));
    if (parentOf(node) == dest)
        return;
    const QString name = displayName(node);
    refuseSibling(dest, name, nullptr);
    const QString path = dest->path + QLatin1Char('/') + encodeName(name);
    if (::rename(QFile::encodeName(node->path).constData(), QFile::encodeName(path).constData()) != 0) {
        if (errno != EXDEV)
            throw MailError(QStringLiteral("The folder could not be moved."));
        // Another file system: copy with the same ids, then let the original go.
        const QString staging = dest->path + QStringLiteral("/.move-") + newUniqueName();
        try {
            copyTree(node->path, staging, false);
        } catch (...) {
            QDir(staging).removeRecursively();
            throw;
        }
        if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(path).constData()) != 0) {
            QDir(staging).removeRecursively();
            throw MailError(QStringLiteral("The folder could not be moved."));
        }
        QDir(node->path).removeRecursively();
    }
    repath(node->path, path);
}

void Session::forgetTree(const QString& path)
{
    for (auto it = byPath_.begin(); it != byPath_.end();) {
        if (it.key() == path || it.key().startsWith(path + QLatin1Char('/'))) {
            it.value()->removed = true;
            byId_.remove(it.value()->id);
            it = byPath_.erase(it);
        } else {
            ++it;
        }
    }
}

void Session::remove(const NodePtr& node)
{
    checkUsable(node);
    if (node->isRoot || isDefaultFolder(node))
        throw MailError(QStringLiteral("This folder cannot be deleted."));
    // Out of sight in one step, then emptied.
    const QString doomed = QFileInfo(node->path).path() + QStringLiteral("/.delete-") + newUniqueName();
    if (::rename(QFile::encodeName(node->path).constData(), QFile::encodeName(doomed).constData()) != 0)
        throw MailError(QStringLiteral("The folder could not be deleted."));
    forgetTree(node->path);
    QDir(doomed).removeRecursively();
}

QStringView Session::uniqueView(const NodePtr& node, const QString& rel)
{
    QStringView name = QStringView(rel).mid(rel.lastIndexOf(QLatin1Char('/')) + 1);
    if (node->kind == Kind::Contacts)
        return name.chopped(4);
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.left(colon);
}

QString Session::uniqueOf(const NodePtr& node, const QString& rel) { return uniqueView(node, rel).toString(); }

QStringList Session::listFiles(const NodePtr& node)
{
    checkUsable(node);
    QStringList out;
    auto take = [&](const QString& sub, const QStringList& names) {
        out.reserve(out.size() + names.size());
        for (const QString& n : names)
            out.append(sub.isEmpty() ? n : sub + QLatin1Char('/') + n);
    };
    if (node->kind == Kind::Contacts) {
        QStringList names = fileNames(node->path);
        names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return !n.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive); }),
                    names.end());
        take(QString(), names);
    } else {
        take(QStringLiteral("cur"), fileNames(node->path + QStringLiteral("/cur")));
        take(QStringLiteral("new"), fileNames(node->path + QStringLiteral("/new")));
    }
    // The cache of names is made when first asked for: a listing itself needs none.
    node->files.clear();
    node->unindexed = out;
    node->filesKnown = true;
    return out;
}

QHash<QString, QString>& Session::filesOf(const NodePtr& node)
{
    if (!node->unindexed.isEmpty()) {
        // Sorted, so that of two files claiming one unique name the same one always wins.
        QStringList rels = std::exchange(node->unindexed, {});
        std::sort(rels.begin(), rels.end());
        node->files.reserve(rels.size());
        for (const QString& rel : std::as_const(rels))
            node->files.insert(uniqueOf(node, rel), rel);
    }
    return node->files;
}

QString Session::findFile(const NodePtr& node, const QString& unique)
{
    checkUsable(node);
    if (node->filesKnown) {
        const QString rel = filesOf(node).value(unique);
        if (!rel.isEmpty() && QFileInfo::exists(node->path + QLatin1Char('/') + rel))
            return rel;
    }
    listFiles(node);
    return filesOf(node).value(unique);
}

QString Session::writeNewFile(const NodePtr& node, const QByteArray& bytes, const QString& flags, const QString& subdir)
{
    checkUsable(node);
    if (isOutbox(node))
        throw MailError(kIntoOutbox);
    const QString unique = newUniqueName();
    QString rel;
    QString tmpDir;
    if (node->kind == Kind::Contacts) {
        rel = unique + QStringLiteral(".vcf");
        tmpDir = node->path;
    } else {
        makeMaildir(node->path);
        rel = subdir + QLatin1Char('/') + unique + (subdir == QLatin1String("new") ? QString() : QStringLiteral(":2,") + flags);
        tmpDir = node->path + QStringLiteral("/tmp");
    }
    if (!writeAtomically(tmpDir, node->path + QLatin1Char('/') + rel, bytes))
        throw MailError(QStringLiteral("The item could not be written to the folder."));
    if (node->filesKnown)
        filesOf(node).insert(unique, rel);
    return rel;
}

void Session::replaceFile(const NodePtr& node, const QString& rel, const QByteArray& bytes)
{
    checkUsable(node);
    std::shared_ptr<send::OutboxQueue> queue = isOutbox(node) ? outboxQueue() : nullptr;
    const QString unique = uniqueOf(node, rel);
    if (QString why; queue && !queue->hold(unique, &why))
        throw QueueRefusal(why.isEmpty() ? kBeingSent : why);
    const QString tmpDir = node->kind == Kind::Contacts ? node->path : node->path + QStringLiteral("/tmp");
    const bool ok = writeAtomically(tmpDir, node->path + QLatin1Char('/') + rel, bytes);
    if (queue)
        queue->release(unique);
    if (!ok)
        throw MailError(QStringLiteral("The item could not be saved."));
}

QString Session::renameFile(const NodePtr& node, const QString& rel, const QString& newRel)
{
    if (rel == newRel)
        return rel;
    if (::rename(QFile::encodeName(node->path + QLatin1Char('/') + rel).constData(),
                 QFile::encodeName(node->path + QLatin1Char('/') + newRel).constData()) != 0)
        throw MailError(QStringLiteral("The item could not be changed."));
    if (node->filesKnown)
        filesOf(node).insert(uniqueOf(node, newRel), newRel);
    return newRel;
}

QString Session::moveFile(const NodePtr& from, const QString& rel, const NodePtr& to)
{
    checkUsable(from);
    checkUsable(to);
    if (isOutbox(to) && !isOutbox(from))
        throw MailError(kIntoOutbox);
    if (!isOutbox(from))
        return moveFileAs(from, rel, to);
    // Out of the Outbox: out of the queue, but never from under a transfer.
    const std::shared_ptr<send::OutboxQueue> queue = outboxQueue();
    const QString unique = uniqueOf(from, rel);
    if (QString why; !queue->hold(unique, &why))
        throw QueueRefusal(why.isEmpty() ? kBeingSent : why);
    QString moved;
    try {
        moved = moveFileAs(from, rel, to);
    } catch (...) {
        queue->release(unique);
        throw;
    }
    queue->forget(unique);
    return moved;
}

QString Session::moveFileAs(const NodePtr& from, const QString& rel, const NodePtr& to)
{
    const QString name = rel.mid(rel.lastIndexOf(QLatin1Char('/')) + 1);
    const QString sub = rel.contains(QLatin1Char('/')) ? rel.left(rel.indexOf(QLatin1Char('/'))) : QStringLiteral("cur");
    QString unique = uniqueOf(from, rel);
    QString tail = name.mid(unique.size());  // ":2,FLAGS" or ".vcf"
    // Never overwrite a message already there. Once the folder is listed its cache answers: a
    // miss is the usual case here, and listing the folder again for each move is quadratic.
    if (to->filesKnown ? filesOf(to).contains(unique) : !findFile(to, unique).isEmpty())
        unique = newUniqueName();
    QString prefix;
    if (to->kind != Kind::Contacts) {
        makeMaildir(to->path);
        prefix = sub + QLatin1Char('/');
    }
    QString newRel = prefix + unique + tail;
    if (QFileInfo::exists(to->path + QLatin1Char('/') + newRel)) {
        // Put there by another program since the folder was listed.
        unique = newUniqueName();
        newRel = prefix + unique + tail;
    }
    const QString src = from->path + QLatin1Char('/') + rel;
    const QString dst = to->path + QLatin1Char('/') + newRel;
    if (::rename(QFile::encodeName(src).constData(), QFile::encodeName(dst).constData()) != 0) {
        if (errno != EXDEV)
            throw MailError(QStringLiteral("The item could not be moved."));
        QFile f(src);
        if (!f.open(QIODevice::ReadOnly))
            throw MailError(QStringLiteral("The item could not be moved."));
        const QByteArray bytes = f.readAll();
        f.close();
        const QString tmpDir = to->kind == Kind::Contacts ? to->path : to->path + QStringLiteral("/tmp");
        if (!writeAtomically(tmpDir, dst, bytes))
            throw MailError(QStringLiteral("The item could not be moved."));
        QFile::remove(src);
    }
    filesOf(from).remove(uniqueOf(from, rel));
    if (to->filesKnown)
        filesOf(to).insert(unique, newRel);
    return newRel;
}

void Session::removeFile(const NodePtr& node, const QString& rel)
{
    checkUsable(node);
    std::shared_ptr<send::OutboxQueue> queue = isOutbox(node) ? outboxQueue() : nullptr;
    const QString unique = uniqueOf(node, rel);
    if (QString why; queue && !queue->hold(unique, &why))
        throw QueueRefusal(why.isEmpty() ? kBeingSent : why);
    if (!QFile::remove(node->path + QLatin1Char('/') + rel) && QFileInfo::exists(node->path + QLatin1Char('/') + rel)) {
        if (queue)
            queue->release(unique);
        throw MailError(QStringLiteral("The item could not be deleted."));
    }
    if (queue)
        queue->forget(unique);
    filesOf(node).remove(unique);
}

} // namespace mail::detail

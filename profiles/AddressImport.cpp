#include "profiles/AddressImport.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <string>

#include "core/ValueRules.h"
#include "platform/db/Connection.h"
#include "platform/mail/send/Outgoing.h"

const QStringList& AddressImport::RecordColumns()
{
    static const QStringList cols{
        QStringLiteral("Company"), QStringLiteral("First"),    QStringLiteral("Last"),    QStringLiteral("Middle"),
        QStringLiteral("Address1"), QStringLiteral("Address2"), QStringLiteral("City"),   QStringLiteral("State"),
        QStringLiteral("Country"), QStringLiteral("Zip"),      QStringLiteral("Phone1"),  QStringLiteral("Phone2"),
        QStringLiteral("Fax"),     QStringLiteral("Cell"),
    };
    return cols;
}

namespace {

// Rows written by one statement when queued: fewer, larger statements cost SQLite much less
// per row (each insert into a table with AUTOINCREMENT also reads and writes its counter).
constexpr int kChunk = 100;

// UTF-8 to text, null to null. A leading U+FEFF is text here: QString::fromUtf8 would drop it
// as a byte-order mark.
QString textOf(QByteArrayView utf8)
{
    if (!utf8.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(utf8);
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)(utf8);
}

QStringList insertColumns(bool withRecord)
{
    QStringList cols{QStringLiteral("Email")};
    // A new address with names gets its sort name, or it would show no name in the lists.
    if (withRecord) cols << AddressImport::RecordColumns() << QStringLiteral("SortName");
    return cols;
}

// "INSERT INTO table (cols) VALUES (?, ...), ..." for rows rows. The new row's id is the
// insert's rowid, with no second look-up (a RETURNING clause would cost a temporary table).
QString insertText(const QString& table, const QStringList& cols, int rows)
{
    QStringList marks;
    for (qsizetype i = 0; i < cols.size(); ++i) marks << QStringLiteral("?");
    const QString row = QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
    QStringList values;
    for (int r = 0; r < rows; ++r) values << row;
    return QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(table, cols.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
}

// The key under which SQLite's NOCASE comparison finds an address: ASCII letters folded, and
// nothing else, as NOCASE folds nothing else.
QString nocaseKey(const QString& s)
{
    const auto upper = [](QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); };
    // Most addresses are written in lower case: those are shared, not copied.
    if (std::none_of(s.begin(), s.end(), upper)) return s;
    QString k = s;
    for (QChar& c : k)
        if (upper(c)) c = QChar(c.unicode() + ('a' - 'A'));
    return k;
}

// Whether trimming the text of these bytes leaves it as it is: both ends are ASCII and not blank
// (a character beyond ASCII at an end may be a blank).
bool nothingToTrim(QByteArrayView utf8)
{
    const auto plain = [](char c) { return uchar(c) > ' ' && uchar(c) < 0x80; };
    return utf8.isEmpty() || (plain(utf8.front()) && plain(utf8.back()));
}

} // namespace

struct AddressImport::Statements {
    std::optional<db::Statement> insertEmail;
    std::optional<db::Statement> insertRecord;
    std::optional<db::Statement> insertEmails;   // kChunk rows
    std::optional<db::Statement> insertRecords;  // kChunk rows
    std::optional<db::Statement> recId;
    std::optional<db::Statement> recIds;  // kChunk addresses
    std::optional<db::Statement> member;
    std::optional<db::Statement> addMember;
    std::optional<db::Statement> addMembers;  // kChunk rows
    std::optional<db::Connection::Transaction> batch;
};

// Rows waiting to be written, with their values' UTF-8 text kept one after another, so a bulk
// load binds bytes without a text object per value.
struct AddressImport::Queued {
    struct Row {
        QString key;       // nocaseKey of the address
        size_t first = 0;  // the address in values; then, with a record, its further values
        bool withRecord = false;
    };
    std::vector<Row> rows;
    std::string bytes;
    std::vector<std::pair<qsizetype, qsizetype>> values;  // where in bytes, and how long; -1: NULL

    void add(QByteArrayView v)
    {
        values.emplace_back(qsizetype(bytes.size()), v.isNull() ? -1 : v.size());
        bytes.append(v.data(), size_t(v.size()));
    }
    void add(const QString& text)
    {
        if (text.isNull()) return add(QByteArrayView());
        const QByteArray utf8 = text.toUtf8();
        add(QByteArrayView(utf8.constData(), utf8.size()));  // empty text stays text, not NULL
    }
    // SortNameOf(first, last, middle, company), on the bytes when no value needs trimming.
    void addSortName(QByteArrayView company, QByteArrayView first, QByteArrayView last, QByteArrayView middle)
    {
        if (!nothingToTrim(company) || !nothingToTrim(first) || !nothingToTrim(last) || !nothingToTrim(middle))
            return add(SortNameOf(textOf(first), textOf(last), textOf(middle), textOf(company)));
        if (first.isEmpty() && last.isEmpty() && middle.isEmpty()) return add(company);
        if (last.isEmpty()) return add(last);  // NULL or empty, as Last is
        const qsizetype at = qsizetype(bytes.size());
        bytes.append(last.data(), size_t(last.size()));
        for (const QByteArrayView more : {first, middle}) {
            if (more.isEmpty()) continue;
            bytes.append(", ");
            bytes.append(more.data(), size_t(more.size()));
        }
        values.emplace_back(at, qsizetype(bytes.size()) - at);
    }
    QByteArrayView value(size_t i) const
    {
        const auto [at, size] = values[i];
        return size < 0 ? QByteArrayView() : QByteArrayView(bytes.data() + at, size);
    }
    QByteArrayView email(size_t row) const { return value(rows[row].first); }
    void clear()
    {
        rows.clear();
        bytes.clear();
        values.clear();
    }
};

AddressImport::AddressImport(db::Connection& c, QList<qint64> folders, int batchSize)
    : conn_(c), folders_(std::move(folders)), batchSize_(qMax(1, batchSize)), st_(std::make_unique<Statements>()),
      queued_(std::make_unique<Queued>()), one_(std::make_unique<Queued>())
{
    st_->recId.emplace(conn_.Prepare(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = ? LIMIT 1")));
    // Asked first, then inserted: an INSERT that selects from its own table copies each result
    // into a temporary table, which cost more than the rest of a second import together.
    st_->member.emplace(conn_.Prepare(QStringLiteral("SELECT 1 FROM ListMembers WHERE MasterRecID = ? AND FolderRecID = ? LIMIT 1")));
    st_->addMember.emplace(conn_.Prepare(QStringLiteral("INSERT INTO ListMembers (FolderRecID, MasterRecID) VALUES (?, ?)")));
    st_->batch.emplace(conn_);
}

AddressImport::~AddressImport()
{
    try {
        flush();
        if (st_->batch) st_->batch->Commit();
    } catch (const db::DbError&) {
        // Nothing more can be kept; the batch rolls back with the transaction.
    }
}

void AddressImport::Commit()
{
    flush();
    inBatch_ = 0;
    st_->batch->Commit();
    st_->batch.reset();
    st_->batch.emplace(conn_);
}

bool AddressImport::LooksLikeAddress(const QString& address) { return mail::send::IsSendableAddress(address); }

bool AddressImport::queue(Queued& q, const QString& address, std::span<const QByteArrayView> others, QByteArrayView utf8)
{
    const QString email = address.trimmed();
    if (email.isEmpty()) return false;
    if (!LooksLikeAddress(email)) {
        ++skipped_;
        return false;
    }
    Queued::Row row{nocaseKey(email), q.values.size(), !others.empty()};
    if (!utf8.isNull() && email.size() == address.size()) q.add(utf8);  // nothing trimmed: the bytes as given
    else q.add(email);
    if (row.withRecord) {
        const auto other = [&](size_t i) { return i < others.size() ? others[i] : QByteArrayView(); };
        for (size_t i = 0; i < size_t(RecordColumns().size()); ++i) q.add(other(i));
        // A new address with names gets its sort name, or it would show no name in the lists.
        q.addSortName(other(0), other(1), other(2), other(3));
    }
    q.rows.push_back(std::move(row));
    return true;
}

namespace {

// Texts as UTF-8 views over bytes; a null text gives a null view.
std::vector<QByteArrayView> utf8Views(const QStringList& texts, std::vector<QByteArray>& bytes)
{
    bytes.clear();
    for (const QString& t : texts) bytes.push_back(t.toUtf8());
    std::vector<QByteArrayView> views;
    for (qsizetype i = 0; i < texts.size(); ++i)
        views.push_back(texts[i].isNull() ? QByteArrayView() : QByteArrayView(bytes[size_t(i)].constData(), bytes[size_t(i)].size()));
    return views;
}

} // namespace

AddressImport::Result AddressImport::ImportAddress(const QString& address, const QStringList& others)
{
    std::vector<QByteArray> bytes;
    one_->clear();
    if (!queue(*one_, address, utf8Views(others, bytes))) return Skipped;
    flush();
    const Result result = write(*one_, 0);
    if (++inBatch_ >= batchSize_) Commit();
    return result;
}

void AddressImport::QueueAddress(const QString& address, const QStringList& others)
{
    std::vector<QByteArray> bytes;
    if (queue(*queued_, address, utf8Views(others, bytes))) queued();
}

void AddressImport::QueueRecord(QByteArrayView address, std::span<const QByteArrayView> others)
{
    if (queue(*queued_, textOf(address), others, address)) queued();
}

void AddressImport::queued()
{
    if (int(queued_->rows.size()) >= kChunk) flush();
    if (++inBatch_ >= batchSize_) Commit();
}

std::optional<qint64> AddressImport::find(QByteArrayView email)
{
    db::Statement& find = *st_->recId;
    find.BindUtf8(0, email);
    find.Exec();
    std::optional<qint64> recId;
    if (find.Next()) recId = find.Value(0).toLongLong();
    while (find.Next()) {
    }
    return recId;
}

qint64 AddressImport::insert(const Queued& q, size_t row)
{
    const bool withRecord = q.rows[row].withRecord;
    auto& ins = withRecord ? st_->insertRecord : st_->insertEmail;
    if (!ins) ins.emplace(conn_.Prepare(insertText(QStringLiteral("MasterList"), insertColumns(withRecord), 1)));
    int k = 0;
    bindRow(*ins, k, q, row);
    ins->Exec();
    if (ins->NumRowsAffected() < 1) return 0;  // ignored by a rule of the database
    return ins->LastInsertId();
}

void AddressImport::bindRow(db::Statement& st, int& k, const Queued& q, size_t row)
{
    // The address, then with a record its further values and its sort name.
    const Queued::Row& r = q.rows[row];
    const size_t n = r.withRecord ? size_t(RecordColumns().size()) + 2 : 1;
    for (size_t i = 0; i < n; ++i) st.BindUtf8(k++, q.value(r.first + i));
}

AddressImport::Result AddressImport::write(const Queued& q, size_t row)
{
    qint64 recId = 0;
    Result result = Existing;
    try {
        const std::optional<qint64> found = find(q.email(row));
        if (found) {
            recId = *found;
        } else {
            recId = insert(q, row);
            if (recId == 0) return Failed;
            result = Added;
            ++added_;
        }
    } catch (const db::DbError& e) {
        // A refused insert leaves the address without a row, so it joins no folder.
        lastError_ = e.message();
        ++failed_;
        return Failed;
    }

    join(recId, result == Added);
    return result;
}

void AddressImport::flush()
{
    if (queued_->rows.empty()) return;
    Queued q = std::exchange(*queued_, Queued{});
    const std::vector<Queued::Row>& rows = q.rows;

    // Which addresses the Master List holds already, kChunk by one statement: the lowest RecID
    // of each, as the one-by-one look-up finds it. 0 marks an address the database refused.
    QHash<QString, qint64> known;
    known.reserve(qsizetype(rows.size()));
    for (size_t i = 0; i < rows.size(); i += size_t(kChunk)) {
        try {
            if (!st_->recIds) {
                QStringList marks;
                for (int m = 0; m < kChunk; ++m) marks << QStringLiteral("?");
                st_->recIds.emplace(conn_.Prepare(QStringLiteral("SELECT Email, RecID FROM MasterList WHERE Email IN (%1)")
                                                      .arg(marks.join(QStringLiteral(", ")))));
            }
            // Places left over match nothing.
            for (int m = 0; m < kChunk; ++m) st_->recIds->BindUtf8(m, i + size_t(m) < rows.size() ? q.email(i + size_t(m)) : QByteArrayView());
            st_->recIds->Exec();
            while (st_->recIds->Next()) {
                const qint64 id = st_->recIds->Value(1).toLongLong();
                qint64& there = known[nocaseKey(st_->recIds->Value(0).toString())];
                if (there == 0 || id < there) there = id;
            }
        } catch (const db::DbError& e) {
            // Not known: those rows are looked up one by one as they come.
            for (size_t r = i; r < std::min(rows.size(), i + size_t(kChunk)); ++r) {
                try {
                    if (const std::optional<qint64> id = find(q.email(r))) known.insert(rows[r].key, *id);
                } catch (const db::DbError&) {
                    lastError_ = e.message();
                }
            }
        }
    }

    // In the order given: runs of new addresses are written together; an address already there
    // joins its folders where it stands, so memberships keep the order ImportAddress gives them.
    std::vector<size_t> run;
    QSet<QString> inRun;
    auto writeRun = [&] {
        if (run.empty()) return;
        const std::vector<qint64> ids = insertRows(q, run);
        for (size_t n = 0; n < run.size(); ++n) known.insert(rows[run[n]].key, ids[n]);
        run.clear();
        inRun.clear();
    };
    for (size_t r = 0; r < rows.size(); ++r) {
        if (inRun.contains(rows[r].key)) writeRun();  // its twin first
        const qint64 there = known.value(rows[r].key, 0);
        if (there != 0) {
            writeRun();
            join(there, false);
        } else {
            run.push_back(r);
            inRun.insert(rows[r].key);
        }
    }
    writeRun();

    // Its buffers serve the next rows.
    q.clear();
    *queued_ = std::move(q);
}

std::vector<qint64> AddressImport::insertRows(const Queued& q, const std::vector<size_t>& which)
{
    const std::vector<Queued::Row>& rows = q.rows;
    // The rows, kChunk by one statement; a chunk the database refuses goes row by row, so that
    // only the refused rows are lost, as with ImportAddress.
    std::vector<qint64> ids(which.size(), 0);
    for (size_t i = 0; i < which.size();) {
        const bool withRecord = rows[which[i]].withRecord;
        size_t j = i;
        while (j < which.size() && j - i < size_t(kChunk) && rows[which[j]].withRecord == withRecord) ++j;
        bool done = false;
        if (j - i == size_t(kChunk)) {
            auto& many = withRecord ? st_->insertRecords : st_->insertEmails;
            try {
                if (!many) many.emplace(conn_.Prepare(insertText(QStringLiteral("MasterList"), insertColumns(withRecord), kChunk)));
                int k = 0;
                for (size_t r = i; r < j; ++r) bindRow(*many, k, q, which[r]);
                many->Exec();
                // New AUTOINCREMENT rows of one statement take consecutive ids; checked by the
                // first row, else each is looked up.
                const qint64 first = many->LastInsertId() - kChunk + 1;
                if (many->NumRowsAffected() == kChunk && find(q.email(which[i])) == first) {
                    for (size_t r = i; r < j; ++r) ids[r] = first + qint64(r - i);
                } else {
                    for (size_t r = i; r < j; ++r) ids[r] = find(q.email(which[r])).value_or(0);
                }
                done = true;
            } catch (const db::DbError&) {
                // one by one below
            }
        }
        for (size_t r = i; r < j && !done; ++r) {
            try {
                ids[r] = insert(q, which[r]);
            } catch (const db::DbError& e) {
                lastError_ = e.message();
            }
        }
        for (size_t r = i; r < j; ++r) {
            if (ids[r]) ++added_;
            else ++failed_;
        }
        i = j;
    }

    // Their memberships, in the order ImportAddress writes them: by row, then by folder. A new
    // row's id was never used before (AUTOINCREMENT), so it has no memberships yet.
    std::vector<std::pair<qint64, qint64>> members;  // folder, row
    for (const qint64 id : ids)
        if (id)
            for (const qint64 folder : std::as_const(folders_)) members.emplace_back(folder, id);
    for (size_t i = 0; i < members.size(); i += size_t(kChunk)) {
        const size_t j = std::min(members.size(), i + size_t(kChunk));
        if (j - i == size_t(kChunk)) {
            try {
                if (!st_->addMembers)
                    st_->addMembers.emplace(conn_.Prepare(
                        insertText(QStringLiteral("ListMembers"), {QStringLiteral("FolderRecID"), QStringLiteral("MasterRecID")}, kChunk)));
                int k = 0;
                for (size_t m = i; m < j; ++m) {
                    st_->addMembers->BindInt64(k++, members[m].first);
                    st_->addMembers->BindInt64(k++, members[m].second);
                }
                st_->addMembers->Exec();
                continue;
            } catch (const db::DbError&) {
                // one by one below
            }
        }
        for (size_t m = i; m < j; ++m) addMember(members[m].first, members[m].second);
    }
    return ids;
}

void AddressImport::JoinFolders(qint64 masterRecId)
{
    flush();
    join(masterRecId, false);
    if (++inBatch_ >= batchSize_) Commit();
}

void AddressImport::addMember(qint64 folder, qint64 recId)
{
    try {
        st_->addMember->Bind(0, folder).Bind(1, recId);
        st_->addMember->Exec();
    } catch (const db::DbError& e) {
        lastError_ = e.message();
        ++failed_;
    }
}

void AddressImport::join(qint64 recId, bool isNew)
{
    for (qint64 folder : std::as_const(folders_)) {
        try {
            // A new row's id was never used before (AUTOINCREMENT), so it has no memberships.
            if (!isNew) {
                st_->member->Bind(0, recId).Bind(1, folder);
                st_->member->Exec();
                if (st_->member->Next()) continue;
            }
        } catch (const db::DbError& e) {
            lastError_ = e.message();
            ++failed_;
            continue;
        }
        addMember(folder, recId);
    }
}

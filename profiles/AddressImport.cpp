#include "profiles/AddressImport.h"

#include <QHash>
#include <QSet>
#include <algorithm>

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

struct AddressImport::QueuedRow {
    QString email;
    QStringList others;
    QString key;  // nocaseKey(email)
};

struct AddressImport::Queued {
    std::vector<QueuedRow> rows;
};

AddressImport::AddressImport(db::Connection& c, QList<qint64> folders, int batchSize)
    : conn_(c), folders_(std::move(folders)), batchSize_(qMax(1, batchSize)), st_(std::make_unique<Statements>()),
      queued_(std::make_unique<Queued>())
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

AddressImport::Result AddressImport::ImportAddress(const QString& address, const QStringList& others)
{
    const QString email = address.trimmed();
    if (email.isEmpty()) return Skipped;
    if (!LooksLikeAddress(email)) {
        ++skipped_;
        return Skipped;
    }
    flush();
    const Result result = write(email, others);
    if (++inBatch_ >= batchSize_) Commit();
    return result;
}

void AddressImport::QueueAddress(const QString& address, const QStringList& others)
{
    const QString email = address.trimmed();
    if (email.isEmpty()) return;
    if (!LooksLikeAddress(email)) {
        ++skipped_;
        return;
    }
    queued_->rows.push_back({email, others, nocaseKey(email)});
    if (int(queued_->rows.size()) >= kChunk) flush();
    if (++inBatch_ >= batchSize_) Commit();
}

std::optional<qint64> AddressImport::find(const QString& email)
{
    db::Statement& find = *st_->recId;
    find.Bind(0, email);
    find.Exec();
    std::optional<qint64> recId;
    if (find.Next()) recId = find.Value(0).toLongLong();
    while (find.Next()) {
    }
    return recId;
}

qint64 AddressImport::insert(const QString& email, const QStringList& others)
{
    const bool withRecord = !others.isEmpty();
    auto& ins = withRecord ? st_->insertRecord : st_->insertEmail;
    if (!ins) ins.emplace(conn_.Prepare(insertText(QStringLiteral("MasterList"), insertColumns(withRecord), 1)));
    bindRow(*ins, 0, email, others);
    ins->Exec();
    if (ins->NumRowsAffected() < 1) return 0;  // ignored by a rule of the database
    return ins->LastInsertId();
}

int AddressImport::bindRow(db::Statement& st, int k, const QString& email, const QStringList& others)
{
    st.BindText(k++, email);
    if (!others.isEmpty()) {
        for (qsizetype i = 0; i < RecordColumns().size(); ++i) st.BindText(k++, i < others.size() ? others.at(i) : QString());
        st.BindText(k++, SortNameOf(others.value(1), others.value(2), others.value(3), others.value(0)));
    }
    return k;
}

AddressImport::Result AddressImport::write(const QString& email, const QStringList& others)
{
    qint64 recId = 0;
    Result result = Existing;
    try {
        const std::optional<qint64> found = find(email);
        if (found) {
            recId = *found;
        } else {
            recId = insert(email, others);
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
    const std::vector<QueuedRow> rows = std::exchange(queued_->rows, {});
    queued_->rows.reserve(size_t(kChunk));

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
            for (int m = 0; m < kChunk; ++m) st_->recIds->BindText(m, i + size_t(m) < rows.size() ? rows[i + size_t(m)].email : QString());
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
                    if (const std::optional<qint64> id = find(rows[r].email)) known.insert(rows[r].key, *id);
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
        const std::vector<qint64> ids = insertRows(rows, run);
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
}

std::vector<qint64> AddressImport::insertRows(const std::vector<QueuedRow>& rows, const std::vector<size_t>& which)
{
    // The rows, kChunk by one statement; a chunk the database refuses goes row by row, so that
    // only the refused rows are lost, as with ImportAddress.
    std::vector<qint64> ids(which.size(), 0);
    for (size_t i = 0; i < which.size();) {
        const bool withRecord = !rows[which[i]].others.isEmpty();
        size_t j = i;
        while (j < which.size() && j - i < size_t(kChunk) && !rows[which[j]].others.isEmpty() == withRecord) ++j;
        bool done = false;
        if (j - i == size_t(kChunk)) {
            auto& many = withRecord ? st_->insertRecords : st_->insertEmails;
            try {
                if (!many) many.emplace(conn_.Prepare(insertText(QStringLiteral("MasterList"), insertColumns(withRecord), kChunk)));
                int k = 0;
                for (size_t r = i; r < j; ++r) k = bindRow(*many, k, rows[which[r]].email, rows[which[r]].others);
                many->Exec();
                // New AUTOINCREMENT rows of one statement take consecutive ids; checked by the
                // first row, else each is looked up.
                const qint64 first = many->LastInsertId() - kChunk + 1;
                if (many->NumRowsAffected() == kChunk && find(rows[which[i]].email) == first) {
                    for (size_t r = i; r < j; ++r) ids[r] = first + qint64(r - i);
                } else {
                    for (size_t r = i; r < j; ++r) ids[r] = find(rows[which[r]].email).value_or(0);
                }
                done = true;
            } catch (const db::DbError&) {
                // one by one below
            }
        }
        for (size_t r = i; r < j && !done; ++r) {
            try {
                ids[r] = insert(rows[which[r]].email, rows[which[r]].others);
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
                    st_->addMembers->Bind(k++, members[m].first);
                    st_->addMembers->Bind(k++, members[m].second);
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

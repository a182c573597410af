#include "profiles/AddressImport.h"

#include "core/ValueRules.h"
#include "platform/db/Connection.h"

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

QString insertText(bool withRecord)
{
    QStringList cols{QStringLiteral("Email")};
    // A new address with names gets its sort name, or it would show no name in the lists.
    if (withRecord) cols << AddressImport::RecordColumns() << QStringLiteral("SortName");
    QStringList marks;
    for (qsizetype i = 0; i < cols.size(); ++i) marks << QStringLiteral("?");
    // The new row's id comes back with the insert, with no second look-up.
    return QStringLiteral("INSERT INTO MasterList (%1) VALUES (%2) RETURNING RecID")
        .arg(cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
}

} // namespace

struct AddressImport::Statements {
    std::optional<db::Statement> insertEmail;
    std::optional<db::Statement> insertRecord;
    std::optional<db::Statement> recId;
    std::optional<db::Statement> member;
    std::optional<db::Statement> addMember;
    std::optional<db::Connection::Transaction> batch;
};

AddressImport::AddressImport(db::Connection& c, QList<qint64> folders, int batchSize)
    : conn_(c), folders_(std::move(folders)), batchSize_(qMax(1, batchSize)), st_(std::make_unique<Statements>())
{
    st_->recId.emplace(conn_.Prepare(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = ? LIMIT 1")));
    st_->member.emplace(conn_.Prepare(QStringLiteral(
        "INSERT INTO ListMembers (FolderRecID, MasterRecID) SELECT ?, ? WHERE NOT EXISTS "
        "(SELECT 1 FROM ListMembers WHERE FolderRecID = ? AND MasterRecID = ?)")));
    st_->addMember.emplace(conn_.Prepare(QStringLiteral("INSERT INTO ListMembers (FolderRecID, MasterRecID) VALUES (?, ?)")));
    st_->batch.emplace(conn_);
}

AddressImport::~AddressImport()
{
    try {
        if (st_->batch) st_->batch->Commit();
    } catch (const db::DbError&) {
        // Nothing more can be kept; the batch rolls back with the transaction.
    }
}

void AddressImport::Commit()
{
    inBatch_ = 0;
    st_->batch->Commit();
    st_->batch.reset();
    st_->batch.emplace(conn_);
}

bool AddressImport::LooksLikeAddress(const QString& address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || address.lastIndexOf(QLatin1Char('@')) >= address.size() - 1) return false;
    for (QChar c : address)
        if (c.isSpace() || c.category() == QChar::Other_Control) return false;
    return true;
}

AddressImport::Result AddressImport::ImportAddress(const QString& address, const QStringList& others)
{
    const QString email = address.trimmed();
    if (email.isEmpty()) return Skipped;
    if (!LooksLikeAddress(email)) {
        ++skipped_;
        return Skipped;
    }
    const Result result = write(email, others);
    if (++inBatch_ >= batchSize_) Commit();
    return result;
}

AddressImport::Result AddressImport::write(const QString& email, const QStringList& others)
{
    qint64 recId = 0;
    Result result = Existing;
    try {
        db::Statement& find = *st_->recId;
        find.Bind(0, email);
        find.Exec();
        const bool found = find.Next();
        if (found) recId = find.Value(0).toLongLong();
        while (find.Next()) {
        }
        if (!found) {
            const bool withRecord = !others.isEmpty();
            auto& ins = withRecord ? st_->insertRecord : st_->insertEmail;
            if (!ins) ins.emplace(conn_.Prepare(insertText(withRecord)));
            int k = 0;
            ins->Bind(k++, email);
            if (withRecord) {
                for (qsizetype i = 0; i < RecordColumns().size(); ++i) ins->Bind(k++, others.value(i));
                ins->Bind(k++, SortNameOf(others.value(1), others.value(2), others.value(3), others.value(0)));
            }
            ins->Exec();
            if (!ins->Next()) return Failed;
            recId = ins->Value(0).toLongLong();
            while (ins->Next()) {
            }
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

void AddressImport::JoinFolders(qint64 masterRecId)
{
    join(masterRecId, false);
    if (++inBatch_ >= batchSize_) Commit();
}

void AddressImport::join(qint64 recId, bool isNew)
{
    for (qint64 folder : std::as_const(folders_)) {
        try {
            // A new row's id was never used before (AUTOINCREMENT), so it has no memberships.
            if (isNew) {
                st_->addMember->Bind(0, folder).Bind(1, recId);
                st_->addMember->Exec();
            } else {
                st_->member->Bind(0, folder).Bind(1, recId).Bind(2, folder).Bind(3, recId);
                st_->member->Exec();
            }
        } catch (const db::DbError& e) {
            lastError_ = e.message();
            ++failed_;
        }
    }
}

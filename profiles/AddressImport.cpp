#include "profiles/AddressImport.h"

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
    if (withRecord) cols << AddressImport::RecordColumns();
    QStringList marks;
    for (qsizetype i = 0; i < cols.size(); ++i) marks << QStringLiteral("?");
    // One statement for the look-up and the insert: a row already there is left as it is.
    return QStringLiteral("INSERT INTO MasterList (%1) SELECT %2 WHERE NOT EXISTS "
                          "(SELECT 1 FROM MasterList WHERE Email = ?)")
        .arg(cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
}

} // namespace

struct AddressImport::Statements {
    std::optional<db::Statement> insertEmail;
    std::optional<db::Statement> insertRecord;
    std::optional<db::Statement> recId;
    std::optional<db::Statement> member;
    std::optional<db::Connection::Transaction> batch;
};

AddressImport::AddressImport(db::Connection& c, QList<qint64> folders, int batchSize)
    : conn_(c), folders_(std::move(folders)), batchSize_(qMax(1, batchSize)), st_(std::make_unique<Statements>())
{
    st_->recId.emplace(conn_.Prepare(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = ? LIMIT 1")));
    st_->member.emplace(conn_.Prepare(QStringLiteral(
        "INSERT INTO ListMembers (FolderRecID, MasterRecID) SELECT ?, ? WHERE NOT EXISTS "
        "(SELECT 1 FROM ListMembers WHERE FolderRecID = ? AND MasterRecID = ?)")));
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
    Result result = Existing;
    try {
        const bool withRecord = !others.isEmpty();
        auto& ins = withRecord ? st_->insertRecord : st_->insertEmail;
        if (!ins) ins.emplace(conn_.Prepare(insertText(withRecord)));
        int k = 0;
        ins->Bind(k++, email);
        if (withRecord)
            for (qsizetype i = 0; i < RecordColumns().size(); ++i) ins->Bind(k++, others.value(i));
        ins->Bind(k, email);
        ins->Exec();
        if (ins->NumRowsAffected() > 0) {
            result = Added;
            ++added_;
        }
    } catch (const db::DbError& e) {
        // A refused insert leaves the address without a row; the look-up below then finds none.
        lastError_ = e.message();
        ++failed_;
    }

    try {
        st_->recId->Bind(0, email);
        st_->recId->Exec();
        if (!st_->recId->Next()) return Failed;
        const qint64 recId = st_->recId->Value(0).toLongLong();
        while (st_->recId->Next()) {
        }
        for (qint64 folder : std::as_const(folders_)) {
            st_->member->Bind(0, folder).Bind(1, recId).Bind(2, folder).Bind(3, recId);
            st_->member->Exec();
        }
    } catch (const db::DbError& e) {
        lastError_ = e.message();
        ++failed_;
        return Failed;
    }
    return result;
}

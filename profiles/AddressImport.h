#pragma once
// The per-address step every import shares: the address joins the Master List when it is not
// there yet (an existing address is never changed) and each target list folder that does not
// hold it yet. Statements are prepared once and run with bound values; the work is committed in
// batches, so a long import is fast and what was imported before a failure stays.
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace db {
class Connection;
class Statement;
} // namespace db

class AddressImport {
public:
    enum Result { Added, Existing, Skipped, Failed };

    // The MasterList columns the fourteen further values of a fifteen-value record fill, in
    // record order after Email.
    static const QStringList& RecordColumns();

    // folders: the MailFolders RecIDs the addresses join. Throws db::DbError when the
    // statements cannot be prepared or the first batch cannot begin.
    AddressImport(db::Connection& c, QList<qint64> folders, int batchSize = 10000);
    // Commits the batch in progress.
    ~AddressImport();
    AddressImport(const AddressImport&) = delete;
    AddressImport& operator=(const AddressImport&) = delete;

    // address is trimmed; empty text is passed over (Skipped, not counted), text that does not
    // look like an e-mail address is counted in SkippedCount. others: the fourteen further values
    // of a fifteen-value record, stored only on a new row, with the sort name they give. A
    // refused statement is recorded in LastError and the import goes on. Throws db::DbError when
    // a finished batch cannot be committed.
    Result ImportAddress(const QString& address, const QStringList& others = {});

    // As ImportAddress, for a bulk load that needs only the counts: a new address may be written
    // later, with others in one statement, at the latest when its batch is committed; what the
    // database refuses then is counted in FailedCount.
    void QueueAddress(const QString& address, const QStringList& others = {});
    // As QueueAddress, with the address and the further values as UTF-8 text, the way a bulk
    // reader has them: a null view is a null value, and so is each record column others does
    // not reach. No others: the address alone.
    void QueueRecord(QByteArrayView address, std::span<const QByteArrayView> others);

    // The Master List row joins each target folder that does not hold it yet; a refused insert
    // is recorded as in ImportAddress. Throws db::DbError when a finished batch cannot be committed.
    void JoinFolders(qint64 masterRecId);

    // Writes what is queued, commits and starts a new batch. Throws db::DbError.
    void Commit();

    int SkippedCount() const { return skipped_; }
    int AddedCount() const { return added_; }
    int FailedCount() const { return failed_; }
    QString LastError() const { return lastError_; }

    // An address a send can use (mail::send::IsSendableAddress): what is stored can be sent.
    static bool LooksLikeAddress(const QString& address);

private:
    struct Queued;
    // utf8: the address's bytes, when the caller has them.
    bool queue(Queued& q, const QString& address, std::span<const QByteArrayView> others, QByteArrayView utf8 = {});
    void queued();
    Result write(const Queued& q, size_t row);
    std::optional<qint64> find(QByteArrayView email);
    qint64 insert(const Queued& q, size_t row);  // 0: ignored
    static void bindRow(db::Statement& st, int& k, const Queued& q, size_t row);
    void flush();
    std::vector<qint64> insertRows(const Queued& q, const std::vector<size_t>& which);
    void join(qint64 recId, bool isNew);
    void addMember(qint64 folder, qint64 recId);
    struct Statements;
    db::Connection& conn_;
    QList<qint64> folders_;
    int batchSize_;
    int inBatch_ = 0;
    int skipped_ = 0;
    int added_ = 0;
    int failed_ = 0;
    QString lastError_;
    std::unique_ptr<Statements> st_;
    std::unique_ptr<Queued> queued_;
    std::unique_ptr<Queued> one_;  // the row ImportAddress writes
};

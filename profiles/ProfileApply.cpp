#include "profiles/ProfileApply.h"

#include <optional>

#include "core/Conversions.h"
#include "core/DateFormats.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "core/MergeFields.h"
#include "core/ValueRules.h"
#include "core/WholeNumber.h"
#include "platform/db/Connection.h"
#include "platform/mail/send/Outgoing.h"

namespace {

// A combo field keeps at most this many characters of a preset's value.
constexpr int kComboLength = 45;

// Addresses named in a report of those left as they were.
constexpr size_t kNamedAddresses = 10;

const QString kNamesReturned = QStringLiteral(" RETURNING First, Last, Middle, Company, SortName");

QString text(const QVariant& v) { return NullToString(v).toString(); }

int comboType(int id)
{
    return id >= 0 && id < ComboFieldType.size() ? ComboFieldType.at(id).toInt() : 0;
}

bool same(const QString& a, const char* b) { return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0; }

// "$DATE", "$TIME" and "$DATETIME" stamped for combo field id: ISO text in a Date/Time field, so
// the list rules read it; the named formats in any other.
std::optional<QString> stamp(const QString& value, int id, const QDateTime& now)
{
    const bool iso = comboType(id) == 2;
    if (same(value, "$DATE")) return iso ? now.date().toString(QStringLiteral("yyyy-MM-dd")) : FormatShortDate(now.date());
    if (same(value, "$TIME")) return iso ? now.time().toString(QStringLiteral("HH:mm:ss")) : FormatLongTime(now.time());
    if (same(value, "$DATETIME"))
        return iso ? now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : FormatGeneralDate(now);
    return std::nullopt;
}

// Runs a statement that gives at most one row and reads it whole, so the statement is finished
// before the next one runs. False when there was no row.
bool oneRow(db::Statement& st, QVariantList* row, int columns)
{
    st.Exec();
    const bool found = st.Next();
    if (found && row) {
        row->clear();
        for (int i = 0; i < columns; ++i) row->append(st.Value(i));
    }
    while (st.Next()) {
    }
    return found;
}

QString placeholders(const QStringList& names, const QString& separator, const QString& each)
{
    QStringList parts;
    for (const QString& n : names) parts << QString(each).replace(QStringLiteral("%1"), n);
    return parts.join(separator);
}

} // namespace

void ColumnValues::Set(const QString& name, const QVariant& value)
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0) {
            values[i] = value;
            return;
        }
    }
    names << name;
    values << value;
}

bool ReadProfile(db::Connection& c, qint64 recId, Profile& out)
{
    db::Statement p = c.Prepare(QStringLiteral(
        "SELECT RecID, Description, TargetEmailFolderEntryID, TargetDravonelFolderID FROM Profiles WHERE RecID = ?"));
    p.Bind(0, recId);
    QVariantList row;
    if (!oneRow(p, &row, 4)) return false;
    out = Profile();
    out.RecID = NullToZero(row.at(0)).toLongLong();
    out.Description = text(row.at(1));
    out.TargetEmailFolderEntryID = text(row.at(2));
    out.TargetDravonelFolderID = qint64(Val(NullToZero(row.at(3))));

    db::Statement d = c.Prepare(
        QStringLiteral("SELECT FieldID, FieldType, FieldValue FROM ProfileDetails WHERE ProfileRecID = ? ORDER BY Sequence, RecID"));
    d.Bind(0, recId);
    d.Exec();
    while (d.Next()) {
        ProfilePreset preset;
        preset.FieldID = ToInteger(NullToZero(d.Value(0)));
        preset.FieldType = ToInteger(NullToZero(d.Value(1)));
        preset.FieldValue = text(d.Value(2));
        out.Presets << preset;
    }
    return true;
}

qint64 TargetListFolder(db::Connection& c, qint64 targetId, bool* missing)
{
    if (missing) *missing = false;
    if (targetId <= 0) return 0;
    db::Statement st = c.Prepare(QStringLiteral("SELECT FolderType FROM MailFolders WHERE RecID = ?"));
    st.Bind(0, targetId);
    QVariantList row;
    const bool found = oneRow(st, &row, 1);
    const int type = found ? ToInteger(NullToZero(row.at(0))) : -1;
    // The root lists the whole Master List: nobody is a member of it. A row still being allocated
    // by a folder copy is no folder yet.
    if (type == 0) return 0;
    if (type != 1) {
        if (missing) *missing = true;
        return 0;
    }
    return targetId;
}

void AddPresetValues(ColumnValues& out, const QList<ProfilePreset>& presets, const QDateTime& now,
                     const std::function<QString(const QString& tag)>& tagText)
{
    for (const ProfilePreset& p : presets) {
        if (!HasFieldColumn(p.FieldType, p.FieldID)) continue;
        QString value = p.FieldValue;
        if (IsTagToken(value)) {
            if (!tagText) continue;
            value = tagText(value);
        }
        const QString column = GetFieldColumnName(p.FieldType, p.FieldID);
        const bool check = p.FieldType == 2 || p.FieldType == 3 || (p.FieldType == 0 && p.FieldID == 1);
        if (check) {
            out.Set(column, same(value, "CHECKED") ? -1 : 0);
        } else if (p.FieldType == 1) {
            const std::optional<QString> stamped = stamp(value, p.FieldID, now);
            out.Set(column, (stamped ? *stamped : StoredComboFieldValue(p.FieldID, value)).left(kComboLength));
        } else {
            out.Set(column, value);
        }
    }
}

std::optional<QString> UnusableEmail(const ColumnValues& values)
{
    for (qsizetype i = 0; i < values.names.size(); ++i) {
        if (values.names.at(i).compare(QLatin1String("Email"), Qt::CaseInsensitive) != 0) continue;
        const QString email = values.values.at(i).toString();
        if (mail::send::IsSendableAddress(email)) return std::nullopt;
        return email;
    }
    return std::nullopt;
}

UnusableEmailError::UnusableEmailError(const QString& value)
    : std::runtime_error(QStringLiteral("\"%1\" is not an e-mail address.")
                             .arg(mail::send::ShowHiddenCharacters(value))
                             .toStdString()),
      value(value)
{
}

struct ProfileWriter::Statements {
    std::optional<db::Statement> batchUpdate;
    std::optional<db::Statement> batchNames;
    std::optional<db::Statement> batchMembers;
    std::optional<db::Statement> address;   // presets by RecID, giving the names back
    std::optional<db::Statement> sortName;
    std::optional<db::Statement> sortNameNew;
    std::optional<db::Statement> member;
    std::optional<db::Statement> find;
    std::optional<db::Statement> insert;
    std::optional<db::Statement> update;
    QStringList senderColumns;
};

ProfileWriter::ProfileWriter(db::Connection& c, const Profile& profile, qint64 targetFolder, const QDateTime& now)
    : conn_(c), profile_(profile), target_(targetFolder), now_(now), st_(std::make_unique<Statements>())
{
    AddPresetValues(fixed_, profile.Presets, now);
    st_->sortName.emplace(c.Prepare(QStringLiteral("UPDATE MasterList SET SortName = ? WHERE RecID = ?")));
    if (target_ > 0)
        st_->member.emplace(c.Prepare(QStringLiteral(
            "INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT ?, ? WHERE NOT EXISTS "
            "(SELECT 1 FROM ListMembers WHERE MasterRecID = ? AND FolderRecID = ?)")));
}

ProfileWriter::~ProfileWriter() = default;

void ProfileWriter::finish(qint64 recId, const QVariantList& names, bool newRow)
{
    const QString sortName = SortNameOf(text(names.at(0)), text(names.at(1)), text(names.at(2)), text(names.at(3)));
    const QVariant stored = names.at(4);
    if (newRow) {
        if (!st_->sortNameNew)
            st_->sortNameNew.emplace(conn_.Prepare(QStringLiteral("UPDATE MasterList SET SortName = ?, Status = 1 WHERE RecID = ?")));
        st_->sortNameNew->Bind(0, sortName).Bind(1, recId);
        st_->sortNameNew->Exec();
    } else if (db::IsNull(stored) || !stored.isValid() || stored.toString() != sortName) {
        st_->sortName->Bind(0, sortName).Bind(1, recId);
        st_->sortName->Exec();
    }
    if (st_->member) {
        st_->member->Bind(0, recId).Bind(1, target_).Bind(2, recId).Bind(3, target_);
        st_->member->Exec();
    }
}

std::optional<QString> ProfileWriter::UnusableEmail() const { return ::UnusableEmail(fixed_); }

bool ProfileWriter::ApplyToAddress(qint64 recId)
{
    if (const std::optional<QString> bad = UnusableEmail()) throw UnusableEmailError(*bad);
    if (!st_->address) {
        // Nothing to set: the names are only read back for the sort name.
        st_->address.emplace(conn_.Prepare(
            fixed_.names.isEmpty()
                ? QStringLiteral("SELECT First, Last, Middle, Company, SortName FROM MasterList WHERE RecID = ?")
                : QStringLiteral("UPDATE MasterList SET ") + placeholders(fixed_.names, QStringLiteral(", "), QStringLiteral("%1 = ?"))
                      + QStringLiteral(" WHERE RecID = ?") + kNamesReturned));
    }
    db::Statement& st = *st_->address;
    int k = 0;
    for (const QVariant& v : std::as_const(fixed_.values)) st.Bind(k++, v);
    st.Bind(k, recId);
    QVariantList names;
    if (!oneRow(st, &names, 5)) return false;
    finish(recId, names, false);
    return true;
}

qint64 ProfileWriter::ApplyToSender(const QString& address, const std::function<QString(const QString& tag)>& tagText)
{
    ColumnValues cols;
    cols.Set(QStringLiteral("Email"), address);
    AddPresetValues(cols, profile_.Presets, now_, tagText ? tagText : [](const QString&) { return QString(); });
    if (const std::optional<QString> bad = ::UnusableEmail(cols)) throw UnusableEmailError(*bad);
    if (!st_->find) {
        st_->senderColumns = cols.names;
        st_->find.emplace(conn_.Prepare(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = ? LIMIT 1")));
        st_->insert.emplace(conn_.Prepare(QStringLiteral("INSERT INTO MasterList (Status, ") + cols.names.join(QStringLiteral(", "))
                                          + QStringLiteral(") VALUES (0, ") + placeholders(cols.names, QStringLiteral(", "), QStringLiteral("?"))
                                          + QStringLiteral(") RETURNING RecID, First, Last, Middle, Company, SortName")));
        st_->update.emplace(conn_.Prepare(QStringLiteral("UPDATE MasterList SET Status = 1, ")
                                          + placeholders(cols.names, QStringLiteral(", "), QStringLiteral("%1 = ?"))
                                          + QStringLiteral(" WHERE RecID = ?") + kNamesReturned));
    }
    // Every preset gives its column for every message, so the prepared columns always fit.
    Q_ASSERT(cols.names == st_->senderColumns);

    QVariantList row;
    st_->find->Bind(0, address);
    const bool known = oneRow(*st_->find, &row, 1);
    qint64 recId = known ? NullToZero(row.at(0)).toLongLong() : 0;
    db::Statement& st = known ? *st_->update : *st_->insert;
    int k = 0;
    for (const QVariant& v : std::as_const(cols.values)) st.Bind(k++, v);
    if (known) st.Bind(k, recId);
    QVariantList names;
    if (!oneRow(st, &names, known ? 5 : 6))
        throw db::DbError(db::errUnspecified, QStringLiteral("The address's row could not be written: ") + address);
    if (!known) recId = NullToZero(names.takeFirst()).toLongLong();
    finish(recId, names, !known);
    return recId;
}

int ProfileWriter::ApplyToAddresses(const std::vector<qint64>& recIds, size_t from, size_t to)
{
    if (const std::optional<QString> bad = UnusableEmail()) throw UnusableEmailError(*bad);
    // The ids as a JSON array, so one bound value carries the whole set.
    QString ids = QStringLiteral("[");
    for (size_t i = from; i < to; ++i) {
        if (i > from) ids += QLatin1Char(',');
        ids += QString::number(recIds[i]);
    }
    ids += QLatin1Char(']');
    const QString inSet = QStringLiteral("RecID IN (SELECT value FROM json_each(?))");

    if (!fixed_.names.isEmpty()) {
        if (!st_->batchUpdate)
            st_->batchUpdate.emplace(conn_.Prepare(QStringLiteral("UPDATE MasterList SET ")
                                                   + placeholders(fixed_.names, QStringLiteral(", "), QStringLiteral("%1 = ?"))
                                                   + QStringLiteral(" WHERE ") + inSet));
        int k = 0;
        for (const QVariant& v : std::as_const(fixed_.values)) st_->batchUpdate->Bind(k++, v);
        st_->batchUpdate->Bind(k, ids);
        st_->batchUpdate->Exec();
    }

    if (!st_->batchNames)
        st_->batchNames.emplace(conn_.Prepare(
            QStringLiteral("SELECT RecID, First, Last, Middle, Company, SortName FROM MasterList WHERE ") + inSet));
    struct Changed {
        qint64 recId;
        QString sortName;
    };
    std::vector<Changed> changed;
    int found = 0;
    db::Statement& names = *st_->batchNames;
    names.Bind(0, ids);
    names.Exec();
    while (names.Next()) {
        ++found;
        const QString sortName =
            SortNameOf(text(names.Value(1)), text(names.Value(2)), text(names.Value(3)), text(names.Value(4)));
        const QVariant stored = names.Value(5);
        if (stored.isNull() || stored.toString() != sortName) changed.push_back({names.Value(0).toLongLong(), sortName});
    }
    for (const Changed& c : changed) {
        st_->sortName->Bind(0, c.sortName).Bind(1, c.recId);
        st_->sortName->Exec();
    }

    if (target_ > 0) {
        if (!st_->batchMembers)
            st_->batchMembers.emplace(conn_.Prepare(
                QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT RecID, ? FROM MasterList WHERE ") + inSet
                + QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM ListMembers WHERE MasterRecID = MasterList.RecID AND FolderRecID = ?)")));
        st_->batchMembers->Bind(0, target_).Bind(1, ids).Bind(2, target_);
        st_->batchMembers->Exec();
    }
    return found;
}

ApplyCount ApplyProfileToAddresses(db::Connection& c, const Profile& profile, qint64 targetFolder,
                                   const std::vector<qint64>& recIds, const std::function<void(int done)>& progress,
                                   int batchSize)
{
    ApplyCount count;
    ProfileWriter writer(c, profile, targetFolder, QDateTime::currentDateTime());
    if (const std::optional<QString> bad = writer.UnusableEmail()) {
        count.unusable = int(recIds.size());
        count.unusableEmail = *bad;
        db::Statement email = c.Prepare(QStringLiteral("SELECT Email FROM MasterList WHERE RecID = ?"));
        for (size_t i = 0; i < recIds.size() && size_t(count.unusableNames.size()) < kNamedAddresses; ++i) {
            email.Bind(0, recIds[i]);
            QVariantList row;
            if (oneRow(email, &row, 1)) count.unusableNames << text(row.at(0));
        }
        if (progress) progress(int(recIds.size()));
        return count;
    }
    const size_t step = size_t(qMax(1, batchSize));
    for (size_t from = 0; from < recIds.size(); from += step) {
        const size_t to = qMin(recIds.size(), from + step);
        int applied = 0;
        int failed = 0;
        db::Connection::Transaction batch(c);
        bool whole = false;
        {
            db::Connection::Transaction attempt(c);
            try {
                applied = writer.ApplyToAddresses(recIds, from, to);
                attempt.Commit();
                whole = true;
            } catch (const db::DbError&) {
                // Undone as a whole; written again address by address below.
            }
        }
        if (!whole) {
            applied = 0;
            for (size_t i = from; i < to; ++i) {
                try {
                    if (writer.ApplyToAddress(recIds[i])) ++applied;
                } catch (const db::DbError& e) {
                    ++failed;
                    count.lastError = e.message();
                }
            }
        }
        try {
            batch.Commit();
        } catch (const db::DbError& e) {
            // The batch is rolled back: none of its addresses kept their values.
            failed += applied;
            applied = 0;
            count.lastError = e.message();
        }
        count.applied += applied;
        count.failed += failed;
        if (progress) progress(int(to));
    }
    return count;
}

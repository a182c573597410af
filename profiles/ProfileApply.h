#pragma once
// Applying an action profile: a profile read with its presets, the MasterList values its presets
// give, and the writes for one address (by RecID) or one message sender (by e-mail address) over
// statements prepared once per application.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace db {
class Connection;
}

struct ProfilePreset {
    int FieldID = 0;
    int FieldType = 0;
    QString FieldValue;
};

struct Profile {
    qint64 RecID = 0;
    QString Description;
    QString TargetEmailFolderEntryID;
    qint64 TargetDravonelFolderID = 0;
    // In Sequence order, so a later preset for the same column is the later row of the editor.
    QList<ProfilePreset> Presets;
};

// Reads the profile and its presets; false when there is no such profile. Throws db::DbError.
bool ReadProfile(db::Connection& c, qint64 recId, Profile& out);

// The list folder that receives the addresses: 0 for none (no target, or the Master List root).
// A target whose folder no longer exists also gives 0 and sets *missing. Throws db::DbError.
qint64 TargetListFolder(db::Connection& c, qint64 targetId, bool* missing);

// Columns and values in the order each column was first set; setting a column again replaces its
// value in place.
struct ColumnValues {
    QStringList names;
    QVariantList values;
    void Set(const QString& name, const QVariant& value);
};

// What the presets write into a MasterList row. A tag is skipped when tagText is empty, else it
// is replaced by tagText(tag) and then read like a literal. Check fields and Disabled take -1 for
// "CHECKED" (any case) and 0 otherwise; "$DATE", "$TIME" and "$DATETIME" in a combo field are
// stamped from now (ISO text in a Date/Time field, the named formats in others); other combo
// values go through the combo storing rule; combo values keep their first 45 characters.
// A preset naming no column is skipped.
void AddPresetValues(ColumnValues& out, const QList<ProfilePreset>& presets, const QDateTime& now,
                     const std::function<QString(const QString& tag)>& tagText = {});

// The text values would store as a row's address when that is not an e-mail address
// (mail::send::IsSendableAddress); nothing when they set no Email or a usable one. The address is
// the row's key: a row given an empty or unusable one would be lost.
std::optional<QString> UnusableEmail(const ColumnValues& values);

// Thrown, with nothing written, when the presets would give a row an unusable address (value).
class UnusableEmailError : public std::runtime_error {
public:
    explicit UnusableEmailError(const QString& value);
    QString value;
};

// The writes of one application. Every call throws db::DbError when the database refuses one of
// its statements; the caller's transaction decides what stays.
class ProfileWriter {
public:
    // targetFolder: the list folder RecID from TargetListFolder (0 for none). now stamps $DATE,
    // $TIME and $DATETIME for the whole application. Throws db::DbError.
    ProfileWriter(db::Connection& c, const Profile& profile, qint64 targetFolder, const QDateTime& now);
    ~ProfileWriter();
    ProfileWriter(const ProfileWriter&) = delete;
    ProfileWriter& operator=(const ProfileWriter&) = delete;

    // What the presets (tags skipped) would store as every address, when that is not an e-mail
    // address: ApplyToAddress and ApplyToAddresses then throw UnusableEmailError.
    std::optional<QString> UnusableEmail() const;

    // The presets (tags skipped), the sort name, the membership. An address whose row is gone is
    // passed over (false).
    bool ApplyToAddress(qint64 recId);
    // The same for recIds[from, to) in a few set statements; returns how many rows were found.
    // A refusal throws and leaves the caller to undo and retry address by address.
    int ApplyToAddresses(const std::vector<qint64>& recIds, size_t from, size_t to);

    // A message's correspondent: the row found by address is updated with Status 1, the address
    // as given and the presets, or a row is inserted; then the sort name (and Status 1) and the
    // membership. tagText gives a tag's text from the message. Returns the row's RecID. Throws
    // UnusableEmailError, writing nothing, when the presets would store an unusable address.
    qint64 ApplyToSender(const QString& address, const std::function<QString(const QString& tag)>& tagText);

private:
    struct Statements;
    void finish(qint64 recId, const QVariantList& names, bool newRow);
    db::Connection& conn_;
    const Profile& profile_;
    qint64 target_;
    QDateTime now_;
    ColumnValues fixed_;  // the address variant's values: the same for every address
    std::unique_ptr<Statements> st_;
};

struct ApplyCount {
    int applied = 0;
    int failed = 0;
    QString lastError;
    // Addresses left as they were because the presets would store unusableEmail as their
    // address; the first few of them by address.
    int unusable = 0;
    QString unusableEmail;
    QStringList unusableNames;
};

// Applies the profile to each address, committing every batchSize addresses. A batch is written
// set by set; when the database refuses any of that, the batch is written again address by
// address, so an address whose statements are refused is counted and the others go on. A batch
// whose commit is refused counts all its addresses. progress(done) is called after each batch.
// Presets that would store an unusable address leave every address as it was (unusable).
// Throws db::DbError when the statements cannot be prepared or a batch cannot begin.
ApplyCount ApplyProfileToAddresses(db::Connection& c, const Profile& profile, qint64 targetFolder,
                                   const std::vector<qint64>& recIds, const std::function<void(int done)>& progress = {},
                                   int batchSize = 2000);

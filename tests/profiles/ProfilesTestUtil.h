#pragma once
// Profiles written straight into the database, and the rows the profile tests read back.
#include <QList>

#include "core/TreeKeys.h"
#include "platform/db/Connection.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

namespace profiletest {

using namespace gridtest;

struct Preset {
    int type;
    int id;
    QString value;
    int sequence = 0;  // 0: the preset's place in the list
};

// A profile row with its presets, stored in the order given; returns its RecID.
inline qint64 addProfile(const QString& name, const QList<Preset>& presets, qint64 targetList = 0,
                         const QString& targetMail = QString())
{
    db::Connection& c = DBConnection();
    db::Statement p = c.Prepare("INSERT INTO Profiles (Description, Status, TargetEmailFolderEntryID, TargetDravonelFolderID) "
                                "VALUES (?, 1, ?, ?) RETURNING RecID");
    p.Bind(0, name).Bind(1, targetMail).Bind(2, targetList);
    p.Exec();
    p.Next();
    const qint64 id = p.Value(0).toLongLong();
    while (p.Next()) {
    }
    int n = 0;
    for (const Preset& d : presets) {
        ++n;
        db::Statement st = c.Prepare("INSERT INTO ProfileDetails (ProfileRecID, Sequence, FieldType, FieldID, FieldValue) "
                                     "VALUES (?, ?, ?, ?, ?)");
        st.Bind(0, id).Bind(1, d.sequence ? d.sequence : n).Bind(2, d.type).Bind(3, d.id).Bind(4, d.value);
        st.Exec();
    }
    return id;
}

inline QVariant value(const QString& query)
{
    db::Statement st = DBConnection().Prepare(query);
    st.Exec();
    return st.Next() ? st.Value(0) : QVariant();
}

// One column of the MasterList row with that address.
inline QVariant field(const QString& email, const QString& column)
{
    return value(QStringLiteral("SELECT %1 FROM MasterList WHERE Email = '%2'").arg(column, email));
}

inline qint64 addAddress(const QString& email, const QString& first = QString(), const QString& last = QString(),
                         const QString& company = QString())
{
    db::Statement st = DBConnection().Prepare(
        "INSERT INTO MasterList (Email, First, Last, Company, SortName) VALUES (?, ?, ?, ?, '') RETURNING RecID");
    st.Bind(0, email).Bind(1, first).Bind(2, last).Bind(3, company);
    st.Exec();
    st.Next();
    const qint64 id = st.Value(0).toLongLong();
    while (st.Next()) {
    }
    return id;
}

inline QStringList prompts()
{
    QStringList out;
    for (const auto& b : scripted().boxes) out << b.prompt;
    return out;
}

} // namespace profiletest

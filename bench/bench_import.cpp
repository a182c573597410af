// Importing a 100,000-address fifteen-value comma-delimited file into the Master List and two list
// folders, through the import dialog, against the sqlite3 tool's .import of the same file into a
// plain table. Then the same file again, which adds nothing, against the first import.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "platform/db/Connection.h"
#include "platform/ui/ScriptedUi.h"
#include "profiles/DelimitedReader.h"
#include "profiles/Form19.h"

namespace {

constexpr int kAddresses = 100000;

void report(const char* what, double figure, const char* referenceName, double reference)
{
    std::printf("%-40s %10.1f ms   %-32s %10.1f ms   ratio %6.2f\n", what, figure, referenceName, reference,
                reference > 0 ? figure / reference : 0.0);
}

qint64 scalar(const QString& sql)
{
    db::Statement st = DBConnection().Prepare(sql);
    st.Exec();
    return st.Next() ? st.Value(0).toLongLong() : -1;
}

void writeCsv(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return;
    QByteArray out;
    for (int i = 1; i <= kAddresses; ++i) {
        const QByteArray n = QByteArray::number(i);
        out += "\"user" + n + "@example.com\",\"Company " + n + ", Inc\",First" + n + ",Last" + n + ",M,\"" + n +
               " Main Street\",Suite " + n + ",Boston,MA,USA,02110,555-0100,555-0101,555-0102,555-0103\r\n";
    }
    f.write(out);
}

double importOnce(ui::ScriptedUi& scripted, const QString& csv)
{
    Form19 d;
    d.SetMode(Form19::ModeFile);
    d.Check1->setChecked(true);
    for (int i = 0; i < d.List1->count(); ++i) d.List1->item(i)->setSelected(true);
    scripted.clear();
    scripted.fileAnswers.enqueue(csv);
    QElapsedTimer t;
    t.start();
    d.Command1_Click();
    const double elapsed = ms(t);
    std::printf("  closing message: %s\n", qPrintable(scripted.lastPrompt().replace(QLatin1Char('\n'), QLatin1String(" / "))));
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);

    const QString csv = home.filePath(QStringLiteral("addresses.csv"));
    writeCsv(csv);
    std::printf("%d addresses, %.1f MB\n", kAddresses, double(QFileInfo(csv).size()) / 1e6);

    // The reference: the sqlite3 tool loading the same file into a plain table.
    QProcess sqlite;
    QElapsedTimer t;
    t.start();
    sqlite.start(QStringLiteral("sqlite3"), {home.filePath(QStringLiteral("plain.db"))});
    sqlite.waitForStarted();
    sqlite.write(QStringLiteral("CREATE TABLE plain (c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15);\n"
                                ".import --csv %1 plain\n")
                     .arg(csv)
                     .toUtf8());
    sqlite.closeWriteChannel();
    if (!sqlite.waitForFinished(-1) || sqlite.exitCode() != 0) {
        std::printf("sqlite3 failed: %s\n", sqlite.readAllStandardError().constData());
        return 1;
    }
    const double reference = ms(t);

    OpenDatabase(DBConnection(), DatabasePath());
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Master List', 0, 0)"));
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('One', 1, 1)"));
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Two', 1, 1)"));

    // For the record: the share of the import that is reading the file.
    t.restart();
    DelimitedReader reader;
    reader.Open(csv);
    QStringList values;
    int records = 0;
    while (!reader.AtEnd() && reader.ReadLine(values)) ++records;
    std::printf("  reading the file alone: %.1f ms, %d records\n", ms(t), records);

    const double first = importOnce(scripted, csv);
    const qint64 rows = scalar(QStringLiteral("SELECT COUNT(*) FROM MasterList"));
    const qint64 members = scalar(QStringLiteral("SELECT COUNT(*) FROM ListMembers"));
    const double second = importOnce(scripted, csv);
    const bool same = rows == scalar(QStringLiteral("SELECT COUNT(*) FROM MasterList")) &&
                      members == scalar(QStringLiteral("SELECT COUNT(*) FROM ListMembers"));
    std::printf("  Master List rows %lld, memberships %lld; second import added nothing: %s\n", rows, members,
                same ? "yes" : "NO");

    report("import, Master List + 2 folders", first, "sqlite3 .import, plain table", reference);
    report("second import of the same file", second, "first import", first);
    DBConnection().Close();
    ui::setServices(nullptr);
    return same && rows == kAddresses && members == 2 * kAddresses ? 0 : 1;
}

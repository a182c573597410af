// Importing a 100,000-address fifteen-value comma-delimited file into the Master List and two list
// folders, through the import dialog, against the sqlite3 tool's .import of the same file into a
// plain table. Then the same file again, which adds nothing, against the first import.
//
// Rounds alternate the tool and the import, each on a fresh database file; the figures are the
// best of the rounds, and the first round's alone is printed too (a single run swings with the
// machine's load, the tool's start-up included).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <algorithm>
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
constexpr int kRounds = 3;

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

// An empty database with the Master List and two list folders.
void freshDatabase()
{
    DBConnection().Close();
    for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(DatabasePath() + QLatin1String(suffix));
    OpenDatabase(DBConnection(), DatabasePath());
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Master List', 0, 0)"));
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('One', 1, 1)"));
    DBConnection().Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Two', 1, 1)"));
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

    // For the record: the share of the import that is reading the file.
    QElapsedTimer t;
    t.start();
    DelimitedReader reader;
    reader.Open(csv);
    std::vector<QByteArrayView> values;
    int records = 0;
    while (!reader.AtEnd() && reader.ReadLineUtf8(values)) ++records;
    std::printf("  reading the file alone: %.1f ms, %d records\n", ms(t), records);

    double reference = 1e18, first = 1e18, second = 1e18;
    double firstReference = 0, firstImport = 0;
    bool same = true;
    qint64 rows = 0, members = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The reference: the sqlite3 tool loading the same file into a plain table.
        const QString plain = home.filePath(QStringLiteral("plain.db"));
        QFile::remove(plain);
        const double tool = RunTool(QStringLiteral("sqlite3"), {plain},
                                    QStringLiteral("CREATE TABLE plain (c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15);\n"
                                                   ".import --csv %1 plain\n")
                                        .arg(csv)
                                        .toUtf8());
        if (tool < 0) return 1;

        freshDatabase();
        const double once = importOnce(scripted, csv);
        rows = scalar(QStringLiteral("SELECT COUNT(*) FROM MasterList"));
        members = scalar(QStringLiteral("SELECT COUNT(*) FROM ListMembers"));
        const double again = importOnce(scripted, csv);
        same = same && rows == scalar(QStringLiteral("SELECT COUNT(*) FROM MasterList")) &&
               members == scalar(QStringLiteral("SELECT COUNT(*) FROM ListMembers"));
        std::printf("  round %d: sqlite3 %.1f ms, import %.1f ms (ratio %.2f), second import %.1f ms\n", round + 1, tool, once,
                    once / tool, again);
        if (round == 0) {
            firstReference = tool;
            firstImport = once;
        }
        reference = std::min(reference, tool);
        first = std::min(first, once);
        second = std::min(second, again);
    }
    std::printf("  Master List rows %lld, memberships %lld; second import added nothing: %s\n", rows, members,
                same ? "yes" : "NO");

    report("import, first round alone", firstImport, "sqlite3 .import, first round", firstReference);
    report("import, Master List + 2 folders (best)", first, "sqlite3 .import, plain table", reference);
    report("second import of the same file (best)", second, "first import", first);
    DBConnection().Close();
    ui::setServices(nullptr);
    return same && rows == kAddresses && members == 2 * kAddresses ? 0 : 1;
}

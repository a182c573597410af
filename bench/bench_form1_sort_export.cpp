// The main window's header-click sorts (10,000 message rows, 100,000 address rows) and the export
// of 100,000 addresses, each against a bare reference on the same data in the same run:
// std::stable_sort of the key strings alone, and the same lines written by one QFile::write.
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/Globals.h"
#include "core/Main.h"
#include "core/SQLStatement.h"
#include "platform/db/Recordset.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/ui/ScriptedUi.h"

namespace {
double ms(QElapsedTimer& t)
{
    const double v = t.nsecsElapsed() / 1e6;
    t.restart();
    return v;
}

double sortKeys(std::vector<QString> keys)
{
    QElapsedTimer t;
    t.start();
    std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return ms(t);
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);
    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();

    const int nMsg = 10000;
    auto xa = std::make_shared<ui::XArrayDB>();
    xa->ReDim(1, nMsg, 0, 14);
    std::vector<QString> subjects;
    const QDateTime base(QDate(2023, 1, 1), QTime(8, 0), Qt::UTC);
    for (int r = 1; r <= nMsg; ++r) {
        const int k = (r * 7919) % nMsg;
        (*xa)(r, 4) = QStringLiteral("sender%1@example.org").arg(k % 997);
        (*xa)(r, 5) = QStringLiteral("Subject %1").arg(k, 5, 10, QLatin1Char('0'));
        (*xa)(r, 6) = base.addSecs(qint64(k) * 3600);
        (*xa)(r, 8) = QStringLiteral("00");
        subjects.push_back((*xa)(r, 5).toString());
    }
    f->xa = xa;
    f->TDBGrid1->SetArray(xa);
    f->TDBGrid1->ReBind();

    const int nAddr = 100000;
    auto ex = std::make_shared<ui::XArrayDB>();
    ex->ReDim(1, nAddr, 0, 7);
    std::vector<QString> emails;
    for (int r = 1; r <= nAddr; ++r) {
        const int k = (r * 7919) % nAddr;
        (*ex)(r, 0) = QStringLiteral("0");
        (*ex)(r, 1) = QStringLiteral("name%1@example.org").arg(k, 6, 10, QLatin1Char('0'));
        (*ex)(r, 2) = QStringLiteral("Name %1").arg(nAddr - k);
        (*ex)(r, 3) = QStringLiteral("City ST 12345");
        (*ex)(r, 4) = r;
        emails.push_back((*ex)(r, 1).toString());
    }
    f->ex = ex;
    f->TDBGrid2->SetArray(ex);
    f->TDBGrid2->ReBind();

    QElapsedTimer t;
    t.start();
    f->TDBGrid1_HeadClick(5);
    const double msgSubject = ms(t);
    f->TDBGrid1_HeadClick(6);
    const double msgDate = ms(t);
    f->TDBGrid2_HeadClick(1);
    const double addr = ms(t);
    f->TDBGrid2_HeadClick(2);
    const double addrName = ms(t);
    const double refMsg = sortKeys(subjects);
    const double refAddr = sortKeys(emails);
    std::printf("message sort, %d rows: subject %.1f ms, received %.1f ms (budget 100 ms); reference %.1f ms, ratio %.1f\n", nMsg,
                msgSubject, msgDate, refMsg, msgSubject / refMsg);
    std::printf("address sort, %d rows: address %.1f ms, name %.1f ms (budget 500 ms); reference %.1f ms, ratio %.1f\n", nAddr,
                addr, addrName, refAddr, addr / refAddr);

    for (int r = 1; r <= nAddr; ++r) f->TDBGrid2->SelBookmarks().Add(r);
    const QString out = home.path() + QStringLiteral("/export.csv");
    t.restart();
    f->ExportAddressesBulkPopup(out);
    const double exportSel = ms(t);

    {
        db::Connection::Transaction tx(DBConnection());
        for (const QString& e : emails) DBConnection().Execute(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(e));
        tx.Commit();
    }
    f->LoadFolders();
    f->TreeView1->Nodes(f->TreeView1->Nodes().Count())->SetSelected(true);
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
        if (f->TreeView1->Nodes(i)->Text() == QLatin1String("Master List")) f->TreeView1->Nodes(i)->SetSelected(true);
    t.restart();
    f->ExportAddressesBulkFolderPopup(out);
    const double exportFolder = ms(t);
    {
        SQLStatement sql;
        sql.SetConnection(&DBConnection());
        sql.SetSql(QStringLiteral("SELECT * FROM MasterList ORDER By Email;"));
        db::Recordset rs;
        t.restart();
        sql.GetRecordsetRO(rs);
    }
    const double readOnly = ms(t);

    t.restart();
    QByteArray text;
    for (const QString& e : emails) text += '"' + e.toUtf8() + "\"\r\n";
    QFile ref(home.path() + QStringLiteral("/ref.csv"));
    if (ref.open(QIODevice::WriteOnly)) ref.write(text);
    ref.close();
    const double refExport = ms(t);
    std::printf("export %d addresses: selected %.1f ms, whole Master List %.1f ms (budget 1000 ms); reference %.1f ms, ratio %.1f\n",
                nAddr, exportSel, exportFolder, refExport, exportSel / refExport);
    std::printf("  of which reading the Master List's rows: %.1f ms\n", readOnly);

    f->close();
    delete f;
    ReleaseInstanceLock();
    ui::setServices(nullptr);
    return 0;
}

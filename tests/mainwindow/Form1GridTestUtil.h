#pragma once
// Mail folders and grids for the main window's grid tests: messages written straight into the
// store's Maildirs, rows found by their on-screen position, the selection read back as numbers.
#include <QFile>
#include <QTextEdit>

#include "core/Conversions.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "tests/mainwindow/Form1TestUtil.h"

namespace gridtest {

using namespace form1test;

inline void maildir(const QString& path)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(path + "/" + sub);
}

// One message file; n orders the files and the received times (minutes apart on one day unless
// date is given). from is the whole From header value; empty leaves the header out.
inline void writeMessage(const QString& folder, int n, const QString& from, const QString& subject,
                         const QString& date = QString(), const QByteArray& extraHeadersAndBody = QByteArray(),
                         const char* sub = "cur")
{
    maildir(folder);
    const QString d = date.isEmpty() ? QStringLiteral("Tue, 14 Nov 2023 10:%1:00 +0000").arg(n, 2, 10, QLatin1Char('0')) : date;
    QByteArray text;
    if (!from.isEmpty()) text += "From: " + from.toUtf8() + "\r\n";
    text += "To: me@example.net\r\nSubject: " + subject.toUtf8() + "\r\nDate: " + d.toUtf8() + "\r\nMessage-ID: <m" +
            QByteArray::number(n) + "@example.org>\r\nMIME-Version: 1.0\r\n";
    text += extraHeadersAndBody.isEmpty() ? QByteArray("Content-Type: text/plain; charset=utf-8\r\n\r\nBody\r\n")
                                          : extraHeadersAndBody;
    const QString name = QStringLiteral("%1/%2/17000%3.M%3P1.test%4").arg(folder, QString::fromLatin1(sub)).arg(n, 5, 10, QLatin1Char('0'))
                             .arg(QString::fromLatin1(qstrcmp(sub, "cur") == 0 ? ":2,S" : ""));
    QFile f(name);
    if (f.open(QIODevice::WriteOnly)) f.write(text);
}

// Inbox messages 1..count, "Message n" from sn@example.org, in that order.
inline void seedInbox(const QString& home, int count)
{
    for (int n = 1; n <= count; ++n)
        writeMessage(home + "/Mail/Inbox", n, QStringLiteral("S%1 <s%1@example.org>").arg(n), QStringLiteral("Message %1").arg(n));
}

inline QString keyOf(Form1* f, const QString& text)
{
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
        if (f->TreeView1->Nodes(i)->Text() == text) return f->TreeView1->Nodes(i)->Key();
    return QString();
}

// A list folder under the Master List (row 1); the tree is rebuilt. Returns its key.
inline QString addListFolder(Form1* f, const QString& name)
{
    sql(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('%1', 1, 1, 0)").arg(name));
    f->LoadFolders();
    return keyOf(f, name);
}

// Big enough that every test row is on screen.
inline void roomy(Form1* f)
{
    f->resize(1000, 1600);
    f->Form_Resize();
}

// The grid's Y (twips) of a row, and a point in the grid's viewport for QTest.
inline QPoint rowPoint(ui::DataGrid* g, int row)
{
    const int modelRow = row - g->Array()->LowerBound(1);
    return QPoint(20, g->rowViewportPosition(modelRow) + g->rowHeight(modelRow) / 2);
}
inline double rowY(ui::DataGrid* g, int row) { return (g->viewport()->geometry().top() + rowPoint(g, row).y()) * 15.0; }

inline QList<int> selection(ui::DataGrid* g)
{
    QList<int> out;
    for (int i = 0; i < g->SelBookmarks().Count(); ++i) out << g->SelBookmarks().Item(i).toInt();
    return out;
}

// Selects exactly these rows, in this order.
inline void selectRows(ui::DataGrid* g, const QList<int>& rows)
{
    g->SelBookmarks().Clear();
    for (int r : rows) g->SelBookmarks().Add(r);
}

// The message row the preview shows (by its subject), 0 when it shows none.
inline int previewedRow(Form1* f)
{
    const QString s = f->lblMessageHeaderSubject->text();
    if (s.isEmpty()) return 0;
    for (int r = 1; r <= f->xa->UpperBound(1); ++r)
        if (f->xa->Value(r, 5).toString() == s) return r;
    return -1;
}

inline int count(const QString& query)
{
    db::Recordset rs;
    rs.Open(query, DBConnection());
    return rs.Eof() ? 0 : rs.Fields(0).toInt();
}

} // namespace gridtest

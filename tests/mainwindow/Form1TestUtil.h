#pragma once
// Starting and ending the real program around a test: seed a fresh data folder, run start-up,
// hand back the main window; end it as the user would by closing the window.
#include <QDir>
#include <QFile>
#include <QTest>
#include <functional>

#include "core/Globals.h"
#include "core/Main.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/ScriptedUi.h"
#include "tests/support/TestMain.h"

namespace form1test {

inline ui::ScriptedUi& scripted() { return static_cast<ui::ScriptedUi&>(ui::services()); }

inline void copyDir(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString dest = to + QLatin1Char('/') + fi.fileName();
        if (fi.isDir())
            copyDir(fi.filePath(), dest);
        else
            QFile::copy(fi.filePath(), dest);
    }
}

inline QString fixture(const QString& rel) { return QStringLiteral(FERROWYN_FIXTURES "/") + rel; }

// Closes the window (unloading it) and lets go of the data folder.
inline void end()
{
    if (Form1* f = Form1::Instance()) {
        f->close();
        delete Form1::Instance();
    }
    ReleaseInstanceLock();
    OLAPPObject.reset();
    OutlookApp.reset();
    MAPINameSpace.reset();
    CurrentFolderNode.clear();
    SentItemsNode.clear();
    OutboxNode.clear();
    DraftsNode.clear();
    MailAccountCount = 0;
    MailAccounts = QVariantList(101);
    DBConnection().Close();
}

// A fresh data folder, seeded before start-up runs; returns the window or nullptr.
inline Form1* start(const std::function<void(const QString& home)>& seed = {})
{
    end();
    const QString home = testsupport::TestHome::reset();
    if (seed) seed(home);
    scripted().clear();
    if (!Main()) return nullptr;
    return Form1::Instance();
}

// The point of a node in the tree's twips.
inline QPointF nodePoint(Form1* f, const QString& key)
{
    ui::TreeNode* n = f->TreeView1->Nodes(key);
    if (!n) return {-1, -1};
    f->TreeView1->scrollToItem(n->item());
    const QPoint c = f->TreeView1->visualItemRect(n->item()).center();
    return {c.x() * 15.0, c.y() * 15.0};
}

inline void click(Form1* f, const QString& key, int button = 1)
{
    const QPointF p = nodePoint(f, key);
    f->TreeView1_MouseUp(button, 0, p.x(), p.y());
}

inline void sql(const QString& text) { DBConnection().Execute(text); }

} // namespace form1test

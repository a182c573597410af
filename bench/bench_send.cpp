// A bulk send: 10,000 personalised messages through MailItem::Send into the Outbox with the
// spooler paused, each written durably. Reference: writing the same finished messages
// durably into a Maildir, nothing else.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Spooler.h"

using namespace mail;

namespace {

constexpr int kItems = 10000;

QString bodyFor(int i)
{
    QString body;
    for (int line = 0; line < 30; ++line)
        body += QStringLiteral("Dear reader %1, this is line %2 of your newsletter.\n").arg(i).arg(line);
    return body;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);

    send::Account a;
    a.name = QStringLiteral("Work");
    a.displayName = QStringLiteral("Ann Example");
    a.address = QStringLiteral("ann@example.org");
    a.transport = QStringLiteral("smtp://127.0.0.1:1");
    send::SaveAccounts({a});

    auto app = std::make_shared<Application>();
    app->spooler()->setPaused(true);
    const FolderPtr outbox = app->GetNamespace(QStringLiteral("MAPI"))->GetDefaultFolder(olFolderOutbox);

    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kItems; ++i) {
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("Reader %1 <reader%1@example.net>").arg(i));
        mi->SetBCC(QStringLiteral("archive@example.org"));
        mi->SetSubject(QStringLiteral("Newsletter for reader %1").arg(i));
        mi->SetBody(bodyFor(i));
        mi->Send();
    }
    const double sendRate = kItems / (t.nsecsElapsed() / 1e9);

    // The reference writes the very bytes Send wrote.
    QList<QByteArray> finished;
    const QDir cur(outbox->Path() + QStringLiteral("/cur"));
    for (const QString& name : cur.entryList(QDir::Files)) {
        QFile f(cur.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            finished << f.readAll();
    }
    const QString refBox = home.path() + QStringLiteral("/reference");
    t.restart();
    int written = 0;
    for (const QByteArray& m : std::as_const(finished))
        written += send::WriteToMaildir(refBox, m, send::MaildirSub::Cur, QStringLiteral("S")).isEmpty() ? 0 : 1;
    const double refRate = written / (t.nsecsElapsed() / 1e9);

    std::printf("MailItem::Send into the Outbox (paused): %d items, %.0f msg/s\n", int(finished.size()), sendRate);
    std::printf("durable Maildir writes of the same messages: %d, %.0f msg/s\n", written, refRate);
    std::printf("ratio send/write: %.2f\n", sendRate / refRate);
    app.reset();
    return finished.size() == kItems ? 0 : 1;
}

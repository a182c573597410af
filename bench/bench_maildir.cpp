// Listing a Maildir folder for the message grid (every column the grid fills, the body aside),
// against mblaze's `mlist DIR | mscan`, which reads the header block of each file and prints a
// summary line (flags, date, sender, subject): the fastest tool that does that work. Both run
// in the same run on the same files, alternating, the best round of each counted. Then a
// 100,000-message folder, which must list in under 2 s (mscan of it for the record).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/BenchUtil.h"
#include "core/OutlookLookups.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/XArrayDB.h"

namespace {

constexpr int kMessages = 10000;
constexpr int kBigFolderDefault = 100000;
constexpr int kRounds = 5;

QByteArray message(int i)
{
    const QByteArray n = QByteArray::number(i);
    QByteArray head = "Return-Path: <sender" + n + "@example.org>\n"
                      "Received: from mx.example.org by mail.example.net; Tue, 14 Nov 2023 "
                      + QByteArray::number(10 + i % 12) + ":" + QByteArray::number(10 + i % 50) + ":00 +0000\n"
                      "From: Sender Number " + n + " <sender" + n + "@example.org>\n"
                      "To: Bob Baker <bob@example.net>\nCc: carol@example.net\n"
                      "Subject: Message number " + n + " about =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\n"
                      "Date: Tue, 14 Nov 2023 09:00:00 +0000\nMessage-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n";
    QByteArray text;
    for (int l = 0; l < 30; ++l)
        text += "Line " + QByteArray::number(l) + " of a plain message body that says nothing much at all.\n";
    switch (i % 10) {
    case 0: {  // one in ten carries a 20 KB attachment
        QByteArray att;
        for (int k = 0; k < 20 * 1024 / 57; ++k)
            att += QByteArray(57, char('a' + k % 26)).toBase64() + "\n";
        return head + "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain; charset=utf-8\n\n" + text
            + "\n--b1\nContent-Type: application/pdf; name=\"r.pdf\"\nContent-Disposition: attachment; filename=\"r.pdf\"\n"
              "Content-Transfer-Encoding: base64\n\n" + att + "--b1--\n";
    }
    case 1:
    case 2:  // two in ten are HTML newsletters
        return head + "Content-Type: multipart/alternative; boundary=\"b2\"\n\n--b2\nContent-Type: text/plain; charset=utf-8\n\n" + text
            + "\n--b2\nContent-Type: text/html; charset=utf-8\n\n<html><body><p>" + text + "</p></body></html>\n--b2--\n";
    default:
        return head + "Content-Type: text/plain; charset=utf-8\n\n" + text;
    }
}

bool fill(const QString& folder, int count)
{
    const QString cur = folder + QStringLiteral("/cur");
    for (int i = 0; i < count; ++i) {
        QFile f(cur + QStringLiteral("/%1.M%2P1.bench:2,S").arg(1700000000 + i).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i)) < 0)
            return false;
    }
    return true;
}

// mlist DIR | mscan, its summary lines thrown away. MBLAZE points at an empty profile folder so
// that no user setting changes its work.
double mscan(const QString& folder, const QString& profile)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MBLAZE"), profile);
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("mlist \"$1\" | mscan"), QStringLiteral("sh"), folder});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    return ms(t);
}

// What LoadMessages does: the folder's Items, then each message's grid row, the body aside.
double listing(const mail::FolderPtr& folder, int* listed, int* withAttachments)
{
    QElapsedTimer t;
    t.start();
    const mail::ItemsPtr items = folder->Items();
    const int count = items->Count();

    ui::XArrayDB rows;
    rows.ReDim(1, count, 0, 14);
    int n = 0, atts = 0;
    for (int i = 1; i <= count; ++i) {
        const mail::ItemPtr item = items->Item(i);
        if (item->Class() != mail::olMail)
            continue;
        const mail::MailItemPtr mi = mail::AsMailItem(item);
        ++n;
        rows(n, 4) = GetMessageAddress(mi);
        rows(n, 0) = mi->Importance() == mail::olImportanceHigh ? QStringLiteral("-1") : QStringLiteral("0");
        rows(n, 1) = QStringLiteral("-1");
        rows(n, 2) = mi->ReadReceiptRequested() ? QStringLiteral("-1") : QStringLiteral("0");
        const bool hasAttachments = mi->Attachments().Count() > 0;
        atts += hasAttachments;
        rows(n, 3) = hasAttachments ? QStringLiteral("-1") : QString();
        rows(n, 5) = mi->Subject();
        rows(n, 6) = mi->ReceivedTime();
        rows(n, 8) = mi->EntryID();
        rows(n, 9) = mi->CC();
        rows(n, 10) = mi->ReceivedByName();
    }
    rows.ReDimPreserve(1, n, 0, 14);
    *listed = n;
    *withAttachments = atts;
    return ms(t);
}

struct Spread {
    std::vector<double> v;
    double best() const { return *std::min_element(v.begin(), v.end()); }
    double worst() const { return *std::max_element(v.begin(), v.end()); }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    const QString profile = home.filePath(QStringLiteral("mblaze"));
    QDir().mkpath(profile);
    auto app = std::make_shared<mail::Application>();
    mail::NameSpacePtr ns = app->GetNamespace(QStringLiteral("MAPI"));
    const mail::FolderPtr inbox = ns->GetDefaultFolder(mail::olFolderInbox);
    if (!fill(inbox->Path(), kMessages))
        return 1;

    Spread ref, ours;
    int listed = 0, atts = 0;
    for (int round = 0; round < kRounds; ++round) {
        ref.v.push_back(mscan(inbox->Path(), profile));
        ours.v.push_back(listing(inbox, &listed, &atts));
    }
    if (ref.best() < 0) {
        std::printf("mlist | mscan failed: is mblaze installed (scripts/install-deps)?\n");
        return 1;
    }
    std::printf("%d messages (listed %d, with attachments %d), best of %d rounds (worst in brackets)\n", kMessages, listed, atts, kRounds);
    std::printf("  mlist DIR | mscan:                         %8.1f ms (%.1f)\n", ref.best(), ref.worst());
    std::printf("  Items with the grid's columns, body unread: %8.1f ms (%.1f)\n", ours.best(), ours.worst());
    std::printf("  ratio listing / mscan: %.2f (aim: at most 1.5)\n", ours.best() / ref.best());
    const bool tenOk = listed == kMessages && atts == kMessages / 10;

    // The large folder (its size may be given as the one argument, 0 for none).
    const int kBigFolder = argc > 1 ? QByteArray(argv[1]).toInt() : kBigFolderDefault;
    if (kBigFolder <= 0)
        return tenOk ? 0 : 2;
    const mail::FolderPtr big = inbox->Folders()->Add(QStringLiteral("Big"));
    if (!fill(big->Path(), kBigFolder))
        return 1;
    Spread bigRef, bigOurs;
    int bigListed = 0, bigAtts = 0;
    for (int round = 0; round < 2; ++round) {
        bigRef.v.push_back(mscan(big->Path(), profile));
        bigOurs.v.push_back(listing(big, &bigListed, &bigAtts));
    }
    std::printf("%d messages (listed %d, with attachments %d), best of 2 rounds (worst in brackets)\n", kBigFolder, bigListed, bigAtts);
    std::printf("  mlist DIR | mscan:                         %8.1f ms (%.1f)\n", bigRef.best(), bigRef.worst());
    std::printf("  Items with the grid's columns, body unread: %8.1f ms (%.1f) (aim: under 2000 ms)\n", bigOurs.best(), bigOurs.worst());
    std::printf("  ratio listing / mscan: %.2f\n", bigOurs.best() / bigRef.best());
    const bool bigOk = bigListed == kBigFolder && bigAtts == kBigFolder / 10;
    return tenOk && bigOk ? 0 : 2;
}

// Listing a 10,000-message Maildir for the message grid, against GMime alone parsing the same
// files. The reference is g_mime_parser_construct_message on each whole file, then reading the
// subject, sender and date: that is what any GMime-based listing must at least do to know a
// message's attachments and kind, so it is the fair floor for ours, which reads the header
// block of every file and parses the whole of a message only when its top-level type is
// multipart (attachments, kind).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"

namespace {

constexpr int kMessages = 10000;

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

double gmimeAlone(const QString& dir, int* count)
{
    QElapsedTimer t;
    t.start();
    const QStringList files = QDir(dir).entryList(QDir::Files);
    int n = 0;
    for (const QString& f : files) {
        QFile file(dir + QLatin1Char('/') + f);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
        if (msg) {
            n += g_mime_message_get_subject(msg) != nullptr;
            InternetAddressList* from = g_mime_message_get_from(msg);
            n += internet_address_list_length(from) > 0 ? 0 : 0;
            if (GDateTime* d = g_mime_message_get_date(msg))
                n += g_date_time_get_year(d) > 0 ? 0 : 0;
            g_object_unref(msg);
        }
        g_object_unref(parser);
        g_object_unref(stream);
    }
    *count = n;
    return double(t.nsecsElapsed()) / 1e6;
}

double listing(mail::NameSpacePtr ns, int* count, int* withAttachments)
{
    QElapsedTimer t;
    t.start();
    const mail::FolderPtr inbox = ns->GetDefaultFolder(mail::olFolderInbox);
    const mail::ItemsPtr items = inbox->Items();
    int n = 0, atts = 0;
    qint64 sum = 0;
    for (int i = 1; i <= items->Count(); ++i) {
        const mail::ItemPtr it = items->Item(i);
        if (it->Class() != mail::olMail)
            continue;
        const mail::MailItemPtr mi = mail::AsMailItem(it);
        ++n;
        // What a grid row holds, the body aside: flags, correspondent, subject, time, id, CC, recipient.
        sum += mi->Importance() + mi->ReadReceiptRequested();
        atts += mi->Attachments().Count() > 0;
        const mail::MailItemPtr reply = mi->Reply();
        sum += reply->Recipients().Count() > 0 ? reply->Recipients().Item(1)->AddressEntry().Address().size() : mi->SenderName().size();
        sum += mi->Subject().size() + mi->ReceivedTime().toSecsSinceEpoch() % 7 + mi->EntryID().size() + mi->CC().size() + mi->ReceivedByName().size();
    }
    *count = n + int(sum % 1);
    *withAttachments = atts;
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    auto app = std::make_shared<mail::Application>();
    mail::NameSpacePtr ns = app->GetNamespace(QStringLiteral("MAPI"));
    const QString cur = ns->GetDefaultFolder(mail::olFolderInbox)->Path() + QStringLiteral("/cur");
    for (int i = 0; i < kMessages; ++i) {
        QFile f(cur + QStringLiteral("/%1.M%2P1.bench:2,S").arg(1700000000 + i).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i)) < 0)
            return 1;
    }

    double bestRef = 1e18, bestOurs = 1e18;
    int refCount = 0, ours = 0, atts = 0;
    for (int round = 0; round < 3; ++round) {
        bestRef = std::min(bestRef, gmimeAlone(cur, &refCount));
        bestOurs = std::min(bestOurs, listing(ns, &ours, &atts));
    }
    std::printf("messages: %d (listed %d, with attachments %d, reference parsed %d)\n", kMessages, ours, atts, refCount);
    std::printf("GMime alone, g_mime_parser_construct_message per file: %.1f ms\n", bestRef);
    std::printf("Items listing with the grid's members (body not read): %.1f ms\n", bestOurs);
    std::printf("ratio listing / GMime alone: %.2f (aim: at most 1.5)\n", bestOurs / bestRef);
    return ours == kMessages && atts == kMessages / 10 ? 0 : 2;
}

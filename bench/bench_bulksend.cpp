// Bulk send of 10,000 personalised messages (ten merge tokens, one 20 KB attachment) into the
// Outbox with the spooler paused, each message written durably; against GMime alone building
// and durably writing the same messages in the same run.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextEdit>

#include <gmime/gmime.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "compose/Form20.h"
#include "compose/frmCompose.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Spooler.h"
#include "platform/ui/ScriptedUi.h"

namespace {

const int kRecipients = qEnvironmentVariableIntValue("BULK_N") > 0 ? qEnvironmentVariableIntValue("BULK_N") : 10000;
constexpr int kAttachmentBytes = 20 * 1024;

const char* const kTemplate =
    "Dear <%$FORMATTED_NAME>,\n\n"
    "Thank you for your order, <%$FIRST>. We will ship it to:\n"
    "<%$ADDRESS1>\n<%$CITY> <%$STATE> <%$ZIP>\n\n"
    "Your account <%$EMAIL> at <%$COMPANY> is in the <%REGION> region.\n"
    "Call <%$PHONE1> with any question, <%$LAST> household.\n\n"
    "This newsletter tells you about our plans for the coming season, the new products in our range\n"
    "and the events near you. Read the attached terms before you order again.\n";

struct Person {
    QString email, first, last, company, address1, city, state, zip, phone, region;
};

Person person(int i)
{
    const QString n = QString::number(i);
    return {QStringLiteral("reader%1@example.net").arg(i), QStringLiteral("First") + n, QStringLiteral("Last") + n,
            QStringLiteral("Company ") + n, n + QStringLiteral(" Main Street"), QStringLiteral("Springfield"), QStringLiteral("IL"),
            QStringLiteral("6%1").arg(i % 10000, 4, 10, QLatin1Char('0')), QStringLiteral("555-") + n, QStringLiteral("North")};
}

// The merged text the program produces for person i, for the reference to write.
QByteArray merged(const Person& p)
{
    QString t = QString::fromLatin1(kTemplate);
    t.replace(QStringLiteral("<%$FORMATTED_NAME>"), p.first + QLatin1Char(' ') + p.last);
    t.replace(QStringLiteral("<%$FIRST>"), p.first);
    t.replace(QStringLiteral("<%$ADDRESS1>"), p.address1);
    t.replace(QStringLiteral("<%$CITY>"), p.city);
    t.replace(QStringLiteral("<%$STATE>"), p.state);
    t.replace(QStringLiteral("<%$ZIP>"), p.zip);
    t.replace(QStringLiteral("<%$EMAIL>"), p.email);
    t.replace(QStringLiteral("<%$COMPANY>"), p.company);
    t.replace(QStringLiteral("<%REGION>"), p.region);
    t.replace(QStringLiteral("<%$PHONE1>"), p.phone);
    t.replace(QStringLiteral("<%$LAST>"), p.last);
    return t.toUtf8();
}

bool durableWrite(const QString& dir, int i, const QByteArray& bytes)
{
    const QByteArray tmp = QFile::encodeName(dir + QStringLiteral("/tmp/ref.%1").arg(i));
    const QByteArray target = QFile::encodeName(dir + QStringLiteral("/cur/ref.%1:2,S").arg(i));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.constData(), target.constData()) != 0) return false;
    // The rename made durable too, as the Outbox does.
    const int dfd = ::open(QFile::encodeName(dir + QStringLiteral("/cur")).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return false;
    ok = ::fsync(dfd) == 0;
    ::close(dfd);
    return ok;
}

// GMime alone: the same messages built and written durably. Returns nanoseconds (build, write).
std::pair<qint64, qint64> reference(const QString& dir, const QByteArray& attachment)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(dir + QLatin1Char('/') + QLatin1String(sub));
    qint64 buildNs = 0, writeNs = 0;
    QElapsedTimer clock;
    for (int i = 1; i <= kRecipients; ++i) {
        const Person p = person(i);
        const QByteArray body = merged(p);
        clock.start();
        GMimeMessage* m = g_mime_message_new(TRUE);
        g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_FROM, "Bulk Sender", "sender@example.org");
        g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_TO, nullptr, p.email.toUtf8().constData());
        g_mime_message_set_subject(m, "News for you", "utf-8");
        GDateTime* now = g_date_time_new_now_local();
        g_mime_message_set_date(m, now);
        g_date_time_unref(now);
        char* id = g_mime_utils_generate_message_id("example.org");
        g_mime_message_set_message_id(m, id);
        g_free(id);
        GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
        GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
        g_mime_text_part_set_text(text, body.constData());
        g_mime_multipart_add(mixed, GMIME_OBJECT(text));
        GMimePart* att = g_mime_part_new_with_type("application", "octet-stream");
        g_mime_part_set_filename(att, "terms.bin");
        GMimeStream* src = g_mime_stream_mem_new_with_buffer(attachment.constData(), size_t(attachment.size()));
        GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(src, GMIME_CONTENT_ENCODING_DEFAULT);
        g_mime_part_set_content(att, wrapper);
        g_mime_part_set_content_encoding(att, GMIME_CONTENT_ENCODING_BASE64);
        g_mime_multipart_add(mixed, GMIME_OBJECT(att));
        g_mime_message_set_mime_part(m, GMIME_OBJECT(mixed));
        GMimeStream* out = g_mime_stream_mem_new();
        g_mime_object_write_to_stream(GMIME_OBJECT(m), nullptr, out);
        GByteArray* ba = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
        const QByteArray bytes(reinterpret_cast<const char*>(ba->data), qsizetype(ba->len));
        g_object_unref(out);
        g_object_unref(wrapper);
        g_object_unref(src);
        g_object_unref(att);
        g_object_unref(text);
        g_object_unref(mixed);
        g_object_unref(m);
        buildNs += clock.nsecsElapsed();

        clock.start();
        if (!durableWrite(dir, i, bytes)) {
            std::fprintf(stderr, "reference write failed\n");
            std::exit(1);
        }
        writeNs += clock.nsecsElapsed();
    }
    return {buildNs, writeNs};
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", QFile::encodeName(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);

    mail::send::Account account;
    account.name = QStringLiteral("Work");
    account.displayName = QStringLiteral("Bulk Sender");
    account.address = QStringLiteral("sender@example.org");
    account.transport = QStringLiteral("smtp://127.0.0.1:1");
    account.isDefault = true;
    mail::send::SaveAccounts({account});
    if (!Main()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    OutlookApp->spooler()->setPaused(true);

    {
        auto t = DBConnection().BeginTrans();
        DBConnection().Execute(QStringLiteral("INSERT INTO Config (combo0) VALUES ('Region')"));
        for (int i = 1; i <= kRecipients; ++i) {
            const Person p = person(i);
            DBConnection().Execute(QStringLiteral("INSERT INTO MasterList (Email, First, Last, Company, Address1, City, State, Zip, Phone1, combo0, SortName) "
                                                  "VALUES ('%1','%2','%3','%4','%5','%6','%7','%8','%9','%10','%3 %2')")
                                       .arg(p.email, p.first, p.last, p.company, p.address1, p.city, p.state, p.zip, p.phone)
                                       .arg(p.region));
        }
        t.Commit();
    }
    f->LoadEmailAddresses(f->TreeView1->Nodes(QString(QChar(4)) + QStringLiteral("1")));
    for (int r = 1; r <= f->ex->UpperBound(1); ++r) f->TDBGrid2->SelBookmarks().Add(r);

    QByteArray attachment(kAttachmentBytes, '\0');
    for (int i = 0; i < attachment.size(); ++i) attachment[i] = char((i * 131 + 7) & 0xff);
    const QString attPath = home.filePath(QStringLiteral("terms.bin"));
    {
        QFile a(attPath);
        a.open(QIODevice::WriteOnly);
        a.write(attachment);
    }

    frmCompose c;
    c.txtSubject->setText(QStringLiteral("News for you"));
    c.txtMsg->setPlainText(QString::fromLatin1(kTemplate));
    scripted.fileAnswers.enqueue(attPath);
    c.editmInsertAttachment_Click();
    Form20 d(c);

    QElapsedTimer total;
    total.start();
    d.SendMessages();
    const qint64 programNs = total.nsecsElapsed();

    const int queued = MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox)->Items()->Count();
    if (d.SentCount != kRecipients || queued != kRecipients || !d.SkippedRows.isEmpty()) {
        std::fprintf(stderr, "sent %d, queued %d, skipped %lld\n", d.SentCount, queued, qlonglong(d.SkippedRows.size()));
        return 1;
    }

    const auto [refBuild, refWrite] = reference(home.filePath(QStringLiteral("reference")), attachment);
    const qint64 refNs = refBuild + refWrite;

    const double secs = programNs / 1e9;
    std::printf("bulk send: %d messages (10 merge tokens, 20 KB attachment) into the Outbox, spooler paused\n", kRecipients);
    std::printf("  program:   %.2f s, %.0f msg/s (limit 10 s: %s)\n", secs, kRecipients / secs, secs < 10 ? "met" : "MISSED");
    std::printf("  shares:    merging %.1f%%, filling items %.1f%%, handing over and waiting for the writes (MIME built and written durably on worker threads) %.1f%%, rest %.1f%%\n",
                100.0 * d.MergeNs / programNs, 100.0 * d.PrepareNs / programNs, 100.0 * d.SendNs / programNs,
                100.0 * (programNs - d.MergeNs - d.PrepareNs - d.SendNs) / programNs);
    std::printf("  reference: GMime alone %.2f s, %.0f msg/s (building %.1f%%, writing durably %.1f%%)\n", refNs / 1e9,
                kRecipients / (refNs / 1e9), 100.0 * refBuild / refNs, 100.0 * refWrite / refNs);
    std::printf("  ratio program / reference: %.2f\n", double(programNs) / double(refNs));

    f->close();
    delete Form1::Instance();
    ReleaseInstanceLock();
    OLAPPObject.reset();
    OutlookApp.reset();
    MAPINameSpace.reset();
    DBConnection().Close();
    ui::setServices(nullptr);
    return 0;
}

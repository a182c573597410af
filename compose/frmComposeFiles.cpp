// The composer's File menu: only the body text ever goes into a file (UTF-8, written whole,
// nothing added). A file read back that is not UTF-8 is read as Windows-1252, as the import does.
#include <QFile>
#include <QSaveFile>
#include <QTextEdit>
#include <QLineEdit>

#include "compose/frmCompose.h"
#include "core/Globals.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"
#include "profiles/DelimitedReader.h"

namespace {
constexpr const char* kTextFilter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
}

// The file is replaced only once the whole text is written: a failure leaves the old one.
bool frmCompose::writeBody(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(txtMsg->toPlainText().toUtf8());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void frmCompose::filemNew_Click()
{
    messageFileName_.clear();
    txtMsg->clear();
    newItem();
    if (mi) {
        mi->SetImportance(1);
        mi->SetSensitivity(0);
        mi->SetReadReceiptRequested(false);
    }
    messageFormat_ = 0;
    SetToolbarState();
    ShowAttachments();
    // Another message: what the last one's sends queued is no longer this one's.
    queuedMessages_ = queuedSends_ = 0;
    lastQueuedAt_ = {};
    showSendOutcome();
}

void frmCompose::filemOpen_Click()
{
    CommonDialog1.Filter = QString::fromLatin1(kTextFilter);
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.CancelError = true;
    if (!CommonDialog1.ShowOpen()) return;
    ui::SetMousePointer(ui::vbHourglass);
    QFile file(CommonDialog1.FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ui::SetMousePointer(ui::vbDefault);
        ui::MsgBox(QStringLiteral("The file could not be opened: %1").arg(file.errorString()), ui::vbCritical);
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ui::SetMousePointer(ui::vbDefault);
        ui::MsgBox(QStringLiteral("The file could not be read: %1").arg(file.errorString()), ui::vbCritical);
        return;
    }
    // The name is taken only once the file was read.
    txtMsg->setPlainText(DelimitedReader::Decode(bytes));
    messageFileName_ = CommonDialog1.FileName;
    ui::SetMousePointer(ui::vbDefault);
}

void frmCompose::filemSave_Click()
{
    if (messageFileName_.trimmed().isEmpty()) {
        filemSaveAs_Click();
        return;
    }
    QString error;
    if (!writeBody(messageFileName_, &error))
        ui::MsgBox(QStringLiteral("The message could not be saved: %1").arg(error), ui::vbCritical);
}

void frmCompose::filemSaveAs_Click()
{
    CommonDialog1.Filter = QString::fromLatin1(kTextFilter);
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.CancelError = true;
    CommonDialog1.Flags = ui::CommonDialog::cdlOFNOverwritePrompt;
    if (!messageFileName_.trimmed().isEmpty()) CommonDialog1.FileName = messageFileName_;
    if (!CommonDialog1.ShowSave()) return;
    QString error;
    if (!writeBody(CommonDialog1.FileName, &error)) {
        ui::MsgBox(QStringLiteral("The message could not be saved: %1").arg(error), ui::vbCritical);
        return;
    }
    messageFileName_ = CommonDialog1.FileName;
}

void frmCompose::filemPrint_Click()
{
    CommonDialog1.Flags = 0;
    CommonDialog1.CancelError = true;
    if (!CommonDialog1.ShowPrinter()) return;
    ui::SetMousePointer(ui::vbHourglass);
    try {
        if (!OutlookApp) throw mail::MailError(QStringLiteral("The mail host is not running."));
        const mail::MailItemPtr item = OutlookApp->CreateItem(mail::olMailItem);
        item->SetSubject(txtSubject->text());
        item->SetBody(txtMsg->toPlainText());
        item->PrintOut();
    } catch (const mail::MailError& e) {
        ui::SetMousePointer(ui::vbDefault);
        ui::MsgBox(QStringLiteral("The message could not be printed: %1").arg(e.message()), ui::vbCritical);
        return;
    }
    ui::SetMousePointer(ui::vbDefault);
}

void frmCompose::filemPrintSetup_Click()
{
    CommonDialog1.Flags = 64;
    CommonDialog1.CancelError = true;
    CommonDialog1.ShowPrinter();
}

void frmCompose::filemPreview_Click()
{
    const QString name = ui::DataPath(QStringLiteral("BulkPreview.htm"));
    QString error;
    if (!writeBody(name, &error)) {
        ui::MsgBox(QStringLiteral("The preview could not be written: %1").arg(error), ui::vbCritical);
        return;
    }
    ui::DoEvents();
    ui::DoEvents();
    ui::OpenDocument(name);
}

void frmCompose::filemExit_Click() { close(); }

#include "mainwindow/Form11.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <memory>

#include "core/FormUtilities.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/CommonDialog.h"
#include "platform/ui/UiServices.h"

namespace {
std::unique_ptr<QTemporaryDir>& copiesDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

void removeCopies() { copiesDir().reset(); }
} // namespace

QString Form11::TemporaryCopiesFolder()
{
    auto& dir = copiesDir();
    if (!dir) {
        // QTemporaryDir makes the folder 0700 under a name no other run shares.
        dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/ferrowyn-attachments-XXXXXX"));
        if (!dir->isValid()) {
            dir.reset();
            return QString();
        }
        qAddPostRoutine(removeCopies);
    }
    return dir->path();
}

QString Form11::TemporaryCopyName(const QString& folder, const QString& attachmentName)
{
    QString name = attachmentName;
    const qsizetype cut = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0) name = name.mid(cut + 1);
    QString clean;
    for (const QChar c : std::as_const(name))
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F) clean += c;
    while (clean.contains(QStringLiteral(".."))) clean.replace(QStringLiteral(".."), QStringLiteral("."));
    clean = clean.trimmed();
    while (clean.startsWith(QLatin1Char('.'))) clean.remove(0, 1);
    if (clean.isEmpty()) clean = QStringLiteral("attachment");

    const QString first = QStringLiteral("~") + clean;
    if (!QFileInfo::exists(folder + QLatin1Char('/') + first)) return first;
    // An earlier copy of the same name may still be open in its program.
    const QFileInfo fi(clean);
    const QString base = fi.completeBaseName().isEmpty() ? clean : fi.completeBaseName();
    const QString suffix = fi.completeBaseName().isEmpty() || fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix();
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("~%1 (%2)%3").arg(base).arg(n).arg(suffix);
        if (!QFileInfo::exists(folder + QLatin1Char('/') + candidate)) return candidate;
    }
}

Form11::Form11(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form11"));
    setWindowTitle(QStringLiteral("Opening Attachment"));
    setModal(true);
    Label1 = new QLabel(QStringLiteral("Opening:"), this);
    lblFileName = new QLabel(this);
    lblText = new QLabel(this);
    lblText->setWordWrap(true);
    for (QLabel* l : {Label1, lblFileName, lblText}) l->setTextFormat(Qt::PlainText);
    Option1 = new QRadioButton(QStringLiteral("Open"), this);
    Option2 = new QRadioButton(QStringLiteral("Save It To Disk"), this);
    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command1->setDefault(true);
    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);

    resize(420, 250);
    Label1->setGeometry(12, 12, 60, 20);
    lblFileName->setGeometry(76, 12, 330, 20);
    lblText->setGeometry(12, 40, 396, 90);
    Line1->setGeometry(12, 136, 396, 2);
    Option1->setGeometry(24, 146, 300, 22);
    Option2->setGeometry(24, 172, 300, 22);
    Command1->setGeometry(236, 210, 80, 28);
    Command2->setGeometry(326, 210, 80, 28);
    // Saving is the safer of the two, so it is the one chosen until the user picks.
    Option2->setChecked(true);

    connect(Command1, &QPushButton::clicked, this, &Form11::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form11::Command2_Click);
    Form_Load();
}

void Form11::Form_Load()
{
    CenterForm(*this);
    lblText->setText(QStringLiteral("WARNING:  Opening this file may infect this computer with a virus.  Only open this file ") +
                     QStringLiteral("if you are sure that this file has originated from a trusted authority.") +
                     QStringLiteral("\r\n\r\n") + QStringLiteral("What would you like to do with this file?"));
}

void Form11::SetMI(const mail::MailItemPtr& tmpmi) { mi = tmpmi; }

void Form11::SetIndex(int idx) { AttachmentIndex = idx; }

void Form11::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    Form_Activate();
}

mail::AttachmentPtr Form11::attachment() const
{
    if (!mi) throw mail::MailError(QStringLiteral("No message."));
    return mi->Attachments().Item(AttachmentIndex);
}

void Form11::Form_Activate()
{
    try {
        lblFileName->setText(attachment()->FileName());
    } catch (const std::exception&) {
        lblFileName->clear();
    }
}

void Form11::Command1_Click()
{
    if (Option1->isChecked()) {
        try {
            const mail::AttachmentPtr att = attachment();
            const QString folder = TemporaryCopiesFolder();
            if (folder.isEmpty()) throw mail::MailError(QStringLiteral("No private temporary folder could be made."));
            const QString path = folder + QLatin1Char('/') + TemporaryCopyName(folder, att->FileName());
            att->SaveAsFile(path);
            ui::OpenDocument(path);
        } catch (const std::exception& e) {
            ui::MsgBox(QStringLiteral("The attachment could not be opened.  ") + QString::fromStdString(e.what()),
                       ui::vbCritical);
            return;
        }
    } else if (Option2->isChecked()) {
        ui::CommonDialog CommonDialog1;
        mail::AttachmentPtr att;
        try {
            att = attachment();
        } catch (const std::exception&) {
            return;
        }
        CommonDialog1.CancelError = true;
        CommonDialog1.Flags = 0x80006;
        CommonDialog1.FileName = QDir::currentPath() + QLatin1Char('/') + att->FileName();
        CommonDialog1.Filter = QStringLiteral("All Files (*.*)|*.*");
        CommonDialog1.FilterIndex = 1;
        if (!CommonDialog1.ShowSave()) return;
        try {
            att->SaveAsFile(CommonDialog1.FileName);
        } catch (const std::exception& e) {
            // The dialog stays open so the user can choose another place.
            ui::MsgBox(QStringLiteral("The attachment could not be saved.  ") + QString::fromStdString(e.what()), ui::vbCritical);
            return;
        }
    }
    done(QDialog::Accepted);
}

void Form11::Command2_Click() { done(QDialog::Rejected); }

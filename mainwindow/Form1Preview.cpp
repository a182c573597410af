#include <QCursor>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/DataFolder.h"
#include "platform/ui/UiServices.h"

namespace {
// The file is written as UTF-8, so a charset declaration that says otherwise would garble it.
QString WithUtf8Charset(const QString& html)
{
    static const QRegularExpression charset(QStringLiteral("(<meta\\b[^>]*?charset\\s*=\\s*[\"']?)([^\"'\\s;/>]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString out = html;
    out.replace(charset, QStringLiteral("\\1utf-8"));
    return out;
}
} // namespace

PreviewBrowser::PreviewBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
}

void PreviewBrowser::Navigate(const QString& path)
{
    refused_ = 0;
    const QUrl url = QUrl::fromLocalFile(path);
    document_ = url;
    // The same file name holds a new message each time: read it again.
    if (source() == url)
        reload();
    else
        setSource(url, QTextDocument::HtmlResource);
}

QVariant PreviewBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::HtmlResource && name == document_) {
        QFile f(document_.toLocalFile());
        if (!f.open(QIODevice::ReadOnly)) return QVariant();
        return QString::fromUtf8(f.readAll());
    }
    // Images, style sheets and anything else a message names stay unloaded: a message must not
    // reach the network or read the user's files by being previewed.
    ++refused_;
    return QVariant();
}

// ---------------------------------------------------------------------------------------------
void Form1::unloadAttachmentItems()
{
    mnuAtt.first()->setVisible(true);
    for (int i = AttachmentMenuCount; i >= 1; --i) {
        if (i < mnuAtt.size()) {
            QAction* a = mnuAtt.takeAt(i);
            mnuAttachments->removeAction(a);
            a->deleteLater();
        }
    }
}

void Form1::LoadMessageFromBookmark(const QVariant& bookmark)
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        const int r = int(Val(bookmark.toString()));
        if (!xa->ContainsRow(r) || r < 1) throw mail::MailError(QStringLiteral("No such row."));
        const QString entryId = xa->Value(r, 8).toString();
        CurrentMailItem = mail::AsMailItem(RequireNameSpace()->GetItemFromID(entryId));
        if (!CurrentMailItem) throw mail::MailError(QStringLiteral("Not a message."));
        msgPaneHeader->setVisible(true);
        const bool html = CurrentMailItem->GetInspector()->EditorType() == mail::olEditorHTML;
        const bool wanted = mnuViewMessagePane->isChecked();
        if (html) {
            TempHtmlPath = ui::DataPath(QStringLiteral("~tmp.htm"));
            QFile::remove(TempHtmlPath);
            QSaveFile f(TempHtmlPath);
            if (!f.open(QIODevice::WriteOnly)) throw mail::MailError(QStringLiteral("The preview file cannot be written."));
            f.write(WithUtf8Charset(CurrentMailItem->HTMLBody()).toUtf8());
            if (!f.commit()) throw mail::MailError(QStringLiteral("The preview file cannot be written."));
            {
                // Events may run here; the window takes no input meanwhile.
                BusyScope busy(this);
                ui::DoEvents();
                ui::DoEvents();
            }
            msgPane->clear();
            WebBrowser1->Navigate(TempHtmlPath);
            if (wanted && WebBrowser1->isHidden()) {
                WebBrowser1->show();
                msgPane->hide();
            }
        } else {
            msgPane->setPlainText(CurrentMailItem->Body());
            if (wanted && msgPane->isHidden()) {
                msgPane->show();
                WebBrowser1->hide();
            }
        }
        lblMessageHeaderFrom->setText(GetMessageAddress(CurrentMailItem));
        lblMessageHeaderSubject->setText(CurrentMailItem->Subject());
        lblMessageHeaderTo->setText(CurrentMailItem->ReceivedByName());
        lblMessageHeaderCC->setText(CurrentMailItem->CC());

        unloadAttachmentItems();
        mail::Attachments& atts = CurrentMailItem->Attachments();
        AttachmentMenuCount = atts.Count();
        for (int i = 1; i <= AttachmentMenuCount; ++i) {
            QAction* a = mnuAttachments->addAction(MenuCaption(atts.Item(i)->FileName()));
            a->setObjectName(QStringLiteral("mnuAtt"));
            connect(a, &QAction::triggered, this, [this, i] { runCommand([this, i] { mnuAtt_Click(i); }); });
            mnuAtt.append(a);
        }
        if (AttachmentMenuCount > 0) {
            mnuAtt.first()->setVisible(false);
            Toolbar2->show();
        } else {
            Toolbar2->hide();
        }
    } catch (const std::exception&) {
        ClearMessagePane();
    }
    ui::SetMousePointer(ui::vbArrow);
}

void Form1::ClearMessagePane()
{
    msgPane->clear();
    for (QLabel* l : {lblMessageHeaderFrom, lblMessageHeaderTo, lblMessageHeaderSubject, lblMessageHeaderCC}) l->clear();
    unloadAttachmentItems();
    AttachmentMenuCount = 0;
    Toolbar2->hide();
    WebBrowser1->hide();
    if (mnuViewMessagePane->isChecked()) msgPane->show();
}

void Form1::Toolbar2_ButtonClick() { popup(mnuAttachments); }

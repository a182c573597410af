#include "compose/Form20.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <algorithm>

#include "compose/frmCompose.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/MergeFields.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/SendBatch.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/ui/UiServices.h"

namespace {
int px(double twips) { return qRound(twips / 15.0); }

// "Name <address>" that reads back as the same recipient.
QString recipientText(const mail::Recipient& r)
{
    const QString address = r.Address();
    if (r.Name().isEmpty() || r.Name() == address) return address;
    QString name = r.Name();
    name.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QStringLiteral("\"%1\" <%2>").arg(name, address);
}

// The composer's copy lines go over recipient by recipient, so names never stand in for addresses.
void copyRecipients(const mail::MailItemPtr& from, const mail::MailItemPtr& to, int type)
{
    mail::Recipients& src = from->Recipients();
    for (int k = 1; k <= src.Count(); ++k) {
        const mail::RecipientPtr r = src.Item(k);
        if (r->Type() != type) continue;
        to->Recipients().Add(recipientText(*r))->SetType(type);
    }
}

QString htmlValue(const QString& value)
{
    QString v = value.toHtmlEscaped();
    v.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    v.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    v.replace(QLatin1Char('\r'), QStringLiteral("<br>"));
    return v;
}

constexpr int kListedSkips = 20;
} // namespace

Form20::Form20(frmCompose& composer, QWidget* parent) : QDialog(parent), composer_(composer)
{
    setWindowTitle(QStringLiteral("Send Bulk Mail"));
    setFixedSize(px(5280), px(2865));
    Label1 = new QLabel(QStringLiteral("Send Bulk Mail"), this);
    Label1->setGeometry(px(240), px(120), px(4800), px(300));
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = new QLabel(this);
    Label2->setWordWrap(true);
    Label2->setGeometry(px(240), px(480), px(4800), px(600));
    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setGeometry(px(120), px(1140), px(5040), 1);
    Line2 = new QFrame(this);
    Line2->setFrameShape(QFrame::HLine);
    chkDoNotStoreToSentItems = new QCheckBox(QStringLiteral("Do Not Save To Sent Items"), this);
    chkDoNotStoreToSentItems->setGeometry(px(240), px(1320), px(4800), px(255));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(px(240), px(1740), px(4800), px(255));
    ProgressBar1->setTextVisible(false);
    Command1 = new QPushButton(QStringLiteral("&Continue"), this);
    Command1->setGeometry(px(2520), px(2280), px(1215), px(375));
    Command2 = new QPushButton(QStringLiteral("E&xit"), this);
    Command2->setGeometry(px(3840), px(2280), px(1215), px(375));
    connect(Command1, &QPushButton::clicked, this, &Form20::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form20::Command2_Click);
    Form_Load();
}

void Form20::Form_Load()
{
    CenterForm(*this);
    Line2->setGeometry(Line1->x(), Line1->y() + 1, Line1->width(), 1);
    Label2->setText(QStringLiteral("This process will send bulk mail to the specified recipients.  ") + QStringLiteral("Click Send to Continue."));
    try {
        LoadMergeFieldList(MergeFields);
    } catch (const std::exception&) {
        MergeFields.ReDim(1, 0, 0, 2);  // unreadable Config: only the names that need no list
    }
    for (int r = MergeFields.UpperBound(1); r >= MergeFields.LowerBound(1); --r)
        fieldRow_.insert(MergeFields.Value(r, 0).toString().toUpper(), r);
    chkDoNotStoreToSentItems->setChecked(true);
}

bool Form20::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) ui::SetMousePointer(ui::vbArrow);
    return QDialog::event(e);
}

void Form20::Command1_Click()
{
    SendMessages();
    accept();
}

void Form20::Command2_Click() { reject(); }

Form20::~Form20() = default;

void Form20::planMerge(const QString& templ)
{
    mergeTemplate_ = templ;
    mergePieces_.clear();
    qsizetype pos = 0;
    for (;;) {
        const qsizetype p = templ.indexOf(QLatin1String("<%"), pos);
        const qsizetype q = p < 0 ? -1 : templ.indexOf(QLatin1Char('>'), p + 2);
        if (q < 0) {
            mergePieces_.append({pos, templ.size() - pos, false, {}, 0});
            return;
        }
        mergePieces_.append({pos, p - pos, false, {}, 0});
        const QString name = templ.mid(p + 2, q - p - 2);
        mergePieces_.append({0, 0, true, name, fieldRow_.value(name.toUpper(), 0)});
        pos = q + 1;
    }
}

QString Form20::BuildMessage(qint64 MasterRecID, const QString& OriginalMessage)
{
    const QString& msg = OriginalMessage;
    if (!msg.contains(QLatin1String("<%"))) return msg;
    const bool html = composer_.MessageFormat() == 1;

    // One statement for every row of a send, and the template read once.
    if (!rowQuery_) rowQuery_ = std::make_unique<db::Statement>(DBConnection().Prepare(QStringLiteral("SELECT * FROM MasterList WHERE RecID = ?")));
    if (!row_) row_ = std::make_unique<db::Recordset>();
    rowQuery_->Bind(0, MasterRecID);
    row_->Open(*rowQuery_);
    if (msg != mergeTemplate_ || mergePieces_.isEmpty()) planMerge(msg);

    QString out;
    out.reserve(msg.size() + 256);
    for (const MergePiece& piece : std::as_const(mergePieces_)) {
        if (!piece.tag) {
            out += QStringView(msg).mid(piece.from, piece.length);
        } else if (piece.row > 0) {
            const QString value =
                GetMergeFieldValue(piece.name, MergeFields.Value(piece.row, 2).toInt(), MergeFields.Value(piece.row, 1).toInt(), *row_);
            out += html ? htmlValue(value) : value;
        }
    }
    return out;
}

void Form20::SendMessages()
{
    ui::SetMousePointer(ui::vbHourglass);
    SentCount = 0;
    SkippedRows.clear();
    MergeNs = PrepareNs = SendNs = 0;
    const bool noCopy = chkDoNotStoreToSentItems->isChecked();
    const ui::XArrayDB& ex = *composer_.ex;
    const int lb = ex.LowerBound(1), ub = ex.UpperBound(1);
    const QString templ = composer_.txtMsg->toPlainText();
    const QString replyTo = composer_.txtReplyTo->text();
    const QString account = composer_.SendingAccount();
    const mail::MailItemPtr mi = composer_.mi;
    const bool html = composer_.MessageFormat() == 1;

    if (ub > 0) {
        ProgressBar1->setRange(0, ub);
        ProgressBar1->setValue(std::max(lb, 0));
    } else {
        ProgressBar1->setRange(0, 1);
        ProgressBar1->setValue(1);
    }

    // Each message is built and written on the batch's threads while the next rows are merged;
    // a row counts as sent once its message is on disk in the Outbox.
    mail::SendBatch batch;
    auto take = [&](const QList<mail::SendBatch::Result>& results) {
        for (const mail::SendBatch::Result& r : results) {
            if (r.error.isEmpty()) ++SentCount;
            else SkippedRows.append({r.tag, ex.Value(r.tag, 1).toString(), r.error});
        }
    };
    QElapsedTimer clock;
    for (int i = lb; i <= ub; ++i) {
        ProgressBar1->setValue(i);
        ProgressBar1->repaint();  // a repaint only: no other window event runs during the walk
        bool numeric = false;
        if (ex.Value(i, 4).toString().trimmed().toDouble(&numeric) != -1 || !numeric) continue;

        const QString address = ex.Value(i, 1).toString();
        try {
            clock.start();
            if (!OutlookApp || !mi) throw mail::MailError(QStringLiteral("The mail host is not running."));
            const mail::MailItemPtr item = OutlookApp->CreateItem(mail::olMailItem);
            for (int j = 1; j <= mi->Attachments().Count(); ++j) item->Attachments().Add(mi->Attachments().Item(j));
            for (int k = 1; k <= mi->ReplyRecipients().Count(); ++k)
                item->ReplyRecipients().Add(mi->ReplyRecipients().Item(k)->Address());
            copyRecipients(mi, item, mail::olBCC);
            copyRecipients(mi, item, mail::olCC);
            item->SetSubject(mi->Subject());
            try {
                // Every address of the box, however many were typed.
                if (!replyTo.trimmed().isEmpty())
                    for (const mail::AddressEntry& a : mail::SplitAddressLine(replyTo))
                        item->ReplyRecipients().Add(recipientText(mail::Recipient(a.Name(), a.Address(), mail::olTo)));
            } catch (const std::exception&) {
            }
            item->Recipients().Add(address);
            item->SetImportance(mi->Importance());
            item->SetReadReceiptRequested(mi->ReadReceiptRequested());
            item->SetSensitivity(mi->Sensitivity());
            const qint64 id = qint64(ex.Value(i, 5).toString().trimmed().toDouble());
            PrepareNs += clock.nsecsElapsed();

            clock.start();
            const QString body = BuildMessage(id, templ);
            MergeNs += clock.nsecsElapsed();

            clock.start();
            if (html) item->SetHTMLBody(body);
            else item->SetBody(body);
            if (noCopy) item->SetDeleteAfterSubmit(true);
            item->SetSendUsingAccount(account);
            PrepareNs += clock.nsecsElapsed();

            clock.start();
            batch.Send(item, i);
            take(batch.TakeResults());
            SendNs += clock.nsecsElapsed();
        } catch (const std::exception& e) {
            SkippedRows.append({i, address, QString::fromUtf8(e.what())});
        }
    }
    clock.start();
    take(batch.Finish());
    SendNs += clock.nsecsElapsed();
    // Refusals come as each row is handed over, write failures once its message is done.
    std::stable_sort(SkippedRows.begin(), SkippedRows.end(), [](const SkippedRow& a, const SkippedRow& b) { return a.row < b.row; });
    ui::SetMousePointer(ui::vbArrow);

    if (!SkippedRows.isEmpty()) {
        QString text = QStringLiteral("%1 of the recipients were skipped and not sent the message:\n").arg(SkippedRows.size());
        for (int k = 0; k < SkippedRows.size() && k < kListedSkips; ++k)
            text += QStringLiteral("\n%1 (row %2): %3")
                        .arg(mail::send::ShowHiddenCharacters(SkippedRows[k].address))
                        .arg(SkippedRows[k].row)
                        .arg(SkippedRows[k].reason);
        if (SkippedRows.size() > kListedSkips)
            text += QStringLiteral("\n... and %1 more.").arg(SkippedRows.size() - kListedSkips);
        if (SentCount > 0) text += QStringLiteral("\n\n%1 messages were queued for sending.").arg(SentCount);
        ui::MsgBox(text, ui::vbCritical);
    }
}

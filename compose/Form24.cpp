#include "compose/Form24.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include "compose/frmCompose.h"
#include "core/FormUtilities.h"
#include "platform/mail/MailItem.h"

namespace {
int px(double twips) { return qRound(twips / 15.0); }

QLabel* label(QWidget* parent, const QString& text, double left, double top, double width, double height)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(px(left), px(top), px(width), px(height));
    return l;
}
} // namespace

Form24::Form24(frmCompose& composer, QWidget* parent) : QDialog(parent), composer_(composer)
{
    setWindowTitle(QStringLiteral("Message Characteristics"));
    const char* captions[] = {"Message Format:", "Message Importance:", "Message Sensitivity:", "Request Read Receipt:",
                              "Send Using:", "Sending To:"};
    // The values stand right of the widest caption and take the rest of the row, so no caption
    // is cut at any font; the window widens only when the values would get too little room.
    double captionWidth = 1800;
    for (const char* c : captions) captionWidth = std::max(captionWidth, (fontMetrics().horizontalAdvance(QString::fromLatin1(c)) + 4) * 15.0);
    const double valueLeft = std::max(2040.0, 180 + captionWidth + 60);
    const double width = std::max(4935.0, valueLeft + 1800 + 180);
    setFixedSize(px(width), px(4125));
    Label1 = label(this, QString(), 780, 240, 3975, 600);
    Label1->setWordWrap(true);
    QLabel** captionLabels[] = {&Label2, &Label3, &Label4, &Label5, &Label6, &Label8};
    QLabel** values[] = {&ctlMessageFormat, &ctlMessageImportance, &ctlMessageSensitivity, &ctlRequestReadReceipt,
                         &ctlSendUsing, &ctlSentTo};
    for (int i = 0; i < 6; ++i) {
        *captionLabels[i] = label(this, QString::fromLatin1(captions[i]), 180, 1140 + 300 * i, captionWidth, 255);
        *values[i] = label(this, QString(), valueLeft, 1140 + 300 * i, width - valueLeft - 180, 255);
    }
    Label7 = label(this, QStringLiteral("Do You Wish To Continue?"), 180, 3120, 4500, 255);
    Command1 = new QPushButton(QStringLiteral("&Yes"), this);
    Command1->setGeometry(px(2280), px(3540), px(1215), px(375));
    Command2 = new QPushButton(QStringLiteral("&No"), this);
    Command2->setGeometry(px(3600), px(3540), px(1215), px(375));
    lblAgain = label(this, QString(), 180, 3120, width - 360, 255);
    lblAgain->setWordWrap(true);
    lblAgain->hide();
    connect(Command1, &QPushButton::clicked, this, &Form24::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form24::Command2_Click);
    Form_Load();
}

void Form24::Form_Load()
{
    CenterForm(*this);
    Cancelled = -1;
    const mail::MailItemPtr& mi = composer_.mi;
    ctlMessageFormat->setText(composer_.MessageFormat() == 1 ? QStringLiteral("HTML") : QStringLiteral("TEXT"));
    const int importance = mi ? mi->Importance() : 1;
    ctlMessageImportance->setText(importance == 1 ? QStringLiteral("NORMAL") : importance == 2 ? QStringLiteral("HIGH") : QStringLiteral("LOW"));
    const int sensitivity = mi ? mi->Sensitivity() : 0;
    ctlMessageSensitivity->setText(sensitivity == 1   ? QStringLiteral("PERSONAL")
                                   : sensitivity == 2 ? QStringLiteral("PRIVATE")
                                   : sensitivity == 3 ? QStringLiteral("CONFIDENTIAL")
                                                      : QStringLiteral("NORMAL"));
    ctlRequestReadReceipt->setText(mi && mi->ReadReceiptRequested() ? QStringLiteral("YES") : QStringLiteral("NO"));
    // The account that will really send.
    ctlSendUsing->setText(composer_.SendingAccount());
    ctlSentTo->setText(QString::number(composer_.SendToCount()) + QStringLiteral(" RECIPIENTS"));
    Label1->setText(QStringLiteral("The Bulk Mail Message Will Be Sent With The Following Characteristics."));
    if (composer_.QueuedMessages() > 0) {
        // Room for the warning: the question and the buttons move down, the window grows.
        lblAgain->setText(QStringLiteral("This message already went to the Outbox from this window (%1 %2, the last at %3). "
                                         "Yes puts it in the Outbox again for all %4 recipients, so whoever had it gets it again.")
                              .arg(composer_.QueuedMessages())
                              .arg(composer_.QueuedMessages() == 1 ? QStringLiteral("message") : QStringLiteral("messages"),
                                   QLocale().toString(composer_.LastQueuedAt().time(), QStringLiteral("HH:mm:ss")))
                              .arg(composer_.SendToCount()));
        const int h = lblAgain->heightForWidth(lblAgain->width());
        lblAgain->resize(lblAgain->width(), h);
        lblAgain->show();
        for (QWidget* w : {static_cast<QWidget*>(Label7), static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2)})
            w->move(w->x(), w->y() + h + px(120));
        setFixedSize(width(), height() + h + px(120));
        CenterForm(*this);
        Command1->setAutoDefault(false);
        Command2->setDefault(true);
        Command2->setFocus();
    }
}

void Form24::Command1_Click()
{
    Cancelled = 0;
    hide();
}

void Form24::Command2_Click()
{
    Cancelled = -1;
    hide();
}

void Form24::closeEvent(QCloseEvent* e)
{
    // The close box answers No and only hides the dialog.
    e->ignore();
    Cancelled = -1;
    hide();
}

#include "compose/Form15.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "compose/frmCompose.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "platform/mail/MailItem.h"

namespace {
int px(double twips) { return qRound(twips / 15.0); }

template <size_t N>
void radios(QGroupBox* frame, std::array<QRadioButton*, N>& out, const std::array<const char*, N>& captions)
{
    auto* group = new QButtonGroup(frame);
    // Below the frame's title, whatever the font.
    const QRect inside = frame->contentsRect();
    for (size_t i = 0; i < N; ++i) {
        out[i] = new QRadioButton(QString::fromLatin1(captions[i]), frame);
        out[i]->setGeometry(px(120), inside.top() + 1 + px(285 * double(i)), std::min(px(1600), inside.right() - px(120)), px(255));
        group->addButton(out[i], int(i));
    }
}
} // namespace

Form15::Form15(frmCompose& composer, QWidget* parent) : QDialog(parent), composer_(composer)
{
    setWindowTitle(QStringLiteral("Message Properties"));
    setFixedSize(px(5940), px(4770));
    auto* heading = new QLabel(QStringLiteral("Specify Mail Message Properties:"), this);
    heading->setGeometry(px(180), px(120), px(5000), px(255));

    auto* frameFormat = new QGroupBox(QStringLiteral("Message Format"), this);
    frameFormat->setGeometry(px(180), px(540), px(1800), px(960));
    radios<2>(frameFormat, chkFormat, {"Text", "HTML"});
    auto* frameImportance = new QGroupBox(QStringLiteral("Importance"), this);
    frameImportance->setGeometry(px(2070), px(540), px(1800), px(1245));
    radios<3>(frameImportance, chkImportance, {"Low", "Normal", "High"});
    auto* frameSensitivity = new QGroupBox(QStringLiteral("Sensitivity"), this);
    frameSensitivity->setGeometry(px(3960), px(540), px(1800), px(1530));
    radios<4>(frameSensitivity, chkSensitivity, {"Normal", "Personal", "Private", "Confidential"});

    chkReadReceipt = new QCheckBox(QStringLiteral("Request Read Receipt"), this);
    chkReadReceipt->setGeometry(px(180), px(2250), px(3000), px(255));
    auto* label1 = new QLabel(QStringLiteral("Send Using:"), this);
    label1->setGeometry(px(180), px(2760), px(1200), px(255));
    cmbSendUsing = new QComboBox(this);
    cmbSendUsing->setEditable(true);
    cmbSendUsing->setGeometry(px(1440), px(2700), px(4300), px(315));

    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command1->setGeometry(px(3240), px(4200), px(1215), px(375));
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setGeometry(px(4560), px(4200), px(1215), px(375));
    connect(Command1, &QPushButton::clicked, this, &Form15::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form15::Command2_Click);
    Form_Load();
}

void Form15::Form_Load()
{
    CenterForm(*this);
    for (int i = 1; i <= MailAccountCount && i < MailAccounts.size(); ++i)
        cmbSendUsing->addItem(MailAccounts.at(i).toString());

    const mail::MailItemPtr& mi = composer_.mi;
    chkFormat[composer_.MessageFormat() != 0 ? 1 : 0]->setChecked(true);
    const int importance = mi ? mi->Importance() : 1;
    chkImportance[importance == 1 ? 1 : importance == 2 ? 2 : 0]->setChecked(true);
    const int sensitivity = mi ? mi->Sensitivity() : 0;
    chkSensitivity[sensitivity >= 1 && sensitivity <= 3 ? size_t(sensitivity) : 0]->setChecked(true);
    chkReadReceipt->setChecked(mi && mi->ReadReceiptRequested());
    cmbSendUsing->setEditText(composer_.MessageSendUsing());
}

void Form15::Command1_Click()
{
    composer_.SetMessageFormat(chkFormat[1]->isChecked() ? 1 : 0);
    if (const mail::MailItemPtr& mi = composer_.mi) {
        mi->SetImportance(chkImportance[1]->isChecked() ? 1 : chkImportance[2]->isChecked() ? 2 : 0);
        mi->SetSensitivity(chkSensitivity[1]->isChecked() ? 1 : chkSensitivity[2]->isChecked() ? 2 : chkSensitivity[3]->isChecked() ? 3 : 0);
        mi->SetReadReceiptRequested(chkReadReceipt->isChecked());
    }
    composer_.SetMessageSendUsing(cmbSendUsing->currentText());
    accept();
}

void Form15::Command2_Click() { reject(); }

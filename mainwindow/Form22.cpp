#include "mainwindow/Form22.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "core/FormUtilities.h"
#include "platform/ui/ThemeIcon.h"
#include "platform/ui/UiServices.h"

namespace {
QLabel* plainLabel(QWidget* parent, int x, int y, int w, int h)
{
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setGeometry(x, y, w, h);
    return l;
}
} // namespace

Form22::Form22(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    resize(440, 250);
    Image1 = new QLabel(this);
    Image1->setGeometry(16, 16, 48, 48);
    Image1->setPixmap(ui::ThemeIcon(QStringLiteral("mail-send"), QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    lblAppName = plainLabel(this, 80, 16, 340, 30);
    QFont big = lblAppName->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lblAppName->setFont(big);
    lblVersion = plainLabel(this, 80, 50, 340, 20);
    lblNotice1 = plainLabel(this, 80, 84, 340, 40);
    lblNotice2 = plainLabel(this, 80, 128, 340, 56);
    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setGeometry(334, 206, 90, 30);
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &Form22::Command1_Click);
    Form_Load();
}

bool Form22::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form22::Form_Load()
{
    CenterForm(*this);
    lblAppName->setText(QStringLiteral("Ferrowyn"));
    lblNotice1->setText(QStringLiteral("Ferrowyn is built on the Qt, SQLite, GMime and libcurl libraries."));
    lblNotice2->setText(QStringLiteral("Each of these libraries is the work of its own authors and is used under its own licence."));
    lblVersion->setText(QStringLiteral("Software Version 1.00 - 08/02/2001"));
}

void Form22::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form22::Command1_Click() { accept(); }

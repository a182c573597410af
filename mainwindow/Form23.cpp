#include "mainwindow/Form23.h"

#include <QLabel>
#include <QVBoxLayout>

#include "core/FormUtilities.h"

Form23::Form23(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Scanning Outlook Folders"));
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Scanning Outlook Folders...."), this);
    // Folder names come from the mail store.
    Label1->setTextFormat(Qt::PlainText);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    resize(360, 90);
    Form_Load();
}

void Form23::Form_Load() { CenterForm(*this); }

void Form23::SetWindowTitle(const QString& title) { setWindowTitle(title); }

void Form23::SetLabelTitle(const QString& text) { Label1->setText(text); }

QString Form23::LabelText() const { return Label1->text(); }

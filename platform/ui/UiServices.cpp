#include "platform/ui/UiServices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStandardPaths>
#include <memory>
#include <utility>

#include "platform/ui/CommonDialog.h"
#include "platform/ui/WindowPlacement.h"

namespace ui {

namespace {

// Long enough for a program that cannot open the file to say so, too short for one to show it and
// be closed by the user.
int g_openerQuickFailureMs = 3000;

// Why the opener failed, from its documented exit status.
QString openerFailure(int code, QProcess::ExitStatus status)
{
    if (status != QProcess::NormalExit) return QStringLiteral("xdg-open stopped unexpectedly.");
    switch (code) {
    case 2:
        return QStringLiteral("The file is not there.");
    case 3:
        return QStringLiteral("No program to open files of this type was found.");
    case 4:
        return QStringLiteral("The program that opens it reported a failure.");
    case 5:
        return QStringLiteral("The file cannot be read.");
    default:
        return QStringLiteral("xdg-open ended with status %1.").arg(code);
    }
}

// Whether xdg-open's end says the file could not be opened. Without a desktop session it runs the
// program in the foreground and passes on that program's failure as status 4, also when the
// program fails long after it showed the file.
bool openerFailed(int code, QProcess::ExitStatus status, qint64 elapsedMs)
{
    if (status != QProcess::NormalExit) return true;
    if (code == 4) return elapsedMs < g_openerQuickFailureMs;
    return code != 0;
}

// xdg-open, run so that its status is seen. It may last as long as the program it started (it
// does without a desktop session), so it is not waited for: its end gives the verdict.
bool startOpener(const QString& path, QString* reason, std::function<void(const QString&)> failedLater)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        *reason = QStringLiteral("No program to open files with was found: xdg-open (package xdg-utils) is not installed.");
        return false;
    }
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({path});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    auto started = std::make_shared<QElapsedTimer>();
    QObject::connect(process, &QProcess::finished, process,
                     [process, started, failedLater = std::move(failedLater)](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (openerFailed(code, status, started->elapsed()) && failedLater) failedLater(openerFailure(code, status));
                     });
    started->start();
    process->start();
    if (process->waitForStarted()) return true;
    *reason = QStringLiteral("xdg-open could not be started: ") + process->errorString();
    delete process;
    return false;
}

// A message box that fits its screen: a text too long for it scrolls, the buttons stay in view.
class FittingMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* e) override
    {
        QMessageBox::showEvent(e);    // sizes the box to the whole text
        if (!e->spontaneous()) fitScreen();
    }

private:
    void fitScreen()
    {
        const QRect area = ScreenArea(*this);
        const QMargins frame = FrameMargins(*this);
        const int room = area.height() - frame.top() - frame.bottom();
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (area.isEmpty() || height() <= room || !label || !layout() || label->parentWidget() != this) return;
        auto* scroll = new QScrollArea(this);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        // The box is as wide as its lines already (or wraps them): only the height scrolls.
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        delete layout()->replaceWidget(label, scroll);
        scroll->setWidget(label);
        // As wide as the text was, with room for the scroll bar where the screen has it.
        const int bar = scroll->verticalScrollBar()->sizeHint().width();
        const int width = qMin(this->width() + bar, area.width() - frame.left() - frame.right());
        setFixedSize(width, room);
        scroll->show();
        layout()->activate();
        CenterInScreenArea(*this);
    }
};

class QtUi : public UiServices {
public:
    int messageBox(const QString& prompt, int style, const QString& title) override
    {
        FittingMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(title);
        box.setText(prompt);
        box.setTextFormat(Qt::PlainText);
        const int icon = style & 0x70;
        box.setIcon(icon == vbCritical      ? QMessageBox::Critical
                    : icon == vbQuestion    ? QMessageBox::Question
                    : icon == vbInformation ? QMessageBox::Information
                    : icon == 48            ? QMessageBox::Warning
                                            : QMessageBox::NoIcon);
        if ((style & 0x7) == vbYesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
        } else if ((style & 0x7) == vbYesNoCancel) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::Cancel);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        const int r = box.exec();
        if (r == QMessageBox::Yes) return vbYes;
        if (r == QMessageBox::No) return vbNo;
        if (r == QMessageBox::Cancel) return vbCancel;
        return vbOK;
    }

    int showModal(QDialog* dialog) override { return dialog->exec(); }

    bool commonDialog(CommonDialog& d, int kind) override
    {
        if (kind == 2) {
            QPrintDialog dlg(&printer(), QApplication::activeWindow());
            return dlg.exec() == QDialog::Accepted;
        }
        QFileDialog dlg(QApplication::activeWindow(), d.DialogTitle);
        dlg.setNameFilters(d.qtFilters());
        const QStringList filters = d.qtFilters();
        if (d.FilterIndex >= 1 && d.FilterIndex <= filters.size())
            dlg.selectNameFilter(filters.at(d.FilterIndex - 1));
        if (!d.InitDir.isEmpty()) dlg.setDirectory(d.InitDir);
        if (!d.FileName.isEmpty()) dlg.selectFile(d.FileName);
        if (kind == 1) {
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            dlg.setFileMode(QFileDialog::AnyFile);
            if (!(d.Flags & CommonDialog::cdlOFNOverwritePrompt))
                dlg.setOption(QFileDialog::DontConfirmOverwrite);
        } else {
            dlg.setAcceptMode(QFileDialog::AcceptOpen);
            dlg.setFileMode(QFileDialog::ExistingFile);
        }
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
        d.FileName = dlg.selectedFiles().first();
        d.FilterIndex = filters.indexOf(dlg.selectedNameFilter()) + 1;
        return true;
    }

    bool openDocument(const QString& path, QString* reason, std::function<void(const QString&)> failedLater) override
    {
        return startOpener(path, reason, std::move(failedLater));
    }

    QPrinter& printer() override
    {
        if (!printer_) printer_ = std::make_unique<QPrinter>();
        return *printer_;
    }

    void setMousePointer(int pointer) override
    {
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
        if (pointer == vbHourglass) QApplication::setOverrideCursor(Qt::WaitCursor);
        else if (pointer == vbArrow) QApplication::setOverrideCursor(Qt::ArrowCursor);
        pointer_ = pointer;
    }
    int mousePointer() const override { return pointer_; }

private:
    std::unique_ptr<QPrinter> printer_;
    int pointer_ = vbDefault;
};

UiServices* g_installed = nullptr;

} // namespace

UiServices& services()
{
    if (g_installed) return *g_installed;
    static QtUi production;
    return production;
}

void setServices(UiServices* s) { g_installed = s; }

int MsgBox(const QString& prompt, int style, const QString& title)
{
    return services().messageBox(prompt, style, title.isEmpty() ? QString::fromLatin1(kProductName) : title);
}

int ShowModal(QDialog* dialog) { return services().showModal(dialog); }
bool OpenDocument(const QString& path, OpenFailure onFailure)
{
    auto tell = [path, onFailure](const QString& reason) {
        if (onFailure == OpenFailure::Silent) return;
        MsgBox(QStringLiteral("The file %1 could not be opened.  %2").arg(path, reason), vbCritical);
    };
    QString reason;
    if (services().openDocument(path, &reason, tell)) return true;
    tell(reason);
    return false;
}
int SetOpenerQuickFailureMs(int ms) { return std::exchange(g_openerQuickFailureMs, ms); }
QPrinter& Printer() { return services().printer(); }
void SetMousePointer(int pointer) { services().setMousePointer(pointer); }
int GetMousePointer() { return services().mousePointer(); }
void DoEvents() { QCoreApplication::processEvents(); }

} // namespace ui

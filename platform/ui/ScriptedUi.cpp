#include "platform/ui/ScriptedUi.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPointer>
#include <QTimer>

namespace ui {

ScriptedUi::ScriptedUi() = default;
ScriptedUi::~ScriptedUi() = default;

namespace {

void standInBox(QWidget* over, const QString& title)
{
    QDialog box(over);
    box.setWindowTitle(title);
    box.setModal(true);
    // A turn to take activation, one for what follows from it, one to be answered.
    QPointer<QWidget> previous;
    QTimer::singleShot(0, &box, [&box, &previous] {
        previous = QApplication::activeWindow();
        QApplication::setActiveWindow(&box);
        QTimer::singleShot(0, &box, [&box] { QTimer::singleShot(0, &box, [&box] { box.accept(); }); });
    });
    box.exec();
    const QWidget* now = QApplication::activeWindow();
    if (previous && (!now || now == &box)) QApplication::setActiveWindow(previous);
}

} // namespace

int ScriptedUi::messageBox(const QString& prompt, int style, const QString& title)
{
    QWidget* active = QApplication::activeWindow();
    boxes.append({prompt, style, title, active ? active->windowTitle() : QString()});
    if (boxesTakeActivation) standInBox(active, title);
    if (!boxAnswers.isEmpty()) return boxAnswers.dequeue();
    return (style & 0x7) == vbYesNo || (style & 0x7) == vbYesNoCancel ? vbYes : vbOK;
}

int ScriptedUi::showModal(QDialog* dialog)
{
    const QString cls = QString::fromLatin1(dialog->metaObject()->className());
    dialogsShown.append(cls);
    const auto it = dialogHandlers.constFind(cls);
    if (it == dialogHandlers.constEnd()) return QDialog::Rejected;
    return it.value()(dialog);
}

bool ScriptedUi::commonDialog(CommonDialog& dialog, int kind)
{
    files.append({kind, dialog.Filter, dialog.FileName});
    if (kind == 2) {
        if (!fileAnswers.isEmpty() && fileAnswers.dequeue().isEmpty()) return false;
        return true;
    }
    if (fileAnswers.isEmpty()) return false;
    const QString answer = fileAnswers.dequeue();
    if (answer.isEmpty()) return false;
    dialog.FileName = answer;
    return true;
}

bool ScriptedUi::openDocument(const QString& path, QString* reason, std::function<void(const QString&)> failedLater)
{
    openedDocuments.append(path);
    openDocumentFailedLater = std::move(failedLater);
    if (!openDocumentResult) *reason = openDocumentReason;
    return openDocumentResult;
}

QPrinter& ScriptedUi::printer()
{
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setOutputFormat(QPrinter::PdfFormat);
        const QString home = qEnvironmentVariable("FERROWYN_HOME", QDir::tempPath());
        printer_->setOutputFileName(home + QStringLiteral("/printed.pdf"));
    }
    return *printer_;
}

void ScriptedUi::setMousePointer(int pointer)
{
    pointer_ = pointer;
    pointerHistory.append(pointer);
}

void ScriptedUi::clear()
{
    boxAnswers.clear();
    boxesTakeActivation = false;
    fileAnswers.clear();
    dialogHandlers.clear();
    boxes.clear();
    files.clear();
    dialogsShown.clear();
    openedDocuments.clear();
    pointerHistory.clear();
    openDocumentResult = true;
    openDocumentReason = defaultOpenDocumentReason();
    openDocumentFailedLater = nullptr;
}

} // namespace ui

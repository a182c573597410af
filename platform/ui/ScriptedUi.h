#pragma once
// Test double of the user-interface services: answers are queued before the code under test
// asks, and every question asked is recorded for the test to check.
#include <QHash>
#include <QList>
#include <QPrinter>
#include <QQueue>
#include <QStringList>
#include <functional>
#include <memory>

#include "platform/ui/CommonDialog.h"
#include "platform/ui/UiServices.h"

namespace ui {

class ScriptedUi : public UiServices {
public:
    struct AskedBox {
        QString prompt;
        int style;
        QString title;
        QString over;  // the title of the window it came up over (the active one)
    };
    struct AskedFile {
        int kind;
        QString filter;
        QString fileName;
    };

    ScriptedUi();
    ~ScriptedUi() override;

    // Queued answers; a message box with no queued answer gets OK (or Yes for Yes/No and Yes/No/Cancel boxes).
    QQueue<int> boxAnswers;
    // When set, each message box also comes up as the desktop's does: a modal window of the active
    // window's that takes activation and runs its own event loop for a few turns before it is
    // answered; then activation goes back to the window that had it before the box, as a window
    // manager gives it back.
    bool boxesTakeActivation = false;
    // Queued file names for the common dialog; an empty string means "cancelled".
    QQueue<QString> fileAnswers;
    // Handler per dialog class name: drives the dialog through its public procedures and
    // returns the result code. A dialog without a handler returns QDialog::Rejected.
    QHash<QString, std::function<int(QDialog*)>> dialogHandlers;

    QList<AskedBox> boxes;
    QList<AskedFile> files;
    QStringList dialogsShown;
    QStringList openedDocuments;
    // false: the opener could not be started, for openDocumentReason.
    bool openDocumentResult = true;
    QString openDocumentReason = defaultOpenDocumentReason();
    // The last open's report that its opener ended in failure, for a test to call.
    std::function<void(const QString&)> openDocumentFailedLater;
    QList<int> pointerHistory;

    int messageBox(const QString& prompt, int style, const QString& title) override;
    int showModal(QDialog* dialog) override;
    bool commonDialog(CommonDialog& dialog, int kind) override;
    bool openDocument(const QString& path, QString* reason, std::function<void(const QString&)> failedLater) override;
    QPrinter& printer() override;
    void setMousePointer(int pointer) override;
    int mousePointer() const override { return pointer_; }

    // The last message box's prompt, or empty.
    QString lastPrompt() const { return boxes.isEmpty() ? QString() : boxes.last().prompt; }
    void clear();

private:
    static QString defaultOpenDocumentReason() { return QStringLiteral("No program to open files of this type was found."); }
    std::unique_ptr<QPrinter> printer_;
    int pointer_ = vbDefault;
};

} // namespace ui

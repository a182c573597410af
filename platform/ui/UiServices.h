#pragma once
// The services every window goes through for anything that would wait on a person or reach the
// desktop: message boxes, modal dialogs, file and printer dialogs, opening files, the mouse pointer.
// The production implementation talks to Qt; tests install ScriptedUi and answer in advance.
#include <QString>
#include <functional>

class QDialog;
class QPrinter;
class QWidget;

namespace ui {

// Message box styles and answers, with the values the windows use.
enum MsgBoxStyle {
    vbOKOnly = 0,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbInformation = 64,
};
enum MsgBoxResult { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// Mouse pointers.
enum MousePointer { vbDefault = 0, vbArrow = 1, vbHourglass = 11 };

class CommonDialog;

// What a caller of OpenDocument does when the file cannot be opened.
enum class OpenFailure { Tell, Silent };

class UiServices {
public:
    virtual ~UiServices() = default;
    virtual int messageBox(const QString& prompt, int style, const QString& title) = 0;
    // Shows the dialog modally and returns its result code.
    virtual int showModal(QDialog* dialog) = 0;
    // kind: 0 open, 1 save, 2 printer. Returns false when the user cancelled.
    virtual bool commonDialog(CommonDialog& dialog, int kind) = 0;
    // Hands the file to the desktop's opener, which starts the program for its type. False, with
    // the reason, when the opener could not be started; when it started and then fails,
    // failedLater gets the reason.
    virtual bool openDocument(const QString& path, QString* reason, std::function<void(const QString& reason)> failedLater) = 0;
    virtual QPrinter& printer() = 0;
    virtual void setMousePointer(int pointer) = 0;
    virtual int mousePointer() const = 0;
};

// The services in force; the production ones unless a test installed others.
UiServices& services();
// Installs s (not owned); nullptr restores the production services.
void setServices(UiServices* s);

// The product name every message box is titled with unless a caller gives another.
inline constexpr const char* kProductName = "Ferrowyn";

int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString());
int ShowModal(QDialog* dialog);
// Opens the file with the program the desktop gives its type; true when the opener started.
// Unless the caller keeps silent, a failure, at once or when the opener ends, is told in a
// message box that names the file and the reason.
bool OpenDocument(const QString& path, OpenFailure onFailure = OpenFailure::Tell);
// How soon after its start xdg-open's status 4 (the program it started reported a failure) means
// that the file was not opened; later, that program showed the file and then ended in error, which
// is no failure to open. Returns the time in force before; tests shorten it.
int SetOpenerQuickFailureMs(int ms);
QPrinter& Printer();
// Sets the pointer; it does not stack, so one call with vbArrow ends any hourglass.
void SetMousePointer(int pointer);
int GetMousePointer();
// Lets pending window events run; only where the program deliberately yields.
void DoEvents();

} // namespace ui

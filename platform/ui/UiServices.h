#pragma once
// The services every window goes through for anything that would wait on a person or reach the
// desktop: message boxes, modal dialogs, file and printer dialogs, opening files, the mouse pointer.
// The production implementation talks to Qt; tests install ScriptedUi and answer in advance.
#include <QString>

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

class UiServices {
public:
    virtual ~UiServices() = default;
    virtual int messageBox(const QString& prompt, int style, const QString& title) = 0;
    // Shows the dialog modally and returns its result code.
    virtual int showModal(QDialog* dialog) = 0;
    // kind: 0 open, 1 save, 2 printer. Returns false when the user cancelled.
    virtual bool commonDialog(CommonDialog& dialog, int kind) = 0;
    virtual bool openDocument(const QString& path) = 0;
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
bool OpenDocument(const QString& path);
QPrinter& Printer();
// Sets the pointer; it does not stack, so one call with vbArrow ends any hourglass.
void SetMousePointer(int pointer);
int GetMousePointer();
// Lets pending window events run; only where the program deliberately yields.
void DoEvents();

} // namespace ui

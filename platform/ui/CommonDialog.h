#pragma once
// The common dialog: open, save and printer set-up, with the properties the windows set.
#include <QString>

namespace ui {

class CommonDialog {
public:
    // Flags the windows use.
    enum Flags {
        cdlOFNOverwritePrompt = 0x2,
        cdlOFNHideReadOnly = 0x4,
        cdlOFNPathMustExist = 0x800,
        cdlOFNFileMustExist = 0x1000,
    };

    QString DialogTitle;
    // "Text files (*.txt)|*.txt|All files (*.*)|*.*": description and pattern pairs.
    QString Filter;
    int FilterIndex = 1;
    QString FileName;
    QString InitDir;
    int Flags = 0;
    bool CancelError = false;
    // Set by the last Show...: true when the user cancelled.
    bool Cancelled = false;

    // Each returns false when the user cancelled (FileName is then unchanged).
    bool ShowOpen();
    bool ShowSave();
    bool ShowPrinter();

    // The Filter as Qt name filters ("Text files (*.txt)").
    QStringList qtFilters() const;
};

} // namespace ui

#include "platform/ui/CommonDialog.h"

#include <QStringList>

#include "platform/ui/UiServices.h"

namespace ui {

QStringList CommonDialog::qtFilters() const
{
    QStringList out;
    const QStringList parts = Filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" means every file on the system the filters were written for.
        patterns.replace(QLatin1String("*.*"), QLatin1String("*"));
        // The description often names its patterns already, in the other system's form: show ours once.
        QString description = parts.at(i).trimmed();
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
            description = description.left(description.lastIndexOf(QLatin1Char('('))).trimmed();
        out << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return out;
}

bool CommonDialog::ShowOpen()
{
    Cancelled = !services().commonDialog(*this, 0);
    return !Cancelled;
}

bool CommonDialog::ShowSave()
{
    Cancelled = !services().commonDialog(*this, 1);
    return !Cancelled;
}

bool CommonDialog::ShowPrinter()
{
    Cancelled = !services().commonDialog(*this, 2);
    return !Cancelled;
}

} // namespace ui

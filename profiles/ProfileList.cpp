#include "profiles/ProfileList.h"

#include <QListWidget>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "platform/db/Connection.h"
#include "platform/ui/UiServices.h"

void FillProfileList(QListWidget& list)
{
    list.clear();
    try {
        db::Statement st = DBConnection().Prepare(QStringLiteral("SELECT RecID, Description FROM Profiles ORDER BY Description;"));
        st.Exec();
        while (st.Next()) {
            auto* item = new QListWidgetItem(NullToString(st.Value(1)).toString(), &list);
            item->setData(Qt::UserRole, NullToZero(st.Value(0)).toLongLong());
        }
    } catch (const db::DbError& e) {
        list.clear();
        ui::MsgBox(QStringLiteral("The profiles could not be read.\n") + e.message(), ui::vbCritical);
    }
    list.setCurrentRow(-1);
    list.clearSelection();
}

qint64 SelectedProfile(const QListWidget& list)
{
    const QListWidgetItem* item = list.currentItem();
    return item && item->isSelected() ? item->data(Qt::UserRole).toLongLong() : 0;
}

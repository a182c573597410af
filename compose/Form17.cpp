#include "compose/Form17.h"

#include <QKeyEvent>
#include <QTextEdit>

#include "compose/frmCompose.h"
#include "core/FormUtilities.h"
#include "core/MergeFields.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/UiServices.h"

namespace {
int px(double twips) { return qRound(twips / 15.0); }
}

Form17::Form17(frmCompose& composer, QWidget* parent) : QDialog(parent), composer_(composer)
{
    setWindowTitle(QStringLiteral("Insert Field"));
    setFixedSize(px(3330), px(4785));
    TDBGrid1 = new ui::DataGrid(this);
    for (int i = 0; i < 3; ++i) {
        ui::DataGridColumn& c = TDBGrid1->Columns().Add(QString());
        c.SetLocked(true);
        if (i > 0) c.SetVisible(false);  // id and type are not for the user
    }
    TDBGrid1->Columns(0).SetWidthPixels(px(3330) - 40);
    TDBGrid1->SetMultiSelect(ui::DataGrid::dbgMultiSelectNone);
    connect(TDBGrid1, &ui::DataGrid::DblClick, this, &Form17::TDBGrid1_DblClick);
    Form_Load();
}

void Form17::Form_Load()
{
    CenterForm(*this);
    TDBGrid1->setGeometry(0, 0, width(), height());
    MergeFields = std::make_shared<ui::XArrayDB>();
    try {
        LoadMergeFieldList(*MergeFields);
    } catch (const std::exception&) {
        // An unreadable Config leaves an empty list to pick from.
    }
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(MergeFields);
    TDBGrid1->ReBind();
}

bool Form17::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) ui::SetMousePointer(ui::vbArrow);
    return QDialog::event(e);
}

void Form17::Form_KeyDown(int KeyCode, int)
{
    if (KeyCode == 27) reject();
}

void Form17::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) Form_KeyDown(27, 0);
    else QDialog::keyPressEvent(e);
}

void Form17::AddField()
{
    const QVariant bookmark = TDBGrid1->Bookmark();
    if (bookmark.isNull()) throw std::out_of_range("no current row");
    const QString tag = QStringLiteral("<%") + MergeFields->Value(bookmark.toInt(), 0).toString().trimmed() + QStringLiteral(">");
    composer_.txtMsg->textCursor().insertText(tag);
}

void Form17::TDBGrid1_DblClick()
{
    try {
        AddField();
    } catch (const std::exception&) {
        return;
    }
    accept();
}

// Writing e-mail addresses to a text file: the selected addresses, the selected messages'
// correspondents, or every address of a list folder; one quoted address a line.
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>

#include <memory>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form23.h"
#include "platform/db/Recordset.h"
#include "platform/ui/CommonDialog.h"
#include "platform/ui/UiServices.h"

namespace {
// Collects the lines and writes the file only once all are there: a failure leaves any earlier
// file of that name as it was.
class ExportFile {
public:
    explicit ExportFile(QString path) : path_(std::move(path)) {}

    void Add(const QString& value)
    {
        // Quotes inside are doubled, so the line reads back as the one value it is.
        QByteArray v = value.toUtf8();
        if (v.contains('"')) v.replace("\"", "\"\"");
        text_ += '"';
        text_ += v;
        text_ += "\"\r\n";
    }

    bool Commit()
    {
        QSaveFile f(path_);
        if (f.open(QIODevice::WriteOnly) && f.write(text_) == text_.size() && f.commit()) return true;
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("The addresses could not be written to ") + path_ + QStringLiteral(".  ") + f.errorString(),
                   ui::vbCritical);
        return false;
    }

private:
    QString path_;
    QByteArray text_;  // UTF-8
};

// The progress window of one export, shown only when there is something to write.
std::unique_ptr<Form23> showProgress(int count)
{
    if (count < 1) return nullptr;
    auto form = std::make_unique<Form23>();
    form->ProgressBar1->setMinimum(1);
    form->ProgressBar1->setMaximum(count);
    form->SetLabelTitle(QStringLiteral("Exporting Addresses....."));
    form->SetWindowTitle(QStringLiteral("Export"));
    form->show();
    ui::DoEvents();
    return form;
}

// The bar moves in hundredths, and at most every few hundredths of a second: it paints on
// every change, and a hundred paints would cost more than a large export.
void advance(Form23* form, int value, QElapsedTimer& lastPaint)
{
    if (!form) return;
    const int max = form->ProgressBar1->maximum();
    const int step = qMax(1, max / 100);
    if (value == max || (value % step == 0 && (!lastPaint.isValid() || lastPaint.elapsed() >= 40))) {
        form->ProgressBar1->setValue(value);
        lastPaint.start();
    }
}

void closeProgress(std::unique_ptr<Form23>& form)
{
    if (form) form->close();
    form.reset();
}

bool exportSelection(ui::DataGrid* grid, const ui::XArrayDB& rows, int column, const QString& fName)
{
    ui::SetMousePointer(ui::vbHourglass);
    auto& sel = grid->SelBookmarks();
    const int n = sel.Count();
    std::unique_ptr<Form23> progress = showProgress(n);
    ExportFile file(fName);
    QElapsedTimer lastPaint;
    for (int k = 0; k < n; ++k) {
        advance(progress.get(), k + 1, lastPaint);
        const int row = int(Val(sel.Item(k).toString()));
        file.Add(rows.Value(row, column).toString());
    }
    const bool ok = file.Commit();
    closeProgress(progress);
    ui::SetMousePointer(ui::vbArrow);
    return ok;
}
} // namespace

void Form1::ExportAddresses(const QVariant& nMode)
{
    ui::CommonDialog CommonDialog1;
    CommonDialog1.CancelError = true;
    CommonDialog1.Filter = QStringLiteral("CSV Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*");
    CommonDialog1.Flags = ui::CommonDialog::cdlOFNOverwritePrompt | ui::CommonDialog::cdlOFNHideReadOnly;
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.FileName = QStringLiteral("export.csv");
    if (!CommonDialog1.ShowSave()) return;
    const QString fName = CommonDialog1.FileName;
    const QString mode = nMode.toString();
    // The file is replaced as a whole when the writer has every line, not deleted beforehand.
    if (mode == QLatin1String("1")) ExportAddressesBulkPopup(fName);
    else if (mode == QLatin1String("3")) ExportAddressesBulkFolderPopup(fName);
    else if (mode == QLatin1String("2")) ExportAddressesEmailPopup(fName);
    else QFile::remove(fName);
}

// The grids' rows must not change under the export while its progress window lets events run.
bool Form1::ExportAddressesBulkPopup(const QString& fName)
{
    BusyScope busy(this);
    return exportSelection(TDBGrid2, *ex, 1, fName);
}

bool Form1::ExportAddressesEmailPopup(const QString& fName)
{
    BusyScope busy(this);
    return exportSelection(TDBGrid1, *xa, 4, fName);
}

bool Form1::ExportAddressesBulkFolderPopup(const QString& fName)
{
    ui::SetMousePointer(ui::vbHourglass);
    ui::TreeNode* node = TreeView1->SelectedItem();
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    // The same rows in the same order as the folder's grid reads them, but only the column
    // written: reading every column of a large list costs many times the export itself.
    if (IsTopLevelNode(node)) {
        sql.SetSql(QStringLiteral("SELECT Email FROM MasterList ORDER By Email;"));
    } else {
        const QString id = QStringLiteral(" ") + QString::number(FolderRecIDFromKey(node->Key()));
        sql.SetSql(QStringLiteral("SELECT MasterList.Email ") +
                   QStringLiteral("FROM MasterList INNER JOIN ListMembers ON MasterList.RecID = ListMembers.MasterRecID ") +
                   QStringLiteral("WHERE ListMembers.FolderRecID = ") + id + QStringLiteral(" ORDER BY MasterList.Email; "));
    }
    db::Recordset rs;
    if (!sql.GetRecordsetRO(rs)) {
        // Nothing could be read: say so and leave any file of that name alone.
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(sql.ErrorMessage(), ui::vbCritical);
        return false;
    }
    const int count = int(rs.RecordCount());
    std::unique_ptr<Form23> progress = showProgress(count);
    ExportFile file(fName);
    int counter = 0;
    QElapsedTimer lastPaint;
    const int email = rs.FieldIndex(QStringLiteral("eMail"));
    while (!rs.Eof()) {
        ++counter;
        advance(progress.get(), counter, lastPaint);
        file.Add(NullToString(rs.Fields(email)).toString());
        rs.MoveNext();
    }
    rs.Close();
    const bool ok = file.Commit();
    closeProgress(progress);
    ui::SetMousePointer(ui::vbArrow);
    return ok;
}

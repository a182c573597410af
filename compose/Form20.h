#pragma once
// "Send Bulk Mail": on Continue, one personalised message per included row of the composer's
// send-to list, each queued in the Outbox through the account the composer shows. A row the
// mail host or the merge refuses is skipped and listed at the end; the others go on.
#include <QDialog>
#include <QHash>
#include <QList>
#include <memory>

#include "platform/ui/XArrayDB.h"

class QCheckBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class frmCompose;
namespace db {
class Recordset;
class Statement;
}

class Form20 : public QDialog {
    Q_OBJECT
public:
    Form20(frmCompose& composer, QWidget* parent = nullptr);
    ~Form20() override;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QCheckBox* chkDoNotStoreToSentItems = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();

    void SendMessages();
    // The template with every merge tag replaced by the row's value, in one pass from the start:
    // merged values are never read again for tags, and a "<%" without a ">" after it stays as
    // written. In HTML format values are escaped and their line breaks become <br>. Throws
    // std::exception when the row cannot be read for a tag that needs it.
    QString BuildMessage(qint64 MasterRecID, const QString& OriginalMessage);

    struct SkippedRow {
        int row;
        QString address;
        QString reason;
    };
    // What the last SendMessages did.
    int SentCount = 0;
    QList<SkippedRow> SkippedRows;
    // Time spent in the last SendMessages on its own thread, nanoseconds: merging, filling the
    // items, sending (handing each message over and waiting for the writes on the batch's threads).
    qint64 MergeNs = 0, PrepareNs = 0, SendNs = 0;

protected:
    bool event(QEvent* e) override;

private:
    // A template read once for many rows: its text between tags, and each tag's name with its
    // row of MergeFields (0: in no row).
    struct MergePiece {
        qsizetype from = 0, length = 0;  // text of the template
        bool tag = false;
        QString name;
        int row = 0;
    };
    void planMerge(const QString& templ);

    frmCompose& composer_;
    ui::XArrayDB MergeFields;
    QHash<QString, int> fieldRow_;  // upper-cased name -> first row of MergeFields
    QString mergeTemplate_;
    QList<MergePiece> mergePieces_;
    std::unique_ptr<db::Statement> rowQuery_;  // the recipient's MasterList row, by RecID
    std::unique_ptr<db::Recordset> row_;
};

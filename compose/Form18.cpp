#include "compose/Form18.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "compose/frmCompose.h"
#include "core/FormUtilities.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/UiServices.h"

namespace {
constexpr double kTw = 15.0;
int px(double twips) { return qRound(twips / kTw); }
double tw(int pixels) { return pixels * kTw; }

QPixmap picture(int w, int h, bool tick, bool envelope)
{
    QPixmap p(w, h);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setPen(QPen(Qt::black, 1));
    if (envelope) {
        g.drawRect(1, 3, w - 3, h - 7);
        g.drawLine(1, 3, w / 2, h / 2);
        g.drawLine(w / 2, h / 2, w - 2, 3);
    } else if (tick) {
        g.setPen(QPen(Qt::darkGreen, 2));
        g.drawLine(4, h / 2, w / 2 - 2, h - 5);
        g.drawLine(w / 2 - 2, h - 5, w - 4, 4);
    }
    return p;
}
} // namespace

Form18::Form18(frmCompose& composer, QWidget* parent) : QDialog(parent), composer_(composer)
{
    setWindowTitle(QStringLiteral("Sending To..."));
    resize(px(9120), px(8250));
    TDBGrid1 = new ui::DataGrid(this);
    TDBGrid1->setGeometry(0, 0, px(9120), px(7200));
    auto& cols = TDBGrid1->Columns();
    ui::DataGridColumn& envelope = cols.Add(QString());
    envelope.SetColumnStyle(ui::DataGridColumn::Picture);
    envelope.ValueItems().append({QStringLiteral("-1"), picture(17, 16, false, true), QString()});
    envelope.SetWidthPixels(24);
    envelope.SetLocked(true);
    ui::DataGridColumn& send = cols.Add(QStringLiteral("Send"));
    send.SetColumnStyle(ui::DataGridColumn::Picture);
    send.ValueItems().append({QStringLiteral("-1"), picture(21, 20, true, false), QString()});
    send.ValueItems().append({QStringLiteral("0"), picture(21, 20, false, false), QString()});
    send.SetCycleOnClick(true);
    send.SetWidthPixels(44);
    for (const char* caption : {"Email Address", "Company / Name", "City, State"}) {
        ui::DataGridColumn& c = cols.Add(QString::fromLatin1(caption));
        c.SetWidth(2880);
        c.SetLocked(true);  // only the checks are for changing
    }
    ui::DataGridColumn& recId = cols.Add(QString());
    recId.SetVisible(false);
    recId.SetLocked(true);
    // The Send column's click is the one change the grid takes.
    TDBGrid1->SetAllowUpdate(true);
    Label1 = new QLabel(this);
    Label1->setTextFormat(Qt::PlainText);
    Label1->resize(px(6000), px(255));
    CommandApply = new QPushButton(QStringLiteral("Apply"), this);
    CommandApply->resize(px(1215), px(375));
    CommandCancel = new QPushButton(QStringLiteral("Cancel"), this);
    CommandCancel->resize(px(1215), px(375));
    connect(CommandApply, &QPushButton::clicked, this, &Form18::CommandApply_Click);
    connect(CommandCancel, &QPushButton::clicked, this, &Form18::CommandCancel_Click);
    connect(TDBGrid1, &ui::DataGrid::MouseDown, this, [this](int, int, double, double y) {
        const int r = TDBGrid1->RowContaining(y);
        if (r >= 0) try { TDBGrid1->SetRow(r); } catch (const std::exception&) {}
    });
    Form_Load();
}

void Form18::Form_Load()
{
    const double gridWidth = tw(TDBGrid1->width());
    for (int i = 0; i < 3; ++i) ratio_[i] = TDBGrid1->Columns(2 + i).Width() / gridWidth;
    Label1->setText(QStringLiteral("*Click On The Checks To Include/Exclude Addresses."));
    const ui::XArrayDB& ex = *composer_.ex;
    GridArray = std::make_shared<ui::XArrayDB>();
    GridArray->ReDim(1, ex.UpperBound(1), 0, 5);
    for (int i = ex.LowerBound(1); i <= ex.UpperBound(1); ++i) {
        GridArray->SetValue(i, 0, QStringLiteral("-1"));
        GridArray->SetValue(i, 1, ex.Value(i, 4));
        GridArray->SetValue(i, 2, ex.Value(i, 1));
        GridArray->SetValue(i, 3, ex.Value(i, 2));
        GridArray->SetValue(i, 4, ex.Value(i, 3));
        GridArray->SetValue(i, 5, ex.Value(i, 5));
    }
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->SetArray(GridArray);
    TDBGrid1->ReBind();
    CenterForm(*this);
    Form_Resize();
}

bool Form18::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) ui::SetMousePointer(ui::vbArrow);
    return QDialog::event(e);
}

void Form18::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    Form_Resize();
}

void Form18::Form_Resize()
{
    if (!CommandCancel) return;
    const double w = tw(width()), h = tw(height());
    const double cancelTop = h - tw(CommandCancel->height()) - 10 * kTw;
    const double cancelLeft = w - tw(CommandCancel->width()) - 10 * kTw;
    if (cancelTop < 0 || cancelLeft < 0) return;
    CommandCancel->move(px(cancelLeft), px(cancelTop));
    const double applyLeft = cancelLeft - 3 * kTw - tw(CommandApply->width());
    if (applyLeft < 0) return;
    CommandApply->move(px(applyLeft), px(cancelTop));
    const double gridHeight = cancelTop - 10 * kTw;
    if (gridHeight < 0) return;
    TDBGrid1->setGeometry(0, 0, width(), px(gridHeight));
    for (int i = 0; i < 3; ++i) TDBGrid1->Columns(2 + i).SetWidth(w * ratio_[i]);
    Label1->move(3, px(gridHeight + 5 * kTw));
}

void Form18::CommandApply_Click()
{
    TDBGrid1->Update();
    ui::XArrayDB& ex = *composer_.ex;
    qint64 count = 0;
    for (int i = ex.LowerBound(1); i <= ex.UpperBound(1); ++i) {
        ex.SetValue(i, 1, GridArray->Value(i, 2));
        ex.SetValue(i, 2, GridArray->Value(i, 3));
        ex.SetValue(i, 3, GridArray->Value(i, 4));
        ex.SetValue(i, 4, GridArray->Value(i, 1));
        ex.SetValue(i, 5, GridArray->Value(i, 5));
        bool ok = false;
        if (GridArray->Value(i, 1).toString().trimmed().toInt(&ok) == -1 && ok) ++count;
    }
    composer_.SetSendToCount(count);
    accept();
}

void Form18::CommandCancel_Click() { reject(); }

#include "platform/ui/DataGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDateTime>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtDebug>

#include <cmath>
#include <stdexcept>
#include <string>

#include "platform/ui/TextBox.h"
#include "platform/ui/WindowPlacement.h"

namespace ui {

namespace {

DataGrid::DragRunner& dragRunner()
{
    static DataGrid::DragRunner runner;
    return runner;
}

constexpr int kButtonWidth = 16;

// Null as the program writes it: a valid QVariant that is null (Empty is an invalid one).
QVariant nullBookmark() { return QVariant(QMetaType(QMetaType::Nullptr)); }

int bookmarkNumber(const QVariant& bookmark)
{
    if (bookmark.isNull() || !bookmark.isValid())
        throw std::invalid_argument("Invalid bookmark");
    bool ok = false;
    const int n = bookmark.toInt(&ok);
    if (ok)
        return n;
    const double d = bookmark.toString().trimmed().toDouble(&ok);
    if (!ok)
        throw std::invalid_argument("Invalid bookmark");
    return int(std::lround(d));
}

bool cellTicked(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    return ok && d != 0;
}

// The cell value for a tick, in the kind the cell held before (numbers stay numbers).
QVariant tickValue(const QVariant& old, bool ticked)
{
    switch (old.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Double:
        return QVariant(ticked ? -1 : 0);
    case QMetaType::Bool:
        return QVariant(ticked);
    default:
        return QVariant(ticked ? QStringLiteral("-1") : QStringLiteral("0"));
    }
}

// Dates show as the user's locale writes them, the way a date cell reads in any other program.
QString cellText(const QVariant& v)
{
    if (v.isNull())
        return QString();
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return QLocale().toString(v.toDateTime(), QLocale::ShortFormat);
    case QMetaType::QDate:
        return QLocale().toString(v.toDate(), QLocale::ShortFormat);
    case QMetaType::QTime:
        return QLocale().toString(v.toTime(), QLocale::ShortFormat);
    default:
        return v.toString();
    }
}

int matchingValueItem(const QList<DataGridValueItem>& items, const QVariant& v)
{
    const QString text = v.toString();
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).Value.toString() == text)
            return i;
    }
    return -1;
}

} // namespace

// The table model reads the array in place; it caches only the number of rows, which changes on
// ReBind/Refresh, so a shrunken array that was not yet rebound shows empty cells instead of failing.
class DataGridModel : public QAbstractTableModel {
public:
    explicit DataGridModel(DataGrid* grid) : QAbstractTableModel(grid), m_grid(grid) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : m_grid->Columns().Count();
    }

    QVariant cell(int row, int col) const
    {
        const XArrayDB* a = m_grid->Array().get();
        if (!a)
            return {};
        const int r = a->LowerBound(1) + row;
        const int c = a->LowerBound(2) + col;
        if (!a->ContainsRow(r) || !a->ContainsCol(c))
            return {};
        return a->Value(r, c);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.column() >= m_grid->Columns().Count())
            return {};
        const DataGridColumn& col = m_grid->Columns().Item(index.column());
        switch (col.ColumnStyle()) {
        case DataGridColumn::CheckBox:
            if (role == Qt::CheckStateRole)
                return cellTicked(cell(index.row(), index.column())) ? Qt::Checked : Qt::Unchecked;
            return {};
        case DataGridColumn::Picture: {
            if (role != Qt::DecorationRole && role != Qt::DisplayRole)
                return {};
            const int i = matchingValueItem(col.ValueItems(), cell(index.row(), index.column()));
            if (i < 0)
                return {};
            const DataGridValueItem& item = col.ValueItems().at(i);
            if (role == Qt::DecorationRole)
                return item.Picture.isNull() ? QVariant() : QVariant(item.Picture);
            return item.DisplayValue.isEmpty() ? QVariant() : QVariant(item.DisplayValue);
        }
        case DataGridColumn::Text:
            break;
        }
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return cellText(cell(index.row(), index.column()));
        return {};
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!index.isValid() || role != Qt::EditRole)
            return false;
        XArrayDB* a = m_grid->Array().get();
        if (!a)
            return false;
        const int r = a->LowerBound(1) + index.row();
        const int c = a->LowerBound(2) + index.column();
        if (!a->ContainsRow(r) || !a->ContainsCol(c))
            return false;
        a->SetValue(r, c, value);
        Q_EMIT dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (m_grid->cellEditable(index)
            && m_grid->Columns().Item(index.column()).ColumnStyle() == DataGridColumn::Text)
            f |= Qt::ItemIsEditable;
        return f;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < m_grid->Columns().Count())
            return m_grid->Columns().Item(section).Caption();
        if (orientation == Qt::Vertical && role == Qt::DisplayRole)
            return m_grid->bookmarkOfModelRow(section);
        return {};
    }

    void reset(int rows)
    {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    void rowChanged(int row)
    {
        if (row >= 0 && row < m_rows && columnCount() > 0)
            Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    int rows() const { return m_rows; }

private:
    DataGrid* m_grid;
    int m_rows = 0;
};

// Paints the selection from SelBookmarks (not Qt's selection model, which would not keep the
// order) and the drop-down button; edits cells with a line editor limited to the column's width.
class DataGridDelegate : public QStyledItemDelegate {
public:
    explicit DataGridDelegate(DataGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (m_grid->isModelRowSelected(index.row()))
            option->state |= QStyle::State_Selected;
        else
            option->state &= ~QStyle::State_Selected;
        // One line per row, whatever the cell holds.
        option->features &= ~QStyleOptionViewItem::WrapText;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (index.column() < m_grid->Columns().Count() && m_grid->Columns().Item(index.column()).DropDown()
            && index.row() == m_grid->currentModelRow()) {
            QStyleOptionButton button;
            const int w = qMin(kButtonWidth, option.rect.width());
            button.rect = QRect(option.rect.right() - w + 1, option.rect.top(), w, option.rect.height());
            button.state = QStyle::State_Enabled | QStyle::State_Raised;
            m_grid->style()->drawControl(QStyle::CE_PushButton, &button, painter, m_grid);
            QStyleOption arrow;
            arrow.rect = button.rect.adjusted(3, 3, -3, -3);
            arrow.state = QStyle::State_Enabled;
            m_grid->style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, painter, m_grid);
        }
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        // The limit holds for typing only: a longer value already in the cell is edited whole.
        auto* edit = new TextBox(parent);
        edit->setFrame(false);
        edit->SetMaxLength(m_grid->Columns().Item(index.column()).DataWidth());
        edit->installEventFilter(m_grid);
        m_grid->m_editor = edit;
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        static_cast<QLineEdit*>(editor)->setText(index.data(Qt::EditRole).toString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        model->setData(index, static_cast<QLineEdit*>(editor)->text(), Qt::EditRole);
    }

private:
    DataGrid* m_grid;
};

// ---- columns ----

void DataGridColumn::SetCaption(const QString& caption)
{
    m_caption = caption;
    m_grid->applyColumn(*this);
}

double DataGridColumn::Width() const { return m_widthPx * kTwipsPerPixel; }

void DataGridColumn::SetWidth(double twips)
{
    if (twips < 0)
        return;
    SetWidthPixels(int(std::lround(twips / kTwipsPerPixel)));
}

int DataGridColumn::WidthPixels() const { return m_widthPx; }

void DataGridColumn::SetWidthPixels(int pixels)
{
    if (pixels < 0)
        return;
    m_widthPx = pixels;
    m_grid->applyColumn(*this);
}

void DataGridColumn::SetVisible(bool visible)
{
    m_visible = visible;
    m_grid->applyColumn(*this);
}

void DataGridColumn::SetColumnStyle(Style style)
{
    m_style = style;
    m_grid->applyColumn(*this);
}

DataGridDropDown* DataGridColumn::DropDown() const { return m_dropDown.data(); }

void DataGridColumn::SetDropDown(DataGridDropDown* dropDown)
{
    m_dropDown = dropDown;
    if (dropDown && !dropDown->m_grids.contains(m_grid))
        dropDown->m_grids.append(m_grid);
    m_grid->applyColumn(*this);
    m_grid->fitDropDownColumns();
}

DataGridColumn& DataGridColumns::Item(int index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("No column " + std::to_string(index));
    return *m_columns[size_t(index)];
}

DataGridColumn& DataGridColumns::Add(const QString& caption)
{
    m_columns.push_back(std::unique_ptr<DataGridColumn>(new DataGridColumn(m_grid, Count())));
    DataGridColumn& col = *m_columns.back();
    col.m_caption = caption;
    m_grid->columnsChanged();
    return col;
}

void DataGridColumns::Clear()
{
    m_columns.clear();
    m_grid->columnsChanged();
}

// ---- selection ----

QVariant DataGridSelBookmarks::Item(int index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("No selected bookmark " + std::to_string(index));
    return m_order.at(index);
}

void DataGridSelBookmarks::Add(const QVariant& bookmark)
{
    const int row = bookmarkNumber(bookmark);
    const XArrayDB* a = m_grid->Array().get();
    if (!a || !a->ContainsRow(row))
        throw std::out_of_range("No row " + std::to_string(row));
    if (m_rows.contains(row))
        return;
    m_rows.insert(row);
    m_order.append(row);
    m_grid->selectionChanged();
}

void DataGridSelBookmarks::Remove(int index)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("No selected bookmark " + std::to_string(index));
    m_rows.remove(m_order.at(index));
    m_order.removeAt(index);
    m_grid->selectionChanged();
}

void DataGridSelBookmarks::Clear()
{
    if (m_order.isEmpty())
        return;
    m_order.clear();
    m_rows.clear();
    m_grid->selectionChanged();
}

// ---- grid ----

DataGrid::DataGrid(QWidget* parent)
    : QTableView(parent), m_model(new DataGridModel(this)), m_columns(this), m_selBookmarks(this)
{
    setModel(m_model);
    setItemDelegate(new DataGridDelegate(this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::DoubleClicked);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    viewport()->setMouseTracking(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->viewport()->installEventFilter(this);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        fire([&] { Q_EMIT HeadClick(section); });
    });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section < m_columns.Count() && size > 0)
            m_columns.Item(section).m_widthPx = size;
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                const QVariant row = current.isValid() ? QVariant(bookmarkOfModelRow(current.row())) : nullBookmark();
                const int col = current.isValid() ? current.column() : -1;
                if (row.isNull() == m_lastRow.isNull() && row.toInt() == m_lastRow.toInt() && col == m_lastCol)
                    return;
                const QVariant lastRow = m_lastRow;
                const int lastCol = m_lastCol;
                m_lastRow = row;
                m_lastCol = col;
                viewport()->update();
                fire([&] { Q_EMIT RowColChange(lastRow, lastCol); });
            });
}

DataGrid::~DataGrid() = default;

template <typename F> void DataGrid::fire(F&& emitter)
{
    // A window's handler failing must not unwind through Qt's event dispatch.
    try {
        emitter();
    } catch (const std::exception& e) {
        qWarning("Unhandled error in a grid event handler: %s", e.what());
    }
}

void DataGrid::SetArray(std::shared_ptr<XArrayDB> array)
{
    if (array != m_array)
        ++m_rowsRead;
    m_array = std::move(array);
}

void DataGrid::rebind(bool force)
{
    const int rows = m_array ? m_array->Count(1) : 0;
    if (!force && rows == m_model->rows()) {
        viewport()->update();
        return;
    }
    const QVariant current = Bookmark();
    const int col = Col();
    ++m_rowsRead;
    m_model->reset(rows);
    for (int i = 0; i < m_columns.Count(); ++i)
        applyColumn(m_columns.Item(i));
    // Selected rows the array no longer has are dropped: nothing could show or read them.
    for (int i = m_selBookmarks.Count() - 1; i >= 0; --i) {
        if (!m_array || !m_array->ContainsRow(m_selBookmarks.m_order.at(i))) {
            m_selBookmarks.m_rows.remove(m_selBookmarks.m_order.at(i));
            m_selBookmarks.m_order.removeAt(i);
        }
    }
    const int row = current.isNull() ? -1 : modelRowOf(current);
    if (row >= 0)
        selectionModel()->setCurrentIndex(m_model->index(row, qMax(col, 0)), QItemSelectionModel::NoUpdate);
    viewport()->update();
}

void DataGrid::ReBind()
{
    rebind(true);
    fitDropDownColumns();
}

void DataGrid::Refresh() { rebind(false); }

void DataGrid::RefetchRow(const QVariant& bookmark)
{
    const int row = modelRowOf(bookmark);
    if (row < 0)
        throw std::out_of_range("No row for bookmark");
    m_model->rowChanged(row);
}

void DataGrid::Update()
{
    if (QWidget* editor = m_editor) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

int DataGrid::bookmarkOfModelRow(int modelRow) const { return (m_array ? m_array->LowerBound(1) : 0) + modelRow; }

int DataGrid::modelRowOf(const QVariant& bookmark) const
{
    if (!m_array)
        return -1;
    int n = 0;
    try {
        n = bookmarkNumber(bookmark);
    } catch (const std::invalid_argument&) {
        return -1;
    }
    const int row = n - m_array->LowerBound(1);
    return row >= 0 && row < m_model->rows() ? row : -1;
}

bool DataGrid::isModelRowSelected(int modelRow) const { return m_selBookmarks.Contains(bookmarkOfModelRow(modelRow)); }

int DataGrid::currentModelRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

QVariant DataGrid::Bookmark() const
{
    const QModelIndex cur = currentIndex();
    return cur.isValid() ? QVariant(bookmarkOfModelRow(cur.row())) : nullBookmark();
}

void DataGrid::SetBookmark(const QVariant& bookmark)
{
    if (bookmark.isNull() || !bookmark.isValid()) {
        Update();
        selectionModel()->clearCurrentIndex();
        return;
    }
    const int row = modelRowOf(bookmark);
    if (row < 0)
        throw std::out_of_range("No row for bookmark " + bookmark.toString().toStdString());
    const QModelIndex index = m_model->index(row, qMax(Col(), 0));
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

int DataGrid::Row() const
{
    const int cur = currentModelRow();
    if (cur < 0)
        return -1;
    return cur - qMax(rowAt(0), 0);
}

void DataGrid::SetRow(int row)
{
    const int target = qMax(rowAt(0), 0) + row;
    if (row < 0 || target >= m_model->rows())
        throw std::out_of_range("No row " + std::to_string(row));
    const QModelIndex index = m_model->index(target, qMax(Col(), 0));
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

int DataGrid::Col() const { return currentIndex().isValid() ? currentIndex().column() : -1; }

void DataGrid::SetCol(int col)
{
    if (col < 0 || col >= m_columns.Count())
        throw std::out_of_range("No column " + std::to_string(col));
    const int row = currentModelRow();
    if (row < 0)
        return;
    selectionModel()->setCurrentIndex(m_model->index(row, col), QItemSelectionModel::NoUpdate);
}

int DataGrid::RowContaining(double y) const
{
    const int vy = int(std::floor(y / kTwipsPerPixel)) - viewport()->geometry().top();
    if (vy < 0 || vy >= viewport()->height())
        return -1;
    const int row = rowAt(vy);
    return row < 0 ? -1 : row - qMax(rowAt(0), 0);
}

int DataGrid::ColContaining(double x) const
{
    const int vx = int(std::floor(x / kTwipsPerPixel)) - viewport()->geometry().left();
    if (vx < 0 || vx >= viewport()->width())
        return -1;
    return columnAt(vx);
}

double DataGrid::RowHeight() const { return verticalHeader()->defaultSectionSize() * kTwipsPerPixel; }

void DataGrid::SetRowHeight(double twips)
{
    if (twips <= 0)
        return;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(int(std::lround(twips / kTwipsPerPixel)));
}

void DataGrid::columnsChanged()
{
    Update();
    const int rows = m_model->rows();
    m_model->reset(rows);
    for (int i = 0; i < m_columns.Count(); ++i) {
        m_columns.Item(i).m_index = i;
        applyColumn(m_columns.Item(i));
    }
}

void DataGrid::applyColumn(const DataGridColumn& column)
{
    const int i = column.ColIndex();
    if (i >= m_model->columnCount())
        return;
    setColumnHidden(i, !column.Visible());
    if (column.Visible() && horizontalHeader()->sectionSize(i) != column.m_widthPx)
        horizontalHeader()->resizeSection(i, column.m_widthPx);
    Q_EMIT m_model->headerDataChanged(Qt::Horizontal, i, i);
    viewport()->update();
}

void DataGrid::selectionChanged() { viewport()->update(); }

void DataGrid::FitColumn(int col, const QStringList& texts)
{
    DataGridColumn& column = m_columns.Item(col);
    // The widest text as the font draws it, then the cell around it as the style draws it.
    const QFontMetrics metrics(font());
    const QString* widest = nullptr;
    int widestAdvance = -1;
    for (const QString& t : texts) {
        const int advance = metrics.horizontalAdvance(t);
        if (advance > widestAdvance) {
            widestAdvance = advance;
            widest = &t;
        }
    }
    if (!widest)
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.text = *widest;
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.features &= ~QStyleOptionViewItem::WrapText;
    const int need = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width()
                     + (showGrid() ? 1 : 0) + (column.DropDown() ? kButtonWidth : 0);
    if (need <= column.WidthPixels())
        return;
    column.SetWidthPixels(need);
    if (isVisible())
        widenWindowToColumns();
    else
        m_widenWindow = true;
}

void DataGrid::fitDropDownColumns()
{
    for (int i = 0; i < m_columns.Count(); ++i) {
        const DataGridDropDown* dd = m_columns.Item(i).DropDown();
        if (!dd || !m_columns.Item(i).Visible())
            continue;
        QStringList texts;
        if (const auto list = dd->Array()) {
            const int c = list->LowerBound(2) + dd->ListField();
            for (int r = list->LowerBound(1); list->ContainsCol(c) && r <= list->UpperBound(1); ++r)
                texts << cellText(list->Value(r, c));
        }
        for (int r = 0; r < m_model->rows(); ++r)
            texts << cellText(m_model->cell(r, i));
        FitColumn(i, texts);
    }
}

int DataGrid::WidthForColumns() const
{
    int width = 2 * frameWidth();
    for (int i = 0; i < m_columns.Count(); ++i)
        if (!isColumnHidden(i))
            width += columnWidth(i);
    if (!verticalHeader()->isHidden())
        width += verticalHeader()->sizeHint().width();
    // The vertical scroll bar takes its room beside the columns whenever it shows.
    const int rowsHigh = m_model->rows() * verticalHeader()->defaultSectionSize();
    const int shownHigh = height() - 2 * frameWidth()
                          - (horizontalHeader()->isHidden() ? 0 : horizontalHeader()->sizeHint().height());
    const bool scrolls = verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn
                         || (verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded && rowsHigh > shownHigh);
    if (scrolls)
        width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    return width;
}

void DataGrid::widenWindowToColumns()
{
    m_widenWindow = false;
    if (window() != this)
        WidenWithinScreenArea(*window(), WidthForColumns() - width());
}

void DataGrid::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    if (m_widenWindow)
        widenWindowToColumns();
}

void DataGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitDropDownColumns();
}

bool DataGrid::cellEditable(const QModelIndex& index) const
{
    return m_allowUpdate && index.isValid() && index.column() < m_columns.Count()
           && !m_columns.Item(index.column()).Locked();
}

QRect DataGrid::dropDownButtonRect(const QModelIndex& index) const
{
    const QRect cell = visualRect(index);
    const int w = qMin(kButtonWidth, cell.width());
    return QRect(cell.right() - w + 1, cell.top(), w, cell.height());
}

QPointF DataGrid::twipsOf(QWidget* from, const QPoint& pos) const
{
    const QPoint p = from->mapTo(this, pos);
    return QPointF(ToTwips(p.x()), ToTwips(p.y()));
}

void DataGrid::applyOwnSelection(int modelRow, Qt::KeyboardModifiers modifiers)
{
    const int row = bookmarkOfModelRow(modelRow);
    // A row shown before the array shrank and before the next rebind cannot be selected.
    if (!m_array || !m_array->ContainsRow(row))
        return;
    switch (m_multiSelect) {
    case dbgMultiSelectSimple:
        if (m_selBookmarks.Contains(row))
            m_selBookmarks.Remove(int(m_selBookmarks.m_order.indexOf(row)));
        else
            m_selBookmarks.Add(row);
        break;
    case dbgMultiSelectExtended:
        if (modifiers & Qt::ShiftModifier && m_anchorRow >= 0 && m_array && m_array->ContainsRow(m_anchorRow)) {
            m_selBookmarks.Clear();
            const int step = row >= m_anchorRow ? 1 : -1;
            for (int r = m_anchorRow;; r += step) {
                m_selBookmarks.Add(r);
                if (r == row)
                    break;
            }
            return;
        }
        if (modifiers & Qt::ControlModifier) {
            if (m_selBookmarks.Contains(row))
                m_selBookmarks.Remove(int(m_selBookmarks.m_order.indexOf(row)));
            else
                m_selBookmarks.Add(row);
        } else {
            m_selBookmarks.Clear();
            m_selBookmarks.Add(row);
        }
        break;
    default:
        return;
    }
    m_anchorRow = row;
}

void DataGrid::clickCell(const QModelIndex& index)
{
    if (!cellEditable(index))
        return;
    const DataGridColumn& col = m_columns.Item(index.column());
    const int row = bookmarkOfModelRow(index.row());
    const int c = m_array->LowerBound(2) + index.column();
    if (!m_array->ContainsRow(row) || !m_array->ContainsCol(c))
        return;
    const QVariant old = m_array->Value(row, c);
    if (col.ColumnStyle() == DataGridColumn::CheckBox) {
        m_model->setData(index, tickValue(old, !cellTicked(old)), Qt::EditRole);
    } else if (col.ColumnStyle() == DataGridColumn::Picture && col.CycleOnClick() && !col.ValueItems().isEmpty()) {
        const int i = matchingValueItem(col.ValueItems(), old);
        m_model->setData(index, col.ValueItems().at((i + 1) % col.ValueItems().size()).Value, Qt::EditRole);
    }
}

void DataGrid::mousePressEvent(QMouseEvent* event)
{
    m_heldPress.reset();
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool onButton = index.isValid() && event->button() == Qt::LeftButton
                          && m_columns.Item(index.column()).DropDown()
                          && dropDownButtonRect(index).contains(event->position().toPoint());
    if (onButton) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        emitMouseDown(*event);
        openDropDown(index.column());
        return;
    }
    QTableView::mousePressEvent(event);
    if (!index.isValid()) {
        emitMouseDown(*event);
        return;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    // A plain press on a row of a several-row selection may start a drag of them all: it acts
    // as a click only when the button comes up without one.
    if (event->button() == Qt::LeftButton && ShiftOf(event->modifiers()) == 0 && m_selBookmarks.Count() > 1
        && m_selBookmarks.Contains(bookmarkOfModelRow(index.row()))) {
        m_heldPress.reset(event->clone());
        m_heldRow = bookmarkOfModelRow(index.row());
        m_heldRowsRead = m_rowsRead;
        return;
    }
    pressed(*event, index);
}

void DataGrid::pressed(const QMouseEvent& event, const QModelIndex& index)
{
    if (event.button() == Qt::LeftButton) {
        applyOwnSelection(index.row(), event.modifiers());
        clickCell(index);
    }
    emitMouseDown(event);
}

void DataGrid::emitMouseDown(const QMouseEvent& event)
{
    const QPointF p = twipsOf(viewport(), event.position().toPoint());
    fire([&] { Q_EMIT MouseDown(ButtonOf(event.button()), ShiftOf(event.modifiers()), p.x(), p.y()); });
}

void DataGrid::mouseMoveEvent(QMouseEvent* event)
{
    QTableView::mouseMoveEvent(event);
    const QPointF p = twipsOf(viewport(), event->position().toPoint());
    fire([&] { Q_EMIT MouseMove(ButtonsOf(event->buttons()), ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void DataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    QTableView::mouseReleaseEvent(event);
    if (m_heldPress && m_heldPress->button() == event->button()) {
        const std::unique_ptr<QMouseEvent> press = std::move(m_heldPress);
        const QModelIndex index = indexAt(press->position().toPoint());
        // Acted on only where the point still shows the row pressed: MouseDown's handlers find
        // the row by the point.
        if (index.isValid() && m_heldRowsRead == m_rowsRead && bookmarkOfModelRow(index.row()) == m_heldRow)
            pressed(*press, index);
    }
    const QPointF p = twipsOf(viewport(), event->position().toPoint());
    fire([&] { Q_EMIT MouseUp(ButtonOf(event->button()), ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void DataGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        fire([&] { Q_EMIT DblClick(); });
}

bool DataGrid::keySwallowed(QKeyEvent* event)
{
    int keyCode = KeyCodeOf(event->key());
    if (keyCode != 0) {
        fire([&] { Q_EMIT KeyDown(keyCode, ShiftOf(event->modifiers())); });
        if (keyCode == 0)
            return true;
    }
    int keyAscii = KeyAsciiOf(*event);
    if (keyAscii != 0) {
        fire([&] { Q_EMIT KeyPress(keyAscii); });
        if (keyAscii == 0)
            return true;
    }
    return false;
}

void DataGrid::focusInEvent(QFocusEvent* event)
{
    // Focus alone does not make a row current: a grid whose bookmark is Null stays so.
    const bool hadCurrent = currentIndex().isValid();
    QTableView::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid())
        selectionModel()->clearCurrentIndex();
}

void DataGrid::keyPressEvent(QKeyEvent* event)
{
    if (keySwallowed(event)) {
        event->accept();
        return;
    }
    const QModelIndex cur = currentIndex();
    const bool openList = event->key() == Qt::Key_F4
                          || (event->key() == Qt::Key_Down && event->modifiers() & Qt::AltModifier);
    if (openList && cur.isValid() && m_columns.Item(cur.column()).DropDown()) {
        openDropDown(cur.column());
        return;
    }
    if (event->key() == Qt::Key_Space && cur.isValid() && m_columns.Item(cur.column()).ColumnStyle() != DataGridColumn::Text) {
        clickCell(cur);
        return;
    }
    // A key that starts an edit is passed on to the new editor: it was already raised here.
    m_inKeyPress = true;
    QTableView::keyPressEvent(event);
    m_inKeyPress = false;
}

bool DataGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editor && event->type() == QEvent::KeyPress && !m_inKeyPress) {
        if (keySwallowed(static_cast<QKeyEvent*>(event)))
            return true;
    }
    if (watched == horizontalHeader()->viewport()
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        auto* me = static_cast<QMouseEvent*>(event);
        const QPointF p = twipsOf(horizontalHeader()->viewport(), me->position().toPoint());
        if (event->type() == QEvent::MouseButtonPress)
            fire([&] { Q_EMIT MouseDown(ButtonOf(me->button()), ShiftOf(me->modifiers()), p.x(), p.y()); });
        else
            fire([&] { Q_EMIT MouseUp(ButtonOf(me->button()), ShiftOf(me->modifiers()), p.x(), p.y()); });
    }
    return QTableView::eventFilter(watched, event);
}

bool DataGrid::PressHeld() const
{
    // Not when the button came up elsewhere (a window that took the mouse meanwhile).
    return m_heldPress && (QGuiApplication::mouseButtons() & m_heldPress->button());
}

void DataGrid::OLEDrag()
{
    // The press that led here was the start of the drag, not a click.
    m_heldPress.reset();
    if (m_dragging)
        return;
    m_dragging = true;
    fire([&] { Q_EMIT OLEStartDrag(); });
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    QStringList rows;
    for (const int r : std::as_const(m_selBookmarks.m_order))
        rows << QString::number(r);
    mime->setData(QString::fromLatin1(kGridRowsMimeType), rows.join(QLatin1Char('\n')).toUtf8());
    drag->setMimeData(mime);
    const Qt::DropAction action = dragRunner() ? dragRunner()(*drag) : drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    drag->deleteLater();
    m_dragging = false;
    const int effect = action == Qt::MoveAction ? vbDropEffectMove : action == Qt::CopyAction ? vbDropEffectCopy : vbDropEffectNone;
    fire([&] { Q_EMIT OLECompleteDrag(effect); });
}

void DataGrid::SetDragRunner(DragRunner runner) { dragRunner() = std::move(runner); }

void DataGrid::openDropDown(int col)
{
    DataGridDropDown* dd = m_columns.Item(col).DropDown();
    if (!dd || !currentIndex().isValid())
        return;
    Update();
    fire([&] { Q_EMIT ButtonClick(col); });
    // A handler may have cleared the row or the list.
    if (!currentIndex().isValid() || m_columns.Item(col).DropDown() != dd)
        return;
    SetCol(col);
    dd->open(this, col);
}

void DataGrid::dropDownPicked(int col, int listRow)
{
    const QModelIndex index = currentIndex().isValid() ? m_model->index(currentIndex().row(), col) : QModelIndex();
    if (!index.isValid() || !cellEditable(index))
        return;
    const auto list = m_columns.Item(col).DropDown()->Array();
    const int c = list ? list->LowerBound(2) + m_columns.Item(col).DropDown()->ListField() : 0;
    if (!list || !list->ContainsRow(listRow) || !list->ContainsCol(c))
        return;
    m_model->setData(index, list->Value(listRow, c), Qt::EditRole);
    fire([&] { Q_EMIT m_columns.Item(col).DropDown()->ItemPicked(listRow); });
    m_model->rowChanged(index.row());
    fire([&] { Q_EMIT ComboSelect(col); });
}

// ---- drop-down ----

DataGridDropDown::DataGridDropDown(QWidget* parent) : QFrame(parent, Qt::Popup), m_list(new DataGrid(this))
{
    setFrameShape(QFrame::Box);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(m_list);
    m_list->SetAllowUpdate(false);
    m_list->SetMultiSelect(DataGrid::dbgMultiSelectNone);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->installEventFilter(this);
    // No captions unless a column is given one: an empty strip would look like an entry. The
    // list is made as wide as its entries when it opens.
    m_list->horizontalHeader()->hide();
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The list's current row follows the pointer; a click picks.
    connect(m_list, &DataGrid::MouseMove, this, [this](int, int, double, double y) {
        const int r = m_list->RowContaining(y);
        if (r >= 0)
            m_list->SetRow(r);
    });
    connect(m_list, &DataGrid::MouseUp, this, [this](int button, int, double, double y) {
        if (button == vbLeftButton && m_list->RowContaining(y) >= 0)
            pick();
    });
    hide();
}

DataGridDropDown::~DataGridDropDown() = default;

void DataGridDropDown::SetArray(std::shared_ptr<XArrayDB> array) { m_list->SetArray(std::move(array)); }
std::shared_ptr<XArrayDB> DataGridDropDown::Array() const { return m_list->Array(); }
void DataGridDropDown::ReBind()
{
    m_list->ReBind();
    for (const QPointer<DataGrid>& grid : std::as_const(m_grids))
        if (grid)
            grid->fitDropDownColumns();
}
DataGridColumns& DataGridDropDown::Columns() { return m_list->Columns(); }
DataGridColumn& DataGridDropDown::Columns(int index) { return m_list->Columns(index); }
double DataGridDropDown::RowHeight() const { return m_list->RowHeight(); }
void DataGridDropDown::SetRowHeight(double twips) { m_list->SetRowHeight(twips); }
QVariant DataGridDropDown::Bookmark() const { return m_list->Bookmark(); }
bool DataGridDropDown::IsOpen() const { return isVisible(); }

void DataGridDropDown::SetHeight(double twips)
{
    if (twips >= 0)
        m_heightTwips = twips;
}

void DataGridDropDown::SetWidth(double twips)
{
    if (twips >= 0)
        m_widthTwips = twips;
}

void DataGridDropDown::open(DataGrid* grid, int col)
{
    m_grid = grid;
    m_gridCol = col;
    const QModelIndex cell = grid->currentIndex();
    const QRect r = grid->visualRect(cell);
    const int w = m_widthTwips > 0 ? int(std::lround(ToPixels(m_widthTwips))) : r.width();
    const int h = m_heightTwips > 0 ? int(std::lround(ToPixels(m_heightTwips)))
                                    : int(std::lround(ToPixels(RowHeight()))) * 8 + 2;
    const QPoint at = grid->viewport()->mapToGlobal(QPoint(r.left(), r.bottom() + 1));
    const int height = qMax(h, 20);
    setGeometry(at.x(), at.y(), fitList(qMax(w, 20), height), height);
    // Start on the entry the cell holds.
    const QString text = cell.data(Qt::EditRole).toString();
    if (const auto a = Array()) {
        const int c = a->LowerBound(2) + m_listField;
        for (int row = a->LowerBound(1); a->ContainsCol(c) && row <= a->UpperBound(1); ++row) {
            if (a->Value(row, c).toString() == text) {
                m_list->SetBookmark(row);
                break;
            }
        }
    }
    show();
    m_list->setFocus();
}

int DataGridDropDown::fitList(int width, int height)
{
    QAbstractItemModel* model = m_list->model();
    bool captions = false;
    int lastShown = -1;
    for (int c = 0; c < Columns().Count(); ++c) {
        if (!Columns(c).Visible())
            continue;
        captions = captions || !Columns(c).Caption().isEmpty();
        lastShown = c;
    }
    m_list->horizontalHeader()->setVisible(captions);
    // What the popup's frame, its margins and the list's frame take on each axis.
    const QMargins margins = layout()->contentsMargins();
    const int frames = 2 * (frameWidth() + m_list->frameWidth()) + margins.left() + margins.right();
    const int shownRows = height - 2 * (frameWidth() + m_list->frameWidth()) - margins.top() - margins.bottom()
                          - (captions ? m_list->horizontalHeader()->sizeHint().height() : 0);
    // Decided here, not left to the view, so that the widths below fit it at once.
    const bool scrolls = model->rowCount() * m_list->verticalHeader()->defaultSectionSize() > shownRows;
    m_list->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    const int scrollBar =
        scrolls ? m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list->verticalScrollBar()) : 0;
    // Every column shows its longest entry whole, as the cells draw it (their margins and the
    // grid line included); the last one also takes what is left over.
    QStyleOptionViewItem option;
    m_list->initViewItemOption(&option);
    const int gridLine = m_list->showGrid() ? 1 : 0;
    int used = frames + scrollBar;
    int lastNeed = 0;
    for (int c = 0; c <= lastShown; ++c) {
        if (!Columns(c).Visible())
            continue;
        int need = 0;
        for (int row = 0; row < model->rowCount(); ++row)
            need = qMax(need, m_list->itemDelegate()->sizeHint(option, model->index(row, c)).width() + gridLine);
        if (c == lastShown) {
            lastNeed = need;
            break;
        }
        if (Columns(c).WidthPixels() < need)
            Columns(c).SetWidthPixels(need);
        used += Columns(c).WidthPixels();
    }
    width = qMax(width, used + lastNeed);
    if (lastShown >= 0)
        Columns(lastShown).SetWidthPixels(width - used);
    return width;
}

void DataGridDropDown::pick()
{
    const QVariant bm = m_list->Bookmark();
    DataGrid* grid = m_grid;
    const int col = m_gridCol;
    Close();
    if (grid && !bm.isNull())
        grid->dropDownPicked(col, bm.toInt());
}

void DataGridDropDown::Close()
{
    hide();
    if (m_grid)
        m_grid->setFocus();
}

bool DataGridDropDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            Close();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            pick();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace ui

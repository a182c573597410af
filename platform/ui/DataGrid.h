#pragma once
// The grid control: a table over an XArrayDB, read in place (no copy of the rows), with columns,
// bookmarks, a selection kept in the order rows were added, drop-down lists and the events the
// windows handle.
//
// The grid's own click selection (MultiSelect) is Extended unless set otherwise: a click selects
// its row alone, Ctrl adds or removes a row, Shift selects from the last clicked row. A window that
// rewrites SelBookmarks in its MouseDown handler sets dbgMultiSelectNone, so clicks only move the
// current row before the handler runs. A plain left press on a row of a several-row selection
// leaves the selection alone, as a drag of all of it may follow: OLEDrag called before the button
// comes up makes it the drag's start; otherwise the press (its selection change and MouseDown) is
// acted on when the button comes up, just before MouseUp. If meanwhile the rows were read again
// (ReBind, a row count Refresh picks up, another array) or scrolled from under the press point,
// the point no longer shows the row pressed, and the press comes to nothing. A window that reads
// its rows again on its own (not at the user's command) waits while PressHeld.
//
// Bookmarks are array row numbers (QVariant holding an int; a text such as "5" is accepted where a
// bookmark is given). Grid column i shows array column LowerBound(2) + i. Positions in events and
// in RowContaining/ColContaining are twips of the grid control (15 twips = 1 pixel).
//
// A drop-down column is as wide as the longest of its list's entries and of its cells' texts, as
// the cells draw them (margins, grid line and the list's button included), whenever the list's or
// the grid's rows are read (ReBind) or the grid's font changes; it is widened, never narrowed. When
// the columns then overflow the shown grid, its window is widened within the screen area, and the
// window's layout gives the grid the room.
//
// Errors the windows trap (a bookmark or row that does not exist, an index outside SelBookmarks)
// throw std::out_of_range or std::invalid_argument. An exception escaping a handler connected to a
// grid signal is caught by the grid and logged, never passed through Qt's event loop.
#include <QFrame>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QTableView>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/DataGridEvents.h"
#include "platform/ui/XArrayDB.h"

class QDrag;

namespace ui {

class DataGrid;
class DataGridDropDown;
class DataGridModel;

// One picture or text a column shows for a cell value.
struct DataGridValueItem {
    QVariant Value;
    QPixmap Picture;
    QString DisplayValue;
};

class DataGridColumn {
public:
    enum Style {
        Text = 0,
        CheckBox = 1, // ticked when the cell's number is not 0; a click writes -1 or 0
        Picture = 2,  // shows the picture of the value item matching the cell
    };

    QString Caption() const { return m_caption; }
    void SetCaption(const QString& caption);
    // Width in twips; a negative width is refused and the column keeps its width.
    double Width() const;
    void SetWidth(double twips);
    int WidthPixels() const;
    void SetWidthPixels(int pixels);
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    // Longest text the person can type into a cell (a longer value is edited whole); 0 for no limit.
    int DataWidth() const { return m_dataWidth; }
    void SetDataWidth(int chars) { m_dataWidth = chars < 0 ? 0 : chars; }
    bool Locked() const { return m_locked; }
    void SetLocked(bool locked) { m_locked = locked; }
    Style ColumnStyle() const { return m_style; }
    void SetColumnStyle(Style style);
    // Value items of a Picture column; with CycleOnClick a click steps the cell to the next value.
    QList<DataGridValueItem>& ValueItems() { return m_valueItems; }
    const QList<DataGridValueItem>& ValueItems() const { return m_valueItems; }
    bool CycleOnClick() const { return m_cycleOnClick; }
    void SetCycleOnClick(bool cycle) { m_cycleOnClick = cycle; }
    // The drop-down list of the column (not owned); its button shows in the column's cells.
    DataGridDropDown* DropDown() const;
    void SetDropDown(DataGridDropDown* dropDown);
    int ColIndex() const { return m_index; }

private:
    friend class DataGrid;
    friend class DataGridColumns;
    DataGridColumn(DataGrid* grid, int index) : m_grid(grid), m_index(index) {}

    DataGrid* m_grid;
    int m_index;
    QString m_caption;
    int m_widthPx = 100;
    bool m_visible = true;
    int m_dataWidth = 0;
    bool m_locked = false;
    Style m_style = Text;
    QList<DataGridValueItem> m_valueItems;
    bool m_cycleOnClick = false;
    QPointer<DataGridDropDown> m_dropDown;
};

class DataGridColumns {
public:
    int Count() const { return int(m_columns.size()); }
    // Throws std::out_of_range for an index outside 0..Count()-1.
    DataGridColumn& Item(int index) const;
    DataGridColumn& operator()(int index) const { return Item(index); }
    // Appends a column and returns it.
    DataGridColumn& Add(const QString& caption = QString());
    void Clear();

private:
    friend class DataGrid;
    explicit DataGridColumns(DataGrid* grid) : m_grid(grid) {}
    DataGrid* m_grid;
    std::vector<std::unique_ptr<DataGridColumn>> m_columns;
};

// The selected rows in the order they were added. Item and Remove take 0-based indexes.
class DataGridSelBookmarks {
public:
    int Count() const { return int(m_order.size()); }
    QVariant Item(int index) const;
    QVariant operator()(int index) const { return Item(index); }
    // Adds a row of the bound array; a row already selected keeps its place. Throws
    // std::out_of_range for a row the array does not have, std::invalid_argument for no number.
    void Add(const QVariant& bookmark);
    void Remove(int index);
    void Clear();
    bool Contains(int row) const { return m_rows.contains(row); }

private:
    friend class DataGrid;
    explicit DataGridSelBookmarks(DataGrid* grid) : m_grid(grid) {}
    DataGrid* m_grid;
    QList<int> m_order;
    QSet<int> m_rows;
};

class DataGrid : public QTableView {
    Q_OBJECT

public:
    enum MultiSelectMode {
        dbgMultiSelectNone = 0,     // clicks change the current row only
        dbgMultiSelectSimple = 1,   // a click adds or removes its row
        dbgMultiSelectExtended = 2, // click, Ctrl-click, Shift-click
    };

    explicit DataGrid(QWidget* parent = nullptr);
    ~DataGrid() override;

    // The array shown; the grid shares it with the window, so it outlives any rebind.
    void SetArray(std::shared_ptr<XArrayDB> array);
    std::shared_ptr<XArrayDB> Array() const { return m_array; }
    // Reads the array's rows and columns anew; the current row stays when it still exists, and
    // selected rows the array no longer has leave SelBookmarks.
    void ReBind();
    // Repaints; picks up a changed number of rows or columns as ReBind does.
    void Refresh();
    // Repaints the one row (its cells are read again from the array).
    void RefetchRow(const QVariant& bookmark);
    void RefreshRow(const QVariant& bookmark) { RefetchRow(bookmark); }
    // Commits a pending cell edit into the array.
    void Update();

    DataGridColumns& Columns() { return m_columns; }
    DataGridColumn& Columns(int index) { return m_columns.Item(index); }
    DataGridSelBookmarks& SelBookmarks() { return m_selBookmarks; }

    // The current row's bookmark; Null (a valid, null QVariant) when there is none. Setting Null
    // or Empty clears the current row.
    QVariant Bookmark() const;
    void SetBookmark(const QVariant& bookmark);
    // Current row relative to the first displayed row; -1 when there is none.
    int Row() const;
    void SetRow(int row);
    // Current column; -1 when there is none.
    int Col() const;
    void SetCol(int col);
    // The displayed row (relative to the first displayed row) at y, -1 where there is none.
    int RowContaining(double y) const;
    int ColContaining(double x) const;

    bool Visible() const { return !isHidden(); }
    void SetVisible(bool visible) { setVisible(visible); }
    // A grid is read-only until its window allows updates: no cell editor opens and no click
    // changes a check or picture cell. Locked columns stay read-only either way.
    bool AllowUpdate() const { return m_allowUpdate; }
    void SetAllowUpdate(bool allow) { m_allowUpdate = allow; }
    int MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(int mode) { m_multiSelect = mode; }
    double RowHeight() const;
    void SetRowHeight(double twips);

    // Widens the column, where need be, to draw each text whole in its cells (see above).
    void FitColumn(int col, const QStringList& texts);
    // The width the grid needs to show every visible column without a horizontal scroll bar.
    int WidthForColumns() const;

    // A plain left press on the selection waits for its release or a drag (see above).
    bool PressHeld() const;

    // Starts a drag of the selected rows: OLEStartDrag, the drag itself, OLECompleteDrag.
    void OLEDrag();
    // How drags run; tests install a runner that stands for the person moving the mouse.
    // nullptr restores QDrag::exec.
    using DragRunner = std::function<Qt::DropAction(QDrag&)>;
    static void SetDragRunner(DragRunner runner);

    // Row number in the array of a displayed row index (model row), and back.
    int bookmarkOfModelRow(int modelRow) const;
    bool isModelRowSelected(int modelRow) const;
    int currentModelRow() const;

Q_SIGNALS:
    void MouseDown(int button, int shift, double x, double y);
    void MouseMove(int button, int shift, double x, double y);
    void MouseUp(int button, int shift, double x, double y);
    void DblClick();
    void HeadClick(int colIndex);
    void OLEStartDrag();
    void OLECompleteDrag(int effect);
    // The drop-down button of a cell was pressed; the list opens after the handlers ran.
    void ButtonClick(int colIndex);
    // An entry of a column's drop-down was picked and written into the cell.
    void ComboSelect(int colIndex);
    // Setting keyCode or keyAscii to 0 swallows the key.
    void KeyDown(int& keyCode, int shift);
    void KeyPress(int& keyAscii);
    void RowColChange(const QVariant& lastRow, int lastCol);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class DataGridColumn;
    friend class DataGridColumns;
    friend class DataGridSelBookmarks;
    friend class DataGridDropDown;
    friend class DataGridDelegate;
    friend class DataGridModel;

    void columnsChanged();
    void applyColumn(const DataGridColumn& column);
    void selectionChanged();
    int modelRowOf(const QVariant& bookmark) const;
    void rebind(bool force);
    bool keySwallowed(QKeyEvent* event);
    void clickCell(const QModelIndex& index);
    void applyOwnSelection(int modelRow, Qt::KeyboardModifiers modifiers);
    void pressed(const QMouseEvent& event, const QModelIndex& index);
    void emitMouseDown(const QMouseEvent& event);
    bool cellEditable(const QModelIndex& index) const;
    QRect dropDownButtonRect(const QModelIndex& index) const;
    void fitDropDownColumns();
    void widenWindowToColumns();
    void openDropDown(int col);
    void dropDownPicked(int col, int listRow);
    QPointF twipsOf(QWidget* from, const QPoint& pos) const;
    template <typename F> void fire(F&& emitter);

    std::shared_ptr<XArrayDB> m_array;
    DataGridModel* m_model;
    DataGridColumns m_columns;
    DataGridSelBookmarks m_selBookmarks;
    bool m_allowUpdate = false;
    int m_multiSelect = dbgMultiSelectExtended;
    int m_anchorRow = -1;
    bool m_inKeyPress = false;
    bool m_dragging = false;
    QVariant m_lastRow = QVariant(QMetaType(QMetaType::Nullptr));
    int m_lastCol = -1;
    QPointer<QWidget> m_editor;
    std::unique_ptr<QMouseEvent> m_heldPress;  // a press on the selection, until a drag or its release
    int m_heldRow = 0;                          // the row it was made on
    int m_heldRowsRead = 0;                     // m_rowsRead when it was made
    int m_rowsRead = 0;                         // counts the times the rows were read anew
    bool m_widenWindow = false;                 // a column was widened while the grid was hidden
};

// A drop-down list attached to grid columns: its own array and columns, shown as a popup under
// the cell whose button was pressed.
class DataGridDropDown : public QFrame {
    Q_OBJECT

public:
    explicit DataGridDropDown(QWidget* parent = nullptr);
    ~DataGridDropDown() override;

    void SetArray(std::shared_ptr<XArrayDB> array);
    std::shared_ptr<XArrayDB> Array() const;
    void ReBind();
    DataGridColumns& Columns();
    DataGridColumn& Columns(int index);
    // The column of the list whose value a pick writes into the grid's cell.
    int ListField() const { return m_listField; }
    void SetListField(int col) { m_listField = col; }
    double RowHeight() const;
    void SetRowHeight(double twips);
    // Size of the open list in twips; a width of 0 takes the cell's column width. The list opens
    // wider when its entries need it.
    double Height() const { return m_heightTwips; }
    void SetHeight(double twips);
    double Width() const { return m_widthTwips; }
    void SetWidth(double twips);
    // The list's current row: the one picked last, or the one under the pointer while open.
    QVariant Bookmark() const;
    bool IsOpen() const;
    // The list itself (a read-only grid).
    DataGrid& List() { return *m_list; }
    void Close();

Q_SIGNALS:
    // An entry was picked; the grid cell already holds its ListField value.
    void ItemPicked(const QVariant& bookmark);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class DataGrid;
    friend class DataGridColumn;
    void open(DataGrid* grid, int col);
    // Sizes the list's columns to show every entry whole within a list at least `width` pixels
    // wide and `height` high, the last column filling it; returns the width taken.
    int fitList(int width, int height);
    void pick();

    DataGrid* m_list;
    QList<QPointer<DataGrid>> m_grids;  // the grids with a column this list is attached to
    DataGrid* m_grid = nullptr;
    int m_gridCol = -1;
    int m_listField = 0;
    double m_heightTwips = 0;
    double m_widthTwips = 0;
};

} // namespace ui

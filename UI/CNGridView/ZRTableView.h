#pragma once
// The list and tree views of the screens: a table view fed by a data source
// (rows and columns) and an outline view fed by a data source of items.
// Both draw every cell through the column's cell (ZRCell), dressed first by
// the delegate's willDisplayCell, so screens style rows the way they want.
//
// Data source and delegate operations are virtual functions with default
// bodies; a screen overrides what it needs. They are not owned by the view.
// Operation names follow the distinguishing keyword of each message
// (numberOfChildrenOfItem, child, isItemExpandable, ...).
//
// Rows are the visible rows from the top (for an outline: expanded items in
// order), starting at 0. Items of an outline are opaque pointers owned by
// the data source (for instance an OpNodeData* or a DiskVolumeNodeData*);
// nullptr stands for the top level.

#include <QHeaderView>
#include <QKeyEvent>
#include <QString>
#include <QStringList>
#include <QTreeView>
#include <QVariant>

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "ZRCell.h"

class ZRTableView;
class ZROutlineView;
class ZRTableModel;

// One column: identifier, header cell, data cell, width.
class ZRTableColumn
{
public:
    explicit ZRTableColumn(const QString& identifier);
    ~ZRTableColumn();

    QString identifier() const { return m_identifier; }
    ZRCell* headerCell() const { return m_headerCell.get(); }
    void setHeaderCell(std::unique_ptr<ZRCell> cell);
    ZRCell* dataCell() const { return m_dataCell.get(); }
    void setDataCell(std::unique_ptr<ZRCell> cell);
    int width() const { return m_width; }
    void setWidth(int width);
    // The header's title (the header cell's string value).
    QString title() const;
    void setTitle(const QString& title);
    // Name of the sort-indicator image shown for this column ("" for none).
    QString indicatorImage() const { return m_indicatorImage; }
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable) { m_editable = editable; }
    ZRTableView* tableView() const { return m_tableView; }

private:
    friend class ZRTableView;
    QString m_identifier;
    std::unique_ptr<ZRCell> m_headerCell;
    std::unique_ptr<ZRCell> m_dataCell;
    int m_width = 100;
    QString m_indicatorImage;
    bool m_editable = true;
    ZRTableView* m_tableView = nullptr;
};

class ZRTableViewDataSource
{
public:
    virtual ~ZRTableViewDataSource() = default;
    virtual int numberOfRowsInTableView(ZRTableView* /*tableView*/) { return 0; }
    virtual QVariant objectValueForTableColumn(ZRTableView* /*tableView*/, ZRTableColumn* /*column*/, int /*row*/) { return {}; }
};

class ZRTableViewDelegate
{
public:
    virtual ~ZRTableViewDelegate() = default;
    virtual void willDisplayCell(ZRTableView* /*tableView*/, ZRCell* /*cell*/, ZRTableColumn* /*column*/, int /*row*/) {}
    virtual bool shouldSelectRow(ZRTableView* /*tableView*/, int /*row*/) { return true; }
    virtual bool shouldEditTableColumn(ZRTableView* /*tableView*/, ZRTableColumn* /*column*/, int /*row*/) { return true; }
    virtual void tableViewSelectionDidChange(ZRTableView* /*tableView*/) {}
    virtual void didClickTableColumn(ZRTableView* /*tableView*/, ZRTableColumn* /*column*/) {}
    virtual void mouseDownInHeaderOfTableColumn(ZRTableView* /*tableView*/, ZRTableColumn* /*column*/) {}
};

class ZROutlineViewDataSource
{
public:
    virtual ~ZROutlineViewDataSource() = default;
    virtual int numberOfChildrenOfItem(ZROutlineView* /*outlineView*/, void* /*item*/) { return 0; }
    virtual void* child(ZROutlineView* /*outlineView*/, int /*index*/, void* /*item*/) { return nullptr; }
    virtual bool isItemExpandable(ZROutlineView* /*outlineView*/, void* /*item*/) { return false; }
    virtual QVariant objectValueForTableColumn(ZROutlineView* /*outlineView*/, ZRTableColumn* /*column*/, void* /*item*/) { return {}; }
};

class ZROutlineViewDelegate
{
public:
    virtual ~ZROutlineViewDelegate() = default;
    virtual void willDisplayCell(ZROutlineView* /*outlineView*/, ZRCell* /*cell*/, ZRTableColumn* /*column*/, void* /*item*/) {}
    virtual bool shouldSelectItem(ZROutlineView* /*outlineView*/, void* /*item*/) { return true; }
    virtual bool shouldEditTableColumn(ZROutlineView* /*outlineView*/, ZRTableColumn* /*column*/, void* /*item*/) { return true; }
    virtual void outlineViewSelectionDidChange(ZROutlineView* /*outlineView*/) {}
    virtual void outlineViewItemDidExpand(ZROutlineView* /*outlineView*/, void* /*item*/) {}
    virtual void outlineViewItemDidCollapse(ZROutlineView* /*outlineView*/, void* /*item*/) {}
    virtual void mouseDownInHeaderOfTableColumn(ZROutlineView* /*outlineView*/, ZRTableColumn* /*column*/) {}
};

// The header of a table: draws each column's header cell in its section and
// reports presses and clicks of a column to the view.
class ZRTableHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit ZRTableHeaderView(ZRTableView* tableView);
    ZRTableView* tableView() const { return m_tableView; }

    // The column being pressed (-1 when none); drawn highlighted.
    int pressedSection() const { return m_pressedSection; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    QSize sizeHint() const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ZRTableView* m_tableView;
    int m_pressedSection = -1;
};

class ZRTableView : public QTreeView
{
    Q_OBJECT
public:
    enum SelectionHighlightStyle
    {
        SelectionHighlightStyleNone = -1,
        SelectionHighlightStyleRegular = 0,
    };

    explicit ZRTableView(QWidget* parent = nullptr);
    ~ZRTableView() override;

    // Table data source and delegate (used when the view is a table).
    ZRTableViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(ZRTableViewDataSource* dataSource);
    ZRTableViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRTableViewDelegate* delegate) { m_delegate = delegate; }

    // Columns, in display order; the view owns them.
    ZRTableColumn* addTableColumn(std::unique_ptr<ZRTableColumn> column);
    ZRTableColumn* addTableColumn(const QString& identifier, const QString& title, int width = 100);
    void removeTableColumn(ZRTableColumn* column);
    const std::vector<std::unique_ptr<ZRTableColumn>>& tableColumns() const { return m_columns; }
    ZRTableColumn* tableColumnWithIdentifier(const QString& identifier) const;
    int columnWithIdentifier(const QString& identifier) const;
    int numberOfColumns() const { return static_cast<int>(m_columns.size()); }
    void setIndicatorImage(const QString& imageName, ZRTableColumn* column);
    QString indicatorImageInTableColumn(ZRTableColumn* column) const;
    void setAllowsColumnReordering(bool allows);

    ZRTableHeaderView* headerView() const { return m_header; }

    virtual void reloadData();
    // The data source's row count changed (same as a reload here).
    void noteNumberOfRowsChanged() { reloadData(); }
    void scrollRowToVisible(int row);
    int numberOfRows() const;
    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    QRect rectOfRow(int row) const;
    QRect frameOfCellAtColumn(int column, int row) const;
    int rowAtPoint(const QPoint& pointInViewport) const;
    int columnAtPoint(const QPoint& pointInViewport) const;

    // Selection (single row).
    int selectedRow() const;
    void selectRowIndexes(int row, bool byExtendingSelection = false);
    void deselectAll();
    // Row and column of the last mouse click (-1 when outside the rows).
    int clickedRow() const { return m_clickedRow; }
    int clickedColumn() const { return m_clickedColumn; }

    SelectionHighlightStyle selectionHighlightStyle() const { return m_highlightStyle; }
    void setSelectionHighlightStyle(SelectionHighlightStyle style);

    // Sent on a double click in the rows area ("doubleAction").
    void setDoubleAction(std::function<void()> action) { m_doubleAction = std::move(action); }
    // Sent on a click that selected (or kept) a row ("action").
    void setAction(std::function<void()> action) { m_action = std::move(action); }

    // The key event being handled while the view asks its delegate whether a
    // row may be selected; nullptr for mouse clicks and calls from code.
    const QKeyEvent* currentKeyEvent() const { return m_currentKeyEvent; }

    // Marks the view for redrawing ("setNeedsDisplay:").
    void setNeedsDisplay() { viewport()->update(); }

protected:
    // Row drawing hooks: fill behind a row, then the standard row drawing.
    virtual void drawRowBackground(QPainter& painter, int row, const QRect& rowRect);
    // Background of the rows area (clip rectangle in viewport coordinates).
    virtual void drawBackgroundInClipRect(QPainter& painter, const QRect& clipRect);
    // Height of the view's "bounds": the rows, at least the visible area.
    int boundsHeight() const;

    // Called after a reload emptied the model, before the selected row is
    // selected again.
    virtual void didResetModel();
    // Called after a column joins the view (header cells can be replaced here).
    virtual void tableColumnAdded(ZRTableColumn* column);
    // Called by the cell drawer for each cell: object value, delegate, draw.
    virtual void prepareCell(ZRCell* cell, ZRTableColumn* column, const QModelIndex& index);
    virtual bool askShouldSelect(const QModelIndex& index);
    virtual bool askShouldEdit(ZRTableColumn* column, const QModelIndex& index);
    virtual void notifySelectionDidChange();
    virtual void notifyMouseDownInHeader(ZRTableColumn* column);
    virtual void notifyDidClickColumn(ZRTableColumn* column);

    int rowForIndex(const QModelIndex& index) const;
    QModelIndex indexForRow(int row, int column = 0) const;

    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override;

    ZRTableModel* tableModel() const { return m_model; }
    void setTableModel(ZRTableModel* model);
    // Whether a point lies on the expand arrow (indentation) of a row.
    bool isOnBranch(const QModelIndex& index, const QPoint& pos) const;

private:
    friend class ZRTableModel;
    friend class ZRTableHeaderView;
    friend class ZRCellDrawer;

    ZRTableViewDataSource* m_dataSource = nullptr;
    ZRTableViewDelegate* m_delegate = nullptr;
    std::vector<std::unique_ptr<ZRTableColumn>> m_columns;
    ZRTableHeaderView* m_header = nullptr;
    ZRTableModel* m_model = nullptr;
    int m_rowHeight = 17;
    int m_clickedRow = -1;
    int m_clickedColumn = -1;
    SelectionHighlightStyle m_highlightStyle = SelectionHighlightStyleRegular;
    std::function<void()> m_doubleAction;
    std::function<void()> m_action;
    const QKeyEvent* m_currentKeyEvent = nullptr;
    bool m_suppressSelectionNotify = false;
};

class ZROutlineView : public ZRTableView
{
    Q_OBJECT
public:
    explicit ZROutlineView(QWidget* parent = nullptr);
    ~ZROutlineView() override;

    ZROutlineViewDataSource* outlineDataSource() const { return m_outlineDataSource; }
    void setDataSource(ZROutlineViewDataSource* dataSource);
    ZROutlineViewDelegate* outlineDelegate() const { return m_outlineDelegate; }
    void setDelegate(ZROutlineViewDelegate* delegate) { m_outlineDelegate = delegate; }

    // Reloads every item; expanded items that are still there stay expanded.
    void reloadData() override;
    void expandItem(void* item, bool expandChildren = false);
    void collapseItem(void* item);
    bool isItemExpanded(void* item) const;
    void* itemAtRow(int row) const;
    int rowForItem(void* item) const;
    void* parentForItem(void* item) const;
    int levelForItem(void* item) const;

protected:
    void prepareCell(ZRCell* cell, ZRTableColumn* column, const QModelIndex& index) override;
    bool askShouldSelect(const QModelIndex& index) override;
    bool askShouldEdit(ZRTableColumn* column, const QModelIndex& index) override;
    void notifySelectionDidChange() override;
    void notifyMouseDownInHeader(ZRTableColumn* column) override;
    void didResetModel() override;

private:
    std::unordered_set<void*> m_expandedBeforeReload;
    QModelIndex indexForItem(void* item) const;
    bool m_restoringExpansion = false;
    ZROutlineViewDataSource* m_outlineDataSource = nullptr;
    ZROutlineViewDelegate* m_outlineDelegate = nullptr;
};

// An outline whose screen decides which row is "marked" (drawn in the dark
// blue) and which rows are disks (isRootArr, kept for the screen only).
class ZRMarkedOutlineView : public ZROutlineView
{
    Q_OBJECT
public:
    explicit ZRMarkedOutlineView(QWidget* parent = nullptr) : ZROutlineView(parent) {}

    QStringList isRootArr() const { return m_isRootArr; }
    void setIsRootArr(const QStringList& rows) { m_isRootArr = rows; }
    // The marked row: 0 until the screen sets another; a row that does not
    // exist marks nothing.
    int isSelectRow() const { return m_isSelectRow; }
    void setIsSelectRow(int row)
    {
        m_isSelectRow = row;
        setNeedsDisplay();
    }
    void setSelectCellBackgroundColorWithRow(int row) { setIsSelectRow(row); }

private:
    QStringList m_isRootArr;
    int m_isSelectRow = 0;
};


#include "ZRTableView.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemModel>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

#include <unordered_set>

#include "BundleResources.h"

// ---------------------------------------------------------------------------
// Columns

ZRTableColumn::ZRTableColumn(const QString& identifier)
    : m_identifier(identifier), m_headerCell(std::make_unique<ZRTableHeaderCell>()),
      m_dataCell(std::make_unique<ZRTextFieldCell>())
{
}

ZRTableColumn::~ZRTableColumn() = default;

void ZRTableColumn::setHeaderCell(std::unique_ptr<ZRCell> cell)
{
    m_headerCell = cell ? std::move(cell) : std::make_unique<ZRTableHeaderCell>();
    if (m_tableView)
        m_tableView->headerView()->viewport()->update();
}

void ZRTableColumn::setDataCell(std::unique_ptr<ZRCell> cell)
{
    m_dataCell = cell ? std::move(cell) : std::make_unique<ZRTextFieldCell>();
    if (m_tableView)
        m_tableView->setNeedsDisplay();
}

void ZRTableColumn::setWidth(int width)
{
    m_width = width;
    if (m_tableView) {
        const int index = m_tableView->columnWithIdentifier(m_identifier);
        if (index >= 0)
            m_tableView->headerView()->resizeSection(index, width);
    }
}

QString ZRTableColumn::title() const { return m_headerCell->stringValue(); }

void ZRTableColumn::setTitle(const QString& title)
{
    m_headerCell->setStringValue(title);
    if (m_tableView)
        m_tableView->headerView()->viewport()->update();
}

// ---------------------------------------------------------------------------
// The model behind the view: rows asked from the table data source, or a
// lazily loaded tree of items asked from the outline data source. Answers
// are cached until the next reload, as the views expect.

class ZRTableModel : public QAbstractItemModel
{
public:
    struct Node
    {
        void* item = nullptr;
        Node* parent = nullptr;
        int row = 0;
        bool loaded = false;
        std::vector<std::unique_ptr<Node>> children;
    };

    ZRTableModel(ZRTableView* view, bool outline) : QAbstractItemModel(view), m_view(view), m_outline(outline) {}

    bool isOutline() const { return m_outline; }

    void resetAll()
    {
        beginResetModel();
        m_root = Node();
        m_tableRows = -1;
        endResetModel();
    }

    Node* nodeFor(const QModelIndex& index) const
    {
        return index.isValid() ? static_cast<Node*>(index.internalPointer()) : const_cast<Node*>(&m_root);
    }

    void* itemFor(const QModelIndex& index) const
    {
        if (!m_outline || !index.isValid())
            return nullptr;
        return nodeFor(index)->item;
    }

    // Finds an item among the loaded nodes.
    QModelIndex indexForItem(void* item) const
    {
        if (!item || !m_outline)
            return {};
        ensureLoaded(&m_root);
        std::vector<const Node*> stack { &m_root };
        while (!stack.empty()) {
            const Node* node = stack.back();
            stack.pop_back();
            for (const auto& child : node->children) {
                if (child->item == item)
                    return createIndex(child->row, 0, child.get());
                stack.push_back(child.get());
            }
        }
        return {};
    }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (row < 0 || column < 0 || column >= columnCount(parent))
            return {};
        if (!m_outline) {
            if (parent.isValid() || row >= tableRows())
                return {};
            return createIndex(row, column, nullptr);
        }
        Node* node = nodeFor(parent);
        ensureLoaded(node);
        if (row >= static_cast<int>(node->children.size()))
            return {};
        return createIndex(row, column, node->children[static_cast<size_t>(row)].get());
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        if (!m_outline || !child.isValid())
            return {};
        Node* parentNode = nodeFor(child)->parent;
        if (!parentNode || parentNode == &m_root)
            return {};
        return createIndex(parentNode->row, 0, parentNode);
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        if (parent.column() > 0)
            return 0;
        if (!m_outline)
            return parent.isValid() ? 0 : tableRows();
        Node* node = nodeFor(parent);
        ensureLoaded(node);
        return static_cast<int>(node->children.size());
    }

    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override
    {
        if (!parent.isValid())
            return rowCount(parent) > 0;
        if (!m_outline || parent.column() > 0)
            return false;
        auto* source = static_cast<ZROutlineView*>(m_view)->outlineDataSource();
        return source && source->isItemExpandable(static_cast<ZROutlineView*>(m_view), nodeFor(parent)->item);
    }

    int columnCount(const QModelIndex& = QModelIndex()) const override { return m_view->numberOfColumns(); }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || role != Qt::DisplayRole)
            return {};
        ZRTableColumn* column = m_view->tableColumns()[static_cast<size_t>(index.column())].get();
        if (m_outline) {
            auto* outline = static_cast<ZROutlineView*>(m_view);
            auto* source = outline->outlineDataSource();
            return source ? source->objectValueForTableColumn(outline, column, nodeFor(index)->item) : QVariant();
        }
        auto* source = m_view->dataSource();
        return source ? source->objectValueForTableColumn(m_view, column, index.row()) : QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= m_view->numberOfColumns())
            return {};
        return m_view->tableColumns()[static_cast<size_t>(section)]->title();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    int tableRows() const
    {
        if (m_tableRows < 0) {
            auto* source = m_view->dataSource();
            m_tableRows = source ? std::max(0, source->numberOfRowsInTableView(m_view)) : 0;
        }
        return m_tableRows;
    }

private:
    void ensureLoaded(Node* node) const
    {
        if (node->loaded)
            return;
        node->loaded = true;
        auto* outline = static_cast<ZROutlineView*>(m_view);
        auto* source = outline->outlineDataSource();
        if (!source)
            return;
        // The top level is always listed; an item only when it is expandable.
        if (node != &m_root && !source->isItemExpandable(outline, node->item))
            return;
        const int count = source->numberOfChildrenOfItem(outline, node == &m_root ? nullptr : node->item);
        for (int i = 0; i < count; ++i) {
            auto child = std::make_unique<Node>();
            child->item = source->child(outline, i, node == &m_root ? nullptr : node->item);
            child->parent = node;
            child->row = i;
            node->children.push_back(std::move(child));
        }
    }

    ZRTableView* m_view;
    bool m_outline;
    mutable Node m_root;
    mutable int m_tableRows = -1;
};

// ---------------------------------------------------------------------------
// Draws every cell through its column's cell.

class ZRCellDrawer : public QAbstractItemDelegate
{
public:
    explicit ZRCellDrawer(ZRTableView* view) : QAbstractItemDelegate(view), m_view(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!index.isValid() || index.column() >= m_view->numberOfColumns())
            return;
        ZRTableColumn* column = m_view->m_columns[static_cast<size_t>(index.column())].get();
        ZRCell* cell = column->dataCell();
        m_view->prepareCell(cell, column, index);
        painter->save();
        painter->setClipRect(option.rect, Qt::IntersectClip);
        cell->drawWithFrame(*painter, QRectF(option.rect), m_view->viewport());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        int width = 100;
        if (index.isValid() && index.column() < m_view->numberOfColumns())
            width = m_view->m_columns[static_cast<size_t>(index.column())]->width();
        return QSize(width, m_view->rowHeight());
    }

private:
    ZRTableView* m_view;
};

// ---------------------------------------------------------------------------
// Header

ZRTableHeaderView::ZRTableHeaderView(ZRTableView* tableView) : QHeaderView(Qt::Horizontal, tableView), m_tableView(tableView)
{
    setSectionsClickable(true);
    setSectionsMovable(false);
    setStretchLastSection(false);
    setHighlightSections(false);
}

void ZRTableHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (logicalIndex < 0 || logicalIndex >= m_tableView->numberOfColumns())
        return;
    ZRCell* cell = m_tableView->tableColumns()[static_cast<size_t>(logicalIndex)]->headerCell();
    auto* self = const_cast<ZRTableHeaderView*>(this);
    if (m_pressedSection == logicalIndex)
        cell->highlight(true, *painter, QRectF(rect), self);
    else
        cell->drawWithFrame(*painter, QRectF(rect), self);
    // The column's sort indicator, when it has one, at the section's right
    // end over the title's background.
    const QString indicator = m_tableView->tableColumns()[static_cast<size_t>(logicalIndex)]->indicatorImage();
    if (!indicator.isEmpty()) {
        const QPixmap image = Bundle::ImageNamed(indicator);
        if (!image.isNull() && rect.width() > image.width() + 4) {
            const QPoint at(rect.right() - 5 - image.width(), rect.center().y() - image.height() / 2);
            painter->drawPixmap(at, image);
        }
    }
}

void ZRTableHeaderView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressedSection = logicalIndexAt(event->position().toPoint());
    QHeaderView::mousePressEvent(event);
    viewport()->update();
}

void ZRTableHeaderView::mouseReleaseEvent(QMouseEvent* event)
{
    QHeaderView::mouseReleaseEvent(event);
    m_pressedSection = -1;
    viewport()->update();
}

QSize ZRTableHeaderView::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(std::max(size.height(), 23));
    return size;
}

// ---------------------------------------------------------------------------
// Table view

ZRTableView::ZRTableView(QWidget* parent) : QTreeView(parent)
{
    m_header = new ZRTableHeaderView(this);
    setHeader(m_header);
    setTableModel(new ZRTableModel(this, false));
    setItemDelegate(new ZRCellDrawer(this));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setItemsExpandable(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(false);
    connect(m_header, &QHeaderView::sectionPressed, this, [this](int logical) {
        if (logical >= 0 && logical < numberOfColumns())
            notifyMouseDownInHeader(m_columns[static_cast<size_t>(logical)].get());
    });
    connect(m_header, &QHeaderView::sectionClicked, this, [this](int logical) {
        if (logical >= 0 && logical < numberOfColumns())
            notifyDidClickColumn(m_columns[static_cast<size_t>(logical)].get());
    });
    connect(m_header, &QHeaderView::sectionResized, this, [this](int logical, int, int newSize) {
        if (logical >= 0 && logical < numberOfColumns())
            m_columns[static_cast<size_t>(logical)]->m_width = newSize;
    });
}

ZRTableView::~ZRTableView()
{
    m_dataSource = nullptr;
    m_delegate = nullptr;
}

void ZRTableView::setTableModel(ZRTableModel* model)
{
    QAbstractItemModel* old = this->model();
    m_model = model;
    setModel(model);
    m_header->setSectionsClickable(true);
    if (old && old != model && old->parent() == this)
        old->deleteLater();
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_suppressSelectionNotify)
            notifySelectionDidChange();
    });
}

void ZRTableView::setDataSource(ZRTableViewDataSource* dataSource)
{
    m_dataSource = dataSource;
    reloadData();
}

ZRTableColumn* ZRTableView::addTableColumn(std::unique_ptr<ZRTableColumn> column)
{
    if (!column)
        return nullptr;
    ZRTableColumn* added = column.get();
    added->m_tableView = this;
    m_columns.push_back(std::move(column));
    tableColumnAdded(added);
    reloadData();
    for (int i = 0; i < numberOfColumns(); ++i)
        m_header->resizeSection(i, m_columns[static_cast<size_t>(i)]->m_width);
    return added;
}

ZRTableColumn* ZRTableView::addTableColumn(const QString& identifier, const QString& title, int width)
{
    auto column = std::make_unique<ZRTableColumn>(identifier);
    column->setTitle(title);
    column->m_width = width;
    return addTableColumn(std::move(column));
}

void ZRTableView::tableColumnAdded(ZRTableColumn*) {}

void ZRTableView::removeTableColumn(ZRTableColumn* column)
{
    for (auto it = m_columns.begin(); it != m_columns.end(); ++it) {
        if (it->get() == column) {
            m_columns.erase(it);
            reloadData();
            return;
        }
    }
}

ZRTableColumn* ZRTableView::tableColumnWithIdentifier(const QString& identifier) const
{
    const int index = columnWithIdentifier(identifier);
    return index < 0 ? nullptr : m_columns[static_cast<size_t>(index)].get();
}

int ZRTableView::columnWithIdentifier(const QString& identifier) const
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i]->identifier() == identifier)
            return static_cast<int>(i);
    return -1;
}

void ZRTableView::setIndicatorImage(const QString& imageName, ZRTableColumn* column)
{
    if (!column)
        return;
    column->m_indicatorImage = imageName;
    m_header->viewport()->update();
}

QString ZRTableView::indicatorImageInTableColumn(ZRTableColumn* column) const
{
    return column ? column->m_indicatorImage : QString();
}

void ZRTableView::setAllowsColumnReordering(bool allows) { m_header->setSectionsMovable(allows); }

void ZRTableView::reloadData()
{
    // The selected row stays selected when it is still there, without
    // telling the delegate (nothing changed for it).
    const int oldRow = selectedRow();
    m_suppressSelectionNotify = true;
    m_model->resetAll();
    didResetModel();
    if (oldRow >= 0 && oldRow < numberOfRows())
        selectRowIndexes(oldRow);
    m_suppressSelectionNotify = false;
    if (oldRow >= 0 && selectedRow() != oldRow)
        notifySelectionDidChange();
    viewport()->update();
}

void ZRTableView::scrollRowToVisible(int row)
{
    const QModelIndex index = indexForRow(row);
    if (index.isValid())
        scrollTo(index);
}

int ZRTableView::numberOfRows() const
{
    if (!m_model->isOutline())
        return m_model->tableRows();
    int rows = 0;
    for (QModelIndex index = m_model->index(0, 0); index.isValid(); index = indexBelow(index))
        ++rows;
    return rows;
}

void ZRTableView::setRowHeight(int height)
{
    m_rowHeight = std::max(1, height);
    scheduleDelayedItemsLayout();
}

int ZRTableView::rowForIndex(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    if (!m_model->isOutline())
        return index.row();
    const QRect rect = visualRect(index.siblingAtColumn(0));
    if (!rect.isValid())
        return -1;
    return (rect.top() + verticalOffset()) / m_rowHeight;
}

QModelIndex ZRTableView::indexForRow(int row, int column) const
{
    if (row < 0 || column < 0 || column >= numberOfColumns())
        return {};
    if (!m_model->isOutline())
        return m_model->index(row, column);
    QModelIndex index = m_model->index(0, 0);
    for (int i = 0; i < row && index.isValid(); ++i)
        index = indexBelow(index);
    return index.isValid() ? index.siblingAtColumn(column) : QModelIndex();
}

QRect ZRTableView::rectOfRow(int row) const
{
    if (row < 0 || row >= numberOfRows())
        return {};
    return QRect(0, row * m_rowHeight - verticalOffset(), viewport()->width(), m_rowHeight);
}

QRect ZRTableView::frameOfCellAtColumn(int column, int row) const { return visualRect(indexForRow(row, column)); }

int ZRTableView::rowAtPoint(const QPoint& pointInViewport) const
{
    return rowForIndex(indexAt(QPoint(std::max(0, columnViewportPosition(0)) + 1, pointInViewport.y())));
}

int ZRTableView::columnAtPoint(const QPoint& pointInViewport) const { return columnAt(pointInViewport.x()); }

int ZRTableView::selectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rowForIndex(rows.first());
}

void ZRTableView::selectRowIndexes(int row, bool byExtendingSelection)
{
    const QModelIndex index = indexForRow(row);
    if (!index.isValid())
        return;
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::Rows;
    flags |= byExtendingSelection ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect;
    selectionModel()->setCurrentIndex(index, flags);
}

void ZRTableView::deselectAll() { selectionModel()->clearSelection(); }

void ZRTableView::setSelectionHighlightStyle(SelectionHighlightStyle style)
{
    m_highlightStyle = style;
    // Without a highlight the view's own row drawing marks the selection;
    // the indentation and disclosure area before a row's cells, which the
    // style fills with the highlight colour, stays clear as well.
    QPalette colours = palette();
    const QBrush highlight = style == SelectionHighlightStyleNone
                                 ? QBrush(Qt::transparent)
                                 : (parentWidget() ? parentWidget()->palette() : QGuiApplication::palette()).highlight();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        colours.setBrush(group, QPalette::Highlight, highlight);
    setPalette(colours);
    viewport()->update();
}

void ZRTableView::didResetModel() {}

void ZRTableView::drawRowBackground(QPainter&, int, const QRect&) {}

void ZRTableView::drawBackgroundInClipRect(QPainter&, const QRect&) {}

int ZRTableView::boundsHeight() const
{
    return std::max(viewport()->height() + verticalOffset(), numberOfRows() * m_rowHeight);
}

void ZRTableView::prepareCell(ZRCell* cell, ZRTableColumn* column, const QModelIndex& index)
{
    cell->setObjectValue(m_dataSource ? m_dataSource->objectValueForTableColumn(this, column, index.row()) : QVariant());
    if (m_delegate)
        m_delegate->willDisplayCell(this, cell, column, index.row());
}

bool ZRTableView::askShouldSelect(const QModelIndex& index)
{
    return !m_delegate || m_delegate->shouldSelectRow(this, index.row());
}

bool ZRTableView::askShouldEdit(ZRTableColumn* column, const QModelIndex& index)
{
    return !m_delegate || m_delegate->shouldEditTableColumn(this, column, index.row());
}

void ZRTableView::notifySelectionDidChange()
{
    if (m_delegate)
        m_delegate->tableViewSelectionDidChange(this);
}

void ZRTableView::notifyMouseDownInHeader(ZRTableColumn* column)
{
    if (m_delegate)
        m_delegate->mouseDownInHeaderOfTableColumn(this, column);
}

void ZRTableView::notifyDidClickColumn(ZRTableColumn* column)
{
    if (m_delegate)
        m_delegate->didClickTableColumn(this, column);
}

void ZRTableView::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(viewport());
        drawBackgroundInClipRect(painter, event->rect());
    }
    QTreeView::paintEvent(event);
}

void ZRTableView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    auto* self = const_cast<ZRTableView*>(this);
    const QRect rowRect(0, option.rect.top(), viewport()->width(), option.rect.height());
    painter->save();
    self->drawRowBackground(*painter, rowForIndex(index), rowRect);
    painter->restore();
    QStyleOptionViewItem opt = option;
    if (m_highlightStyle == SelectionHighlightStyleNone)
        opt.state &= ~QStyle::State_Selected;
    opt.state &= ~QStyle::State_HasFocus;
    QTreeView::drawRow(painter, opt, index);
}

bool ZRTableView::isOnBranch(const QModelIndex& index, const QPoint& pos) const
{
    if (!m_model->isOutline() || !index.isValid())
        return false;
    const QRect rect = visualRect(index.siblingAtColumn(0));
    return pos.x() < rect.left() && pos.x() >= columnViewportPosition(0);
}

void ZRTableView::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    m_clickedRow = rowForIndex(index);
    m_clickedColumn = index.isValid() ? index.column() : columnAt(pos.x());
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    if (!index.isValid()) {
        // A click below the rows drops the selection.
        deselectAll();
        event->accept();
        return;
    }
    if (isOnBranch(index, pos)) {
        QTreeView::mousePressEvent(event);
        return;
    }
    ZRTableColumn* column = m_columns[static_cast<size_t>(index.column())].get();
    ZRCell* cell = column->dataCell();
    // A button cell (a check box) tracks its own clicks whatever the delegate
    // says about editing, which concerns text; other cells act only where
    // editing is allowed.
    if (dynamic_cast<ZRButtonCell*>(cell) || askShouldEdit(column, index)) {
        prepareCell(cell, column, index);
        const unsigned hit = cell->hitTestForEvent(QPointF(pos), QRectF(visualRect(index)), viewport());
        if (hit & ZRCellHitTrackableArea) {
            // The cell took the click (a check box, a button): it acts, the
            // selection stays as it is.
            cell->performAction();
            viewport()->update();
            event->accept();
            return;
        }
    }
    // The delegate may reload the view while it decides (a click on a tree
    // node refills the lists and the trees), which frees every index taken
    // before: the clicked row is found again by its item (or row) after.
    void* clickedItem = m_model->itemFor(index);
    const int clickedRow = m_clickedRow;
    const QPersistentModelIndex kept(index);
    if (askShouldSelect(index)) {
        QModelIndex target = kept;
        if (!target.isValid())
            target = m_model->isOutline() ? m_model->indexForItem(clickedItem) : indexForRow(clickedRow);
        if (target.isValid())
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (m_action)
        m_action();
    event->accept();
}

void ZRTableView::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void ZRTableView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (isOnBranch(indexAt(pos), pos))
        QTreeView::mouseReleaseEvent(event);
    else
        event->accept();
}

void ZRTableView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    m_clickedRow = rowForIndex(index);
    m_clickedColumn = index.isValid() ? index.column() : columnAt(pos.x());
    if (isOnBranch(index, pos)) {
        QTreeView::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton && m_doubleAction)
        m_doubleAction();
    event->accept();
}

void ZRTableView::keyPressEvent(QKeyEvent* event)
{
    const QKeyEvent* previous = m_currentKeyEvent;
    m_currentKeyEvent = event;
    QTreeView::keyPressEvent(event);
    m_currentKeyEvent = previous;
}

QItemSelectionModel::SelectionFlags ZRTableView::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    if (event && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
                  || event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonDblClick))
        return QItemSelectionModel::NoUpdate;  // clicks are handled in mousePressEvent
    if (event && event->type() == QEvent::KeyPress) {
        if (!index.isValid())
            return QItemSelectionModel::NoUpdate;
        auto* self = const_cast<ZRTableView*>(this);
        if (!self->askShouldSelect(index))
            return QItemSelectionModel::NoUpdate;
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return QTreeView::selectionCommand(index, event);
}

// ---------------------------------------------------------------------------
// Outline view

ZROutlineView::ZROutlineView(QWidget* parent) : ZRTableView(parent)
{
    setTableModel(new ZRTableModel(this, true));
    setRootIsDecorated(true);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (!m_restoringExpansion && m_outlineDelegate)
            m_outlineDelegate->outlineViewItemDidExpand(this, tableModel()->itemFor(index));
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (!m_restoringExpansion && m_outlineDelegate)
            m_outlineDelegate->outlineViewItemDidCollapse(this, tableModel()->itemFor(index));
    });
}

ZROutlineView::~ZROutlineView()
{
    m_outlineDataSource = nullptr;
    m_outlineDelegate = nullptr;
}

void ZROutlineView::setDataSource(ZROutlineViewDataSource* dataSource)
{
    m_outlineDataSource = dataSource;
    reloadData();
}

void ZROutlineView::reloadData()
{
    // Remember the expanded items (by identity); didResetModel opens them
    // again before the selected row is restored.
    m_expandedBeforeReload.clear();
    std::vector<QModelIndex> stack;
    for (int i = 0; i < tableModel()->rowCount(); ++i)
        stack.push_back(tableModel()->index(i, 0));
    while (!stack.empty()) {
        const QModelIndex index = stack.back();
        stack.pop_back();
        if (!isExpanded(index))
            continue;
        m_expandedBeforeReload.insert(tableModel()->itemFor(index));
        for (int i = 0; i < tableModel()->rowCount(index); ++i)
            stack.push_back(tableModel()->index(i, 0, index));
    }
    ZRTableView::reloadData();
}

void ZROutlineView::didResetModel()
{
    if (m_expandedBeforeReload.empty())
        return;
    m_restoringExpansion = true;
    std::vector<QModelIndex> open;
    for (int i = 0; i < tableModel()->rowCount(); ++i)
        open.push_back(tableModel()->index(i, 0));
    while (!open.empty()) {
        const QModelIndex index = open.back();
        open.pop_back();
        void* item = tableModel()->itemFor(index);
        // Each remembered item opens once, which also bounds the walk.
        if (!m_expandedBeforeReload.erase(item))
            continue;
        expand(index);
        for (int i = 0; i < tableModel()->rowCount(index); ++i)
            open.push_back(tableModel()->index(i, 0, index));
    }
    m_expandedBeforeReload.clear();
    scheduleDelayedItemsLayout();
    m_restoringExpansion = false;
}

QModelIndex ZROutlineView::indexForItem(void* item) const { return tableModel()->indexForItem(item); }

void ZROutlineView::expandItem(void* item, bool expandChildren)
{
    const QModelIndex index = indexForItem(item);
    if (!index.isValid() || !tableModel()->hasChildren(index))
        return;
    // Lay the rows out first: an expansion stored while a layout is pending
    // can be lost by that layout.
    executeDelayedItemsLayout();
    if (expandChildren)
        expandRecursively(index, 64);
    else
        expand(index);
    scheduleDelayedItemsLayout();
}

void ZROutlineView::collapseItem(void* item)
{
    const QModelIndex index = indexForItem(item);
    if (index.isValid())
        collapse(index);
}

bool ZROutlineView::isItemExpanded(void* item) const
{
    const QModelIndex index = indexForItem(item);
    return index.isValid() && isExpanded(index);
}

void* ZROutlineView::itemAtRow(int row) const { return tableModel()->itemFor(indexForRow(row)); }

int ZROutlineView::rowForItem(void* item) const { return rowForIndex(indexForItem(item)); }

void* ZROutlineView::parentForItem(void* item) const { return tableModel()->itemFor(indexForItem(item).parent()); }

int ZROutlineView::levelForItem(void* item) const
{
    QModelIndex index = indexForItem(item);
    if (!index.isValid())
        return -1;
    int level = 0;
    for (index = index.parent(); index.isValid(); index = index.parent())
        ++level;
    return level;
}

void ZROutlineView::prepareCell(ZRCell* cell, ZRTableColumn* column, const QModelIndex& index)
{
    void* item = tableModel()->itemFor(index);
    cell->setObjectValue(m_outlineDataSource ? m_outlineDataSource->objectValueForTableColumn(this, column, item) : QVariant());
    if (m_outlineDelegate)
        m_outlineDelegate->willDisplayCell(this, cell, column, item);
}

bool ZROutlineView::askShouldSelect(const QModelIndex& index)
{
    return !m_outlineDelegate || m_outlineDelegate->shouldSelectItem(this, tableModel()->itemFor(index));
}

bool ZROutlineView::askShouldEdit(ZRTableColumn* column, const QModelIndex& index)
{
    return !m_outlineDelegate || m_outlineDelegate->shouldEditTableColumn(this, column, tableModel()->itemFor(index));
}

void ZROutlineView::notifySelectionDidChange()
{
    if (m_outlineDelegate)
        m_outlineDelegate->outlineViewSelectionDidChange(this);
}

void ZROutlineView::notifyMouseDownInHeader(ZRTableColumn* column)
{
    if (m_outlineDelegate)
        m_outlineDelegate->mouseDownInHeaderOfTableColumn(this, column);
}

// A grid of square tiles on a fixed 150-pixel pitch, shown as the document
// widget of a scroll area. It asks its data source for the item count and
// one tile per index, keeps only the tiles of the visible rows (plus one
// row), recycles tiles that scroll out of sight by reuse identifier, and
// announces hovering and selection by notifications and delegate calls.
//
// The data-source and delegate operations share their first selector
// keyword ("gridView"), so each is named after the keyword that tells it
// apart (numberOfItemsInSection, itemAtIndex, willHoverItemAtIndex, ...).
#pragma once

#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QWidget>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "CNGridViewItem.h"

class CNGridView;
class QMenu;
class QScrollArea;
class QVariantAnimation;

using CNIndexSet = std::set<qint64>;

// Column and row of a cell, both counted from 1.
struct CNItemPoint {
    uint64_t column = 0;
    uint64_t row = 0;
};
inline CNItemPoint CNMakeItemPoint(uint64_t column, uint64_t row) { return CNItemPoint{column, row}; }

// Notification names; every one is posted with the grid as the object.
inline constexpr const char* CNGridViewSelectAllItemsNotification = "CNGridViewSelectAllItems";
inline constexpr const char* CNGridViewDeSelectAllItemsNotification = "CNGridViewDeSelectAllItems";
inline constexpr const char* CNGridViewWillHoverItemNotification = "CNGridViewWillHoverItem";
inline constexpr const char* CNGridViewWillUnhoverItemNotification = "CNGridViewWillUnhoverItem";
inline constexpr const char* CNGridViewWillSelectItemNotification = "CNGridViewWillSelectItem";
inline constexpr const char* CNGridViewDidSelectItemNotification = "CNGridViewDidSelectItem";
inline constexpr const char* CNGridViewWillDeselectItemNotification = "CNGridViewWillDeselectItem";
inline constexpr const char* CNGridViewDidDeselectItemNotification = "CNGridViewDidDeselectItem";
inline constexpr const char* CNGridViewWillDeselectAllItemsNotification = "CNGridViewWillDeselectAllItems";
inline constexpr const char* CNGridViewDidDeselectAllItemsNotification = "CNGridViewDidDeselectAllItems";
inline constexpr const char* CNGridViewDidClickItemNotification = "CNGridViewDidClickItem";
inline constexpr const char* CNGridViewDidDoubleClickItemNotification = "CNGridViewDidDoubleClickItem";
inline constexpr const char* CNGridViewRightMouseButtonClickedOnItemNotification =
    "CNGridViewRightMouseButtonClickedOnItem";

// userInfo keys. The index is a quint64; the selected items a list of
// QObject pointers to the tiles; the index set a list of quint64.
inline constexpr const char* CNGridViewItemIndexKey = "gridViewItemIndex";
inline constexpr const char* CNGridViewSelectedItemsKey = "CNGridViewSelectedItems";
inline constexpr const char* CNGridViewItemsIndexSetKey = "CNGridViewItemsIndexSetKey";
inline constexpr const char* CNGridViewItemKey = "gridViewItem";

// Modifier masks of selectItemAtIndex(); Qt's modifiers convert through
// CNGridView::ModifierFlagsFromQt.
inline constexpr uint64_t CNShiftKeyMask = 0x20000;
inline constexpr uint64_t CNCommandKeyMask = 0x100000;

// The grid's source of tiles. A method left at its default body answers "not
// implemented": CNNotFound for counts, nothing for the others.
class CNGridViewDataSource {
public:
    virtual ~CNGridViewDataSource() = default;
    virtual qint64 numberOfItemsInSection(CNGridView* gridView, qint64 section)
    {
        (void)gridView;
        (void)section;
        return CNNotFound;
    }
    // The tile for index; the grid takes it in (parents it). A tile from
    // dequeueReusableItemWithIdentifier() belongs to the grid already.
    virtual CNGridViewItemBase* itemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView;
        (void)index;
        (void)section;
        return nullptr;
    }
    virtual qint64 numberOfSectionsInGridView(CNGridView* gridView)
    {
        (void)gridView;
        return CNNotFound;
    }
    virtual QString titleForHeaderInSection(CNGridView* gridView, qint64 section)
    {
        (void)gridView;
        (void)section;
        return {};
    }
    virtual QStringList sectionIndexTitlesForGridView(CNGridView* gridView)
    {
        (void)gridView;
        return {};
    }
};

// Told of hovering, selection, clicks and the context menu, each after the
// matching notification has been posted.
class CNGridViewDelegate {
public:
    virtual ~CNGridViewDelegate() = default;
    virtual void willHoverItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void willUnhoverItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void willSelectItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void didSelectItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void willDeselectItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void didDeselectItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void willDeselectAllItems(CNGridView* gridView, const std::vector<CNGridViewItemBase*>& items)
    {
        (void)gridView, (void)items;
    }
    virtual void gridViewDidDeselectAllItems(CNGridView* gridView) { (void)gridView; }
    virtual void didClickItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void didDoubleClickItemAtIndex(CNGridView* gridView, qint64 index, qint64 section)
    {
        (void)gridView, (void)index, (void)section;
    }
    virtual void didActivateContextMenuWithIndexes(CNGridView* gridView, const CNIndexSet& indexes, qint64 section)
    {
        (void)gridView, (void)indexes, (void)section;
    }
};

// The rubber-band rectangle of a drag selection.
class CNSelectionFrameView : public QWidget {
    Q_OBJECT
public:
    explicit CNSelectionFrameView(QWidget* parent = nullptr);
    bool isFlipped() const { return true; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

class CNGridView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPitch = 150;

    explicit CNGridView(QWidget* parent = nullptr);
    ~CNGridView() override;

    // Properties.
    CNGridViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(CNGridViewDelegate* delegate) { m_delegate = delegate; }
    CNGridViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(CNGridViewDataSource* dataSource) { m_dataSource = dataSource; }
    QString gridViewTitle() const { return m_gridViewTitle; }
    void setGridViewTitle(const QString& title) { m_gridViewTitle = title; }
    // The scroll area always shows the control colour; nothing is stored.
    QColor backgroundColor() const { return {}; }
    void setBackgroundColor(const QColor& color);
    bool scrollElasticity() const { return false; }
    void setScrollElasticity(bool elasticity);
    QSize itemSize() const { return {}; }
    void setItemSize(const QSize& size);
    bool allowsSelection() const { return m_allowsSelection; }
    void setAllowsSelection(bool allows) { m_allowsSelection = allows; }
    bool allowsMultipleSelection() const { return m_allowsMultipleSelection; }
    void setAllowsMultipleSelection(bool allows);
    bool allowsMultipleSelectionWithDrag() const { return m_allowsMultipleSelectionWithDrag; }
    void setAllowsMultipleSelectionWithDrag(bool allows) { m_allowsMultipleSelectionWithDrag = allows; }
    bool useSelectionRing() const { return m_useSelectionRing; }
    void setUseSelectionRing(bool use) { m_useSelectionRing = use; }
    bool useHover() const { return m_useHover; }
    void setUseHover(bool use) { m_useHover = use; }
    QMenu* itemContextMenu() const { return m_itemContextMenu; }
    void setItemContextMenu(QMenu* menu) { m_itemContextMenu = menu; }
    QWidget* headerView() const { return m_headerView; }
    void setHeaderView(QWidget* view) { m_headerView = view; }
    bool useCenterAlignment() const { return m_useCenterAlignment; }
    void setUseCenterAlignment(bool use) { m_useCenterAlignment = use; }

    // Data source relays: they ask the data source, or answer "not
    // implemented" without one.
    qint64 numberOfItemsInSection(qint64 section);
    CNGridViewItemBase* itemAtIndex(qint64 index, qint64 section);
    qint64 numberOfSectionsInGridView();
    QString titleForHeaderInSection(qint64 section);
    QStringList sectionIndexTitlesForGridView();

    // Content.
    void reloadData();
    void reloadDataAnimated(bool animated);
    CNGridViewItemBase* dequeueReusableItemWithIdentifier(const QString& identifier);
    void insertItemAtIndex(qint64 index, bool animated);
    void insertItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void removeItemsAtIndexes(const CNIndexSet& indexes, bool animated);
    void beginUpdates() {}
    void endUpdates() {}

    // Geometry; points are in the grid's own coordinates (y downwards).
    QRect rectForItemAtIndex(qint64 index) const;
    qint64 columnsInGridView() const;
    qint64 allOverRowsInGridView() const;
    qint64 visibleRowsInGridView() const;
    // First index and length.
    std::pair<qint64, qint64> visibleItemRange() const;
    QRect clippedRect() const;
    qint64 indexForItemAtLocation(const QPointF& location) const;
    CNItemPoint locationForItemAtIndex(qint64 index) const;
    qint64 boundIndexForItemAtLocation(const QPointF& location) const;
    qint64 numberOfVisibleItems() const { return static_cast<qint64>(m_keyedVisibleItems.size()); }
    CNIndexSet visibleIndexes() const;
    CNIndexSet indexesForVisibleItems() const;
    qint64 numberOfItems() const { return m_numberOfItems; }
    double contentInset() const { return m_contentInset; }
    // The tile placed at index, or null.
    CNGridViewItemBase* visibleItemAtIndex(qint64 index) const;
    // How many idle tiles wait under identifier.
    size_t reuseableItemCount(const QString& identifier) const;

    // Refresh.
    void setFrame(const QRect& frame);
    void refreshGridView();
    void refreshGridViewAnimated(bool animated, bool initialCall);
    void updateVisibleRect();
    bool isFlipped() const { return true; }

    // Hover and selection relays (notification, then delegate).
    void hoverItemAtIndex(qint64 index);
    void unHoverItemAtIndex(qint64 index);
    void selectItem(CNGridViewItemBase* item);
    void deSelectItem(CNGridViewItemBase* item);
    void selectAllItems();
    void deselectAllItems();
    void selectItemAtIndex(qint64 index, uint64_t modifierFlags);
    std::vector<CNGridViewItemBase*> selectedItems() const;
    CNIndexSet selectedIndexes() const;
    qint64 lastHoveredIndex() const { return m_lastHoveredIndex; }
    qint64 lastSelectedItemIndex() const { return m_lastSelectedItemIndex; }

    // Clicks: the tiles under the given click locations, in order, announced
    // as clicks and double clicks.
    void handleClicks(const std::vector<QPointF>& clickLocations);
    void handleSingleClickForItemAtIndex(qint64 index);
    void handleDoubleClickForItemAtIndex(qint64 index);

    // Drag selection.
    void drawSelectionFrameForMousePointerAtLocation(const QPointF& location);
    void selectItemsCoveredBySelectionFrame(const QRect& frame, uint64_t modifierFlags);
    CNSelectionFrameView* selectionFrameView() const { return m_selectionFrameView; }
    std::map<qint64, CNGridViewItemBase*> selectedItemsBySelectionFrame() const
    {
        return m_selectedItemsBySelectionFrame;
    }
    bool abortSelection() const { return m_abortSelection; }

    static uint64_t ModifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

    // Answers from the running system; here always the newer behaviour.
    static bool isBiggerVersionForMac1070();
    static void getSystemVersionMajor(unsigned* major, unsigned* minor, unsigned* bugFix);
    static QSize getItemSize(const QSize& size) { return size; }
    static bool getScrollElasticity(bool elasticity) { return elasticity; }
    static QColor getBackgroundColor(const QColor& color) { return color; }
    static bool getAllowsMultipleSelection(bool allows) { return allows; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupDefaults();
    void attachToScrollArea();
    QScrollArea* enclosingScrollArea() const;
    void refreshInset();
    void refreshSecondHalf(bool animated);
    void updateReuseableItems();
    void updateVisibleItems();
    void arrangeGridViewItemsAnimated(bool animated);
    void moveItemTo(CNGridViewItemBase* item, const QRect& rect, bool animated);
    void adoptItem(CNGridViewItemBase* item);
    void takeOutOfHierarchy(CNGridViewItemBase* item);
    void enqueueForReuse(CNGridViewItemBase* item);
    void releaseIfUnused(CNGridViewItemBase* item);
    void shiftVisibleItems(const std::vector<std::pair<CNGridViewItemBase*, qint64>>& moves, bool animated);
    void rightMouseDown(const QPointF& location);
    void mouseDragged(const QPointF& location, uint64_t modifierFlags);
    void endDragSelection();
    void mouseExited();
    void postIndex(const char* name, qint64 index);

    std::map<qint64, CNGridViewItemBase*> m_keyedVisibleItems;
    std::map<QString, std::vector<CNGridViewItemBase*>> m_reuseableItems;
    std::map<qint64, CNGridViewItemBase*> m_selectedItems;
    std::map<qint64, CNGridViewItemBase*> m_selectedItemsBySelectionFrame;
    std::vector<QPointF> m_clickEvents;
    qint64 m_lastHoveredIndex = CNNotFound;
    qint64 m_lastSelectedItemIndex = CNNotFound;
    QPointF m_selectionFrameInitialPoint;
    bool m_isInitialCall = true;
    bool m_abortSelection = false;
    bool m_mouseHasDragged = false;
    CNSelectionFrameView* m_selectionFrameView = nullptr;
    double m_contentInset = 0;
    qint64 m_numberOfItems = 0;

    CNGridViewDelegate* m_delegate = nullptr;
    CNGridViewDataSource* m_dataSource = nullptr;
    QString m_gridViewTitle;
    bool m_allowsSelection = false;
    bool m_allowsMultipleSelection = false;
    bool m_allowsMultipleSelectionWithDrag = false;
    bool m_useSelectionRing = true;
    bool m_useHover = true;
    QMenu* m_itemContextMenu = nullptr;
    QPointer<QWidget> m_headerView;
    bool m_useCenterAlignment = false;

    // The viewport of the scroll area the grid follows (compared, never
    // cast: it may be on its way out when its last events arrive).
    QPointer<QWidget> m_viewport;
    std::vector<QMetaObject::Connection> m_scrollConnections;
    QPointer<QVariantAnimation> m_fadeAnimation;
};

// The cover flow of the results window: a row of large previews with the
// chosen one in the middle, smaller neighbours to both sides and the chosen
// item's title below it. Items come from a data source (Photo: an image and
// an identifier shown as the title); a click, a wheel step or an arrow key
// picks another item and tells the delegate. The view keeps the items it
// has asked for, with their scaled pictures, until it is reloaded or its
// cache is freed.
//
// Main thread only.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <map>
#include <optional>

#include "Photo.h"

class ZRCoverFlowView;

// The view's source of items. Left at its defaults it shows nothing.
class ZRCoverFlowDataSource {
public:
    virtual ~ZRCoverFlowDataSource() = default;
    virtual qint64 numberOfItemsInImageFlow(ZRCoverFlowView* view)
    {
        (void)view;
        return 0;
    }
    // The item at index, or nothing.
    virtual std::optional<Photo> itemAtIndex(ZRCoverFlowView* view, qint64 index)
    {
        (void)view;
        (void)index;
        return std::nullopt;
    }
};

// Told when the user picks an item.
class ZRCoverFlowDelegate {
public:
    virtual ~ZRCoverFlowDelegate() = default;
    virtual void didSelectItemAtIndex(ZRCoverFlowView* view, qint64 index)
    {
        (void)view;
        (void)index;
    }
};

// The items the view has fetched, with their pictures scaled to the size
// they were last drawn at.
class ZRCoverFlowCache {
public:
    struct Entry {
        std::optional<Photo> item;
        QPixmap scaled;
        QSize scaledFor;
    };

    // Forgets every fetched item and scaled picture.
    void freeCache() { m_entries.clear(); }
    void forget(qint64 index) { m_entries.erase(index); }
    size_t size() const { return m_entries.size(); }
    bool contains(qint64 index) const { return m_entries.count(index) != 0; }
    Entry& entry(qint64 index) { return m_entries[index]; }

private:
    std::map<qint64, Entry> m_entries;
};

class ZRCoverFlowView : public QWidget {
    Q_OBJECT
public:
    // How many neighbours are drawn on each side of the chosen item.
    static constexpr int kSideItems = 3;

    explicit ZRCoverFlowView(QWidget* parent = nullptr);

    ZRCoverFlowDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(ZRCoverFlowDataSource* dataSource) { m_dataSource = dataSource; }
    ZRCoverFlowDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRCoverFlowDelegate* delegate) { m_delegate = delegate; }

    // The chosen item; -1 while there is none.
    qint64 selectedIndex() const { return m_selectedIndex; }
    // Moves to index (kept within the items); nobody is told.
    void setSelectedIndex(qint64 index);
    qint64 numberOfItems() const { return m_count; }

    // Asks the data source again for the count and forgets every item.
    void reloadData();
    // Forgets the item at index, so it is fetched again when drawn.
    void reloadCellDataAtIndex(qint64 index);
    ZRCoverFlowCache& cacheManager() { return m_cache; }

    // Where the item at index is drawn (empty when it is not drawn), and the
    // item under a point (-1 for none).
    QRect itemRect(qint64 index) const;
    qint64 indexOfItemAt(const QPoint& point) const;
    // The item as drawn (fetched from the data source when not cached).
    std::optional<Photo> shownItem(qint64 index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Picks index as the user would: moves there and tells the delegate.
    void pick(qint64 index);
    const QPixmap& scaledPicture(qint64 index, const QSize& size);

    ZRCoverFlowDataSource* m_dataSource = nullptr;
    ZRCoverFlowDelegate* m_delegate = nullptr;
    qint64 m_selectedIndex = -1;
    qint64 m_count = 0;
    ZRCoverFlowCache m_cache;
};

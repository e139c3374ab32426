#include "CNGridView.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#include "NotificationCenter.h"

namespace {

constexpr double kPitchF = CNGridView::kPitch;
constexpr int kFadeInMilliseconds = 350;
constexpr int kMoveMilliseconds = 150;
const char* const kMoveAnimationName = "CNGridViewMove";

// The colour the scroll area always shows behind the grid.
QColor ControlColor() { return QPalette().color(QPalette::Button); }

QVariantList IndexList(const CNIndexSet& indexes)
{
    QVariantList list;
    for (qint64 index : indexes)
        list.append(QVariant::fromValue<quint64>(static_cast<quint64>(index)));
    return list;
}

}  // namespace

// ---- selection frame -------------------------------------------------------

CNSelectionFrameView::CNSelectionFrameView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CNSelectionFrameView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF frame(0.5, 0.5, std::floor(width()) - 1.0, std::floor(height()) - 1.0);
    painter.fillRect(frame, QColor::fromRgbF(0, 0, 0, 0.15f));
    QPen pen(Qt::white);
    pen.setWidthF(1.0);
    painter.setPen(pen);
    painter.drawRect(frame);
}

// ---- set-up ----------------------------------------------------------------

CNGridView::CNGridView(QWidget* parent) : QWidget(parent)
{
    setupDefaults();
    m_delegate = nullptr;
    m_dataSource = nullptr;
}

// The viewport drops the grid's event filter by itself when the grid goes.
CNGridView::~CNGridView() = default;

void CNGridView::setupDefaults()
{
    m_lastHoveredIndex = CNNotFound;
    m_lastSelectedItemIndex = CNNotFound;
    m_selectionFrameInitialPoint = QPointF();
    m_selectionFrameView = nullptr;
    m_isInitialCall = true;
    m_abortSelection = false;
    m_mouseHasDragged = false;
    m_gridViewTitle.clear();
    m_allowsMultipleSelectionWithDrag = false;
    m_useSelectionRing = true;
    m_useHover = true;
    m_allowsMultipleSelection = false;
    m_allowsSelection = false;
    m_useCenterAlignment = false;
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    attachToScrollArea();
}

QScrollArea* CNGridView::enclosingScrollArea() const
{
    QWidget* viewport = parentWidget();
    if (!viewport)
        return nullptr;
    auto* area = qobject_cast<QScrollArea*>(viewport->parentWidget());
    return area && area->viewport() == viewport ? area : nullptr;
}

// The grid follows the scroll area it is placed in: its scrolling shows other
// rows and its width sets the column count. The grid is usually put into the
// area after it is made, so the area is looked up again whenever the grid
// gets a new parent.
void CNGridView::attachToScrollArea()
{
    QScrollArea* area = enclosingScrollArea();
    QWidget* viewport = area ? area->viewport() : nullptr;
    if (viewport == m_viewport)
        return;
    for (const QMetaObject::Connection& connection : m_scrollConnections)
        disconnect(connection);
    m_scrollConnections.clear();
    if (m_viewport)
        m_viewport->removeEventFilter(this);
    m_viewport = viewport;
    if (!area)
        return;
    area->setWidgetResizable(false);
    setBackgroundColor(ControlColor());
    m_scrollConnections.push_back(
        connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { updateVisibleRect(); }));
    m_scrollConnections.push_back(
        connect(area->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { updateVisibleRect(); }));
    viewport->installEventFilter(this);
    if (viewport->width() != width())
        setFrame(QRect(0, 0, viewport->width(), height()));
}

bool CNGridView::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange)
        attachToScrollArea();
    // The right button already ran the grid's own context menu on press; the
    // widgets around the grid must not show another.
    if (event->type() == QEvent::ContextMenu) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

bool CNGridView::eventFilter(QObject* watched, QEvent* event)
{
    if (m_viewport && watched == m_viewport && event->type() == QEvent::Resize)
        setFrame(QRect(0, 0, m_viewport->width(), height()));
    return QWidget::eventFilter(watched, event);
}

void CNGridView::setBackgroundColor(const QColor& color)
{
    (void)color;
    QScrollArea* area = enclosingScrollArea();
    if (!area)
        return;
    QWidget* viewport = area->viewport();
    viewport->setAutoFillBackground(true);
    QPalette palette = viewport->palette();
    palette.setColor(QPalette::Window, ControlColor());
    viewport->setPalette(palette);
}

void CNGridView::setScrollElasticity(bool elasticity)
{
    // Scroll areas here never bounce; nothing to switch.
    (void)elasticity;
}

void CNGridView::setItemSize(const QSize& size)
{
    (void)size;
    refreshGridViewAnimated(true, true);
}

bool CNGridView::isBiggerVersionForMac1070()
{
    unsigned major = 0, minor = 0, bugFix = 0;
    getSystemVersionMajor(&major, &minor, &bugFix);
    const QString text = QString::number(major) +
                         (minor < 10 ? QStringLiteral("0%1").arg(minor) : QString::number(minor));
    return text.toInt() >= 1007;
}

void CNGridView::getSystemVersionMajor(unsigned* major, unsigned* minor, unsigned* bugFix)
{
    // Every system this runs on has the behaviour of the newer releases.
    if (major)
        *major = 10;
    if (minor)
        *minor = 15;
    if (bugFix)
        *bugFix = 0;
}

uint64_t CNGridView::ModifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= CNShiftKeyMask;
    if (modifiers & Qt::ControlModifier)
        flags |= CNCommandKeyMask;
    return flags;
}

// ---- data source relays ----------------------------------------------------

qint64 CNGridView::numberOfItemsInSection(qint64 section)
{
    return m_dataSource ? m_dataSource->numberOfItemsInSection(this, section) : CNNotFound;
}

CNGridViewItemBase* CNGridView::itemAtIndex(qint64 index, qint64 section)
{
    return m_dataSource ? m_dataSource->itemAtIndex(this, index, section) : nullptr;
}

qint64 CNGridView::numberOfSectionsInGridView()
{
    return m_dataSource ? m_dataSource->numberOfSectionsInGridView(this) : CNNotFound;
}

QString CNGridView::titleForHeaderInSection(qint64 section)
{
    return m_dataSource ? m_dataSource->titleForHeaderInSection(this, section) : QString();
}

QStringList CNGridView::sectionIndexTitlesForGridView()
{
    return m_dataSource ? m_dataSource->sectionIndexTitlesForGridView(this) : QStringList();
}

// ---- geometry --------------------------------------------------------------

QRect CNGridView::clippedRect() const
{
    QScrollArea* area = enclosingScrollArea();
    if (!area)
        return QRect();
    // The document widget sits at minus the scrolled offset in the viewport.
    return QRect(-x(), -y(), area->viewport()->width(), area->viewport()->height());
}

qint64 CNGridView::columnsInGridView() const
{
    const qint64 columns = static_cast<qint64>(std::floor(clippedRect().width() / kPitchF));
    return std::max<qint64>(1, columns);
}

qint64 CNGridView::allOverRowsInGridView() const
{
    const qint64 columns = columnsInGridView();
    return (m_numberOfItems + columns - 1) / columns;
}

qint64 CNGridView::visibleRowsInGridView() const
{
    return static_cast<qint64>(std::ceil(clippedRect().height() / kPitchF));
}

void CNGridView::refreshInset()
{
    m_contentInset = m_useCenterAlignment
                         ? std::floor((clippedRect().width() - columnsInGridView() * kPitchF) / 2.0)
                         : 0.0;
}

QRect CNGridView::rectForItemAtIndex(qint64 index) const
{
    const qint64 columns = columnsInGridView();
    const qint64 column = index % columns;
    const qint64 row = (index - column) / columns;
    const int inset = static_cast<int>(m_contentInset);
    return QRect(static_cast<int>(column * kPitchF) + inset, static_cast<int>(row * kPitchF) + inset, CNGridView::kPitch,
                 CNGridView::kPitch);
}

std::pair<qint64, qint64> CNGridView::visibleItemRange() const
{
    const QRect clip = clippedRect();
    const qint64 columns = columnsInGridView();
    const qint64 first =
        clip.y() <= kPitchF ? 0 : (static_cast<qint64>(std::ceil(clip.y() / kPitchF)) - 1) * columns;
    qint64 length = std::min<qint64>(m_numberOfItems, columns * (visibleRowsInGridView() + 1));
    if (first >= m_numberOfItems)
        return {first, 0};
    if (first + length > m_numberOfItems)
        length = m_numberOfItems - first;
    return {first, length};
}

qint64 CNGridView::indexForItemAtLocation(const QPointF& location) const
{
    const qint64 columns = columnsInGridView();
    // The right edge of the last column belongs to no tile.
    if (location.x() >= columns * kPitchF + m_contentInset || location.x() < m_contentInset ||
        location.y() < m_contentInset)
        return CNNotFound;
    const qint64 column = static_cast<qint64>(std::floor((location.x() - m_contentInset) / kPitchF));
    const qint64 row = static_cast<qint64>(std::floor((location.y() - m_contentInset) / kPitchF));
    const qint64 index = row * columns + column;
    return index < m_numberOfItems ? index : CNNotFound;
}

CNItemPoint CNGridView::locationForItemAtIndex(qint64 index) const
{
    const qint64 columns = columnsInGridView();
    const qint64 row = index / columns + 1;
    const qint64 column = index - (row - 1) * columns + 1;
    return CNMakeItemPoint(static_cast<uint64_t>(column), static_cast<uint64_t>(row));
}

qint64 CNGridView::boundIndexForItemAtLocation(const QPointF& location) const
{
    const qint64 columns = columnsInGridView();
    const double x = std::clamp(location.x(), 0.0, columns * kPitchF);
    const double y = std::max(0.0, location.y());
    return static_cast<qint64>(std::floor(y / kPitchF)) * columns + static_cast<qint64>(std::floor(x / kPitchF));
}

CNIndexSet CNGridView::visibleIndexes() const
{
    CNIndexSet indexes;
    const auto [first, length] = visibleItemRange();
    for (qint64 i = first; i < first + length; ++i)
        indexes.insert(i);
    return indexes;
}

CNIndexSet CNGridView::indexesForVisibleItems() const
{
    CNIndexSet indexes;
    for (const auto& [key, item] : m_keyedVisibleItems)
        indexes.insert(item->index());
    return indexes;
}

CNGridViewItemBase* CNGridView::visibleItemAtIndex(qint64 index) const
{
    auto it = m_keyedVisibleItems.find(index);
    return it == m_keyedVisibleItems.end() ? nullptr : it->second;
}

size_t CNGridView::reuseableItemCount(const QString& identifier) const
{
    auto it = m_reuseableItems.find(identifier);
    return it == m_reuseableItems.end() ? 0 : it->second.size();
}

// ---- tile ownership --------------------------------------------------------

// Tiles handed out by the data source become children of the grid. A tile
// out of sight stays a hidden child while the visible set, a reuse queue or
// the selection holds it, and is deleted once none does.
void CNGridView::adoptItem(CNGridViewItemBase* item)
{
    if (item->parentWidget() != this)
        item->setParent(this);
}

void CNGridView::takeOutOfHierarchy(CNGridViewItemBase* item) { item->hide(); }

void CNGridView::enqueueForReuse(CNGridViewItemBase* item)
{
    item->prepareForReuse();
    std::vector<CNGridViewItemBase*>& queue = m_reuseableItems[item->reuseIdentifier()];
    if (std::find(queue.begin(), queue.end(), item) == queue.end())
        queue.push_back(item);
}

void CNGridView::releaseIfUnused(CNGridViewItemBase* item)
{
    if (!item)
        return;
    auto holds = [item](const std::map<qint64, CNGridViewItemBase*>& map) {
        return std::any_of(map.begin(), map.end(), [item](const auto& entry) { return entry.second == item; });
    };
    if (holds(m_keyedVisibleItems) || holds(m_selectedItems) || holds(m_selectedItemsBySelectionFrame))
        return;
    for (const auto& [identifier, queue] : m_reuseableItems)
        if (std::find(queue.begin(), queue.end(), item) != queue.end())
            return;
    item->hide();
    item->deleteLater();
}

// ---- refresh and reuse -----------------------------------------------------

void CNGridView::setFrame(const QRect& frame)
{
    const bool widthChanged = frame.width() != width();
    // Inside a scroll area the area owns the position; only the size is ours.
    if (m_viewport)
        resize(frame.size());
    else
        setGeometry(frame);
    refreshGridViewAnimated(widthChanged, true);
    QTimer::singleShot(300, this, [this] { refreshGridView(); });
}

void CNGridView::refreshGridView() { update(); }

void CNGridView::refreshGridViewAnimated(bool animated, bool initialCall)
{
    m_isInitialCall = initialCall;
    const double wanted = std::max(0.0, allOverRowsInGridView() * kPitchF + 2 * m_contentInset);
    if (std::fabs(wanted - height()) > 1.0)
        resize(width(), static_cast<int>(std::min<double>(wanted, QWIDGETSIZE_MAX)));
    refreshInset();
    // The rest runs after the current event, like the tiles' placement after
    // a resize.
    QMetaObject::invokeMethod(this, [this, animated] { refreshSecondHalf(animated); }, Qt::QueuedConnection);
}

void CNGridView::refreshSecondHalf(bool animated)
{
    refreshInset();
    updateReuseableItems();
    updateVisibleItems();
    arrangeGridViewItemsAnimated(animated);
}

void CNGridView::updateVisibleRect()
{
    updateReuseableItems();
    updateVisibleItems();
    arrangeGridViewItemsAnimated(false);
}

void CNGridView::updateReuseableItems()
{
    // Selected tiles are never recycled, and while anything is selected the
    // visible set is not trimmed.
    if (!selectedIndexes().empty())
        return;
    const auto [first, length] = visibleItemRange();
    for (auto it = m_keyedVisibleItems.begin(); it != m_keyedVisibleItems.end();) {
        CNGridViewItemBase* item = it->second;
        const qint64 index = item->index();
        if ((index < first || index >= first + length) && item->isReuseable()) {
            it = m_keyedVisibleItems.erase(it);
            takeOutOfHierarchy(item);
            enqueueForReuse(item);
        } else {
            ++it;
        }
    }
}

CNGridViewItemBase* CNGridView::dequeueReusableItemWithIdentifier(const QString& identifier)
{
    auto it = m_reuseableItems.find(identifier);
    if (it == m_reuseableItems.end() || it->second.empty())
        return nullptr;
    CNGridViewItemBase* item = it->second.back();
    it->second.pop_back();
    item->setRepresentedObject(nullptr);
    return item;
}

void CNGridView::updateVisibleItems()
{
    const auto [first, length] = visibleItemRange();
    for (qint64 index = first; index < first + length; ++index) {
        if (m_keyedVisibleItems.count(index))
            continue;
        CNGridViewItemBase* item = itemAtIndex(index, 0);
        if (!item)
            continue;
        // A data source that hands out a tile already placed elsewhere, or
        // one still waiting for reuse, gets it moved here.
        for (auto it = m_keyedVisibleItems.begin(); it != m_keyedVisibleItems.end(); ++it)
            if (it->second == item) {
                m_keyedVisibleItems.erase(it);
                break;
            }
        for (auto& [identifier, queue] : m_reuseableItems)
            queue.erase(std::remove(queue.begin(), queue.end(), item), queue.end());
        adoptItem(item);
        item->setIndex(index);
        if (m_isInitialCall) {
            item->setAlphaValue(0);
            item->setGeometry(rectForItemAtIndex(index));
        }
        m_keyedVisibleItems[index] = item;
        item->show();
    }
}

void CNGridView::moveItemTo(CNGridViewItemBase* item, const QRect& rect, bool animated)
{
    for (auto* running : item->findChildren<QPropertyAnimation*>(kMoveAnimationName, Qt::FindDirectChildrenOnly))
        running->stop();
    if (!animated || item->geometry() == rect) {
        item->setGeometry(rect);
        return;
    }
    auto* animation = new QPropertyAnimation(item, "geometry", item);
    animation->setObjectName(kMoveAnimationName);
    animation->setDuration(kMoveMilliseconds);
    animation->setEndValue(rect);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CNGridView::arrangeGridViewItemsAnimated(bool animated)
{
    if (m_keyedVisibleItems.empty())
        return;
    if (m_isInitialCall) {
        m_isInitialCall = false;
        // Fade every placed tile in from where it is now; tiles that leave the
        // grid meanwhile still end fully opaque.
        std::vector<std::pair<QPointer<CNGridViewItemBase>, double>> fading;
        for (const auto& [index, item] : m_keyedVisibleItems)
            fading.emplace_back(item, item->alphaValue());
        if (m_fadeAnimation)
            m_fadeAnimation->stop();
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(kFadeInMilliseconds);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        auto apply = [fading](double t) {
            for (const auto& [item, start] : fading)
                if (item)
                    item->setAlphaValue(start + (1.0 - start) * t);
        };
        connect(animation, &QVariantAnimation::valueChanged, this, [apply](const QVariant& v) { apply(v.toDouble()); });
        connect(animation, &QAbstractAnimation::stateChanged, this,
                [apply](QAbstractAnimation::State state) {
                    if (state == QAbstractAnimation::Stopped)
                        apply(1.0);
                });
        m_fadeAnimation = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
        return;
    }
    for (const auto& [index, item] : m_keyedVisibleItems)
        moveItemTo(item, rectForItemAtIndex(index), animated);
}

// ---- content changes -------------------------------------------------------

void CNGridView::reloadData() { reloadDataAnimated(false); }

void CNGridView::reloadDataAnimated(bool animated)
{
    qint64 count = numberOfItemsInSection(0);
    // A data source without a count (or a nonsensical one) shows nothing.
    if (count == CNNotFound || count < 0)
        count = 0;
    m_numberOfItems = count;

    std::vector<CNGridViewItemBase*> dropped;
    for (const auto& [index, item] : m_keyedVisibleItems) {
        takeOutOfHierarchy(item);
        dropped.push_back(item);
    }
    for (const auto& [identifier, queue] : m_reuseableItems)
        dropped.insert(dropped.end(), queue.begin(), queue.end());
    m_keyedVisibleItems.clear();
    m_reuseableItems.clear();
    for (CNGridViewItemBase* item : dropped)
        releaseIfUnused(item);

    refreshGridViewAnimated(animated, true);
}

void CNGridView::insertItemAtIndex(qint64 index, bool animated) { insertItemsAtIndexes(CNIndexSet{index}, animated); }

void CNGridView::shiftVisibleItems(const std::vector<std::pair<CNGridViewItemBase*, qint64>>& moves, bool animated)
{
    for (const auto& [item, newIndex] : moves) {
        m_keyedVisibleItems.erase(item->index());
    }
    for (const auto& [item, newIndex] : moves) {
        item->setIndex(newIndex);
        m_keyedVisibleItems[newIndex] = item;
        moveItemTo(item, rectForItemAtIndex(newIndex), animated);
    }
}

void CNGridView::insertItemsAtIndexes(const CNIndexSet& indexes, bool animated)
{
    if (indexes.empty())
        return;
    const qint64 first = *indexes.begin();
    // Visible tiles at or after the first insertion, highest index first.
    std::vector<std::pair<CNGridViewItemBase*, qint64>> moves;
    for (auto it = m_keyedVisibleItems.rbegin(); it != m_keyedVisibleItems.rend() && it->first >= first; ++it) {
        // Each inserted index at or before the tile's new place pushes it on
        // by one, so the tile at an insertion point moves as well.
        qint64 newIndex = it->first;
        for (qint64 inserted : indexes)
            if (inserted <= newIndex)
                ++newIndex;
        moves.emplace_back(it->second, newIndex);
    }
    shiftVisibleItems(moves, animated);
    m_numberOfItems += static_cast<qint64>(indexes.size());
    refreshGridViewAnimated(animated, true);
}

void CNGridView::reloadItemsAtIndexes(const CNIndexSet& indexes, bool animated)
{
    if (indexes.empty())
        return;
    std::vector<CNGridViewItemBase*> dropped;
    for (qint64 index : indexes) {
        auto it = m_keyedVisibleItems.find(index);
        if (it == m_keyedVisibleItems.end())
            continue;
        dropped.push_back(it->second);
        takeOutOfHierarchy(it->second);
        m_keyedVisibleItems.erase(it);
    }
    for (CNGridViewItemBase* item : dropped)
        releaseIfUnused(item);
    m_isInitialCall = true;
    refreshGridViewAnimated(animated, true);
}

void CNGridView::removeItemsAtIndexes(const CNIndexSet& indexes, bool animated)
{
    if (indexes.empty())
        return;
    const qint64 first = *indexes.begin();
    std::vector<CNGridViewItemBase*> removed;
    for (auto it = m_keyedVisibleItems.rbegin(); it != m_keyedVisibleItems.rend() && it->first >= first; ++it)
        removed.push_back(it->second);
    for (CNGridViewItemBase* item : removed) {
        m_keyedVisibleItems.erase(item->index());
        takeOutOfHierarchy(item);
        if (!animated)
            enqueueForReuse(item);
    }
    if (animated)
        for (CNGridViewItemBase* item : removed)
            releaseIfUnused(item);
    m_numberOfItems = std::max<qint64>(0, m_numberOfItems - static_cast<qint64>(indexes.size()));
    refreshGridViewAnimated(animated, true);
}

// ---- hovering and selection ------------------------------------------------

void CNGridView::postIndex(const char* name, qint64 index)
{
    NotificationCenter::defaultCenter().PostNotification(
        name, this, {{CNGridViewItemIndexKey, QVariant::fromValue<quint64>(static_cast<quint64>(index))}});
}

void CNGridView::hoverItemAtIndex(qint64 index)
{
    postIndex(CNGridViewWillHoverItemNotification, index);
    if (m_delegate)
        m_delegate->willHoverItemAtIndex(this, index, 0);
    m_lastHoveredIndex = index;
    if (CNGridViewItemBase* item = visibleItemAtIndex(index))
        item->setHovered(true);
}

void CNGridView::unHoverItemAtIndex(qint64 index)
{
    postIndex(CNGridViewWillUnhoverItemNotification, index);
    if (m_delegate)
        m_delegate->willUnhoverItemAtIndex(this, index, 0);
    if (CNGridViewItemBase* item = visibleItemAtIndex(index))
        item->setHovered(false);
}

void CNGridView::selectItem(CNGridViewItemBase* item)
{
    if (!item)
        return;
    const qint64 index = item->index();
    if (m_selectedItems.count(index))
        return;
    postIndex(CNGridViewWillSelectItemNotification, index);
    if (m_delegate)
        m_delegate->willSelectItemAtIndex(this, index, 0);
    item->setSelected(true);
    m_selectedItems[index] = item;
    postIndex(CNGridViewDidSelectItemNotification, index);
    if (m_delegate)
        m_delegate->didSelectItemAtIndex(this, index, 0);
}

void CNGridView::deSelectItem(CNGridViewItemBase* item)
{
    if (!item)
        return;
    const qint64 index = item->index();
    auto it = m_selectedItems.find(index);
    if (it == m_selectedItems.end())
        return;
    postIndex(CNGridViewWillDeselectItemNotification, index);
    if (m_delegate)
        m_delegate->willDeselectItemAtIndex(this, index, 0);
    item->setSelected(false);
    CNGridViewItemBase* stored = it->second;
    m_selectedItems.erase(it);
    postIndex(CNGridViewDidDeselectItemNotification, index);
    if (m_delegate)
        m_delegate->didDeselectItemAtIndex(this, index, 0);
    releaseIfUnused(stored);
}

std::vector<CNGridViewItemBase*> CNGridView::selectedItems() const
{
    std::vector<CNGridViewItemBase*> items;
    for (const auto& [index, item] : m_selectedItems)
        items.push_back(item);
    return items;
}

CNIndexSet CNGridView::selectedIndexes() const
{
    CNIndexSet indexes;
    for (const auto& [index, item] : m_selectedItems)
        indexes.insert(item->index());
    return indexes;
}

void CNGridView::deselectAllItems()
{
    if (m_selectedItems.empty())
        return;
    const std::vector<CNGridViewItemBase*> items = selectedItems();
    QVariantList list;
    for (CNGridViewItemBase* item : items)
        list.append(QVariant::fromValue<QObject*>(item));
    auto& center = NotificationCenter::defaultCenter();
    center.PostNotification(CNGridViewWillDeselectAllItemsNotification, this, {{CNGridViewSelectedItemsKey, list}});
    if (m_delegate)
        m_delegate->willDeselectAllItems(this, items);
    center.PostNotification(CNGridViewDeSelectAllItemsNotification, this);
    m_selectedItems.clear();
    center.PostNotification(CNGridViewDidDeselectAllItemsNotification, this);
    if (m_delegate)
        m_delegate->gridViewDidDeselectAllItems(this);
    for (CNGridViewItemBase* item : items)
        releaseIfUnused(item);
}

void CNGridView::selectAllItems()
{
    qint64 count = numberOfItemsInSection(0);
    if (count == CNNotFound || count < 0)
        count = 0;
    for (qint64 index = 0; index < count; ++index) {
        CNGridViewItemBase* item = itemAtIndex(index, 0);
        if (!item)
            continue;
        adoptItem(item);
        item->setSelected(true);
        item->setIndex(index);
        CNGridViewItemBase*& slot = m_selectedItems[index];
        CNGridViewItemBase* old = slot;
        slot = item;
        if (old != item)
            releaseIfUnused(old);
    }
}

void CNGridView::selectItemAtIndex(qint64 index, uint64_t modifierFlags)
{
    if (index == CNNotFound)
        return;
    if (m_lastSelectedItemIndex != CNNotFound && m_lastSelectedItemIndex != index)
        deSelectItem(visibleItemAtIndex(m_lastSelectedItemIndex));
    CNGridViewItemBase* item = visibleItemAtIndex(index);
    if (!item)
        return;
    const bool shift = modifierFlags & CNShiftKeyMask;
    const bool command = modifierFlags & CNCommandKeyMask;
    if (m_allowsMultipleSelection) {
        if (!item->selected() && !shift && !command) {
            deselectAllItems();
            selectItem(item);
        } else if (item->selected() && command) {
            deSelectItem(item);
        } else if (!item->selected() && command) {
            selectItem(item);
        } else if (shift) {
            const CNIndexSet selected = selectedIndexes();
            if (selected.empty()) {
                selectItem(item);
            } else {
                const qint64 last = *selected.rbegin();
                for (qint64 i = std::min(last, index); i <= std::max(last, index); ++i) {
                    CNGridViewItemBase* between = visibleItemAtIndex(i);
                    if (between && !between->selected())
                        selectItem(between);
                }
            }
        } else {
            deselectAllItems();
            selectItem(item);
        }
    } else if (command && item->selected()) {
        deSelectItem(item);
    } else {
        selectItem(item);
    }
    m_lastSelectedItemIndex = m_allowsMultipleSelection ? CNNotFound : index;
}

void CNGridView::setAllowsMultipleSelection(bool allows)
{
    m_allowsMultipleSelection = allows;
    if (!allows && !m_selectedItems.empty()) {
        NotificationCenter::defaultCenter().PostNotification(CNGridViewDeSelectAllItemsNotification, this);
        const std::vector<CNGridViewItemBase*> items = selectedItems();
        m_selectedItems.clear();
        for (CNGridViewItemBase* item : items)
            releaseIfUnused(item);
    }
}

// ---- clicks ----------------------------------------------------------------

void CNGridView::handleClicks(const std::vector<QPointF>& clickLocations)
{
    std::vector<qint64> indexes;
    for (const QPointF& location : clickLocations)
        indexes.push_back(indexForItemAtLocation(location));
    for (size_t i = 0; i < indexes.size();) {
        if (i + 1 < indexes.size() && indexes[i + 1] == indexes[i]) {
            handleDoubleClickForItemAtIndex(indexes[i]);
            // A third click on the same tile belongs to the double click.
            const qint64 same = indexes[i];
            i += 2;
            while (i < indexes.size() && indexes[i] == same)
                ++i;
        } else {
            handleSingleClickForItemAtIndex(indexes[i]);
            ++i;
        }
    }
    m_clickEvents.clear();
}

void CNGridView::handleSingleClickForItemAtIndex(qint64 index)
{
    if (index == CNNotFound)
        return;
    postIndex(CNGridViewDidClickItemNotification, index);
    if (m_delegate)
        m_delegate->didClickItemAtIndex(this, index, 0);
}

void CNGridView::handleDoubleClickForItemAtIndex(qint64 index)
{
    if (index == CNNotFound)
        return;
    postIndex(CNGridViewDidDoubleClickItemNotification, index);
    if (m_delegate)
        m_delegate->didDoubleClickItemAtIndex(this, index, 0);
}

// ---- events ----------------------------------------------------------------

void CNGridView::paintEvent(QPaintEvent*)
{
    // The grid itself draws nothing; the scroll area shows the background.
}

void CNGridView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        rightMouseDown(event->position());
}

void CNGridView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && (m_mouseHasDragged || m_selectionFrameView))
        endDragSelection();
}

void CNGridView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton) {
        mouseDragged(event->position(), ModifierFlagsFromQt(event->modifiers()));
        return;
    }
    if (!m_useHover)
        return;
    const qint64 index = indexForItemAtLocation(event->position());
    if (index == CNNotFound && m_lastHoveredIndex == CNNotFound)
        return;
    if (m_lastHoveredIndex != CNNotFound && m_lastHoveredIndex != index)
        unHoverItemAtIndex(m_lastHoveredIndex);
    if (m_lastHoveredIndex != index)
        hoverItemAtIndex(index);
}

void CNGridView::leaveEvent(QEvent* event)
{
    mouseExited();
    QWidget::leaveEvent(event);
}

void CNGridView::mouseExited()
{
    // The tile under the pointer is unhovered too, so that no tile keeps its
    // highlight after the pointer has left the grid.
    if (m_lastHoveredIndex != CNNotFound)
        unHoverItemAtIndex(m_lastHoveredIndex);
    m_lastHoveredIndex = CNNotFound;
}

void CNGridView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        m_abortSelection = true;
    QWidget::keyPressEvent(event);
}

void CNGridView::rightMouseDown(const QPointF& location)
{
    const qint64 index = indexForItemAtLocation(location);
    if (index == CNNotFound) {
        deselectAllItems();
        return;
    }
    CNIndexSet indexes = selectedIndexes();
    if (!indexes.count(index)) {
        indexes = CNIndexSet{index};
        deselectAllItems();
        selectItem(visibleItemAtIndex(index));
    }
    if (!m_itemContextMenu)
        return;
    const QVariantList list = IndexList(indexes);
    for (QAction* action : m_itemContextMenu->actions())
        action->setData(list);
    m_itemContextMenu->exec(mapToGlobal(location.toPoint()));
    NotificationCenter::defaultCenter().PostNotification(CNGridViewRightMouseButtonClickedOnItemNotification, this,
                                                         {{CNGridViewItemsIndexSetKey, list}});
    if (m_delegate)
        m_delegate->didActivateContextMenuWithIndexes(this, indexes, 0);
}

// ---- drag selection --------------------------------------------------------

void CNGridView::mouseDragged(const QPointF& location, uint64_t modifierFlags)
{
    if (!m_allowsMultipleSelection || !m_allowsMultipleSelectionWithDrag)
        return;
    m_mouseHasDragged = true;
    if (m_abortSelection)
        return;
    drawSelectionFrameForMousePointerAtLocation(location);
    selectItemsCoveredBySelectionFrame(m_selectionFrameView->geometry(), modifierFlags);
}

void CNGridView::drawSelectionFrameForMousePointerAtLocation(const QPointF& location)
{
    if (!m_selectionFrameView) {
        m_selectionFrameInitialPoint = location;
        m_selectionFrameView = new CNSelectionFrameView(this);
        m_selectionFrameView->setGeometry(QRect(location.toPoint(), QSize(0, 0)));
        m_selectionFrameView->show();
        m_selectionFrameView->raise();
        return;
    }
    const QRect clip = clippedRect();
    const QPointF start = m_selectionFrameInitialPoint;
    const double limit = columnsInGridView() * kPitchF;
    double x = std::max<double>(std::ceil(std::min(location.x(), start.x())), clip.x());
    double y = std::max<double>(std::ceil(std::min(location.y(), start.y())), clip.y());
    double width = location.x() <= start.x() ? start.x() - x : location.x() - start.x();
    if (x + width >= limit)
        width = limit - x - 1;
    double height = location.y() <= start.y() ? start.y() - y : location.y() - start.y();
    const double clipBottom = static_cast<double>(clip.y()) + clip.height();
    if (y + height > clipBottom)
        height = clipBottom - y;
    m_selectionFrameView->setGeometry(static_cast<int>(x), static_cast<int>(y),
                                      static_cast<int>(std::max(0.0, width)), static_cast<int>(std::max(0.0, height)));
    m_selectionFrameView->raise();
}

void CNGridView::selectItemsCoveredBySelectionFrame(const QRect& frame, uint64_t modifierFlags)
{
    CNItemPoint a = locationForItemAtIndex(boundIndexForItemAtLocation(frame.topLeft()));
    CNItemPoint b = locationForItemAtIndex(
        boundIndexForItemAtLocation(QPointF(frame.x() + frame.width(), frame.y() + frame.height())));

    for (qint64 index : indexesForVisibleItems()) {
        auto marked = m_selectedItemsBySelectionFrame.find(index);
        if (marked == m_selectedItemsBySelectionFrame.end())
            continue;
        CNGridViewItemBase* item = marked->second;
        const CNItemPoint at = locationForItemAtIndex(item->index());
        if (at.column >= a.column && at.column <= b.column && at.row >= a.row && at.row <= b.row)
            continue;
        auto committed = m_selectedItems.find(index);
        if (committed != m_selectedItems.end() && committed->second == item) {
            item->setSelected(true);
        } else {
            item->setSelected(false);
            m_selectedItemsBySelectionFrame.erase(marked);
        }
    }

    const qint64 columns = columnsInGridView();
    const uint64_t rows = static_cast<uint64_t>((m_numberOfItems + columns - 1) / columns);
    a.row = std::min(a.row, rows);
    b.row = std::min(b.row, rows);
    a.column = std::min(a.column, static_cast<uint64_t>(columns));
    b.column = std::min(b.column, static_cast<uint64_t>(columns));

    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const bool command = modifierFlags & CNCommandKeyMask;
    for (uint64_t row = std::max<uint64_t>(a.row, 1); row <= b.row; ++row) {
        for (uint64_t column = std::max<uint64_t>(a.column, 1); column <= b.column; ++column) {
            const qint64 index = static_cast<qint64>((row - 1) * columns + column - 1);
            CNGridViewItemBase* item = visibleItemAtIndex(index);
            if (!item)
                continue;
            m_selectedItemsBySelectionFrame[index] = item;
            if (command) {
                auto committed = m_selectedItems.find(index);
                item->setSelected(committed == m_selectedItems.end() || committed->second != item);
            } else {
                item->setSelected(true);
            }
        }
    }
}

// When the button goes up the marked tiles become the selection (announced
// like any other selection change), unless Escape abandoned the drag; then
// the tiles show the committed selection again. The next drag starts afresh.
void CNGridView::endDragSelection()
{
    const auto marked = m_selectedItemsBySelectionFrame;
    m_selectedItemsBySelectionFrame.clear();
    for (const auto& [index, item] : marked) {
        auto committed = m_selectedItems.find(index);
        const bool isCommitted = committed != m_selectedItems.end() && committed->second == item;
        if (m_abortSelection) {
            item->setSelected(isCommitted);
        } else if (item->selected() && !isCommitted) {
            selectItem(item);
        } else if (!item->selected() && isCommitted) {
            deSelectItem(item);
        }
    }
    for (const auto& [index, item] : marked)
        releaseIfUnused(item);
    delete m_selectionFrameView;
    m_selectionFrameView = nullptr;
    m_selectionFrameInitialPoint = QPointF();
    m_abortSelection = false;
    m_mouseHasDragged = false;
}

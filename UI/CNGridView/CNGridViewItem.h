// The tiles of the grid view: a reusable base with an index, a reuse
// identifier and selected/hovered flags, and the thumbnail tile of the
// results window (rounded background, thumbnail, title line, check box).
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>

class QLabel;
class QPushButton;
class QVariantAnimation;

// "No index": an unplaced tile, no hovered item, no hit.
inline constexpr qint64 CNNotFound = std::numeric_limits<qint64>::max();

// Name of the reuse queue of the ordinary tiles.
inline constexpr const char* kCNDefaultItemIdentifier = "CNGridViewItem";

// The fixed colours tiles draw with.
class CNGridViewPalette {
public:
    static QColor itemBackgroundColor();
    static QColor itemBackgroundHoverColor();
    static QColor itemBackgroundSelectionColor();
    static QColor itemSelectionRingColor();
    static QColor itemTitleColor();
    static QColor itemTitleBackgroundColor();
    static QColor itemTitleShadowColor();
    static QColor selectionFrameColor();
};

// Text attributes of a tile's title.
struct CNGridViewItemTitleTextAttributes {
    QFont font;
    QColor shadowColor;
    QPointF shadowOffset;
    QColor foregroundColor;
    Qt::Alignment alignment = Qt::AlignHCenter;
};

// Appearance values of tiles.
class CNGridViewItemLayout {
public:
    static const double kDefaultSelectionRingLineWidth;
    static const double kDefaultContentInset;
    static const double kDefaultItemBorderRadius;

    CNGridViewItemLayout();
    // A newly made layout with the default values, on every call.
    static std::shared_ptr<CNGridViewItemLayout> defaultLayout();

    QColor backgroundColor;
    QColor selectionRingColor;
    double selectionRingLineWidth;
    uint64_t contentInset;
    uint64_t itemBorderRadius;
    CNGridViewItemTitleTextAttributes itemTitleTextAttributes;
    int32_t visibleContentMask = 3;
};

// The reusable part of every tile.
class CNGridViewItemBase : public QWidget {
    Q_OBJECT
public:
    explicit CNGridViewItemBase(QWidget* parent = nullptr);
    ~CNGridViewItemBase() override;

    // The grid's cell pitch.
    static QSize defaultItemSize();

    QString reuseIdentifier() const;
    void setReuseIdentifier(const QString& identifier);
    qint64 index() const { return m_index.load(); }
    void setIndex(qint64 index) { m_index.store(index); }
    void* representedObject() const { return m_representedObject; }
    void setRepresentedObject(void* object) { m_representedObject = object; }
    bool selected() const { return m_selected; }
    virtual void setSelected(bool selected) { m_selected = selected; }
    bool selectable() const { return m_selectable; }
    void setSelectable(bool selectable) { m_selectable = selectable; }
    bool hovered() const { return m_hovered; }
    virtual void setHovered(bool hovered) { m_hovered = hovered; }

    // Resets a tile taken out of the grid for reuse.
    virtual void prepareForReuse();
    // A selected tile is never recycled.
    bool isReuseable() const { return !m_selected; }

    // Handlers of the grids' select-all and deselect-all notifications.
    void selectAll();
    void deSelectAll();
    void clearHovering() { setHovered(false); }
    void clearSelection() { setSelected(false); }

    // Opacity of the whole tile with its subviews (the grid fades tiles in).
    double alphaValue() const { return m_alpha; }
    void setAlphaValue(double alpha);

    bool isFlipped() const { return true; }

private:
    void initProperties();

    QString m_reuseIdentifier;
    std::atomic<qint64> m_index{CNNotFound};
    void* m_representedObject = nullptr;
    bool m_selected = false;
    bool m_selectable = true;
    bool m_hovered = false;
    double m_alpha = 1.0;
};

// Told when a tile's check box is clicked.
class CNGridViewItemDelegate {
public:
    virtual ~CNGridViewItemDelegate() = default;
    virtual void doSelectItem(qint64 index) { (void)index; }
};

// What a tile asks of the engine when its check box is clicked: whether a
// scan runs (clicks are ignored while one runs unpaused) and the check state
// of the outline node it shows (0 unchecked, 2 checked, other mixed). The
// results window installs one that asks the bridge; without one no scan runs
// and every node reads unchecked.
class CNGridViewItemEngine {
public:
    virtual ~CNGridViewItemEngine() = default;
    virtual bool IsScanRunning() const { return false; }
    virtual bool IsPause() const { return false; }
    virtual int NodeState(const void* node) const
    {
        (void)node;
        return 0;
    }
};

// The thumbnail tile of the results window.
class CNGridViewItem : public CNGridViewItemBase {
    Q_OBJECT
public:
    explicit CNGridViewItem(QWidget* parent = nullptr);
    // The layout is not kept; the identifier names the reuse queue.
    CNGridViewItem(const std::shared_ptr<CNGridViewItemLayout>& layout, const QString& reuseIdentifier,
                   QWidget* parent = nullptr);
    ~CNGridViewItem() override;

    static void SetEngine(const CNGridViewItemEngine* engine);
    static const CNGridViewItemEngine* Engine();

    CNGridViewItemDelegate* delegate() const { return m_delegate; }
    void setDelegate(CNGridViewItemDelegate* delegate) { m_delegate = delegate; }
    QImage itemImage() const { return m_itemImage; }
    void setItemImage(const QImage& image) { m_itemImage = image; }
    QPushButton* itemButton() const { return m_itemButton; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QString itemTitle() const { return m_itemTitle; }
    void setItemTitle(const QString& title) { m_itemTitle = title; }
    // The outline node of the shown file (not owned); compared by identity
    // when a thumbnail arrives.
    const void* node() const { return m_node.load(); }
    void setNode(const void* node) { m_node.store(node); }
    bool useLayout() const { return m_useLayout; }
    void setUseLayout(bool use) { m_useLayout = use; }
    std::shared_ptr<CNGridViewItemLayout> currentLayout() const { return m_currentLayout; }
    void setCurrentLayout(const std::shared_ptr<CNGridViewItemLayout>& layout) { m_currentLayout = layout; }

    void setHovered(bool hovered) override;
    void setSelected(bool selected) override;
    void prepareForReuse() override;
    void setDefaultLayout(const std::shared_ptr<CNGridViewItemLayout>& layout) { (void)layout; }

    // The check box's action.
    void setItemSelectBoxClickAction();

    // Called on the thumbnail thread: hands the image to the main thread
    // when the tile still shows node.
    void updateImageViewWithImage(const QImage& image, const void* node);
    // Main thread: shows the image unless it is empty.
    void refImageWithImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void initProperties();

    CNGridViewItemDelegate* m_delegate = nullptr;
    QImage m_itemImage;
    QPushButton* m_itemButton = nullptr;
    QLabel* m_titleLabel = nullptr;
    QString m_itemTitle;
    std::atomic<const void*> m_node{nullptr};
    bool m_useLayout = false;
    std::shared_ptr<CNGridViewItemLayout> m_currentLayout;
};

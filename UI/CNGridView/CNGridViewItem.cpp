#include "CNGridViewItem.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <thread>

#include "BundleResources.h"
#include "NotificationCenter.h"

// ---- palette ---------------------------------------------------------------

QColor CNGridViewPalette::itemBackgroundColor() { return QColor::fromRgbF(0, 0, 0, 0.05f); }
QColor CNGridViewPalette::itemBackgroundHoverColor() { return QColor::fromRgbF(0, 0, 0, 0.3f); }
QColor CNGridViewPalette::itemBackgroundSelectionColor() { return QColor::fromRgbF(0, 0, 0, 0.25f); }
QColor CNGridViewPalette::itemSelectionRingColor() { return QColor::fromRgbF(0.346f, 0.531f, 0.792f, 1.0f); }
QColor CNGridViewPalette::itemTitleColor() { return QColor::fromRgbF(0.196f, 0.2f, 0.2f, 1.0f); }
QColor CNGridViewPalette::itemTitleBackgroundColor() { return QColor(236, 236, 236); }
QColor CNGridViewPalette::itemTitleShadowColor() { return QColor::fromRgbF(1, 1, 1, 0.8f); }
QColor CNGridViewPalette::selectionFrameColor() { return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f); }

// ---- layout ----------------------------------------------------------------

const double CNGridViewItemLayout::kDefaultSelectionRingLineWidth = 3.0;
const double CNGridViewItemLayout::kDefaultContentInset = 3.0;
const double CNGridViewItemLayout::kDefaultItemBorderRadius = 5.0;

CNGridViewItemLayout::CNGridViewItemLayout()
    : backgroundColor(CNGridViewPalette::itemBackgroundColor()),
      selectionRingColor(CNGridViewPalette::itemSelectionRingColor()),
      selectionRingLineWidth(kDefaultSelectionRingLineWidth),
      contentInset(static_cast<uint64_t>(kDefaultContentInset)),
      itemBorderRadius(static_cast<uint64_t>(kDefaultItemBorderRadius))
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(12);
    itemTitleTextAttributes.font = font;
    itemTitleTextAttributes.shadowColor = CNGridViewPalette::itemTitleShadowColor();
    itemTitleTextAttributes.shadowOffset = QPointF(0, -1);
    itemTitleTextAttributes.foregroundColor = CNGridViewPalette::itemTitleColor();
    itemTitleTextAttributes.alignment = Qt::AlignHCenter;
}

std::shared_ptr<CNGridViewItemLayout> CNGridViewItemLayout::defaultLayout()
{
    return std::make_shared<CNGridViewItemLayout>();
}

// ---- base ------------------------------------------------------------------

CNGridViewItemBase::CNGridViewItemBase(QWidget* parent) : QWidget(parent)
{
    initProperties();
}

CNGridViewItemBase::~CNGridViewItemBase()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
}

QSize CNGridViewItemBase::defaultItemSize() { return QSize(150, 150); }

void CNGridViewItemBase::initProperties()
{
    m_reuseIdentifier = QString::fromLatin1(kCNDefaultItemIdentifier);
    m_index = CNNotFound;
    m_selected = false;
    m_selectable = true;
    m_hovered = false;
    resize(defaultItemSize());
    // Every tile follows the select-all and deselect-all announcements of
    // any grid.
    auto& center = NotificationCenter::defaultCenter();
    center.AddObserver(this, "CNGridViewSelectAllItems", [this](const Notification&) { selectAll(); });
    center.AddObserver(this, "CNGridViewDeSelectAllItems", [this](const Notification&) { deSelectAll(); });
}

QString CNGridViewItemBase::reuseIdentifier() const { return m_reuseIdentifier; }

void CNGridViewItemBase::setReuseIdentifier(const QString& identifier) { m_reuseIdentifier = identifier; }

void CNGridViewItemBase::prepareForReuse()
{
    m_index = CNNotFound;
    setSelected(false);
    m_selectable = true;
    setHovered(false);
}

void CNGridViewItemBase::selectAll() { setSelected(true); }

void CNGridViewItemBase::deSelectAll() { setSelected(false); }

void CNGridViewItemBase::setAlphaValue(double alpha)
{
    m_alpha = std::clamp(alpha, 0.0, 1.0);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (m_alpha >= 1.0) {
        if (effect)
            setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(effect);
    }
    effect->setOpacity(m_alpha);
}

// ---- tile ------------------------------------------------------------------

namespace {

const CNGridViewItemEngine* g_engine = nullptr;

constexpr int kTitleIndent = 4;

// The title line: one line, cut at the end with an ellipsis when too long.
class CNGridViewItemTitleLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(backgroundRole()));
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        painter.drawText(area, static_cast<int>(alignment()), shown);
    }
};

}  // namespace

void CNGridViewItem::SetEngine(const CNGridViewItemEngine* engine) { g_engine = engine; }

const CNGridViewItemEngine* CNGridViewItem::Engine() { return g_engine; }

CNGridViewItem::CNGridViewItem(QWidget* parent) : CNGridViewItemBase(parent)
{
    initProperties();
}

CNGridViewItem::CNGridViewItem(const std::shared_ptr<CNGridViewItemLayout>& layout, const QString& reuseIdentifier,
                               QWidget* parent)
    : CNGridViewItem(parent)
{
    (void)layout;
    setReuseIdentifier(reuseIdentifier);
}

CNGridViewItem::~CNGridViewItem() = default;

void CNGridViewItem::initProperties()
{
    m_itemImage = QImage();
    m_itemTitle = QString();
    if (!m_itemButton) {
        m_itemButton = new QPushButton(this);
        m_itemButton->setGeometry(16, 121, 13, 13);
        m_itemButton->setCheckable(true);
        m_itemButton->setFlat(true);
        m_itemButton->setIconSize(QSize(13, 13));
        m_itemButton->setFocusPolicy(Qt::NoFocus);
        m_itemButton->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; }"));
        connect(m_itemButton, &QPushButton::clicked, this, [this] { setItemSelectBoxClickAction(); });
    }
    auto* label = new CNGridViewItemTitleLabel(this);
    label->setGeometry(30, 120, 120, 25);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    label->setAutoFillBackground(true);
    // The control colour behind the name and the tile's title colour on it:
    // fixed, so that no platform palette can give both the same colour.
    QPalette colours = label->palette();
    colours.setColor(QPalette::Window, CNGridViewPalette::itemTitleBackgroundColor());
    colours.setColor(QPalette::WindowText, CNGridViewPalette::itemTitleColor());
    label->setPalette(colours);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A little room between the check box and the first letter of the name.
    label->setContentsMargins(kTitleIndent, 0, 2, 0);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    m_titleLabel = label;
    m_useLayout = true;
}

void CNGridViewItem::setHovered(bool hovered)
{
    CNGridViewItemBase::setHovered(hovered);
    update();
}

void CNGridViewItem::setSelected(bool selected)
{
    CNGridViewItemBase::setSelected(selected);
    update();
}

void CNGridViewItem::prepareForReuse()
{
    CNGridViewItemBase::prepareForReuse();
    m_itemImage = QImage();
    m_itemTitle = QString();
}

void CNGridViewItem::setItemSelectBoxClickAction()
{
    const CNGridViewItemEngine* engine = g_engine;
    if (engine && engine->IsScanRunning() && !engine->IsPause())
        return;
    const int state = engine ? engine->NodeState(node()) : 0;
    m_itemButton->setIcon(QIcon(Bundle::ImageNamed(state > 0 ? QStringLiteral("checkbox_no")
                                                             : QStringLiteral("checkbox_yes"))));
    if (m_delegate)
        m_delegate->doSelectItem(index());
}

void CNGridViewItem::updateImageViewWithImage(const QImage& image, const void* node)
{
    if (node != m_node.load())
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The tile may be reused for another file before the main thread gets to
    // the image, so the node is compared again there.
    QMetaObject::invokeMethod(
        this,
        [this, image, node] {
            if (node == m_node.load())
                refImageWithImage(image);
        },
        Qt::QueuedConnection);
}

void CNGridViewItem::refImageWithImage(const QImage& image)
{
    if (image.width() > 0 && image.height() > 0) {
        m_itemImage = image;
        update();
    }
}

void CNGridViewItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const QRectF box(bounds.x() + 5, bounds.y() + 5, bounds.width() - 5, bounds.height() - 5);
    QPainterPath path;
    path.addRoundedRect(box, 10, 10);
    painter.fillPath(path, hovered() ? CNGridViewPalette::itemBackgroundHoverColor()
                                       : CNGridViewPalette::itemBackgroundColor());
    if (selected()) {
        // Without a layout of its own the tile rings itself in the default
        // layout's colour and width, so a selection is always visible.
        const std::shared_ptr<CNGridViewItemLayout> layout =
            m_currentLayout ? m_currentLayout : CNGridViewItemLayout::defaultLayout();
        QPen pen(layout->selectionRingColor);
        pen.setWidthF(layout->selectionRingLineWidth);
        painter.strokePath(path, pen);
    }
    if (!m_itemImage.isNull()) {
        const double width = std::min<double>(m_itemImage.width(), 90.0);
        const double height = std::min<double>(m_itemImage.height(), 90.0);
        const QRectF target((box.width() - width) / 2 + 5, (box.height() - height) / 2 - 5, width, height);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(target, m_itemImage);
    }
}

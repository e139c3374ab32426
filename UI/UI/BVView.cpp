#include "BVView.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "BundleResources.h"
#include "ZRCell.h"

namespace
{
BVNodeSource s_inertSource;
BVNodeSource* s_source = nullptr;

// Frames are given as the item's drawing places them from its bottom-left
// corner; widgets here count from the top, so y is flipped.
QRect Flipped(int x, int y, int width, int height)
{
    return QRect(x, BVView::itemSize().height() - y - height, width, height);
}

QPointer<BVView> s_sharedView;

void DeleteSharedView()
{
    delete s_sharedView.data();
    s_sharedView = nullptr;
}
}

BVNodeSource* BVNodeSource::current() { return s_source ? s_source : &s_inertSource; }

void BVNodeSource::setCurrent(BVNodeSource* source) { s_source = source; }

BVView::BVView(const QRect& frame, QWidget* parent) : QWidget(parent)
{
    setGeometry(QRect(frame.topLeft(), itemSize()));
    setFixedSize(itemSize());
    setMouseTracking(true);

    m_bgImageView = new QLabel(this);
    m_bgImageView->setGeometry(Flipped(3, 3, 114, 94));
    m_bgImageView->setScaledContents(true);
    setBackgroundImageName(QStringLiteral("view_bg_normal"));

    m_imageView = new QLabel(this);
    m_imageView->setGeometry(Flipped(10, 35, 90, 55));
    m_imageView->setAlignment(Qt::AlignCenter);

    m_titleLabel = new QLabel(this);
    m_titleLabel->setGeometry(Flipped(30, 2, 80, 20));
    QFont font = m_titleLabel->font();
    font.setPixelSize(10);
    m_titleLabel->setFont(font);
    m_titleLabel->setTextFormat(Qt::PlainText);

    m_button = new QPushButton(this);
    m_button->setGeometry(Flipped(16, 10, 14, 14));
    m_button->setFlat(true);
    m_button->setIconSize(QSize(14, 14));
    connect(m_button, &QPushButton::clicked, this, [this] { changeButtonState(m_button); });

    m_deleteIamgeView = new QLabel(this);
    m_deleteIamgeView->setGeometry(Flipped(90, 35, 16, 16));
    m_deleteIamgeView->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_deleteIamgeView->setPixmap(Bundle::ImageNamed(QStringLiteral("deletered")));
    m_deleteIamgeView->hide();
}

BVView::~BVView() { m_delegate = nullptr; }

void BVView::setBackgroundImageName(const QString& name)
{
    m_backgroundImageName = name;
    m_bgImageView->setPixmap(Bundle::ImageNamed(name));
    update();
}

void BVView::setCheckBoxImageName(const QString& name)
{
    m_checkBoxImageName = name;
    m_button->setIcon(QIcon(Bundle::ImageNamed(name)));
}

void BVView::enterEvent(QEnterEvent* event)
{
    setBackgroundImageName(QStringLiteral("view_bg_press"));
    QWidget::enterEvent(event);
}

void BVView::leaveEvent(QEvent* event)
{
    setBackgroundImageName(QStringLiteral("view_bg_normal"));
    QWidget::leaveEvent(event);
}

void BVView::changeButtonState(QPushButton*)
{
    BVNodeSource* source = BVNodeSource::current();
    if (source->IsScanRunning() || !m_listData)
        return;
    // Unchecked becomes checked; checked and mixed become unchecked.
    const int newState = source->fileNodeState(*m_listData) < 1 ? ZRCheckStateOn : ZRCheckStateOff;
    source->setFileNode(*m_listData, newState);
    setCheckBoxImageName(ZRCheckBoxImageName(newState, false));
    if (m_delegate)
        m_delegate->reLoadItemData();
}

BVPrototype::BVPrototype(QObject* parent) : QObject(parent) {}

BVPrototype::~BVPrototype()
{
    if (m_view && m_view->delegate() == this)
        m_view->setDelegate(nullptr);
    // A view of its own that nobody took into a collection goes with the item.
    if (m_ownsView && m_view && !m_view->parent())
        delete m_view.data();
}

BVView* BVPrototype::sharedView() { return s_sharedView.data(); }

void BVPrototype::loadView()
{
    if (!s_sharedView) {
        s_sharedView = new BVView(QRect());
        qAddPostRoutine(DeleteSharedView);
    }
    if (m_ownsView && m_view && !m_view->parent())
        delete m_view.data();
    m_ownsView = false;
    if (m_delegate && m_delegate->viewLoadCnt() != 0) {
        m_view = new BVView(QRect());
        m_ownsView = true;
    } else {
        m_view = s_sharedView;
    }
    m_view->setDelegate(this);
}

void BVPrototype::setRepresentedObject(std::optional<quint64> fileNode)
{
    if (!m_view)
        loadView();
    if (!m_delegate || m_delegate->viewLoadCnt() == 0) {
        m_view->hide();
        return;
    }
    if (!fileNode)
        return;
    BVNodeSource* source = BVNodeSource::current();
    m_view->setListData(fileNode);
    QPixmap thumbnail = source->GetNSImageByFildNodeNSNumber(*fileNode);
    if (thumbnail.isNull())
        thumbnail = Bundle::ImageNamed(QStringLiteral("logo"));
    QLabel* imageView = m_view->imageView();
    if (!thumbnail.isNull())
        thumbnail = thumbnail.scaled(imageView->size().boundedTo(thumbnail.size()), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    imageView->setPixmap(thumbnail);
    const QString name = source->fileNodeName(*fileNode);
    QLabel* title = m_view->titleLabel();
    title->setText(QFontMetrics(title->font()).elidedText(name, Qt::ElideRight, title->width()));
    title->setToolTip(name);
    m_view->setCheckBoxImageName(ZRCheckBoxImageName(source->fileNodeState(*fileNode), false));
    m_view->deleteIamgeView()->setVisible(source->isFileNodeDeleted(*fileNode));
}

void BVPrototype::reLoadItemData()
{
    if (m_delegate)
        m_delegate->reLoadCollectionViewData();
}

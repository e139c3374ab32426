#include "ZRSelectDiskViewController.h"

#include <QFont>
#include <QLabel>

#include <typeinfo>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "CustomTableHeaderView.h"
#include "ImageAndTextCell.h"
#include "NotificationCenter.h"
#include "TCImageButton.h"
#include "ZRCustomOutlineView.h"
#include "ZRRootEngine.h"

namespace {

constexpr int kPageWidth = 1000;
constexpr int kPageHeight = 538;
const QColor kRowTextColor(175, 186, 219);

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

DiskVolumeNodeData* Item(void* item) { return static_cast<DiskVolumeNodeData*>(item); }

}  // namespace

ZRSelectDiskViewController::ZRSelectDiskViewController(QWidget* parent) : QWidget(parent)
{
    m_bClickHead = false;
    resize(kPageWidth, kPageHeight);
    m_middleLabel = new QLabel(this);
    m_middleLabel->setGeometry(0, 20, kPageWidth, 30);
    m_middleLabel->setAlignment(Qt::AlignCenter);

    m_outlineView = new ZRCustomOutlineView(this);
    m_outlineView->setGeometry(40, 60, kPageWidth - 80, 360);
    m_outlineView->addTableColumn(QStringLiteral("select"), QString(), 30)->setDataCell(std::make_unique<ZRImageCell>());
    m_outlineView->addTableColumn(QStringLiteral("Name"), QString(), 480)->setDataCell(std::make_unique<ImageAndTextCell>());
    m_outlineView->addTableColumn(QStringLiteral("Size"), QString(), 180);
    m_outlineView->addTableColumn(QStringLiteral("FileSystem"), QString(), 200);
    // The disclosure marks and the indentation of volumes belong to the
    // name, not to the narrow mark column before it.
    m_outlineView->setTreePosition(1);

    m_backButton = new TCImageButton(QRect(kPageWidth / 2 - 160, 450, 140, 40), this);
    m_scanButton = new TCImageButton(QRect(kPageWidth / 2 + 20, 450, 140, 40), this);
    awakeFromNib();
}

ZRSelectDiskViewController::~ZRSelectDiskViewController()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    // The outline keeps raw pointers to our items: let it forget them first.
    m_outlineView->setDataSource(nullptr);
    m_outlineView->setDelegate(nullptr);
}

void ZRSelectDiskViewController::observeDevices()
{
    auto& center = NotificationCenter::defaultCenter();
    center.RemoveObserver(this, "RefreshAttachDevice");
    center.RemoveObserver(this, "RefreshDetachDevice");
    center.AddObserver(this, "RefreshAttachDevice", [this](const Notification&) { RefreshDevice(); });
    center.AddObserver(this, "RefreshDetachDevice", [this](const Notification&) { RefreshDevice(); });
}

void ZRSelectDiskViewController::awakeFromNib()
{
    observeDevices();
    m_middleLabel->setText(Text("PAGE_THREE_MIDLLE_STRING"));
    for (const auto& column : m_outlineView->tableColumns()) {
        if (column->identifier() == QLatin1String("Name"))
            column->setTitle(Text("PAGE_THREE_TABLEVIEW_DRIVES"));
        else if (column->identifier() == QLatin1String("Size"))
            column->setTitle(Text("PAGE_THREE_TABLEVIEW_SIZE"));
        else if (column->identifier() == QLatin1String("FileSystem"))
            column->setTitle(Text("PAGE_THREE_TABLEVIEW_FILESYSTEM"));
        // The narrow mark column before the names carries no title.
    }
    m_outlineView->setDoubleAction([this] { doubleToScan(m_outlineView); });

    m_backButton->setButtonEnabled(true);
    m_backButton->setImageFromFileNormalName(QStringLiteral("back_normal"), QStringLiteral("back_press"),
                                             QStringLiteral("back_hover"), QStringLiteral("back_disable"));
    m_backButton->setTextWithName(Text("PAGE_THREE_BACK_BUTTON"), m_backButton->rect());
    connect(m_backButton, &QAbstractButton::clicked, this, [this] { backHomeButtonAction(); });
    m_scanButton->setButtonEnabled(true);
    m_scanButton->setImageFromFileNormalName(QStringLiteral("continue_normal"), QStringLiteral("continue_press"),
                                             QStringLiteral("continue_hover"), QStringLiteral("continue_disable"));
    m_scanButton->setTextWithName(Text("PAGE_THREE_SCAN_BUTTON"), m_scanButton->rect());
    connect(m_scanButton, &QAbstractButton::clicked, this, [this] { doScanAction(); });
}

void ZRSelectDiskViewController::InitFinished()
{
    for (const auto& column : m_outlineView->tableColumns()) {
        ZRCell* header = column->headerCell();
        if (header && typeid(*header) == typeid(ZRTableHeaderCell)) {
            auto drawn = std::make_unique<CustomTableHeaderView>(header->stringValue());
            QFont font = drawn->font();
            font.setPixelSize(12);
            drawn->setFont(font);
            column->setHeaderCell(std::move(drawn));
        }
    }
    m_rootArr.clear();

    m_outlineView->setDataSource(this);
    m_outlineView->setDelegate(this);
    m_outlineView->setAllowsColumnReordering(false);
    m_outlineView->reloadData();
    for (const DiskVolumeNodeDataPtr& disk : m_allDiskArr)
        m_outlineView->expandItem(disk.get());
    // The disk rows are known only once everything is expanded.
    m_rootArr.clear();
    for (int row = 0; row < m_outlineView->numberOfRows(); ++row) {
        auto* item = Item(m_outlineView->itemAtRow(row));
        if (item && item->numberOfChildren() > 0)
            addRootRow(row);
    }
    m_outlineView->setIsRootArr(m_rootArr);

    m_outlineView->selectRowIndexes(1, false);
    m_outlineView->setSelectCellBackgroundColorWithRow(1);
    m_selectedRow = 1;
    m_outlineView->setFocus();
    m_outlineView->setNeedsDisplay();
}

void ZRSelectDiskViewController::RefreshDevice()
{
    ZRRootEngine::current().RefreshDeviceInfo();
    getDiskValue();
}

void ZRSelectDiskViewController::getDiskValue()
{
    // The outline must not draw the old items while they go.
    m_outlineView->setDataSource(nullptr);
    m_outlineView->setDelegate(nullptr);
    m_allDiskArr.clear();
    ZRRootEngine::current().GetDeviceInfoToArray(&m_allDiskArr);
    InitFinished();
    // The pick follows the marked row: an object of the old list may name a
    // medium that has just left, and scanning something other than the
    // marked row would surprise the user.
    DiskVolumeNodeDataPtr marked = sharedItem(m_outlineView->itemAtRow(1));
    m_selectDiskVolume = marked;
    if (marked) {
        markParent(marked.get());
    }
    m_scanButton->setButtonEnabled(marked != nullptr);
    if (m_delegate)
        m_delegate->changeSelectDiskViewContinueButtonEnabled(marked);
    m_oldSelectDiskVolume = marked;
}

void ZRSelectDiskViewController::disableRefreshDevice()
{
    NotificationCenter::defaultCenter().RemoveObserver(this, "RefreshAttachDevice");
    NotificationCenter::defaultCenter().RemoveObserver(this, "RefreshDetachDevice");
}

void ZRSelectDiskViewController::removeNotification() { NotificationCenter::defaultCenter().RemoveObserver(this); }

void ZRSelectDiskViewController::getDiskData()
{
    observeDevices();
    ZRRootEngine::current().NotifiyDeviceInfoAfterInit(QStringLiteral("aInitFinished"));
    NotificationCenter::defaultCenter().AddObserver(this, "aInitFinished", [this](const Notification&) { InitFinished(); });
}

void ZRSelectDiskViewController::backHomeButtonAction()
{
    if (m_delegate)
        m_delegate->backHomeButtonAction();
}

void ZRSelectDiskViewController::doScanAction()
{
    if (m_delegate)
        m_delegate->doubleClickedListToScan();
}

void ZRSelectDiskViewController::doubleToScan(QObject* /*sender*/)
{
    if (m_outlineView->isSelectRow() != -1 && !m_bClickHead)
        doScanAction();
}

void ZRSelectDiskViewController::addRootRow(int row)
{
    const QString text = QString::asprintf("%d", row);
    if (!m_rootArr.contains(text))
        m_rootArr.append(text);
}

void ZRSelectDiskViewController::reloadCellBackgroundColor()
{
    if (m_rootArr.isEmpty())
        return;
    m_rootArr.clear();
    for (int row = 0; row < m_outlineView->numberOfRows(); ++row) {
        auto* item = Item(m_outlineView->itemAtRow(row));
        if (item && item->numberOfChildren() > 0)
            addRootRow(row);
    }
    m_outlineView->setIsRootArr(m_rootArr);
    m_outlineView->setNeedsDisplay();
}

DiskVolumeNodeDataPtr ZRSelectDiskViewController::sharedItem(void* item) const
{
    for (const DiskVolumeNodeDataPtr& disk : m_allDiskArr) {
        if (disk.get() == item)
            return disk;
        for (const DiskVolumeNodeDataPtr& volume : disk->children())
            if (volume.get() == item)
                return volume;
    }
    return nullptr;
}

void ZRSelectDiskViewController::markParent(DiskVolumeNodeData* item) const
{
    const DiskVolumeNodeData* disk = diskOf(item);
    if (!disk)
        disk = item;
    item->setParentName(disk->name());
    item->setParentDeviceName(disk->deviceName());
}

DiskVolumeNodeData* ZRSelectDiskViewController::diskOf(void* item) const
{
    for (const DiskVolumeNodeDataPtr& disk : m_allDiskArr) {
        if (disk.get() == item)
            return disk.get();
        for (const DiskVolumeNodeDataPtr& volume : disk->children())
            if (volume.get() == item)
                return disk.get();
    }
    return nullptr;
}

void* ZRSelectDiskViewController::child(ZROutlineView* /*outlineView*/, int index, void* item)
{
    if (!item)
        return index >= 0 && index < static_cast<int>(m_allDiskArr.size()) ? m_allDiskArr[index].get() : nullptr;
    return Item(item)->childAtIndex(index);
}

bool ZRSelectDiskViewController::isItemExpandable(ZROutlineView* /*outlineView*/, void* item)
{
    return item && Item(item)->numberOfChildren() > 0;
}

int ZRSelectDiskViewController::numberOfChildrenOfItem(ZROutlineView* /*outlineView*/, void* item)
{
    // The rows of the disks are collected once the outline is laid out
    // (InitFinished, reloadCellBackgroundColor): asking the view for rows
    // while it is still loading its items would enter it again.
    if (!item)
        return static_cast<int>(m_allDiskArr.size());
    return Item(item)->numberOfChildren();
}

QVariant ZRSelectDiskViewController::objectValueForTableColumn(ZROutlineView* /*outlineView*/, ZRTableColumn* column,
                                                               void* item)
{
    if (!item || !column)
        return {};
    const DiskVolumeNodeData* data = Item(item);
    const QString id = column->identifier();
    if (id == QLatin1String("Name"))
        return data->name();
    if (id == QLatin1String("Size"))
        return QString::fromStdString(ZRPublicUtilities::longlongDiskSize(data->capacity()));
    if (id == QLatin1String("FileSystem"))
        return QString::fromStdString(ZRPublicUtilities::fileSystemTypeForInt(data->fileSystem(), data->isDmg()));
    return {};
}

void ZRSelectDiskViewController::willDisplayCell(ZROutlineView* outlineView, ZRCell* cell, ZRTableColumn* column,
                                                 void* item)
{
    if (!cell || !column || !item)
        return;
    const DiskVolumeNodeData* data = Item(item);
    const int row = outlineView->rowForItem(item);
    const QColor textColor = row == m_selectedRow ? QColor(Qt::white) : kRowTextColor;
    const QString id = column->identifier();
    if (id == QLatin1String("Name")) {
        const char* image = data->isDmg() ? "mirror_image" : data->isUsb() ? "usb.png" : "0IconImage";
        cell->setImage(Bundle::ImageNamed(QString::fromLatin1(image)));
        cell->setTextColor(textColor);
    } else if (id == QLatin1String("select")) {
        cell->setImage(Bundle::ImageNamed(row == m_selectedRow ? QStringLiteral("select") : QStringLiteral(" ")));
    } else {
        cell->setTextColor(textColor);
    }
}

bool ZRSelectDiskViewController::shouldSelectItem(ZROutlineView* outlineView, void* item)
{
    m_bClickHead = false;
    const int row = outlineView->rowForItem(item);
    m_outlineView->setSelectCellBackgroundColorWithRow(row);
    m_selectedRow = row;
    m_selectDiskVolume = sharedItem(item);
    if (m_selectDiskVolume) {
        markParent(m_selectDiskVolume.get());
    }
    m_scanButton->setButtonEnabled(true);
    return true;
}

void ZRSelectDiskViewController::outlineViewSelectionDidChange(ZROutlineView* /*outlineView*/)
{
    if (m_selectDiskVolume == m_oldSelectDiskVolume.lock()) {
        // The selection changed without a new pick (a click below the rows).
        m_selectedRow = -1;
        m_selectDiskVolume = nullptr;
        m_scanButton->setButtonEnabled(false);
        m_outlineView->setSelectCellBackgroundColorWithRow(-1);
        m_outlineView->setNeedsDisplay();
    }
    if (m_delegate)
        m_delegate->changeSelectDiskViewContinueButtonEnabled(m_selectDiskVolume);
    m_oldSelectDiskVolume = m_selectDiskVolume;
}

void ZRSelectDiskViewController::outlineViewItemDidExpand(ZROutlineView* /*outlineView*/, void* /*item*/)
{
    m_selectedRow = -1;
    reloadCellBackgroundColor();
}

void ZRSelectDiskViewController::outlineViewItemDidCollapse(ZROutlineView* /*outlineView*/, void* /*item*/)
{
    m_selectedRow = -1;
    reloadCellBackgroundColor();
}

void ZRSelectDiskViewController::mouseDownInHeaderOfTableColumn(ZROutlineView* /*outlineView*/,
                                                               ZRTableColumn* /*column*/)
{
    m_bClickHead = true;
}

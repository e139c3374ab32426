#include "ZRDeletailCoverFlow.h"

#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <chrono>

#include "BundleResources.h"
#include "ZRUIController.h"

const QString ZRDeletailCoverFlow::kPlaceholderID = QStringLiteral("Loading...");

QImage ZRDeletailCoverFlowHost::previewOfFile(FileNodeValue file) const
{
    return ZRUIController::GetNSImageByFildNodeNSNumber(file);
}

QImage ZRDeletailCoverFlowHost::fileTypeIcon(const QString& name) const
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QImage icon = ZRUIController::getImageForType(dot < 0 ? QString() : name.mid(dot));
    if (icon.isNull())
        icon = Bundle::ImageNamed(QStringLiteral("icon_other_normal")).toImage();
    return icon;
}

ZRDeletailCoverFlow::ZRDeletailCoverFlow(ZRDeletailCoverFlowHost& host, QObject* parent)
    : QObject(parent), m_host(host)
{
    m_flowView = new ZRCoverFlowView();
    m_flowView->setDataSource(this);
    m_flowView->setDelegate(this);

    m_gridScrollArea = new QScrollArea();
    m_gridMainView = new CNGridView();
    m_gridScrollArea->setWidget(m_gridMainView);
    m_gridMainView->setDataSource(this);
    m_gridMainView->setDelegate(this);

    CNGridViewItem::SetEngine(this);
}

ZRDeletailCoverFlow::~ZRDeletailCoverFlow()
{
    stopImageLoading();
    stopGridImageLoading();
    {
        std::lock_guard<std::mutex> guard(m_gridLock);
        m_gridQuit = true;
    }
    m_gridWake.notify_all();
    if (m_gridThread.joinable())
        m_gridThread.join();

    if (CNGridViewItem::Engine() == this)
        CNGridViewItem::SetEngine(nullptr);
    // Tiles and views may outlive this object inside the window's widgets;
    // they must not call back into it.
    for (const auto& [object, node] : m_gridNodes)
        static_cast<CNGridViewItem*>(const_cast<QObject*>(object))->setDelegate(nullptr);
    m_gridNodes.clear();
    if (m_flowView) {
        m_flowView->setDataSource(nullptr);
        m_flowView->setDelegate(nullptr);
        delete m_flowView.data();
    }
    if (m_gridMainView) {
        m_gridMainView->setDataSource(nullptr);
        m_gridMainView->setDelegate(nullptr);
    }
    delete m_gridScrollArea.data();
}

// ---- cover flow ---------------------------------------------------------------------

qint64 ZRDeletailCoverFlow::numberOfItemsInImageFlow(ZRCoverFlowView*)
{
    return static_cast<qint64>(m_host.coverFlowFiles().size());
}

std::optional<Photo> ZRDeletailCoverFlow::itemAtIndex(ZRCoverFlowView*, qint64 index)
{
    return photoAt(static_cast<size_t>(static_cast<uint32_t>(index)));
}

size_t ZRDeletailCoverFlow::photoCount() const
{
    std::lock_guard<std::mutex> guard(m_photosLock);
    return m_photos.size();
}

std::optional<Photo> ZRDeletailCoverFlow::photoAt(size_t index) const
{
    std::lock_guard<std::mutex> guard(m_photosLock);
    if (index >= m_photos.size())
        return std::nullopt;
    return m_photos[index];
}

void ZRDeletailCoverFlow::didSelectItemAtIndex(ZRCoverFlowView*, qint64 index)
{
    if (index < 0 || index > INT32_MAX)
        return;
    const int row = static_cast<int>(index);
    selectedCoverFlow(row);
    if (static_cast<size_t>(row) < photoCount() && static_cast<size_t>(row) < m_host.coverFlowFiles().size())
        m_host.coverFlowDidPickRow(row);
}

void ZRDeletailCoverFlow::showCoverFlowerViewWithRefresh(bool refresh)
{
    if (!m_publicItem)
        m_publicItem = Photo(QPixmap(), kPlaceholderID);
    const qint64 reference = refresh ? 0 : (m_flowView ? m_flowView->selectedIndex() : 0);
    if (m_flowSelectedIndex == reference && photoCount() != 0)
        return;
    if (m_flowSelectedIndex == -1)
        m_flowSelectedIndex = 0;
    const size_t rows = m_host.coverFlowFiles().size();
    {
        std::lock_guard<std::mutex> guard(m_photosLock);
        m_photos.reserve(m_photos.size() + rows);
        for (size_t i = 0; i < rows; ++i)
            m_photos.emplace_back(m_publicItem->imageRepresentation(), m_publicItem->imageUID());
    }
    if (m_flowView) {
        m_flowView->reloadData();
        m_flowView->setSelectedIndex(m_flowSelectedIndex);
    }
}

void ZRDeletailCoverFlow::selectedCoverFlow(int row)
{
    if (m_flowView)
        m_flowView->setSelectedIndex(row);
    m_flowSelectedIndex = row;
    startImageThread(row);
}

void ZRDeletailCoverFlow::startImageThread(int row)
{
    stopImageLoading();
    row = std::max(row, 0);
    const FileNodeArray& files = m_host.coverFlowFiles();
    std::vector<CoverFlowJob> jobs;
    {
        std::lock_guard<std::mutex> guard(m_photosLock);
        const size_t count = m_photos.size();
        size_t first = 0;
        size_t last = count;
        if (count >= static_cast<size_t>(kLoadAllBelow)) {
            const auto chosen = static_cast<size_t>(row);
            first = chosen < static_cast<size_t>(kLoadWindow) ? 0 : chosen - kLoadWindow;
            last = std::min(count, chosen + kLoadWindow);
        }
        // The names are read here, on the main thread, like every other
        // reading of the engine's nodes; the thread only fetches previews.
        for (size_t i = first; i < last && i < files.size(); ++i) {
            if (!IsPlaceholder(m_photos[i]) || files[i] == 0)
                continue;
            jobs.push_back({static_cast<int>(i), files[i], OpNodeData::initWithFileNode(files[i])->name()});
        }
    }
    m_nImageState.store(0);
    m_imageThread = std::thread([this, jobs = std::move(jobs), generation = m_photosGeneration]() mutable {
        coverFlowLoadImageThread(std::move(jobs), generation);
    });
}

void ZRDeletailCoverFlow::coverFlowLoadImageThread(std::vector<CoverFlowJob> jobs, uint64_t generation)
{
    for (const CoverFlowJob& job : jobs) {
        if (m_nImageState.load() > 0) {
            qInfo("-------LoadImageThread break----------");
            break;
        }
        {
            std::lock_guard<std::mutex> guard(m_photosLock);
            if (static_cast<size_t>(job.row) >= m_photos.size()) {
                qInfo("-------LoadImageThread break----------");
                break;
            }
            if (!IsPlaceholder(m_photos[job.row]))
                continue;
            // Named now, so the row is not tried again whether or not a
            // preview comes.
            m_photos[job.row].setName(job.name);
        }
        const QImage image = m_host.previewOfFile(job.file);
        // Without a preview the row shows the icon of its file type, made on
        // the main thread where the icon themes are read.
        QMetaObject::invokeMethod(
            this,
            [this, row = job.row, image, name = job.name, generation] {
                applyCoverFlowImage(row, image.isNull() ? m_host.fileTypeIcon(name) : image, generation);
            },
            Qt::QueuedConnection);
    }
    m_nImageState.store(2);
    qInfo("-------LoagImageThread will exit----------------");
}

void ZRDeletailCoverFlow::applyCoverFlowImage(int row, const QImage& image, uint64_t generation)
{
    // The items were rebuilt since the thread started: the row now stands
    // for another file.
    if (generation != m_photosGeneration || image.isNull())
        return;
    {
        std::lock_guard<std::mutex> guard(m_photosLock);
        if (static_cast<size_t>(row) >= m_photos.size())
            return;
        m_photos[row].setImageRepresentation(QPixmap::fromImage(image));
    }
    if (m_flowView)
        m_flowView->reloadCellDataAtIndex(row);
}

void ZRDeletailCoverFlow::stopImageLoading()
{
    int32_t running = 0;
    if (m_nImageState.compare_exchange_strong(running, 1)) {
        if (m_imageThread.joinable())
            m_imageThread.join();
        qInfo("-------we wait thead has been exit----");
    }
    // A thread that ended by itself still has to be joined.
    if (m_imageThread.joinable())
        m_imageThread.join();
}

void ZRDeletailCoverFlow::removeAllPhotos()
{
    stopImageLoading();
    std::lock_guard<std::mutex> guard(m_photosLock);
    m_photos.clear();
    ++m_photosGeneration;
}

void ZRDeletailCoverFlow::resetCoverFlow()
{
    removeAllPhotos();
    if (m_flowView) {
        m_flowView->cacheManager().freeCache();
        m_flowView->reloadData();
    }
}

// ---- grid ---------------------------------------------------------------------------

qint64 ZRDeletailCoverFlow::numberOfItemsInSection(CNGridView*, qint64)
{
    return static_cast<qint64>(m_host.coverFlowFiles().size());
}

CNGridViewItemBase* ZRDeletailCoverFlow::itemAtIndex(CNGridView* gridView, qint64 index, qint64)
{
    const FileNodeArray& files = m_host.coverFlowFiles();
    // Checked before a tile is taken, so no reusable tile is used up for
    // nothing.
    if (index < 0 || static_cast<size_t>(index) >= files.size() || files[index] == 0)
        return nullptr;
    CNGridViewItem* item = nullptr;
    if (gridView)
        item = qobject_cast<CNGridViewItem*>(gridView->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier));
    if (!item)
        item = new CNGridViewItem(CNGridViewItemLayout::defaultLayout(), kCNDefaultItemIdentifier);

    OpNodeDataPtr node = OpNodeData::initWithFileNode(files[index]);
    const QString name = node->name();
    item->setItemTitle(name);
    item->setItemImage(Bundle::ImageNamed(QStringLiteral("loading.png")).toImage());
    item->setNode(node.get());
    item->setDelegate(this);
    if (!name.isNull())
        item->titleLabel()->setText(name);
    item->itemButton()->setIcon(QIcon(Bundle::ImageNamed(node->state() == 2 ? QStringLiteral("checkbox_yes")
                                                                          : QStringLiteral("checkbox_no"))));
    auto load = std::make_shared<GridLoad>();
    load->item = item;
    load->node = node;
    load->file = files[index];
    keepGridNode(item, std::move(node));
    addGridOperation(std::move(load));
    return item;
}

void ZRDeletailCoverFlow::keepGridNode(CNGridViewItem* item, OpNodeDataPtr node)
{
    auto it = m_gridNodes.find(item);
    if (it == m_gridNodes.end()) {
        connect(item, &QObject::destroyed, this, [this](QObject* gone) { m_gridNodes.erase(gone); });
        m_gridNodes.emplace(item, std::move(node));
    } else {
        it->second = std::move(node);
    }
}

int ZRDeletailCoverFlow::NodeState(const void* node) const
{
    for (const auto& [item, shown] : m_gridNodes)
        if (shown.get() == node)
            return shown->state();
    return 0;
}

void ZRDeletailCoverFlow::addGridOperation(std::shared_ptr<GridLoad> load)
{
    {
        std::lock_guard<std::mutex> guard(m_gridLock);
        m_gridPending.emplace_back([this, load = std::move(load)]() mutable { loadImageForGridView(std::move(load)); });
        m_gridImageState.store(0);
        if (!m_gridThread.joinable())
            m_gridThread = std::thread([this] { gridWorker(); });
    }
    m_gridWake.notify_one();
}

void ZRDeletailCoverFlow::gridWorker()
{
    std::unique_lock<std::mutex> lock(m_gridLock);
    for (;;) {
        m_gridWake.wait(lock, [this] { return m_gridQuit || !m_gridPending.empty(); });
        if (m_gridQuit)
            return;
        std::function<void()> operation = std::move(m_gridPending.front());
        m_gridPending.pop_front();
        m_gridRunning = true;
        lock.unlock();
        operation();
        operation = nullptr;
        lock.lock();
        m_gridRunning = false;
        // The last operation of the queue marks the loading as ended; an
        // operation queued meanwhile has set it to loading again under the
        // same lock, so no queued tile is skipped.
        if (m_gridPending.empty()) {
            m_gridImageState.store(2);
            m_gridIdle.notify_all();
        }
    }
}

void ZRDeletailCoverFlow::loadImageForGridView(std::shared_ptr<GridLoad> load)
{
    QImage image;
    const bool tried = m_gridImageState.load() == 0;
    if (tried) {
        image = m_host.previewOfFile(load->file);
        // The tiles' own pace: one thumbnail every 10 ms at most reaches the
        // main thread.
        if (!image.isNull())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Always back to the main thread: the tile and its outline node are
    // released there.
    QMetaObject::invokeMethod(
        this, [this, load = std::move(load), image, tried] { applyGridImage(load, image, tried); },
        Qt::QueuedConnection);
}

void ZRDeletailCoverFlow::applyGridImage(const std::shared_ptr<GridLoad>& load, const QImage& image, bool tried)
{
    // The tile may be gone, or show another file by now.
    CNGridViewItem* item = load->item.data();
    if (!item || item->node() != load->node.get())
        return;
    // A file without a thumbnail shows the icon of its type; a load that was
    // stopped leaves the placeholder.
    if (!image.isNull())
        item->refImageWithImage(image);
    else if (tried)
        item->refImageWithImage(m_host.fileTypeIcon(item->titleLabel()->text()));
}

void ZRDeletailCoverFlow::stopGridImageLoading()
{
    std::unique_lock<std::mutex> lock(m_gridLock);
    if (m_gridImageState.load() != 0)
        return;
    m_gridImageState.store(1);
    // Queued operations would only skip their preview now; drop them, and
    // wait for the one that runs.
    m_gridPending.clear();
    m_gridIdle.wait(lock, [this] { return !m_gridRunning; });
    m_gridImageState.store(2);
}

void ZRDeletailCoverFlow::showGridView()
{
    if (!m_gridMainView)
        return;
    m_gridMainView->setBackgroundColor(QColor());
    const QPixmap dust = Bundle::ImageNamed(QStringLiteral("BackgroundDust"));
    if (m_gridScrollArea && !dust.isNull()) {
        QWidget* viewport = m_gridScrollArea->viewport();
        viewport->setAutoFillBackground(true);
        QPalette palette = viewport->palette();
        palette.setBrush(QPalette::Window, QBrush(dust));
        viewport->setPalette(palette);
    }
    m_gridMainView->setScrollElasticity(false);
    m_gridMainView->reloadDataAnimated(true);
    if (m_gridScrollArea) {
        m_gridScrollArea->horizontalScrollBar()->setValue(0);
        m_gridScrollArea->verticalScrollBar()->setValue(0);
    }
}

void ZRDeletailCoverFlow::doSelectItem(qint64 index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_host.coverFlowFiles().size())
        return;
    m_host.doSelectItem(static_cast<int>(index));
}

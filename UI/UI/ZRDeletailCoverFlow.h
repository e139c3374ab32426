// The cover flow and the grid of the results window: the two picture views
// of the files of the selected tree node. The window owns one of these and
// forwards to it; it answers as data source and delegate of both views and
// loads previews in the background:
//
// - the cover flow on one image thread at a time, for at most 200 rows
//   around the chosen row, in ascending row order; a row that has been tried
//   keeps its name (and the placeholder's empty picture when no preview
//   could be made) until the cover flow is rebuilt;
// - the grid on a queue that runs one thumbnail operation at a time, one
//   operation per tile the grid asks for.
//
// Both loaders are stopped (and waited for) before the window empties its
// file list. Previews are made off the main thread and handed back to it;
// a preview that arrives after its tile was reused for another file, or
// after the cover flow was rebuilt, is dropped.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QScrollArea>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "CNGridView.h"
#include "OpNodeData.h"
#include "Photo.h"
#include "ZRCoverFlowView.h"

// What the picture views need of the results window. Main thread unless
// said otherwise.
class ZRDeletailCoverFlowHost {
public:
    virtual ~ZRDeletailCoverFlowHost() = default;
    // The files of the right side (the window's arrList).
    virtual const FileNodeArray& coverFlowFiles() const = 0;
    virtual bool IsScanRunning() const = 0;
    virtual bool IsPause() const = 0;
    // A grid tile's check box was clicked: the window toggles the file at
    // index and refreshes its trees and totals (its doSelectItem).
    virtual void doSelectItem(int index) = 0;
    // The user picked a cover-flow item that has a row: the window scrolls
    // both lists to the row and selects it in the list under the cover flow.
    virtual void coverFlowDidPickRow(int row) { (void)row; }
    // A preview of a file, or a null image. Called on the loader threads;
    // by default the bridge's preview (safe on any thread).
    virtual QImage previewOfFile(FileNodeValue file) const;
    // The picture of a file that has no preview: the icon of its type, by
    // the extension of its name. Called on the main thread.
    virtual QImage fileTypeIcon(const QString& name) const;
};

class ZRDeletailCoverFlow : public QObject,
                            public ZRCoverFlowDataSource,
                            public ZRCoverFlowDelegate,
                            public CNGridViewDataSource,
                            public CNGridViewDelegate,
                            public CNGridViewItemDelegate,
                            public CNGridViewItemEngine {
    Q_OBJECT
public:
    // The placeholder's identifier: an item is still waiting for its
    // preview while its identifier is this.
    static const QString kPlaceholderID;
    // Rows loaded before and after the chosen row; lists shorter than
    // kLoadAllBelow are loaded whole.
    static constexpr int kLoadWindow = 100;
    static constexpr int kLoadAllBelow = 11;

    // Makes the cover-flow view and the grid (in a scroll area of its own);
    // the window puts both into its containers. The grid tiles' check boxes
    // ask this object for scan and node states while it lives.
    explicit ZRDeletailCoverFlow(ZRDeletailCoverFlowHost& host, QObject* parent = nullptr);
    // Stops both loaders; deletes the views unless their new parents
    // already have.
    ~ZRDeletailCoverFlow() override;

    ZRCoverFlowView* flowView() const { return m_flowView; }
    CNGridView* gridMainView() const { return m_gridMainView; }
    QScrollArea* gridScrollArea() const { return m_gridScrollArea; }

    // ---- cover flow ------------------------------------------------------
    qint64 numberOfItemsInImageFlow(ZRCoverFlowView* view) override;
    std::optional<Photo> itemAtIndex(ZRCoverFlowView* view, qint64 index) override;
    void didSelectItemAtIndex(ZRCoverFlowView* view, qint64 index) override;
    // Appends a placeholder per file and centres the view on
    // flowSelectedIndex; flag: measured from row 0 rather than from the
    // view's selection (nothing is added when that row is already centred
    // and items exist).
    void showCoverFlowerViewWithRefresh(bool refresh);
    // Centres on row and restarts the image thread there.
    void selectedCoverFlow(int row);
    // Stops a running image thread and starts a new one at row (the list
    // refill starts one at row 0 without moving the view).
    void startImageThread(int row);
    // Asks the image thread to stop and waits until it has ended.
    void stopImageLoading();
    // Empties the items (after stopping the image thread); previews still
    // on their way to the main thread are dropped.
    void removeAllPhotos();
    // Empties the items, frees the view's picture cache and reloads it.
    void resetCoverFlow();
    int flowSelectedIndex() const { return m_flowSelectedIndex; }
    void setFlowSelectedIndex(int row) { m_flowSelectedIndex = row; }
    int32_t nImageState() const { return m_nImageState.load(); }
    size_t photoCount() const;
    std::optional<Photo> photoAt(size_t index) const;
    const std::optional<Photo>& publicItem() const { return m_publicItem; }

    // ---- grid ------------------------------------------------------------
    qint64 numberOfItemsInSection(CNGridView* gridView, qint64 section) override;
    CNGridViewItemBase* itemAtIndex(CNGridView* gridView, qint64 index, qint64 section) override;
    // Stops the thumbnail operations: the running one finishes, the queued
    // ones are dropped.
    void stopGridImageLoading();
    // Dusty background, no elasticity, animated reload, back to the top.
    void showGridView();
    int32_t gridImageState() const { return m_gridImageState.load(); }
    // A tile's check box.
    void doSelectItem(qint64 index) override;

    // ---- what the tiles' check boxes ask -----------------------------------
    bool IsScanRunning() const override { return m_host.IsScanRunning(); }
    bool IsPause() const override { return m_host.IsPause(); }
    int NodeState(const void* node) const override;

private:
    struct CoverFlowJob {
        int row = 0;
        FileNodeValue file = 0;
        QString name;
    };
    struct GridLoad {
        QPointer<CNGridViewItem> item;
        OpNodeDataPtr node;
        FileNodeValue file = 0;
    };

    static bool IsPlaceholder(const Photo& photo) { return photo.imageUID() == kPlaceholderID; }
    void coverFlowLoadImageThread(std::vector<CoverFlowJob> jobs, uint64_t generation);
    void applyCoverFlowImage(int row, const QImage& image, uint64_t generation);

    void addGridOperation(std::shared_ptr<GridLoad> load);
    void gridWorker();
    void loadImageForGridView(std::shared_ptr<GridLoad> load);
    // tried: the preview was asked for (not skipped by a stop).
    void applyGridImage(const std::shared_ptr<GridLoad>& load, const QImage& image, bool tried);
    void keepGridNode(CNGridViewItem* item, OpNodeDataPtr node);

    ZRDeletailCoverFlowHost& m_host;
    QPointer<ZRCoverFlowView> m_flowView;
    QPointer<QScrollArea> m_gridScrollArea;
    QPointer<CNGridView> m_gridMainView;

    // Cover flow. The items are shared with the image thread, which names
    // them; pictures are only set on the main thread.
    mutable std::mutex m_photosLock;
    std::vector<Photo> m_photos;
    std::optional<Photo> m_publicItem;
    uint64_t m_photosGeneration = 0;
    int m_flowSelectedIndex = 0;
    std::atomic<int32_t> m_nImageState{-1};
    std::thread m_imageThread;

    // Grid thumbnails: one worker, one operation at a time.
    std::mutex m_gridLock;
    std::condition_variable m_gridWake;
    std::condition_variable m_gridIdle;
    std::deque<std::function<void()>> m_gridPending;
    bool m_gridRunning = false;
    bool m_gridQuit = false;
    std::thread m_gridThread;
    std::atomic<int32_t> m_gridImageState{-1};
    // The outline node each tile shows, kept alive while the tile shows it.
    std::map<const QObject*, OpNodeDataPtr> m_gridNodes;
};

// The cover flow and the grid over a real scan: a FAT image with pictures,
// scanned through the facade on the fake machine of the facade tests. The
// previews are the bridge's own, made on the loader threads.
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

#include "BridgeTestSupport.h"
#include "BundleResources.h"
#include "FacadeTestSupport.h"
#include "TestSupport.h"
#include "ZRDeletailCoverFlow.h"
#include "ZRUIController.h"

namespace {

// The window's side of it: the files of the volume's root folder, the
// bridge's scan flags and a check-box toggle as the window does it.
class ScannedWindow : public ZRDeletailCoverFlowHost {
public:
    const FileNodeArray& coverFlowFiles() const override { return files; }
    bool IsScanRunning() const override { return ZRUIController::IsScanRunning(); }
    bool IsPause() const override { return ZRUIController::IsPause(); }
    void doSelectItem(int index) override
    {
        const FileNodeValue file = files.at(static_cast<size_t>(index));
        OpNodeData::setFileNode(file, OpNodeData::fileNodeState(file) == 2 ? 0 : 2);
    }
    FileNodeArray files;
};

class CoverFlowOnScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureFacadeMachine();
        m_digest = FileDigest(PreviewImage("preview.img"));
        ASSERT_TRUE(ScanThroughFacade("PREVIEWS"));
        ZRUIController::SetViewType(0);
        OpNodeArray roots;
        ZRUIController::GetScanTreeNodeData(&roots, true);
        ASSERT_FALSE(roots.empty());
        ZRUIController::GetFileNodeToArray(&window.files, roots[0].get());
        for (size_t i = 0; i < window.files.size(); ++i)
            rowOf[OpNodeData::fileNodeName(window.files[i])] = i;
        ASSERT_TRUE(rowOf.count("Sunset.jpg"));
        ASSERT_TRUE(rowOf.count("Badge.png"));
        ASSERT_TRUE(rowOf.count("Clip.mp4"));
        ASSERT_TRUE(rowOf.count("Photo.dng"));
    }
    void TearDown() override
    {
        ZRUIController::UnselectedAllNodes();
        EXPECT_EQ(FileDigest(PreviewImage("preview.img")), m_digest);
    }

    ScannedWindow window;
    std::map<QString, size_t> rowOf;
    std::string m_digest;
};

}  // namespace

TEST_F(CoverFlowOnScan, TheCoverFlowNamesEveryFileAndShowsThePicturesPreviews)
{
    ZRDeletailCoverFlow flow(window);
    flow.resetCoverFlow();
    flow.showCoverFlowerViewWithRefresh(true);
    flow.selectedCoverFlow(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return flow.nImageState() == 2; }, 60000));
    flow.stopImageLoading();
    QCoreApplication::processEvents();

    ASSERT_EQ(flow.photoCount(), window.files.size());
    for (const auto& [name, row] : rowOf)
        EXPECT_EQ(flow.photoAt(row)->imageUID(), name);
    EXPECT_EQ(flow.photoAt(rowOf["Sunset.jpg"])->imageRepresentation().size(), QSize(120, 80));
    EXPECT_EQ(flow.photoAt(rowOf["Badge.png"])->imageRepresentation().size(), QSize(50, 30));
    // A movie frame and a raw photo, through the thumbnail service.
    EXPECT_EQ(flow.photoAt(rowOf["Clip.mp4"])->imageRepresentation().size(), QSize(192, 144));
    EXPECT_EQ(flow.photoAt(rowOf["Photo.dng"])->imageRepresentation().size(), QSize(192, 128));
    EXPECT_EQ(flow.flowView()->shownItem(static_cast<qint64>(rowOf["Sunset.jpg"]))->imageRepresentation().size(),
              QSize(120, 80));
}

TEST_F(CoverFlowOnScan, GridTilesShowThumbnailsAndTheirCheckBoxesFollowTheScan)
{
    ZRDeletailCoverFlow flow(window);
    QScrollArea* area = flow.gridScrollArea();
    area->resize(800, 600);
    area->show();
    QCoreApplication::processEvents();
    flow.showGridView();
    QCoreApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] { return flow.gridImageState() == 2; }, 60000));
    QTest::qWait(50);

    auto tileOf = [&](const char* name) {
        return qobject_cast<CNGridViewItem*>(
            flow.gridMainView()->visibleItemAtIndex(static_cast<qint64>(rowOf[name])));
    };
    CNGridViewItem* sunset = tileOf("Sunset.jpg");
    ASSERT_NE(sunset, nullptr);
    EXPECT_EQ(sunset->itemTitle(), "Sunset.jpg");
    EXPECT_EQ(sunset->itemImage().size(), QSize(120, 80));
    ASSERT_NE(tileOf("Badge.png"), nullptr);
    EXPECT_EQ(tileOf("Badge.png")->itemImage().size(), QSize(50, 30));
    ASSERT_NE(tileOf("Clip.mp4"), nullptr);
    EXPECT_EQ(tileOf("Clip.mp4")->itemImage().size(), QSize(192, 144));
    ASSERT_NE(tileOf("Photo.dng"), nullptr);
    EXPECT_EQ(tileOf("Photo.dng")->itemImage().size(), QSize(192, 128));

    // The tile's check box reaches the engine's node through the window.
    const FileNodeValue file = window.files[rowOf["Sunset.jpg"]];
    EXPECT_EQ(OpNodeData::fileNodeState(file), 0);
    sunset->itemButton()->click();
    EXPECT_EQ(OpNodeData::fileNodeState(file), 2);
    EXPECT_EQ(flow.NodeState(sunset->node()), 2);
    unsigned int count = 0;
    quint64 size = 0;
    ZRUIController::GetSelectedFilesAmout(&count, &size);
    EXPECT_EQ(count, 1u);
    sunset->itemButton()->click();
    EXPECT_EQ(OpNodeData::fileNodeState(file), 0);
}

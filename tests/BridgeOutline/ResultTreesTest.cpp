// The trees by type and by time over hand-made scan results: where files
// land, the order of years and months, incremental refreshes, counts,
// check boxes of groups, and the extension lists handed to the engine.
#include <gtest/gtest.h>

#include <set>

#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "OutlineTestSupport.h"
#include "OutlineText.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIOutline.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

namespace {

std::vector<std::string> Names(const OpNodeChildren& children)
{
    std::vector<std::string> names;
    for (const OpNodeChild& child : children)
        names.push_back(child.isItem() ? child.item()->name().toStdString()
                                       : OpNodeData::fileNodeName(child.fileNodeValue()).toStdString());
    return names;
}

std::set<std::string> FileNames(const FileNodeArray& files)
{
    std::set<std::string> names;
    for (FileNodeValue value : files)
        names.insert(OpNodeData::fileNodeName(value).toStdString());
    return names;
}

OpNodeData* Child(OpNodeData* item, const std::string& name)
{
    for (const OpNodeChild& child : item->children())
        if (child.isItem() && child.item()->name().toStdString() == name)
            return child.item();
    return nullptr;
}

OpNodeData* TypeGroup(const OpNodeArray& roots, _FILTER_TYPE bit)
{
    const std::string title = ZRCPPPublic::instance().FilterTypeToString(bit);
    for (const OpNodeDataPtr& root : roots)
        if (root->name().toStdString() == title)
            return root.get();
    return nullptr;
}

OpNodeArray BuildTypeTree()
{
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_FILE_TYPE);
    OpNodeArray roots;
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    return roots;
}

}  // namespace

class TypeTree : public testing::Test {
protected:
    void TearDown() override { ZRTypeMgr::share().init(ZRTypeMgr::DefaultDictionary()); }
    FakeResult result;
};

TEST_F(TypeTree, FilesLandInExtensionFoldersOfTheListedKind)
{
    CFilesystemNode* root = result.Root("VOL");
    result.File(root, "Holiday.JPG");
    result.File(root, "beach.jpg");
    result.File(root, "song.mp3");
    result.File(root, "README");
    result.File(root, "blob.xyz");
    result.Deliver();

    OpNodeArray roots = BuildTypeTree();
    ASSERT_EQ(roots.size(), 6u);
    const std::vector<_FILTER_TYPE> order = {FILTER_TYPE_PICTURE, FILTER_TYPE_MUSIC,    FILTER_TYPE_MOVIE,
                                             FILTER_TYPE_ARCHIVE, FILTER_TYPE_DOCUMENT, FILTER_TYPE_OTHER};
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(roots[i]->name().toStdString(), ZRCPPPublic::instance().FilterTypeToString(order[i]));
        EXPECT_EQ(roots[i]->nodeType(), OPNODE_KIND_PICTURE + static_cast<int>(i));
        EXPECT_EQ(roots[i]->type(), OPNODE_TYPE_FILE_TYPE);
    }
    OpNodeData* pictures = TypeGroup(roots, FILTER_TYPE_PICTURE);
    ASSERT_EQ(Names(pictures->children()), (std::vector<std::string>{"jpg"}));
    OpNodeData* jpg = Child(pictures, "jpg");
    EXPECT_EQ(jpg->parent(), pictures);
    EXPECT_EQ(Names(jpg->children()), (std::vector<std::string>{"Holiday.JPG", "beach.jpg"}));
    EXPECT_EQ(Names(Child(TypeGroup(roots, FILTER_TYPE_MUSIC), "mp3")->children()),
              (std::vector<std::string>{"song.mp3"}));
    // No extension, or one no list knows: straight below "other".
    OpNodeData* other = TypeGroup(roots, FILTER_TYPE_OTHER);
    EXPECT_TRUE(ZRTypeMgr::share().isOtherNode(other));
    EXPECT_FALSE(ZRTypeMgr::share().isOtherNode(pictures));
    EXPECT_EQ(Names(other->children()), (std::vector<std::string>{"README", "blob.xyz"}));

    // The file lists and counts of the window.
    FileNodeArray files{12345};
    EXPECT_EQ(ZRUIOutline::GetFileNodeToArray(&files, pictures), 1);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(ZRUIOutline::GetFileNodeToArray(&files, jpg), 0);
    EXPECT_EQ(FileNames(files), (std::set<std::string>{"Holiday.JPG", "beach.jpg"}));
    EXPECT_EQ(ZRUIOutline::GetFileNodeToArray(&files, other), 0);
    EXPECT_EQ(FileNames(files), (std::set<std::string>{"README", "blob.xyz"}));
    EXPECT_EQ(ZRUIOutline::GetTypeInfoToArray(&files, nullptr), 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(pictures), 2);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(jpg), 2);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(other), 2);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(TypeGroup(roots, FILTER_TYPE_MOVIE)), 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(nullptr), 0);
}

TEST_F(TypeTree, TheListsDecideTheKindNotTheEnginesFilter)
{
    // The engine's filter files jpg under pictures; the tree's lists say
    // documents.
    ZRTypeMgr::share().init({{1, {"png"}}, {16, {"JPG", "pdf"}}, {32, {}}});
    CFilesystemNode* root = result.Root("VOL");
    TestNode* photo = result.File(root, "photo.jpg");
    result.Deliver();
    EXPECT_EQ(ZRUIScan::instance().GetTypeMap().count(FILTER_TYPE_PICTURE), 1u);
    (void)photo;

    OpNodeArray roots = BuildTypeTree();
    EXPECT_TRUE(TypeGroup(roots, FILTER_TYPE_PICTURE)->children().empty());
    OpNodeData* jpg = Child(TypeGroup(roots, FILTER_TYPE_DOCUMENT), "jpg");
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(Names(jpg->children()), (std::vector<std::string>{"photo.jpg"}));
    EXPECT_EQ(ZRTypeMgr::share().getTypeString(16), "JPG;pdf");
    EXPECT_EQ(ZRTypeMgr::share().getTypeString(1), "png");
    EXPECT_EQ(ZRTypeMgr::share().getTypeString(2), "");
    EXPECT_EQ(ZRTypeMgr::share().getTypeString(64), "");
}

TEST_F(TypeTree, RefreshesAddOnlyNewShownFiles)
{
    CFilesystemNode* root = result.Root("VOL");
    result.File(root, "a.jpg");
    TestNode* hidden = result.File(root, "hidden.jpg");
    hidden->ShowNode(0);
    result.File(root, "b.jpg");
    result.Deliver();

    OpNodeArray roots = BuildTypeTree();
    OpNodeData* jpg = Child(TypeGroup(roots, FILTER_TYPE_PICTURE), "jpg");
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(Names(jpg->children()), (std::vector<std::string>{"a.jpg", "b.jpg"}));

    // Nothing new: nothing changes, the boundary file is not added twice.
    roots = BuildTypeTree();
    EXPECT_EQ(jpg->children().size(), 2u);
    result.File(root, "c.jpg");
    result.File(root, "d.png");
    result.Deliver();
    roots = BuildTypeTree();
    EXPECT_EQ(Names(jpg->children()), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(Names(Child(TypeGroup(roots, FILTER_TYPE_PICTURE), "png")->children()),
              (std::vector<std::string>{"d.png"}));

    // A new scan starts the tree over.
    ZRTypeMgr::share().clear();
    for (const OpNodeDataPtr& group : ZRTypeMgr::share().getRootNode())
        EXPECT_TRUE(group->children().empty());
    roots = BuildTypeTree();
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(TypeGroup(roots, FILTER_TYPE_PICTURE)), 4);
}

TEST_F(TypeTree, GroupStatesFollowTheirFiles)
{
    CFilesystemNode* root = result.Root("VOL");
    TestNode* a = result.File(root, "a.jpg");
    TestNode* b = result.File(root, "b.jpg");
    TestNode* c = result.File(root, "c.png");
    TestNode* d = result.File(root, "d.zzz");
    result.Deliver();
    OpNodeArray roots = BuildTypeTree();
    OpNodeData* pictures = TypeGroup(roots, FILTER_TYPE_PICTURE);
    OpNodeData* jpg = Child(pictures, "jpg");
    OpNodeData* png = Child(pictures, "png");
    OpNodeData* other = TypeGroup(roots, FILTER_TYPE_OTHER);
    OpNodeData* music = TypeGroup(roots, FILTER_TYPE_MUSIC);
    music->setNodeState(CHECKED_ALL);  // an empty group keeps its state

    a->SetCheck(CHECKED_ALL);
    ZRUIOutline::RefreshTypeTreeState(nullptr);
    EXPECT_EQ(jpg->state(), CHECKED_PARTLY);
    EXPECT_EQ(png->state(), CHECKED_NONE);
    EXPECT_EQ(pictures->state(), CHECKED_PARTLY);
    EXPECT_EQ(other->state(), CHECKED_NONE);
    EXPECT_EQ(music->state(), CHECKED_ALL);

    b->SetCheck(CHECKED_ALL);
    ZRUIOutline::RefreshTypeTreeState(jpg);
    EXPECT_EQ(jpg->state(), CHECKED_ALL);
    EXPECT_EQ(pictures->state(), CHECKED_PARTLY);
    c->SetCheck(CHECKED_ALL);
    d->SetCheck(CHECKED_ALL);
    ZRUIOutline::RefreshTypeTreeState(nullptr);
    EXPECT_EQ(pictures->state(), CHECKED_ALL);
    EXPECT_EQ(other->state(), CHECKED_ALL);

    // Unchecking a kind unchecks its files.
    pictures->setNodeState(CHECKED_NONE);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(c->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(d->GetCheckedStatus(), CHECKED_ALL);
}

TEST_F(TypeTree, ANewScanStartsWithUncheckedGroupsUnderCurrentTitles)
{
    CFilesystemNode* root = result.Root("VOL");
    result.File(root, "a.jpg");
    result.Deliver();
    OpNodeArray roots = BuildTypeTree();
    OpNodeData* pictures = TypeGroup(roots, FILTER_TYPE_PICTURE);
    pictures->setNodeState(CHECKED_ALL);
    TypeGroup(roots, FILTER_TYPE_MUSIC)->setNodeState(CHECKED_ALL);

    ZRCPPPublic::SetTitleLookup([](const char* key) { return std::string("T:") + key; });
    ZRTypeMgr::share().clear();
    for (const OpNodeDataPtr& group : ZRTypeMgr::share().getRootNode())
        EXPECT_EQ(group->state(), CHECKED_NONE) << group->name().toStdString();
    EXPECT_EQ(pictures->name(), QStringLiteral("T:PAGE_TWO_PICTURE_TITLE"));
    EXPECT_EQ(pictures->nodeType(), OPNODE_KIND_PICTURE);
    ZRCPPPublic::SetTitleLookup(nullptr);
    ZRTypeMgr::share().clear();
    EXPECT_EQ(pictures->nodeType(), OPNODE_KIND_PICTURE);
}

TEST_F(TypeTree, IconNamesOfKnownExtensions)
{
    EXPECT_FALSE(ZRUIOutline::getImageForType(QStringLiteral("jpg")).isEmpty());
    EXPECT_FALSE(ZRUIOutline::getImageForType(QStringLiteral("PDF")).isEmpty());
    EXPECT_TRUE(ZRUIOutline::getImageForType(QStringLiteral("zzz")).isEmpty());
    EXPECT_TRUE(ZRUIOutline::getImageForType(QString()).isEmpty());
}

TEST_F(TypeTree, ListsHandedToTheEngineTable)
{
    const std::map<int, std::string> shipped = GetFileTypeListsFromTypeMgr();
    ASSERT_EQ(shipped.size(), 5u);
    for (const auto& [bit, list] : GetDefaultFileTypeLists())
        EXPECT_EQ(shipped.at(bit), list) << bit;

    // Pictures "jpg" and "png"; documents empty; a list that is not plain
    // ASCII counts as empty.
    ZRTypeMgr::share().init({{1, {"jpg", "png"}}, {2, {"mp3"}}, {4, {"mp4"}}, {8, {"zip", "r\xc3\xa4r"}}, {16, {}}});
    const std::map<int, std::string> lists = GetFileTypeListsFromTypeMgr();
    EXPECT_EQ(lists.at(1), "jpg;png");
    EXPECT_EQ(lists.at(8), "");
    EXPECT_EQ(lists.at(16), "");
    ZRUIOutline::initFileType();
    // A table made from now on splits the new lists.
    CFileTypeManager table;
    table.Initialize();
    EXPECT_EQ(table.GetFileTypeID("png"), FILE_TYPE_PICTURE);
    EXPECT_EQ(table.GetFileTypeID("MP3"), FILE_TYPE_MUSIC);
    // Documents list nothing now, and the archive list was dropped.
    EXPECT_EQ(table.GetFileTypeID("pdf"), FILE_TYPE_OTHER);
    EXPECT_EQ(table.GetFileTypeID("zip"), FILE_TYPE_OTHER);

    std::map<int, std::string> restore = GetDefaultFileTypeLists();
    CFileTypeManager::Initialze(restore);
}

class TimeTree : public testing::Test {
protected:
    OpNodeArray Build(int viewType)
    {
        ZRUIScan::instance().SetScanType(viewType);
        ZRUIOutline::GetScanTreeNodeData(&m_roots, 0);
        return m_roots;
    }
    FakeResult result;
    OpNodeArray m_roots;
};

TEST_F(TimeTree, YearsAndMonthsInAscendingOrder)
{
    CFilesystemNode* root = result.Root("VOL");
    result.File(root, "late.jpg", FileTimeOfDate(2012, 11, 5), FileTimeOfDate(2012, 11, 5));
    result.File(root, "early.jpg", FileTimeOfDate(2009, 1, 30), FileTimeOfDate(2009, 1, 30));
    result.File(root, "jan12.jpg", FileTimeOfDate(2012, 1, 31), FileTimeOfDate(2012, 1, 31));
    result.File(root, "far.jpg", FileTimeOfDate(12000, 6, 1), FileTimeOfDate(12000, 6, 1));
    // Created, but never modified.
    result.File(root, "nomod.jpg", FileTimeOfDate(2009, 1, 2), 0);
    TestNode* folder = result.Folder(root, "dir");
    (void)folder;
    result.Deliver();

    OpNodeArray roots = Build(OPNODE_TYPE_CREATE_TIME);
    ASSERT_EQ(roots.size(), 1u);
    OpNodeData* top = roots[0].get();
    EXPECT_EQ(top->name(), OutlineLocalizedString("CREATE_TIME_ROOT_NAME"));
    EXPECT_EQ(top->nodeType(), OPNODE_KIND_TIME_ROOT);
    EXPECT_EQ(Names(top->children()), (std::vector<std::string>{"2009", "2012", "12000"}));
    OpNodeData* y2012 = Child(top, "2012");
    EXPECT_EQ(y2012->nodeType(), OPNODE_KIND_TIME_GROUP);
    EXPECT_TRUE(y2012->isExpandAble());
    EXPECT_EQ(Names(y2012->children()), (std::vector<std::string>{"01", "11"}));
    OpNodeData* nov = Child(y2012, "11");
    EXPECT_FALSE(nov->isExpandAble());
    EXPECT_EQ(nov->parent(), y2012);
    EXPECT_EQ(Names(nov->children()), (std::vector<std::string>{"late.jpg"}));
    EXPECT_EQ(Names(Child(Child(top, "2009"), "01")->children()), (std::vector<std::string>{"early.jpg", "nomod.jpg"}));
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(top), 5);

    // The file list of a month; a year and the root list nothing.
    FileNodeArray files;
    for (const char* month : {"01", "11"}) {
        ZRUIOutline::GetFileNodeToArray(&files, Child(y2012, month));
        EXPECT_EQ(files.size(), 1u) << month;
    }
    ZRUIOutline::GetFileNodeToArray(&files, y2012);
    EXPECT_TRUE(files.empty());
    ZRUIOutline::GetFileNodeToArray(&files, top);
    EXPECT_TRUE(files.empty());

    // The modification view: the file never modified is in no month.
    m_roots.clear();
    roots = Build(OPNODE_TYPE_MODIFY_TIME);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0]->name(), OutlineLocalizedString("MODIFY_TIME_ROOT_NAME"));
    EXPECT_EQ(Names(Child(Child(roots[0].get(), "2009"), "01")->children()), (std::vector<std::string>{"early.jpg"}));
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(roots[0].get()), 4);

    // The last-access view stays empty: nothing fills its map.
    m_roots.clear();
    roots = Build(OPNODE_TYPE_ACCESS_TIME);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0]->name(), OutlineLocalizedString("LAST_ACCESS_TIME_ROOT_NAME"));
    EXPECT_TRUE(roots[0]->children().empty());
}

TEST_F(TimeTree, RefreshesAddOnlyNewFiles)
{
    CFilesystemNode* root = result.Root("VOL");
    for (int i = 0; i < 3; ++i)
        result.File(root, "m3_" + std::to_string(i), FileTimeOfDate(2020, 3, 1 + i));
    result.Deliver();
    Build(OPNODE_TYPE_CREATE_TIME);
    Build(OPNODE_TYPE_CREATE_TIME);
    ASSERT_EQ(m_roots.size(), 1u);
    OpNodeData* year = Child(m_roots[0].get(), "2020");
    ASSERT_NE(year, nullptr);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(Child(year, "03")), 3);

    for (int i = 0; i < 4; ++i)
        result.File(root, "m4_" + std::to_string(i), FileTimeOfDate(2020, 4, 1 + i));
    TestNode* hidden = result.File(root, "hidden", FileTimeOfDate(2020, 4, 9));
    hidden->ShowNode(0);
    result.Deliver();
    Build(OPNODE_TYPE_CREATE_TIME);
    EXPECT_EQ(m_roots[0]->children().size(), 1u);
    EXPECT_EQ(ZRUIOutline::GetTimeNodeChildrenCnt(Child(year, "04")), 4);
    EXPECT_EQ(ZRUIOutline::GetTimeNodeChildrenCnt(year), 7);
    EXPECT_EQ(ZRUIOutline::GetTimeNodeChildrenCnt(m_roots[0].get()), 7);

    // A fresh root (the window changed view and back) is filled afresh.
    m_roots.clear();
    Build(OPNODE_TYPE_CREATE_TIME);
    EXPECT_EQ(ZRUIOutline::GetTimeNodeChildrenCnt(m_roots[0].get()), 7);

    // Cleared for a search, the same root is rebuilt without doubles.
    ZRTimeMgr::share().setSearch(1);
    Build(OPNODE_TYPE_CREATE_TIME);
    EXPECT_EQ(Names(m_roots[0]->children()), (std::vector<std::string>{"2020"}));
    EXPECT_EQ(ZRUIOutline::GetTimeNodeChildrenCnt(m_roots[0].get()), 7);
}

TEST_F(TimeTree, MonthStatesFollowTheirShownFiles)
{
    CFilesystemNode* root = result.Root("VOL");
    TestNode* a = result.File(root, "a", FileTimeOfDate(2020, 1, 5));
    TestNode* b = result.File(root, "b", FileTimeOfDate(2020, 1, 6));
    TestNode* c = result.File(root, "c", FileTimeOfDate(2020, 2, 6));
    result.Deliver();
    Build(OPNODE_TYPE_CREATE_TIME);
    OpNodeData* top = m_roots[0].get();
    OpNodeData* year = Child(top, "2020");
    OpNodeData* jan = Child(year, "01");
    OpNodeData* feb = Child(year, "02");
    ASSERT_TRUE(jan && feb);

    a->SetCheck(CHECKED_ALL);
    ZRUIOutline::RefreshTimeTreeState(&m_roots);
    EXPECT_EQ(jan->state(), CHECKED_PARTLY);
    EXPECT_EQ(feb->state(), CHECKED_NONE);
    EXPECT_EQ(year->state(), CHECKED_PARTLY);
    EXPECT_EQ(top->state(), CHECKED_PARTLY);

    b->SetCheck(CHECKED_ALL);
    c->SetCheck(CHECKED_ALL);
    ZRUIOutline::RefreshTimeTreeState(&m_roots);
    EXPECT_EQ(jan->state(), CHECKED_ALL);
    EXPECT_EQ(year->state(), CHECKED_ALL);
    EXPECT_EQ(top->state(), CHECKED_ALL);

    // Hidden files do not count; with none shown the month is unchecked.
    c->ShowNode(0);
    ZRUIOutline::RefreshTimeTreeState(&m_roots);
    EXPECT_EQ(feb->state(), CHECKED_NONE);
    EXPECT_EQ(year->state(), CHECKED_PARTLY);
    b->SetCheck(CHECKED_NONE);
    ZRUIOutline::setNodeState(jan, {a, b});
    EXPECT_EQ(jan->state(), CHECKED_PARTLY);
    ZRUIOutline::setNodeState(jan, {});
    EXPECT_EQ(jan->state(), CHECKED_NONE);
    ZRUIOutline::RefreshTimeTreeState(nullptr);
}

TEST_F(TimeTree, MonthItemsNameTheirOwnMonth)
{
    // The month items' times are what the file lists and check boxes look
    // the month up by; none may slip into the next month.
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_CREATE_TIME);
    OpNodeDataPtr root = OpNodeData::initWithNodeData(__TreeNodeData__{1, 1, 0, nullptr});
    root->setType(OPNODE_TYPE_CREATE_TIME);
    for (int year : {1999, 2024}) {
        OpNodeDataPtr yearItem = ZRTimeMgr::share().insertYear(year, root.get());
        for (int month = 12; month >= 1; --month) {
            OpNodeDataPtr item = ZRTimeMgr::share().insertMonth(month, year, yearItem.get());
            int y = 0, m = 0;
            ZRCPPPublic::instance().GetYearMonthByTimeT(&y, &m, item->createtime());
            EXPECT_EQ(y, year);
            EXPECT_EQ(m, month);
        }
        std::vector<std::string> expected;
        for (int month = 1; month <= 12; ++month)
            expected.push_back(QString::asprintf("%02d", month).toStdString());
        EXPECT_EQ(Names(yearItem->children()), expected);
    }
    EXPECT_EQ(Names(root->children()), (std::vector<std::string>{"1999", "2024"}));
    EXPECT_EQ(ZRTimeMgr::GetDateInsertIndex(QStringLiteral("2000"), root->children()), 1);
    EXPECT_EQ(ZRTimeMgr::GetDateInsertIndex(QStringLiteral("0999"), root->children()), 0);
    EXPECT_EQ(ZRTimeMgr::GetDateInsertIndex(QStringLiteral("3000"), root->children()), -1);
    ZRTimeMgr::share().clear();
}

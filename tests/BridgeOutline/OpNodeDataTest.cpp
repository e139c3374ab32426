// The outline items: what they show for files, folders and groups, the
// tri-state check box across groups and engine nodes, and the device-list
// items.
#include <gtest/gtest.h>

#include "BridgeUtil.h"
#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "OutlineTestSupport.h"
#include "OutlineText.h"
#include "ZRUIDeviceData.h"

namespace {

OpNodeDataPtr Group(int type, const QString& name)
{
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{});
    item->setType(type);
    item->setFadeName(name);
    item->setExpandAble(1);
    return item;
}

OpNodeDataPtr AddGroup(const OpNodeDataPtr& parent, int type, const QString& name)
{
    OpNodeDataPtr item = Group(type, name);
    item->setParent(parent.get());
    parent->addChildObject(item);
    return item;
}

void AddFiles(const OpNodeDataPtr& group, const std::vector<TestNode*>& files)
{
    for (TestNode* file : files)
        group->addChildObject(OpNodeChild(FileNodeToValue(file)));
}

}  // namespace

TEST(OpNodeData, ShowsFilesFoldersAndGroups)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* docs = result.Folder(root, "docs");
    TestNode* report = result.File(docs, "Report.pdf", FileTimeOf(1600000000), FileTimeOf(1600000100), 1800);
    report->m_deleted = true;
    TestNode* undated = result.File(docs, "undated.txt", 0, 0, 7);

    OpNodeDataPtr file = OpNodeData::initWithFileNode(FileNodeToValue(report));
    EXPECT_EQ(file->name(), QStringLiteral("Report.pdf"));
    EXPECT_EQ(file->size(), 1800);
    EXPECT_EQ(file->path(), QStringLiteral("/VOL/docs/Report.pdf"));
    EXPECT_TRUE(file->isDeleted());
    EXPECT_FALSE(file->isDirect());
    EXPECT_FALSE(file->isFadeNode());
    EXPECT_EQ(file->createTimeValue(), FileTimeOf(1600000000));
    EXPECT_EQ(file->modifyTimeValue(), FileTimeOf(1600000100));
    EXPECT_EQ(file->createTime().toStdString(), ZRUIPublic::FormatFileTimeToString(FileTimeOf(1600000000)));
    EXPECT_FALSE(file->createTime().isEmpty());
    EXPECT_EQ(file->nodeType(), OPNODE_KIND_FILE);
    EXPECT_EQ(file->isFileSystem(), 0);
    EXPECT_EQ(file->parent(), nullptr);
    // Only the creation time is left empty when it is 0.
    OpNodeDataPtr blank = OpNodeData::initWithFileNode(FileNodeToValue(undated));
    EXPECT_TRUE(blank->createTime().isEmpty());
    EXPECT_FALSE(blank->modifyTime().isEmpty());

    OpNodeDataPtr folder = OpNodeData::initWithNodeData(__TreeNodeData__{1, 0, 0, docs});
    EXPECT_TRUE(folder->isDirect());
    EXPECT_EQ(folder->size(), 0);
    EXPECT_FALSE(folder->isHasFolderChildren());
    OpNodeDataPtr top = OpNodeData::initWithNodeData(__TreeNodeData__{1, 0, 1, root});
    EXPECT_EQ(top->nodeType(), OPNODE_KIND_FILESYSTEM);
    EXPECT_TRUE(top->isHasFolderChildren());

    OpNodeDataPtr group = Group(OPNODE_TYPE_CREATE_TIME, QStringLiteral("2020"));
    EXPECT_TRUE(group->isFadeNode());
    EXPECT_TRUE(group->isDirect());
    EXPECT_TRUE(group->IsShow());
    EXPECT_EQ(group->size(), 0);
    EXPECT_EQ(group->name(), QStringLiteral("2020"));
    EXPECT_TRUE(group->path().isEmpty());
    EXPECT_TRUE(group->createTime().isEmpty());
    EXPECT_EQ(group->createTimeValue(), 0u);
    EXPECT_FALSE(group->isDeleted());
    EXPECT_TRUE(group->isHasFolderChildren());
    group->setExpandAble(0);
    EXPECT_FALSE(group->isHasFolderChildren());

    // Shown follows the engine node.
    file->SetShow(0);
    EXPECT_FALSE(file->IsShow());
    EXPECT_FALSE(report->IsNodeShow());
    file->SetShow(1);
    EXPECT_TRUE(file->IsShow());
}

TEST(OpNodeData, NodeTypesOfGroups)
{
    struct Case {
        int type;
        std::string name;
        bool withParent;
        int expected;
    };
    const std::vector<Case> cases = {
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_PICTURE), false, 2},
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_MUSIC), false, 3},
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_MOVIE), false, 4},
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_ARCHIVE), false, 5},
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_DOCUMENT), false, 6},
        {OPNODE_TYPE_FILE_TYPE, ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_OTHER), false, 7},
        // An extension folder, or any title that names no group.
        {OPNODE_TYPE_FILE_TYPE, "jpg", true, 10},
        {OPNODE_TYPE_FILE_TYPE, "Holiday snaps", false, 10},
        {OPNODE_TYPE_CREATE_TIME, "Creation Time", false, 8},
        {OPNODE_TYPE_CREATE_TIME, "2012", true, 9},
        {OPNODE_TYPE_MODIFY_TIME, "11", true, 9},
        {7, "odd", false, 10},
    };
    OpNodeDataPtr holder = Group(OPNODE_TYPE_FILE_TYPE, QStringLiteral("holder"));
    for (const Case& c : cases) {
        OpNodeDataPtr item = c.withParent ? AddGroup(holder, c.type, QString::fromStdString(c.name))
                                          : Group(c.type, QString::fromStdString(c.name));
        EXPECT_EQ(item->nodeType(), c.expected) << c.name;
    }
    // An item with neither a type nor a file node.
    EXPECT_EQ(OpNodeData::initWithNodeData(__TreeNodeData__{})->nodeType(), OPNODE_KIND_GROUP);
}

TEST(OpNodeData, CheckingGroupsReachesFilesAndGroupsAbove)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    std::vector<TestNode*> jan, feb, mar, other;
    for (int i = 0; i < 2; ++i) {
        jan.push_back(result.File(root, "jan" + std::to_string(i)));
        feb.push_back(result.File(root, "feb" + std::to_string(i)));
        mar.push_back(result.File(root, "mar" + std::to_string(i)));
        other.push_back(result.File(root, "old" + std::to_string(i)));
    }
    OpNodeDataPtr timeRoot = Group(OPNODE_TYPE_CREATE_TIME, QStringLiteral("Creation Time"));
    OpNodeDataPtr y2020 = AddGroup(timeRoot, OPNODE_TYPE_CREATE_TIME, QStringLiteral("2020"));
    OpNodeDataPtr y2019 = AddGroup(timeRoot, OPNODE_TYPE_CREATE_TIME, QStringLiteral("2019"));
    OpNodeDataPtr m1 = AddGroup(y2020, OPNODE_TYPE_CREATE_TIME, QStringLiteral("01"));
    OpNodeDataPtr m2 = AddGroup(y2020, OPNODE_TYPE_CREATE_TIME, QStringLiteral("02"));
    OpNodeDataPtr m3 = AddGroup(y2020, OPNODE_TYPE_CREATE_TIME, QStringLiteral("03"));
    OpNodeDataPtr m12 = AddGroup(y2019, OPNODE_TYPE_CREATE_TIME, QStringLiteral("12"));
    AddFiles(m1, jan);
    AddFiles(m2, feb);
    AddFiles(m3, mar);
    AddFiles(m12, other);

    // Checking a year checks every file listed below it; the root stays
    // mixed while the other year is unchecked.
    y2020->setNodeState(CHECKED_ALL);
    for (auto* list : {&jan, &feb, &mar})
        for (TestNode* f : *list)
            EXPECT_EQ(f->GetCheckedStatus(), CHECKED_ALL) << f->m_name;
    for (TestNode* f : other)
        EXPECT_EQ(f->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(m2->state(), CHECKED_ALL);
    EXPECT_EQ(y2020->state(), CHECKED_ALL);
    EXPECT_EQ(timeRoot->state(), CHECKED_PARTLY);

    // With its sibling checked too, the root is checked.
    y2019->setNodeState(CHECKED_ALL);
    EXPECT_EQ(timeRoot->state(), CHECKED_ALL);

    // Unchecking one of three months: the year holds 4 of 6, mixed, and so
    // is every group above.
    m2->setNodeState(CHECKED_NONE);
    EXPECT_EQ(feb[0]->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(jan[0]->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(y2020->state(), CHECKED_PARTLY);
    EXPECT_EQ(timeRoot->state(), CHECKED_PARTLY);

    // A group set to mixed leaves what is below it alone.
    y2020->setNodeState(CHECKED_PARTLY);
    EXPECT_EQ(jan[0]->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(feb[0]->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(m1->state(), CHECKED_ALL);
    EXPECT_EQ(timeRoot->state(), CHECKED_PARTLY);

    // Unchecking the root clears everything.
    timeRoot->setNodeState(CHECKED_NONE);
    for (auto* list : {&jan, &feb, &mar, &other})
        for (TestNode* f : *list)
            EXPECT_EQ(f->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(y2020->state(), CHECKED_NONE);
    EXPECT_EQ(m12->state(), CHECKED_NONE);
}

TEST(OpNodeData, ItemsWrappingFilesBelowAGroup)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* a = result.File(root, "a.jpg");
    TestNode* b = result.File(root, "b.jpg");
    OpNodeDataPtr group = Group(OPNODE_TYPE_FILE_TYPE, QStringLiteral("jpg"));
    OpNodeChildren children{OpNodeChild(OpNodeData::initWithFileNode(FileNodeToValue(a))),
                            OpNodeChild(OpNodeData::initWithFileNode(FileNodeToValue(b)))};
    group->setSubNode(children);
    ASSERT_EQ(group->children().size(), 2u);
    OpNodeData* itemA = group->children()[0].item();
    EXPECT_EQ(itemA->parent(), group.get());

    // A file's item checks its engine node and recomputes the group.
    itemA->setNodeState(CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(group->state(), CHECKED_PARTLY);
    group->children()[1].item()->setNodeState(CHECKED_ALL);
    EXPECT_EQ(group->state(), CHECKED_ALL);
    group->setNodeState(CHECKED_NONE);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_NONE);

    // The link up is weak: a dropped group leaves no dangling parent.
    OpNodeDataPtr keep = group->children()[0].itemPtr();
    group.reset();
    EXPECT_EQ(keep->parent(), nullptr);
}

TEST(OpNodeData, FilesByValue)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* folder = result.Folder(root, "dir");
    TestNode* file = result.File(folder, "gone.txt");
    file->m_deleted = true;
    const FileNodeValue value = FileNodeToValue(file);

    EXPECT_TRUE(OpNodeData::isFileNodeDirect(FileNodeToValue(folder)));
    EXPECT_FALSE(OpNodeData::isFileNodeDirect(value));
    EXPECT_TRUE(OpNodeData::isFileNodeDeleted(value));
    EXPECT_EQ(OpNodeData::fileNodeName(value), QStringLiteral("gone.txt"));
    EXPECT_EQ(OpNodeData::fileNodeName(0), QString());
    EXPECT_FALSE(OpNodeData::isFileNodeDirect(0));
    EXPECT_FALSE(OpNodeData::isFileNodeDeleted(0));
    EXPECT_EQ(OpNodeData::fileNodeState(0), 0);

    OpNodeData::setFileNode(value, CHECKED_ALL);
    EXPECT_EQ(OpNodeData::fileNodeState(value), CHECKED_ALL);
    // The engine carries the change up to the folder.
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_ALL);
    for (int state : {1, 3, -1}) {
        OpNodeData::setFileNode(value, state);
        EXPECT_EQ(OpNodeData::fileNodeState(value), CHECKED_ALL) << state;
    }
    OpNodeData::setFileNode(0, CHECKED_ALL);
    OpNodeData::setFileNode(value, CHECKED_NONE);
    EXPECT_EQ(OpNodeData::fileNodeState(value), CHECKED_NONE);
}

TEST(OpNodeData, DamagedChildChainEndsTheWalk)
{
    FakeResult result;
    ChainNode folder("loop", 1, true);
    ChainNode first("a.txt", 2, false);
    ChainNode second("b.txt", 3, false);
    folder.m_pFirst = &first;
    first.m_pNext = &second;
    second.m_pNext = &first;  // back to the start
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{1, 0, 0, &folder});
    EXPECT_FALSE(item->isHasFolderChildren());
}

TEST(OpNodeData, DeepTreesTearDownWithoutRecursion)
{
    // Deeper than any stack would take nested destructors.
    constexpr int kDepth = 300000;
    for (bool useFree : {false, true}) {
        OpNodeDataPtr top = OpNodeData::initWithNodeData(__TreeNodeData__{});
        OpNodeData* at = top.get();
        for (int i = 0; i < kDepth; ++i) {
            OpNodeDataPtr child = OpNodeData::initWithNodeData(__TreeNodeData__{});
            child->setParent(at);
            at->addChildObject(child);
            at = child.get();
        }
        if (useFree) {
            top->free();
            EXPECT_TRUE(top->children().empty());
        }
        top.reset();
    }
}

TEST(DiskVolumeNodeData, CopiesTheRecordAndNamesUntitledDevices)
{
    _DiskVolumeData disk;
    disk.name = "Stick";
    disk.capacity = 64ull << 20;
    disk.used = 1234;
    disk.diskIndex = 1;
    disk.volumeIndex = -1;
    disk.fileSystem = 2;
    disk.isDmg = 1;
    disk.isUsb = 1;
    disk.beCanOpen = 0;
    DiskVolumeNodeDataPtr item = DiskVolumeNodeData::initWithNodeData(disk);
    EXPECT_EQ(item->name(), QStringLiteral("Stick"));
    EXPECT_EQ(item->capacity(), 64ull << 20);
    EXPECT_EQ(item->used(), 1234u);
    EXPECT_EQ(item->diskIndex(), 1);
    EXPECT_EQ(item->volumeIndex(), -1);
    EXPECT_EQ(item->fileSystem(), 2);
    EXPECT_EQ(item->isDmg(), 1);
    EXPECT_EQ(item->isUsb(), 1);
    EXPECT_EQ(item->beCanOpen(), 0);
    EXPECT_EQ(item->numberOfChildren(), 0);
    EXPECT_EQ(item->childAtIndex(0), nullptr);

    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        _DiskVolumeData volume;
        volume.name = name;
        volume.diskIndex = 1;
        volume.volumeIndex = 0;
        EXPECT_EQ(DiskVolumeNodeData::initWithNodeData(volume)->name(), OutlineLocalizedString("DEVICE_NAME_UNTITILED"));
    }
    EXPECT_EQ(OutlineLocalizedString("DEVICE_NAME_UNTITILED"), QStringLiteral("Untitled"));
    SetOutlineTextLookup([](const char* key) {
        return QString::fromUtf8(key) == QStringLiteral("DEVICE_NAME_UNTITILED") ? QStringLiteral("Sans titre") : QString();
    });
    _DiskVolumeData unnamed;
    EXPECT_EQ(DiskVolumeNodeData::initWithNodeData(unnamed)->name(), QStringLiteral("Sans titre"));
    EXPECT_EQ(OutlineLocalizedString("CREATE_TIME_ROOT_NAME"), QStringLiteral("Creation Time"));
    SetOutlineTextLookup(nullptr);

    _DiskVolumeData v0;
    v0.name = "EFI";
    _DiskVolumeData v1;
    v1.name = "DATA";
    item->setSubNode({DiskVolumeNodeData::initWithNodeData(v0), DiskVolumeNodeData::initWithNodeData(v1)});
    ASSERT_EQ(item->numberOfChildren(), 2);
    EXPECT_EQ(item->childAtIndex(1)->name(), QStringLiteral("DATA"));
    EXPECT_EQ(item->childAtIndex(2), nullptr);
    EXPECT_EQ(item->childAtIndex(-1), nullptr);
    item->childAtIndex(0)->setParentName(item->name());
    EXPECT_EQ(item->childAtIndex(0)->parentName(), QStringLiteral("Stick"));
    item->free();
    EXPECT_EQ(item->numberOfChildren(), 0);
}

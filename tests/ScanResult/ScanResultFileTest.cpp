// The scan-result file: the bytes the writer puts down for a small tree, the
// replay of every field into a tree builder, the header and frame checks of
// the loader, and a table of damaged and crafted files that must end in an
// error, never in a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DataRecovery.h"
#include "DeviceInfo.h"
#include "HFSPlusVolume.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "RestoreScanSink.h"
#include "RSData.h"
#include "ScanResultFile.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"
#include "TextUtil.h"

namespace {

// ---- a device that is only asked what it is ------------------------------------

class FakeDevice : public IStorageDevice {
public:
    // A whole disk, or a volume with the given name.
    explicit FakeDevice(int type, const char* volumeName = "") : m_iType(type)
    {
        if (type == STORAGE_DEVICE_VOLUME) {
            auto* record = new CCollectedVolumeDeviceInfoStruct;
            CopyTextField(record->szVolumeName, volumeName);
            record->eFileSystemType = FS_FAT16;
            record->s64TotalSectors = 2048;
            m_holder.reset(CreateVolumeDeviceData(record));
        }
    }
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long, long long count) override
    {
        std::memset(buffer, 0, static_cast<size_t>(count) * 512);
        return 1;
    }
    unsigned int GetSectorSize() override { return 512; }
    long long GetTotalSectors() override { return 2048; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_holder.get(); }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return m_iType; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    int m_iType;
    std::unique_ptr<IStorageDeviceData> m_holder;
};

// ---- a builder that records what a replay hands it ------------------------------

struct NodeRelease {
    void operator()(IFileNode* n) const { n->Release(); }
};

class RecordingBuilder : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override
    {
        log.push_back("node " + std::to_string(type) + " " + std::to_string(node->GetCurrentNodeID()));
        if (refuse)
            return 0;
        nodes.emplace_back(node);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override
    {
        log.push_back("info " + std::to_string(type) + " " + std::to_string(rootId));
        return 1;
    }
    int FlashBuild(_tagSearcherType type) override
    {
        log.push_back("flash " + std::to_string(type));
        return 1;
    }
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    SaveRestoreResult::RestoreFileNode* Node(long long id)
    {
        for (auto& n : nodes)
            if (n->GetCurrentNodeID() == id)
                return dynamic_cast<SaveRestoreResult::RestoreFileNode*>(n.get());
        return nullptr;
    }

    std::vector<std::string> log;
    std::vector<std::unique_ptr<IFileNode, NodeRelease>> nodes;
    bool refuse = false;
};

// ---- an independent little-endian writer and reader for the tests ---------------

struct Bytes {
    std::string b;
    Bytes& u16(uint16_t v) { return put(v, 2); }
    Bytes& u32(uint32_t v) { return put(v, 4); }
    Bytes& u64(uint64_t v) { return put(v, 8); }
    Bytes& raw(const std::string& s)
    {
        b += s;
        return *this;
    }
    Bytes& str(const std::string& s) { return u32(static_cast<uint32_t>(s.size())).raw(s); }
    Bytes& put(uint64_t v, int w)
    {
        for (int i = 0; i < w; ++i)
            b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }
};

uint64_t LE(const std::string& s, size_t at, int w)
{
    uint64_t v = 0;
    for (int i = w - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<size_t>(i)));
    return v;
}

std::string IdBytes(const tagGUIDSIGN& id) { return std::string(reinterpret_cast<const char*>(id.u8Bytes), 16); }

struct NodeSpec {
    int64_t id = 0, parent = 0;
    uint64_t size = 0;
    uint16_t attr = 0;
    uint64_t created = 0, modified = 0, accessed = 0;
    uint32_t dir = 0, deleted = 0;
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    uint32_t resident = 0;
    std::string name;
    uint32_t shown = 1;
    uint16_t partition = 0;
    uint64_t meta = 0;
    uint32_t compressed = 0;
    std::optional<uint32_t> runCount;    // a count other than the runs given
    std::optional<uint32_t> nameLength;  // a length other than the name's
};

void PutNode(Bytes& out, const NodeSpec& n)
{
    out.u64(static_cast<uint64_t>(n.id)).u64(static_cast<uint64_t>(n.parent)).u64(n.size).u16(n.attr);
    out.u64(n.created).u64(n.modified).u64(n.accessed).u32(n.dir).u32(n.deleted);
    out.u32(n.runCount.value_or(static_cast<uint32_t>(n.runs.size()))).u32(n.resident);
    for (auto& [start, length] : n.runs)
        out.u64(start).u64(length);
    out.u32(n.nameLength.value_or(static_cast<uint32_t>(n.name.size()))).raw(n.name);
    out.u32(n.shown).u16(n.partition).u64(n.meta).u32(n.compressed);
}

std::string PartitionRecord(uint16_t index, uint32_t fs, uint32_t spu, uint64_t start, uint32_t sectorSize,
                            uint64_t total)
{
    Bytes r;
    r.u64(0xdeadbeef).u64(0x1234).u16(index).u16(0).u32(fs).u32(spu).u32(0).u64(start);
    r.u64(0).u64(0).u64(0).u32(sectorSize).u32(0).u64(total).u64(1).u64(0).u32(0).u32(0);
    EXPECT_EQ(r.b.size(), 104u);
    return r.b;
}

struct TreeSpec {
    uint32_t marker = 1;
    NodeSpec root;
    uint32_t type = SEARCHER_FAT;
    std::string volume = "VOL";
    std::vector<std::pair<uint32_t, std::string>> partitions;  // kind, record
    std::optional<uint32_t> partitionCount;
    std::vector<NodeSpec> nodes;
    uint32_t end = 0xFFFFFFFFu;
};

std::string TreeFrame(const std::vector<TreeSpec>& trees, std::optional<uint64_t> count = std::nullopt)
{
    Bytes out;
    out.u64(count.value_or(trees.size()));
    for (const TreeSpec& t : trees) {
        out.u32(t.marker);
        PutNode(out, t.root);
        out.u32(t.type).str(t.volume);
        out.u32(t.partitionCount.value_or(static_cast<uint32_t>(t.partitions.size())));
        for (auto& [kind, record] : t.partitions)
            out.u32(kind).raw(record);
        for (const NodeSpec& n : t.nodes) {
            out.u32(0);
            PutNode(out, n);
        }
        out.u32(t.end);
    }
    return out.b;
}

struct FileSpec {
    uint32_t status = 1;
    bool kindFrame = true;
    std::string kind = Bytes().u32(8).u32(1).u32(1).b;
    bool deviceFrame = true;
    std::string device = Bytes().u64(1 << 20).u32(0).u32(0xFFFFFFFF).u32(0xFFFFFFFF).str("Disk One").b;
    bool treeFrame = true;
    std::string trees;
};

// Written through the engine's own stream, so header and frames are sound.
void WriteFile(const std::string& path, const FileSpec& spec)
{
    CRSData stream(RS_MODE_WRITE);
    ASSERT_TRUE(stream.StartRS(path.c_str(), 1));
    FILEHEADER header;
    header.eStatus = static_cast<FileStatus>(spec.status);
    ASSERT_TRUE(stream.WriteFileHeader(header));
    auto frame = [&](const tagGUIDSIGN& id, const std::string& payload) {
        stream.OpenFrame(id);
        if (!payload.empty())
            stream.WriteCurFrame(payload.data(), static_cast<unsigned int>(payload.size()));
        stream.CloseFrame();
    };
    if (spec.kindFrame)
        frame(_frFileSystemSearchControllerList, spec.kind);
    if (spec.deviceFrame)
        frame(_frDiskDevice, spec.device);
    if (spec.treeFrame)
        frame(_frFileSystemNode, spec.trees);
    ASSERT_TRUE(stream.EndRS());
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct LoadOutcome {
    int head = -1;
    bool replayed = false;
    bool damaged = false;
    std::vector<std::string> log;
    size_t nodes = 0;
};

// The loader's whole road over a file, into a recording builder.
LoadOutcome Load(const std::string& path, IStorageDevice* device, RecordingBuilder* keep = nullptr,
                 RestoreScanSink** sinkOut = nullptr, std::unique_ptr<RestoreScanSink>* holder = nullptr,
                 std::unique_ptr<CRSData>* streamHolder = nullptr)
{
    LoadOutcome out;
    auto stream = std::make_unique<CRSData>(RS_MODE_READ);
    if (!stream->StartRS(path.c_str(), 0))
        return out;
    SavedScanKind kind;
    SavedDeviceRecord saved;
    out.head = SaveRestoreResult::ReadResultHead(stream.get(), kind, saved, nullptr);
    if (out.head != 0)
        return out;
    RecordingBuilder local;
    RecordingBuilder& builder = keep ? *keep : local;
    auto sink = std::make_unique<RestoreScanSink>(stream.get());
    out.replayed = sink->SetDirecotryTreeBuilder(&builder, nullptr, device) == 0;
    out.damaged = sink->IsDamaged();
    out.log = builder.log;
    out.nodes = builder.nodes.size();
    if (sinkOut && holder && streamHolder) {
        *sinkOut = sink.get();
        *holder = std::move(sink);
        *streamHolder = std::move(stream);
    }
    return out;
}

NodeSpec File(int64_t id, int64_t parent, const std::string& name)
{
    NodeSpec n;
    n.id = id;
    n.parent = parent;
    n.name = name;
    n.size = 1000;
    n.runs = {{10, 2}};
    return n;
}

TreeSpec GoodTree()
{
    TreeSpec t;
    t.root.id = 2;
    t.root.parent = 1;
    t.root.dir = 1;
    t.root.name = "VOL(FAT/FAT32)";
    t.partitions = {{1, PartitionRecord(0, FS_FAT16, 4, 100, 512, 65536)}};
    NodeSpec folder = File(10, 2, "docs");
    folder.dir = 1;
    folder.runs.clear();
    t.nodes = {folder, File(11, 10, "A.TXT"), File(12, 2, "B.TXT")};
    return t;
}

class ScanResultFile : public testing::Test {
protected:
    TempDir m_dir;
    FakeDevice m_disk{STORAGE_DEVICE_DISK};
};

// ---- the writer -----------------------------------------------------------------

// A small tree in memory: root 2 with top.bin and DOCS; DOCS with sub, an
// unnamed file and a.txt; sub with é.jpg. Children are listed newest first.
struct SavedTree {
    std::vector<std::unique_ptr<CFileNode>> keep;
    CFilesystemNode* root = nullptr;
    std::unique_ptr<CDataRecovery> recovery;

    TestNode* Add(CFileNode* parent, const std::string& name, long long id, bool dir)
    {
        auto* n = new TestNode(name, id, dir);
        n->SetParentNodeID(parent->GetCurrentNodeID());
        keep.emplace_back(n);
        parent->AddChild(n);
        return n;
    }
};

std::unique_ptr<SavedTree> MakeSavedTree(IStorageDevice* device)
{
    auto t = std::make_unique<SavedTree>();
    t->root = new CFilesystemNode("VOL(FAT/FAT32)", "VOL", SEARCHER_FAT, 2);
    t->keep.emplace_back(t->root);
    TestNode* docs = t->Add(t->root, "docs", 10, true);
    TestNode* top = t->Add(t->root, "top.bin", 13, false);
    top->m_size = 4096;
    auto* runs = new CDataRunList();
    runs->SetResident(1);
    DataRun r;
    r.llStart = 5;
    r.llLength = 1;
    runs->AddDataRun(&r);
    top->SetDataRunList(runs);
    top->SetBelongedPartition(3);
    top->SetMetaDataSector(777);
    top->ShowNode(0);
    TestNode* a = t->Add(docs, "a.txt", 11, false);
    a->m_size = 3000;
    a->m_deleted = true;
    a->m_created = 132000000000000000ULL;
    a->m_modified = 132000000000000001ULL;
    a->m_accessed = 132000000000000002ULL;
    auto* aruns = new CDataRunList();
    for (auto [s, l] : {std::pair<long long, long long>{100, 2}, {200, 1}}) {
        r.llStart = s;
        r.llLength = l;
        aruns->AddDataRun(&r);
    }
    a->SetDataRunList(aruns);
    t->Add(docs, "", 12, false);
    TestNode* sub = t->Add(docs, "sub", 14, true);
    t->Add(sub, "\xc3\xa9.jpg", 15, false);

    CSearchedPartitionInfo p(4096);
    p.SetPartitionIndex(3);
    p.SetFileSystemType(FS_FAT32);
    p.SetSectorsPerUnit(8);
    p.SetUnitBase(2048);
    p.SetPartitionStart(2000);
    p.SetCounter1(-5);
    p.SetCounter2(6);
    p.SetFlags(0x77);
    p.SetTotalSectors(123456);
    p.SetReliability(9);
    p.SetScore(2.5);
    p.SetExtra(42);
    std::vector<CSearchedPartitionInfo*> list{&p};
    t->recovery = std::make_unique<CDataRecovery>();
    EXPECT_EQ(t->recovery->Initialize(list, device), 0u);
    return t;
}

void SaveTrees(const std::string& path, const std::list<IFileNode*>& roots,
               const SaveRestoreResult::RecoveryOfRoot& recoveryOf)
{
    CRSData stream(RS_MODE_WRITE);
    ASSERT_TRUE(stream.StartRS(path.c_str(), 1));
    FILEHEADER header;
    header.eStatus = static_cast<FileStatus>(1);
    ASSERT_TRUE(stream.WriteFileHeader(header));
    SavedScanKind kind;
    kind.dwControllerType = 1;
    kind.dwDeepScan = 1;
    SaveRestoreResult::WriteScanKindFrame(&stream, kind);
    SavedDeviceRecord device;
    device.u64Capacity = 1 << 20;
    device.iDiskIndex = 0;
    device.strName = "Disk One";
    SaveRestoreResult::WriteDeviceFrame(&stream, device);
    SaveRestoreResult::WriteNodeTreeFrame(&stream, roots, recoveryOf, nullptr);
    stream.CloseFrame();
    ASSERT_TRUE(stream.EndRS());
}

TEST_F(ScanResultFile, WriterPutsDownTheDocumentedBytes)
{
    auto tree = MakeSavedTree(&m_disk);
    const std::string path = m_dir / "a.rsf";
    SaveTrees(path, {tree->root}, [&](IFileNode*) { return tree->recovery.get(); });
    const std::string f = ReadFileBytes(path);

    ASSERT_GE(f.size(), 132u);
    EXPECT_EQ(f.substr(0, 16), IdBytes(_frSignPub));
    EXPECT_EQ(LE(f, 16, 4), 5800u);
    EXPECT_EQ(LE(f, 24, 4), 1u);
    EXPECT_EQ(LE(f, 28, 4), 0u);

    size_t at = 132;
    auto frame = [&](const tagGUIDSIGN& id) {
        EXPECT_EQ(f.substr(at, 16), IdBytes(_frSignPub));
        EXPECT_EQ(f.substr(at + 16, 16), IdBytes(id));
        const size_t size = LE(f, at + 32, 4);
        std::string payload = f.substr(at + 36, size);
        at += 36 + size;
        return payload;
    };
    EXPECT_EQ(frame(_frFileSystemSearchControllerList), Bytes().u32(8).u32(1).u32(1).b);
    EXPECT_EQ(frame(_frDiskDevice), Bytes().u64(1 << 20).u32(0).u32(0xFFFFFFFF).u32(0xFFFFFFFF).str("Disk One").b);
    const std::string t = frame(_frFileSystemNode);
    EXPECT_EQ(at, f.size());

    // The tree block: count, marker, root record, partitions.
    size_t p = 0;
    EXPECT_EQ(LE(t, p, 8), 1u);
    EXPECT_EQ(LE(t, p + 8, 4), 1u);
    p += 12;
    EXPECT_EQ(static_cast<int64_t>(LE(t, p, 8)), 2);  // root id
    EXPECT_EQ(LE(t, p + 58, 4), 0u);                  // root has no runs
    const size_t rootName = LE(t, p + 66, 4);
    EXPECT_EQ(t.substr(p + 70, rootName), "VOL(FAT/FAT32)");
    p += 70 + rootName + 18;
    EXPECT_EQ(LE(t, p, 4), static_cast<uint64_t>(SEARCHER_FAT));
    EXPECT_EQ(LE(t, p + 4, 4), 3u);
    EXPECT_EQ(t.substr(p + 8, 3), "VOL");
    p += 11;
    EXPECT_EQ(LE(t, p, 4), 1u);  // one partition
    EXPECT_EQ(LE(t, p + 4, 4), 4u);  // a plain record's kind
    const std::string rec = t.substr(p + 8, 104);
    EXPECT_EQ(LE(rec, 8, 8), 0u);  // no pointer leaks into the file
    EXPECT_EQ(LE(rec, 16, 2), 3u);
    EXPECT_EQ(LE(rec, 20, 4), static_cast<uint64_t>(FS_FAT32));
    EXPECT_EQ(LE(rec, 24, 4), 8u);
    EXPECT_EQ(LE(rec, 32, 8), 2048u);
    EXPECT_EQ(LE(rec, 40, 8), 2000u);
    EXPECT_EQ(static_cast<int64_t>(LE(rec, 48, 8)), -5);
    EXPECT_EQ(LE(rec, 56, 8), 6u);
    EXPECT_EQ(LE(rec, 64, 4), 4096u);
    EXPECT_EQ(LE(rec, 68, 4), 0x77u);
    EXPECT_EQ(LE(rec, 72, 8), 123456u);
    EXPECT_EQ(LE(rec, 80, 8), 9u);
    double score = 0;
    const uint64_t bits = LE(rec, 88, 8);
    std::memcpy(&score, &bits, 8);
    EXPECT_EQ(score, 2.5);
    EXPECT_EQ(LE(rec, 96, 4), 42u);
    p += 8 + 104;

    // Node records after marker 0, breadth-first by folder, siblings in list
    // order (newest first), then the end marker.
    std::vector<int64_t> ids;
    while (LE(t, p, 4) == 0) {
        p += 4;
        ids.push_back(static_cast<int64_t>(LE(t, p, 8)));
        const size_t runs = LE(t, p + 58, 4);
        const size_t nameAt = p + 66 + 16 * runs;
        p = nameAt + 4 + LE(t, nameAt, 4) + 18;
    }
    EXPECT_EQ(ids, (std::vector<int64_t>{13, 10, 14, 12, 11, 15}));
    EXPECT_EQ(LE(t, p, 4), 0xFFFFFFFFu);
    EXPECT_EQ(p + 4, t.size());
}

TEST_F(ScanResultFile, ReplayGivesBackEveryField)
{
    auto tree = MakeSavedTree(&m_disk);
    // A second tree without a data-recovery object is saved empty.
    CFilesystemNode ntfs("VOL(NTFS)", "VOL", SEARCHER_NTFS, 5);
    TestNode lost("lost.txt", 6);
    ntfs.AddChild(&lost);
    const std::string path = m_dir / "a.rsf";
    SaveTrees(path, {tree->root, &ntfs},
              [&](IFileNode* root) { return root == tree->root ? tree->recovery.get() : nullptr; });

    RecordingBuilder builder;
    RestoreScanSink* sink = nullptr;
    std::unique_ptr<RestoreScanSink> holder;
    std::unique_ptr<CRSData> stream;
    const LoadOutcome out = Load(path, &m_disk, &builder, &sink, &holder, &stream);
    ASSERT_EQ(out.head, 0);
    EXPECT_TRUE(out.replayed);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(out.log, (std::vector<std::string>{"info 32 2", "node 32 13", "node 32 10", "node 32 14", "node 32 12",
                                                 "node 32 11", "node 32 15", "flash 32", "info 35 5", "flash 35"}));

    auto* a = builder.Node(11);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->GetFileName(), "a.txt");
    EXPECT_EQ(a->GetParentNodeID(), 10);
    EXPECT_EQ(a->GetFileSize(), 3000);
    EXPECT_EQ(a->GetCreationTime(), 132000000000000000ULL);
    EXPECT_EQ(a->GetModificationTime(), 132000000000000001ULL);
    EXPECT_EQ(a->GetLastAccessTime(), 132000000000000002ULL);
    EXPECT_TRUE(a->IsDeleted());
    EXPECT_FALSE(a->IsDirectory());
    ASSERT_NE(a->GetDataRunList(), nullptr);
    EXPECT_EQ(a->GetDataRunList()->IsResident(), 0);
    std::vector<std::pair<long long, long long>> runs;
    for (DataRun* r = a->GetDataRunList()->GetFirst(); r; r = a->GetDataRunList()->GetNext())
        runs.emplace_back(r->llStart, r->llLength);
    EXPECT_EQ(runs, (std::vector<std::pair<long long, long long>>{{100, 2}, {200, 1}}));

    auto* top = builder.Node(13);
    ASSERT_NE(top, nullptr);
    ASSERT_NE(top->GetDataRunList(), nullptr);
    EXPECT_EQ(top->GetDataRunList()->IsResident(), 1);
    EXPECT_EQ(top->GetBelongedPartition(), 3);
    EXPECT_EQ(top->GetMetadataStartPosition(), 777);
    EXPECT_EQ(top->IsNodeShow(), 1);  // saved hidden, loaded shown
    EXPECT_EQ(builder.Node(10)->IsDirectory(), 1);
    EXPECT_EQ(builder.Node(10)->GetDataRunList(), nullptr);
    EXPECT_STREQ(builder.Node(12)->GetFileName(), "");
    EXPECT_STREQ(builder.Node(15)->GetFileName(), "\xc3\xa9.jpg");

    // A clone is a separate node with the same fields and its own runs.
    std::unique_ptr<IFileNode, NodeRelease> copy(a->Clone());
    auto* c = dynamic_cast<SaveRestoreResult::RestoreFileNode*>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->GetFileName(), "a.txt");
    EXPECT_EQ(c->GetFileSize(), 3000);
    ASSERT_NE(c->GetDataRunList(), nullptr);
    EXPECT_NE(c->GetDataRunList(), a->GetDataRunList());

    const auto& fat = sink->GetSearchedPartition(SEARCHER_FAT);
    ASSERT_EQ(fat.size(), 1u);
    EXPECT_EQ(fat[0]->GetType(), 4);
    EXPECT_EQ(fat[0]->GetPartitionIndex(), 3);
    EXPECT_EQ(fat[0]->GetFileSystemType(), FS_FAT32);
    EXPECT_EQ(fat[0]->GetSectorsPerUnit(), 8u);
    EXPECT_EQ(fat[0]->GetUnitBase(), 2048);
    EXPECT_EQ(fat[0]->GetPartitionStart(), 2000);
    EXPECT_EQ(fat[0]->GetCounter1(), -5);
    EXPECT_EQ(fat[0]->GetSectorSize(), 4096u);
    EXPECT_EQ(fat[0]->GetFlags(), 0x77u);
    EXPECT_EQ(fat[0]->GetTotalSectors(), 123456u);
    EXPECT_EQ(fat[0]->GetReliability(), 9);
    EXPECT_EQ(fat[0]->GetScore(), 2.5);
    EXPECT_EQ(fat[0]->GetExtra(), 42u);
    EXPECT_EQ(fat[0]->GetVolumeContext(), nullptr);
    EXPECT_TRUE(sink->GetSearchedPartition(SEARCHER_NTFS).empty());
    EXPECT_TRUE(sink->GetSearchedPartition(SEARCHER_RAW).empty());

    // Compressed loaded files read through their tree's file system: an NTFS
    // root gives the NTFS reader, others none, a node without a tree none.
    CFilesystemNode ntfsRoot("x(NTFS)", "x", SEARCHER_NTFS, 5);
    CFilesystemNode fatRoot("x(FAT/FAT32)", "x", SEARCHER_FAT, 2);
    SaveRestoreResult::RestoreFileNode loose;
    EXPECT_EQ(loose.CreateCompressFileReader(nullptr), nullptr);
    ntfsRoot.AddChild(c);
    IFileReader* reader = c->CreateCompressFileReader(nullptr);
    EXPECT_NE(reader, nullptr);
    if (reader)
        reader->Release();
    SaveRestoreResult::RestoreFileNode other;
    fatRoot.AddChild(&other);
    EXPECT_EQ(other.CreateCompressFileReader(nullptr), nullptr);
    ntfsRoot.RemoveChild(c);
    fatRoot.RemoveChild(&other);
}

// Compressed HFS+ files of a load read through the volume reader the load
// opened; a device without an HFS+ volume gives no reader to keep.
TEST_F(ScanResultFile, HFSPlusFilesReadThroughTheLoadsReader)
{
    SaveRestoreResult::ClearHFSPlusVolumes();
    CFilesystemNode hfs("x(HFS+)", "x", SEARCHER_HFSPLUS, 2);
    SaveRestoreResult::RestoreFileNode node;
    hfs.AddChild(&node);
    EXPECT_EQ(node.CreateCompressFileReader(nullptr), nullptr);

    TreeSpec tree = GoodTree();
    tree.type = SEARCHER_HFSPLUS;
    FileSpec spec;
    spec.trees = TreeFrame({tree});
    const std::string path = m_dir / "h.rsf";
    WriteFile(path, spec);
    const LoadOutcome out = Load(path, &m_disk);
    EXPECT_EQ(out.nodes, 3u);
    EXPECT_EQ(SaveRestoreResult::GetCachedHFSPlusVolume(SEARCHER_HFSPLUS), nullptr);

    SaveRestoreResult::KeepHFSPlusVolume(SEARCHER_HFSPLUS, new CHFSPlusVolume(&m_disk, true));
    IFileReader* reader = node.CreateCompressFileReader(nullptr);
    EXPECT_NE(reader, nullptr);
    if (reader)
        reader->Release();
    SaveRestoreResult::ClearHFSPlusVolumes();
    EXPECT_EQ(node.CreateCompressFileReader(nullptr), nullptr);
    hfs.RemoveChild(&node);
}

// A large result saves and loads in linear time: 200,000 files in 2,000
// folders.
TEST_F(ScanResultFile, LargeResultSavesAndLoadsQuickly)
{
    SavedTree tree;
    tree.root = new CFilesystemNode("BIG(NTFS)", "BIG", SEARCHER_NTFS, 5);
    tree.keep.emplace_back(tree.root);
    long long id = 100;
    for (int f = 0; f < 2000; ++f) {
        TestNode* folder = tree.Add(tree.root, "folder" + std::to_string(f), id++, true);
        for (int i = 0; i < 100; ++i) {
            TestNode* file = tree.Add(folder, "file" + std::to_string(i) + ".dat", id++, false);
            file->m_size = 4096;
            auto* runs = new CDataRunList();
            DataRun r;
            r.llStart = id;
            r.llLength = 1;
            runs->AddDataRun(&r);
            file->SetDataRunList(runs);
        }
    }
    CSearchedPartitionInfo p;
    std::vector<CSearchedPartitionInfo*> list{&p};
    CDataRecovery recovery;
    ASSERT_EQ(recovery.Initialize(list, &m_disk), 0u);
    const std::string path = m_dir / "big.rsf";
    auto started = std::chrono::steady_clock::now();
    SaveTrees(path, {tree.root}, [&](IFileNode*) { return &recovery; });
    const double saveSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    started = std::chrono::steady_clock::now();
    const LoadOutcome out = Load(path, &m_disk);
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(out.nodes, 202000u);
    EXPECT_FALSE(out.damaged);
    std::printf("202,000 nodes: save %.2f s, load %.2f s, %lld bytes\n", saveSeconds, loadSeconds,
                static_cast<long long>(ReadFileBytes(path).size()));
    EXPECT_LT(saveSeconds, 20.0);
    EXPECT_LT(loadSeconds, 20.0);
}

// A stop asked through the progress sink ends the replay between nodes; it
// is no damage, and the tree begun is still finished for the windows.
TEST_F(ScanResultFile, ReplayStopsWhenAsked)
{
    FileSpec spec;
    spec.trees = TreeFrame({GoodTree(), GoodTree()});
    const std::string path = m_dir / "s.rsf";
    WriteFile(path, spec);
    struct StopAfter : IProgress {
        int left;
        explicit StopAfter(int n) : left(n) {}
        void UpdateProgress(_PROGRESS_INFO*) override {}
        int Continued() override { return left-- > 0 ? 1 : 0; }
        int shouldBuild() override { return 1; }
    } stop(3);
    CRSData stream(RS_MODE_READ);
    ASSERT_TRUE(stream.StartRS(path.c_str(), 0));
    SavedScanKind kind;
    SavedDeviceRecord saved;
    ASSERT_EQ(SaveRestoreResult::ReadResultHead(&stream, kind, saved, nullptr), 0);
    RestoreScanSink sink(&stream);
    RecordingBuilder builder;
    EXPECT_EQ(sink.SetDirecotryTreeBuilder(&builder, &stop, &m_disk), 0);
    EXPECT_FALSE(sink.IsDamaged());
    EXPECT_EQ(builder.log, (std::vector<std::string>{"info 32 2", "node 32 10", "node 32 11", "flash 32"}));
}

TEST_F(ScanResultFile, EmptyResultAndRefusedNodes)
{
    // No roots at all: a node-tree frame of the count 0 only.
    const std::string path = m_dir / "empty.rsf";
    SaveTrees(path, {}, nullptr);
    LoadOutcome out = Load(path, &m_disk);
    EXPECT_EQ(out.head, 0);
    EXPECT_TRUE(out.replayed);
    EXPECT_FALSE(out.damaged);
    EXPECT_TRUE(out.log.empty());

    // Nodes a builder refuses are freed by the loader (the leak checker of the
    // sanitizer build would see them otherwise).
    FileSpec spec;
    spec.trees = TreeFrame({GoodTree()});
    WriteFile(path, spec);
    RecordingBuilder refusing;
    refusing.refuse = true;
    out = Load(path, &m_disk, &refusing);
    EXPECT_EQ(out.head, 0);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(out.log.size(), 5u);
    EXPECT_EQ(out.nodes, 0u);
}

TEST_F(ScanResultFile, VolumeReplaysOnlyItsOwnTrees)
{
    TreeSpec mine = GoodTree();
    TreeSpec other = GoodTree();
    other.volume = "OTHER";
    other.root.id = 3;
    TreeSpec longer = GoodTree();
    longer.volume = "VOLUME";  // the same start is not the same name
    longer.root.id = 4;
    TreeSpec unnamed = GoodTree();
    unnamed.volume = "Disk";  // what a scan of a volume without a name saves
    unnamed.root.id = 7;
    FileSpec spec;
    spec.trees = TreeFrame({other, mine, longer, unnamed});
    const std::string path = m_dir / "v.rsf";
    WriteFile(path, spec);

    FakeDevice vol(STORAGE_DEVICE_VOLUME, "VOL");
    LoadOutcome out = Load(path, &vol);
    EXPECT_FALSE(out.damaged);
    EXPECT_EQ(out.log, (std::vector<std::string>{"info 32 2", "node 32 10", "node 32 11", "node 32 12", "flash 32"}));

    // A volume without a name of its own named its trees after their
    // volumes' labels (or "Disk"): by name it cannot tell them apart, and
    // takes every tree.
    FakeDevice noName(STORAGE_DEVICE_VOLUME, "");
    out = Load(path, &noName);
    EXPECT_EQ(out.log.front(), "info 32 3");
    EXPECT_EQ(out.nodes, 12u);

    // A whole disk takes every tree.
    out = Load(path, &m_disk);
    EXPECT_EQ(out.nodes, 12u);
}

TEST_F(ScanResultFile, HeaderAndFrameChecks)
{
    const std::string path = m_dir / "h.rsf";
    struct Case {
        const char* what;
        std::function<void(FileSpec&)> change;
        std::function<void(std::string&)> patch;
        int code;
    };
    const std::vector<Case> cases = {
        {"sound file", nullptr, nullptr, SCAN_RESULT_OK},
        {"status 0", [](FileSpec& s) { s.status = 0; }, nullptr, SCAN_RESULT_BAD_HEADER},
        {"status 7", [](FileSpec& s) { s.status = 7; }, nullptr, SCAN_RESULT_BAD_HEADER},
        {"checksum", nullptr, [](std::string& f) { f[20] ^= 1; }, SCAN_RESULT_BAD_HEADER},
        {"description byte", nullptr, [](std::string& f) { f[100] ^= 0x40; }, SCAN_RESULT_BAD_HEADER},
        {"format number", nullptr, [](std::string& f) { f[16] ^= 1; }, SCAN_RESULT_BAD_HEADER},
        {"signature", nullptr, [](std::string& f) { f[0] ^= 1; }, SCAN_RESULT_BAD_HEADER},
        {"short header", nullptr, [](std::string& f) { f.resize(100); }, SCAN_RESULT_BAD_HEADER},
        {"no scan kind", [](FileSpec& s) { s.kindFrame = false; }, nullptr, SCAN_RESULT_BAD_SCAN_KIND},
        {"scan kind length 9", [](FileSpec& s) { s.kind = Bytes().u32(9).u32(1).u32(1).u32(0).b; }, nullptr,
         SCAN_RESULT_BAD_SCAN_KIND},
        {"scan kind cut", [](FileSpec& s) { s.kind = Bytes().u32(8).u32(1).b; }, nullptr, SCAN_RESULT_BAD_SCAN_KIND},
        {"no device", [](FileSpec& s) { s.deviceFrame = false; }, nullptr, SCAN_RESULT_BAD_DEVICE},
        {"device name 4097",
         [](FileSpec& s) { s.device = Bytes().u64(1).u32(0).u32(0).u32(0).str(std::string(4097, 'x')).b; }, nullptr,
         SCAN_RESULT_BAD_DEVICE},
        {"device name 4096",
         [](FileSpec& s) { s.device = Bytes().u64(1).u32(0).u32(0).u32(0).str(std::string(4096, 'x')).b; }, nullptr,
         SCAN_RESULT_OK},
        {"device name past frame",
         [](FileSpec& s) { s.device = Bytes().u64(1).u32(0).u32(0).u32(0).u32(100).raw("abc").b; }, nullptr,
         SCAN_RESULT_BAD_DEVICE},
        {"device name 0xFFFFFFFF",
         [](FileSpec& s) { s.device = Bytes().u64(1).u32(0).u32(0).u32(0).u32(0xFFFFFFFF).b; }, nullptr,
         SCAN_RESULT_BAD_DEVICE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileSpec spec;
        spec.trees = TreeFrame({GoodTree()});
        if (c.change)
            c.change(spec);
        WriteFile(path, spec);
        if (c.patch) {
            std::string f = ReadFileBytes(path);
            c.patch(f);
            WriteBytes(path, f);
        }
        const LoadOutcome out = Load(path, &m_disk);
        EXPECT_EQ(out.head, c.code);
        if (c.code == SCAN_RESULT_OK) {
            EXPECT_EQ(out.nodes, 3u);
        }
    }
    // A missing node-tree frame: the sink has nothing to replay.
    FileSpec spec;
    spec.treeFrame = false;
    WriteFile(path, spec);
    const LoadOutcome out = Load(path, &m_disk);
    EXPECT_EQ(out.head, 0);
    EXPECT_FALSE(out.replayed);
    EXPECT_TRUE(out.damaged);
}

// Crafted node trees: each ends the replay with the damage flag and keeps
// what came before it; none allocates what the file cannot hold.
TEST_F(ScanResultFile, CraftedTreesEndInDamage)
{
    struct Case {
        const char* what;
        std::function<void(std::vector<TreeSpec>&)> change;
        std::optional<uint64_t> count;
        size_t nodesKept;  // of the second tree; the first (3 nodes) always stays
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"sound", nullptr, std::nullopt, 3, false},
        {"tree count 2^62", nullptr, 1ULL << 62, 3, true},
        {"tree count short", nullptr, 1, 0, false},
        {"tree marker 2", [](auto& t) { t[1].marker = 2; }, std::nullopt, 0, true},
        {"partition count 513", [](auto& t) { t[1].partitionCount = 513; }, std::nullopt, 0, true},
        {"partition count 0xFFFFFFFF", [](auto& t) { t[1].partitionCount = 0xFFFFFFFF; }, std::nullopt, 0, true},
        {"partition count past frame", [](auto& t) { t[1].partitionCount = 500; }, std::nullopt, 0, true},
        {"partition kind 5", [](auto& t) { t[1].partitions[0].first = 5; }, std::nullopt, 0, true},
        {"run count 0xFFFFFFFF", [](auto& t) { t[1].nodes[1].runCount = 0xFFFFFFFF; }, std::nullopt, 1, true},
        {"run count 65536", [](auto& t) { t[1].nodes[1].runCount = 65536; }, std::nullopt, 1, true},
        // Runs whose end does not fit in 64 bits, or of a negative length,
        // are never handed to a run list (they would overflow its sums).
        {"run end past 2^63",
         [](auto& t) { t[1].nodes[1].runs = {{10, 0x7FFFFFFFFFFFFFFFull}, {5, 1}}; }, std::nullopt, 1, true},
        {"negative run length", [](auto& t) { t[1].nodes[1].runs = {{10, ~0ull}}; }, std::nullopt, 1, true},
        {"sparse run of any start kept",
         [](auto& t) { t[1].nodes[1].runs = {{~0ull, 8}, {0x7FFFFFFFFFFFFFF0ull, 15}}; }, std::nullopt, 3, false},
        {"run count past frame by one",
         [](auto& t) { t[1].nodes[2].runCount = 2; }, std::nullopt, 2, true},
        {"name length 0xFFFFFFFF", [](auto& t) { t[1].nodes[2].nameLength = 0xFFFFFFFF; }, std::nullopt, 2, true},
        {"name length 65536", [](auto& t) { t[1].nodes[2].nameLength = 65536; }, std::nullopt, 2, true},
        {"root name length huge", [](auto& t) { t[1].root.nameLength = 0x7FFFFFFF; }, std::nullopt, 0, true},
        {"volume name 512", [](auto& t) { t[1].volume = std::string(512, 'v'); }, std::nullopt, 0, true},
        {"node marker 7", [](auto& t) { t[1].end = 7; }, std::nullopt, 3, true},
        {"unknown searcher type skipped", [](auto& t) { t[1].type = 99; }, std::nullopt, 0, false},
    };
    const std::string path = m_dir / "c.rsf";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<TreeSpec> trees{GoodTree(), GoodTree()};
        trees[1].type = SEARCHER_NTFS;
        trees[1].root.id = 5;
        if (c.change)
            c.change(trees);
        FileSpec spec;
        spec.trees = TreeFrame(trees, c.count);
        WriteFile(path, spec);
        const auto started = std::chrono::steady_clock::now();
        const LoadOutcome out = Load(path, &m_disk);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        ASSERT_EQ(out.head, 0);
        EXPECT_EQ(out.damaged, c.damaged);
        ASSERT_GE(out.log.size(), 5u);
        EXPECT_EQ(out.log[4], "flash 32");  // the first tree is whole
        EXPECT_EQ(out.nodes, 3u + c.nodesKept);
    }
}

// Every cut and every flipped byte of a sound file: the load ends with a
// code or a damaged replay, and never crashes or hangs.
TEST_F(ScanResultFile, EveryCutAndFlippedByteIsSurvived)
{
    auto tree = MakeSavedTree(&m_disk);
    const std::string good = m_dir / "good.rsf";
    SaveTrees(good, {tree->root}, [&](IFileNode*) { return tree->recovery.get(); });
    const std::string bytes = ReadFileBytes(good);
    const std::string path = m_dir / "bad.rsf";
    // Cuts: in the header, before the end of the device frame the head
    // fails; anywhere in the node trees the replay says damaged.
    const size_t headEnd = 132 + 36 + 12 + 36 + LE(bytes, 132 + 36 + 12 + 32, 4);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        WriteBytes(path, bytes.substr(0, cut));
        const LoadOutcome out = Load(path, &m_disk);
        if (cut < 132) {
            EXPECT_EQ(out.head, SCAN_RESULT_BAD_HEADER);
        } else if (cut < headEnd) {
            EXPECT_NE(out.head, SCAN_RESULT_OK);
        } else if (out.head == SCAN_RESULT_OK && out.replayed) {
            EXPECT_TRUE(out.damaged);
            EXPECT_LE(out.nodes, 6u);
        }
    }
    // Flips: each byte inverted, and each 4-byte window set to 0xFFFFFFFF
    // (absurd counts and lengths wherever they may stand).
    for (size_t at = 0; at < bytes.size(); ++at) {
        for (int mode = 0; mode < 2; ++mode) {
            std::string f = bytes;
            if (mode == 0)
                f[at] = static_cast<char>(~f[at]);
            else
                for (size_t i = at; i < at + 4 && i < f.size(); ++i)
                    f[i] = static_cast<char>(0xFF);
            WriteBytes(path, f);
            const LoadOutcome out = Load(path, &m_disk);
            if (at < 132) {
                EXPECT_EQ(out.head, SCAN_RESULT_BAD_HEADER) << "at " << at;
            }
            // Misread records cannot outnumber what the bytes can hold.
            EXPECT_LE(out.nodes, 10u) << "at " << at;
        }
    }
}

}  // namespace

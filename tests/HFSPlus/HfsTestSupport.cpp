#include "HfsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <cstring>
#include <set>

#include "HFSPlusFileNode.h"
#include "HFSPlusStructs.h"
#include "ImageFileDevice.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A device that owns the image device under its window.
class CWindowOverImage : public IStorageDevice {
public:
    CWindowOverImage(std::unique_ptr<CImageFileDevice> image, IStorageDevice* window)
        : m_image(std::move(image)), m_window(window)
    {
    }
    ~CWindowOverImage() override { delete m_window; }
    int Open(char* path) override { return m_window->Open(path); }
    int Close() override { return m_window->Close(); }
    int ReadSector(void* b, long long f, long long c) override { return m_window->ReadSector(b, f, c); }
    unsigned int GetSectorSize() override { return m_window->GetSectorSize(); }
    long long GetTotalSectors() override { return m_window->GetTotalSectors(); }
    int IOCtl(unsigned long long r, void* a) override { return m_window->IOCtl(r, a); }
    IStorageDeviceData* GetPrivateData() override { return m_window->GetPrivateData(); }
    void SetPrivateData(IStorageDeviceData* d) override { m_window->SetPrivateData(d); }
    int GetType() override { return m_window->GetType(); }
    ResultCode GetLastError() override { return m_window->GetLastError(); }
    int IsPermitted() override { return 1; }

private:
    std::unique_ptr<CImageFileDevice> m_image;
    IStorageDevice* m_window;
};

}  // namespace

std::map<std::string, std::string> HfsFixtureFiles()
{
    std::map<std::string, std::string> files;
    files["a.txt"] = "hello\n";
    std::string big;
    for (int i = 1; i <= 20000; ++i)
        big += std::to_string(i) + "\n";
    files["docs/big.txt"] = big;
    files["docs/sub/deep.txt"] = "deep\n";
    files["empty.txt"] = "";
    files["\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 \xF0\x9F\x98\x80.txt"] = std::string(100, 'x');
    for (int i = 1; i <= 300; ++i)
        files["many/f" + std::to_string(i) + ".txt"] = "file " + std::to_string(i) + "\n";
    return files;
}

std::vector<std::string> HfsFixtureFolders() { return {"docs", "docs/sub", "many"}; }

HfsFixture MakeHfsFixture(const std::string& dir)
{
    HfsFixture f;
    f.source = dir + "/src";
    RunTool("mkdir -p " + Quote(f.source));
    for (const std::string& folder : HfsFixtureFolders())
        RunTool("mkdir -p " + Quote(f.source + "/" + folder));
    for (const auto& [path, bytes] : HfsFixtureFiles())
        WriteFile(f.source + "/" + path, bytes);
    RunTool("touch -d '2021-03-04 05:06:08Z' " + Quote(f.source + "/a.txt"));
    f.image = dir + "/hfs.iso";
    RunTool("xorriso -as mkisofs -quiet -hfsplus -o " + Quote(f.image) + " " + Quote(f.source) + " 2>&1");
    // The volume header lies 1024 bytes into the volume.
    std::ifstream in(f.image, std::ios::binary);
    std::vector<char> sector(512);
    for (long long s = 0; in.read(sector.data(), 512); ++s) {
        if (s >= 2 && static_cast<uint8_t>(sector[0]) == 0x48 && static_cast<uint8_t>(sector[1]) == 0x2B) {
            f.volumeStart = s - 2;
            const std::vector<uint8_t> h = ReadAt(f.image, static_cast<unsigned long long>(s) * 512, 512);
            const uint32_t blockSize = ReadBE32(h.data() + 40), blocks = ReadBE32(h.data() + 44);
            f.volumeSectors = static_cast<long long>(static_cast<unsigned long long>(blockSize) * blocks / 512);
            break;
        }
    }
    EXPECT_GT(f.volumeStart, 0) << "no HFS+ volume in " << f.image;
    return f;
}

const HfsFixture& SharedHfsFixture()
{
    static TempDir dir;
    static const HfsFixture fixture = MakeHfsFixture(dir.path());
    return fixture;
}

void CopyImage(const std::string& from, const std::string& to) { RunTool("cp " + Quote(from) + " " + Quote(to)); }

void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size)
{
    std::vector<uint8_t> out(size, 0);
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    return out;
}

long long MakeGptDiskOfVolumes(const HfsFixture& fixture, const std::string& path, const std::vector<long long>& starts)
{
    const long long sectors = (starts.empty() ? 2048 : starts.back()) + fixture.volumeSectors + 4096;
    RunTool("truncate -s " + std::to_string(sectors * 512) + " " + Quote(path));
    std::string table = "label: gpt\\nfirst-lba: 34\\n";
    for (long long at : starts)
        table += "start=" + std::to_string(at) + ", size=" + std::to_string(fixture.volumeSectors + 100) + "\\n";
    RunTool("printf '" + table + "' | sfdisk -q " + Quote(path));
    for (size_t i = 0; i < starts.size(); ++i) {
        RunTool("dd if=" + Quote(fixture.image) + " of=" + Quote(path) + " bs=512 skip=" +
                std::to_string(fixture.volumeStart) + " seek=" + std::to_string(starts[i]) + " count=" +
                std::to_string(fixture.volumeSectors) + " conv=notrunc status=none");
        if (i == 0)
            continue;
        // The alternate header lies 1024 bytes before the volume's end.
        for (long long s : {starts[i] + 2, starts[i] + fixture.volumeSectors - 2}) {
            const unsigned long long at = static_cast<unsigned long long>(s) * 512 + 16;
            std::vector<uint8_t> date = ReadAt(path, at, 4);
            date[3] = static_cast<uint8_t>(date[3] - i);
            WriteAt(path, at, date.data(), date.size());
        }
    }
    return sectors;
}

void MakeDiskOfOneVolume(const HfsFixture& fixture, const std::string& path, const std::string& label,
                         unsigned long long startByte)
{
    const unsigned long long volumeBytes = static_cast<unsigned long long>(fixture.volumeSectors) * 512;
    const unsigned long long bytes = (startByte + volumeBytes + 2 * 1024 * 1024) / 4096 * 4096;
    RunTool("truncate -s " + std::to_string(bytes) + " " + Quote(path));
    if (!label.empty()) {
        const std::string type = label == "gpt" ? "48465300-0000-11AA-AA11-00306543ECAC" : "af";
        RunTool("printf 'label: " + label + "\\nstart=" + std::to_string(startByte / 512) +
                ", size=" + std::to_string(fixture.volumeSectors + 100) + ", type=" + type + "\\n' | sfdisk -q " +
                Quote(path));
    }
    RunTool("dd if=" + Quote(fixture.image) + " of=" + Quote(path) + " bs=512 skip=" +
            std::to_string(fixture.volumeStart) + " seek=" + std::to_string(startByte / 512) + " count=" +
            std::to_string(fixture.volumeSectors) + " conv=notrunc status=none");
}

std::unique_ptr<IStorageDevice> OpenVolume(const std::string& image, long long start, long long count)
{
    auto disk = std::make_unique<CImageFileDevice>(512);
    std::string path = image;
    EXPECT_TRUE(disk->Open(path.data()));
    IStorageDevice* window = CreatePartitionDevice(disk.get(), start, count);
    return std::make_unique<CWindowOverImage>(std::move(disk), window);
}

HfsGeometry ReadGeometry(const HfsFixture& fixture)
{
    HfsGeometry g;
    const unsigned long long volume = static_cast<unsigned long long>(fixture.volumeStart) * 512;
    const std::vector<uint8_t> h = ReadAt(fixture.image, volume + 1024, 512);
    g.blockSize = ReadBE32(h.data() + 40);
    g.catalogOffset = volume + static_cast<unsigned long long>(ReadBE32(h.data() + 272 + 16)) * g.blockSize;
    const std::vector<uint8_t> header = ReadAt(fixture.image, g.catalogOffset + 14, 106);
    g.catalogRoot = ReadBE32(header.data() + 2);
    g.catalogFirstLeaf = ReadBE32(header.data() + 10);
    g.catalogNodeSize = ReadBE16(header.data() + 18);
    g.catalogTotalNodes = ReadBE32(header.data() + 22);
    return g;
}

CHfsRecordingBuilder::~CHfsRecordingBuilder()
{
    for (CHFSPlusFileNode* n : m_nodes)
        n->Release();
}

int CHfsRecordingBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    EXPECT_EQ(type, SEARCHER_HFSPLUS);
    if (m_refuseAll)
        return 0;
    auto* hfs = dynamic_cast<CHFSPlusFileNode*>(node);
    EXPECT_NE(hfs, nullptr);
    if (!hfs)
        return 0;
    m_nodes.push_back(hfs);
    return 1;
}

int CHfsRecordingBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    m_events.push_back("info " + std::to_string(type) + " " + std::to_string(rootId));
    return 1;
}

int CHfsRecordingBuilder::FlashBuild(_tagSearcherType type)
{
    m_events.push_back("flash " + std::to_string(type));
    return 1;
}

std::string CHfsRecordingBuilder::PathOf(CHFSPlusFileNode* node) const
{
    std::map<long long, CHFSPlusFileNode*> byId;
    for (CHFSPlusFileNode* n : m_nodes)
        if (!n->IsDeleted() || !byId.count(n->GetCurrentNodeID()))
            byId[n->GetCurrentNodeID()] = n;
    std::string path = node->GetFileName();
    long long parent = node->GetParentNodeID();
    for (int guard = 0; parent != 2 && guard < 64; ++guard) {
        auto it = byId.find(parent);
        if (it == byId.end())
            return "?/" + path;
        path = std::string(it->second->GetFileName()) + "/" + path;
        parent = it->second->GetParentNodeID();
    }
    return path;
}

std::map<std::string, CHFSPlusFileNode*> CHfsRecordingBuilder::ByPath() const
{
    std::map<std::string, CHFSPlusFileNode*> out;
    for (CHFSPlusFileNode* n : m_nodes)
        out[PathOf(n)] = n;
    return out;
}

void CHfsRecordingProgress::UpdateProgress(_PROGRESS_INFO* info)
{
    m_reports.push_back({info->dwState, info->u64Total, info->u64Done});
}

int CHfsRecordingProgress::Continued()
{
    ++m_continuedCalls;
    return m_stopAfter < 0 || m_continuedCalls <= m_stopAfter ? 1 : 0;
}

std::string ReadNodeData(const HfsFixture& fixture, CHFSPlusFileNode* node, uint32_t blockSize)
{
    std::string bytes;
    IDataRunList* runs = node->GetDataRunList();
    const unsigned long long volume = static_cast<unsigned long long>(fixture.volumeStart) * 512;
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext()) {
        const std::vector<uint8_t> part =
            ReadAt(fixture.image, volume + static_cast<unsigned long long>(r->llStart) * blockSize,
                   static_cast<size_t>(r->llLength) * blockSize);
        bytes.append(part.begin(), part.end());
    }
    bytes.resize(std::min<size_t>(bytes.size(), static_cast<size_t>(node->GetFileSize())));
    return bytes;
}

void PutBE(Bytes& b, size_t at, uint64_t v, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

void PutLE(Bytes& b, size_t at, uint64_t v, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes MakeBTreeNode(size_t size, int8_t kind, uint8_t height, const std::vector<Bytes>& records)
{
    Bytes node(size, 0);
    node[8] = static_cast<uint8_t>(kind);
    node[9] = height;
    PutBE(node, 10, records.size(), 2);
    size_t at = 14;
    for (size_t i = 0; i < records.size(); ++i) {
        PutBE(node, size - 2 * (i + 1), at, 2);
        std::memcpy(node.data() + at, records[i].data(), records[i].size());
        at += records[i].size();
    }
    PutBE(node, size - 2 * (records.size() + 1), at, 2);
    return node;
}

Bytes MakeBTreeFile(uint16_t nodeSize, uint16_t maxKeyLength, const std::vector<Bytes>& leafRecords)
{
    Bytes header(106, 0);
    PutBE(header, 0, 1, 2);  // depth
    PutBE(header, 2, 1, 4);  // root
    PutBE(header, 6, leafRecords.size(), 4);
    PutBE(header, 10, 1, 4);  // first leaf
    PutBE(header, 14, 1, 4);  // last leaf
    PutBE(header, 18, nodeSize, 2);
    PutBE(header, 20, maxKeyLength, 2);
    PutBE(header, 22, 2, 4);  // total nodes
    PutBE(header, 38, 6, 4);  // big and variable-length keys
    Bytes file = MakeBTreeNode(nodeSize, 1, 0, {header});
    const Bytes leaf = MakeBTreeNode(nodeSize, -1, 1, leafRecords);
    file.insert(file.end(), leaf.begin(), leaf.end());
    return file;
}

uint32_t AppendBlocks(const HfsFixture& f, const Bytes& bytes)
{
    const unsigned long long volume = static_cast<unsigned long long>(f.volumeStart) * 512;
    const uint32_t blockSize = ReadGeometry(f).blockSize;
    const unsigned long long size = ReadFileBytes(f.image).size();
    const uint32_t first = static_cast<uint32_t>((size - volume + blockSize - 1) / blockSize);
    const unsigned long long blocks = (bytes.size() + blockSize - 1) / blockSize;
    RunTool("truncate -s " + std::to_string(volume + (first + blocks) * blockSize) + " '" + f.image + "'");
    WriteAt(f.image, volume + static_cast<unsigned long long>(first) * blockSize, bytes.data(), bytes.size());
    return first;
}

void AddJournal(const HfsFixture& f, unsigned long long home, const Bytes& node, int copies)
{
    const HfsGeometry g = ReadGeometry(f);
    const unsigned long long volume = static_cast<unsigned long long>(f.volumeStart) * 512;
    // Journal info block in the block after the volume, the journal behind
    // it; the image grows to hold them.
    Bytes header = ReadAt(f.image, volume + 1024, 512);
    const uint32_t totalBlocks = ReadBE32(header.data() + 44);
    const unsigned long long infoAt = static_cast<unsigned long long>(totalBlocks) * g.blockSize;
    const unsigned long long journalAt = infoAt + g.blockSize;
    constexpr uint64_t kJournalSize = 64 * 1024;
    const unsigned long long needed = volume + journalAt + kJournalSize;
    if (ReadFileBytes(f.image).size() < needed)
        RunTool("truncate -s " + std::to_string(needed) + " '" + f.image + "'");
    PutBE(header, 4, ReadBE32(header.data() + 4) | 0x2000, 4);
    PutBE(header, 12, totalBlocks, 4);
    WriteAt(f.image, volume + 1024, header.data(), 512);
    Bytes info(512, 0);
    PutBE(info, 0, 1, 4);
    PutBE(info, 36, journalAt, 8);
    PutBE(info, 44, kJournalSize, 8);
    WriteAt(f.image, volume + infoAt, info.data(), info.size());

    Bytes journal(kJournalSize, 0);
    PutLE(journal, 0, 0x4A4E4C78, 4);
    PutLE(journal, 4, 0x12345678, 4);
    PutLE(journal, 8, 512, 8);    // start
    PutLE(journal, 16, 512, 8);   // end: the transaction below is stale
    PutLE(journal, 24, kJournalSize, 8);
    PutLE(journal, 32, 4096, 4);  // block-list header size
    PutLE(journal, 40, 512, 4);   // journal header size
    // One transaction: the node copies, at their home location.
    const size_t list = 512;
    PutLE(journal, list + 0, 4096 / 16 - 1, 2);
    PutLE(journal, list + 2, static_cast<uint64_t>(copies) + 1, 2);
    PutLE(journal, list + 4, 4096 + copies * node.size(), 4);
    for (int b = 1; b <= copies; ++b) {
        PutLE(journal, list + 16 * b, home / 512, 8);
        PutLE(journal, list + 16 * b + 8, node.size(), 4);
        std::memcpy(journal.data() + list + 4096 + (b - 1) * node.size(), node.data(), node.size());
    }
    WriteAt(f.image, volume + journalAt, journal.data(), journal.size());
}

std::set<std::string> AddJournalOfOldLeaf(const HfsFixture& base)
{
    const HfsGeometry g = ReadGeometry(base);
    const std::string image = base.image;
    const unsigned long long volume = static_cast<unsigned long long>(base.volumeStart) * 512;
    const uint32_t nodeSize = g.catalogNodeSize;

    // A leaf of the many/ folder, not the first leaf.
    const uint32_t leafNumber = g.catalogFirstLeaf + 3;
    const unsigned long long leafAt = g.catalogOffset + static_cast<unsigned long long>(leafNumber) * nodeSize;
    const Bytes oldLeaf = ReadAt(image, leafAt, nodeSize);
    EXPECT_EQ(static_cast<int8_t>(oldLeaf[8]), -1);
    const unsigned count = ReadBE16(oldLeaf.data() + 10);
    EXPECT_GE(count, 6u);

    // The live leaf loses its last four records.
    constexpr unsigned kDropped = 4;
    std::set<std::string> expected;
    for (unsigned i = count - kDropped; i < count; ++i) {
        const unsigned offset = ReadBE16(oldLeaf.data() + nodeSize - 2 * (i + 1));
        const uint8_t* r = oldLeaf.data() + offset;
        const unsigned keySize = ReadBE16(r) + 2;
        const unsigned nameLength = ReadBE16(r + 6);
        const int type = ReadBE16(r + keySize);
        if (type != 1 && type != 2)
            continue;
        std::string name;
        for (unsigned u = 0; u < nameLength; ++u)
            name.push_back(static_cast<char>(r[9 + 2 * u]));
        expected.insert(name);
    }
    EXPECT_FALSE(expected.empty());
    Bytes newCount(2);
    PutBE(newCount, 0, count - kDropped, 2);
    WriteAt(image, leafAt + 10, newCount.data(), 2);

    AddJournal(base, leafAt - volume, oldLeaf, 2);
    return expected;
}

unsigned long long FindRecord(const HfsFixture& f, const HfsGeometry& g, const std::u16string& name,
                              uint32_t parent, uint8_t type)
{
    Bytes key(8 + 2 * name.size(), 0);
    PutBE(key, 0, 6 + 2 * name.size(), 2);
    PutBE(key, 2, parent, 4);
    PutBE(key, 6, name.size(), 2);
    for (size_t i = 0; i < name.size(); ++i)
        PutBE(key, 8 + 2 * i, name[i], 2);
    const Bytes catalog =
        ReadAt(f.image, g.catalogOffset, static_cast<size_t>(g.catalogNodeSize) * g.catalogTotalNodes);
    auto it = std::search(catalog.begin(), catalog.end(), key.begin(), key.end());
    while (it != catalog.end()) {
        const size_t at = static_cast<size_t>(it - catalog.begin()) + key.size();
        if (at + 2 <= catalog.size() && catalog[at] == 0 && catalog[at + 1] == type)
            return g.catalogOffset + at;
        it = std::search(it + 1, catalog.end(), key.begin(), key.end());
    }
    ADD_FAILURE() << "no catalog record";
    return 0;
}


std::unique_ptr<HfsImageScan> ScanWholeImage(const HfsFixture& f)
{
    auto scan = std::make_unique<HfsImageScan>();
    const long long sectors = static_cast<long long>(ReadFileBytes(f.image).size() / 512) - f.volumeStart;
    scan->device = OpenVolume(f.image, f.volumeStart, sectors);
    scan->searcher.SetDirecotryTreeBuilder(&scan->builder);
    scan->rc = scan->searcher.QuickSearchFiles(scan->device.get(), &scan->progress);
    return scan;
}

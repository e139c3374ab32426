#include "FatSearchTestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>

#include "DeviceInfo.h"
#include "FileReader.h"
#include "SearchedPartitionInfo.h"

CRecordingTreeBuilder::~CRecordingTreeBuilder()
{
    for (CFATFileNode* node : nodes)
        node->Release();
}

int CRecordingTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    auto* fatNode = dynamic_cast<CFATFileNode*>(node);
    EXPECT_NE(fatNode, nullptr) << "the walk hands over FAT nodes only";
    if (!fatNode)
        return 0;
    nodes.push_back(fatNode);
    nodeTypes.push_back(type);
    ++added;
    return 1;
}

int CRecordingTreeBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    searcherInfos.emplace_back(type, rootId);
    return 1;
}

int CRecordingTreeBuilder::FlashBuild(_tagSearcherType type)
{
    flashBuilds.push_back(type);
    return 1;
}

int CRecordingTreeBuilder::SetPartitonDevice(CSearchedPartitionInfo* p, IStorageDevice* d)
{
    ++partitionDeviceCalls;
    partition = p;
    device = d;
    return 1;
}

int CReadLogDevice::ReadSector(void* buffer, long long first, long long count)
{
    bool fail = false;
    for (const auto& [start, length] : m_fail)
        if (first < start + length && start < first + count)
            fail = true;
    const bool ok = !fail && CCountingDevice::ReadSector(buffer, first, count) != 0;
    reads.push_back({first, count, ok, m_pTag ? *m_pTag : 0});
    return ok ? 1 : 0;
}

int CSignatureAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo&)
{
    ++calls;
    return std::memcmp(sector, m_signature.data(), m_signature.size()) == 0 ? 1 : 0;
}

CAnalyserDouble::CAnalyserDouble()
{
    set.multimap.emplace(0xD8FF, &jpeg);
    set.map.emplace(0x474E5089u, &png);
    set.map.emplace(0x46445025u, &pdf);
}

std::unique_ptr<CImageFileDevice> OpenFatVolume(const std::string& image, enumFILE_SYSTEM_TYPE fsType,
                                                unsigned int sectorSize)
{
    auto device = std::make_unique<CImageFileDevice>(sectorSize, STORAGE_DEVICE_VOLUME);
    std::string path = image.find('/') == std::string::npos ? FatImagePath(image) : image;
    if (!device->Open(path.data())) {
        ADD_FAILURE() << "cannot open " << path;
        return nullptr;
    }
    auto* record = new CCollectedVolumeDeviceInfoStruct;
    record->eFileSystemType = fsType;
    record->s64SectorSize = sectorSize;
    record->s64TotalSectors = device->GetTotalSectors();
    device->SetPrivateData(CreateVolumeDeviceData(record));
    return device;
}

std::unique_ptr<FatScan> QuickScan(const std::string& image, enumFILE_SYSTEM_TYPE fsType, unsigned int sectorSize,
                                   const std::function<void(FatScan&)>& setup)
{
    auto scan = std::make_unique<FatScan>();
    scan->image = OpenFatVolume(image, fsType, sectorSize);
    if (!scan->image)
        return scan;
    scan->device = std::make_unique<CReadLogDevice>(scan->image.get());
    scan->device->TagWith(&scan->builder.added);
    if (setup)
        setup(*scan);
    scan->searcher.SetDirecotryTreeBuilder(&scan->builder);
    scan->result = scan->searcher.QuickSearchFiles(scan->device.get(), &scan->progress);
    return scan;
}

long long FatScan::DataStart()
{
    CSearchedPartitionInfo* clone = nullptr;
    if (searcher.GetSearchedPartitionInfo(&clone, 1) != 1 || !clone)
        return -1;
    const long long start = clone->GetUnitBase();
    delete clone;
    return start;
}

unsigned int FatScan::SectorsPerCluster()
{
    CSearchedPartitionInfo* clone = nullptr;
    if (searcher.GetSearchedPartitionInfo(&clone, 1) != 1 || !clone)
        return 0;
    const unsigned int spc = clone->GetSectorsPerUnit();
    delete clone;
    return spc;
}

namespace {

using FolderIds = std::map<long long, CFATFileNode*>;

FolderIds FoldersById(const CRecordingTreeBuilder& builder)
{
    FolderIds folders;
    for (CFATFileNode* n : builder.nodes)
        if (n->IsDirectory())
            folders.emplace(n->GetCurrentNodeID(), n);
    return folders;
}

std::string PathIn(const FolderIds& folders, CFATFileNode* node)
{
    std::string path = node->GetFileName();
    long long parent = node->GetParentNodeID();
    for (size_t depth = 0; parent != 0; ++depth) {
        auto it = folders.find(parent);
        if (it == folders.end() || depth > folders.size())
            return "";
        path = std::string(it->second->GetFileName()) + "/" + path;
        parent = it->second->GetParentNodeID();
    }
    return path;
}

}  // namespace

std::string NodePath(const CRecordingTreeBuilder& builder, CFATFileNode* node)
{
    return PathIn(FoldersById(builder), node);
}

std::map<std::string, CFATFileNode*> NodesByPath(const CRecordingTreeBuilder& builder)
{
    const FolderIds folders = FoldersById(builder);
    std::map<std::string, CFATFileNode*> out;
    for (CFATFileNode* node : builder.nodes) {
        const std::string path = PathIn(folders, node);
        EXPECT_FALSE(path.empty()) << node->GetFileName() << " has no path to the root";
        EXPECT_TRUE(out.emplace(path, node).second) << path << " comes twice";
    }
    return out;
}

std::map<std::string, ExpectedNode> ExpectedWalkTree(int subFiles)
{
    std::map<std::string, ExpectedNode> out{
        {"readme.txt", {870, false, false}},
        {"Long file name with spaces.txt", {5000, true, false}},
        {"Ünïcödé-名前.txt", {3000, false, false}},
        {"empty1.dat", {0, false, false}},
        {"empty2.dat", {0, false, false}},
        {"dirA", {0, false, true}},
        {"dirA/#ile31.bin", {7541, true, false}},
        {"dirA/#ub", {0, true, true}},
        {"frag", {0, false, true}},
        {"frag/A", {20000, false, false}},
        {"frag/C", {20000, false, false}},
        {"frag/D", {70000, false, false}},
    };
    for (int i = 0; i < 40; ++i) {
        if (i == 31)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "dirA/file%02d.bin", i);
        out[name] = {1000 + 211LL * i, false, false};
    }
    for (int i = 0; i < subFiles; ++i)
        out["dirA/#ub/sub file " + std::to_string(i) + ".txt"] = {1500, true, false};
    return out;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string SourceFile(const std::string& path)
{
    static const std::map<std::string, std::string> sources = [] {
        std::map<std::string, std::string> out;
        const std::filesystem::path src = FatImagePath("src");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(src))
            if (entry.is_regular_file())
                out[Lower(std::filesystem::relative(entry.path(), src).string())] = entry.path().string();
        return out;
    }();
    std::string rel = Lower(path);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"#ile31", "file31"}, {"#ub", "sub"}})
        if (size_t at = rel.find(from); at != std::string::npos)
            rel.replace(at, from.size(), to);
    auto it = sources.find(rel);
    return it == sources.end() ? "" : it->second;
}

std::vector<long long> RunSectors(CFATFileNode* node, long long dataStart, unsigned int sectorsPerCluster)
{
    std::vector<long long> out;
    IDataRunList* runs = node->GetDataRunList();
    if (!runs)
        return out;
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext())
        for (long long u = 0; u < run->llLength; ++u)
            for (unsigned int s = 0; s < sectorsPerCluster; ++s)
                out.push_back(dataStart + (run->llStart + u) * sectorsPerCluster + s);
    return out;
}

std::string ReadNodeBytes(IStorageDevice* device, CFATFileNode* node, CSearchedPartitionInfo* partition)
{
    CFileReader reader;
    if (!reader.Open(device, node, partition))
        return "<cannot open>";
    std::string out(static_cast<size_t>(node->GetFileSize()), '\0');
    int got = 0;
    if (!reader.Read(0, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(out.size()), got, nullptr) ||
        got != static_cast<int>(out.size()))
        return "<read failed>";
    return out;
}

#include "FuzzTargets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "CRC.h"
#include "DataRecovery.h"
#include "DeviceInfo.h"
#include "ExifReader.h"
#include "FuzzDevice.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "ISearcher.h"
#include "ITreeBuilder.h"
#include "PartitionTableAnalyze.h"
#include "RestoreScanSink.h"
#include "RSData.h"
#include "ScanResultFile.h"
#include "SearcherRegistry.h"
#include "StorageDevice.h"

namespace {

// Bounds that keep one input's work small; a parser's own limits are what
// is under test, these only stop the harness from doing the same work twice.
constexpr size_t kMaxNodes = 200000;
constexpr int kFilesRead = 32;
constexpr unsigned int kReadSize = 4096;
// Deep passes look at the blocks of this size that hold data.
constexpr long long kDeepBlockSectors = 64;
constexpr int kMaxPartitionEntries = 64;

FuzzRunStats g_stats;

void RegisterOnce()
{
    static const bool registered = [] {
        RegisterAllEngineModules();
        return true;
    }();
    (void)registered;
}

// Every entry point starts with this.
void BeginRun()
{
    g_stats = {};
    RegisterOnce();
}

// Keeps every node a searcher hands over (up to kMaxNodes), as the real tree
// builder would, and asks each for what a listing shows.
class CFuzzTreeBuilder : public IDirecotryTreeBuilder {
public:
    ~CFuzzTreeBuilder() override
    {
        for (IFileNode* node : m_vecNodes)
            node->Release();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType) override
    {
        if (!node || m_vecNodes.size() >= kMaxNodes)
            return 0;
        // What the listing asks of every node.
        const char* name = node->GetFileName();
        m_uSeen += name ? std::strlen(name) : 0;
        m_uSeen += static_cast<size_t>(node->GetFileSize()) + node->GetAttribute() + node->GetModificationTime();
        m_vecNodes.push_back(node);
        ++g_stats.uNodes;
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType, long long) override { return 1; }
    int FlashBuild(_tagSearcherType) override { return 1; }
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    const std::vector<IFileNode*>& Nodes() const { return m_vecNodes; }

private:
    std::vector<IFileNode*> m_vecNodes;
    size_t m_uSeen = 0;
};

class CFuzzProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

// Reads the first and the last bytes of the first files found, through the
// readers a recovery would use.
void ReadFoundFiles(IDataRecovery* recovery, const std::vector<IFileNode*>& nodes)
{
    if (!recovery)
        return;
    std::vector<char> buffer(kReadSize);
    int read = 0;
    for (IFileNode* node : nodes) {
        if (read >= kFilesRead)
            break;
        if (node->IsDirectory())
            continue;
        ++read;
        IFileReader* reader = recovery->SetRecoverNode(node);
        if (!reader)
            continue;
        ++g_stats.uFilesRead;
        const long long size = reader->GetDataSize();
        int got = 0;
        reader->ReadData(0, buffer.data(), kReadSize, &got);
        if (size > static_cast<long long>(kReadSize))
            reader->ReadData(size - kReadSize, buffer.data(), kReadSize, &got);
        reader->Release();
    }
    recovery->Release();
}

void AttachDiskRecord(CFuzzDisk& disk)
{
    auto* info = new CCollectDiskDeviceInfoStruct;
    info->s64SectorSize = disk.GetSectorSize();
    info->s64TotalSectors = disk.GetTotalSectors();
    disk.SetPrivateData(CreateDiskDeviceData(info));
}

// Every recogniser on the volume at start; what a device list shows of it.
void Recognise(IStorageDevice* disk, long long start)
{
    std::unique_ptr<IVolumeAnalyzeController> controller(
        CreateVolumeAnalyzeController(disk, static_cast<unsigned long long>(start)));
    if (!controller)
        return;
    if (IVolumeAnalyze* volume = controller->GetVolumeAnzlyzer()) {
        char label[256] = {};
        volume->GetFileSystemType();
        volume->GetTotalSector();
        volume->GetLabel(label, sizeof(label));
    }
}

void QuickSearch(IStorageDevice* volume, enumFILE_SYSTEM_TYPE fs, _tagSearcherType type)
{
    const QuickSearcherFactory factory = GetQuickSearcherFactory(fs);
    if (!factory)
        return;
    std::unique_ptr<IQuickFileSystemSearchController> searcher(factory());
    if (!searcher)
        return;
    CFuzzTreeBuilder builder;
    CFuzzProgress progress;
    searcher->SetDirecotryTreeBuilder(&builder);
    searcher->QuickSearchFiles(volume, &progress);
    ReadFoundFiles(CreateDataRecoveryFor(searcher.get(), nullptr, type, volume), builder.Nodes());
}

// The deep search of one searcher type over the blocks of the disk that hold
// data (the others are zeros, which no searcher finds anything in).
void DeepSearch(CFuzzDisk& disk, _tagSearcherType type, const std::vector<long long>& blocks)
{
    for (const CompleteSearcherEntry& entry : GetCompleteSearcherFactories()) {
        if (entry.type != type)
            continue;
        std::unique_ptr<ICompleteFileSystemSearchController> searcher(entry.factory());
        if (!searcher)
            continue;
        CFuzzTreeBuilder builder;
        CFuzzProgress progress;
        TBitmap bitmap;
        std::map<long long, unsigned int> fileSectors;
        searcher->SetIProgressSink(&progress);
        searcher->SetFileSectorMap(&fileSectors);
        searcher->SetDevice(&disk);
        searcher->SetBlockSize(static_cast<int>(kDeepBlockSectors));
        searcher->SetDirecotryTreeBuilder(&builder);
        searcher->SetBitmap(&bitmap);
        searcher->PreparetoSearch();
        const long long total = disk.GetTotalSectors();
        for (long long first : blocks)
            searcher->AnalyzeBlock(first, std::min(kDeepBlockSectors, total - first));
        searcher->EndSearch(1);
        ReadFoundFiles(CreateDataRecoveryFor(searcher.get(), nullptr, type, &disk), builder.Nodes());
    }
}

int FuzzFileSystem(const uint8_t* data, size_t size, enumFILE_SYSTEM_TYPE fs, _tagSearcherType type)
{
    BeginRun();
    CFuzzDisk disk = CFuzzDisk::FromSparse(data, size);
    const long long total = disk.GetTotalSectors();
    if (total <= 0)
        return 0;
    AttachDiskRecord(disk);
    Recognise(&disk, 0);
    {
        std::unique_ptr<IStorageDevice> volume(CreatePartitionDevice(&disk, 0, total));
        if (volume)
            QuickSearch(volume.get(), fs, type);
    }
    DeepSearch(disk, type, disk.BlocksWithData(kDeepBlockSectors));
    return 0;
}

// A file descriptor of an anonymous in-memory file holding bytes; -1 when
// none can be made.
int MemoryFile(const std::vector<uint8_t>& bytes)
{
    const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return fd;
}

}  // namespace

int FuzzFat(const uint8_t* data, size_t size) { return FuzzFileSystem(data, size, FS_FAT32, SEARCHER_FAT); }
int FuzzExFat(const uint8_t* data, size_t size) { return FuzzFileSystem(data, size, FS_EXFAT, SEARCHER_EXFAT); }
int FuzzNtfs(const uint8_t* data, size_t size) { return FuzzFileSystem(data, size, FS_NTFS, SEARCHER_NTFS); }
int FuzzHfsPlus(const uint8_t* data, size_t size) { return FuzzFileSystem(data, size, FS_HFSPLUS, SEARCHER_HFSPLUS); }
int FuzzApfs(const uint8_t* data, size_t size) { return FuzzFileSystem(data, size, FS_APFS, SEARCHER_APFS); }

int FuzzPartitionTable(const uint8_t* data, size_t size)
{
    BeginRun();
    CFuzzDisk disk = CFuzzDisk::FromSparse(data, size);
    if (disk.GetTotalSectors() <= 0)
        return 0;
    AttachDiskRecord(disk);
    enumDiskPartitionScheme scheme;
    GetDiskType(&disk, scheme);
    FillDiskPartitionScheme(&disk);
    std::unique_ptr<IPartitionTableAnalyze> analyze(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> entries;
    if (!analyze || IsResultFailure(analyze->AnalyzePartitionTable(&disk, entries)))
        return 0;
    int shown = 0;
    for (const PartitionEntry& entry : entries) {
        if (++shown > kMaxPartitionEntries)
            break;
        FormatPartitionGuid(entry.typeGuid);
        if (entry.s64StartSector < 0 || entry.s64SectorCount <= 0)
            continue;
        Recognise(&disk, entry.s64StartSector);
        std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(&disk, entry.s64StartSector, entry.s64SectorCount));
        if (window)
            Recognise(window.get(), 0);
    }
    return 0;
}

int FuzzRaw(const uint8_t* data, size_t size)
{
    BeginRun();
    CFuzzDisk disk = CFuzzDisk::FromFlat(data, size);
    if (disk.GetTotalSectors() <= 0)
        return 0;
    AttachDiskRecord(disk);
    DeepSearch(disk, SEARCHER_RAW, disk.BlocksWithData(kDeepBlockSectors));
    return 0;
}

int FuzzExif(const uint8_t* data, size_t size)
{
    BeginRun();
    // The reader takes a writable block of a 32-bit length.
    std::vector<unsigned char> block(data, data + std::min<size_t>(size, 1u << 20));
    tag_ExifInfo info;
    std::memset(&info, 0, sizeof(info));
    SetExitInfo(&info);
    if (EXIF_process_EXIF(block.data(), 0, block.data(), static_cast<unsigned int>(block.size()))) {
        tag_ExifInfo copy;
        GetExifInfo(&copy);
        CameraTextOrEmpty(copy.szCameraMake);
        CameraTextOrEmpty(copy.szCameraModel);
    }
    return 0;
}

int FuzzScanResult(const uint8_t* data, size_t size)
{
    BeginRun();
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= kRSFileHeaderSize) {
        // The checksum word sits at byte 20 and is taken as zero.
        std::memset(bytes.data() + 20, 0, 4);
        const unsigned short crc = CCRC::RunCRC16(bytes.data(), kRSFileHeaderSize, kRSCrcPolynomial);
        bytes[20] = static_cast<uint8_t>(crc);
        bytes[21] = static_cast<uint8_t>(crc >> 8);
    }
    const int fd = MemoryFile(bytes);
    if (fd < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    {
        CRSData stream(RS_MODE_READ);
        if (stream.StartRS(path.c_str(), 0)) {
            SavedScanKind kind;
            SavedDeviceRecord saved;
            if (SaveRestoreResult::ReadResultHead(&stream, kind, saved, nullptr) == SCAN_RESULT_OK) {
                // A whole disk: every saved tree is replayed onto it.
                CFuzzDisk disk(1 << 16, {});
                AttachDiskRecord(disk);
                CFuzzTreeBuilder builder;
                CFuzzProgress progress;
                RestoreScanSink restore(&stream);
                restore.SetDirecotryTreeBuilder(&builder, &progress, &disk);
                for (_tagSearcherType type : {SEARCHER_FAT, SEARCHER_EXFAT, SEARCHER_NTFS, SEARCHER_HFSPLUS,
                                              SEARCHER_APFS, SEARCHER_RAW}) {
                    std::vector<IFileNode*> ofType;
                    for (IFileNode* node : builder.Nodes())
                        if (node->GetSearcheType() == type)
                            ofType.push_back(node);
                    if (!ofType.empty())
                        ReadFoundFiles(CreateDataRecoveryFor(nullptr, &restore, type, &disk), ofType);
                }
                restore.DetachStream();
            }
            stream.EndRS();
        }
    }
    ::close(fd);
    SaveRestoreResult::ClearHFSPlusVolumes();
    return 0;
}

FuzzRunStats FuzzLastRunStats()
{
    return g_stats;
}

const std::vector<FuzzTarget>& FuzzTargets()
{
    static const std::vector<FuzzTarget> targets = {
        {"fat", FuzzFat},
        {"exfat", FuzzExFat},
        {"ntfs", FuzzNtfs},
        {"hfsplus", FuzzHfsPlus},
        {"apfs", FuzzApfs},
        {"partition", FuzzPartitionTable},
        {"raw", FuzzRaw},
        {"exif", FuzzExif},
        {"scanresult", FuzzScanResult},
    };
    return targets;
}

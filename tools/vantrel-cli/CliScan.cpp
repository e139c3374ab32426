// vantrel-cli scan: runs the quick or deep scan controller over an image or
// a block device, or over one volume of it.
#include <pthread.h>

#include <cstdio>
#include <ctime>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliFilter.h"
#include "CliRecover.h"
#include "DeviceInfo.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "ISearcher.h"
#include "ITreeBuilder.h"
#include "PartitionTableAnalyze.h"
#include "RecoveryController.h"
#include "StorageDevice.h"
#include "TextUtil.h"

namespace {

// Deeper chains than this are cut when a path is printed; the tree builder
// never makes them, but a path walk must end whatever it is given.
constexpr int kMaxPathDepth = 1 << 20;
constexpr size_t kScanStackBytes = 8u << 20;

class CCliProgress final : public IProgress {
public:
    CCliProgress(bool print, bool build) : m_bPrint(print), m_bBuild(build) {}
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (m_bPrint)
            std::fprintf(stderr, "progress %u %llu %llu 0x%llx\n", info->dwState,
                         static_cast<unsigned long long>(info->u64Total),
                         static_cast<unsigned long long>(info->u64Done),
                         static_cast<unsigned long long>(info->u64Result));
    }
    int Continued() override { return 1; }
    // The result trees are only built when something reads them.
    int shouldBuild() override { return m_bBuild ? 1 : 0; }

private:
    bool m_bPrint;
    bool m_bBuild;
};

// "2024-05-01T12:00:00Z" for a file time, empty for 0.
std::string IsoTime(unsigned long long fileTime)
{
    if (fileTime == 0)
        return "";
    const long long seconds = static_cast<long long>(fileTime / 10000000ULL) - 11644473600LL;
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (!gmtime_r(&t, &tm))
        return "";
    char text[64];
    if (std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
        return "";
    return text;
}

// A name as one printable field: control characters would break the line.
std::string Field(const char* name)
{
    std::string out = name ? name : "";
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

class CCliNodeSink final : public IDrirectoryTree {
public:
    CCliNodeSink(bool list, bool keep) : m_bList(list), m_bKeep(keep) {}

    void ShowNodes(IFileNode** nodes, unsigned int count, int) override
    {
        if (m_bKeep && nodes)
            m_delivered.insert(m_delivered.end(), nodes, nodes + count);
        if (!m_bList || !nodes)
            return;
        for (unsigned int i = 0; i < count; ++i)
            if (nodes[i])
                PrintNode(nodes[i]);
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    // Every node delivered, in order, when asked to keep them (--recover).
    const std::vector<IFileNode*>& Delivered() const { return m_delivered; }

private:
    // tree path size deleted is_dir created modified; the path holds the
    // names below the tree root.
    static void PrintNode(IFileNode* node)
    {
        std::vector<std::string> names;
        IFileNode* top = node;
        for (int depth = 0; top->GetParent() && depth < kMaxPathDepth; ++depth) {
            names.push_back(Field(top->GetFileName()));
            top = top->GetParent();
        }
        if (names.empty())
            names.push_back(Field(node->GetFileName()));
        std::string path;
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            path += "/" + *it;
        std::fprintf(CliOut(), "%d\t%s\t%lld\t%d\t%d\t%s\t%s\n", static_cast<int>(top->GetSearcheType()),
                     path.c_str(),
                     node->GetFileSize(), node->IsDeleted() ? 1 : 0, node->IsDirectory() ? 1 : 0,
                     IsoTime(node->GetCreationTime()).c_str(), IsoTime(node->GetModificationTime()).c_str());
    }

    bool m_bList;
    bool m_bKeep;
    std::vector<IFileNode*> m_delivered;
};

struct ScanJob {
    IRecoveryController* controller;
    IStorageDevice* device;
    IProgress* progress;
    IDrirectoryTree* sink;
    ResultCode result = 0;
};

void* RunScan(void* arg)
{
    auto* job = static_cast<ScanJob*>(arg);
    job->result = job->controller->StartDataRecovery(job->device, job->progress, job->sink);
    return nullptr;
}

// Runs the scan on a thread with the stack the scan threads get.
bool RunOnScanThread(ScanJob& job)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_t thread;
    bool ok = pthread_attr_setstacksize(&attr, kScanStackBytes) == 0 &&
              pthread_create(&thread, &attr, RunScan, &job) == 0;
    pthread_attr_destroy(&attr);
    if (ok)
        pthread_join(thread, nullptr);
    return ok;
}

struct ReleaseController {
    void operator()(IRecoveryController* c) const { c->Release(); }
};
struct ReleaseFilter {
    void operator()(IRecoveryFilter* f) const { f->Release(); }
};

// The devices of one scan: the disk, and for a chosen volume the window on it
// and the volume shown over it.
struct ScanDevices {
    std::unique_ptr<IStorageDevice> disk;
    std::unique_ptr<IStorageDevice> window;
    std::unique_ptr<IStorageDevice> volume;

    IStorageDevice* Scanned() const { return volume ? volume.get() : disk.get(); }
    bool Mounted() const
    {
        auto* holder = volume ? dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData()) : nullptr;
        auto* record = holder ? holder->GetVolumeInfo() : nullptr;
        return record && record->iMounted != 0;
    }
};

// Finds the volume's start and size: partition-table entry N, or SECTOR to
// the end of the disk.
int LocateVolume(const CliOptions& options, IStorageDevice* disk, long long& start, long long& count, int& index)
{
    const long long total = disk->GetTotalSectors();
    if (options.offset) {
        start = *options.offset;
        if (start >= total)
            return CliFail(CLI_ENGINE_ERROR, "--offset " + std::to_string(start) + " is not before the end (" +
                                                 std::to_string(total) + " sectors)");
        count = total - start;
        index = -1;
        return CLI_OK;
    }
    std::unique_ptr<IPartitionTableAnalyze> analyze(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> entries;
    const ResultCode rc = analyze ? analyze->AnalyzePartitionTable(disk, entries) : 0;
    if (IsResultFailure(rc))
        return CliFail(CLI_ENGINE_ERROR, "partition table: " + FormatResultCode(rc));
    for (const PartitionEntry& entry : entries) {
        if (entry.iIndex == *options.volume && entry.s64SectorCount > 0) {
            start = entry.s64StartSector;
            count = entry.s64SectorCount;
            index = entry.iIndex;
            return CLI_OK;
        }
    }
    return CliFail(CLI_ENGINE_ERROR, "no partition-table entry " + std::to_string(*options.volume));
}

// A window over the disk and the volume shown over it, with a volume record
// whose file system and label come from the recognisers.
int OpenVolume(const CliOptions& options, ScanDevices& devices)
{
    IStorageDevice* disk = devices.disk.get();
    long long start = 0, count = 0;
    int index = -1;
    if (int rc = LocateVolume(options, disk, start, count, index))
        return rc;

    auto* partition = new CCollectedPartitionDeviceInfoStruct;
    partition->s64SectorSize = disk->GetSectorSize();
    partition->s64TotalSectors = count;
    partition->s64StartSector = start;
    partition->pParentDisk = disk;
    partition->iPartitionIndex = index;
    devices.window.reset(CreatePartitionDevice(disk, start, count));
    if (!devices.window) {
        delete partition;
        return CliFail(CLI_ENGINE_ERROR, "cannot make a window on the disk");
    }
    devices.window->SetPrivateData(CreatePartitionDeviceData(partition));
    if (!devices.window->Open(nullptr))
        return CliFail(CLI_ENGINE_ERROR, "cannot open the volume: " +
                                             FormatResultCode(devices.window->GetLastError()));

    auto* record = new CCollectedVolumeDeviceInfoStruct;
    {
        std::unique_ptr<IVolumeAnalyzeController> analyze(CreateVolumeAnalyzeController(devices.window.get(), 0));
        IVolumeAnalyze* recogniser = analyze ? analyze->GetVolumeAnzlyzer() : nullptr;
        if (recogniser) {
            record->eFileSystemType = recogniser->GetFileSystemType();
            char label[sizeof(record->szLabel)] = {};
            recogniser->GetLabel(label, sizeof(label) - 1);
            CopyTextField(record->szLabel, label);
            CopyTextField(record->szVolumeName, label);
        }
    }
    record->s64SectorSize = disk->GetSectorSize();
    record->s64TotalSectors = count;
    record->s64StartSector = start;
    record->pParentDisk = disk;
    record->iPartitionNumber = index;
    record->iMounted = 0;  // images and unlisted devices are never mounted here

    devices.volume.reset(CreatePartitionVirtualVolumeDevice(devices.window.get()));
    if (!devices.volume) {
        delete record;
        return CliFail(CLI_ENGINE_ERROR, "cannot show the partition as a volume");
    }
    devices.volume->SetPrivateData(CreateVolumeDeviceData(record));
    if (!devices.volume->Open(nullptr))
        return CliFail(CLI_ENGINE_ERROR, "cannot open the volume: " +
                                             FormatResultCode(devices.volume->GetLastError()));
    return CLI_OK;
}

_RECOVERY_CONTROLLER_TYPE ControllerKind(CliScanMode mode)
{
    switch (mode) {
    case CliScanMode::Quick:
        return RECOVERY_CONTROLLER_QUICK;
    case CliScanMode::DeepDisk:
        return RECOVERY_CONTROLLER_DEEP_DISK;
    default:
        return RECOVERY_CONTROLLER_DEEP;
    }
}

}  // namespace

int CliScan(const CliOptions& options)
{
    if (!options.saveFile.empty())
        return CliNotAvailable("scan --save");

    ScanDevices devices;
    devices.disk.reset(CreateImageDiskDevice(options.positional[0].c_str(), options.sectorSize));
    if (!devices.disk)
        return CliFail(CLI_ENGINE_ERROR, "cannot open " + options.positional[0]);
    if (options.volume || options.offset) {
        if (int rc = OpenVolume(options, devices))
            return rc;
    }

    std::unique_ptr<IRecoveryFilter, ReleaseFilter> filter(CliPrepareFilter(options));
    std::unique_ptr<IRecoveryController, ReleaseController> controller(
        CreateRecoveryController(ControllerKind(options.mode)));
    if (!filter || !controller)
        return CliFail(CLI_ENGINE_ERROR, "cannot create the scan");
    // As the application does: deep scans show everything; a quick scan of
    // a mounted volume only what was deleted.
    filter->SetFilterTypes(options.types);
    if (options.mode == CliScanMode::Quick)
        filter->SetScanType(devices.Mounted() ? SCAN_TYPE_QUICK_MOUNTED : SCAN_TYPE_QUICK_UNMOUNTED);
    else
        filter->SetScanType(SCAN_TYPE_DEEP);
    controller->Initialize(filter.get());

    CCliProgress progress(options.progress, options.list || !options.recoverDir.empty());
    CCliNodeSink sink(options.list, !options.recoverDir.empty());
    ScanJob job{controller.get(), devices.Scanned(), &progress, &sink};
    if (!RunOnScanThread(job))
        return CliFail(CLI_ENGINE_ERROR, "cannot start the scan thread");
    std::fflush(CliOut());
    int status = CLI_OK;
    if (!IsResultFailure(job.result) && !options.recoverDir.empty())
        status = CliRecoverFound(options, controller.get(), sink.Delivered());
    // The controller (and its tree builder) goes before the filter it uses.
    controller.reset();
    if (job.result == kResultQuickUnsupported)
        return CliFail(CLI_ENGINE_ERROR, "scan failed: file system unsupported by the quick scan (" +
                                             FormatResultCode(job.result) + ")");
    if (IsResultFailure(job.result))
        return CliFail(CLI_ENGINE_ERROR, "scan failed: " + FormatResultCode(job.result));
    return status;
}

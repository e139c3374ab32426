#include "CliScanCommon.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CliFilter.h"
#include "CliRecover.h"
#include "DeviceInfo.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "IRestoreSource.h"
#include "ISearcher.h"
#include "ITreeBuilder.h"
#include "PartitionTableAnalyze.h"
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
            m_delivered.nodes.insert(m_delivered.nodes.end(), nodes, nodes + count);
        if (!m_bList || !nodes)
            return;
        for (unsigned int i = 0; i < count; ++i)
            if (nodes[i])
                PrintNode(nodes[i]);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override
    {
        if (root)
            m_delivered.roots.push_back(root);
    }
    // Every node delivered, in order, when asked to keep them; every root.
    const CliDelivered& Delivered() const { return m_delivered; }

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
    CliDelivered m_delivered;
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


CCollectedVolumeDeviceInfoStruct* VolumeRecord(IStorageDevice* volume)
{
    auto* holder = volume ? dynamic_cast<IVolumeDeviceData*>(volume->GetPrivateData()) : nullptr;
    return holder ? holder->GetVolumeInfo() : nullptr;
}

}  // namespace

bool ScanDevices::Mounted() const
{
    const CCollectedVolumeDeviceInfoStruct* record = VolumeRecord(volume.get());
    return record && record->iMounted != 0;
}

int ScanDevices::FileSystem() const
{
    const CCollectedVolumeDeviceInfoStruct* record = VolumeRecord(volume.get());
    return record ? static_cast<int>(record->eFileSystemType) : -1;
}

std::string ScanDevices::VolumeName() const
{
    const CCollectedVolumeDeviceInfoStruct* record = VolumeRecord(volume.get());
    return record ? std::string(record->szVolumeName, strnlen(record->szVolumeName, sizeof(record->szVolumeName)))
                  : std::string();
}

int CliListEntries(IStorageDevice* disk, std::vector<CliVolumeSpan>& spans)
{
    std::unique_ptr<IPartitionTableAnalyze> analyze(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> entries;
    const ResultCode rc = analyze ? analyze->AnalyzePartitionTable(disk, entries) : 0;
    if (IsResultFailure(rc))
        return CliFail(CLI_ENGINE_ERROR, "partition table: " + FormatResultCode(rc));
    for (const PartitionEntry& entry : entries)
        if (entry.s64SectorCount > 0)
            spans.push_back({entry.s64StartSector, entry.s64SectorCount, entry.iIndex});
    return CLI_OK;
}

bool CliOpenDisk(const CliOptions& options, ScanDevices& devices)
{
    devices.disk.reset(CreateImageDiskDevice(options.positional.back().c_str(), options.sectorSize));
    if (!devices.disk) {
        CliFail(CLI_ENGINE_ERROR, "cannot open " + options.positional.back());
        return false;
    }
    return true;
}

int CliOpenVolumeAt(ScanDevices& devices, long long start, long long count, int index)
{
    IStorageDevice* disk = devices.disk.get();
    devices.iEntryIndex = index;
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


int CliRunController(const CliOptions& options, _RECOVERY_CONTROLLER_TYPE kind, const ScanDevices& devices,
                     IRestoreSource* restore, bool build, const CliAfterScan& after, ResultCode& result)
{
    result = 0;
    std::unique_ptr<IRecoveryFilter, ReleaseFilter> filter(CliPrepareFilter(options));
    std::unique_ptr<IRecoveryController, ReleaseController> controller(CreateRecoveryController(kind));
    if (!filter || !controller)
        return CliFail(CLI_ENGINE_ERROR, "cannot create the scan");
    // As the application does: deep scans show everything; a quick scan of
    // a mounted volume only what was deleted.
    filter->SetFilterTypes(options.types);
    if (kind == RECOVERY_CONTROLLER_QUICK)
        filter->SetScanType(devices.Mounted() ? SCAN_TYPE_QUICK_MOUNTED : SCAN_TYPE_QUICK_UNMOUNTED);
    else
        filter->SetScanType(SCAN_TYPE_DEEP);
    controller->Initialize(filter.get());
    if (restore)
        controller->SetRestoreSource(restore);

    CCliProgress progress(options.progress, build || options.list || !options.recoverDir.empty());
    CCliNodeSink sink(options.list, !options.recoverDir.empty());
    ScanJob job{controller.get(), devices.Scanned(), &progress, &sink};
    if (!RunOnScanThread(job))
        return CliFail(CLI_ENGINE_ERROR, "cannot start the scan thread");
    std::fflush(CliOut());
    result = job.result;
    int status = CLI_OK;
    if (!IsResultFailure(job.result) && after)
        status = after(controller.get(), sink.Delivered());
    if (!IsResultFailure(job.result) && !options.recoverDir.empty()) {
        const int copied = CliRecoverFound(options, controller.get(), sink.Delivered().nodes);
        if (status == CLI_OK)
            status = copied;
    }
    // The controller (and its tree builder) goes before the filter it uses.
    controller.reset();
    return status;
}

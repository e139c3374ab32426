#include "CliScanCommon.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "CliFilter.h"
#include "CliMessages.h"
#include "CliProgress.h"
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
#include "StorageDeviceCodes.h"
#include "TextUtil.h"

namespace {

// Deeper chains than this are cut when a path is printed; the tree builder
// never makes them, but a path walk must end whatever it is given.
constexpr int kMaxPathDepth = 1 << 20;
constexpr size_t kScanStackBytes = 8u << 20;

// The scan's progress reports, handed to the display with the count of
// files found so far.
class CCliProgress final : public IProgress {
public:
    CCliProgress(CliProgressDisplay* display, bool engine, bool build, const std::atomic<unsigned long long>& files)
        : m_pDisplay(display), m_bEngine(engine), m_bBuild(build), m_files(files)
    {
    }
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (info && m_bEngine)
            std::fprintf(stderr, "progress %u %llu %llu 0x%llx\n", info->dwState,
                         static_cast<unsigned long long>(info->u64Total),
                         static_cast<unsigned long long>(info->u64Done),
                         static_cast<unsigned long long>(info->u64Result));
        if (!m_pDisplay || !info)
            return;
        if (info->dwState == PROGRESS_STATE_FINISHED || (info->u64Total > 0 && info->u64Done >= info->u64Total))
            m_pDisplay->SetStep("rebuilding trees");
        m_pDisplay->Report(info->u64Done, info->u64Total, m_files.load());
    }
    int Continued() override { return 1; }
    // The result trees are only built when something reads them.
    int shouldBuild() override { return m_bBuild ? 1 : 0; }

private:
    CliProgressDisplay* m_pDisplay;
    bool m_bEngine;
    bool m_bBuild;
    const std::atomic<unsigned long long>& m_files;
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
        if (!nodes)
            return;
        for (unsigned int i = 0; i < count; ++i) {
            IFileNode* node = nodes[i];
            if (!node)
                continue;
            if (m_bKeep)
                m_delivered.nodes.push_back(node);
            std::vector<std::string> names;
            IFileNode* top = TopOf(node, m_bList ? &names : nullptr);
            if (m_seen.insert(node).second) {
                CliTreeCounts& counts = m_delivered.counts[top];
                if (node->IsDirectory()) {
                    ++counts.folders;
                } else {
                    ++counts.files;
                    ++m_files;
                }
                if (node->IsDeleted())
                    ++counts.deleted;
            }
            if (m_bList)
                PrintNode(node, top, names);
        }
    }
    void ShowFilesystemNode(IFilesystemNode* root) override
    {
        if (root)
            m_delivered.roots.push_back(root);
    }
    // Every node delivered, in order, when asked to keep them; every root,
    // and what each tree holds.
    const CliDelivered& Delivered() const { return m_delivered; }
    const std::atomic<unsigned long long>& Files() const { return m_files; }

private:
    // The tree root above node; with names, the names below it, from node up.
    static IFileNode* TopOf(IFileNode* node, std::vector<std::string>* names)
    {
        IFileNode* top = node;
        for (int depth = 0; top->GetParent() && depth < kMaxPathDepth; ++depth) {
            if (names)
                names->push_back(Field(top->GetFileName()));
            top = top->GetParent();
        }
        return top;
    }

    // tree path size deleted is_dir created modified; the path holds the
    // names below the tree root.
    static void PrintNode(IFileNode* node, IFileNode* top, std::vector<std::string>& names)
    {
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
    std::unordered_set<IFileNode*> m_seen;
    std::atomic<unsigned long long> m_files{0};
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

const char* CliTreeKind(int searcherType)
{
    switch (searcherType) {
    case SEARCHER_HFSPLUS:
        return "HFS+";
    case SEARCHER_FAT:
        return "FAT";
    case SEARCHER_EXFAT:
        return "exFAT";
    case SEARCHER_NTFS:
        return "NTFS";
    case SEARCHER_APFS:
        return "APFS";
    case SEARCHER_RAW:
    case SEARCHER_LABEL_RAW:
        return "carved files";
    default:
        return "tree";
    }
}

namespace {

std::string Plural(unsigned long long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Holds(const CliTreeCounts& counts)
{
    return Plural(counts.files, "file", "files") + ", " + Plural(counts.folders, "folder", "folders") + ", " +
           std::to_string(counts.deleted) + " deleted";
}

}  // namespace

void CliPrintScanSummary(const CliRunView& run, const ScanDevices& devices, const CliDelivered& delivered)
{
    std::string where = run.object;
    if (devices.volume) {
        const unsigned long long bytes =
            static_cast<unsigned long long>(devices.llCount) * devices.disk->GetSectorSize();
        where += " (sector " + std::to_string(devices.llStart) + ", " + CliSize(bytes) + ")";
    }
    if (delivered.roots.empty()) {
        if (devices.volume && devices.FileSystem() != FS_UNKNOWN)
            CliNote("found no file or folder on " + where);
        else
            CliNote("found nothing on " + where + ": no file system recognised and no file carved");
        return;
    }
    unsigned long long files = 0, folders = 0, deleted = 0;
    for (IFilesystemNode* root : delivered.roots) {
        const auto it = delivered.counts.find(root);
        const CliTreeCounts counts = it == delivered.counts.end() ? CliTreeCounts{} : it->second;
        files += counts.files;
        folders += counts.folders;
        deleted += counts.deleted;
        // The tree builder names a tree after the scanned volume's label,
        // "Disk" when it has none.
        const std::string name = Field(root->GetVolumeName());
        const std::string named = name.empty() || name == "Disk" ? std::string() : " \"" + name + "\"";
        CliNote(std::string("found ") + CliTreeKind(static_cast<int>(root->GetSearcheType())) + named + " on " +
                where + ": " + Holds(counts));
    }
    if (delivered.roots.size() > 1)
        CliNote(Plural(delivered.roots.size(), "tree", "trees") + " on " + where + ": " +
                Holds({files, folders, deleted}));
}

int CliListEntries(IStorageDevice* disk, std::vector<CliVolumeSpan>& spans, const std::string& source)
{
    std::unique_ptr<IPartitionTableAnalyze> analyze(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> entries;
    const ResultCode rc = analyze ? analyze->AnalyzePartitionTable(disk, entries) : 0;
    if (IsResultFailure(rc))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(rc, source));
    for (const PartitionEntry& entry : entries)
        if (entry.s64SectorCount > 0)
            spans.push_back({entry.s64StartSector, entry.s64SectorCount, entry.iIndex});
    return CLI_OK;
}

std::unique_ptr<IStorageDevice> CliOpenSource(const std::string& source, unsigned int sectorSize)
{
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        CliFail(CLI_ENGINE_ERROR, source + ": cannot be opened: " + std::strerror(errno));
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        CliFail(CLI_ENGINE_ERROR, source + ": is a folder; give a disk image file or a block device such as /dev/sdb");
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        CliFail(CLI_ENGINE_ERROR, source + ": is neither a disk image file nor a block device");
        return nullptr;
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
        CliFail(CLI_ENGINE_ERROR, source + ": is empty (0 bytes); there is nothing to scan");
        return nullptr;
    }
    const int probe = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (probe < 0) {
        const int error = errno;
        CliFail(CLI_ENGINE_ERROR, source + ": cannot be opened: " + std::strerror(error) +
                                      (error == EACCES || error == EPERM ? "; a device needs root (sudo)" : ""));
        return nullptr;
    }
    ::close(probe);
    std::unique_ptr<IStorageDevice> disk(CreateImageDiskDevice(source.c_str(), sectorSize));
    if (!disk) {
        const unsigned int size = sectorSize ? sectorSize : 512;
        if (S_ISREG(st.st_mode) && st.st_size < static_cast<off_t>(size))
            CliFail(CLI_ENGINE_ERROR, source + ": is smaller than one sector (" + std::to_string(size) + " bytes)");
        else
            CliFail(CLI_ENGINE_ERROR, CliDescribeResult(kDiskOpenFailed, source));
    }
    return disk;
}

bool CliOpenDisk(const CliOptions& options, ScanDevices& devices)
{
    devices.disk = CliOpenSource(options.positional.back(), options.sectorSize);
    return devices.disk != nullptr;
}

int CliOpenVolumeAt(ScanDevices& devices, long long start, long long count, int index)
{
    IStorageDevice* disk = devices.disk.get();
    devices.iEntryIndex = index;
    devices.llStart = start;
    devices.llCount = count;
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
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(devices.window->GetLastError(), "the volume at sector " +
                                                                                              std::to_string(start)));

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
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(devices.volume->GetLastError(), "the volume at sector " +
                                                                                              std::to_string(start)));
    return CLI_OK;
}


int CliRunController(const CliOptions& options, _RECOVERY_CONTROLLER_TYPE kind, const ScanDevices& devices,
                     IRestoreSource* restore, bool build, const CliAfterScan& after, ResultCode& result,
                     const CliRunView& run)
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

    CCliNodeSink sink(options.list, !options.recoverDir.empty());
    // The summary counts what the trees hold: they are built unless nobody
    // looks.
    const bool wanted = build || options.list || !options.recoverDir.empty() || !options.quiet;
    CCliProgress progress(run.display, options.progressEngine, wanted, sink.Files());
    ScanJob job{controller.get(), devices.Scanned(), &progress, &sink};
    if (!RunOnScanThread(job))
        return CliFail(CLI_ENGINE_ERROR, "cannot start the scan thread");
    std::fflush(CliOut());
    result = job.result;
    if (IsResultFailure(job.result))
        return CLI_ENGINE_ERROR;
    if (run.display && run.endDisplay)
        run.display->End(sink.Files().load());
    if (!options.quiet)
        CliPrintScanSummary(run, devices, sink.Delivered());
    int status = CLI_OK;
    if (after)
        status = after(controller.get(), sink.Delivered());
    if (!options.recoverDir.empty()) {
        const int copied = CliRecoverFound(options, controller.get(), sink.Delivered().nodes);
        if (status == CLI_OK)
            status = copied;
    }
    // The controller (and its tree builder) goes before the filter it uses.
    controller.reset();
    return status;
}

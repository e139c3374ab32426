// vantrel-cli scan: runs the quick or deep scan controller over an image or
// a block device, or over one volume of it, and saves the result on request.
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliMessages.h"
#include "CliProgress.h"
#include "CliRecover.h"
#include "CliSafety.h"
#include "CliScanCommon.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "RSData.h"
#include "RecoveryController.h"
#include "ScanResultFile.h"

namespace {

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
    std::vector<CliVolumeSpan> entries;
    if (int rc = CliListEntries(disk, entries, options.positional.back()))
        return rc;
    for (const CliVolumeSpan& entry : entries) {
        if (entry.iIndex == *options.volume) {
            start = entry.llStart;
            count = entry.llCount;
            index = entry.iIndex;
            return CLI_OK;
        }
    }
    const std::string& source = options.positional.back();
    if (entries.empty())
        return CliFail(CLI_ENGINE_ERROR, source + ": there is no partition table, so no volume " +
                                             std::to_string(*options.volume) +
                                             "; scan it without --volume to read it as one volume");
    std::string listed;
    for (const CliVolumeSpan& entry : entries)
        listed += (listed.empty() ? "" : ", ") + std::to_string(entry.iIndex);
    return CliFail(CLI_ENGINE_ERROR, source + ": no partition-table entry " + std::to_string(*options.volume) +
                                         " (its entries: " + listed + ")");
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

struct ReleaseRecovery {
    void operator()(IDataRecovery* r) const
    {
        if (r)
            r->Release();
    }
};

// The scanned device as the loader will look for it: a volume by its
// partition-table entry (-2: at an offset no entry starts at), file system,
// label and size; the whole disk by its size.
SavedDeviceRecord DescribeScanned(const CliOptions& options, const ScanDevices& devices)
{
    SavedDeviceRecord record;
    IStorageDevice* scanned = devices.Scanned();
    record.u64Capacity = static_cast<uint64_t>(scanned->GetTotalSectors()) * scanned->GetSectorSize();
    record.iDiskIndex = 0;
    if (devices.volume) {
        record.iVolumeIndex = devices.iEntryIndex >= 0 ? devices.iEntryIndex : -2;
        record.iFileSystem = devices.FileSystem();
        record.strName = devices.VolumeName();
    } else {
        const std::string& source = options.positional.back();
        record.strName = source.substr(source.find_last_of('/') + 1);
    }
    return record;
}

int SaveResult(const CliOptions& options, const ScanDevices& devices, IRecoveryController* controller,
               const CliDelivered& delivered)
{
    const std::string& path = options.saveFile;
    CRSData stream(RS_MODE_WRITE);
    // An earlier result of that name stays until this one is whole.
    if (!stream.StartRSReplacing(path.c_str()))
        return CliFail(CLI_ENGINE_ERROR, path + ": cannot create the scan result");
    std::vector<std::unique_ptr<IDataRecovery, ReleaseRecovery>> copiers;
    try {
        FILEHEADER header;
        header.eStatus = static_cast<FileStatus>(ScanResultFormat::kFileStatusSaved);
        if (!stream.WriteFileHeader(header))
            throw CRSException(RS_ERROR_WRITE_FAILED);
        SavedScanKind kind;
        kind.dwControllerType = static_cast<uint32_t>(ControllerKind(options.mode));
        kind.dwDeepScan = options.mode == CliScanMode::Quick ? 0 : 1;
        SaveRestoreResult::WriteScanKindFrame(&stream, kind);
        SaveRestoreResult::WriteDeviceFrame(&stream, DescribeScanned(options, devices));
        const std::list<IFileNode*> roots(delivered.roots.begin(), delivered.roots.end());
        auto recoveryOf = [&](IFileNode* root) -> IDataRecovery* {
            // Label RAW files are carved by the RAW searcher and read through it.
            const _tagSearcherType type = root->GetSearcheType();
            copiers.emplace_back(controller->GetDataRecovery(type == SEARCHER_LABEL_RAW ? SEARCHER_RAW : type));
            return copiers.back().get();
        };
        SaveRestoreResult::WriteNodeTreeFrame(&stream, roots, recoveryOf, nullptr);
        stream.CloseFrame();
    } catch (const CRSException& e) {
        stream.EndRS();
        return CliFail(CLI_ENGINE_ERROR,
                       path + ": cannot write the scan result (stream error " + std::to_string(e.GetErrorcode()) + ")");
    }
    if (!stream.CommitRS())
        return CliFail(CLI_ENGINE_ERROR, path + ": cannot write the scan result");
    if (!options.quiet)
        CliNote("saved " + std::to_string(delivered.roots.size()) + (delivered.roots.size() == 1 ? " tree" : " trees") +
                " to " + path);
    return CLI_OK;
}

}  // namespace

namespace {

// The object a summary and a message name.
std::string VolumeWords(const CliOptions& options, int index)
{
    if (index >= 0)
        return "volume " + std::to_string(index) + " of " + options.positional.back();
    return options.positional.back();
}

int ScanFailed(ResultCode result, const std::string& object)
{
    return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(result, object));
}

// One run over the devices as they are set up, with its summary.
int RunScan(const CliOptions& options, ScanDevices& devices, CliRunView& view)
{
    CliAfterScan save;
    if (!options.saveFile.empty())
        save = [&](IRecoveryController* controller, const CliDelivered& delivered) {
            return SaveResult(options, devices, controller, delivered);
        };
    ResultCode result = 0;
    const int status = CliRunController(options, ControllerKind(options.mode), devices, nullptr,
                                        !options.saveFile.empty(), save, result, view);
    if (IsResultFailure(result))
        return ScanFailed(result, view.object);
    return status;
}

// The quick scan of SOURCE without --volume or --offset: a bare volume as it
// is, else every volume of the partition table.
int QuickScanWhole(const CliOptions& options, ScanDevices& devices, CliProgressDisplay& display)
{
    const std::string& source = options.positional.back();
    IStorageDevice* disk = devices.disk.get();
    std::vector<CliVolumeSpan> entries;
    if (int rc = CliListEntries(disk, entries, source))
        return rc;
    CliRunView view{&display, true, source};
    if (entries.empty()) {
        if (int rc = CliOpenVolumeAt(devices, 0, disk->GetTotalSectors(), -1))
            return rc;
        if (devices.FileSystem() == FS_UNKNOWN)
            return CliFail(CLI_ENGINE_ERROR, source + ": no partition table, and no file system the quick scan "
                                                      "reads (FAT, exFAT, NTFS, HFS+, APFS) at its start; try "
                                                      "--deep-disk to search it sector by sector");
        display.Begin("reading", static_cast<unsigned long long>(disk->GetTotalSectors()) * disk->GetSectorSize());
        return RunScan(options, devices, view);
    }
    if (!options.saveFile.empty())
        return CliFail(CLI_ENGINE_ERROR, "--save keeps the result of one volume; " + source + " has " +
                                             std::to_string(entries.size()) +
                                             " partition-table entries: add --volume N (see 'vantrel-cli parts')");

    unsigned long long total = 0;
    for (const CliVolumeSpan& entry : entries)
        total += static_cast<unsigned long long>(entry.llCount) * disk->GetSectorSize();
    display.Begin("reading", total);
    int status = CLI_OK;
    int scanned = 0;
    unsigned long long base = 0;
    for (const CliVolumeSpan& entry : entries) {
        const unsigned long long bytes = static_cast<unsigned long long>(entry.llCount) * disk->GetSectorSize();
        display.SetSpan(base, bytes);
        base += bytes;
        view.object = VolumeWords(options, entry.iIndex);
        devices.volume.reset();
        devices.window.reset();
        if (CliOpenVolumeAt(devices, entry.llStart, entry.llCount, entry.iIndex) != CLI_OK) {
            status = CLI_ENGINE_ERROR;
            continue;
        }
        if (devices.FileSystem() == FS_UNKNOWN) {
            if (!options.quiet)
                CliNote("skipped " + view.object + " (sector " + std::to_string(entry.llStart) +
                        "): no file system the quick scan reads");
            continue;
        }
        view.endDisplay = &entry == &entries.back();
        ++scanned;
        const int rc = RunScan(options, devices, view);
        if (rc != CLI_OK)
            status = rc;
    }
    display.End(0);
    if (scanned == 0)
        return CliFail(CLI_ENGINE_ERROR, source + ": none of its " + std::to_string(entries.size()) +
                                             " volumes holds a file system the quick scan reads; try --deep-disk");
    return status;
}

}  // namespace

int CliScan(const CliOptions& options)
{
    if (int rc = CliGuardWrites(options, options.positional.back()))
        return rc;
    if (!options.recoverDir.empty())
        if (int rc = CliPrepareRecoveryFolder(options.recoverDir))
            return rc;
    ScanDevices devices;
    if (!CliOpenDisk(options, devices))
        return CLI_ENGINE_ERROR;
    CliProgressDisplay display(CliProgressDisplay::StyleFor(options));
    if (options.mode == CliScanMode::Quick && !options.volume && !options.offset)
        return QuickScanWhole(options, devices, display);

    CliRunView view{&display, true, options.positional.back()};
    if (options.volume || options.offset) {
        long long start = 0, count = 0;
        int index = -1;
        if (int rc = LocateVolume(options, devices.disk.get(), start, count, index))
            return rc;
        if (int rc = CliOpenVolumeAt(devices, start, count, index))
            return rc;
        view.object = options.offset ? "the volume at sector " + std::to_string(start) + " of " + options.positional.back()
                                     : VolumeWords(options, index);
    }
    IStorageDevice* scanned = devices.Scanned();
    display.Begin("reading", static_cast<unsigned long long>(scanned->GetTotalSectors()) * scanned->GetSectorSize());
    return RunScan(options, devices, view);
}

// vantrel-cli scan: runs the quick or deep scan controller over an image or
// a block device, or over one volume of it, and saves the result on request.
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliSafety.h"
#include "CliScanCommon.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "RSData.h"
#include "RecoveryController.h"
#include "ZRUIScanResultFile.h"

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
    if (int rc = CliListEntries(disk, entries))
        return rc;
    for (const CliVolumeSpan& entry : entries) {
        if (entry.iIndex == *options.volume) {
            start = entry.llStart;
            count = entry.llCount;
            index = entry.iIndex;
            return CLI_OK;
        }
    }
    return CliFail(CLI_ENGINE_ERROR, "no partition-table entry " + std::to_string(*options.volume));
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
    std::fprintf(stderr, "saved %zu trees to %s\n", delivered.roots.size(), path.c_str());
    return CLI_OK;
}

}  // namespace

int CliScan(const CliOptions& options)
{
    if (int rc = CliGuardWrites(options, options.positional.back()))
        return rc;
    ScanDevices devices;
    if (!CliOpenDisk(options, devices))
        return CLI_ENGINE_ERROR;
    if (options.volume || options.offset) {
        long long start = 0, count = 0;
        int index = -1;
        if (int rc = LocateVolume(options, devices.disk.get(), start, count, index))
            return rc;
        if (int rc = CliOpenVolumeAt(devices, start, count, index))
            return rc;
    }

    CliAfterScan save;
    if (!options.saveFile.empty())
        save = [&](IRecoveryController* controller, const CliDelivered& delivered) {
            return SaveResult(options, devices, controller, delivered);
        };
    ResultCode result = 0;
    const int status = CliRunController(options, ControllerKind(options.mode), devices, nullptr,
                                        !options.saveFile.empty(), save, result);
    if (result == kResultQuickUnsupported)
        return CliFail(CLI_ENGINE_ERROR, "scan failed: file system unsupported by the quick scan (" +
                                             FormatResultCode(result) + ")");
    if (IsResultFailure(result))
        return CliFail(CLI_ENGINE_ERROR, "scan failed: " + FormatResultCode(result));
    return status;
}

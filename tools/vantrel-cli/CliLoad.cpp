// vantrel-cli load: replays a saved scan result over the device it was made
// of, instead of searching again; lists and recovers as "scan" does.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliMessages.h"
#include "CliProgress.h"
#include "CliRecover.h"
#include "CliSafety.h"
#include "CliScanCommon.h"
#include "IStorageDevice.h"
#include "RSData.h"
#include "RestoreScanSink.h"
#include "ScanResultFile.h"

namespace {

const char* LoadErrorText(int code)
{
    switch (code) {
    case SCAN_RESULT_CANNOT_OPEN:
        return "cannot open the scan result";
    case SCAN_RESULT_BAD_HEADER:
        return "not a scan result, or its header is damaged";
    case SCAN_RESULT_BAD_SCAN_KIND:
        return "the scan kind is missing or damaged";
    case SCAN_RESULT_BAD_DEVICE:
        return "the scanned device's description is missing or damaged";
    case SCAN_RESULT_NO_DEVICE:
        return "SOURCE is not the device this result was saved from";
    case SCAN_RESULT_DAMAGED_TREES:
        return "the saved trees are damaged; only what came before the damage was loaded";
    default:
        return "cannot load the scan result";
    }
}

int LoadFail(const CliOptions& options, int code)
{
    return CliFail(CLI_ENGINE_ERROR, options.positional[0] + ": " + LoadErrorText(code) + " (code " +
                                         std::to_string(code) + ")");
}

// The saved volume on the disk: the partition-table entry of the saved
// index first, then every entry, every entry running to the end of the disk
// and the whole disk as one volume, each taken when its file system, label
// and size are the saved ones.
bool FindSavedVolume(ScanDevices& devices, const SavedDeviceRecord& saved)
{
    IStorageDevice* disk = devices.disk.get();
    const long long total = disk->GetTotalSectors();
    std::vector<CliVolumeSpan> entries;
    CliListEntries(disk, entries, "the disk");
    std::vector<CliVolumeSpan> candidates;
    for (const CliVolumeSpan& e : entries)
        if (e.iIndex == saved.iVolumeIndex)
            candidates.push_back(e);
    for (const CliVolumeSpan& e : entries) {
        candidates.push_back(e);
        candidates.push_back({e.llStart, total - e.llStart, -1});
    }
    candidates.push_back({0, total, -1});
    const unsigned long long sectorSize = disk->GetSectorSize();
    for (const CliVolumeSpan& c : candidates) {
        if (c.llCount <= 0 || static_cast<unsigned long long>(c.llCount) * sectorSize != saved.u64Capacity)
            continue;
        devices.volume.reset();
        devices.window.reset();
        if (CliOpenVolumeAt(devices, c.llStart, c.llCount, c.iIndex) != CLI_OK)
            continue;
        if (devices.FileSystem() == saved.iFileSystem && devices.VolumeName() == saved.strName)
            return true;
    }
    devices.volume.reset();
    devices.window.reset();
    return false;
}

}  // namespace

int CliLoad(const CliOptions& options)
{
    const std::string& file = options.positional[0];
    if (int rc = CliGuardWrites(options, options.positional[1]))
        return rc;
    if (!options.recoverDir.empty())
        if (int rc = CliPrepareRecoveryFolder(options.recoverDir))
            return rc;
    CRSData stream(RS_MODE_READ);
    if (!stream.StartRS(file.c_str(), 0))
        return LoadFail(options, SCAN_RESULT_CANNOT_OPEN);
    SavedScanKind kind;
    SavedDeviceRecord saved;
    SaveRestoreResult::SavedIntegrity integrity;
    if (const int head = SaveRestoreResult::ReadResultHead(&stream, kind, saved, nullptr, integrity))
        return LoadFail(options, head);
    if (integrity.eState == RS_INTEGRITY_UNVERIFIED)
        std::fprintf(stderr, "vantrel-cli: %s: warning: saved without checksums; the result is unverified\n",
                     file.c_str());
    if (integrity.bTreesDamaged) {
        if (!options.acceptDamaged)
            return CliFail(CLI_ENGINE_ERROR, file + ": the scan result is damaged (" + integrity.strDamaged +
                                                 "); nothing was loaded; --accept-damaged loads what can be read (code " +
                                                 std::to_string(SCAN_RESULT_DAMAGED_TREES) + ")");
        std::fprintf(stderr, "vantrel-cli: %s: warning: the scan result is damaged (%s); loading what can be read\n",
                     file.c_str(), integrity.strDamaged.c_str());
    }

    ScanDevices devices;
    if (!CliOpenDisk(options, devices))
        return CLI_ENGINE_ERROR;
    const bool wholeDisk = saved.iVolumeIndex == -1;
    const bool deep = kind.dwDeepScan != 0;
    if (wholeDisk) {
        const unsigned long long capacity =
            static_cast<unsigned long long>(devices.disk->GetTotalSectors()) * devices.disk->GetSectorSize();
        if (capacity != saved.u64Capacity)
            return LoadFail(options, SCAN_RESULT_NO_DEVICE);
        if (!deep)
            return CliFail(CLI_ENGINE_ERROR, file + ": a quick scan of every volume of a disk cannot be loaded here; "
                                                    "load it in the application");
    } else if (!FindSavedVolume(devices, saved)) {
        return LoadFail(options, SCAN_RESULT_NO_DEVICE);
    }

    // As the application does, the controller follows from the device and
    // the saved deep-scan flag.
    const _RECOVERY_CONTROLLER_TYPE type =
        !deep ? RECOVERY_CONTROLLER_QUICK : wholeDisk ? RECOVERY_CONTROLLER_DEEP_DISK : RECOVERY_CONTROLLER_DEEP;
    // The sink outlives the controller, which asks it for the saved
    // partitions until it is released.
    RestoreScanSink restore(&stream);
    ResultCode result = 0;
    CliProgressDisplay display(CliProgressDisplay::StyleFor(options));
    IStorageDevice* scanned = devices.Scanned();
    display.Begin("reading", static_cast<unsigned long long>(scanned->GetTotalSectors()) * scanned->GetSectorSize());
    const CliRunView view{&display, true, wholeDisk ? options.positional[1] : "the saved volume of " + options.positional[1]};
    const int status = CliRunController(options, type, devices, &restore, true, nullptr, result, view);
    if (IsResultFailure(result))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(result, file));
    if (restore.GetReplayedTreeCount() == 0 && !restore.IsDamaged())
        std::fprintf(stderr, "vantrel-cli: %s: no saved tree belongs to this device\n", file.c_str());
    if (restore.IsDamaged()) {
        if (!options.acceptDamaged)
            return LoadFail(options, SCAN_RESULT_DAMAGED_TREES);
        std::fprintf(stderr, "vantrel-cli: %s: warning: %s\n", file.c_str(), LoadErrorText(SCAN_RESULT_DAMAGED_TREES));
    }
    return status;
}

// What "scan" and "load" share: the devices of one run, the volume window
// over a disk image, and the run of a controller with its listing and
// recovery of what it delivers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "EngineTypes.h"
#include "ResultCode.h"

class IFileNode;
class IFilesystemNode;
class IRecoveryController;
class IRestoreSource;
class IStorageDevice;

// The devices of one run: the disk, and for a chosen volume the window on it
// and the volume shown over it.
struct ScanDevices {
    std::unique_ptr<IStorageDevice> disk;
    std::unique_ptr<IStorageDevice> window;
    std::unique_ptr<IStorageDevice> volume;
    int iEntryIndex = -1;  // partition-table entry of the volume, -1 none

    IStorageDevice* Scanned() const { return volume ? volume.get() : disk.get(); }
    bool Mounted() const;
    // The file system and label the recogniser gave the volume.
    int FileSystem() const;
    std::string VolumeName() const;
};

// Opens SOURCE as a disk image (null with a message on failure).
bool CliOpenDisk(const CliOptions& options, ScanDevices& devices);

// One partition-table entry of the disk.
struct CliVolumeSpan {
    long long llStart = 0;
    long long llCount = 0;
    int iIndex = -1;
};
// The partition-table entries of the disk that hold sectors. Returns CLI_OK
// or a failure (reported).
int CliListEntries(IStorageDevice* disk, std::vector<CliVolumeSpan>& entries);

// Shows sectors [start, start + count) of the disk as a volume whose file
// system and label come from the recognisers. Returns CLI_OK or a failure.
int CliOpenVolumeAt(ScanDevices& devices, long long start, long long count, int entryIndex);

// The file-system roots and nodes a run delivered.
struct CliDelivered {
    std::vector<IFileNode*> nodes;        // every node, in order (when kept)
    std::vector<IFilesystemNode*> roots;  // every root shown, in order
};

// Runs a controller of kind over the scanned device on a scan thread, with
// the options' type filter, listing (--list) and, when restore is given, the
// replay of a loaded result instead of a search. Then, before the controller
// goes, calls after (may be empty) and copies the found files (--recover).
// result is the controller's result code; returns the exit status of the
// copy or of after.
using CliAfterScan = std::function<int(IRecoveryController*, const CliDelivered&)>;
int CliRunController(const CliOptions& options, _RECOVERY_CONTROLLER_TYPE kind, const ScanDevices& devices,
                     IRestoreSource* restore, bool build, const CliAfterScan& after, ResultCode& result);

// What "scan" and "load" share: the devices of one run, the volume window
// over a disk image, and the run of a controller with its listing and
// recovery of what it delivers.
#pragma once

#include <functional>
#include <map>
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
    long long llStart = 0;  // the volume's sectors on the disk
    long long llCount = 0;

    IStorageDevice* Scanned() const { return volume ? volume.get() : disk.get(); }
    bool Mounted() const;
    // The file system and label the recogniser gave the volume.
    int FileSystem() const;
    std::string VolumeName() const;
};

// Opens SOURCE (an image file or a block device) as a disk; null after one
// message in words (missing, a folder, empty, not readable).
std::unique_ptr<IStorageDevice> CliOpenSource(const std::string& source, unsigned int sectorSize);
// The disk of the run from the options' SOURCE (false after the message).
bool CliOpenDisk(const CliOptions& options, ScanDevices& devices);

// "FAT", "NTFS", "carved files": the kind of a tree by its searcher type.
const char* CliTreeKind(int searcherType);

// One partition-table entry of the disk.
struct CliVolumeSpan {
    long long llStart = 0;
    long long llCount = 0;
    int iIndex = -1;
};
// The partition-table entries of the disk that hold sectors (none for a disk
// without a table). Returns CLI_OK or a failure (reported, naming source).
int CliListEntries(IStorageDevice* disk, std::vector<CliVolumeSpan>& entries, const std::string& source);

// Shows sectors [start, start + count) of the disk as a volume whose file
// system and label come from the recognisers. Returns CLI_OK or a failure.
int CliOpenVolumeAt(ScanDevices& devices, long long start, long long count, int entryIndex);

// What one tree holds.
struct CliTreeCounts {
    unsigned long long files = 0;
    unsigned long long folders = 0;
    unsigned long long deleted = 0;  // files and folders
};

// The file-system roots and nodes a run delivered.
struct CliDelivered {
    std::vector<IFileNode*> nodes;        // every node, in order (when kept)
    std::vector<IFilesystemNode*> roots;  // every root shown, in order
    std::map<IFileNode*, CliTreeCounts> counts;  // by the root above the nodes
};

class CliProgressDisplay;

// How a run shows itself: the progress display (null: none), whether the
// run ends the display's phase (false when one phase spans several runs),
// and the words for the scanned object in the summary.
struct CliRunView {
    CliProgressDisplay* display = nullptr;
    bool endDisplay = true;
    std::string object;  // "volume 1", "the volume at sector 2048", SOURCE
};

// The summary of one run on standard error: each tree found (file system,
// name, start sector and size of the scanned volume), its files, folders and
// deleted entries; or, when nothing was found, that and what to try.
void CliPrintScanSummary(const CliRunView& run, const ScanDevices& devices, const CliDelivered& delivered);

// Runs a controller of kind over the scanned device on a scan thread, with
// the options' type filter, listing (--list) and, when restore is given, the
// replay of a loaded result instead of a search. Then, before the controller
// goes, calls after (may be empty) and copies the found files (--recover).
// result is the controller's result code; returns the exit status of the
// copy or of after.
using CliAfterScan = std::function<int(IRecoveryController*, const CliDelivered&)>;
int CliRunController(const CliOptions& options, _RECOVERY_CONTROLLER_TYPE kind, const ScanDevices& devices,
                     IRestoreSource* restore, bool build, const CliAfterScan& after, ResultCode& result,
                     const CliRunView& run);

#include "CliMessages.h"

#include <cstdio>
#include <cstring>

#include "DataRecovery.h"
#include "PartitionTableAnalyze.h"
#include "RecoveryController.h"
#include "StorageDeviceCodes.h"

namespace {

std::string WithErrno(const char* text, int error)
{
    std::string out = text;
    if (error != 0)
        out += std::string(": ") + std::strerror(error);
    return out;
}

std::string StorageCause(ResultCode code, int error)
{
    switch (ResultKind(code)) {
    case 1:
        if (code == kDiskOpenFailed || code == kVolumeOpenFailed)
            return WithErrno("cannot be opened", error);
        return WithErrno("a read from the device failed", error);
    case 3:
        return "the device does not answer the request for its geometry";
    case 5:
        return "a read outside the device was asked for";
    case 7:
        return "the device's description is missing";
    default:
        return "the device failed";
    }
}

std::string PartitionCause(ResultCode code)
{
    namespace E = PartitionTableError;
    if (code == E::kDynamicGptDisk || code == E::kDynamicMbrDisk)
        return "a dynamic disk: its volumes are not listed in a partition table; try --deep-disk";
    if (code == E::kApmSectorSize || code == E::kSectorSize)
        return "the partition table does not fit the sector size; try --sector-size 512 or 4096";
    switch (ResultKind(code)) {
    case 6:
        return "the partition table is damaged; try --deep-disk to search the whole disk";
    case 1:
        return "the partition table could not be read";
    default:
        return "the partition table could not be read";
    }
}

std::string ControllerCause(ResultCode code)
{
    if (code == kResultQuickWholeDisk)
        return "the quick scan reads one volume, and no volume was chosen; give --volume N (see "
               "'vantrel-cli parts'), --offset SECTOR, or use --deep-disk";
    if (code == kResultQuickUnsupported)
        return "unsupported by the quick scan: no file system it reads (FAT, exFAT, NTFS, HFS+, APFS) was "
               "recognised there; try --deep";
    if (code == kResultDeepNoSearcher)
        return "no searcher could be set up for the deep scan";
    if (code == kResultSearchDataBadRange)
        return "the range to search lies outside the device";
    return "the scan could not be run";
}

std::string RecoveryCause(ResultCode code, int error)
{
    using R = CDataRecovery;
    if (code == R::kErrNoPartition || code == R::kErrNoPartitionOnRetry)
        return "the file's volume is not known to the copier";
    if (code == R::kErrNoReader || code == R::kErrNoData)
        return "the file has no data on the device to copy";
    if (code == R::kErrCompressedCopy)
        return "the compressed file could not be decoded";
    if (code == R::kErrWriteIncomplete)
        return error != 0 ? std::strerror(error) : "the copy could not be written completely";
    if (code == R::kErrCannotOpenDestination || code == R::kErrCannotCreateEmpty)
        return WithErrno("the destination file cannot be created", error);
    return "the file could not be copied";
}

}  // namespace

std::string CliResultCause(ResultCode code, int error)
{
    switch (ResultModule(code)) {
    case kModuleStorageDevice:
        return StorageCause(code, error);
    case kModulePartitionTable:
        return PartitionCause(code);
    case kModuleRecoveryController:
        return ControllerCause(code);
    case kModuleDataRecovery:
        return RecoveryCause(code, error);
    case kModuleEnumDevice:
        return WithErrno("the machine's disks could not be listed (is /sys mounted?)", error);
    default:
        return error != 0 ? std::strerror(error) : "the operation failed";
    }
}

std::string CliDescribeResult(ResultCode code, const std::string& object, int error)
{
    char bracket[48];
    std::snprintf(bracket, sizeof bracket, " [code 0x%llx]", code);
    return (object.empty() ? std::string() : object + ": ") + CliResultCause(code, error) + bracket;
}

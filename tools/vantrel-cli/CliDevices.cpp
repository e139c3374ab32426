#include <cstdio>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliMessages.h"
#include "DeviceInfo.h"
#include "EnumDevice.h"
#include "StorageDevice.h"

namespace {

// A label comes from the disk: a tab or line break in it must not split
// the line.
std::string Field(const char* text)
{
    std::string out(text ? text : "");
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

std::string DevicePath(const char* bsdName)
{
    return "/dev/" + Field(bsdName);
}

void PrintVolume(IStorageDevice* device, const std::string& diskPath)
{
    auto* holder = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    const CCollectedVolumeDeviceInfoStruct* v = holder ? holder->GetVolumeInfo() : nullptr;
    if (!v)
        return;
    const bool offered = dynamic_cast<CPartitionVirtualVolumeDevice*>(device) != nullptr;
    const std::string path =
        offered ? diskPath + "#" + std::to_string(v->iPartitionNumber) : DevicePath(v->szBsdName);
    std::fprintf(CliOut(), "%s\t%s\t%lld\t%lld\t%d\t%s\t%d\n", offered ? "partition" : "volume", path.c_str(),
                 static_cast<long long>(v->s64SectorSize), static_cast<long long>(v->s64TotalSectors),
                 static_cast<int>(v->eFileSystemType), Field(v->szLabel).c_str(), v->iMounted);
}

}  // namespace

// One line per disk, then one per volume and per partition offered as a
// volume, tab-separated: kind path sector_size sectors fs_type label mounted.
int CliDevices(const CliOptions&)
{
    IEnumDeviceEx* enumerator = CreateEnumDeviceEx();
    ResultCode rc = enumerator->Init();
    if (rc == EnumDeviceError::kInitNoDisk) {
        std::fprintf(stderr, "vantrel-cli: devices: no disk found\n");
        return CLI_OK;
    }
    if (IsResultFailure(rc))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(rc, "devices"));

    int diskCount = 0;
    enumerator->EnumDiskDevice(nullptr, diskCount);
    std::vector<IStorageDevice*> disks(static_cast<size_t>(diskCount));
    if (diskCount > 0 && IsResultFailure(rc = enumerator->EnumDiskDevice(disks.data(), diskCount)))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(rc, "devices"));
    disks.resize(static_cast<size_t>(diskCount));

    for (IStorageDevice* disk : disks) {
        auto* holder = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
        const CCollectDiskDeviceInfoStruct* d = holder ? holder->GetDiskInfo() : nullptr;
        if (!d)
            continue;
        const std::string diskPath = DevicePath(d->szBsdName);
        std::fprintf(CliOut(), "disk\t%s\t%lld\t%lld\t\t\t\n", diskPath.c_str(),
                     static_cast<long long>(d->s64SectorSize), static_cast<long long>(d->s64TotalSectors));

        int volumeCount = 0;
        if (IsResultFailure(enumerator->EnumVolumeDevice(disk, nullptr, volumeCount)) || volumeCount <= 0)
            continue;
        std::vector<IStorageDevice*> volumes(static_cast<size_t>(volumeCount));
        if (IsResultFailure(enumerator->EnumVolumeDevice(disk, volumes.data(), volumeCount)))
            continue;
        volumes.resize(static_cast<size_t>(volumeCount));
        for (IStorageDevice* volume : volumes) {
            PrintVolume(volume, diskPath);
            // Partitions offered as volumes are made for each call: ours.
            if (dynamic_cast<CPartitionVirtualVolumeDevice*>(volume))
                delete volume;
        }
    }
    enumerator->Uninit();
    return CLI_OK;
}

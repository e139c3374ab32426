// Lists the disks of a fake device tree as an unprivileged user: started as
// root it first gives up root for uid and gid 65534. Prints its findings as
// "RESULT ..." lines among the engine's own output.
#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "EnumDevice.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ROOT\n", argv[0]);
        return 2;
    }
    if (geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            std::perror("dropping root");
            return 3;
        }
        // Changing the uid made the process undumpable; the leak checker of
        // sanitizer builds needs to attach to it.
        prctl(PR_SET_DUMPABLE, 1);
    }
    std::printf("RESULT uid=%d\n", static_cast<int>(geteuid()));
    const std::string root = argv[1];
    CEnumDeviceEx enumerator(
        CBlockDevices(root + "/sys", root + "/dev", root + "/mountinfo", root + "/run/udev/data"));
    const ResultCode rc = enumerator.Init();
    std::printf("RESULT init=%llx\n", rc);
    int n = 0;
    enumerator.EnumDiskDevice(nullptr, n);
    std::vector<IStorageDevice*> disks(static_cast<size_t>(n));
    if (n > 0)
        enumerator.EnumDiskDevice(disks.data(), n);
    for (IStorageDevice* disk : disks) {
        auto* holder = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
        int volumes = 0, partitions = 0;
        enumerator.EnumVolumeDevice(disk, nullptr, volumes);
        enumerator.EnumPartitionDevice(disk, nullptr, partitions);
        std::printf("RESULT disk %s permitted=%d sectors=%lld volumes=%d partitions=%d\n",
                    holder ? holder->GetDiskInfo()->szBsdName : "?", disk->IsPermitted(),
                    holder ? static_cast<long long>(holder->GetDiskInfo()->s64TotalSectors) : -1LL, volumes,
                    partitions);
    }
    std::fflush(stdout);
    return 0;
}

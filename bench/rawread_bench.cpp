// Sequential raw-read throughput through the disk device, against dd on the
// same cached image.
//
//   rawread_bench [FOLDER]   (default: $TMPDIR or /tmp; needs 1 GiB free)
//
// Makes a 1 GiB image of random bytes, reads it once so it sits in the page
// cache, then times dd (bs=4M) and CDiskDevice::ReadSector in 8,192-sector
// calls, and prints both rates and their ratio.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "StorageDevice.h"

namespace {

constexpr long long kImageBytes = 1LL << 30;
constexpr long long kSectorsPerCall = 8192;

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::string image = folder + "/rawread_bench." + std::to_string(getpid()) + ".img";
    if (!Run("head -c " + std::to_string(kImageBytes) + " /dev/urandom > '" + image + "'") ||
        !Run("cat '" + image + "' > /dev/null")) {
        std::fprintf(stderr, "cannot make %s\n", image.c_str());
        return 1;
    }
    const double gb = static_cast<double>(kImageBytes) / 1e9;

    auto start = std::chrono::steady_clock::now();
    bool ddOk = Run("dd if='" + image + "' of=/dev/null bs=4M status=none");
    double ddSeconds = Seconds(start);

    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    std::vector<unsigned char> buffer(kSectorsPerCall * 512);
    bool readOk = disk->Open(nullptr) == 1;
    start = std::chrono::steady_clock::now();
    for (long long first = 0; readOk && first < disk->GetTotalSectors(); first += kSectorsPerCall)
        readOk = disk->ReadSector(buffer.data(), first, kSectorsPerCall) == 1;
    double readSeconds = Seconds(start);
    disk.reset();
    unlink(image.c_str());

    if (!ddOk || !readOk) {
        std::fprintf(stderr, "dd %s, ReadSector %s\n", ddOk ? "ok" : "failed", readOk ? "ok" : "failed");
        return 1;
    }
    const double ddRate = gb / ddSeconds, readRate = gb / readSeconds;
    std::printf("dd bs=4M:               %6.2f GB/s\n", ddRate);
    std::printf("ReadSector 8192 sectors: %6.2f GB/s\n", readRate);
    std::printf("ratio to dd:             %6.2f\n", readRate / ddRate);
    return 0;
}

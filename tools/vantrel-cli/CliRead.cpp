#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliMessages.h"
#include "CliScanCommon.h"
#include "StorageDevice.h"

namespace {

constexpr long long kMaxReadSectors = 8192;

// The dump layout of xxd with its default options: 16 bytes a line, hex in
// pairs of bytes, printable ASCII, offsets counted from the device's start.
void AppendDumpLine(std::string& out, unsigned long long offset, const unsigned char* bytes, size_t n)
{
    static const char kHex[] = "0123456789abcdef";
    char head[32];
    int len = std::snprintf(head, sizeof head, "%08llx: ", offset);
    out.append(head, static_cast<size_t>(len));
    for (size_t i = 0; i < 16; ++i) {
        if (i < n) {
            out += kHex[bytes[i] >> 4];
            out += kHex[bytes[i] & 0x0f];
        } else {
            out += "  ";
        }
        if (i % 2 == 1)
            out += ' ';
    }
    out += ' ';
    for (size_t i = 0; i < n; ++i)
        out += (bytes[i] >= 0x20 && bytes[i] < 0x7f) ? static_cast<char>(bytes[i]) : '.';
    out += '\n';
}

}  // namespace

int CliRead(const CliOptions& options)
{
    const std::string& source = options.positional[0];
    long long first = 0, count = 0;
    if (!CliParseNumber(options.positional[1], first) || first < 0)
        return CliFail(CLI_USAGE, "read: SECTOR must be a number of 0 or more, not '" + options.positional[1] + "'");
    if (!CliParseNumber(options.positional[2], count) || count < 1 || count > kMaxReadSectors)
        return CliFail(CLI_USAGE, "read: COUNT must be within 1.." + std::to_string(kMaxReadSectors) + ", not '" +
                                      options.positional[2] + "'");

    std::unique_ptr<IStorageDevice> disk = CliOpenSource(source, options.sectorSize);
    if (!disk)
        return CLI_ENGINE_ERROR;
    const unsigned long long sectorSize = disk->GetSectorSize();
    std::vector<unsigned char> buffer(static_cast<size_t>(count * static_cast<long long>(sectorSize)));
    if (!disk->ReadSector(buffer.data(), first, count))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(disk->GetLastError(), source + ", sectors " +
                                                                     std::to_string(first) + ".." +
                                                                     std::to_string(first + count - 1)));

    const unsigned long long base = static_cast<unsigned long long>(first) * sectorSize;
    std::string out;
    out.reserve(1 << 20);
    for (size_t pos = 0; pos < buffer.size(); pos += 16) {
        AppendDumpLine(out, base + pos, &buffer[pos], std::min<size_t>(16, buffer.size() - pos));
        if (out.size() >= (1 << 20) - 128) {
            std::fwrite(out.data(), 1, out.size(), CliOut());
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), CliOut());
    return std::fflush(CliOut()) == 0 ? CLI_OK : CliFail(CLI_ENGINE_ERROR, "read: cannot write the dump");
}

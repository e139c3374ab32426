#include <cstdio>
#include <cstring>
#include <list>
#include <memory>

#include "CliCommands.h"
#include "CliMessages.h"
#include "CliScanCommon.h"
#include "PartitionTableAnalyze.h"
#include "StorageDevice.h"

// One line per listed entry, in table order: index, start, count and the
// type (GPT type GUID, APM type name, nothing for MBR), tab-separated.
int CliParts(const CliOptions& options)
{
    const std::string& source = options.positional[0];
    std::unique_ptr<IStorageDevice> disk = CliOpenSource(source, options.sectorSize);
    if (!disk)
        return CLI_ENGINE_ERROR;

    std::unique_ptr<IPartitionTableAnalyze> reader(CreatePartitionTableAnalyze());
    std::list<PartitionEntry> entries;
    const ResultCode rc = reader->AnalyzePartitionTable(disk.get(), entries);
    if (IsResultFailure(rc))
        return CliFail(CLI_ENGINE_ERROR, CliDescribeResult(rc, source));

    const _GUID noGuid{};
    for (const PartitionEntry& e : entries) {
        const bool hasGuid = std::memcmp(&e.typeGuid, &noGuid, sizeof noGuid) != 0;
        const std::string type = hasGuid ? FormatPartitionGuid(e.typeGuid) : std::string(e.szTypeName);
        std::fprintf(CliOut(), "%d\t%lld\t%lld\t%s\n", e.iIndex, static_cast<long long>(e.s64StartSector),
                    static_cast<long long>(e.s64SectorCount), type.c_str());
    }
    return CLI_OK;
}

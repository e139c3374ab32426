#include "APFSObject.h"

#include <set>
#include <vector>

#include "IStorageDevice.h"

namespace {

// Reads go into a buffer large enough for 8 sectors of 4096 bytes.
constexpr size_t kReadBufferBytes = 32768;

}  // namespace

bool IsValidObject(unsigned long long /*block*/, const unsigned char* data, int /*size*/)
{
    const uint32_t type = ApfsRead32(data + 24);
    const uint32_t subtype = ApfsRead32(data + 28);
    return (subtype & 0xFFFF) <= 31 && (type & 0xFFFF) <= 31 && ApfsRead64(data + 8) != 0;
}

APFSRecognize::APFSRecognize(IStorageDevice* device, unsigned long long startSector,
                             unsigned long long totalSectors)
    : m_pDevice(device), m_u64StartSector(startSector), m_u64TotalSectors(totalSectors)
{
}

bool APFSRecognize::ReadBlock(unsigned long long block, unsigned char* buffer)
{
    const unsigned int sectorSize = m_pDevice->GetSectorSize();
    if (sectorSize < 1 || sectorSize > static_cast<unsigned>(kApfsBlockSize))
        return false;
    const unsigned long long perBlock = sectorSize >= static_cast<unsigned>(kApfsBlockSize)
                                            ? 1
                                            : kApfsBlockSize / sectorSize;
    return m_pDevice->ReadSector(buffer, static_cast<long long>(m_u64StartSector + block * perBlock), 8) != 0;
}

bool APFSRecognize::ReadVolumeName(unsigned long long omapBlock, char* label, int labelSize)
{
    std::vector<unsigned char> buffer(kReadBufferBytes, 0);
    if (!ReadBlock(omapBlock, buffer.data()))
        return false;
    const uint64_t tree = ApfsRead64(buffer.data() + 48);
    if (!ReadBlock(tree, buffer.data()) || (ApfsRead32(buffer.data() + 28) & 0xFFFF) != 11)
        return false;
    const uint16_t v = ApfsRead16(buffer.data() + 58);
    if (v < 1 || v > 4095 || v > 4064)
        return false;
    const uint64_t volume = ApfsRead64(buffer.data() + 4064 - v);
    if (!ReadBlock(volume, buffer.data()) || ApfsRead32(buffer.data() + 32) != kApfsMagicVolume)
        return false;
    // The name is copied zero-padded up to 32 bytes; a longer name is cut
    // without a terminator, as the caller's buffer is larger and zero-filled.
    const char* name = reinterpret_cast<const char*>(buffer.data() + 704);
    const size_t room = labelSize > 0 && labelSize < 32 ? static_cast<size_t>(labelSize) : 32;
    const size_t length = strnlen(name, room);
    std::memset(label, 0, room);
    std::memcpy(label, name, length);
    return true;
}

int APFSRecognize::GetLabel(char* label, int size)
{
    if (!label || m_pDevice->GetSectorSize() < 1)
        return 0;
    std::vector<unsigned char> block(kReadBufferBytes, 0);
    if (!ReadBlock(0, block.data()) || !IsValidObject(0, block.data(), kApfsBlockSize))
        return 0;
    std::set<uint32_t> followed;
    for (int i = 0; i < 32; ++i) {
        if (label[0])
            break;
        const uint32_t next = ApfsRead32(block.data() + 136);
        ReadVolumeName(ApfsRead64(block.data() + 160), label, size);
        if (label[0])
            break;
        if (!followed.insert(next).second)
            break;
        ReadBlock(next, block.data());
    }
    return label[0] ? 1 : 0;
}

IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector)
{
    if (!device)
        return nullptr;
    std::vector<unsigned char> sector(kReadBufferBytes, 0);
    if (device->GetSectorSize() > kReadBufferBytes || !device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    const uint32_t type = ApfsRead32(sector.data() + 24) & 0xFFFF;
    const uint32_t subtype = ApfsRead32(sector.data() + 28) & 0xFFFF;
    if (type - 1 > 30 || subtype > 31 || ApfsRead64(sector.data() + 32) != 0x000010004253584EULL)
        return nullptr;
    const long long total = device->GetTotalSectors();
    const unsigned long long sectors = total > static_cast<long long>(startSector) ? total - startSector : 0;
    return new APFSRecognize(device, startSector, sectors);
}

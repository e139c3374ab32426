#include "AvByteReader.h"

#include <algorithm>
#include <cstring>

#include "IStorageDevice.h"

AvByteReader::AvByteReader(IStorageDevice* device, long long startSector)
    : m_Buffer(device, static_cast<unsigned long long>(std::max(startSector, 0LL))),
      m_dwSectorSize(device && device->GetSectorSize() ? device->GetSectorSize() : 512)
{
}

bool AvByteReader::Read(unsigned long long offset, void* out, size_t length)
{
    auto* dst = static_cast<unsigned char*>(out);
    while (length) {
        const unsigned char* p = m_Buffer.GetRawFileBuffer(offset);
        if (!p)
            return false;
        // Each answer holds at least one sector past offset.
        const size_t chunk = std::min<size_t>(length, m_dwSectorSize);
        std::memcpy(dst, p, chunk);
        dst += chunk;
        offset += chunk;
        length -= chunk;
    }
    return true;
}

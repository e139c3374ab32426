#include "NTFSDBR.h"

#include <cstring>
#include <initializer_list>

#include "NTFSBytes.h"

using namespace ntfsbytes;

CNTFSDBR::CNTFSDBR() { std::memset(m_u8Sector, 0, sizeof(m_u8Sector)); }

bool CNTFSDBR::IsFullValidDBR(const uint8_t* b)
{
    if (!b)
        return false;
    if (std::memcmp(b + 3, "NTFS    ", 8) != 0)
        return false;
    const unsigned int bytesPerSector = U16(b + 11);
    if (bytesPerSector == 0 || bytesPerSector % 512 != 0)
        return false;
    if (U16(b + 14) != 0)
        return false;
    switch (b[13]) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128:
        break;
    default:
        return false;
    }
    for (int at : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
        if (b[at] != 0)
            return false;
    return b[510] == 0x55 && b[511] == 0xAA;
}

bool CNTFSDBR::InitFromBuffer(const uint8_t* buffer)
{
    if (!IsFullValidDBR(buffer))
        return false;
    std::memcpy(m_u8Sector, buffer, sizeof(m_u8Sector));
    return true;
}

unsigned int CNTFSDBR::GetBytesPerSector() const { return U16(m_u8Sector + 11); }
unsigned long long CNTFSDBR::GetTotalSectors() const { return U64(m_u8Sector + 40); }
unsigned long long CNTFSDBR::GetMFTStartCluster() const { return U64(m_u8Sector + 48); }
unsigned long long CNTFSDBR::GetMFTMirrorStartCluster() const { return U64(m_u8Sector + 56); }
unsigned long long CNTFSDBR::GetSerialNumber() const { return U64(m_u8Sector + 72); }

unsigned long long CNTFSDBR::GetFileRecordSizeByByte() const
{
    const int8_t clusters = static_cast<int8_t>(m_u8Sector[64]);
    if (clusters < 0) {
        // A damaged byte may ask for 2^128; nothing above 2^31 is a record.
        const int shift = -clusters;
        return shift > 31 ? 0 : 1ULL << shift;
    }
    if (clusters == 0)
        return 1024;
    return static_cast<unsigned long long>(clusters) * GetBytesPerSector() * GetSectorsperCluster();
}

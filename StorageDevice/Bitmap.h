// The deep scan's bit set of sectors already owned by files.
#pragma once

#include <cstdint>
#include <vector>

// Bit i is bit (i % 8) of byte (i / 8), least significant bit first; a set
// bit means the sectors from i * sectors-per-bit up to the next bit's first
// sector belong to a file. Nothing fills the set yet, so every sector counts
// as free and GetBitmapData() stays null.
class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Null while the set is empty.
    const uint8_t* GetBitmapData() const { return m_vData.empty() ? nullptr : m_vData.data(); }
    // Non-zero when bit index is set; 0 outside [0, highest index].
    int GetBit(long long index) const;
    // What a reader divides a sector number by to get its bit index.
    unsigned int GetSectorsPerBit() const { return m_dwSectorsPerBit; }
    unsigned int GetSize() const { return static_cast<unsigned int>(m_vData.size()); }
    long long GetMaxIndex() const { return m_s64MaxIndex; }
    void SetBit(long long index, unsigned int sectorsPerBit = 0) { if (sectorsPerBit) m_dwSectorsPerBit = sectorsPerBit; if (index < 0) return; const auto at = static_cast<std::vector<uint8_t>::size_type>(index / 8); if (at >= m_vData.size()) m_vData.resize(at + 1, 0); m_vData[at] |= static_cast<uint8_t>(1u << (index % 8)); if (index > m_s64MaxIndex) m_s64MaxIndex = index; }

private:
    std::vector<uint8_t> m_vData;
    long long m_s64MaxIndex = -1;
    unsigned int m_dwSectorsPerBit = 1;
};

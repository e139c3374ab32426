// A fixed-size string hash table keyed case-insensitively (ASCII letters),
// used to sort file-name extensions into groups. Entries are never removed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "ResultCode.h"

template <typename T, unsigned int N>
class CKeHashTable {
    static_assert(N > 0, "a table needs slots");

public:
    CKeHashTable() : m_pSlots(new Slot[N]()) { InitliazeCryptTable(); }
    CKeHashTable(const CKeHashTable&) = delete;
    CKeHashTable& operator=(const CKeHashTable&) = delete;

    static constexpr int kNotFound = -1;

    // Fills the 5 x 256 word table the hash draws from.
    void InitliazeCryptTable()
    {
        m_dwCryptTable.fill(0);
        uint32_t seed = 0x00100001;
        for (uint32_t i = 0; i < 256; ++i) {
            for (uint32_t k = 0; k < 5; ++k) {
                uint32_t a = (seed * 125 + 3) % 0x2AAAAB;
                seed = (a * 125 + 3) % 0x2AAAAB;
                m_dwCryptTable[k * 256 + i] = ((a & 0xFFFF) << 16) | (seed & 0xFFFF);
            }
        }
    }

    // Hash of kind 0..4 of a zero-terminated key. Bytes are taken unsigned and
    // only a-z are upper-cased, so names with bytes of 0x80 and above (UTF-8)
    // stay inside the table.
    uint32_t GetHashCode(const char* key, unsigned int kind) const
    {
        VANTREL_ASSERT(kind < 5);
        uint32_t h = 0x7FED7FED;
        uint32_t s = 0xEEEEEEEE;
        if (!key)
            return h;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
            uint32_t c = *p;
            if (c >= 'a' && c <= 'z')
                c -= 'a' - 'A';
            h = m_dwCryptTable[(kind << 8) + c] ^ (h + s);
            s = s * 97 + c + h;
        }
        return h;
    }

    // 1 when stored; 0 for a null key or a full table. A key inserted twice
    // takes two slots; lookups find the first.
    int InsertNode(const char* key, const T& value)
    {
        if (!key)
            return 0;
        const uint32_t start = GetHashCode(key, 0) % N;
        uint32_t pos = start;
        while (m_pSlots[pos].dwUsed) {
            pos = (pos + 1) % N;
            if (pos == start)
                return 0;
        }
        Slot& slot = m_pSlots[pos];
        slot.value = value;
        slot.dwUsed = 1;
        slot.dwHashA = GetHashCode(key, 1);
        slot.dwHashB = GetHashCode(key, 2);
        return 1;
    }

    // Slot of the key, or -1 for a null or absent key. Slots are never freed,
    // so a key's probe run never crosses an unused slot: the walk ends there
    // with the same answer a walk over every slot would give.
    int GetHashTablePos(const char* key, int /*unused*/ = 0) const { return Find(key, true); }

    // The same lookup visiting every slot of the probe run regardless of unused
    // slots; kept to check that the early end above never changes an answer.
    int GetHashTablePosFullWalk(const char* key) const { return Find(key, false); }

    // 1 and the stored value when the key is present, else 0.
    int FindNode(const char* key, T& value) const
    {
        if (!key)
            return 0;
        int pos = GetHashTablePos(key);
        if (pos < 0)
            return 0;
        value = m_pSlots[static_cast<unsigned int>(pos)].value;
        return 1;
    }

    uint32_t GetCryptWord(unsigned int index) const { return index < m_dwCryptTable.size() ? m_dwCryptTable[index] : 0; }

private:
    struct Slot {
        T value{};
        uint32_t dwUsed = 0;
        uint32_t dwHashA = 0;
        uint32_t dwHashB = 0;
    };

    int Find(const char* key, bool stopAtUnused) const
    {
        if (!key)
            return kNotFound;
        const uint32_t start = GetHashCode(key, 0) % N;
        const uint32_t a = GetHashCode(key, 1);
        const uint32_t b = GetHashCode(key, 2);
        uint32_t pos = start;
        for (unsigned int step = 0; step < N; ++step) {
            const Slot& slot = m_pSlots[pos];
            if (slot.dwUsed) {
                if (slot.dwHashA == a && slot.dwHashB == b)
                    return static_cast<int>(pos);
            } else if (stopAtUnused) {
                return kNotFound;
            }
            pos = (pos + 1) % N;
        }
        return kNotFound;
    }

    std::unique_ptr<Slot[]> m_pSlots;
    std::array<uint32_t, 1280> m_dwCryptTable{};
};

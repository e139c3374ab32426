// An open-addressing hash map for 64-bit keys (node ids, node addresses).
// A scan files millions of nodes; keeping entries in one array instead of one
// allocation each keeps the lookups of the tree builder cheap.
//
// Inserting may move every value: never hold a value pointer across an
// insertion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

template <typename K, typename V>
class CFlatHashMap {
public:
    size_t size() const { return m_nSize; }

    V* find(const K& key)
    {
        if (m_slots.empty())
            return nullptr;
        for (size_t i = Home(key);; i = (i + 1) & m_nMask) {
            Slot& s = m_slots[i];
            if (!s.bUsed)
                return nullptr;
            if (s.key == key)
                return &s.value;
        }
    }

    // The value of key, default-made when new; second tells whether it was.
    std::pair<V*, bool> try_emplace(const K& key)
    {
        if ((m_nSize + 1) * 2 > m_slots.size())
            Grow();
        for (size_t i = Home(key);; i = (i + 1) & m_nMask) {
            Slot& s = m_slots[i];
            if (!s.bUsed) {
                s.bUsed = true;
                s.key = key;
                s.value = V();
                ++m_nSize;
                return {&s.value, true};
            }
            if (s.key == key)
                return {&s.value, false};
        }
    }
    V& operator[](const K& key) { return *try_emplace(key).first; }

    bool erase(const K& key)
    {
        if (m_slots.empty())
            return false;
        size_t i = Home(key);
        for (;; i = (i + 1) & m_nMask) {
            if (!m_slots[i].bUsed)
                return false;
            if (m_slots[i].key == key)
                break;
        }
        // Shift later members of the probe run back into the hole, so that
        // lookups never need markers of removed entries.
        size_t hole = i;
        for (size_t j = (i + 1) & m_nMask; m_slots[j].bUsed; j = (j + 1) & m_nMask) {
            size_t home = Home(m_slots[j].key);
            bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
            if (movable) {
                m_slots[hole] = std::move(m_slots[j]);
                hole = j;
            }
        }
        m_slots[hole] = Slot();
        --m_nSize;
        return true;
    }

    // Calls f(key, value) for every entry, in no particular order.
    template <typename F>
    void for_each(F&& f)
    {
        for (Slot& s : m_slots)
            if (s.bUsed)
                f(s.key, s.value);
    }

    void clear()
    {
        m_slots.clear();
        m_nMask = 0;
        m_nSize = 0;
    }

private:
    struct Slot {
        K key{};
        V value{};
        bool bUsed = false;
    };

    size_t Home(const K& key) const
    {
        // splitmix64 finaliser: ids and addresses are far from random.
        uint64_t x = Bits(key);
        x ^= x >> 30;
        x *= 0xBF58476D1CE4E5B9ULL;
        x ^= x >> 27;
        x *= 0x94D049BB133111EBULL;
        x ^= x >> 31;
        return static_cast<size_t>(x) & m_nMask;
    }
    template <typename T>
    static uint64_t Bits(T* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }
    static uint64_t Bits(long long v) { return static_cast<uint64_t>(v); }

    void Grow()
    {
        std::vector<Slot> old = std::move(m_slots);
        size_t capacity = old.empty() ? 64 : old.size() * 2;
        m_slots.clear();
        m_slots.resize(capacity);
        m_nMask = capacity - 1;
        m_nSize = 0;
        for (Slot& s : old)
            if (s.bUsed)
                *try_emplace(s.key).first = std::move(s.value);
    }

    std::vector<Slot> m_slots;
    size_t m_nMask = 0;
    size_t m_nSize = 0;
};

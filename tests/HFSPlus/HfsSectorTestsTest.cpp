// The deep scan's first looks at a sector give the verdicts of the full
// decodes they stand in front of: each reference below swaps a copy of the
// structure and judges its fields, as the scan did before it looked at the
// signature bytes in place. Random sectors, and valid structures with bytes
// changed at random, go to both.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "HFSPlusSectorTests.h"
#include "HFSPlusStructs.h"
#include "HFSPlusVolume.h"

namespace {

bool ReferenceVolumeHeader(const unsigned char* buf)
{
    HFSPlusVolumeHeader h;
    std::memcpy(&h, buf, sizeof h);
    flipVolumeHeader(&h);
    if (h.signature != kHFSPlusSigWord && h.signature != kHFSXSigWord)
        return false;
    if (h.blockSize % 512 != 0 || h.version > 16 || h.freeBlocks > h.totalBlocks || h.journalInfoBlock > h.totalBlocks)
        return false;
    return h.catalogFile.logicalSize == static_cast<unsigned long long>(h.blockSize) * h.catalogFile.totalBlocks;
}

bool ReferenceJournalInfoBlock(const unsigned char* sector, unsigned int sectorSize)
{
    if (sectorSize < sizeof(JournalInfoBlock))
        return false;
    JournalInfoBlock info;
    std::memcpy(&info, sector, sizeof info);
    flipJournalInfoBlock(&info);
    if (info.size % 512 != 0 || info.offset % 512 != 0)
        return false;
    for (uint32_t word : info.reserved)
        if (word != 0)
            return false;
    for (size_t i = sizeof(JournalInfoBlock); i < sectorSize; ++i)
        if (sector[i] != 0xDB)
            return false;
    return true;
}

bool ReferenceNodeDescriptor(const unsigned char* sector)
{
    BTNodeDescriptor d;
    std::memcpy(&d, sector, sizeof d);
    flipNodeDescriptor(&d);
    if (d.reserved != 0)
        return false;
    return (d.kind == kBTLeafNode && d.height == 1) || (d.kind == kBTHeaderNode && d.height == 0);
}

void PutBE(unsigned char* p, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<unsigned char>(v);
}

// A sector holding a valid structure of each kind.
std::vector<unsigned char> ValidHeader(std::mt19937_64& rng)
{
    std::vector<unsigned char> s(512, 0);
    PutBE(s.data(), rng() % 2 ? kHFSPlusSigWord : kHFSXSigWord, 2);
    PutBE(s.data() + 2, 4, 2);
    PutBE(s.data() + offsetof(HFSPlusVolumeHeader, blockSize), 4096, 4);
    PutBE(s.data() + offsetof(HFSPlusVolumeHeader, totalBlocks), 1000, 4);
    PutBE(s.data() + offsetof(HFSPlusVolumeHeader, freeBlocks), 10, 4);
    const size_t catalog = offsetof(HFSPlusVolumeHeader, catalogFile);
    PutBE(s.data() + catalog, 4096ULL * 7, 8);
    PutBE(s.data() + catalog + offsetof(HFSPlusForkData, totalBlocks), 7, 4);
    return s;
}

std::vector<unsigned char> ValidJournalInfo(std::mt19937_64& rng, unsigned int sectorSize)
{
    std::vector<unsigned char> s(sectorSize, 0xDB);
    std::memset(s.data(), 0, sizeof(JournalInfoBlock));
    PutBE(s.data(), 1, 4);
    PutBE(s.data() + offsetof(JournalInfoBlock, offset), (rng() % 100000) * 512, 8);
    PutBE(s.data() + offsetof(JournalInfoBlock, size), (rng() % 100000) * 512, 8);
    return s;
}

std::vector<unsigned char> ValidNode(std::mt19937_64& rng)
{
    std::vector<unsigned char> s(512);
    for (auto& b : s)
        b = static_cast<unsigned char>(rng());
    const bool leaf = rng() % 2;
    s[8] = leaf ? 0xFF : 0x01;
    s[9] = leaf ? 1 : 0;
    s[12] = s[13] = 0;
    return s;
}

// A few bytes changed at random, most often among the ones the tests read.
void Mutate(std::vector<unsigned char>& s, std::mt19937_64& rng, size_t hot)
{
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < changes; ++i) {
        const size_t at = rng() % 4 ? rng() % std::min(hot, s.size()) : rng() % s.size();
        s[at] = rng() % 3 ? static_cast<unsigned char>(rng()) : static_cast<unsigned char>(s[at] ^ (1u << (rng() % 8)));
    }
}

}  // namespace

TEST(hfs_sector_tests, SignatureFirstVerdictsMatchTheFullDecode)
{
    std::mt19937_64 rng(25);
    int accepted[3] = {};
    int rejected[3] = {};
    for (int round = 0; round < 60000; ++round) {
        const int kind = round % 3;
        const int shape = static_cast<int>(rng() % 4);  // 0 random, 1 valid, 2-3 valid then changed
        const unsigned int sectorSize = kind == 1 && rng() % 2 ? 4096 : 512;
        std::vector<unsigned char> s;
        if (shape == 0) {
            s.resize(sectorSize);
            for (auto& b : s)
                b = static_cast<unsigned char>(rng());
        } else {
            s = kind == 0 ? ValidHeader(rng) : kind == 1 ? ValidJournalInfo(rng, sectorSize) : ValidNode(rng);
            if (shape >= 2)
                Mutate(s, rng, kind == 0 ? 300 : kind == 1 ? 200 : 16);
        }
        bool reference = false;
        bool quick = false;
        if (kind == 0) {
            reference = ReferenceVolumeHeader(s.data());
            quick = CHFSPlusVolume::IsValidVolumeHeader(s.data(), 512) != 0;
        } else if (kind == 1) {
            reference = ReferenceJournalInfoBlock(s.data(), sectorSize);
            quick = IsHfsJournalInfoBlockSector(s.data(), sectorSize);
        } else {
            reference = ReferenceNodeDescriptor(s.data());
            quick = IsHfsScanNodeDescriptor(s.data());
        }
        ASSERT_EQ(quick, reference) << "kind " << kind << " shape " << shape << " round " << round;
        (reference ? accepted : rejected)[kind]++;
    }
    for (int kind = 0; kind < 3; ++kind) {
        EXPECT_GT(accepted[kind], 1000) << kind;
        EXPECT_GT(rejected[kind], 1000) << kind;
    }
}

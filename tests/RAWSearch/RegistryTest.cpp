#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "RawFileAnalyserList.h"
#include "RawFileExtTable.h"

namespace {

std::vector<unsigned int> IdsUnder(CRawFileAnalyserListSingle::AnalyserMultimap& mm, unsigned short key)
{
    std::vector<unsigned int> ids;
    auto [from, to] = mm.equal_range(key);
    for (auto it = from; it != to; ++it)
        ids.push_back(it->second->GetAnalyserID());
    return ids;
}

std::set<IRawFileAnalyser*> AllObjects(CRawFileAnalyserListSingle* reg, int set)
{
    std::set<IRawFileAnalyser*> out;
    for (auto& [k, a] : reg->GetAnalyserMap(set))
        out.insert(a);
    for (auto& [k, a] : reg->GetAnalyserMultimap(set))
        out.insert(a);
    for (IRawFileAnalyser* a : reg->GetAnalyserList(set))
        out.insert(a);
    return out;
}

TEST(rawRegistry, BothSetsHoldEveryKeyWithOneObjectPerEntry)
{
    CRawFileAnalyserListSingle* reg = CRawFileAnalyserListSingle::CreateInstance();
    EXPECT_EQ(reg, CRawFileAnalyserListSingle::CreateInstance());
    reg->ReinitAnalyzeList(nullptr);
    for (int set : {0, 1}) {
        SCOPED_TRACE(set);
        EXPECT_EQ(reg->GetAnalyserMap(set).size(), 82u);
        EXPECT_EQ(reg->GetAnalyserMultimap(set).size(), 42u);
        EXPECT_EQ(reg->GetAnalyserList(set).size(), 9u);
        EXPECT_EQ(AllObjects(reg, set).size(), 82u + 42u + 9u);

        auto& mm = reg->GetAnalyserMultimap(set);
        // "%!": PDF before EPS; two zero bytes: MOV, MP4, 3GP.
        EXPECT_EQ(IdsUnder(mm, Key2('%', '!')), (std::vector<unsigned int>{50, RAW_ANALYSER_ID_PER_FILE}));
        EXPECT_EQ(IdsUnder(mm, 0x0000), (std::vector<unsigned int>{42, 44, 2}));
        EXPECT_EQ(IdsUnder(mm, Key2(0xFF, 0xFE)), (std::vector<unsigned int>{43, 33, 33}));

        // The FAT deep scan counts a four-byte key as a hit by itself.
        auto& map = reg->GetAnalyserMap(set);
        for (unsigned int key : {Key4(0xFF, 0xD8, 0xFF, 0xE0), Key4('%', 'P', 'D', 'F'), Key4('P', 'K', 3, 4),
                                 Key4('F', 'r', 'o', 'm'), Key4(0xD0, 0xCF, 0x11, 0xE0)})
            EXPECT_EQ(map.count(key), 1u) << std::hex << key;
        EXPECT_EQ(map.at(Key4(0x30, 0x26, 0xB2, 0x75))->GetAnalyserID(), RAW_ANALYSER_ID_PER_FILE);

        std::vector<unsigned int> listIds;
        for (IRawFileAnalyser* a : reg->GetAnalyserList(set))
            listIds.push_back(a->GetAnalyserID());
        EXPECT_EQ(listIds, (std::vector<unsigned int>{36, 26, 42, 127, 1, 63, 129, 133, 136}));
    }
    // Formats whose analysers are not built accept nothing.
    unsigned char sector[513] = {0xFF, 0xD8, 0xFF, 0xE0};
    CRawFileInfo probe;
    EXPECT_EQ(reg->GetAnalyserMap(1).at(Key4(0xFF, 0xD8, 0xFF, 0xE0))->AnalyseBuffer(sector, probe), 0);
}

TEST(rawRegistry, ReinitRebuildsSetZeroOnly)
{
    CRawFileAnalyserListSingle* reg = CRawFileAnalyserListSingle::CreateInstance();
    reg->ReinitAnalyzeList(nullptr);
    const auto set0 = AllObjects(reg, 0);
    const auto set1 = AllObjects(reg, 1);
    reg->ReinitAnalyzeList(nullptr);
    const auto set0Again = AllObjects(reg, 0);
    EXPECT_EQ(set0Again.size(), set0.size());
    for (IRawFileAnalyser* a : set0Again)
        EXPECT_EQ(set0.count(a), 0u) << "set 0 must get new analyser objects";
    EXPECT_EQ(AllObjects(reg, 1), set1);
    for (IRawFileAnalyser* a : set1)
        EXPECT_EQ(set0Again.count(a), 0u);
}

// A fake format for tests that drive a search with their own analysers.
class AcceptingAnalyser : public IRawFileAnalyser {
public:
    explicit AcceptingAnalyser(unsigned int id) : IRawFileAnalyser(id) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override
    {
        info.m_dwType = GetAnalyserID();
        return sector && sector[0] == 'Q' ? 1 : 0;
    }
};

IRawFileAnalyser* CreateAccepting(unsigned int id)
{
    return new AcceptingAnalyser(id);
}

TEST(rawRegistry, TestRowsReplaceSetZeroForOneSearch)
{
    CRawFileAnalyserListSingle* reg = CRawFileAnalyserListSingle::CreateInstance();
    const auto set1 = AllObjects(reg, 1);
    const RawAnalyserRow rows[] = {
        {RAW_KEY_4, Key4('Q', 'Q', 'Q', 'Q'), &CreateAccepting, 35},
        {RAW_KEY_2, Key2('Q', 'Z'), &CreateAccepting, 51},
        {RAW_KEY_2, Key2('Q', 'Z'), &CreateAccepting, 50},
        {RAW_EVERY_SECTOR, 0, &CreateAccepting, 23},
    };
    {
        ScopedRawAnalyserRows scoped(rows);
        reg->ReinitAnalyzeList(nullptr);
        EXPECT_EQ(reg->GetAnalyserMap(0).size(), 1u);
        EXPECT_EQ(IdsUnder(reg->GetAnalyserMultimap(0), Key2('Q', 'Z')), (std::vector<unsigned int>{51, 50}));
        ASSERT_EQ(reg->GetAnalyserList(0).size(), 1u);
        unsigned char sector[513] = {'Q'};
        CRawFileInfo probe;
        EXPECT_EQ(reg->GetAnalyserList(0).front()->AnalyseBuffer(sector, probe), 1);
        EXPECT_EQ(probe.m_dwType, 23u);
        EXPECT_EQ(AllObjects(reg, 1), set1);

        ScopedRawAnalyserRows none(std::span<const RawAnalyserRow>{});
        reg->ReinitAnalyzeList(nullptr);
        EXPECT_TRUE(reg->GetAnalyserMap(0).empty() && reg->GetAnalyserMultimap(0).empty() &&
                    reg->GetAnalyserList(0).empty());
    }
    reg->ReinitAnalyzeList(nullptr);
    EXPECT_EQ(reg->GetAnalyserMap(0).size(), 82u);
}

TEST(rawRegistry, ExtensionTableInStoredCase)
{
    struct Case {
        unsigned int type;
        const char* ext;
    };
    const Case cases[] = {{0, "Raw"},     {1, "3DS"},   {35, "JPG"},      {43, "MP3"},  {73, "DOCX"},
                          {110, "PAGES"}, {115, "FCPEVENT"}, {119, "pkg"}, {122, "icns"}, {146, "MLV"},
                          {147, "SQLITE"}, {148, "WEBP"}, {149, "HEIC"}, {150, "AVIF"}, {151, "JAR"},
                          {152, "APK"},   {153, ""},     {1999, ""},    {2000, ""}};
    for (const Case& c : cases)
        EXPECT_STREQ(GetRawFileExt(c.type), c.ext) << c.type;
    int used = 0;
    for (unsigned int i = 0; i < RAW_FILE_TYPE_SLOTS; ++i) {
        EXPECT_EQ(g_s_strFileExtName[i][8], '\0');
        used += g_s_strFileExtName[i][0] != '\0';
    }
    EXPECT_EQ(used, 153);
}

}  // namespace

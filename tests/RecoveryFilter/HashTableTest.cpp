// The extension table: hash values, slot search, a full table, and the
// grouping of extensions.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "KeHashTable.h"

namespace {

using Table = CKeHashTable<FILE_TYPE_ID, 2048u>;

TEST(hash_table, CryptTableWords)
{
    Table t;
    EXPECT_EQ(t.GetCryptWord(0), 0x55C636E2u);
    EXPECT_EQ(t.GetCryptWord(1), 0x02BE0170u);
    EXPECT_EQ(t.GetCryptWord(256), 0x76F8C1B1u);
}

TEST(hash_table, HashValuesAndStartSlot)
{
    struct Case {
        const char* key;
        uint32_t h0, h1, h2;
        unsigned slot;
    } cases[] = {
        {"", 0x7FED7FED, 0x7FED7FED, 0x7FED7FED, 2029},
        {"jpg", 0xF0A995B3, 0x1990C748, 0x19382409, 1459},
        {"JPG", 0xF0A995B3, 0x1990C748, 0x19382409, 1459},
        {"mp3", 0xD523F235, 0x127AB969, 0x2B778B89, 565},
        {"docx", 0xD3AD401C, 0x495DEFB7, 0xE433681F, 28},
        // Bytes above 0x7F (UTF-8 "é") index the table as unsigned values.
        {"\xc3\xa9", 0xD3314574, 0xC40372D5, 0x94839BE4, 1396},
    };
    Table t;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(t.GetHashCode(c.key, 0), c.h0);
        EXPECT_EQ(t.GetHashCode(c.key, 1), c.h1);
        EXPECT_EQ(t.GetHashCode(c.key, 2), c.h2);
        EXPECT_EQ(c.h0 & 0x7FF, c.slot);
        ASSERT_EQ(t.InsertNode(c.key, FILE_TYPE_MUSIC), 1);
        int pos = t.GetHashTablePos(c.key);
        ASSERT_GE(pos, 0);
        // "JPG" takes the slot after "jpg", but its lookup finds "jpg" first.
        EXPECT_EQ(static_cast<unsigned>(pos), c.slot);
    }
}

TEST(hash_table, LookupIgnoresAsciiCaseOnly)
{
    Table t;
    ASSERT_EQ(t.InsertNode("pkg", FILE_TYPE_ARCHIVE), 1);
    ASSERT_EQ(t.InsertNode("\xc3\xa9", FILE_TYPE_DOCUMENT), 1);
    FILE_TYPE_ID v = FILE_TYPE_OTHER;
    EXPECT_EQ(t.FindNode("PKG", v), 1);
    EXPECT_EQ(v, FILE_TYPE_ARCHIVE);
    EXPECT_EQ(t.GetHashTablePos("PkG"), t.GetHashTablePos("pkg"));
    EXPECT_EQ(t.FindNode("\xc3\xa9", v), 1);
    EXPECT_EQ(v, FILE_TYPE_DOCUMENT);
    // "É" is another byte sequence, not an upper-case form of these bytes.
    EXPECT_EQ(t.GetHashTablePos("\xc3\x89"), -1);
}

TEST(hash_table, NullKeys)
{
    Table t;
    FILE_TYPE_ID v = FILE_TYPE_MOVIE;
    EXPECT_EQ(t.InsertNode(nullptr, FILE_TYPE_MUSIC), 0);
    EXPECT_EQ(t.GetHashTablePos(nullptr), -1);
    EXPECT_EQ(t.FindNode(nullptr, v), 0);
    EXPECT_EQ(t.FindNode("jpg", v), 0);
    EXPECT_EQ(v, FILE_TYPE_MOVIE);
}

TEST(hash_table, DuplicateKeyTakesSecondSlotAndFirstWins)
{
    Table t;
    ASSERT_EQ(t.InsertNode("jpg", FILE_TYPE_PICTURE), 1);
    ASSERT_EQ(t.InsertNode("JPG", FILE_TYPE_MUSIC), 1);
    FILE_TYPE_ID v = FILE_TYPE_OTHER;
    ASSERT_EQ(t.FindNode("jpg", v), 1);
    EXPECT_EQ(v, FILE_TYPE_PICTURE);
    EXPECT_EQ(t.GetHashTablePos("jpg"), 1459);
}

TEST(hash_table, FullTableRefusesAndLookupsEnd)
{
    Table t;
    for (int i = 0; i < 2048; ++i) {
        std::string key = "k" + std::to_string(i);
        ASSERT_EQ(t.InsertNode(key.c_str(), FILE_TYPE_MOVIE), 1) << key;
    }
    EXPECT_EQ(t.InsertNode("one-too-many", FILE_TYPE_MOVIE), 0);
    EXPECT_EQ(t.GetHashTablePos("absent"), -1);
    EXPECT_EQ(t.GetHashTablePosFullWalk("absent"), -1);
    std::set<int> slots;
    for (int i = 0; i < 2048; ++i) {
        std::string key = "k" + std::to_string(i);
        int pos = t.GetHashTablePos(key.c_str());
        ASSERT_GE(pos, 0) << key;
        slots.insert(pos);
    }
    EXPECT_EQ(slots.size(), 2048u);
}

// Lookups end at the first unused slot; a walk over the whole probe run must
// give the same answer for present and absent keys alike.
TEST(hash_table, EarlyEndMatchesFullWalk)
{
    std::mt19937 rng(20240611);
    auto randomKey = [&] {
        std::string k;
        int len = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < len; ++i)
            k += static_cast<char>(1 + rng() % 255);
        return k;
    };
    for (int fill : {100, 1000, 1900, 2040}) {
        Table t;
        std::vector<std::string> present;
        while (static_cast<int>(present.size()) < fill) {
            std::string k = randomKey();
            if (t.GetHashTablePosFullWalk(k.c_str()) >= 0)
                continue;
            ASSERT_EQ(t.InsertNode(k.c_str(), FILE_TYPE_PICTURE), 1);
            present.push_back(k);
        }
        for (int i = 0; i < 2000; ++i) {
            std::string k = (i % 2) ? present[rng() % present.size()] : randomKey();
            ASSERT_EQ(t.GetHashTablePos(k.c_str()), t.GetHashTablePosFullWalk(k.c_str())) << "fill " << fill;
        }
    }
}

TEST(hash_file_types, InsertPiecesIncludingEmptyOnes)
{
    CFileTypeManager m;
    m.Insert2Table("", FILE_TYPE_PICTURE);
    EXPECT_EQ(m.GetHashTable().GetHashTablePos(""), -1) << "an empty list inserts nothing";
    m.Insert2Table("abc;;def;", FILE_TYPE_MUSIC);
    EXPECT_EQ(m.GetFileTypeID("abc"), FILE_TYPE_MUSIC);
    EXPECT_EQ(m.GetFileTypeID("DEF"), FILE_TYPE_MUSIC);
    EXPECT_EQ(m.GetFileTypeID(""), FILE_TYPE_MUSIC) << "empty pieces are inserted";
    EXPECT_EQ(m.GetFileTypeID("ab"), FILE_TYPE_OTHER);
    EXPECT_EQ(m.GetFileTypeID(nullptr), FILE_TYPE_OTHER);
}

TEST(hash_file_types, EarlierGroupWinsAndMissingListsAreEmpty)
{
    CFileTypeManager m;
    m.Initialize({{1, "jpg;raw"}, {2, "mp3;raw"}, {16, "raw;pdf"}});
    EXPECT_EQ(m.GetFileTypeID("raw"), FILE_TYPE_PICTURE);
    EXPECT_EQ(m.GetFileTypeID("MP3"), FILE_TYPE_MUSIC);
    EXPECT_EQ(m.GetFileTypeID("pdf"), FILE_TYPE_DOCUMENT);
    EXPECT_EQ(m.GetFileTypeID("zip"), FILE_TYPE_OTHER);
}

// Every extension of the shipped lists lands in its own list's group: no
// extension is listed twice, and the table holds them all.
TEST(hash_file_types, DefaultListsSortEveryExtensionIntoItsGroup)
{
    std::map<int, std::string> lists = GetDefaultFileTypeLists();
    ASSERT_EQ(lists.size(), 5u);
    CFileTypeManager::Initialze(lists);
    CFileTypeManager m;
    ASSERT_EQ(m.Initialize(), 1);
    const std::map<int, FILE_TYPE_ID> groups = {{1, FILE_TYPE_PICTURE}, {2, FILE_TYPE_MUSIC}, {4, FILE_TYPE_MOVIE},
                                                {8, FILE_TYPE_ARCHIVE}, {16, FILE_TYPE_DOCUMENT}};
    size_t total = 0;
    for (auto& [bit, list] : lists) {
        ASSERT_FALSE(list.empty());
        size_t begin = 0;
        for (;;) {
            size_t end = list.find(';', begin);
            std::string ext = list.substr(begin, end == std::string::npos ? end : end - begin);
            ASSERT_FALSE(ext.empty()) << "list " << bit;
            EXPECT_EQ(m.GetFileTypeID(ext.c_str()), groups.at(bit)) << ext;
            ++total;
            if (end == std::string::npos)
                break;
            begin = end + 1;
        }
    }
    EXPECT_EQ(total, 104u);
    for (const char* other : {"exe", "dll", "ttf", "pst", "", "jp"})
        EXPECT_EQ(m.GetFileTypeID(other), FILE_TYPE_OTHER) << other;
}

}  // namespace

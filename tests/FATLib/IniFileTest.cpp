// The INI reader keeps lines exactly as written.
#include <gtest/gtest.h>

#include <fstream>

#include "IniFile.h"
#include "TestSupport.h"

TEST(fat_ini, Table)
{
    struct Lookup {
        const char* section;
        const char* key;
        unsigned int result;
        std::string value;
    };
    struct Row {
        const char* name;
        std::string text;
        int load;
        std::vector<Lookup> lookups;
    };
    const std::string longA(1021, 'a');  // "k=" + 1,021 characters fill one 1,023-character read
    const std::string longB(475, 'b');
    const std::vector<Row> rows = {
        {"last line without newline", "[UserExperience]\nbRevise=0", 0,
         {{"UserExperience", "bRevise", 0, "0"}}},
        {"spaces around =", "[S]\nkey = value\n", 0,
         {{"S", "key ", 0, " value"}, {"S", "key", 0xFFFFFFFF, ""}}},
        {"CRLF keeps the carriage return", "[UserExperience]\r\nbRevise=0\r\n", 0,
         {{"UserExperience", "bRevise", 0, "0\r"}}},
        {"key before a section", "bRevise=0\n[S]\nk=v\n", -1,
         {{"S", "k", 0xFFFFFFFF, ""}}},
        {"[ without ]", "[S]\na=1\n[T\nb=2\n", -1,
         {{"S", "a", 0, "1"}, {"S", "b", 0xFFFFFFFF, ""}, {"T", "b", 0xFFFFFFFF, ""}}},
        {"empty value", "[S]\nk=\n", 0,
         {{"S", "k", 0xFFFFFFFF, ""}, {"S", "absent", 0xFFFFFFFF, ""}, {"Nope", "k", 0xFFFFFFFF, ""}}},
        {"a 1,500-character line comes in two pieces", "[S]\nk=" + longA + "m=" + longB + "\n", 0,
         {{"S", "k", 0, longA}, {"S", "m", 0, longB}}},
        {"a later line replaces", "[S]\nk=1\n[T]\nk=2\n[S]\nk=3\n", 0,
         {{"S", "k", 0, "3"}, {"T", "k", 0, "2"}}},
        {"no trimming or case change", "[ Sec ]\n Key=Value ;c\n", 0,
         {{" Sec ", " Key", 0, "Value ;c"}, {"sec", " Key", 0xFFFFFFFF, ""}}},
        {"a line starting with a zero byte is passed over", std::string("[S]\n\0k=1\nj=2\n", 13), 0,
         {{"S", "j", 0, "2"}, {"S", "k", 0xFFFFFFFF, ""}}},
        {"a section is the text up to the first ]", "[A]B]\nk=v\n", 0, {{"A", "k", 0, "v"}}},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir / "UIConfig.ini";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << row.text;
        CIniFile ini;
        EXPECT_EQ(ini.Init(path), row.load);
        for (const Lookup& l : row.lookups) {
            std::string value = "unchanged";
            EXPECT_EQ(ini.ReadItem(l.section, l.key, value), l.result) << l.section << "/" << l.key;
            if (l.result == 0) {
                EXPECT_EQ(value, l.value);
            }
        }
    }

    CIniFile missing;
    EXPECT_EQ(missing.Init(dir / "absent.ini"), -1);
    std::string value;
    EXPECT_EQ(missing.ReadItem("UserExperience", "bRevise", value), 0xFFFFFFFF);

    FILE* empty = std::fopen((dir / "UIConfig.ini").c_str(), "w+");
    std::string line = "x";
    EXPECT_EQ(CIniFile::ReadLine(empty, line), -1);
    std::fclose(empty);
}

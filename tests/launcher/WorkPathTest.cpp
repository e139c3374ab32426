// The user's work folder: which folder the variables name, and making it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "TestSupport.h"
#include "WorkPath.h"

TEST(WorkPath, FolderNamedByTheVariablesAndTheInvokingUser)
{
    using Env = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        Env env;
        std::string invokingHome, ownHome, expected;
    };
    const std::vector<Case> cases = {
        {"override wins", {{"VANTREL_WORK_DIR", "/w"}, {"XDG_DATA_HOME", "/x"}}, "/home/u", "/root", "/w"},
        {"data home", {{"XDG_DATA_HOME", "/x/data/"}, {"HOME", "/home/u"}}, "", "/home/u",
         "/x/data/vantrel-data-recovery"},
        {"relative data home is ignored", {{"XDG_DATA_HOME", "data"}, {"HOME", "/home/u"}}, "", "/root",
         "/home/u/.local/share/vantrel-data-recovery"},
        {"pkexec: the invoking user's home, not root's", {{"HOME", "/root"}}, "/home/u", "/root",
         "/home/u/.local/share/vantrel-data-recovery"},
        {"pkexec: the data home the launcher passed on", {{"HOME", "/root"}, {"XDG_DATA_HOME", "/d"}}, "/home/u",
         "/root", "/d/vantrel-data-recovery"},
        {"no HOME: the user database", {}, "", "/home/db", "/home/db/.local/share/vantrel-data-recovery"},
        {"relative HOME: the user database", {{"HOME", "home"}}, "", "/home/db",
         "/home/db/.local/share/vantrel-data-recovery"},
        {"nothing to go by", {}, "", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseAppWorkPath(c.env, c.invokingHome, c.ownHome), c.expected) << c.name;
}

TEST(WorkPath, FolderIsMadeWithItsParentsAndKeptPrivate)
{
    TempDir dir;
    const std::string path = dir / "home/.local/share/vantrel-data-recovery";
    ASSERT_TRUE(MakeWorkFolder(path));
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((dir / "home/.local").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(MakeWorkFolder(path));  // already there

    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(MakeWorkFolder(dir / "file"));
    EXPECT_FALSE(MakeWorkFolder(dir / "file/below"));
    EXPECT_FALSE(MakeWorkFolder(""));
}

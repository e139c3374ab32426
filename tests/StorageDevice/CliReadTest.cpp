// `vantrel-cli read` against xxd on the demo sample.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "CommandStatus.h"
#include "TestSupport.h"

namespace {

class CliReadTest : public testing::Test {
protected:
    void SetUp() override
    {
        RunTool(std::string("bash '") + VANTREL_MAKE_DEMO_SAMPLE + "' '" + m_dir.path() + "'");
        m_digest = FileDigest(m_image);
    }
    void TearDown() override { EXPECT_EQ(FileDigest(m_image), m_digest) << "the sample was changed"; }

    // Runs the CLI with args, where IMG stands for the sample's path.
    int Cli(std::string args, std::string& output)
    {
        for (size_t at; (at = args.find("IMG")) != std::string::npos;)
            args.replace(at, 3, "'" + m_image + "'");
        return RunCommandStatus(std::string("'") + VANTREL_CLI + "' " + args, output);
    }

    TempDir m_dir;
    std::string m_image = m_dir / "sample.img";
    std::string m_digest;
};

TEST_F(CliReadTest, DumpEqualsXxd)
{
    struct {
        const char* cli;
        const char* xxd;
    } rows[] = {
        {"read IMG 0 1", "-l 512"},
        {"read IMG 2048 3", "-s 1048576 -l 1536"},
        {"read --sector-size 4096 IMG 256 1", "-s 1048576 -l 4096"},
        {"read IMG 0x800 1", "-s 1048576 -l 512"},
        {"read IMG 131071 1", "-s 67108352 -l 512"},
        {"read IMG 0 8192", "-l 4194304"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cli);
        std::string dump, expected;
        ASSERT_EQ(Cli(row.cli, dump), 0) << dump;
        ASSERT_EQ(RunCommandStatus(std::string("xxd ") + row.xxd + " '" + m_image + "'", expected), 0);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(dump == expected) << "first difference at byte "
                                      << std::mismatch(dump.begin(), dump.end(), expected.begin(), expected.end())
                                                 .first -
                                             dump.begin();
    }
}

TEST_F(CliReadTest, FailuresAndUsageErrors)
{
    struct {
        const char* args;
        int status;
        const char* text;
    } rows[] = {
        {"read IMG 131072 1", 1, "0x10e00c400000001"},             // past the end
        {"read --sector-size 4096 IMG 16384 1", 1, "0x10e00c400000001"},
        {"read IMG 36028797018963967 1", 1, "0x10e009400000005"},  // byte offset would overflow
        {"read missing.img 0 1", 1, "cannot be opened: No such file or directory"},
        {"read IMG 0 0", 2, "COUNT"},
        {"read IMG 0 8193", 2, "COUNT"},
        {"read IMG 0 ten", 2, "COUNT"},
        {"read IMG sector 1", 2, "SECTOR"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        std::string output;
        EXPECT_EQ(Cli(row.args, output), row.status) << output;
        EXPECT_NE(output.find(row.text), std::string::npos) << output;
    }
}

TEST_F(CliReadTest, LoopDeviceReadsAsTheImage)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "loop devices need root";
    std::string loop;
    if (RunCommandStatus("losetup -f --show -r '" + m_image + "'", loop) != 0)
        GTEST_SKIP() << "losetup failed: " << loop;
    loop.erase(loop.find_last_not_of('\n') + 1);
    std::string dump, expected, out;
    int status = RunCommandStatus(std::string("'") + VANTREL_CLI + "' read '" + loop + "' 2048 1", dump);
    RunCommandStatus("losetup -d '" + loop + "'", out);
    ASSERT_EQ(status, 0) << dump;
    ASSERT_EQ(RunCommandStatus("xxd -s 1048576 -l 512 '" + m_image + "'", expected), 0);
    EXPECT_EQ(dump, expected);
}

}  // namespace

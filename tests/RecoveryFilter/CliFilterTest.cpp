// vantrel-cli loads the shipped file-type lists before the program's filter
// is built and hands --types to it.
#include <gtest/gtest.h>

#include "CliFilter.h"
#include "IRecovery.h"
#include "TestSupport.h"

namespace {

TEST(cli_filter, TypesMaskReachesTheProgramFilter)
{
    CliOptions options;
    options.types = 0x01 | 0x04;
    IRecoveryFilter* filter = CliPrepareFilter(options);
    ASSERT_EQ(filter, CreateFilter());
    TestNode photo("IMG_0001.CR2"), song("song.mp3"), clip("clip.MKV"), other("setup.exe");
    EXPECT_EQ(filter->IsFileNodeValid(&photo), 1);
    EXPECT_EQ(filter->IsFileNodeValid(&song), 0);
    EXPECT_EQ(filter->IsFileNodeValid(&clip), 1);
    EXPECT_EQ(filter->IsFileNodeValid(&other), 0);
    EXPECT_EQ(filter->GetNodeFileType(&song), 0x02);

    options.types = 127;
    CliPrepareFilter(options);
    EXPECT_EQ(filter->IsFileNodeValid(&other), 1);
}

}  // namespace

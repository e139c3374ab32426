// `vantrel-cli devices` on this machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "CommandStatus.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::vector<std::string>> Lines(const std::string& text)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(line.substr(from, tab - from));
        fields.push_back(line.substr(from));
        lines.push_back(std::move(fields));
    }
    return lines;
}

std::string Devices(int& status)
{
    std::string output;
    // Standard output only: the engine's diagnostics go to standard error.
    status = RunCommandStatus(std::string("('") + VANTREL_CLI + "' devices 2>/dev/null)", output);
    return output;
}

// Every line has the seven fields of the contract; memory disks and loop
// devices with nothing attached are not listed.
TEST(enum_cli, DevicesListsThisMachine)
{
    int status = -1;
    const std::string output = Devices(status);
    EXPECT_EQ(status, 0) << output;
    std::vector<std::string> detached;
    for (const auto& f : Lines(output)) {
        ASSERT_EQ(f.size(), 7u) << output;
        EXPECT_TRUE(f[0] == "disk" || f[0] == "volume" || f[0] == "partition") << f[0];
        EXPECT_EQ(f[1].rfind("/dev/", 0), 0u) << f[1];
        EXPECT_TRUE(f[2] == "512" || f[2] == "1024" || f[2] == "2048" || f[2] == "4096") << f[2];
        if (f[0] != "disk")
            continue;
        const std::string name = f[1].substr(5);
        EXPECT_NE(name.rfind("zram", 0), 0u) << name;
        EXPECT_NE(name.rfind("ram", 0), 0u) << name;
        if (name.rfind("loop", 0) == 0 && !fs::exists("/sys/block/" + name + "/loop/backing_file"))
            detached.push_back("/dev/" + name);
        EXPECT_EQ(f[4] + f[5] + f[6], "");
    }
    // Other programs on this machine attach and detach loop devices while
    // the test runs: a loop device without its file now must have lost it
    // after the listing, so the next listing leaves it out.
    if (detached.empty())
        return;
    const std::string again = Devices(status);
    for (const auto& f : Lines(again)) {
        for (const std::string& device : detached) {
            if (f.size() > 1 && f[1] == device) {
                EXPECT_TRUE(fs::exists("/sys/block/" + device.substr(5) + "/loop/backing_file"))
                    << device << " is listed without an attached file";
            }
        }
    }
}

}  // namespace

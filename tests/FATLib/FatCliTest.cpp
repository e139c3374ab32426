// The FAT recogniser as the command line's device list shows it, on loop
// devices over the fixture images (root only; skipped without loop devices).
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "CommandStatus.h"
#include "FatTestSupport.h"
#include "TestSupport.h"

namespace {

// A read-only loop device over an image, detached on every way out.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image)
    {
        if (RunCommandStatus("losetup -r -f --show '" + image + "'", m_path) != 0)
            m_path.clear();
        else
            m_path.erase(m_path.find_last_not_of('\n') + 1);
    }
    ~LoopDevice()
    {
        std::string out;
        if (!m_path.empty())
            RunCommandStatus("losetup -d '" + m_path + "'", out);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace

TEST(fat_structures, LoopDevicesListTheirFatVolume)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "loop devices need root";
    struct Row {
        const char* image;
        const char* type;  // as a number or by name
        const char* typeName;
        const char* label;
    };
    const Row rows[] = {{"fat16.img", "1", "FAT16", "PART16"}, {"fat32.img", "2", "FAT32", "FIXT32"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.image);
        const std::string image = FatImagePath(row.image);
        const std::string before = FileDigest(image);
        {
            LoopDevice loop(image);
            if (loop.path().empty())
                GTEST_SKIP() << "no loop device could be attached";
            std::string out;
            ASSERT_EQ(RunCommandStatus(std::string("'") + VANTREL_CLI + "' devices", out), 0) << out;
            // kind path sector_size sectors fs_type label mounted
            bool found = false;
            std::istringstream lines(out);
            std::string line;
            while (std::getline(lines, line)) {
                std::vector<std::string> f;
                std::istringstream fields(line);
                for (std::string x; std::getline(fields, x, '\t');)
                    f.push_back(x);
                if (f.size() < 6 || f[0] != "volume" || f[1] != loop.path())
                    continue;
                found = true;
                EXPECT_TRUE(f[4] == row.type || f[4] == row.typeName) << line;
                EXPECT_EQ(f[5], row.label) << line;
            }
            EXPECT_TRUE(found) << out;
        }
        EXPECT_EQ(FileDigest(image), before);
    }
}

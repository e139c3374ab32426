#include "BridgeMachine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "BridgeTestSupport.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "TestSupport.h"
#include "ZRUIDeviceData.h"

namespace {

struct Machine {
    TempDir root;
    std::unique_ptr<FakeSys> sys;
    std::unique_ptr<CEnumDeviceEx> enumerator;
};

}  // namespace

// Never destroyed: detached scan threads may still read the devices at exit.
// Kept in a global the leak checker can see.
Machine* g_bridgeMachine = nullptr;

void ListBridgeMachine(bool moreSharesTempDevice)
{
    if (!g_bridgeMachine) {
        auto* m = new Machine;
        std::string sameDev;
        if (moreSharesTempDevice) {
            struct stat st {};
            EXPECT_EQ(stat(m->root.path().c_str(), &st), 0);
            sameDev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
        }
        m->sys = std::make_unique<FakeSys>(m->root.path());
        AddBridgeDisks(*m->sys, sameDev);
        m->enumerator = std::make_unique<CEnumDeviceEx>(m->sys->Platform());
        ZRUIDeviceData::instance().ReplaceEnumerator(m->enumerator.get());
        ZRUIDeviceData::instance().InitDeviceInfo();
        std::map<int, std::string> lists = GetDefaultFileTypeLists();
        CFileTypeManager::Initialze(lists);
        CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
        g_bridgeMachine = m;
    }
    EXPECT_EQ(ZRUIDeviceData::instance().GetInitState(), 2);
}

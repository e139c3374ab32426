#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <ctime>

#include "SearcherRegistry.h"
#include "WorkPath.h"

int main(int argc, char** argv)
{
    // Every test runs in UTC with a UTF-8 locale, also when started by hand;
    // fixture tools started from tests inherit both.
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    tzset();
    setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");

    // Logs of the engine go to a fresh folder, never into the build tree.
    std::string work = (std::filesystem::temp_directory_path() / "vantrel-work-XXXXXX").string();
    if (mkdtemp(work.data())) {
        SetAppWorkPath(work);
        setenv("VANTREL_WORK_DIR", work.c_str(), 1);  // and of the programs tests start
    }
    RegisterAllEngineModules();
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return rc;
}

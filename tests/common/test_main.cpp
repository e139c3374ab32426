#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "SearcherRegistry.h"
#include "WorkPath.h"

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");

    // Logs of the engine go to a fresh folder, never into the build tree.
    std::string work = (std::filesystem::temp_directory_path() / "vantrel-work-XXXXXX").string();
    if (mkdtemp(work.data()))
        SetAppWorkPath(work);
    RegisterAllEngineModules();
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return rc;
}

// One widget application object for the whole test run, on the offscreen
// platform so that no display is needed.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "vantrel-ui-tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace

// The platform libraries (fonts, the offscreen backend) keep caches that live
// until the process ends; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Core\nleak:libQt6Widgets\nleak:libglib\n"
           "leak:libqoffscreen\nleak:libfreetype\n";
}

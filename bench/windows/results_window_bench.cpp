// The results window over a result of a million found files: one volume of
// 1,000 folders with 1,000 files each (ten kinds of extension, creation and
// modification times spread over two years), handed to the bridge the way
// a scan's searcher hands its nodes over, then shown in the real window on
// the offscreen platform. Timed, each on its own: checking the volume's
// root, switching to the type, creation-time, modification-time and path
// trees, and a name search up to the list of its hits. Every step should
// end within a second; the figures are printed, the exit status is 1 when a
// step took longer.
//
//   results_window_bench [files]   (default 1000000)
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BundleResources.h"
#include "FileNode.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "NewSearchTextFiled.h"
#include "NotificationCenter.h"
#include "OpNodeData.h"
#include "ZRDeletailWindowController.h"
#include "ZRUIController.h"
#include "ZRUIPublic.h"
#include "ZRUIScan.h"

namespace {

constexpr int kFilesPerFolder = 1000;
constexpr double kLimitMs = 1000.0;

// 100-nanosecond steps since 1601 of a Unix time.
unsigned long long FileTime(long long unixSeconds)
{
    return static_cast<unsigned long long>(unixSeconds + 11644473600LL) * 10000000ULL;
}

class BenchNode : public CFileNode {
public:
    BenchNode(std::string name, long long id, bool directory, long long size, unsigned long long created,
              unsigned long long modified)
        : m_name(std::move(name)), m_directory(directory), m_size(size), m_created(created), m_modified(modified)
    {
        m_llNodeID = id;
        ShowNode(1);
    }
    const char* GetFileName() override { return m_name.c_str(); }
    long long GetFileSize() override { return m_size; }
    unsigned int GetAttribute() override { return m_directory ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0; }
    unsigned long long GetCreationTime() override { return m_created; }
    unsigned long long GetModificationTime() override { return m_modified; }
    unsigned long long GetLastAccessTime() override { return m_modified; }
    int IsDirectory() override { return m_directory ? 1 : 0; }
    int IsDeleted() override { return 0; }
    IFileNode* Clone() override { return nullptr; }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}

private:
    std::string m_name;
    bool m_directory;
    long long m_size;
    unsigned long long m_created, m_modified;
};

// Runs the event loop until done() holds or a minute has passed.
bool Turn(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const long long files = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int folders = static_cast<int>(std::max<long long>(1, files / kFilesPerFolder));

    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_DIR "/UI/Resources"));
    Bundle::SetLanguage("en");
    std::map<int, std::string> lists = GetDefaultFileTypeLists();
    CFileTypeManager::Initialze(lists);
    ZRUIController::SetRecoveryType(127);

    // The volume, its folders and files, linked as the tree builder links
    // them, then shown to the bridge in batches as a searcher shows them.
    static const char* const kExtensions[] = {"jpg", "png", "mp3", "mp4", "doc", "pdf", "zip", "txt", "mov", "xls"};
    QElapsedTimer clock;
    clock.start();
    auto* volume = new CFilesystemNode("BENCH", "BENCH", SEARCHER_FAT, 1);
    std::vector<IFileNode*> nodes;
    nodes.reserve(static_cast<size_t>(files + folders));
    long long id = 2;
    const long long start = 1640995200;  // 2022-01-01
    for (int f = 0; f < folders; ++f) {
        auto* folder = new BenchNode("folder-" + std::to_string(f), id++, true, 0, 0, 0);
        volume->AddChild(folder);
        nodes.push_back(folder);
        for (int i = 0; i < kFilesPerFolder && static_cast<long long>(nodes.size()) < files + folders; ++i) {
            const long long n = static_cast<long long>(f) * kFilesPerFolder + i;
            char name[40];
            std::snprintf(name, sizeof name, "photo-%07lld.%s", n, kExtensions[n % 10]);
            const long long when = start + (n % 730) * 86400;
            auto* file = new BenchNode(name, id++, false, 4096 + n % 100000, FileTime(when), FileTime(when + 3600));
            folder->AddChild(file);
            nodes.push_back(file);
        }
    }
    ZRUIScan& scan = ZRUIScan::instance();
    scan.ShowFilesystemNode(volume);
    for (size_t at = 0; at < nodes.size(); at += 10000)
        scan.ShowNodes(nodes.data() + at, static_cast<unsigned int>(std::min<size_t>(10000, nodes.size() - at)), 0);
    std::printf("made %lld files in %d folders in %.0f ms\n", static_cast<long long>(nodes.size()) - folders,
                folders, clock.nsecsElapsed() / 1e6);

    // The window, as at the end of a scan: it listens for the scan (none
    // starts without a chosen device) and the last notification arrives.
    auto window = std::make_unique<ZRDeletailWindowController>();
    window->showWindow();
    window->getData();
    NotificationCenter::defaultCenter().PostNotification("NormalScranValue", ZRUIPublic::ClassObject());
    if (!Turn([&] { return window->outlineViewNumberOfChildrenOfItem(nullptr) > 0; })) {
        std::fprintf(stderr, "the path tree never filled\n");
        return 2;
    }
    QCoreApplication::processEvents();

    bool slow = false;
    auto timed = [&](const char* step, const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        const double ms = t.nsecsElapsed() / 1e6;
        slow = slow || ms > kLimitMs;
        std::printf("%-28s %9.1f ms%s\n", step, ms, ms > kLimitMs ? "  (over 1 s)" : "");
    };

    OpNodeData* root = window->outlineViewChildOfItem(0, nullptr);
    timed("check the root", [&] { window->clickButtonAction(root); });
    timed("uncheck the root", [&] { window->clickButtonAction(root); });
    timed("type tree", [&] { window->typeButtonClick(); });
    timed("creation-time tree", [&] { window->timeButtonClick(); });
    timed("modification-time tree", [&] { window->modifyTimeButtonClick(); });
    timed("path tree", [&] { window->pathButtonClick(); });

    // A name search: from the key to the list of its hits.
    bool searched = false;
    NotificationCenter::defaultCenter().AddObserver(&searched, "DoSearchValue",
                                                    [&](const Notification&) { searched = true; });
    timed("name search \"photo-00123\"", [&] {
        window->search->textField()->setText(QStringLiteral("photo-00123"));
        window->doSearchWithKey(QStringLiteral("photo-00123"));
        Turn([&] { return searched && !window->arrList().empty(); });
    });
    std::printf("search hits listed: %zu\n", window->arrList().size());
    NotificationCenter::defaultCenter().RemoveObserver(&searched);
    window.reset();
    return slow ? 1 : 0;
}

#include "OutlineTestSupport.h"

#include <ctime>

#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"
#include "ZRUISearch.h"

unsigned long long FileTimeOf(long long unixSeconds)
{
    return static_cast<unsigned long long>(unixSeconds + 11644473600LL) * 10000000ULL;
}

unsigned long long FileTimeOfDate(int year, int month, int day)
{
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    return FileTimeOf(static_cast<long long>(timegm(&t)));
}

namespace {

void ResetAll()
{
    ZRUIScan::instance().ClearData();
    ZRUIScan::instance().SetScanType(0);
    ZRTypeMgr::share().clear();
    ZRTimeMgr::share().clear();
    ZRUISearch::instance().SetSearchKey("");
    ZRUISearch::instance().StopSearch();
}

}  // namespace

FakeResult::FakeResult()
{
    std::map<int, std::string> lists = GetDefaultFileTypeLists();
    CFileTypeManager::Initialze(lists);
    ZRUIFilter::instance().ResetFilter(127);
    ResetAll();
}

FakeResult::~FakeResult() { ResetAll(); }

CFilesystemNode* FakeResult::Root(const std::string& volumeName)
{
    auto* root = new CFilesystemNode("", volumeName.c_str(), SEARCHER_FAT, 0);
    m_nodes.emplace_back(root);
    return root;
}

TestNode* FakeResult::Folder(CFileNode* parent, const std::string& name)
{
    auto* folder = new TestNode(name, static_cast<long long>(m_nodes.size()) + 1, true);
    m_nodes.emplace_back(folder);
    if (parent)
        parent->AddChild(folder);
    return folder;
}

TestNode* FakeResult::File(CFileNode* parent, const std::string& name, unsigned long long created,
                           unsigned long long modified, long long size)
{
    auto* file = new TestNode(name, static_cast<long long>(m_nodes.size()) + 1, false);
    file->m_created = created;
    file->m_modified = modified;
    file->m_size = size;
    m_nodes.emplace_back(file);
    if (parent)
        parent->AddChild(file);
    return file;
}

void FakeResult::Deliver()
{
    std::vector<IFileNode*> batch;
    for (; m_iDelivered < m_nodes.size(); ++m_iDelivered) {
        CFileNode* node = m_nodes[m_iDelivered].get();
        if (auto* root = dynamic_cast<CFilesystemNode*>(node))
            ZRUIScan::instance().ShowFilesystemNode(root);
        else
            batch.push_back(node);
    }
    if (!batch.empty())
        ZRUIScan::instance().ShowNodes(batch.data(), static_cast<unsigned int>(batch.size()), 0);
}

void FakeResult::Redeliver(IFileNode* node) { ZRUIScan::instance().ShowNodes(&node, 1, 0); }

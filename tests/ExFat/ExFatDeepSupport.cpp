#include "ExFatDeepSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "ExFatFileNode.h"
#include "ExFatQuickSearch.h"
#include "ExFatTestSupport.h"
#include "ImageFileDevice.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

void ZeroSectors(const std::string& image, long long first, long long count)
{
    RunTool("dd if=/dev/zero of=" + Quote(image) + " bs=512 seek=" + std::to_string(first) +
            " count=" + std::to_string(count) + " conv=notrunc status=none");
}

std::string MakeDiskVariant(const TempDir& dir, const std::string& variant)
{
    const std::string path = dir / ("ex-disk-" + variant + ".img");
    CopyFile(ExFatImagePath("ex-disk.img"), path);
    if (variant == "no-mbr")
        ZeroSectors(path, 0, 1);
    else if (variant == "p1-main")
        ZeroSectors(path, kDiskP1Start, 12);
    else if (variant == "p1-both")
        ZeroSectors(path, kDiskP1Start, 24);
    else
        EXPECT_EQ(variant, "intact");
    return path;
}

std::string MakeLateDisk(const TempDir& dir)
{
    const std::string path = dir / "late-disk.img";
    RunTool("truncate -s 600M " + Quote(path) + " && dd if=" + Quote(ExFatImagePath("ex-late.img")) + " of=" +
            Quote(path) + " bs=512 seek=" + std::to_string(kLateOffset) + " conv=notrunc status=none");
    ZeroSectors(path, kLateOffset, 24);
    ZeroSectors(path, kLateOffset + 4127, 1);
    return path;
}

int CWindowDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!buffer || first < 0 || count < 1 || first + count > m_llCount)
        return 0;
    return m_pSource->ReadSector(buffer, m_llStart + first, count);
}

std::multiset<std::string> TreeLines(const CRecordingBuilder& builder)
{
    std::map<long long, CExFatFileNode*> folders;
    for (CExFatFileNode* n : builder.m_nodes) {
        if (!n->IsDirectory())
            continue;
        CExFatFileNode*& slot = folders[n->GetCurrentNodeID()];
        if (!slot || (slot->IsDeleted() && !n->IsDeleted()) ||
            (slot->IsDeleted() == n->IsDeleted() && std::string(n->GetFileName()) < slot->GetFileName()))
            slot = n;
    }
    std::multiset<std::string> out;
    for (CExFatFileNode* n : builder.m_nodes) {
        std::string path = n->GetFileName();
        long long parent = n->GetParentNodeID();
        for (int depth = 0; parent != builder.m_rootId; ++depth) {
            auto it = folders.find(parent);
            if (it == folders.end() || depth > 64) {
                path = "?" + std::to_string(parent) + "/" + path;
                break;
            }
            path = std::string(it->second->GetFileName()) + "/" + path;
            parent = it->second->GetParentNodeID();
        }
        out.insert(path + "\t" + std::to_string(n->GetFileSize()) + "\t" + std::to_string(n->IsDeleted()) + "\t" +
                   std::to_string(n->IsDirectory()));
    }
    return out;
}

std::multiset<std::string> QuickTreeLines(const std::string& image, long long start, long long count)
{
    auto disk = OpenImageFileDisk(image, 512);
    EXPECT_TRUE(disk) << image;
    if (!disk)
        return {};
    CWindowDevice volume(disk.get(), start, count);
    CRecordingBuilder builder;
    CRecordingProgress progress;
    CExFatQuickSearch searcher;
    searcher.SetDirecotryTreeBuilder(&builder);
    searcher.QuickSearchFiles(&volume, &progress);
    return TreeLines(builder);
}

void RunDeep(DeepRun& run, const std::string& image, long long block, long long stopAt,
             const std::function<void(long long end, const CExFatCompleteSearch&)>& afterBlock)
{
    run.device = OpenImageFileDisk(image, 512);
    ASSERT_TRUE(run.device) << image;
    CExFatCompleteSearch& s = *run.searcher;
    s.SetDevice(run.device.get());
    s.SetBlockSize(static_cast<int>(block));
    s.SetDirecotryTreeBuilder(run.builder.get());
    s.PreparetoSearch();
    const long long total = stopAt >= 0 ? stopAt : run.device->GetTotalSectors();
    for (long long start = 0; start < total; start += block) {
        ASSERT_EQ(s.AnalyzeBlock(start, std::min(block, total - start)), 1) << start;
        if (afterBlock)
            afterBlock(start + std::min(block, total - start), s);
    }
    run.before = s.DebugListing();
    if (stopAt >= 0)
        return;
    s.EndSearch(1);
    run.after = s.DebugListing();
}

std::vector<std::map<std::string, std::string>> ListingLines(const std::string& listing, const std::string& kind)
{
    std::vector<std::map<std::string, std::string>> out;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(kind + " ", 0) != 0)
            continue;
        std::map<std::string, std::string> fields;
        std::istringstream words(line.substr(kind.size() + 1));
        std::string word;
        for (int i = 0; words >> word; ++i) {
            const size_t eq = word.find('=');
            if (eq == std::string::npos)
                fields[std::to_string(i)] = word;
            else
                fields[word.substr(0, eq)] = word.substr(eq + 1);
            if (word.rfind("names=", 0) == 0)
                break;
        }
        out.push_back(fields);
    }
    return out;
}

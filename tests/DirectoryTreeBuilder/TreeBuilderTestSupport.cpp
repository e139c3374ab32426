#include "TreeBuilderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

std::string NodePath(IFileNode* node)
{
    std::vector<std::string> names;
    for (IFileNode* n = node; n && names.size() < 1000000; n = n->GetParent())
        names.push_back(n->GetFileName() ? n->GetFileName() : "");
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty())
            path += '/';
        path += *it;
    }
    return path;
}

void RecordingSink::ShowNodes(IFileNode** nodes, unsigned int count, int flag)
{
    EXPECT_GT(count, 0u) << "empty batch";
    Batch b;
    b.flag = flag;
    b.nodes.assign(nodes, nodes + count);
    batches.push_back(std::move(b));
}

std::vector<std::string> RecordingSink::DeliveredLines() const
{
    std::vector<std::string> lines;
    for (const Batch& b : batches) {
        for (IFileNode* n : b.nodes) {
            std::string line = NodePath(n);
            if (n->IsDeleted())
                line += " [deleted]";
            if (b.flag == 1)
                line += " [lost]";
            lines.push_back(line);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> RecordingSink::RootNames() const
{
    std::vector<std::string> names;
    for (IFilesystemNode* r : roots)
        names.push_back(r->GetFileName());
    return names;
}

size_t RecordingSink::NodeCount() const
{
    size_t n = 0;
    for (const Batch& b : batches)
        n += b.nodes.size();
    return n;
}

BuilderFixture::BuilderFixture(bool restoreMode, _SCAN_TYPE scanType, const char* description)
    : filter(std::map<int, std::string>{{1, "jpg;png"}, {16, "txt"}})
{
    filter.SetScanType(scanType);
    builder = new CDirectoryTreeBuilder(restoreMode);
    builder->SetFirstBatchPause(std::chrono::milliseconds(0));
    builder->SetClock([this] { return now; });
    EXPECT_EQ(builder->Initialize(description, &sink, &filter), 1);
}

BuilderFixture::~BuilderFixture()
{
    ReleaseBuilder();
}

int BuilderFixture::Add(CountedNode* node, _tagSearcherType type)
{
    int taken = builder->AddNode(node, type);
    if (!taken)
        node->Release();
    return taken;
}

void BuilderFixture::ReleaseBuilder()
{
    if (builder)
        builder->Release();
    builder = nullptr;
}

#include "ApfsTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "IFileNode.h"
#include "TestSupport.h"

const ApfsFixture& SharedApfsFixture()
{
    static TempDir dir;
    static ApfsFixture fixture = [] {
        ApfsFixture f;
        f.empty = dir / "empty.img";
        f.image = dir / "apfs.img";
        f.source = dir / "src";
        RunTool("truncate -s 128M '" + f.empty + "' && mkapfs -L TestVol '" + f.empty + "' >/dev/null");
        RunTool("cp '" + f.empty + "' '" + f.image + "' && python3 '" APFS_FIXTURE_SCRIPT "' '" + f.image +
                "' '" + dir.path() + "'");
        return f;
    }();
    return fixture;
}

std::vector<unsigned char> ReadImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteImage(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Put32(std::vector<unsigned char>& image, size_t offset, uint32_t value)
{
    ASSERT_LE(offset + 4, image.size());
    std::memcpy(image.data() + offset, &value, 4);
}

void Put64(std::vector<unsigned char>& image, size_t offset, uint64_t value)
{
    ASSERT_LE(offset + 8, image.size());
    std::memcpy(image.data() + offset, &value, 8);
}

int RecordingBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    EXPECT_EQ(type, SEARCHER_APFS);
    nodes.push_back(node);
    return 1;
}

int RecordingBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    searchers.emplace_back(type, rootId);
    return 1;
}

int RecordingBuilder::FlashBuild(_tagSearcherType type)
{
    builds.push_back(type);
    return 1;
}

IFileNode* RecordingBuilder::Find(const std::string& name) const
{
    for (IFileNode* node : nodes)
        if (name == node->GetFileName())
            return node;
    return nullptr;
}

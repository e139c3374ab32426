// Carved files through the engine's own tree builder: what the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "LabelRawTreeBuilder.h"
#include "RAWFileManager.h"
#include "RawCandidates.h"
#include "RawSearchState.h"
#include "RecoveryFilter.h"

namespace {

class PathSink : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned int count, int) override
    {
        for (unsigned int i = 0; i < count; ++i)
            m_shown.push_back(nodes[i]);
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}

    // "/(RAW Files)/doc/x.DOC" style paths of every shown file.
    std::vector<std::string> FilePaths() const
    {
        std::vector<std::string> out;
        for (IFileNode* n : m_shown) {
            if (n->IsDirectory())
                continue;
            std::string path;
            for (IFileNode* p = n; p; p = p->GetParent())
                path = "/" + std::string(p->GetFileName() ? p->GetFileName() : "") + path;
            out.push_back(path);
        }
        return out;
    }

private:
    std::vector<IFileNode*> m_shown;
};

TEST(rawRealTree, CarvedFilesAppearWhereTheUserLooks)
{
    ResetRawSearchState();
    CRecoveryFilter filter;
    filter.SetScanType(SCAN_TYPE_DEEP);
    filter.SetFilterTypes(127);
    PathSink sink;
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false);
    ASSERT_NE(builder, nullptr);
    if (auto* real = dynamic_cast<CDirectoryTreeBuilder*>(builder))
        real->SetFirstBatchPause(std::chrono::milliseconds(0));
    ASSERT_EQ(builder->Initialize("Disk", &sink, &filter), 1);
    builder->AddSearcherInfo(SEARCHER_RAW, RAW_ROOT_ID);
    builder->AddSearcherInfo(SEARCHER_LABEL_RAW, LABEL_RAW_ROOT_ID);
    {
        CLABELRAWTreeBuilder labels;
        CRAWFileManager documents(1, 6, builder, &labels);
        CRAWFileManager pictures(1, 2, builder, &labels);
        EXPECT_EQ(documents.AddRawFileInfo(MakeCandidate(23, 100, 2048, ".NET notes").get()), 1);
        EXPECT_EQ(documents.AddRawFileInfo(MakeCandidate(23, 100, 2048).get()), 1);
        EXPECT_EQ(pictures.AddRawFileInfo(MakeTagged(35, RAW_TAG_CAMERA, "CANON").get()), 1);
        EXPECT_EQ(pictures.AddRawFileInfo(MakeTagged(35, RAW_TAG_CAMERA, "CANON").get()), 1);
        EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(50, RAW_TAG_OFFICE, "Bob", "Report").get()), 1);
        // Every group numbers its files from 10000; the counters of a type
        // are shared by both trees.
        EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(35, 100, 2048, "Beach").get()), 1);
    }
    builder->FlashBuild(SEARCHER_RAW);
    builder->FlashBuild(SEARCHER_LABEL_RAW);

    auto paths = sink.FilePaths();
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "/Disk(Label RAW Files)/Camera/CANON/FILE000.JPG",
                         "/Disk(Label RAW Files)/Camera/CANON/FILE001.JPG",
                         "/Disk(RAW Files)/doc/FILE001.DOC",
                         "/Disk(RAW Files)/doc/_.NET notes000.DOC",
                         "/Disk(RAW Files)/jpg/Beach002.JPG",
                         "/Disk(RAW Files)/pdf/Report000.PDF",
                     }));
    builder->Release();
}

}  // namespace
